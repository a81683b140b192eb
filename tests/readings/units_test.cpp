#include "readings/units.h"

#include "support/qtprinters.h"

#include <gtest/gtest.h>

using orvela::ArchiveValue;

namespace {

ArchiveValue valueOf(quint16 edId, const char* val, quint16 titleId = 1)
{
    return ArchiveValue{titleId, edId, QString::fromLatin1(val), 0, 0};
}

TEST(Units, TransKoefScalesExactlyOrLeavesTheText)
{
    const struct {
        qint64 koef;
        const char* val;
        bool ok;
        const char* scaled;
    } cases[] = {
        {10, "1.25", true, "12.50"}, {10, "-7", false, "-7"}, {2, "-0.25", true, "-0.50"},
        {1, "abc", true, "abc"}, {10, "1,5", false, "1,5"}, {3, "0X1f", true, "93"},
        {10, "0x", false, "0x"}, {100, " 2.5 ", true, "250.0"}, {10, "1.5e2", true, "1500"},
        // Digits a double would lose.
        {1000, "123456789.123456789", true, "123456789123.456789000"},
        {10, "99999999999999999999", true, "999999999999999999990"},
    };
    for (const auto& c : cases) {
        ArchiveValue value = valueOf(2, c.val);
        EXPECT_EQ(orvela::applyTransKoef(c.koef, &value), c.ok) << c.val;
        EXPECT_EQ(value.val, QString::fromLatin1(c.scaled)) << c.val;
    }
}

TEST(Units, CountersByClassChannelAndSubIndex)
{
    const auto counter = [](int devType, quint16 titleId, bool withHeatVolumes) {
        return orvela::isCounterValue(devType, valueOf(2, "1", titleId), 0, 0, withHeatVolumes);
    };
    EXPECT_TRUE(counter(2, 2, false));
    EXPECT_FALSE(counter(4, 5, false)); // heat volumes only when asked for
    EXPECT_TRUE(counter(12, 54, true));
    EXPECT_FALSE(counter(22, 45, true)); // a gas volume on a water meter
    EXPECT_TRUE(counter(26, 46, false));
    EXPECT_FALSE(counter(25, 57, true));

    ArchiveValue tariff = valueOf(2, "1", 2);
    tariff.postfixNum = 2;
    EXPECT_TRUE(orvela::isCounterValue(2, tariff, 0, 2, false));
    EXPECT_FALSE(orvela::isCounterValue(2, tariff, 0, 0, false));
    EXPECT_FALSE(orvela::isCounterValue(2, tariff, 1, 2, false));
}

TEST(Units, ConvertsWithTheClientsFactors)
{
    const struct {
        int source;
        int target;
        const char* val;
        bool ok;
        const char* converted;
        int edId;
    } cases[] = {
        {8, 2, "1", true, "0.00", 2},          {9, 34, "1", true, "1.16", 34},
        {2, 9, "-1000", true, "-0.86", 9},     {2, 9, "-0.001", true, "0.00", 9},
        {2, 6, "1", true, "3600.00", 6},       {5, 1, "3600", true, "1.00", 1},
        {6, 1, "1", true, "0.28", 1},          {35, 2, "1", true, "0.28", 2},
        {8, 6, "1", true, "4.19", 6},          {6, 8, "1000", true, "239.00", 8},
        {42, 9, "1", true, "859.50", 9},       {2, 35, "1000", true, "3600.00", 35},
        // Both ways, the second from the text the first gave.
        {2, 34, "1234560", true, "1234.56", 34}, {34, 2, "1234.56", true, "1234560.00", 2},
        {9, 36, "2", true, "8.37", 36},        {36, 9, "8.37", true, "2.00", 9},
        // Volume and pressure, and pairs that have no conversion.
        {11, 10, "12345", true, "12.35", 10},  {11, 10, "15", true, "0.02", 10},
        {10, 11, "1.2345", true, "1234.50", 11}, {33, 32, "1", true, "0.98", 32},
        {32, 33, "1", true, "1.02", 33},       {2, 2, "1.23456", true, "1.23456", 2},
        {2, 10, "5", true, "5", 2},            {40, 2, "5", true, "5", 40},
        {2, 9, "abc", false, "abc", 2},
    };
    for (const auto& c : cases) {
        ArchiveValue value = valueOf(static_cast<quint16>(c.source), c.val);
        EXPECT_EQ(orvela::convertUnit(c.target, &value), c.ok) << c.source << " -> " << c.target;
        EXPECT_EQ(value.val, QString::fromLatin1(c.converted)) << c.source << " -> " << c.target;
        EXPECT_EQ(value.edId, c.edId) << c.source << " -> " << c.target;
    }
}

TEST(Units, PrecisionCutsNeverRounds)
{
    const struct {
        const char* text;
        int digits;
        const char* cut;
    } cases[] = {
        {"12.3456", 0, "12"}, {"12.999", 2, "12.99"}, {"-12.999", 2, "-12.99"},
        {"-0.004", 2, "0.00"}, {"-.5", 1, "-0.5"}, {"7", 3, "7.000"}, {"  3.14159 ", 3, "3.141"},
        {"1e-3", 4, "0.0010"},
        {"123456789012345678901234567890.987654321", 4, "123456789012345678901234567890.9876"},
        // Not numbers, or nothing asked: the text stays as it is.
        {"1.5", -1, "1.5"}, {"nan", 2, "nan"}, {"1.2.3", 1, "1.2.3"}, {"  ", 2, "  "},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(orvela::applyPrecision(QString::fromLatin1(c.text), c.digits),
                  QString::fromLatin1(c.cut))
            << c.text << " to " << c.digits;
    }
}

TEST(Units, UserSettingsApplyByResource)
{
    orvela::UserUnitSettings settings;
    settings.heat = orvela::UnitGroup{true, 2, 3};
    settings.electricity.precision = 1;
    settings.water = orvela::UnitGroup{true, 10, 0};

    const struct {
        int devType;
        quint16 edId;
        const char* val;
        const char* shown;
        int shownEdId;
    } cases[] = {
        {4, 9, "1", "1163.000", 2},        // Gcal into kWh, then 3 decimals
        {12, 29, "65.27", "65.270", 29},   // a temperature is only cut
        {4, 9, "abc", "abc", 9},           // not a number: neither converted nor cut
        {2, 2, "1520.56", "1520.5", 2},    // precision alone
        {7, 11, "12345", "12", 10},        // litres to m³ rounds to 12.35, then cut to 0
        {3, 10, "1.23456", "1.23456", 10}, // nothing asked for gas
        {25, 2, "1.23456", "1.23456", 2},  // a pulse counter has no resource settings
    };
    for (const auto& c : cases) {
        ArchiveValue value = valueOf(c.edId, c.val);
        orvela::applyUserUnits(settings, c.devType, &value);
        EXPECT_EQ(value.val, QString::fromLatin1(c.shown)) << c.devType << " " << c.val;
        EXPECT_EQ(value.edId, c.shownEdId) << c.devType << " " << c.val;
    }
    EXPECT_EQ(orvela::applyUserPrecision(settings, 2, QStringLiteral("9.99")),
              QStringLiteral("9.9"));
    EXPECT_EQ(orvela::applyUserPrecision(settings, 26, QStringLiteral("9.99")),
              QStringLiteral("9.99"));
}

} // namespace
