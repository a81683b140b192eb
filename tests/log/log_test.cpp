#include "log/log.h"
#include "log/logretention.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

#include "support/qtprinters.h"

#include <gtest/gtest.h>

#include <sys/file.h>
#include <sys/stat.h>
#include <fcntl.h>
#include <unistd.h>

namespace {

QStringList readLines(const QString& path)
{
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    return QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
}

const QDateTime kStart(QDate(2021, 7, 15), QTime(23, 59, 59, 990), Qt::UTC);

TEST(Log, FileLivesInTheDatedTreeOfItsStartAndIsNamedAfterIt)
{
    QTemporaryDir dir;
    QString path;
    {
        tarn::Log log(nullptr, kStart, dir.path() + "/log", true);
        ASSERT_TRUE(log.isOpen()) << qPrintable(log.errorText());
        path = log.filePath();
        EXPECT_EQ(log.directory(), dir.path() + "/log/2021/07/15/");
        EXPECT_EQ(log.fileName(), "23595999099.log");
    }
    const QStringList lines = readLines(path);
    ASSERT_EQ(lines.size(), 2);
    EXPECT_EQ(lines[0].mid(14), QStringLiteral("[inf] ----- Начало работы ") + QString(80, '-'));
    EXPECT_TRUE(QRegularExpression(R"(\[inf\] ----- Окончание\. Время работы: \d+ мсек\. -+$)")
                    .match(lines[1]).hasMatch()) << qPrintable(lines[1]);
}

TEST(Log, SuffixCountsDownForProcessesStartedInTheSameMillisecond)
{
    QTemporaryDir dir;
    tarn::Log first(nullptr, kStart, dir.path(), true);
    tarn::Log second(nullptr, kStart, dir.path(), true);
    EXPECT_TRUE(first.fileName().endsWith("99.log"));
    EXPECT_TRUE(second.fileName().endsWith("98.log"));
    for (int suffix = 97; suffix >= 11; --suffix) {
        QFile(first.directory() + tarn::Log::fileNameFor(kStart, suffix)).open(QIODevice::WriteOnly);
    }
    tarn::Log last(nullptr, kStart, dir.path(), true);
    EXPECT_TRUE(last.fileName().endsWith("10.log"));
}

TEST(Log, RecordsSplitIntoLinesAndDebugRecordsFollowTheFlag)
{
    QTemporaryDir dir;
    QString path;
    {
        tarn::Log log(nullptr, QDateTime::currentDateTimeUtc(), dir.path(), true);
        path = log.filePath();
        log.onLog(LogError, "a\n\nb");
        log.onLog(LogDebug, "shown");
        log.setDebug(false);
        log.onLog(LogDebug, "dropped");
        log.onLog(static_cast<LogType>(9), "untagged");
        log.onLog(LogText, "Текст");
    }
    QStringList lines = readLines(path);
    ASSERT_EQ(lines.size(), 8);
    for (QString& line : lines) {
        line = line.mid(14); // drop "[HH:mm:ss.zzz]"
    }
    EXPECT_EQ(lines.mid(1, 6), (QStringList{"[err] a", "[err] ", "[err] b", "[dbg] shown", "untagged",
                                            QStringLiteral("[txt] Текст")}));
}

// The high-rate layout: the requests of one process and day share one file, each line names
// its request, and nobody but the owner and its group reads the file.
TEST(Log, PerProcessLayoutSharesADayFileAndMarksEachLineWithTheRequest)
{
    QTemporaryDir dir;
    QString ids[2];
    QString path;
    for (QString& id : ids) {
        tarn::Log log(nullptr, kStart, dir.path(), true, tarn::LogLayout::PerProcessDay);
        ASSERT_TRUE(log.isOpen()) << qPrintable(log.errorText());
        path = log.filePath();
        EXPECT_EQ(log.directory(), dir.path() + "/2021/07/15/");
        EXPECT_EQ(log.fileName(), QStringLiteral("process-%1.log").arg(::getpid()));
        id = log.requestId();
        // The first process writes a record of the largest size whole, the second one past it.
        log.onLog(LogDebug, QString(tarn::Log::kMaxDebugRecordChars + (&id == &ids[1]), 'x'));
    }
    EXPECT_NE(ids[0], ids[1]);
    const QStringList lines = readLines(path);
    ASSERT_EQ(lines.size(), 6);
    const QRegularExpression record(R"(^\[\d\d:\d\d:\d\d\.\d{3}\]\[([0-9a-f]{16})\]\[(inf|dbg)\] )");
    for (int i = 0; i < lines.size(); ++i) {
        EXPECT_EQ(record.match(lines[i]).captured(1), ids[i / 3]) << qPrintable(lines[i]);
    }
    EXPECT_TRUE(
        lines[1].endsWith(QStringLiteral("] ") + QString(tarn::Log::kMaxDebugRecordChars, 'x')))
        << "cut";
    EXPECT_TRUE(lines[4].endsWith(
        QString(tarn::Log::kMaxDebugRecordChars, 'x') +
        QStringLiteral(" ...[запись обрезана: показано 16384 из 16385 символов]")));
    struct stat info {};
    ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u);
}

