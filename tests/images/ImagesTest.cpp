// The page's pictures as the build leaves them in <build>/images: every name
// the page refers to exists, has the size the manifest promises and shows
// something.

#include "tests/images/ImageManifest.h"

#include <QColor>
#include <QImage>
#include <QString>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>

namespace velmora {
namespace {

const std::vector<ImageEntry>& manifest()
{
    static const std::vector<ImageEntry> entries = readImageManifest(VELMORA_IMAGES_MANIFEST);
    return entries;
}

QImage loadRendered(const std::string& name)
{
    const std::string path = std::string(VELMORA_IMAGES_DIR) + "/" + name;
    return QImage(QString::fromStdString(path)).convertToFormat(QImage::Format_ARGB32);
}

// Channels are compared un-premultiplied, with a little slack so that
// gradient steps alone do not count as content.
bool differs(QRgb a, QRgb b)
{
    constexpr int kSlack = 8;
    return std::abs(qAlpha(a) - qAlpha(b)) > kSlack ||
           (qAlpha(a) > kSlack && qAlpha(b) > kSlack &&
            (std::abs(qRed(a) - qRed(b)) > kSlack || std::abs(qGreen(a) - qGreen(b)) > kSlack ||
             std::abs(qBlue(a) - qBlue(b)) > kSlack));
}

int pixelsDifferingFromCorner(const QImage& image)
{
    const QRgb corner = image.pixel(0, 0);
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            count += differs(image.pixel(x, y), corner) ? 1 : 0;
    return count;
}

std::string readText(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The page names its pictures fixed; a renamed or missing one is a broken
// picture on screen. This is the page's list, spaces included.
const std::set<std::string> kPageImageNames = {
    "contextmenu_close_mover.png", "contextmenu_close_normal.png", "eventpopup_close_mover.png",
    "eventpopup_close_normal.png", "icon_add.png", "icon_diskbad.png", "icon_diskfull.png",
    "icon_disktemperature.png", "icon_emergency.png", "icon_fanfailure.png", "icon_gsensor.png",
    "icon_motion.png", "icon_record bad.png", "icon_sensor.png", "icon_textin.png", "icon_timeout.png",
    "icon_videoloss.png", "icon_white.png", "info_BG_1.png", "info_carnumber.png", "info_company.png",
    "info_more_down.png", "info_more_up.png", "info_title icon.png", "info_user.png", "line.png",
    "list_off_mover.png", "list_off_normal.png", "list_on_mover.png", "list_on_normal.png",
    "list_toolbar_bg.png", "log_mover.png", "log_normal.png", "point_normal.png", "point_select.png",
    "setup_mover.png", "setup_normal.png", "toolbar_bg.png", "trackingline_clicked.png",
    "trackingline_mover.png", "trackingline_mover_normal.png", "trackingline_normal.png",
    "user_blank.png",
};

TEST(ImagesTest, ManifestListsExactlyThePageImagesOnce)
{
    std::map<std::string, int> seen;
    for (const ImageEntry& entry : manifest())
        ++seen[entry.name];
    for (const auto& [name, count] : seen) {
        EXPECT_EQ(count, 1) << name << " is listed more than once";
        EXPECT_TRUE(kPageImageNames.count(name)) << name << " is not a picture the page uses";
    }
    for (const std::string& name : kPageImageNames)
        EXPECT_TRUE(seen.count(name)) << name << " is missing from the manifest";
    EXPECT_EQ(kPageImageNames.size(), 43u);
}

TEST(ImagesTest, EveryImageIsRenderedAtItsSizeAndShowsSomething)
{
    ASSERT_FALSE(manifest().empty());
    for (const ImageEntry& entry : manifest()) {
        SCOPED_TRACE(entry.name);
        const QImage image = loadRendered(entry.name);
        ASSERT_FALSE(image.isNull()) << "not rendered or not a readable PNG";
        EXPECT_EQ(image.width(), entry.width);
        EXPECT_EQ(image.height(), entry.height);
        const int differing = pixelsDifferingFromCorner(image);
        if (entry.blank) {
            EXPECT_EQ(differing, 0) << "a placeholder must show nothing";
        } else {
            // At least a twentieth of the picture, and never fewer than a few
            // pixels, must stand out from its background.
            const int needed = std::max(4, image.width() * image.height() / 20);
            EXPECT_GE(differing, needed) << "looks blank";
        }
    }
}

// Pairs of pictures that stand for two states of one button must look
// different, or the operator sees no reaction under the mouse.
TEST(ImagesTest, ButtonStatesAreDistinct)
{
    const std::vector<std::pair<std::string, std::string>> pairs = {
        {"list_off_normal.png", "list_off_mover.png"},
        {"list_on_normal.png", "list_on_mover.png"},
        {"list_on_normal.png", "list_off_normal.png"},
        {"setup_normal.png", "setup_mover.png"},
        {"log_normal.png", "log_mover.png"},
        {"trackingline_normal.png", "trackingline_mover_normal.png"},
        {"trackingline_normal.png", "trackingline_clicked.png"},
        {"trackingline_clicked.png", "trackingline_mover.png"},
        {"trackingline_mover.png", "trackingline_mover_normal.png"},
        {"contextmenu_close_normal.png", "contextmenu_close_mover.png"},
        {"eventpopup_close_normal.png", "eventpopup_close_mover.png"},
        {"info_more_down.png", "info_more_up.png"},
        {"point_normal.png", "point_select.png"},
    };
    for (const auto& [first, second] : pairs) {
        SCOPED_TRACE(first + " / " + second);
        const QImage a = loadRendered(first);
        const QImage b = loadRendered(second);
        ASSERT_FALSE(a.isNull());
        ASSERT_EQ(a.size(), b.size());
        int differing = 0;
        for (int y = 0; y < a.height(); ++y)
            for (int x = 0; x < a.width(); ++x)
                differing += differs(a.pixel(x, y), b.pixel(x, y)) ? 1 : 0;
        EXPECT_GE(differing, a.width() * a.height() / 20);
    }
}

// Every "images/....png" written in the page's sources must be one the build
// draws; otherwise the page shows a broken picture.
TEST(ImagesTest, EveryImageThePageNamesIsDrawn)
{
    std::set<std::string> drawn;
    for (const ImageEntry& entry : manifest())
        drawn.insert(entry.name);

    static const std::regex reference(R"(images/([^"'()<>\n]+?\.png))");
    std::set<std::string> referenced;
    const std::filesystem::path pageDir(VELMORA_PAGE_DIR);
    for (const auto& item : std::filesystem::recursive_directory_iterator(pageDir)) {
        const std::string extension = item.path().extension().string();
        if (!item.is_regular_file() || (extension != ".html" && extension != ".js" && extension != ".css"))
            continue;
        const std::string text = readText(item.path());
        for (std::sregex_iterator it(text.begin(), text.end(), reference), end; it != end; ++it) {
            const std::string name = (*it)[1].str();
            referenced.insert(name);
            EXPECT_TRUE(drawn.count(name)) << item.path().filename().string() << " uses images/" << name
                                           << ", which the build does not draw";
        }
    }
    EXPECT_FALSE(referenced.empty()) << "no image references found under " << pageDir;
}

} // namespace
} // namespace velmora
