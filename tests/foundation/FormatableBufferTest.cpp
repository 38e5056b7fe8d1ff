#include "foundation/FormatableBuffer.h"

#include <gtest/gtest.h>

#include <string>

using velmora::FormatableBuffer;

TEST(FormatableBufferTest, FormatCutsAtCapacityAndMarksTheCut)
{
    struct Row {
        size_t produced;
        int expectedLength;
        size_t expectedText;
    };
    const Row rows[] = {{0, 0, 0}, {63, 63, 63}, {64, 64, 63}, {200, 64, 63}};
    for (const Row& row : rows) {
        FormatableBuffer<64> buffer;
        const std::string text(row.produced, 'x');
        buffer.format("%s", text.c_str());
        EXPECT_EQ(buffer.getLength(), row.expectedLength) << row.produced;
        EXPECT_EQ(std::string(buffer.getText()), std::string(row.expectedText, 'x')) << row.produced;
    }
}

TEST(FormatableBufferTest, AppendJoinsAndStopsAtTheEnd)
{
    FormatableBuffer<8> buffer;
    EXPECT_TRUE(buffer.append("A"));
    EXPECT_TRUE(buffer.append("%s", "B"));
    EXPECT_TRUE(buffer.append("%d", 3));
    EXPECT_STREQ(buffer.getText(), "AB3");
    EXPECT_EQ(buffer.getLength(), 3);

    EXPECT_FALSE(buffer.append("%s", "45678")); // cut: "AB34567"
    EXPECT_STREQ(buffer.getText(), "AB34567");
    EXPECT_EQ(buffer.getLength(), 8);
    EXPECT_FALSE(buffer.append("Z"));
    EXPECT_STREQ(buffer.getText(), "AB34567");

    buffer.format("%s", "new"); // format starts afresh after a cut
    EXPECT_STREQ(buffer.getText(), "new");
    EXPECT_EQ(buffer.getLength(), 3);
}

TEST(FormatableBufferTest, AppendIntoAFullBufferChangesNothing)
{
    FormatableBuffer<4> buffer;
    buffer.format("abc"); // N - 1 characters: no room left for another
    EXPECT_FALSE(buffer.append("d"));
    EXPECT_STREQ(buffer.getText(), "abc");
    EXPECT_EQ(buffer.getLength(), 3);
}

TEST(FormatableBufferTest, PercentInTheArgumentIsNotAConversion)
{
    FormatableBuffer<64> buffer;
    buffer.format("%s", "100%s%d");
    EXPECT_STREQ(buffer.getText(), "100%s%d");
}
