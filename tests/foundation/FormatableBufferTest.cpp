#include "foundation/FormatableBuffer.h"
#include "tests/support/GermanLocale.h"

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

namespace {
FormatableBuffer<64> formatted(double value, int form)
{
    FormatableBuffer<64> buffer;
    switch (form) {
    case 0: buffer.format("%f", value); break;
    case 1: buffer.format("%.2f", value); break;
    case 2: buffer.format("%g", value); break;
    default:
        buffer.format("(");
        buffer.append("%f,%e)", value, value);
        break;
    }
    return buffer;
}
} // namespace

TEST(FormatableBufferTest, NumbersIgnoreTheProcessLocale)
{
    // Stored and sent texts are built here; a decimal comma would split one
    // value into two wherever a comma separates arguments.
    struct Row {
        double value;
        int form;
        const char* expected;
    };
    const Row rows[] = {
        {37.387458, 0, "37.387458"},
        {-0.0, 0, "-0.000000"},
        {0.13, 1, "0.13"},
        {309.62, 2, "309.62"},
        {1234.5, 3, "(1234.500000,1.234500e+03)"},
    };
    velmora::test::GermanLocale german;
    ASSERT_TRUE(german.isActive()) << german.why();
    for (const Row& row : rows)
        EXPECT_STREQ(formatted(row.value, row.form).getText(), row.expected) << row.expected;
}
