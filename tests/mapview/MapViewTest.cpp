#include "mapview/MapCommands.h"
#include "mapview/MapView.h"

#include "db/AbstractSetup.h"
#include "tests/support/GermanLocale.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>
#include <string>

namespace velmora::test {
namespace {

TEST(MapViewTest, TextOfAViewReadsBackAndAnythingElseIsNoView)
{
    struct Row {
        const char* text;
        std::optional<MapView> view;
    };
    const Row rows[] = {
        {"47.376900 8.541700 12", MapView{47.3769, 8.5417, 12}},
        {"  -33.9\t151.2  5 ", MapView{-33.9, 151.2, 5}},
        {"0 0 0", MapView{0, 0, 0}},
        {"85.0511 -180 18", MapView{85.0511, -180, 18}},
        {"", std::nullopt},
        {"47.37 8.54", std::nullopt},
        {"47.37 8.54 12 3", std::nullopt},
        {"47,37 8,54 12", std::nullopt},
        {"47.37 8.54 12.5", std::nullopt},
        {"85.06 8.54 12", std::nullopt},   // past the map's square world
        {"47.37 180.5 12", std::nullopt},
        {"47.37 8.54 19", std::nullopt},
        {"47.37 8.54 -1", std::nullopt},
        {"nan 8.54 12", std::nullopt},
        {"inf 8.54 12", std::nullopt},
        {"47.37x 8.54 12", std::nullopt},
    };
    for (const Row& row : rows) {
        const std::optional<MapView> view = MapView::fromText(row.text);
        ASSERT_EQ(view.has_value(), row.view.has_value()) << '"' << row.text << '"';
        if (view) {
            EXPECT_DOUBLE_EQ(view->latitude, row.view->latitude) << row.text;
            EXPECT_DOUBLE_EQ(view->longitude, row.view->longitude) << row.text;
            EXPECT_EQ(view->zoom, row.view->zoom) << row.text;
        }
    }
}

TEST(MapViewTest, TextAndCommandKeepTheDotUnderAGermanLocale)
{
    GermanLocale german;
    ASSERT_TRUE(german.isActive()) << german.why();
    const MapView zurich{47.3769, 8.5417, 12};
    EXPECT_EQ(zurich.toText(), "47.376900 8.541700 12");
    EXPECT_EQ(MapView::fromText(zurich.toText()), zurich);
    EXPECT_EQ(MapCommands::setMapView(MapView{-33.8688, 151.2093, 9}),
              QStringLiteral("setMapView(-33.868800, 151.209300, 9);"));
    EXPECT_EQ(MapCommands::fitFleet(), QStringLiteral("fitFleet();"));
}

class ScratchSetup : public AbstractSetup {
protected:
    void writeDefaults(SetupDatabase&) override {}
    void onOpened(SetupDatabase&) override {}
};

TEST(MapViewTest, KeptViewComesBackFromTheSettingsFile)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string path = dir.filePath(QStringLiteral("setup.db")).toStdString();
    {
        ScratchSetup setup;
        setup.open(path.c_str());
        EXPECT_EQ(MapView::load(setup), std::nullopt) << "a new file keeps no view";
        MapView{47.3769, 8.5417, 12}.store(setup);
        MapView{46.2044, 6.1432, 11}.store(setup);
        setup.close();
    }
    ScratchSetup setup;
    setup.open(path.c_str());
    EXPECT_EQ(MapView::load(setup), (MapView{46.2044, 6.1432, 11}));
    // A kept text the map cannot show is no view: the start fits the fleet.
    setup.getDatabase().setString(MapView::KEY, "91 8.5 12");
    EXPECT_EQ(MapView::load(setup), std::nullopt);
    setup.close();
    EXPECT_EQ(MapView::load(setup), std::nullopt) << "a closed file reads as none, without a throw";
}

} // namespace
} // namespace velmora::test
