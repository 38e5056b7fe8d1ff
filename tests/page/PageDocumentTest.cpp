#include "mapview/PageDocument.h"
#include "tests/page/QStringPrinting.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

using velmora::PageDocument;

TEST(PageDocument, IsAssembledInOrderWithItsConfigurationWrittenIn) {
    const QString page = PageDocument::build();
    ASSERT_FALSE(page.isEmpty());
    EXPECT_TRUE(page.startsWith("<!DOCTYPE html>"));
    EXPECT_TRUE(page.trimmed().endsWith("</html>"));
    EXPECT_FALSE(page.contains("@PAGE_CONFIG@"));
    EXPECT_FALSE(page.contains("@ASSET_BASE@"));
    EXPECT_TRUE(page.contains("src=\"velmora://assets/leaflet/leaflet.js\""));
    // The pieces keep their order: style, globals, widgets, page functions, body.
    const char* order[] = {"<title>Velmora</title>", "/* page.css */", "// globals.js", "// overlay.js",
                           "// vehicle.js", "// eventpopup.js", "// contextmenu.js", "// tooltip.js",
                           "// vehiclemenu.js", "// listbox.js", "// main.js", "<body onload=\"initialize()\">"};
    qsizetype at = -1;
    for (const char* piece : order) {
        qsizetype found = page.indexOf(QString::fromLatin1(piece));
        EXPECT_GT(found, at) << piece;
        at = found;
    }
    // Small enough for the engine's document limit, with room to spare.
    EXPECT_LT(page.toUtf8().size(), 512 * 1024);
}

TEST(PageDocument, ConfigurationCannotEndItsScriptElement) {
    struct Row {
        const char* value;
    };
    const Row rows[] = {
        {"</script><script>alert(1)</script>"},
        {"<!--"},
        {"a\u2028b\u2029c"},
        {"\"quoted\" & 'single' \\ back"},
    };
    for (const Row& row : rows) {
        PageDocument::Config config;
        config.roadTiles = QString::fromUtf8(row.value);
        config.roadAttribution = QString::fromUtf8(row.value);
        const QString script = PageDocument::configScript(config);
        EXPECT_FALSE(script.contains('<')) << row.value;
        EXPECT_FALSE(script.contains(QChar(0x2028))) << row.value;
        // It is still the same value once read as JSON.
        QJsonObject object = QJsonDocument::fromJson(script.toUtf8()).object();
        EXPECT_EQ(object.value("roadTiles").toString(), QString::fromUtf8(row.value));
        EXPECT_EQ(object.value("geocodeUrl").toString(), "velmora://geocode/lookup");
        const QString page = PageDocument::build(config);
        EXPECT_EQ(page.count("</script>"), PageDocument::build().count("</script>")) << row.value;
    }
}
