#pragma once

#include <QDate>
#include <QDateTime>
#include <QString>

namespace client {

// The days a client may name in a command that reads readings. A period's slots, the search
// for estimates around it and the yearly tables it reads reach up to a year and two months
// beyond the days named, so the bounds keep every one of them a valid date in a four-digit
// year: year 1 would need slots of year 0, which does not exist, and 9999 tables of 10000.
constexpr int kFirstClientYear = 1900;
constexpr int kLastClientYear = 9998;

// A date "yyyy-MM-dd" (blanks around it ignored) within the bounds, else an invalid date.
QDate clientDate(const QString& text);
// A time "yyyy-MM-dd HH:mm:ss" within the bounds, in UTC, else an invalid time.
QDateTime clientDateTime(const QString& text);
bool withinClientYears(const QDate& date);

} // namespace client
