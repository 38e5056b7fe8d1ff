#include "tests/mapview/BrowserFixture.h"

#include <QJsonArray>

namespace velmora::test {
namespace {

using CefClientV8HandlerTest = BrowserFixture;

TEST_F(CefClientV8HandlerTest, ExtensionExistsBeforeTheFirstPageScript)
{
    load(testPageDocument());
    EXPECT_EQ(evaluate(QStringLiteral("extensionAtStart")).toString(),
              QStringLiteral("onClickLog,onClickSetup,onChangeName,onUpdateOptionalInfo,onClickEdit,"
                             "onClickRemove,onClickImgBtn,onClickTrackingLine,onClickDelete,onMapViewChanged,"
                             "onClickZones,onZoneDrawn,onZoneEdited"));
    // Nothing of the channel leaks into the page's globals.
    EXPECT_EQ(evaluate(QStringLiteral("typeof QWebChannel")).toString(), QStringLiteral("undefined"));
}

TEST_F(CefClientV8HandlerTest, CallsMadeBeforeTheChannelIsReadyArriveInOrder)
{
    // The page calls during its first script, long before the channel's
    // handshake is done.
    load(QStringLiteral("<html><head><script>"
                        "cef.extension.onClickSetup();"
                        "cef.extension.onClickEdit('e1');"
                        "cef.extension.onChangeName('v1', 'first');"
                        "for (var i = 0; i < 20; i++) cef.extension.onClickRemove('r' + i);"
                        "cef.extension.onClickLog();"
                        "</script></head><body></body></html>"));
    ASSERT_TRUE(waitUntil([&] { return m_listener.calls.size() >= 25; }));
    std::vector<std::string> expected = {"onClickSetup", "onClickEdit(e1)", "onChangeName(v1|first)"};
    for (int i = 0; i < 20; ++i)
        expected.push_back("onClickRemove(r" + std::to_string(i) + ")");
    expected.push_back("onClickLog");
    std::vector<std::string> calls = m_listener.lines();
    calls.erase(std::remove(calls.begin(), calls.end(), "onPageLoaded"), calls.end());
    EXPECT_EQ(calls, expected);
    EXPECT_FALSE(m_listener.offGuiThread);
}

TEST_F(CefClientV8HandlerTest, EachCallReachesTheListenerWithConvertedArguments)
{
    load(testPageDocument());
    struct Row {
        const char* call;
        const char* expected;
    };
    const Row rows[] = {
        {"onClickLog()", "onClickLog"},
        {"onClickSetup()", "onClickSetup"},
        {"onChangeName('v1', 'N\\u00e4me \\ud55c')", "onChangeName(v1|N\xc3\xa4me \xed\x95\x9c)"},
        {"onChangeName(7, 'x')", "onChangeName(|x)"},
        {"onChangeName('v1')", "onChangeName(v1|)"},
        {"onUpdateOptionalInfo('v2', ['images/a.png', 'i1', 'i2'])", "onUpdateOptionalInfo(v2|images/a.png|i1|i2)"},
        {"onUpdateOptionalInfo('v2', 'not a list')", "onUpdateOptionalInfo(v2|||)"},
        {"onUpdateOptionalInfo('v2', ['p', 5, {}])", "onUpdateOptionalInfo(v2|p||)"},
        {"onUpdateOptionalInfo(null, ['p'])", "onUpdateOptionalInfo(|p||)"},
        {"onClickEdit('v3')", "onClickEdit(v3)"},
        {"onClickEdit(42)", "onClickEdit()"},
        {"onClickRemove({ toString: function () { return 'v4'; } })", "onClickRemove()"},
        {"onClickRemove()", "onClickRemove()"},
        {"onClickImgBtn('v5')", "onClickImgBtn(v5)"},
        {"onClickImgBtn(new String('v6'))", "onClickImgBtn()"},
        {"onClickTrackingLine('{0A1B2C3D-0000-4000-8000-00000000002A}')",
         "onClickTrackingLine({0A1B2C3D-0000-4000-8000-00000000002A})"},
        {"onClickTrackingLine(['v7'])", "onClickTrackingLine()"},
        {"onClickTrackingLine()", "onClickTrackingLine()"},
    };
    QString script;
    for (const Row& row : rows)
        script += QStringLiteral("cef.extension.") + QString::fromUtf8(row.call) + QLatin1Char(';');
    m_listener.calls.clear();
    evaluate(script + QStringLiteral("0"));
    const size_t count = std::size(rows);
    ASSERT_TRUE(waitUntil([&] { return m_listener.calls.size() >= count; }));
    ASSERT_EQ(m_listener.calls.size(), count);
    for (size_t i = 0; i < count; ++i)
        EXPECT_EQ(m_listener.lines()[i], rows[i].expected) << rows[i].call;
    EXPECT_FALSE(m_listener.offGuiThread);
}

TEST_F(CefClientV8HandlerTest, ChangeNameWithoutArgumentsThrowsAndChangesNothing)
{
    load(testPageDocument());
    m_listener.calls.clear();
    EXPECT_EQ(evaluate(QStringLiteral("try { cef.extension.onChangeName(); 'returned' } "
                                      "catch (e) { 'threw' }"))
                  .toString(),
              QStringLiteral("threw"));
    // A marker call after it: once it is in, the failed call would be too.
    evaluate(QStringLiteral("cef.extension.onClickLog(); 0"));
    ASSERT_TRUE(waitUntil([&] { return !m_listener.calls.empty(); }));
    EXPECT_EQ(m_listener.lines(), std::vector<std::string>{"onClickLog"});
}

TEST(CefClientV8HandlerDispatchTest, AnswersByName)
{
    RecordingListener listener;
    CefClientV8Handler handler(&listener);
    struct Row {
        const char* name;
        QJsonArray args;
        bool answer;
        const char* forwarded;
    };
    const Row rows[] = {
        {"onClickLog", {}, true, "onClickLog"},
        {"onChangeName", {}, false, nullptr},
        {"onChangeName", {QStringLiteral("a")}, true, "onChangeName(a|)"},
        {"onclicklog", {}, false, nullptr},
        {"deleteLater", {}, false, nullptr},
        {"", {}, false, nullptr},
        {"onClickEdit", {QJsonValue(QJsonArray{QStringLiteral("x")})}, true, "onClickEdit()"},
        {"onClickTrackingLine", {QStringLiteral("v8")}, true, "onClickTrackingLine(v8)"},
        {"onClickTrackingline", {QStringLiteral("v8")}, false, nullptr},
        // The page's view as text: read in the C locale, forwarded only
        // when the map could show it.
        {"onMapViewChanged",
         {QStringLiteral("47.376900"), QStringLiteral("8.541700"), QStringLiteral("12")},
         true,
         "onMapViewChanged(47.376900 8.541700 12)"},
        {"onMapViewChanged",
         {QStringLiteral("-33.9"), QStringLiteral("-180"), QStringLiteral("0")},
         true,
         "onMapViewChanged(-33.900000 -180.000000 0)"},
        {"onMapViewChanged", {QStringLiteral("47,3769"), QStringLiteral("8.5417"), QStringLiteral("12")}, false,
         nullptr},
        {"onMapViewChanged", {QStringLiteral("86"), QStringLiteral("8.5"), QStringLiteral("12")}, false, nullptr},
        {"onMapViewChanged", {QStringLiteral("47"), QStringLiteral("181"), QStringLiteral("12")}, false, nullptr},
        {"onMapViewChanged", {QStringLiteral("47"), QStringLiteral("8"), QStringLiteral("19")}, false, nullptr},
        {"onMapViewChanged", {QStringLiteral("47"), QStringLiteral("8"), QStringLiteral("12.5")}, false, nullptr},
        {"onMapViewChanged", {QStringLiteral("NaN"), QStringLiteral("8"), QStringLiteral("12")}, false, nullptr},
        {"onMapViewChanged", {47.0, 8.0, 12}, false, nullptr},
        {"onMapViewChanged", {QStringLiteral("47"), QStringLiteral("8")}, false, nullptr},
    };
    for (const Row& row : rows) {
        listener.calls.clear();
        EXPECT_EQ(handler.dispatch(QString::fromLatin1(row.name), row.args), row.answer) << row.name;
        if (row.forwarded)
            EXPECT_EQ(listener.lines(), std::vector<std::string>{row.forwarded}) << row.name;
        else
            EXPECT_TRUE(listener.calls.empty()) << row.name;
    }
}

class ThrowingListener : public RecordingListener {
public:
    void onClickLog() override { throw std::runtime_error("listener failed"); }
};

TEST(CefClientV8HandlerDispatchTest, ListenerExceptionsStayInside)
{
    ThrowingListener listener;
    CefClientV8Handler handler(&listener);
    EXPECT_NO_THROW(handler.dispatch(QStringLiteral("onClickLog"), {}));
    CefClientV8Handler unattached;
    EXPECT_TRUE(unattached.dispatch(QStringLiteral("onClickSetup"), {}));
}

} // namespace
} // namespace velmora::test
