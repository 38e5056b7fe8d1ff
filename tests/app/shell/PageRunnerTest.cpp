#include "tests/app/shell/WindowFixture.h"

#include "app/shell/PageRunner.h"
#include "mapview/MapCommands.h"
#include "mapview/PageDocumentView.h"

using namespace velmora;
using namespace velmora::test;

// Commands sent together still run as if each had been sent alone: in order,
// and one that throws stops none of the others; batches larger than one
// script keep their order too.
TEST(PageRunner, BatchedCommandsRunInOrderAndEachOnItsOwn) {
    PageDocumentView view(QStringLiteral(VELMORA_IMAGES_PARENT), QSize(1024, 700));
    ASSERT_TRUE(view.waitLoaded());
    PageRunner runner(view.getHost());

    runner.execute(QStringLiteral("window.__order = [];"));
    runner.execute(QStringLiteral("__order.push('a')"));
    runner.execute(QStringLiteral("noSuchPageFunction('x')"));
    runner.execute(QStringLiteral("__order.push('b'); throw new Error('late');"));
    runner.execute(QStringList{QStringLiteral("__order.push('c')"), QStringLiteral("__order.push('d');")});
    for (int i = 0; i < PageRunner::MAX_BATCH * 2 + 7; ++i) {
        runner.execute(QStringLiteral("__order.push(%1)").arg(i));
    }
    ASSERT_TRUE(waitUntil([&] {
        return view.evaluate(QStringLiteral("window.__order ? __order.length : 0")).toInt() ==
               4 + PageRunner::MAX_BATCH * 2 + 7;
    })) << view.evaluate(QStringLiteral("window.__order ? __order.length : -1")).toInt();
    EXPECT_EQ(view.evaluate(QStringLiteral("__order.slice(0, 6).join()")).toString(), "a,b,c,d,0,1");
    EXPECT_TRUE(view.evaluate(QStringLiteral("__order.slice(4).every(function (v, i) { return v === i; })")).toBool());
}

// A vehicle's frame commands go as rows of one call: they run in their place
// among the other commands, and device text in them stays text.
TEST(PageRunner, FrameCommandsRunInTheirPlaceWithTheirTextIntact) {
    PageDocumentView view(QStringLiteral(VELMORA_IMAGES_PARENT), QSize(1024, 700));
    ASSERT_TRUE(view.waitLoaded());
    PageRunner runner(view.getHost());
    const std::string id = "{00000000-0000-4000-8000-000000000001}";
    const std::string hostile = "Bus')], window.__pwned = 1, [('";
    const QString at = QStringLiteral("vehicleIndex['%1']").arg(QString::fromStdString(id));

    runner.execute(QStringLiteral("window.__seen = [];"));
    runner.execute(MapCommands::insertVehicleLine(1, "47.0", "8.0", id, "Bus", "2026-01-31 17:05:09"));
    runner.execute(MapCommands::moveTo(47.5, 8.5, 10, 17, 5, 9, 90, id));
    runner.execute(QStringLiteral("__seen.push(%1.latlng.lat)").arg(at));
    runner.execute(MapCommands::updateVehicle("46.0", "7.0", id, hostile, "2026-01-31 17:06:00"));
    runner.execute(MapCommands::moveTo(46.25, 7.25, 10, 17, 6, 0, 90, id));
    runner.execute(MapCommands::moveTo(1, 1, 1, 0, 0, 0, 0, "{no such vehicle}"));
    runner.execute(QStringLiteral("__seen.push(%1.latlng.lat, listBox.vehicleName('%2'))")
                       .arg(at, QString::fromStdString(id)));
    for (int i = 0; i < PageRunner::MAX_FRAME_ROWS + 5; ++i) {
        runner.execute(MapCommands::moveTo(40 + i * 1e-4, 7.25, 10, 17, 7, 0, 90, id));
    }
    runner.execute(QStringLiteral("__seen.push(%1.latlng.lat)").arg(at));
    ASSERT_TRUE(waitUntil([&] { return view.evaluate(QStringLiteral("window.__seen ? __seen.length : 0")).toInt() == 4; }));
    EXPECT_EQ(view.evaluate(QStringLiteral("JSON.stringify(__seen)")).toString().toStdString(),
              "[47.5,46.25,\"" + hostile + "\",40.2004]"); // the last of 2,005 moves
    EXPECT_EQ(view.evaluate(QStringLiteral("typeof window.__pwned")).toString(), "undefined");
}
