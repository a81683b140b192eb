// The pure pieces of the period tables: estimates between readings and consumption, in exact
// decimal arithmetic.
#include "readings/slots.h"

#include "support/qtprinters.h"

#include <gtest/gtest.h>

using namespace orvela;

namespace {

TEST(Interpolation, KindsFollowWhatAQuantityIs)
{
    const QList<int> linear{1, 2, 3, 4, 5, 6, 15, 28, 33, 37, 38, 39, 40, 41, 42, 43, 44, 45, 46, 53, 54};
    const QList<int> averaged{9, 10, 11, 12, 13, 14, 16, 17, 29, 30, 31, 32, 34, 35, 36, 47, 51, 52, 58, 59};
    for (int titleId = 0; titleId <= 64; ++titleId) {
        const InterpolationKind expected = linear.contains(titleId)     ? InterpolationKind::Linear
                                           : averaged.contains(titleId) ? InterpolationKind::Averaged
                                                                        : InterpolationKind::None;
        EXPECT_EQ(interpolationKind(titleId), expected) << titleId;
    }
}

TEST(Interpolation, EstimatesKeepTheLongerDecimalsAndRound)
{
    EXPECT_EQ(estimatedValue("100.0", "104.0", 0, 2, 1, InterpolationKind::Linear), "102.0");
    EXPECT_EQ(estimatedValue("20", "24", 0, 2, 1, InterpolationKind::Averaged), "22");
    EXPECT_EQ(estimatedValue("10.0", "20.0", 0, 11, 6, InterpolationKind::Linear), "15.5");
    EXPECT_EQ(estimatedValue("10", "20.00", 0, 3, 1, InterpolationKind::Linear), "13.33");
    EXPECT_EQ(estimatedValue("20.5", "21", 0, 2, 1, InterpolationKind::Averaged), "20.8");
    // A counter of more digits than a double holds stays exact.
    EXPECT_EQ(estimatedValue("123456789012345678.1", "123456789012345678.3", 0, 2, 1, InterpolationKind::Linear),
              "123456789012345678.2");
    EXPECT_EQ(estimatedValue("abc", "5", 0, 2, 1, InterpolationKind::Linear), "abc");
}

TEST(Interpolation, ConsumptionAndDifferences)
{
    EXPECT_EQ(consumption("100.5", "101.25"), "0.75");
    EXPECT_EQ(consumption("101", "100"), "-1.00");
    EXPECT_EQ(consumption("1e3", "1500"), "500.00");
    EXPECT_EQ(consumption("1", "n/a"), "");
    EXPECT_EQ(difference("1.25", "1.5"), "0.25");
    EXPECT_EQ(difference("99999999999999999999", "100000000000000000000.001"), "1.001");
}

PeriodSlot slotAt(int day, const QVector<ArchiveValue>& values = {})
{
    PeriodSlot slot;
    slot.label = QDateTime(QDate(2021, 3, day), QTime(23, 0), Qt::UTC);
    slot.record.arcDate = slot.label;
    slot.record.values = values;
    return slot;
}

ArchiveValue value(int titleId, const char* val, int edId = 10)
{
    ArchiveValue v;
    v.titleId = static_cast<quint16>(titleId);
    v.edId = static_cast<quint16>(edId);
    v.val = QString::fromLatin1(val);
    return v;
}

QString valuesOf(const PeriodSlot& slot)
{
    QStringList texts;
    for (const ArchiveValue& v : slot.record.values) {
        texts << QString::number(v.titleId) + QLatin1Char('=') + v.val;
    }
    return texts.join(QLatin1Char(','));
}

TEST(Interpolation, GapsAreFilledOnlyForQuantitiesOnBothSides)
{
    QVector<PeriodSlot> table{slotAt(1), slotAt(2, {value(5, "100.0"), value(17, "20", 29), value(22, "1")}), slotAt(3), slotAt(4),
                              slotAt(5, {value(5, "103.0"), value(17, "26", 29)}), slotAt(6)};
    fillInnerGaps(&table, SlotStep::Day);
    EXPECT_EQ(valuesOf(table.at(2)), "5=101.0,17=23");
    EXPECT_EQ(valuesOf(table.at(3)), "5=102.0,17=23");
    ArchiveRecord before;
    before.arcDate = QDateTime(QDate(2021, 2, 27), QTime(10, 0), Qt::UTC);
    before.values = {value(5, "97.0"), value(9, "5", 37)};
    fillLeadingGap(&table, before, SlotStep::Day);
    EXPECT_EQ(valuesOf(table.at(0)), "5=99.0");
    ArchiveRecord after;
    after.arcDate = QDateTime(QDate(2021, 3, 7), QTime(1, 0), Qt::UTC);
    after.values = {value(5, "105.0")};
    fillTrailingGap(&table, after, SlotStep::Day);
    EXPECT_EQ(valuesOf(table.at(5)), "5=104.0");
    // Nothing found around the period: the slots stay empty.
    QVector<PeriodSlot> lonely{slotAt(1), slotAt(2, {value(5, "1")}), slotAt(3)};
    fillLeadingGap(&lonely, ArchiveRecord(), SlotStep::Day);
    fillTrailingGap(&lonely, ArchiveRecord(), SlotStep::Day);
    EXPECT_TRUE(lonely.first().record.values.isEmpty());
    EXPECT_TRUE(lonely.last().record.values.isEmpty());
}

} // namespace
