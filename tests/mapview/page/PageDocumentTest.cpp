#include "mapview/PageDocument.h"
#include "tests/support/QStringPrinting.h"

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
                           "// vehiclemenu.js", "// listbox.js", "// main.js", "<body>"};
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

// A tile address names the source the page's policy lets it reach: the
// scheme and host (and port) only, a {s} label as a wildcard over a named
// domain, and nothing for an address the policy could not hold safely.
TEST(PageDocument, ThePolicyAllowsExactlyTheConfiguredSources) {
    const struct {
        const char* address;
        const char* source;
    } rows[] = {
        {"https://{s}.tile.example.org/{z}/{x}/{y}.png", "https://*.tile.example.org"},
        {"https://tile{s}.example.org/{z}/{x}/{y}{r}.png", "https://*.example.org"},
        {"http://127.0.0.1:8080/{z}/{x}/{y}.png", "http://127.0.0.1:8080"},
        {"HTTPS://user@Tiles.Example.org:8443?x={x}", "https://tiles.example.org:8443"},
        {"velmora://mbtiles/{z}/{x}/{y}", "velmora:"},
        {"https://{s}/{z}/{x}/{y}.png", ""},
        {"https://{s}.org/{z}/{x}/{y}.png", ""},
        {"https://a.example.org\"; script-src *; x=\"/{z}", ""},
        {"https://a.example.org;script-src/{z}", ""},
        {"javascript:alert(1)", ""},
        {"file:///etc/passwd", ""},
        {"", ""},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(PageDocument::policySource(QString::fromUtf8(row.address)), QString::fromUtf8(row.source))
            << row.address;
    }
    PageDocument::Config config;
    config.roadTiles = "https://{s}.road.example.org/{z}/{x}/{y}.png";
    config.satelliteTiles = "https://sat.example.net:444/{z}/{x}/{y}.jpg";
    const QString page = PageDocument::build(config);
    const qsizetype start = page.indexOf("http-equiv=\"Content-Security-Policy\" content=\"");
    ASSERT_GE(start, 0);
    ASSERT_LT(start, page.indexOf("<script"));
    const QString policy = page.mid(start).section('"', 3, 3);
    QStringList images, scripts;
    for (const QString& directive : policy.split(';')) {
        const QStringList words = directive.simplified().split(' ');
        if (words.first() == "img-src") images = words.mid(1);
        if (words.first() == "script-src") scripts = words.mid(1);
    }
    EXPECT_EQ(images.join(' '), "file: velmora: data: https://*.road.example.org https://sat.example.net:444");
    EXPECT_EQ(scripts.filter("sha256-").size(), page.count("<script>")) << policy.toStdString();
    EXPECT_FALSE(scripts.contains("'unsafe-inline'") || scripts.contains("https://*.road.example.org")) << policy.toStdString();
}
