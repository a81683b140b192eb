#include "app/serverconfig.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>

namespace orvela {

namespace {

// QByteArray holds at most 2 GB; the body and its decoded copies must fit.
constexpr qint64 kLargestBodyMb = 512;
constexpr qint64 kLargestAnswerMb = 1024;

QString withTrailingSeparator(const QString& path)
{
    QString native = QDir::toNativeSeparators(path);
    if (!native.endsWith(QDir::separator())) {
        native += QDir::separator();
    }
    return native;
}

// Text keys: the INI reader turns an unquoted value with a comma into a list; joining it back
// keeps a password such as a,b intact.
QString textValue(const QSettings& settings, const QString& key, const QString& fallback)
{
    const QVariant value = settings.value(key, fallback);
    if (value.userType() == QMetaType::QStringList) {
        return value.toStringList().join(QLatin1Char(','));
    }
    return value.toString();
}

} // namespace

QString ServerConfig::baseDirectoryFor(const QString& programDir)
{
    QString base = withTrailingSeparator(programDir);
    const QString binDir = QDir::toNativeSeparators(QStringLiteral("/bin/"));
    if (base.right(5) == binDir) {
        base.chop(4);
    }
    return base;
}

QString ServerConfig::pathFileFor(const QString& baseDir)
{
    return baseDir + QStringLiteral("cnf/orvela.cnf");
}

QString ServerConfig::serverFileFor(const QString& workingDir)
{
    return workingDir + QStringLiteral("cnf") + QDir::separator() + QStringLiteral("server.cnf");
}

QString ServerConfig::workingDirectoryFor(const QString& baseDir)
{
    QSettings pathFile(pathFileFor(baseDir), QSettings::IniFormat);
    pathFile.setIniCodec("UTF-8");
    const QString path = textValue(pathFile, QStringLiteral("orvela/PATH"), baseDir);
    if (!path.isEmpty() && QFileInfo(path).isDir()) {
        return withTrailingSeparator(path);
    }
    return baseDir;
}

const std::vector<ConfigKey>& ServerConfig::serverKeys()
{
    static const std::vector<ConfigKey> keys = {
        {"server", "localhost",
         "PostgreSQL host, or several separated by commas: changes go to the first that accepts "
         "writes, so a promoted standby in the list takes over without a change here"},
        {"port", "5432", "PostgreSQL port, or one per host of `server` separated by commas"},
        {"db", "orvela", "database name"},
        {"user", "orvela", "database role"},
        {"password", "granite", "its password"},
        {"log", "true", "write the request log under `log/` of the working directory"},
        {"log_layout", "request",
         "`request`: one file per request, `log/YYYY/MM/DD/HHmmsszzzNN.log`; `process`: one file per "
         "process and UTC day, `log/YYYY/MM/DD/process-PID.log`, each line carrying the request's id "
         "(16 hex digits) after its time, for the persistent mode at high request rates"},
        {"log_keep_days", "0",
         "days of logs to keep (0: all); the day folders dated more than this many days before today "
         "(UTC) are removed, and the month and year folders they leave empty, at most once an hour, "
         "after a request has been answered"},
        {"dbg", "false",
         "add debug records (request headers, parameters, body blocks, the answer); passwords and "
         "tokens are masked, in parameters, cookies and headers of their names; a record holds at "
         "most 16,384 characters and the first 16 KB of the body, the cut marked"},
        {"get_enable", "true", "accept GET requests (code 25 otherwise)"},
        {"https_only", "false", "refuse requests without the CGI variable `HTTPS` (code 130)"},
        {"key", "quartz", "key text of the `Auth` token cipher; changing it invalidates every token"},
        {"key_file", "",
         "a file whose first line is the key text, in place of `key` (a relative path is under the "
         "working directory); the package keeps its random key in `/var/lib/orvela/token.key`"},
        {"query_timeout", "120",
         "longest run of one SQL statement, in seconds (0: no limit), set near the web server's own "
         "time limit so that no statement outlives its request by far; connecting gives up after 10 s"},
        {"read_timeout", "90",
         "stored, not used (the body is read with fixed limits: 60 s without data, 300 s in all)"},
        {"max_body_mb", "16",
         "largest request body in megabytes (1 to 512); a longer one is refused with code 208 before "
         "it is read, and one request then needs at most about eight times this in memory"},
        {"max_answer_mb", "64",
         "largest answer in megabytes (1 to 1024); a request whose rows would pass it is refused "
         "with code 330 and a `text` saying how to narrow it, so one request holds at most about "
         "this much answer in memory"},
        {"read_server", "",
         "hosts of hot standbys for commands that change nothing, separated by commas (a standby "
         "is preferred, any listed server will do); empty: everything runs on `server`. User, "
         "password and database are those of `server`"},
        {"read_port", "", "port of `read_server`, or one per host; empty: that of `port`"},
        {"read_lag_max", "30",
         "seconds a reading server may lag behind the primary; one that lags more, or cannot be "
         "reached, is passed over for the primary. A change waits up to this long for the reading "
         "servers to apply it, so that the next request reads it back"},
    };
    return keys;
}

namespace {

// The default of a server-file key; the table above is the one place that names it.
QString defaultOf(const char* name)
{
    for (const ConfigKey& key : ServerConfig::serverKeys()) {
        if (qstrcmp(key.name, name) == 0) {
            return QString::fromLatin1(key.defaultValue);
        }
    }
    return QString();
}

QVariant valueOf(const QSettings& file, const char* name)
{
    return file.value(QStringLiteral("orvela/") + QLatin1String(name), defaultOf(name));
}

QString textOf(const QSettings& file, const char* name)
{
    return textValue(file, QStringLiteral("orvela/") + QLatin1String(name), defaultOf(name));
}

} // namespace

// The key may live in a file of its own, so that the server file can be a file the operator
// edits while the key stays where it was made.
static void readKeyFile(const QString& path, ServerConfig* config)
{
    if (path.isEmpty()) {
        return;
    }
    config->keyFile = QDir::isAbsolutePath(path) ? path : config->workingDir + path;
    QFile file(config->keyFile);
    const QString key = file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readLine()).trimmed() : QString();
    config->keyFileRead = !key.isEmpty();
    if (config->keyFileRead) {
        config->keyText = key;
    }
}

