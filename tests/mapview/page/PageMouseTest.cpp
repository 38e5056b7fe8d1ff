// The page's mouse wiring as an operator meets it: presses and releases go
// into the view's render widget at the element's place on screen, and what
// arrives is what the console would get (a cef.extension call through the
// web channel) or what the operator would see.
#include "tests/mapview/page/PageFixture.h"

#include <QApplication>

#include <functional>

namespace {

using velmora::MapCommands;
using velmora::PageDocumentView;
using velmora::test::idOf;
using velmora::test::PageTest;
using velmora::test::RecordingListener;

class PageMouseTest : public PageTest {
protected:
    QString entry(int n) { return PageTest::entry(idOf(n)); }

    /// Opens the select's drop-down with a click and clicks option index
    /// (of count) in it. False when no drop-down appeared.
    bool chooseOption(const QString& selector, int index, int count) {
        const QWidgetList before = QApplication::topLevelWidgets();
        if (!click(selector)) {
            return false;
        }
        QWidget* dropDown = nullptr;
        for (int i = 0; i < 300 && dropDown == nullptr; ++i) {
            PageDocumentView::pump(10);
            for (QWidget* w : QApplication::topLevelWidgets()) {
                if (!before.contains(w) && w->isVisible() && w->height() > 0) {
                    dropDown = w;
                }
            }
        }
        if (dropDown == nullptr) {
            return false;
        }
        const QPoint at(dropDown->width() / 2, dropDown->height() * (2 * index + 1) / (2 * count));
        QTest::mouseMove(dropDown, at);
        QTest::mouseClick(dropDown, Qt::LeftButton, Qt::NoModifier, at);
        // The page changes the map in the same task that takes the choice.
        return waitUntil("document.querySelector(" + quoted(selector) + ").selectedIndex === " +
                         QString::number(index));
    }