// Folders of a tree by date, relative to the log folder.
void makeFolders(const QString& root, const QStringList& folders)
{
    for (const QString& folder : folders) {
        ASSERT_TRUE(QDir().mkpath(root + '/' + folder));
        QFile(root + '/' + folder + "/x.log").open(QIODevice::WriteOnly);
    }
}

QStringList foldersLeft(const QString& root)
{
    QStringList left;
    QDirIterator it(root, QDir::Dirs | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        left << it.next().mid(root.size() + 1);
    }
    left.sort();
    return left;
}

// Keeping 2 days on 2027-01-01 keeps 2026-12-30 and later: the day before goes, and with it
// the month and year folders it empties; the current month and foreign folders stay.
TEST(LogRetention, RemovesExactlyTheOldDaysAndTheFoldersTheyEmpty)
{
    QTemporaryDir dir;
    makeFolders(dir.path(), {"2025/02/28", "2026/11/30", "2026/12/29", "2026/12/30", "2026/12/31",
                             "2027/01/01", "2026/12/notes"});
    QDir().mkpath(dir.path() + "/2026/10");
    EXPECT_EQ(tarn::LogRetention::sweep(dir.path(), 2, QDate(2027, 1, 1)), 3);
    EXPECT_EQ(foldersLeft(dir.path()), (QStringList{"2026", "2026/12", "2026/12/30", "2026/12/31", "2026/12/notes",
                                                    "2027", "2027/01", "2027/01/01"}));
}

// One sweep an hour among all processes; a process that finds another sweeping goes on.
TEST(LogRetention, SweepsAtMostHourlyAndNeverBesideAnother)
{
    QTemporaryDir dir;
    const QDateTime now(QDate(2027, 1, 10), QTime(12, 0), Qt::UTC);
    makeFolders(dir.path(), {"2027/01/01"});
    EXPECT_FALSE(tarn::LogRetention::sweepIfDue(dir.path(), 0, now)) << "0 keeps every day";

    const int other = ::open(QFile::encodeName(tarn::LogRetention::stampFile(dir.path())).constData(),
                             O_RDWR | O_CREAT, 0640);
    ASSERT_EQ(::flock(other, LOCK_EX), 0);
    EXPECT_FALSE(tarn::LogRetention::sweepIfDue(dir.path(), 3, now)) << "another process sweeps";
    ::close(other);

    EXPECT_TRUE(tarn::LogRetention::sweepIfDue(dir.path(), 3, now));
    EXPECT_FALSE(QDir(dir.path() + "/2027/01/01").exists());
    makeFolders(dir.path(), {"2027/01/02"});
    EXPECT_FALSE(tarn::LogRetention::sweepIfDue(dir.path(), 3, now.addSecs(3599)));
    EXPECT_TRUE(tarn::LogRetention::sweepIfDue(dir.path(), 3, now.addSecs(3600)));
    EXPECT_FALSE(QDir(dir.path() + "/2027/01/02").exists());
}

} // namespace
