#include "tests/mapview/BrowserFixture.h"

#include "mapview/SharedData.h"
#include "mapview/VelmoraSchemeHandler.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QUrlQuery>

#include <stdexcept>

namespace velmora::test {
namespace {

using Reply = VelmoraSchemeHandler::Reply;

QUrl address(const char* text)
{
    return QUrl(QString::fromLatin1(text));
}

TEST(VelmoraSchemeHandlerTest, ResolvesResourcesAndRefusesEverythingOutsideThePrefix)
{
    VelmoraSchemeHandler handler;
    handler.registerResourcePrefix(QStringLiteral("assets"), QStringLiteral("/testpage/assets/"));
    handler.registerProvider(QStringLiteral("geocode"), [](const QUrl& url, Reply& reply) {
        const QUrlQuery query(url);
        if (!query.hasQueryItem(QStringLiteral("lat")))
            return false;
        reply.mimeType = "application/json";
        reply.body = "{\"lat\":" + query.queryItemValue(QStringLiteral("lat")).toUtf8() + "}";
        return true;
    });
    handler.registerProvider(QStringLiteral("broken"),
                             [](const QUrl&, Reply&) -> bool { throw std::runtime_error("provider failed"); });
    struct Row {
        const char* url;
        Reply::Status status;
        const char* mimeType;
    };
    const Row rows[] = {
        {"velmora://assets/hello.js", Reply::Ok, "text/javascript;charset=utf-8"},
        {"velmora://ASSETS/hello.js", Reply::Ok, "text/javascript;charset=utf-8"},
        {"velmora://assets/missing.js", Reply::NotFound, ""},
        {"velmora://assets/../testpage.html", Reply::Denied, ""},
        {"velmora://assets/%2e%2e/testpage.html", Reply::Denied, ""},
        {"velmora://assets/x%2f..%2f..%2ftestpage%2ftestpage.html", Reply::Denied, ""},
        {"velmora://assets/..%5ctestpage.html", Reply::Denied, ""},
        {"velmora://assets//hello.js", Reply::Denied, ""},
        {"velmora://assets/./hello.js", Reply::Denied, ""},
        {"velmora://assets/", Reply::Denied, ""},
        {"velmora://assets/hello.js%00.png", Reply::Denied, ""},
        {"velmora://other/hello.js", Reply::NotFound, ""},
        {"file:///testpage/assets/hello.js", Reply::NotFound, ""},
        {"velmora://geocode?lat=1.5&lng=2", Reply::Ok, "application/json"},
        {"velmora://geocode?lng=2", Reply::NotFound, ""},
        {"velmora://broken/x", Reply::Failed, ""},
    };
    for (const Row& row : rows) {
        const Reply reply = handler.resolve(address(row.url));
        EXPECT_EQ(reply.status, row.status) << row.url;
        if (row.status == Reply::Ok)
            EXPECT_EQ(reply.mimeType.toStdString(), row.mimeType) << row.url;
        else
            EXPECT_TRUE(reply.body.isEmpty()) << row.url;
    }
    EXPECT_EQ(handler.resolve(address("velmora://geocode?lat=1.5")).body, QByteArray("{\"lat\":1.5}"));
    EXPECT_TRUE(handler.resolve(address("velmora://assets/hello.js")).body.startsWith("window.assetLoaded"));
    handler.unregisterHost(QStringLiteral("assets"));
    EXPECT_EQ(handler.resolve(address("velmora://assets/hello.js")).status, Reply::NotFound);
}

// Files below a folder, as the installed data is served: links in it are
// followed (Leaflet is a link to the system's copy), nothing outside it is
// reached, and a folder is not a file.
TEST(VelmoraSchemeHandlerTest, ServesFilesBelowAFolderAndNothingOutsideIt)
{
    QTemporaryDir root;
    ASSERT_TRUE(root.isValid());
    const QDir top(root.path());
    ASSERT_TRUE(top.mkpath(QStringLiteral("share/assets/lib")));
    ASSERT_TRUE(top.mkpath(QStringLiteral("system")));
    const auto write = [&](const QString& name, const QByteArray& text) {
        QFile file(top.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(text);
    };
    write(QStringLiteral("share/assets/map.js"), "var map;");
    write(QStringLiteral("share/secret.txt"), "outside");
    write(QStringLiteral("system/lib.css"), "body {}");
    ASSERT_TRUE(QFile::link(QStringLiteral("../../../system/lib.css"), top.filePath(QStringLiteral("share/assets/lib/lib.css"))));
    ASSERT_TRUE(QFile::link(QStringLiteral("../../nowhere.js"), top.filePath(QStringLiteral("share/assets/lib/gone.js"))));

    VelmoraSchemeHandler handler;
    handler.registerDirectory(QStringLiteral("assets"), top.filePath(QStringLiteral("share/assets/")));
    struct Row {
        const char* url;
        Reply::Status status;
        QByteArray body;
    };
    const Row rows[] = {
        {"velmora://assets/map.js", Reply::Ok, "var map;"},
        {"velmora://assets/lib/lib.css", Reply::Ok, "body {}"},
        {"velmora://assets/lib/gone.js", Reply::NotFound, ""},
        {"velmora://assets/lib", Reply::NotFound, ""},
        {"velmora://assets/none.js", Reply::NotFound, ""},
        {"velmora://assets/../secret.txt", Reply::Denied, ""},
        {"velmora://assets/%2e%2e/secret.txt", Reply::Denied, ""},
        {"velmora://assets/lib%2f..%2f..%2fsecret.txt", Reply::Denied, ""},
    };
    for (const Row& row : rows) {
        const Reply reply = handler.resolve(address(row.url));
        EXPECT_EQ(reply.status, row.status) << row.url;
        EXPECT_EQ(reply.body, row.body) << row.url;
    }
    EXPECT_EQ(handler.resolve(address("velmora://assets/lib/lib.css")).mimeType, QByteArray("text/css;charset=utf-8"));
    // Registering a Qt resource prefix for the host replaces the folder.
    handler.registerResourcePrefix(QStringLiteral("assets"), QStringLiteral("/testpage/assets"));
    EXPECT_EQ(handler.resolve(address("velmora://assets/map.js")).status, Reply::NotFound);
}

// The folder those files come from: beside the program, or for a program
// inside the build tree the build's own; a program anywhere else never
// takes the build tree's.
TEST(VelmoraSchemeHandlerTest, SharedDataComesFromBesideTheProgramOrFromInsideTheBuildTree)
{
    QTemporaryDir root;
    ASSERT_TRUE(root.isValid());
    const QDir top(root.path());
    ASSERT_TRUE(top.mkpath(QStringLiteral("usr/bin")) && top.mkpath(QStringLiteral("usr/share/velmora")));
    ASSERT_TRUE(top.mkpath(QStringLiteral("opt/bin")) && top.mkpath(QStringLiteral("build/tests")) &&
                top.mkpath(QStringLiteral("build-old")));
    for (const char* program : {"usr/bin/velmora", "opt/bin/velmora", "build/tests/t", "build-old/t"}) {
        QFile file(top.filePath(QString::fromLatin1(program)));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    ASSERT_TRUE(QFile::link(top.filePath(QStringLiteral("build/tests/t")), top.filePath(QStringLiteral("opt/t"))));

    // This test program lies in the build tree, with no data beside it.
    const QString build = SharedData::forExecutable(QCoreApplication::applicationFilePath());
    EXPECT_TRUE(QFileInfo(build + QStringLiteral("/assets")).isDir()) << build.toStdString();
    EXPECT_EQ(SharedData::forExecutable(top.filePath(QStringLiteral("usr/bin/velmora"))),
              QFileInfo(top.filePath(QStringLiteral("usr/share/velmora"))).canonicalFilePath());
    const QString elsewhere = SharedData::forExecutable(top.filePath(QStringLiteral("opt/bin/velmora")));
    EXPECT_NE(elsewhere, build);
    EXPECT_TRUE(elsewhere.endsWith(QStringLiteral("/share/velmora"))) << elsewhere.toStdString();

    const QString tree = top.filePath(QStringLiteral("build"));
    EXPECT_TRUE(SharedData::inBuildTree(top.filePath(QStringLiteral("build/tests/t")), tree));
    EXPECT_TRUE(SharedData::inBuildTree(top.filePath(QStringLiteral("opt/t")), tree)) << "a link to a build program";
    EXPECT_FALSE(SharedData::inBuildTree(top.filePath(QStringLiteral("build-old/t")), tree));
    EXPECT_FALSE(SharedData::inBuildTree(top.filePath(QStringLiteral("opt/bin/velmora")), tree));
    EXPECT_FALSE(SharedData::inBuildTree(tree, tree));
}

using VelmoraSchemeEngineTest = BrowserFixture;

TEST_F(VelmoraSchemeEngineTest, ThePageLoadsAssetsAndNativeAnswers)
{
    VelmoraSchemeHandler* scheme = m_host->getSchemeHandler();
    scheme->registerResourcePrefix(QStringLiteral("assets"), QStringLiteral("/testpage/assets"));
    scheme->registerProvider(QStringLiteral("geocode"), [](const QUrl& url, Reply& reply) {
        reply.mimeType = "text/plain;charset=utf-8";
        reply.body = "near " + QUrlQuery(url).queryItemValue(QStringLiteral("lat")).toUtf8();
        return true;
    });
    // XMLHttpRequest: this engine's fetch() does not reach custom schemes.
    load(QStringLiteral("<html><head><script src=\"velmora://assets/hello.js\"></script><script>"
                        "var answers = {};"
                        "function ask(key, url) {"
                        "  var x = new XMLHttpRequest(); x.open('GET', url);"
                        "  x.onload = function () { answers[key] = x.status + ' ' + x.responseText; };"
                        "  x.onerror = function () { answers[key] = 'refused'; };"
                        "  x.send();"
                        "}"
                        "ask('geocode', 'velmora://geocode?lat=37.5&lng=127');"
                        "ask('traversal', 'velmora://assets/%2e%2e/testpage.html');"
                        "ask('missing', 'velmora://assets/none.js');"
                        "</script></head><body></body></html>"));
    EXPECT_EQ(evaluate(QStringLiteral("window.assetLoaded")).toString(), QStringLiteral("hello from velmora"));
    ASSERT_TRUE(waitUntil([&] { return evaluate(QStringLiteral("Object.keys(answers).length")).toInt() == 3; }));
    EXPECT_EQ(evaluate(QStringLiteral("answers.geocode")).toString(), QStringLiteral("200 near 37.5"));
    EXPECT_EQ(evaluate(QStringLiteral("answers.traversal")).toString(), QStringLiteral("refused"));
    EXPECT_EQ(evaluate(QStringLiteral("answers.missing")).toString(), QStringLiteral("refused"));
}

} // namespace
} // namespace velmora::test