    /// The calls that arrived, counted, once a later left click's call is in:
    /// input reaches the page in order, so whatever earlier clicks caused
    /// has crossed by then.
    int callsAfter(const RecordingListener::Call& call) {
        int n = 0;
        for (const auto& c : m_listener.calls) {
            n += c == call;
        }
        return n;
    }
};

TEST_F(PageMouseTest, SetupAndLogButtonsCallTheConsoleOnTheLeftButtonOnly) {
    struct Row {
        const char* button;
        const char* call;
    };
    const Row rows[] = {
        {"#SetupButton", "onClickSetup"},
        {"#LogButton", "onClickLog"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.button);
        m_listener.calls.clear();
        ASSERT_TRUE(click(row.button, Qt::RightButton));
        ASSERT_TRUE(click(row.button, Qt::MiddleButton));
        ASSERT_TRUE(click(row.button, Qt::LeftButton));
        ASSERT_TRUE(waitForCall({row.call, ""}));
        PageDocumentView::pump(50);
        EXPECT_EQ(callsAfter({row.call, ""}), 1);
        EXPECT_EQ(m_listener.calls.size(), 1u);
    }
}

// Right-clicking an entry selects it and opens the menu at the mouse; the
// line clicked asks the console about that vehicle, not the one before.
TEST_F(PageMouseTest, VehicleMenuAsksTheConsoleAboutTheRightClickedVehicle) {
    for (int n = 1; n <= 3; ++n) {
        insert(1, idOf(n), "Unit " + std::to_string(n), "", "");
    }
    struct Row {
        int vehicle;
        const char* item;
        const char* call;
    };
    const Row rows[] = {
        {2, "edit", "onClickEdit"},
        {3, "remove", "onClickRemove"},
        {1, "edit", "onClickEdit"},
        {2, "delete", "onClickDelete"},
    };
    for (const Row& row : rows) {
        const QString id = QString::fromStdString(idOf(row.vehicle));
        SCOPED_TRACE(std::string(row.item) + " on vehicle " + std::to_string(row.vehicle));
        m_listener.calls.clear();
        const QPoint at = centreOf(entry(row.vehicle));
        ASSERT_TRUE(click(entry(row.vehicle), Qt::RightButton));
        EXPECT_EQ(json("[vehicleContextMenu.isVisible(), vehicleContextMenu.block.offsetLeft, "
                       "vehicleContextMenu.block.offsetTop]"),
                  QString("[true,%1,%2]").arg(at.x()).arg(at.y()));
        EXPECT_EQ(evalText("global.currentVehicle"), id);
        EXPECT_EQ(evalText("listBox.item('" + id + "').className"), "ListItem selected");
        ASSERT_TRUE(click(QString("#VehicleContextMenu [data-item=%1]").arg(row.item)));
        EXPECT_TRUE(waitForCall({row.call, idOf(row.vehicle)}));
        EXPECT_EQ(m_listener.calls.size(), 1u);
        EXPECT_EQ(eval("vehicleContextMenu.isVisible() || global.tooltipEnabled"), QVariant(false));
        send(MapCommands::enableTooltip());
    }
    // Any other press in the page closes the menu and asks nothing.
    m_listener.calls.clear();
    ASSERT_TRUE(click(entry(1), Qt::RightButton));
    ASSERT_TRUE(click("#map"));
    EXPECT_EQ(eval("vehicleContextMenu.isVisible()"), QVariant(false));
    ASSERT_TRUE(click("#LogButton"));
    ASSERT_TRUE(waitForCall({"onClickLog", ""}));
    EXPECT_EQ(m_listener.calls.size(), 1u);
}

// "Tracking Line" asks the console once per click, for exactly the vehicle
// whose menu it is, whatever its id looks like. A vehicle removed while its
// menu was open is not asked about: the console would answer nothing, and
// nothing would switch the list tooltips back on.
TEST_F(PageMouseTest, TrackingLineAsksOncePerClickForTheMenusVehicle) {
    const std::string odd = "{it's a \"quoted\" \\ id}";
    insert(1, idOf(1), "First", "", "");
    insert(1, odd, "Odd", "", "");
    EXPECT_EQ(json("Array.prototype.map.call(document.querySelectorAll('#VehicleContextMenu div'),"
                   " function (d) { return d.textContent; })"),
              R"(["Edit","Remove","Tracking Line","Delete"])");
    struct Row {
        const char* what;
        std::string id;
        bool removedMeanwhile;
        int asked;
    };
    const Row rows[] = {
        {"a vehicle", idOf(1), false, 1},
        {"an id with quotes and a backslash", odd, false, 1},
        {"the first vehicle again", idOf(1), false, 1},
        {"a vehicle removed while its menu is open", odd, true, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        m_listener.calls.clear();
        ASSERT_TRUE(click(PageTest::entry(row.id), Qt::RightButton));
        if (row.removedMeanwhile) {
            send(MapCommands::deleteVehicle(row.id));
        }
        ASSERT_TRUE(click("#VehicleContextMenu [data-item=tracking]"));
        EXPECT_EQ(eval("global.tooltipEnabled").toBool(), row.asked == 0);
        // A later click's call in: whatever the menu line caused has crossed.
        ASSERT_TRUE(click("#LogButton"));
        ASSERT_TRUE(waitForCall({"onClickLog", ""}));
        int asked = 0, askedForOthers = 0;
        for (const auto& c : m_listener.calls) {
            if (c.first == "onClickTrackingLine") {
                ++(c.second == row.id ? asked : askedForOthers);
            }
        }
        EXPECT_EQ(asked, row.asked);
        EXPECT_EQ(askedForOthers, 0);
        send(MapCommands::enableTooltip());
    }
}

// Each step is one operator action; the state line is what the page shows
// afterwards. Steps run in order on one page.
TEST_F(PageMouseTest, ToolbarListAndEventListFollowTheMouse) {
    insert(1, idOf(1), "Tracked");
    QStringList track;
    for (int i = 1; i <= 5; ++i) {
        track << MapCommands::moveTo(37.4419 + i * 0.001, -122.143, 5, 0, 0, 0, 0, idOf(1));
    }
    send(track);
    auto event = [this] { send(MapCommands::updateEventInfo(1, "Tracked", "2026-01-31 17:05:09", "cam", idOf(1))); };
    auto clickOn = [this](const char* selector, Qt::MouseButton button = Qt::LeftButton) {
        return [this, selector, button] { ASSERT_TRUE(click(selector, button)) << selector; };
    };
    const QString events = "[document.getElementById('EventPopup').style.display, eventPopup.lineCount(), "
                           "document.getElementById('EventPopup').style.height]";
    const QString list = "['ListHeader', 'LeftColumn', 'ShowListButton'].map(function (id) { "
                         "return getComputedStyle(document.getElementById(id)).display; })"
                         ".concat(document.getElementById('map').offsetWidth)";
    const QString tracking = "[global.trackingLine, map.hasLayer(trackLine), "
                             "document.getElementById('TrackingButton').getAttribute('src')]";
    const QString mapType = "[baseMap.type, document.getElementById('map').classList.contains('dark'), "
                            "document.getElementById('MapType').value]";
    struct Step {
        const char* action;
        std::function<void()> act;
        QString state;
        const char* expected;
    };
    const Step steps[] = {
        {"ten events", [&] { for (int i = 0; i < 10; ++i) event(); }, events, R"(["block",10,"182px"])"},
        {"right button on the event list's close", clickOn("#EventPopup .CloseRow img", Qt::RightButton), events,
         R"(["block",10,"182px"])"},
        {"event list's close", clickOn("#EventPopup .CloseRow img"), events, R"(["none",0,"150px"])"},
        {"the next event", event, events, R"(["block",1,"150px"])"},
        {"right button on Hide List", clickOn("#HideListButton", Qt::RightButton), list,
         R"(["block","block","none",1080])"},
        {"Hide List", clickOn("#HideListButton"), list, R"(["none","none","block",1280])"},
        {"Show List", clickOn("#ShowListButton"), list, R"(["block","block","none",1080])"},
        {"select the vehicle", [&] { ASSERT_TRUE(click(entry(1))); }, tracking,
         R"([true,true,"images/trackingline_clicked.png"])"},
        {"tracking off", clickOn("#TrackingButton"), tracking,
         R"([false,false,"images/trackingline_mover_normal.png"])"},
        {"right button on tracking", clickOn("#TrackingButton", Qt::RightButton), tracking,
         R"([false,false,"images/trackingline_mover_normal.png"])"},
        {"tracking on", clickOn("#TrackingButton"), tracking, R"([true,true,"images/trackingline_mover.png"])"},
        {"choose Satellite", [&] { ASSERT_TRUE(chooseOption("#MapType", 1, 2)); }, mapType,
         R"(["satellite",true,"satellite"])"},
        {"choose Map", [&] { ASSERT_TRUE(chooseOption("#MapType", 0, 2)); }, mapType, R"(["map",false,"map"])"},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.action);
        step.act();
        EXPECT_EQ(json(step.state), step.expected);
    }
    EXPECT_EQ(eval("trackLine.getLatLngs().length").toInt(), 6);
}

// The entry's event icon tells the operator what happened last; choosing
// the vehicle must not take that away.
TEST_F(PageMouseTest, EventIconStaysWhetherOrNotTheEntryIsSelected) {
    insert(1, idOf(1), "Alarm");
    insert(1, idOf(2), "Calm");
    const QString icons =
        "[1, 2].map(function (n) { var e = listBox.item(['" + QString::fromStdString(idOf(1)) + "', '" +
        QString::fromStdString(idOf(2)) +
        "'][n - 1]).eventIcon; return e.offsetWidth > 0 ? e.getAttribute('src') : 'hidden'; })";
    struct Step {
        const char* action;
        std::function<void()> act;
        const char* expected;
    };
    const Step steps[] = {
        {"no event yet", [] {}, R"(["hidden","hidden"])"},
        {"an event", [&] { send(MapCommands::updateEventInfo(13, "Alarm", "t", " ", idOf(1))); },
         R"(["images/icon_emergency.png","hidden"])"},
        {"select it", [&] { ASSERT_TRUE(click(entry(1))); }, R"(["images/icon_emergency.png","hidden"])"},
        {"an event while selected", [&] { send(MapCommands::updateEventInfo(2, "Alarm", "t", " ", idOf(1))); },
         R"(["images/icon_videoloss.png","hidden"])"},
        {"select the other", [&] { ASSERT_TRUE(click(entry(2))); }, R"(["images/icon_videoloss.png","hidden"])"},
        {"an event of unknown kind", [&] { send(MapCommands::updateEventInfo(99, "Alarm", "t", " ", idOf(1))); },
         R"(["images/icon_videoloss.png","hidden"])"},
        {"select it again", [&] { ASSERT_TRUE(click(entry(1))); }, R"(["images/icon_videoloss.png","hidden"])"},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.action);
        step.act();
        EXPECT_EQ(json(icons), step.expected);
    }
}

} // namespace
