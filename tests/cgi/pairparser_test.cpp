#include "cgi/pairparser.h"

#include "support/qtprinters.h"

#include <gtest/gtest.h>

using tarn::TextMap;

namespace {

struct PairCase {
    const char* input;
    char separator;
    TextMap expected;
};

class PairParserTest : public ::testing::TestWithParam<PairCase> {};

TEST_P(PairParserTest, ParsesAsClientsSendIt)
{
    const PairCase& c = GetParam();
    TextMap parsed;
    tarn::parsePairs(QString::fromLatin1(c.input), QLatin1Char(c.separator), parsed);
    EXPECT_EQ(parsed, c.expected) << c.input;
}

const QString kCyrillic = QStringLiteral("Иванов");
const QString kReplacement = QString(QChar(0xFFFD));

INSTANTIATE_TEST_SUITE_P(
    Pairs, PairParserTest,
    ::testing::Values(
        // Empty pieces vanish, a missing value is empty, a second "=" cuts the value.
        PairCase{"a=1&&b=&=c&d=x=y", '&',
                 {{"a", "1"}, {"b", ""}, {"c", ""}, {"d", "x"}}},
        PairCase{"name=John+Smith", '&', {{"name", "John Smith"}}},
        PairCase{"name=John%2BSmith", '&', {{"name", "John Smith"}}},
        PairCase{"n=%D0%98%D0%B2%D0%B0%D0%BD%D0%BE%D0%B2", '&', {{"n", kCyrillic}}},
        PairCase{"n=%FF%FE", '&', {{"n", kReplacement + kReplacement}}},
        PairCase{"a=1&a=2", '&', {{"a", "2"}}},
        PairCase{"", '&', {}},
        PairCase{"&&&", '&', {}},
        PairCase{"q=%27%3B%20drop%20table%20x", '&', {{"q", "'; drop table x"}}},
        // Broken escapes decode to a replacement character rather than failing.
        PairCase{"bad=%zz%", '&', {{"bad", kReplacement + "%"}}},
        // Cookie names are not trimmed.
        PairCase{"a=1; b=2", ';', {{"a", "1"}, {" b", "2"}}}));

} // namespace
