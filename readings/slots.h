#pragma once

#include "readings/archiverecord.h"

#include <QDateTime>
#include <QString>
#include <QVector>

namespace orvela {

// How a missing reading of a quantity is estimated from its neighbours: accumulating counts
// grow linearly between two readings, momentary quantities take their mean, and the rest
// (states, versions, dates) are not estimated at all.
enum class InterpolationKind { None, Linear, Averaged };
InterpolationKind interpolationKind(int titleId);

// The index of the value of the same quantity (unit, title, channel and sub-index) in the
// list, or -1.
int findSameQuantity(const QVector<ArchiveValue>& values, const ArchiveValue& value);

// One slot of a period table: the newest reading of an hour, day or month, or the values
// estimated for it. Times are local times of the address held with the Qt::UTC spec.
struct PeriodSlot {
    QDateTime label;
    ArchiveRecord record; // an empty slot has no values, and its times equal the label
    bool stored = false;  // holds a reading of the archive, not only estimates
    bool hasValues() const { return !record.values.isEmpty(); }
};

enum class SlotStep { Hour, Day, Month };

// "yyyy-MM-dd HH:mm:ss" of a time as it is held, or an empty text for an invalid one: what
// QDateTime::toString writes with that format, without its locale machinery, which costs
// more than the rest of a slot entry.
QString slotTimeText(const QDateTime& time);

// The slot's place on the time axis in whole hours (hourly slots) or days (daily and monthly
// slots, whose months differ in length), so that estimates follow the time between readings.
qint64 slotPosition(const QDateTime& time, SlotStep step);

// The value at `position` between a (at positionA) and b (at positionB): on the straight
// line for a linear quantity, the mean for an averaged one, written with as many decimals as
// the longer of the two, rounded. The earlier neighbour's text, unchanged, when either is not
// a number.
QString estimatedValue(const QString& a, const QString& b, qint64 positionA, qint64 positionB, qint64 position,
                       InterpolationKind kind);

// later - earlier, rounded to `decimals`; empty when either is not a number.
QString consumption(const QString& earlier, const QString& later, int decimals = 2);
// later - earlier, with as many decimals as the longer of the two; empty when either is not a
// number.
QString difference(const QString& earlier, const QString& later);

// Fills the empty slots between slots with values, before the first one from a reading found
// before the period, and after the last one from a reading found after it (an invalid
// arcDate: none found). Only quantities present on both sides and estimated by their kind
// are filled.
void fillInnerGaps(QVector<PeriodSlot>* table, SlotStep step);
void fillLeadingGap(QVector<PeriodSlot>* table, const ArchiveRecord& before, SlotStep step);
void fillTrailingGap(QVector<PeriodSlot>* table, const ArchiveRecord& after, SlotStep step);

} // namespace orvela
