// The date readers of the reading commands: a date they accept lies in the accepted years, and
// every slot anchor and yearly table a period around it reaches is a valid date in a
// four-digit year; it reads again from its own text.
#include "cgi/client/clientdates.h"
#include "fuzz/fuzzcheck.h"
#include "readings/archiverecord.h"

namespace {

void checkPeriodAround(const QDate& date)
{
    FUZZ_CHECK(client::withinClientYears(date));
    // A year's table starts from the 25th of the December before; a month's from its first.
    FUZZ_CHECK(QDate(date.year() - 1, 12, 25).isValid());
    const QDate monthStart(date.year(), date.month(), 1);
    FUZZ_CHECK(monthStart.addMonths(1).addDays(-1).isValid());
    // The widest reach of any table around a date: a year's months from the 25th of the
    // December before, and two months (62 days) either way for the readings that estimates
    // start from; a day more for the shift of an address.
    for (const QDate& reach : {QDate(date.year() - 1, 12, 25).addDays(-63), QDate(date.year(), 12, 31).addDays(63)}) {
        FUZZ_CHECK(reach.isValid());
        FUZZ_CHECK(reach.year() >= 1 && reach.year() <= 9999);
        FUZZ_CHECK(orvela::archiveTableName(reach.year()).size() == 16);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString text = QString::fromUtf8(fuzzBytes(data, size));
    const QDate date = client::clientDate(text);
    if (date.isValid()) {
        checkPeriodAround(date);
        FUZZ_CHECK(date.toString(QStringLiteral("yyyy-MM-dd")) == text.trimmed());
    }
    const QDateTime time = client::clientDateTime(text);
    if (time.isValid()) {
        FUZZ_CHECK(time.timeSpec() == Qt::UTC);
        checkPeriodAround(time.date());
        FUZZ_CHECK(time.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) == text);
    }
    return 0;
}
