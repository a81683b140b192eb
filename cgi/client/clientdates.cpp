#include "cgi/client/clientdates.h"

namespace client {

bool withinClientYears(const QDate& date)
{
    return date.isValid() && date.year() >= kFirstClientYear && date.year() <= kLastClientYear;
}

QDate clientDate(const QString& text)
{
    const QDate date = QDate::fromString(text.trimmed(), QStringLiteral("yyyy-MM-dd"));
    return withinClientYears(date) ? date : QDate();
}

QDateTime clientDateTime(const QString& text)
{
    // Read in UTC from the start: a local reading would lose the hour that summer time skips.
    if (text.size() != 19 || text.at(10) != QLatin1Char(' ')) {
        return QDateTime();
    }
    const QDate date = QDate::fromString(text.left(10), QStringLiteral("yyyy-MM-dd"));
    const QTime time = QTime::fromString(text.mid(11), QStringLiteral("HH:mm:ss"));
    if (!withinClientYears(date) || !time.isValid()) {
        return QDateTime();
    }
    return QDateTime(date, time, Qt::UTC);
}

} // namespace client
