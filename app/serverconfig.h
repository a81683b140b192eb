#pragma once

#include <QString>

#include <vector>

namespace orvela {

// One key of the server file: its name in group "orvela", its default as the file would
// write it, and what it means (for the reference the program prints).
struct ConfigKey {
    const char* name;
    const char* defaultValue;
    const char* meaning;
};

// The server configuration, read once per request from the path file and the server file.
struct ServerConfig {
    QString baseDir;    // program directory (its parent when it is a "bin" directory)
    QString workingDir; // "orvela/PATH" of the path file when it names a directory
    QString dbHost;     // one host, or several separated by commas (tried in order)
    QString dbPortList; // "port" as written when it names several ports; empty for one
    QString dbName;
    QString dbUser;
    QString dbPassword;
    int dbPort = 5432;
    bool logEnabled = true;
    bool logPerProcess = false; // "orvela/log_layout" = process
    int logKeepDays = 0;        // "orvela/log_keep_days"; 0 keeps every day
    bool debug = false;
    bool getEnabled = true;
    bool httpsOnly = false;
    QString keyText;
    QString keyFile;         // "orvela/key_file", absolute; empty when not set
    bool keyFileRead = true; // false when key_file is set but could not be read
    quint16 queryTimeout = 120;
    quint16 readTimeout = 90;
    qint64 maxBodyBytes = 16 * 1024 * 1024; // "orvela/max_body_mb"
    qint64 maxAnswerBytes = 64 * 1024 * 1024; // "orvela/max_answer_mb"
    // The servers commands that change nothing read from; none when readHost is empty.
    QString readHost;
    QString readPort;
    int readLagMax = 30; // seconds a reading server may lag before the primary reads instead

    bool readingServersSet() const { return !readHost.isEmpty(); }
    // The ports of the primary's hosts as libpq takes them: one, or a list.
    QString primaryPorts() const { return dbPortList.isEmpty() ? QString::number(dbPort) : dbPortList; }

    QString logDir() const { return workingDir + QStringLiteral("log"); }

    // Reads both files for a program living in programDir; missing files and keys give defaults.
    static ServerConfig load(const QString& programDir);
    // Every key of the server file, in the order the reference lists them.
    static const std::vector<ConfigKey>& serverKeys();

    // The base directory of a program directory: native separators, a trailing separator, and
    // a trailing "bin" directory replaced by its parent.
    static QString baseDirectoryFor(const QString& programDir);
    // The working directory named by the path file under baseDir, or baseDir itself.
    static QString workingDirectoryFor(const QString& baseDir);
    static QString pathFileFor(const QString& baseDir);
    static QString serverFileFor(const QString& workingDir);
};

} // namespace orvela