ServerConfig ServerConfig::load(const QString& programDir)
{
    ServerConfig config;
    config.baseDir = baseDirectoryFor(programDir);
    config.workingDir = workingDirectoryFor(config.baseDir);

    QSettings file(serverFileFor(config.workingDir), QSettings::IniFormat);
    file.setIniCodec("UTF-8");
    config.dbHost = textOf(file, "server");
    config.dbName = textOf(file, "db");
    config.dbUser = textOf(file, "user");
    config.dbPassword = textOf(file, "password");
    const QString ports = textOf(file, "port");
    config.dbPort = ports.section(QLatin1Char(','), 0, 0).toInt();
    if (ports.contains(QLatin1Char(','))) {
        config.dbPortList = ports;
    }
    config.logEnabled = valueOf(file, "log").toBool();
    config.logPerProcess = textOf(file, "log_layout").trimmed().toLower() == QStringLiteral("process");
    config.logKeepDays = qMax(0, valueOf(file, "log_keep_days").toInt());
    config.debug = valueOf(file, "dbg").toBool();
    config.getEnabled = valueOf(file, "get_enable").toBool();
    config.httpsOnly = valueOf(file, "https_only").toBool();
    config.keyText = textOf(file, "key");
    readKeyFile(textOf(file, "key_file").trimmed(), &config);
    config.queryTimeout = static_cast<quint16>(valueOf(file, "query_timeout").toInt());
    config.readTimeout = static_cast<quint16>(valueOf(file, "read_timeout").toInt());
    // Megabytes; a value that is no positive number keeps the default.
    const qint64 bodyMb = valueOf(file, "max_body_mb").toLongLong();
    if (bodyMb > 0 && bodyMb <= kLargestBodyMb) {
        config.maxBodyBytes = bodyMb * 1024 * 1024;
    }
    const qint64 answerMb = valueOf(file, "max_answer_mb").toLongLong();
    config.readHost = textOf(file, "read_server").trimmed();
    config.readPort = textOf(file, "read_port").trimmed();
    if (config.readPort.isEmpty()) {
        config.readPort = config.primaryPorts();
    }
    const int lagMax = valueOf(file, "read_lag_max").toInt();
    config.readLagMax = lagMax > 0 ? lagMax : defaultOf("read_lag_max").toInt();
    config.maxAnswerBytes = (answerMb > 0 && answerMb <= kLargestAnswerMb ? answerMb : defaultOf("max_answer_mb").toLongLong()) *
                            1024 * 1024;
    return config;
}

} // namespace orvela
