#pragma once

#include "log/logtype.h"

#include <QDateTime>
#include <QFile>
#include <QObject>

namespace tarn {

// Where a request's records go. PerRequest: a file of its own, named after the request's
// start time. PerProcessDay: the file of the process for the UTC day of the request's start,
// shared by all its requests, each record carrying the request's id; at high request rates
// a file per request would use up the disk's inodes.
enum class LogLayout { PerRequest, PerProcessDay };

// One request's log, in a tree by date. Records arrive through onLog(); a failing log never
// stops the request, it only keeps the reason in errorText().
class Log : public QObject {
    Q_OBJECT
public:
    // A debug record may carry a whole request body; longer ones are cut to this many
    // characters and say so.
    static constexpr int kMaxDebugRecordChars = 16384;

    Log(QObject* parent, const QDateTime& startTime, const QString& directory, bool openNow,
        LogLayout layout = LogLayout::PerRequest);
    ~Log() override;

    bool isOpen() const { return m_file.isOpen(); }
    QString errorText() const { return m_errorText; }
    QString directory() const { return m_directory; }
    QString fileName() const { return m_fileName; }
    QString filePath() const { return m_directory + m_fileName; }
    QDateTime startTime() const { return m_startTime; }
    // Empty in the per-request layout, where the file itself names the request.
    QString requestId() const { return m_requestId; }
    void setDebug(bool on) { m_debug = on; }

    bool open(bool debug);

    // The prefix "[HH:mm:ss.zzz][tag] " of a record written at the given moment.
    static QString recordPrefix(const QTime& time, int type, const QString& requestId = QString());
    // A debug record's text as written: at most kMaxDebugRecordChars characters, the cut marked.
    static QString cappedDebugText(const QString& text);
    // A text padded on the right with "-" to 100 characters, as the opening and closing lines.
    static QString paddedLine(const QString& text);
    // The file name for a start time and a suffix, "HHmmsszzzNN.log".
    static QString fileNameFor(const QDateTime& startTime, int suffix);
    // The file of this process in the per-process layout.
    static QString processFileName();

public slots:
    void onLog(LogType logType, const QString& text);

signals:
    void openFile(const QString& path);
    void closeFile(const QString& path);

private:
    bool writeRecord(int type, const QString& text);
    QTime recordTime() const;
    bool createFile();
    bool createRequestFile();

    QDateTime m_startTime;
    QString m_fileName;
    QString m_directory;
    QFile m_file;
    QString m_errorText;
    QString m_requestId;
    LogLayout m_layout;
    bool m_debug = true;
};

} // namespace tarn
