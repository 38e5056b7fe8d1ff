#include "tests/mapview/BrowserFixture.h"

#include "mapview/MapCommands.h"

#include <QHelpEvent>
#include <QPointer>
#include <QToolTip>
#include <QWebEngineView>

#include <thread>

namespace velmora::test {
namespace {

using CefClientHandlerTest = BrowserFixture;

const char* const ID = "0b1e4c0e-9a43-4a8e-9d6b-2f6c1e0d7a11";

int receivedCount(BrowserFixture& f, QWebEnginePage* page)
{
    (void)f;
    return evaluate(page, QStringLiteral("received.length")).toInt();
}

TEST_F(CefClientHandlerTest, CommandsBeforeLoadAreDroppedAfterLoadRunInOrder)
{
    m_host->setPageDocument(testPageDocument());
    // Before the view exists and while the document is still loading.
    m_host->execute(MapCommands::resetTimeout(1));
    m_host->createBrowser(m_window.get());
    m_host->execute(MapCommands::resetTimeout(2));
    ASSERT_FALSE(m_host->isPageLoaded());
    ASSERT_TRUE(waitUntil([&] { return m_host->isPageLoaded(); }));
    EXPECT_EQ(m_listener.lines(), std::vector<std::string>{"onPageLoaded"});

    for (int i = 3; i <= 7; ++i)
        m_host->execute(MapCommands::resetTimeout(i));
    ASSERT_TRUE(waitUntil([&] { return receivedCount(*this, m_host->getPage()) == 5; }));
    EXPECT_EQ(evaluate(QStringLiteral("received.map(function (r) { return r[1]; }).join(',')")).toString(),
              QStringLiteral("3,4,5,6,7"));
}

TEST_F(CefClientHandlerTest, BaseAddressIsTheApplicationDirectory)
{
    m_host->setApplicationDirectory(QStringLiteral("/opt/velmora"));
    load(testPageDocument());
    EXPECT_EQ(m_host->getPage()->url().toString(), QStringLiteral("file:///opt/velmora/Velmora.exe"));
    EXPECT_EQ(evaluate(QStringLiteral("new URL('images/a.png', document.baseURI).href")).toString(),
              QStringLiteral("file:///opt/velmora/images/a.png"));
}

TEST_F(CefClientHandlerTest, CommandsFromAnotherThreadRunOnTheGuiThreadInOrder)
{
    load(testPageDocument());
    std::thread sender([this] {
        for (int i = 0; i < 20; ++i)
            m_host->execute(MapCommands::resetTimeout(i));
    });
    sender.join();
    ASSERT_TRUE(waitUntil([&] { return receivedCount(*this, m_host->getPage()) == 20; }));
    EXPECT_EQ(evaluate(QStringLiteral("received.every(function (r, i) { return r[1] === i; })")).toBool(), true);
}

TEST_F(CefClientHandlerTest, DeviceTextArrivesAsTheSameTextAndRunsNothing)
{
    load(testPageDocument());
    const std::string names[] = {
        "line\nbreak",
        "</script><script>window.injected = 1;</script>",
        "<img src=x onerror=\"window.injected = 1\">",
        "O'Brien\\Co",
        "'); window.injected = 1; ('",
        "tab\tls\xe2\x80\xa8ps\xe2\x80\xa9 \xed\x95\x9c",
        "\\'); window.injected = 1; //",
    };
    for (const std::string& name : names)
        m_host->execute(MapCommands::updateVehicle("1.0", "2.0", ID, name, "2026-01-31 17:05:09"));
    const int count = static_cast<int>(std::size(names));
    ASSERT_TRUE(waitUntil([&] { return receivedCount(*this, m_host->getPage()) == count; }));
    QApplication::processEvents();
    const QVariantList received = evaluate(QStringLiteral("received.map(function (r) { return r[4]; })")).toList();
    ASSERT_EQ(received.size(), count);
    for (int i = 0; i < count; ++i)
        EXPECT_EQ(received[i].toString().toStdString(), names[i]);
    // The same texts in the document, as text.
    const QVariantList shown = evaluate(QStringLiteral(
        "Array.prototype.map.call(document.querySelectorAll('#log li'), function (li) { return li.textContent; })"))
                                   .toList();
    EXPECT_TRUE(shown.contains(QString::fromStdString(names[1])));
    EXPECT_EQ(evaluate(QStringLiteral("typeof window.injected")).toString(), QStringLiteral("undefined"));
    EXPECT_EQ(evaluate(QStringLiteral("document.querySelectorAll('img, #log script').length")).toInt(), 0);
}

TEST_F(CefClientHandlerTest, InsertVehicleWithFlagOneReachesThePageAsThreeCalls)
{
    load(testPageDocument());
    MapCommands::Vehicle v;
    v.id = ID;
    v.name = "Bus";
    v.lastUpdatedLatitude = "1.5";
    v.lastUpdatedLongitude = "2.5";
    v.lastUpdatedTime = "2026-01-31 17:05:09";
    v.imagePath = "images\\Bob's truck.png";
    v.info1 = "a";
    m_host->execute(MapCommands::insertVehicle(1, v));
    ASSERT_TRUE(waitUntil([&] { return receivedCount(*this, m_host->getPage()) == 3; }));
    EXPECT_EQ(evaluate(QStringLiteral("received.map(function (r) { return r[0]; }).join(',')")).toString(),
              QStringLiteral("insertVehicle,insertOptionalInfo,insertUserDefinedInfo"));
    EXPECT_EQ(evaluate(QStringLiteral("received[0][1]")).toInt(), 1);
    EXPECT_EQ(evaluate(QStringLiteral("received[2][2]")).toString(), QStringLiteral("images/Bob's truck.png"));
}

TEST_F(CefClientHandlerTest, PopupsAreNotAdopted)
{
    load(testPageDocument());
    QWebEnginePage* page = m_host->getPage();
    QWebEngineView* view = m_host->getBrowserWindow();
    evaluate(QStringLiteral("window.popup = window.open('about:blank', '_blank'); 0"));
    waitUntil([] { return false; }, 300);
    EXPECT_EQ(evaluate(QStringLiteral("String(window.popup === null || window.popup.closed)")).toString(), QStringLiteral("true"));
    EXPECT_EQ(m_host->getPage(), page);
    EXPECT_EQ(m_host->getBrowserWindow(), view);
    EXPECT_EQ(page->url(), CefClientHandler::baseUrl(QDir::currentPath()));
}

TEST_F(CefClientHandlerTest, NoBuiltInContextMenuOrTooltip)
{
    load(testPageDocument());
    QWebEngineView* view = m_host->getBrowserWindow();
    EXPECT_EQ(view->contextMenuPolicy(), Qt::PreventContextMenu);
    // What the engine does for a title attribute: set the view's tooltip;
    // the help event that would show it must go nowhere.
    m_window->show();
    view->setToolTip(QStringLiteral("native tooltip"));
    QHelpEvent help(QEvent::ToolTip, QPoint(10, 10), view->mapToGlobal(QPoint(10, 10)));
    QApplication::sendEvent(view, &help);
    for (QWidget* child : view->findChildren<QWidget*>()) {
        QHelpEvent childHelp(QEvent::ToolTip, QPoint(5, 5), child->mapToGlobal(QPoint(5, 5)));
        QApplication::sendEvent(child, &childHelp);
    }
    QApplication::processEvents();
    EXPECT_FALSE(QToolTip::isVisible());
}

TEST_F(CefClientHandlerTest, AfterTheViewIsGoneNothingRuns)
{
    load(testPageDocument());
    // A line that, wherever it ran, would reach the console.
    const QString command = QStringLiteral("cef.extension.onClickLog();");
    const std::vector<std::string> expected{"onPageLoaded", "onClickLog"};
    m_host->execute(command);
    ASSERT_TRUE(waitUntil([&] { return m_listener.calls.size() == expected.size(); }));
    ASSERT_EQ(m_listener.lines(), expected);

    QPointer<QWebEnginePage> page = m_host->getPage();
    delete m_host->getBrowserWindow();
    EXPECT_EQ(m_host->getBrowserWindow(), nullptr);
    EXPECT_EQ(m_host->getPage(), nullptr);
    EXPECT_TRUE(page.isNull()) << "the page outlived its view";
    m_host->execute(command);
    std::thread sender([this, &command] { m_host->execute(command); });
    sender.join();
    waitUntil([] { return false; }, 300);
    EXPECT_EQ(m_listener.lines(), expected);
}

TEST_F(CefClientHandlerTest, ListenerToldOnceAcrossReloads)
{
    load(testPageDocument());
    bool reloaded = false;
    QObject::connect(m_host->getPage(), &QWebEnginePage::loadFinished, [&](bool) { reloaded = true; });
    m_host->getPage()->triggerAction(QWebEnginePage::Reload);
    ASSERT_TRUE(waitUntil([&] { return reloaded; }));
    EXPECT_EQ(m_listener.lines(), std::vector<std::string>{"onPageLoaded"});
}

} // namespace
} // namespace velmora::test
