#include "cgi/intrule.h"

#include "support/qtprinters.h"

#include <gtest/gtest.h>

namespace {

struct IntCase {
    const char* text;
    qint64 int32;
    qint64 uint32;
    qint64 int64;
};

class IntRuleTest : public ::testing::TestWithParam<IntCase> {};

TEST_P(IntRuleTest, ReadsEachWidth)
{
    const IntCase& c = GetParam();
    const QString text = QString::fromUtf8(c.text);
    EXPECT_EQ(orvela::parseInt32(text), c.int32) << c.text;
    EXPECT_EQ(orvela::parseUInt32(text), c.uint32) << c.text;
    EXPECT_EQ(orvela::parseInt64(text), c.int64) << c.text;
}

INSTANTIATE_TEST_SUITE_P(
    Texts, IntRuleTest,
    ::testing::Values(IntCase{" 5 ", 5, 5, 5}, IntCase{"0x81", 129, 129, 129},
                      IntCase{" 0x81", 129, 129, 129}, IntCase{"0X1f", 31, 31, 31},
                      IntCase{"0x", -1, -1, -1}, IntCase{"5a", -1, -1, -1}, IntCase{"", -1, -1, -1},
                      IntCase{"NULL", -1, -1, -1}, IntCase{"-3", -3, -1, -3},
                      IntCase{"2147483648", -1, 2147483648LL, 2147483648LL},
                      IntCase{"0xFFFFFFFF", -1, 4294967295LL, 4294967295LL},
                      IntCase{"9223372036854775807", -1, -1, 9223372036854775807LL},
                      IntCase{"1e3", -1, -1, -1}, IntCase{"٣", -1, -1, -1}));

TEST(IntRule, NamedFailureValueReplacesMinusOne)
{
    EXPECT_EQ(orvela::parseInt32(QStringLiteral("abc"), -999999), -999999);
    EXPECT_EQ(orvela::parseInt32(QStringLiteral("-180"), -999999), -180);
}

} // namespace
