#include "cgi/client/clientdates.h"

namespace client {

namespace {

const QString kDateFormat = QStringLiteral("yyyy-MM-dd");
const QString kTimeFormat = QStringLiteral("HH:mm:ss");

// Qt's reader also takes signs and single digits ("+2" for an hour): only a text written
// exactly in the format is a date the client meant.
QDate exactDate(const QString& text)
{
    const QDate date = QDate::fromString(text, kDateFormat);
    return date.isValid() && date.toString(kDateFormat) == text ? date : QDate();
}

QTime exactTime(const QString& text)
{
    const QTime time = QTime::fromString(text, kTimeFormat);
    return time.isValid() && time.toString(kTimeFormat) == text ? time : QTime();
}

} // namespace

bool withinClientYears(const QDate& date)
{
    return date.isValid() && date.year() >= kFirstClientYear && date.year() <= kLastClientYear;
}

QDate clientDate(const QString& text)
{
    const QDate date = exactDate(text.trimmed());
    return withinClientYears(date) ? date : QDate();
}

QDateTime clientDateTime(const QString& text)
{
    // Read in UTC from the start: a local reading would lose the hour that summer time skips.
    if (text.size() != 19 || text.at(10) != QLatin1Char(' ')) {
        return QDateTime();
    }
    const QDate date = exactDate(text.left(10));
    const QTime time = exactTime(text.mid(11));
    if (!withinClientYears(date) || !time.isValid()) {
        return QDateTime();
    }
    return QDateTime(date, time, Qt::UTC);
}

} // namespace client
