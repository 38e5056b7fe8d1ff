// Where the main window opens, for kept geometries against the screens there
// are now, and how setup.db keeps the window; no window needed.
#include "app/shell/WindowGeometry.h"
#include "app/shell/WindowPlacement.h"
#include "db/Setup.h"
#include "tests/support/GermanLocale.h"
#include "tests/support/QStringPrinting.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <optional>

using namespace velmora;

namespace {

const QSize MINIMUM(771, 557);
const WindowPlacement::Screen FULL_HD{QRect(0, 0, 1920, 1080), true};
// The desktop's panel takes the top 28 pixels.
const WindowPlacement::Screen PANELLED{QRect(0, 28, 1920, 1052), true};
const WindowPlacement::Screen SMALLEST{QRect(0, 0, 1024, 620), true};
// A second monitor right of the first, not the primary one.
const WindowPlacement::Screen RIGHT{QRect(1920, 0, 2560, 1440), false};

struct Row {
    const char* name;
    std::optional<QRect> kept;
    QList<WindowPlacement::Screen> screens;
    QRect expected;
};

} // namespace

TEST(WindowPlacement, KeptGeometriesAgainstTheScreensThereAreNow) {
    const Row rows[] = {
        {"first start: 85% of the free area, centred", std::nullopt, {FULL_HD}, QRect(144, 81, 1632, 918)},
        {"first start beside a panel", std::nullopt, {PANELLED}, QRect(144, 107, 1632, 894)},
        {"first start on the primary of two", std::nullopt, {{RIGHT.available, false}, {FULL_HD.available, true}},
         QRect(144, 81, 1632, 918)},
        {"first start on the smallest screen: never below the minimum", std::nullopt, {SMALLEST},
         QRect(77, 31, 870, 557)},
        {"kept on its screen: as it was", QRect(100, 60, 1200, 800), {FULL_HD}, QRect(100, 60, 1200, 800)},
        {"kept on the second monitor, still there", QRect(2200, 300, 1400, 900), {FULL_HD, RIGHT},
         QRect(2200, 300, 1400, 900)},
        {"kept on a monitor that is gone: centred on the primary", QRect(2200, 300, 1400, 900), {FULL_HD},
         QRect(260, 90, 1400, 900)},
        {"kept off every screen", QRect(-5000, -4000, 1000, 700), {FULL_HD}, QRect(460, 190, 1000, 700)},
        {"kept larger than its screen: shrunk onto it", QRect(-20, -10, 2500, 1400), {FULL_HD},
         QRect(0, 0, 1920, 1080)},
        {"kept partly off the right edge: moved on", QRect(1500, 500, 1000, 700), {FULL_HD},
         QRect(920, 380, 1000, 700)},
        {"kept mostly on the second monitor: stays there", QRect(1800, 100, 1000, 700), {FULL_HD, RIGHT},
         QRect(1920, 100, 1000, 700)},
        {"kept under the panel: moved below it", QRect(300, 0, 1000, 700), {PANELLED}, QRect(300, 28, 1000, 700)},
        {"kept smaller than the minimum: grown to it", QRect(100, 100, 300, 200), {FULL_HD},
         QRect(100, 100, 771, 557)},
        {"no screen at all", std::nullopt, {}, QRect(0, 0, 771, 557)},
    };
    const WindowPlacement placement(MINIMUM);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(placement.place(row.kept, row.screens), row.expected);
    }
}

TEST(WindowGeometry, TextRoundTripsAndDamagedTextIsNotTaken) {
    WindowGeometry kept;
    kept.normal = QRect(-1800, 81, 1632, 918);
    kept.maximised = true;
    kept.alarmWidth = 520;
    kept.alarmsFolded = true;
    {
        // The numbers are digits in every locale.
        test::GermanLocale german;
        EXPECT_EQ(kept.toText(), "-1800 81 1632 918 1 520 1");
    }
    EXPECT_EQ(WindowGeometry::fromText(kept.toText()), kept);
    EXPECT_EQ(WindowGeometry::fromText(" 10 20 800 600 0 0 0 "),
              (WindowGeometry{QRect(10, 20, 800, 600), false, 0, false}));
    const char* damaged[] = {
        "",
        "10 20 800 600 0 0",
        "10 20 800 600 0 0 0 9",
        "10 20 0 600 0 0 0",
        "10 20 800 -600 0 0 0",
        "10 20 800 600 2 0 0",
        "10 20 800 600 0 -5 0",
        "10 20 800 600 0 0 x",
        "10,5 20 800 600 0 0 0",
        "10 20 800 600000 0 0 0",
        "99999999999 20 800 600 0 0 0",
    };
    for (const char* text : damaged) {
        EXPECT_EQ(WindowGeometry::fromText(text), std::nullopt) << text;
    }
}

TEST(WindowGeometry, SetupKeepsTheLastOne) {
    test::TempDir dir;
    velmora::Setup& setup = velmora::Setup::getInstance();
    setup.open(dir.file("setup.db").c_str());
    EXPECT_EQ(WindowGeometry::load(setup), std::nullopt) << "a first start";
    WindowGeometry first{QRect(1, 2, 900, 700), false, 300, false};
    WindowGeometry second{QRect(3, 4, 1000, 800), true, 0, true};
    first.store(setup);
    second.store(setup);
    setup.close();
    setup.open(dir.file("setup.db").c_str());
    EXPECT_EQ(WindowGeometry::load(setup), second);
    setup.close();
    EXPECT_EQ(WindowGeometry::load(setup), std::nullopt) << "no settings file";
}
