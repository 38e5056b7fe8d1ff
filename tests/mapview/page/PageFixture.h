#pragma once

// The real map page in the real engine for the page tests: commands go in as
// the console sends them (built by MapCommands), page calls come back through
// cef.extension to a recording listener, and the mouse goes in through the
// view's render widget like an operator's.
#include "mapview/CefClientV8Listener.h"
#include "mapview/MapCommands.h"
#include "mapview/PageDocumentView.h"
#include "tests/support/QStringPrinting.h"
#include "tests/support/RecordingListener.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPoint>
#include <QString>
#include <QStringList>
#include <QTest>
#include <QVariant>
#include <QWebEngineView>
#include <QWidget>

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace velmora::test {

inline std::string idOf(int n) {
    char text[64];
    std::snprintf(text, sizeof text, "{00000000-0000-4000-8000-%012d}", n);
    return text;
}

class PageTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_page = std::make_unique<PageDocumentView>(QStringLiteral(VELMORA_IMAGES_PARENT), QSize(1280, 800),
                                                    &m_listener);
        ASSERT_TRUE(m_page->waitLoaded()) << "the page did not load";
        ASSERT_EQ(eval("typeof initialize === 'function' && listBox !== null"), QVariant(true));
    }
    void TearDown() override { m_page.reset(); }

    QVariant eval(const QString& script) { return m_page->evaluate(script); }
    QString evalText(const QString& script) { return eval(script).toString(); }
    QString json(const QString& script) { return evalText("JSON.stringify(" + script + ")"); }
    void send(const QString& line) { m_page->execute(line); }
    void send(const QStringList& lines) {
        for (const QString& line : lines) {
            m_page->execute(line);
        }
    }

    void insert(int loaded, const std::string& id, const std::string& name, const char* lat = "37.4419",
                const char* lng = "-122.143") {
        MapCommands::Vehicle v;
        v.id = id;
        v.name = name;
        v.lastUpdatedTime = "2026-01-31 17:05:09";
        v.lastUpdatedLatitude = lat;
        v.lastUpdatedLongitude = lng;
        send(MapCommands::insertVehicle(loaded, v));
    }
    QString listOrder() { return json("listBox.order().map(function (id) { return listBox.vehicleName(id); })"); }
    int changeNameCalls() {
        m_page->evaluate("true"); // barrier: earlier calls have crossed
        PageDocumentView::pump(100);
        int n = 0;
        for (auto& c : m_listener.calls) {
            n += c.first == "onChangeName";
        }
        return n;
    }

    /// Runs the event loop until the listener got call, or the time-out.
    bool waitForCall(const RecordingListener::Call& call, int timeoutMs = 3000) {
        QElapsedTimer timer;
        timer.start();
        for (;;) {
            for (const auto& c : m_listener.calls) {
                if (c == call) {
                    return true;
                }
            }
            if (timer.elapsed() > timeoutMs) {
                return false;
            }
            PageDocumentView::pump(10);
        }
    }

    /// The arguments of the last call of function, "" when none came.
    std::string lastCall(const std::string& function, int timeoutMs = 3000) {
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < timeoutMs) {
            for (auto c = m_listener.calls.rbegin(); c != m_listener.calls.rend(); ++c) {
                if (c->first == function) {
                    return c->second;
                }
            }
            PageDocumentView::pump(10);
        }
        return std::string();
    }

    /// The widget the engine takes mouse input on.
    QWidget* renderWidget() { return m_page->getHost().getBrowserWindow()->focusProxy(); }

    /// The centre of the first element matching selector, in page (and
    /// render widget) coordinates; (-1, -1) when there is none or it has no
    /// size (not shown).
    QPoint centreOf(const QString& selector) {
        const QString rect = evalText(
            "(function () { var e = document.querySelector(" + quoted(selector) +
            "); if (!e) return '{}'; var r = e.getBoundingClientRect();"
            " return JSON.stringify({x: r.left + r.width / 2, y: r.top + r.height / 2, w: r.width, h: r.height}); })()");
        const QJsonObject box = QJsonDocument::fromJson(rect.toUtf8()).object();
        if (box.value("w").toDouble() <= 0 || box.value("h").toDouble() <= 0) {
            return QPoint(-1, -1);
        }
        return QPoint(static_cast<int>(box.value("x").toDouble()), static_cast<int>(box.value("y").toDouble()));
    }

    /// Presses and releases button over the element matching selector, then
    /// waits until the page has handled it. False when the element is not
    /// on screen or the page never saw the click.
    bool click(const QString& selector, Qt::MouseButton button = Qt::LeftButton) {
        // Images (the vehicle icons) take their size once loaded.
        QPoint at = centreOf(selector);
        for (int i = 0; i < 100 && at.x() < 0; ++i) {
            PageDocumentView::pump(20);
            at = centreOf(selector);
        }
        if (at.x() < 0) {
            return false;
        }
        // The release is the last event of a click: once the page has seen
        // it, every handler of the click has run.
        const int released = eval("window.__releases === undefined ? (window.__releases = 0,"
                                  " document.addEventListener('mouseup', function () { ++window.__releases; },"
                                  " true), 0) : window.__releases")
                                 .toInt();
        QWidget* target = renderWidget();
        QTest::mouseMove(target, at);
        QTest::mouseClick(target, button, Qt::NoModifier, at);
        QElapsedTimer timer;
        timer.start();
        while (eval("window.__releases").toInt() <= released) {
            if (timer.elapsed() > 5000) {
                return false;
            }
            PageDocumentView::pump(5);
        }
        return true;
    }

    /// Runs the event loop until script is true in the page, or the time-out.
    bool waitUntil(const QString& script, int timeoutMs = 5000) {
        QElapsedTimer timer;
        timer.start();
        while (eval(script) != QVariant(true)) {
            if (timer.elapsed() > timeoutMs) {
                return false;
            }
            PageDocumentView::pump(5);
        }
        return true;
    }

    /// Selectors of one vehicle's list entry and map icon.
    static QString entry(const std::string& id) { return "[id=" + quoted(QString::fromStdString(id)) + "]"; }
    static QString icon(const std::string& id) {
        return "img.VehicleIcon[data-vehicle=" + quoted(QString::fromStdString(id)) + "]";
    }

    static QString quoted(const QString& text) {
        return QString::fromUtf8(QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact)).mid(1).chopped(1);
    }

    RecordingListener m_listener;
    std::unique_ptr<PageDocumentView> m_page;
};

} // namespace velmora::test
