#include "log/logretention.h"

#include <QDir>
#include <QFile>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace tarn {

namespace {

// The numbered sub-folders of a log folder ("2026", "07"...), with their numbers.
QList<QPair<int, QString>> numberedFolders(const QString& dir, int digits)
{
    QList<QPair<int, QString>> found;
    const QStringList names = QDir(dir).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString& name : names) {
        bool number = false;
        const int value = name.toInt(&number);
        if (number && name.size() == digits) {
            found.append({value, dir + QLatin1Char('/') + name});
        }
    }
    return found;
}

// The last sweep's time in seconds since the epoch, as the stamp holds it (0 when none).
qint64 readStamp(int fd)
{
    char text[32] = {};
    const ssize_t got = ::pread(fd, text, sizeof text - 1, 0);
    return got > 0 ? QByteArray(text, static_cast<int>(got)).trimmed().toLongLong() : 0;
}

void writeStamp(int fd, qint64 seconds)
{
    const QByteArray text = QByteArray::number(seconds) + '\n';
    if (::ftruncate(fd, 0) == 0) {
        [[maybe_unused]] const ssize_t written = ::pwrite(fd, text.constData(), static_cast<size_t>(text.size()), 0);
    }
}

} // namespace

QString LogRetention::stampFile(const QString& logDir)
{
    return QDir(logDir).filePath(QStringLiteral(".retention"));
}

int LogRetention::sweep(const QString& logDir, int keepDays, const QDate& todayUtc)
{
    const QDate firstKept = todayUtc.addDays(-keepDays);
    int removed = 0;
    for (const auto& year : numberedFolders(logDir, 4)) {
        for (const auto& month : numberedFolders(year.second, 2)) {
            for (const auto& day : numberedFolders(month.second, 2)) {
                const QDate date(year.first, month.first, day.first);
                if (date.isValid() && date < firstKept && QDir(day.second).removeRecursively()) {
                    ++removed;
                }
            }
            // Only months wholly before the first kept day: the current month's folder may be
            // empty for the instant between a request creating it and its day folder.
            if (QDate(year.first, month.first, 1).addMonths(1) <= firstKept) {
                QDir().rmdir(month.second); // fails, as it should, when not empty
            }
        }
        if (year.first < firstKept.year()) {
            QDir().rmdir(year.second);
        }
    }
    return removed;
}

bool LogRetention::sweepIfDue(const QString& logDir, int keepDays, const QDateTime& nowUtc)
{
    if (keepDays <= 0) {
        return false;
    }
    const int fd = ::open(QFile::encodeName(stampFile(logDir)).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0640);
    if (fd < 0) {
        return false;
    }
    // Another process sweeping now holds the lock: this one has nothing to do.
    bool swept = false;
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
        const qint64 now = nowUtc.toSecsSinceEpoch();
        const qint64 last = readStamp(fd);
        if (now - last >= kSweepIntervalSecs || now < last) {
            writeStamp(fd, now);
            sweep(logDir, keepDays, nowUtc.date());
            swept = true;
        }
        ::flock(fd, LOCK_UN);
    }
    ::close(fd);
    return swept;
}

} // namespace tarn
