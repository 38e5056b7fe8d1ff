#pragma once

#include "mapview/CefClientHandler.h"
#include "mapview/CefClientListener.h"
#include "mapview/CefClientV8Handler.h"
#include "mapview/CefClientV8Listener.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>
#include <QVariant>
#include <QWebEnginePage>
#include <QWebEngineScript>
#include <QDir>
#include <QWidget>
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <ostream>

/// Readable QString values in failure messages.
inline void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}

namespace velmora::test {

/// Records both listener faces as text lines, and whether every call came
/// on the GUI thread.
class RecordingListener : public CefClientListener, public CefClientV8Listener {
public:
    void onPageLoaded() override { add("onPageLoaded"); }
    void onClickLog() override { add("onClickLog"); }
    void onClickSetup() override { add("onClickSetup"); }
    void onClickEdit(const std::string& id) override { add("onClickEdit(" + id + ")"); }
    void onClickRemove(const std::string& id) override { add("onClickRemove(" + id + ")"); }
    void onChangeName(const std::string& id, const std::string& name) override
    {
        add("onChangeName(" + id + "|" + name + ")");
    }
    bool onUpdateOptionalInfo(const std::string& id, const std::string& path, const std::string& info1,
                              const std::string& info2) override
    {
        add("onUpdateOptionalInfo(" + id + "|" + path + "|" + info1 + "|" + info2 + ")");
        return true;
    }
    void onClickImgBtn(const std::string& id) override { add("onClickImgBtn(" + id + ")"); }
    void onClickTrackingLine(const std::string& id) override { add("onClickTrackingLine(" + id + ")"); }
    void onMapViewChanged(const MapView& view) override { add("onMapViewChanged(" + view.toText() + ")"); }

    std::vector<std::string> calls;
    bool offGuiThread = false;

private:
    void add(const std::string& call)
    {
        if (QThread::currentThread() != QApplication::instance()->thread())
            offGuiThread = true;
        calls.push_back(call);
    }
};

/// Spins the event loop until done() or the time-out; true when done.
inline bool waitFor(const std::function<bool()>& done, int timeoutMs = 15000)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

/// The result of a script in the page's main world, waited for.
inline QVariant evaluate(QWebEnginePage* page, const QString& script)
{
    QVariant result;
    bool done = false;
    page->runJavaScript(script, QWebEngineScript::MainWorld, [&](const QVariant& value) {
        result = value;
        done = true;
    });
    EXPECT_TRUE(waitFor([&] { return done; })) << script.toStdString();
    return result;
}

inline QString testPageDocument()
{
    QFile file(QStringLiteral(":/testpage/testpage.html"));
    EXPECT_TRUE(file.open(QIODevice::ReadOnly));
    return QString::fromUtf8(file.readAll());
}

/// A host with its extension and a window, loading a document.
class BrowserFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_window = std::make_unique<QWidget>();
        m_window->resize(800, 600);
        m_extension = std::make_unique<CefClientV8Handler>(&m_listener);
        m_host = std::make_unique<CefClientHandler>();
        m_host->setListener(&m_listener);
        m_host->registerExtension(m_extension.get());
    }

    void TearDown() override
    {
        m_window.reset();
        m_host.reset();
        m_extension.reset();
    }

    /// Creates the view on document and waits for the load.
    void load(const QString& document)
    {
        m_host->setPageDocument(document);
        m_host->createBrowser(m_window.get());
        ASSERT_TRUE(waitFor([&] { return m_host->isPageLoaded(); }));
    }

    QVariant evaluate(const QString& script) { return test::evaluate(m_host->getPage(), script); }

    RecordingListener m_listener;
    std::unique_ptr<QWidget> m_window;
    std::unique_ptr<CefClientV8Handler> m_extension;
    std::unique_ptr<CefClientHandler> m_host;
};

} // namespace velmora::test
