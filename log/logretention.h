#pragma once

#include <QDate>
#include <QDateTime>
#include <QString>

namespace tarn {

// Removes the day folders of the log tree (YYYY/MM/DD) that are older than the days to keep,
// and the month and year folders they leave empty. Many processes share one tree: a stamp
// file in it, taken under an exclusive lock, makes sure that one of them sweeps at most once
// an hour and that the others go on at once.
class LogRetention {
public:
    static constexpr qint64 kSweepIntervalSecs = 3600;

    // Sweeps when keepDays > 0 and no process swept within the interval before now.
    // Returns whether this call swept.
    static bool sweepIfDue(const QString& logDir, int keepDays, const QDateTime& nowUtc);
    // Removes every day folder dated before today - keepDays (today and the keepDays days
    // before it stay). Returns how many day folders it removed.
    static int sweep(const QString& logDir, int keepDays, const QDate& todayUtc);
    static QString stampFile(const QString& logDir);
};

} // namespace tarn
