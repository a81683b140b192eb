#include "log/log.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

#include "support/qtprinters.h"

#include <gtest/gtest.h>

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
    EXPECT_TRUE(QRegularExpression(R"(^\[\d\d:\d\d:\d\d\.\d{3}\]\[inf\] ----- Начало работы -+$)")
                    .match(lines[0]).hasMatch()) << qPrintable(lines[0]);
    EXPECT_EQ(lines[0].size(), 20 + 100);
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

TEST(Log, FailuresKeepTheirReasonAndWriteNothing)
{
    QTemporaryDir dir;
    QFile blocker(dir.path() + "/file");
    blocker.open(QIODevice::WriteOnly);
    tarn::Log log(nullptr, kStart, dir.path() + "/file", true);
    EXPECT_FALSE(log.isOpen());
    EXPECT_EQ(log.errorText(), QStringLiteral("Не удалось создать каталог для лог-файла."));
    log.onLog(LogInfo, "lost");
    EXPECT_EQ(log.errorText(), QStringLiteral("Лог-файл не открыт для записи."));

    tarn::Log open(nullptr, kStart, dir.path(), true);
    EXPECT_FALSE(open.open(true));
    EXPECT_EQ(open.errorText(), QStringLiteral("Лог-файл уже открыт на запись."));
}

} // namespace
