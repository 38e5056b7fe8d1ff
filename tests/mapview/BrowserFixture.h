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

#include "tests/support/QStringPrinting.h"
#include "tests/support/QtWait.h"
#include "tests/support/RecordingListener.h"

namespace velmora::test {

/// The result of a script in the page's main world, waited for.
inline QVariant evaluate(QWebEnginePage* page, const QString& script)
{
    QVariant result;
    bool done = false;
    page->runJavaScript(script, QWebEngineScript::MainWorld, [&](const QVariant& value) {
        result = value;
        done = true;
    });
    EXPECT_TRUE(waitUntil([&] { return done; })) << script.toStdString();
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
        ASSERT_TRUE(waitUntil([&] { return m_host->isPageLoaded(); }));
    }

    QVariant evaluate(const QString& script) { return test::evaluate(m_host->getPage(), script); }

    RecordingListener m_listener;
    std::unique_ptr<QWidget> m_window;
    std::unique_ptr<CefClientV8Handler> m_extension;
    std::unique_ptr<CefClientHandler> m_host;
};

} // namespace velmora::test
