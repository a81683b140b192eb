#pragma once

#include "log/logtype.h"

#include <QDateTime>
#include <QFile>
#include <QObject>

namespace tarn {

// One log file per request, in a tree by date, named after the request's start time.
// Records arrive through onLog(); a failing log never stops the request, it only keeps
// the reason in errorText().
class Log : public QObject {
    Q_OBJECT
public:
    Log(QObject* parent, const QDateTime& startTime, const QString& directory, bool openNow);
    ~Log() override;

    bool isOpen() const { return m_file.isOpen(); }
    QString errorText() const { return m_errorText; }
    QString directory() const { return m_directory; }
    QString fileName() const { return m_fileName; }
    QString filePath() const { return m_directory + m_fileName; }
    QDateTime startTime() const { return m_startTime; }
    void setDebug(bool on) { m_debug = on; }

    bool open(bool debug);

    // The prefix "[HH:mm:ss.zzz][tag] " of a record written at the given moment.
    static QString recordPrefix(const QTime& time, int type);
    // A text padded on the right with "-" to 100 characters, as the opening and closing lines.
    static QString paddedLine(const QString& text);
    // The file name for a start time and a suffix, "HHmmsszzzNN.log".
    static QString fileNameFor(const QDateTime& startTime, int suffix);

public slots:
    void onLog(LogType logType, const QString& text);

signals:
    void openFile(const QString& path);
    void closeFile(const QString& path);

private:
    bool writeRecord(int type, const QString& text);
    QTime recordTime() const;
    bool createFile();

    QDateTime m_startTime;
    QString m_fileName;
    QString m_directory;
    QFile m_file;
    QString m_errorText;
    bool m_debug = true;
};

} // namespace tarn
