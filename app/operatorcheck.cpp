#include "app/operatorcheck.h"

#include "app/resultcodes.h"
#include "app/serverconfig.h"
#include "db/database.h"
#include "db/schema.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QSqlDatabase>

#include <cstdio>
#include <unistd.h>

namespace orvela {

namespace {

const char kDefaultKey[] = "quartz";

bool writableFolder(const QString& path)
{
    return QFileInfo(path).isDir() && ::access(QFile::encodeName(path).constData(), W_OK | X_OK) == 0;
}

} // namespace

bool OperatorCheck::wanted(const QStringList& arguments)
{
    return arguments.size() >= 2 && arguments.at(1) == QStringLiteral("--check");
}

void OperatorCheck::checkFiles(const ServerConfig& config, Findings* findings)
{
    const QString pathFile = ServerConfig::pathFileFor(config.baseDir);
    if (QFileInfo(pathFile).isReadable()) {
        findings->ok(QStringLiteral("path file %1: working directory %2").arg(pathFile, config.workingDir));
    } else {
        findings->warn(QStringLiteral("no readable path file %1: the working directory is the base directory %2")
                           .arg(pathFile, config.baseDir));
    }
    const QString serverFile = ServerConfig::serverFileFor(config.workingDir);
    if (QFileInfo(serverFile).isReadable()) {
        findings->ok(QStringLiteral("server file %1").arg(serverFile));
    } else {
        findings->problem(QStringLiteral("server file %1 missing or unreadable for this user: every key has its "
                                         "default; create it, readable by the service's group")
                              .arg(serverFile));
    }
}

void OperatorCheck::checkSettings(const ServerConfig& config, Findings* findings)
{
    if (!config.keyFileRead) {
        findings->problem(QStringLiteral("key_file %1 is missing, empty or unreadable for this user: make it "
                                         "(one line of random text) readable by the service's group")
                              .arg(config.keyFile));
    } else if (config.keyText == QLatin1String(kDefaultKey) || config.keyText.isEmpty()) {
        findings->problem(QStringLiteral("the token key is the public default: set `key` (or `key_file`) to a "
                                         "random text, e.g. `openssl rand -hex 32`"));
    } else {
        findings->ok(QStringLiteral("the token key is not the default"));
    }
    if (config.getEnabled) {
        findings->warn(QStringLiteral("get_enable=true: tokens and passwords in query strings reach web server "
                                      "logs; set get_enable=false unless a client needs GET"));
    }
    if (!config.httpsOnly) {
        findings->warn(QStringLiteral("https_only=false: a public service should set https_only=true and "
                                      "serve over TLS"));
    }
}

void OperatorCheck::checkFolders(const ServerConfig& config, Findings* findings)
{
    const QString logDir = config.logDir();
    if (!config.logEnabled) {
        findings->warn(QStringLiteral("log=false: requests leave no log"));
    } else if (writableFolder(logDir)) {
        findings->ok(QStringLiteral("log folder %1 is writable").arg(logDir));
    } else {
        findings->problem(QStringLiteral("log folder %1 is missing or not writable for this user; run the check "
                                         "as the service's user").arg(logDir));
    }
    const QString pictures = config.baseDir + QStringLiteral("images/avatar/");
    if (writableFolder(pictures)) {
        findings->ok(QStringLiteral("picture folder %1 is writable").arg(pictures));
    } else {
        findings->problem(QStringLiteral("picture folder %1 is missing or not writable for this user").arg(pictures));
    }
}

void OperatorCheck::checkDatabase(const ServerConfig& config, Findings* findings)
{
    const QString where = config.dbHost.isEmpty() || config.dbHost.startsWith(QLatin1Char('/'))
                              ? QStringLiteral("Unix socket %1").arg(config.dbHost.isEmpty() ? QStringLiteral("(default folder)") : config.dbHost)
                              : QStringLiteral("%1:%2").arg(config.dbHost).arg(config.dbPort);
    {
        Database db;
        QString error;
        if (!db.open(config, &error)) {
            findings->problem(QStringLiteral("database %1 as %2 at %3: %4; create the role and the database it "
                                             "owns, and set server, port, user and password")
                                  .arg(config.dbName, config.dbUser, where, error.trimmed()));
        } else {
            findings->ok(QStringLiteral("database %1 as %2 at %3").arg(config.dbName, config.dbUser, where));
            const quint16 code = Schema::check(db, QDateTime::currentDateTimeUtc().date().year());
            if (code == 0) {
                findings->ok(QStringLiteral("schema up to date"));
            } else {
                findings->problem(QStringLiteral("schema check failed (code %1: %2); the role must own the database")
                                      .arg(code)
                                      .arg(resultCodeText(code)));
            }
            db.close();
        }
    } // the connection is removed with its Database
}

int OperatorCheck::run()
{
    const ServerConfig config = ServerConfig::load(QCoreApplication::applicationDirPath());
    Findings findings;
    checkFiles(config, &findings);
    checkSettings(config, &findings);
    checkFolders(config, &findings);
    checkDatabase(config, &findings);
    findings.lines << (findings.failed ? QStringLiteral("The service cannot serve safely: mend the problems above.")
                                       : QStringLiteral("The service can serve."));
    std::fputs((findings.lines.join(QLatin1Char('\n')) + QLatin1Char('\n')).toUtf8().constData(), stdout);
    return findings.failed ? 1 : 0;
}

} // namespace orvela
