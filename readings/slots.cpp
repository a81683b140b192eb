#include "readings/slots.h"

#include "readings/decimaltext.h"

#include <cstdio>

namespace orvela {

namespace {

// Extra digits carried through a division before the result is rounded.
constexpr int kGuardDigits = 6;

// Adds the estimated values of one empty slot, between the readings `from` and `to`.
void estimateSlot(PeriodSlot* slot, const ArchiveRecord& from, qint64 fromPosition, const ArchiveRecord& to,
                  qint64 toPosition, SlotStep step)
{
    const qint64 position = slotPosition(slot->label, step);
    for (const ArchiveValue& a : from.values) {
        const InterpolationKind kind = interpolationKind(a.titleId);
        const int other = findSameQuantity(to.values, a);
        if (kind == InterpolationKind::None || other < 0 || findSameQuantity(slot->record.values, a) >= 0) {
            continue;
        }
        ArchiveValue estimate = a;
        estimate.val = estimatedValue(a.val, to.values.at(other).val, fromPosition, toPosition, position, kind);
        slot->record.values.append(estimate);
    }
}

void estimateBetween(QVector<PeriodSlot>* table, int first, int last, const ArchiveRecord& from,
                     qint64 fromPosition, const ArchiveRecord& to, qint64 toPosition, SlotStep step)
{
    for (int i = first; i <= last; ++i) {
        estimateSlot(&(*table)[i], from, fromPosition, to, toPosition, step);
    }
}

int firstWithValues(const QVector<PeriodSlot>& table)
{
    for (int i = 0; i < table.size(); ++i) {
        if (table.at(i).hasValues()) {
            return i;
        }
    }
    return -1;
}

int lastWithValues(const QVector<PeriodSlot>& table)
{
    for (int i = table.size() - 1; i >= 0; --i) {
        if (table.at(i).hasValues()) {
            return i;
        }
    }
    return -1;
}

} // namespace

InterpolationKind interpolationKind(int titleId)
{
    const auto in = [titleId](int low, int high) { return titleId >= low && titleId <= high; };
    if (in(1, 6) || titleId == 15 || titleId == 28 || titleId == 33 || in(37, 46) || titleId == 53 || titleId == 54) {
        return InterpolationKind::Linear;
    }
    if (in(9, 14) || titleId == 16 || titleId == 17 || in(29, 32) || in(34, 36) || titleId == 47 || titleId == 51 ||
        titleId == 52 || titleId == 58 || titleId == 59) {
        return InterpolationKind::Averaged;
    }
    return InterpolationKind::None;
}

int findSameQuantity(const QVector<ArchiveValue>& values, const ArchiveValue& value)
{
    for (int i = 0; i < values.size(); ++i) {
        const ArchiveValue& v = values.at(i);
        if (v.edId == value.edId && v.titleId == value.titleId && v.prefixNum == value.prefixNum &&
            v.postfixNum == value.postfixNum) {
            return i;
        }
    }
    return -1;
}

qint64 slotPosition(const QDateTime& time, SlotStep step)
{
    if (step == SlotStep::Hour) {
        return QDateTime(time.date(), QTime(time.time().hour(), 0), Qt::UTC).toSecsSinceEpoch() / 3600;
    }
    return time.date().toJulianDay();
}

QString estimatedValue(const QString& a, const QString& b, qint64 positionA, qint64 positionB, qint64 position,
                       InterpolationKind kind)
{
    DecimalText first;
    DecimalText second;
    if (!DecimalText::parse(a, &first) || !DecimalText::parse(b, &second)) {
        return a;
    }
    const int decimals = qMax(first.decimals(), second.decimals());
    if (kind == InterpolationKind::Averaged) {
        return first.plus(second).divided(2, decimals + kGuardDigits).rounded(decimals).toString();
    }
    const qint64 span = positionB - positionA;
    if (span <= 0) {
        return first.rounded(decimals).toString();
    }
    const DecimalText step = second.minus(first)
                                 .multiplied(DecimalText::fromInteger(position - positionA))
                                 .divided(static_cast<quint32>(span), decimals + kGuardDigits);
    return first.plus(step).rounded(decimals).toString();
}

QString slotTimeText(const QDateTime& time)
{
    if (!time.isValid()) {
        return QString();
    }
    const QDate date = time.date();
    const QTime clock = time.time();
    char text[20];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", date.year(), date.month(), date.day(), clock.hour(),
                  clock.minute(), clock.second());
    return QString::fromLatin1(text);
}

QString consumption(const QString& earlier, const QString& later, int decimals)
{
    DecimalText from;
    DecimalText to;
    if (!DecimalText::parse(earlier, &from) || !DecimalText::parse(later, &to)) {
        return QString();
    }
    return to.minus(from).rounded(decimals).toString();
}

QString difference(const QString& earlier, const QString& later)
{
    DecimalText from;
    DecimalText to;
    if (!DecimalText::parse(earlier, &from) || !DecimalText::parse(later, &to)) {
        return QString();
    }
    return to.minus(from).rounded(qMax(from.decimals(), to.decimals())).toString();
}

void fillInnerGaps(QVector<PeriodSlot>* table, SlotStep step)
{
    int previous = -1;
    for (int i = 0; i < table->size(); ++i) {
        if (!table->at(i).hasValues()) {
            continue;
        }
        if (previous >= 0 && i - previous > 1) {
            const PeriodSlot from = table->at(previous);
            const PeriodSlot to = table->at(i);
            estimateBetween(table, previous + 1, i - 1, from.record, slotPosition(from.label, step), to.record,
                            slotPosition(to.label, step), step);
        }
        previous = i;
    }
}

void fillLeadingGap(QVector<PeriodSlot>* table, const ArchiveRecord& before, SlotStep step)
{
    const int first = firstWithValues(*table);
    if (first <= 0 || !before.arcDate.isValid() || before.values.isEmpty()) {
        return;
    }
    const PeriodSlot to = table->at(first);
    estimateBetween(table, 0, first - 1, before, slotPosition(before.arcDate, step), to.record,
                    slotPosition(to.label, step), step);
}

void fillTrailingGap(QVector<PeriodSlot>* table, const ArchiveRecord& after, SlotStep step)
{
    const int last = lastWithValues(*table);
    if (last < 0 || last == table->size() - 1 || !after.arcDate.isValid() || after.values.isEmpty()) {
        return;
    }
    const PeriodSlot from = table->at(last);
    estimateBetween(table, last + 1, table->size() - 1, from.record, slotPosition(from.label, step), after,
                    slotPosition(after.arcDate, step), step);
}

} // namespace orvela
