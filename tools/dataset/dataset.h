#pragma once

#include <QDateTime>
#include <QString>

#include <functional>

namespace orvela {
class Database;
}

namespace dataset {

// How much the data set holds. The first company gets `devices` meters, one house of
// `bigAddress` and one of `reportAddress` among them; the two others `others` each.
struct Size {
    quint32 seed = 1;
    int devices = 1000;
    int bigAddress = 200;
    int reportAddress = 50;
    int others = 200;
    int hourlyDays = 62;  // hourly readings back from the newest hour
    int dailyMonths = 13; // then one a day back to this many months
    QDateTime end;        // the newest hour of readings, UTC; invalid: the current hour

    // "tiny" for tests, "demo" for a first look (about a minute), "bench" for the benchmark.
    static bool preset(const QString& name, Size* size);
    // The sizes made consistent: houses no larger than the company, at least one meter each.
    Size normalised() const;
    QDateTime newestHour() const;
};

using Progress = std::function<void(const QString&)>;

// Whether the database holds no companies, addresses or devices yet; false on a failure too,
// with *error set.
bool isEmpty(orvela::Database& db, bool* empty, QString* error);

// Fills an empty database whose schema is in place, creating the yearly tables the readings
// need. Each step reports its name and time through progress.
bool load(orvela::Database& db, const Size& size, const Progress& progress, QString* error);

} // namespace dataset
