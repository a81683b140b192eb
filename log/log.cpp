#include "log/log.h"

#include <QCoreApplication>
#include <QDir>
#include <QRandomGenerator>

#include <sys/stat.h>
#include <unistd.h>

namespace tarn {

namespace {
constexpr int kLineWidth = 100;
constexpr int kFirstSuffix = 99;
constexpr int kLastCheckedSuffix = 11;
constexpr int kFallbackSuffix = 10;
// Records hold logins and addresses: files and folders for the owner and its group only.
constexpr mode_t kLogUmask = 027;

// 64 random bits: unique among the requests of many days, so that grep finds one request.
QString newRequestId()
{
    return QStringLiteral("%1").arg(QRandomGenerator::system()->generate64(), 16, 16, QLatin1Char('0'));
}

// The mask applies to what the log creates, then the process's own is back.
class LogUmask {
public:
    LogUmask() : m_previous(::umask(kLogUmask)) {}
    ~LogUmask() { ::umask(m_previous); }

private:
    mode_t m_previous;
};
} // namespace

Log::Log(QObject* parent, const QDateTime& startTime, const QString& directory, bool openNow,
         LogLayout layout)
    : QObject(parent),
      m_startTime(startTime.isValid() ? startTime : QDateTime::currentDateTime()),
      m_requestId(layout == LogLayout::PerProcessDay ? newRequestId() : QString()),
      m_layout(layout)
{
    QString base = directory.isEmpty() ? QDir::currentPath() : directory;
    base = QDir::toNativeSeparators(base);
    const QChar sep = QDir::separator();
    if (!base.endsWith(sep)) {
        base += sep;
    }
    m_directory = base + m_startTime.toString(QStringLiteral("yyyy")) + sep +
                  m_startTime.toString(QStringLiteral("MM")) + sep +
                  m_startTime.toString(QStringLiteral("dd")) + sep;
    if (openNow) {
        open(true);
    }
}

Log::~Log()
{
    if (!m_file.isOpen()) {
        return;
    }
    if (QCoreApplication::instance()) {
        QCoreApplication::processEvents();
    }
    const QDateTime now = m_startTime.offsetFromUtc() == 0 ? QDateTime::currentDateTimeUtc()
                                                          : QDateTime::currentDateTime();
    const qint64 elapsed = m_startTime.msecsTo(now);
    writeRecord(LogInfo, paddedLine(QObject::tr("----- Окончание. Время работы: ") +
                                    QString::number(elapsed) + QObject::tr(" мсек. -----")));
    m_file.close();
    emit closeFile(filePath());
}

QString Log::fileNameFor(const QDateTime& startTime, int suffix)
{
    return startTime.toString(QStringLiteral("HHmmsszzz")) +
           QStringLiteral("%1").arg(suffix, 2, 10, QLatin1Char('0')) + QStringLiteral(".log");
}

QString Log::processFileName()
{
    return QStringLiteral("process-%1.log").arg(::getpid());
}

// In the per-process layout the file is appended to, and each record is one write, so that
// a record is never split even if another process with the same id wrote to it meanwhile.
bool Log::createFile()
{
    if (m_layout == LogLayout::PerRequest) {
        return createRequestFile();
    }
    m_fileName = processFileName();
    m_file.setFileName(m_directory + m_fileName);
    return m_file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered);
}

// Processes started in the same millisecond race for one name: the file is created only if
// it does not exist yet, so that each of them gets a file of its own.
bool Log::createRequestFile()
{
    for (int suffix = kFirstSuffix; suffix >= kLastCheckedSuffix; --suffix) {
        m_fileName = fileNameFor(m_startTime, suffix);
        m_file.setFileName(m_directory + m_fileName);
        if (m_file.open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Text)) {
            return true;
        }
        if (!QFile::exists(m_file.fileName())) {
            return false;
        }
    }
    m_fileName = fileNameFor(m_startTime, kFallbackSuffix);
    m_file.setFileName(m_directory + m_fileName);
    return m_file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text);
}

bool Log::open(bool debug)
{
    m_debug = debug;
    if (m_file.isOpen()) {
        m_errorText = QObject::tr("Лог-файл уже открыт на запись.");
        return false;
    }
    const LogUmask mask;
    if (!QDir().mkpath(m_directory)) {
        m_errorText = QObject::tr("Не удалось создать каталог для лог-файла.");
        return false;
    }
    if (!createFile()) {
        m_errorText = QObject::tr("Не удалось создать лог-файл.");
        return false;
    }
    emit openFile(filePath());
    return writeRecord(LogInfo, paddedLine(QObject::tr("----- Начало работы -----")));
}

QString Log::paddedLine(const QString& text)
{
    return text.leftJustified(kLineWidth, QLatin1Char('-'));
}

QString Log::recordPrefix(const QTime& time, int type, const QString& requestId)
{
    const QString stamp = QLatin1Char('[') + time.toString(QStringLiteral("HH:mm:ss.zzz")) + QLatin1Char(']');
    if (requestId.isEmpty()) {
        return stamp + logTypeTag(type);
    }
    return stamp + QLatin1Char('[') + requestId + QLatin1Char(']') + logTypeTag(type);
}

QString Log::cappedDebugText(const QString& text)
{
    if (text.size() <= kMaxDebugRecordChars) {
        return text;
    }
    return text.left(kMaxDebugRecordChars) +
           QObject::tr(" ...[запись обрезана: показано %1 из %2 символов]")
               .arg(kMaxDebugRecordChars)
               .arg(text.size());
}

QTime Log::recordTime() const
{
    // The request passes its UTC start time; then records are stamped in UTC as well.
    return m_startTime.offsetFromUtc() == 0 ? QDateTime::currentDateTimeUtc().time()
                                           : QTime::currentTime();
}

void Log::onLog(LogType logType, const QString& text)
{
    if (logType != LogDebug) {
        writeRecord(logType, text);
    } else if (m_debug) {
        writeRecord(logType, cappedDebugText(text));
    }
}

bool Log::writeRecord(int type, const QString& text)
{
    if (!m_file.isOpen()) {
        m_errorText = QObject::tr("Лог-файл не открыт для записи.");
        return false;
    }
    const QString prefix = recordPrefix(recordTime(), type, m_requestId);
    QString lines;
    for (const QString& piece : text.split(QLatin1Char('\n'))) {
        lines += prefix + piece + QLatin1Char('\n');
    }
    const QByteArray bytes = lines.toUtf8();
    if (m_file.write(bytes) != bytes.size() || !m_file.flush()) {
        m_file.close();
        m_errorText = QObject::tr("Ошибка при записи в лог-файл.");
        emit closeFile(filePath());
        return false;
    }
    return true;
}

} // namespace tarn
