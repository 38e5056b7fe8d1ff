#include "tests/app/shell/WindowFixture.h"

#include "app/shell/PageRunner.h"
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
