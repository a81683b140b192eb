#include "app/serverconfig.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>

namespace orvela {

namespace {

// QByteArray holds at most 2 GB; the body and its decoded copies must fit.
constexpr qint64 kLargestBodyMb = 512;

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

ServerConfig ServerConfig::load(const QString& programDir)
{
    ServerConfig config;
    config.baseDir = baseDirectoryFor(programDir);
    config.workingDir = workingDirectoryFor(config.baseDir);

    QSettings file(serverFileFor(config.workingDir), QSettings::IniFormat);
    file.setIniCodec("UTF-8");
    config.dbHost = textValue(file, QStringLiteral("orvela/server"), QStringLiteral("localhost"));
    config.dbName = textValue(file, QStringLiteral("orvela/db"), QStringLiteral("orvela"));
    config.dbUser = textValue(file, QStringLiteral("orvela/user"), QStringLiteral("orvela"));
    config.dbPassword = textValue(file, QStringLiteral("orvela/password"), QStringLiteral("granite"));
    config.dbPort = file.value(QStringLiteral("orvela/port"), 5432).toInt();
    config.logEnabled = file.value(QStringLiteral("orvela/log"), true).toBool();
    config.debug = file.value(QStringLiteral("orvela/dbg"), false).toBool();
    config.getEnabled = file.value(QStringLiteral("orvela/get_enable"), true).toBool();
    config.httpsOnly = file.value(QStringLiteral("orvela/https_only"), false).toBool();
    config.keyText = textValue(file, QStringLiteral("orvela/key"), QStringLiteral("quartz"));
    config.queryTimeout =
        static_cast<quint16>(file.value(QStringLiteral("orvela/query_timeout"), 900).toInt());
    config.readTimeout =
        static_cast<quint16>(file.value(QStringLiteral("orvela/read_timeout"), 90).toInt());
    // Megabytes; a value that is no positive number keeps the default.
    const qint64 bodyMb = file.value(QStringLiteral("orvela/max_body_mb"), 16).toLongLong();
    if (bodyMb > 0 && bodyMb <= kLargestBodyMb) {
        config.maxBodyBytes = bodyMb * 1024 * 1024;
    }
    return config;
}

} // namespace orvela
