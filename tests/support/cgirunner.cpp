#include "support/cgirunner.h"

#include "support/messages.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QJsonDocument>
#include <QProcess>
#include <QUrl>

#include <unistd.h>

namespace testing_support {

QString CgiResult::describe() const
{
    const QStringList lines = logLines();
    return QStringLiteral("\n--- output ---\n") + QString::fromUtf8(output.left(4000)) +
           QStringLiteral("\n--- log tail ---\n") + lines.mid(qMax(0, lines.size() - 25)).join(QLatin1Char('\n'));
}

QString codesSeenFile()
{
    return QStringLiteral(ORVELA_TEST_TMP "/codes-seen.txt");
}

namespace {
// Appends are atomic for lines this short, so parallel test processes do not mix them.
void noteCodeSeen(int code)
{
    QFile file(codesSeenFile());
    if (file.open(QIODevice::Append)) {
        file.write(QByteArray::number(code) + '\n');
    }
}
} // namespace

::testing::AssertionResult answered(const CgiResult& result, int code)
{
    if (result.errorCode() != code) {
        return ::testing::AssertionFailure() << "errorCode " << result.errorCode() << ", expected " << code
                                             << qPrintable(result.describe());
    }
    const QString text = result.info().value(QStringLiteral("errorText")).toString();
    if (text != expectedMessage(code)) {
        return ::testing::AssertionFailure() << "errorText \"" << qPrintable(text) << "\", expected \""
                                             << qPrintable(expectedMessage(code)) << "\"";
    }
    noteCodeSeen(code);
    return ::testing::AssertionSuccess();
}

QByteArray urlEncode(const Params& params)
{
    QList<QByteArray> pairs;
    for (const auto& pair : params) {
        pairs << QUrl::toPercentEncoding(pair.first) + '=' + QUrl::toPercentEncoding(pair.second);
    }
    return pairs.join('&');
}

CgiInstall::CgiInstall()
    : m_dir(std::make_unique<QTemporaryDir>(QStringLiteral(ORVELA_TEST_TMP "/install-XXXXXX")))
{
    QDir(root()).mkpath(QStringLiteral("bin"));
    QDir(root()).mkpath(QStringLiteral("cnf"));
    // A hard link keeps the program's own path inside this folder; copy across file systems.
    if (::link(ORVELA_BINARY, binary().toLocal8Bit().constData()) != 0) {
        QFile::copy(QStringLiteral(ORVELA_BINARY), binary());
    }
}

CgiInstall::~CgiInstall() = default;

void CgiInstall::writeServerConfig(const QMap<QString, QString>& keys)
{
    QFile file(root() + QStringLiteral("cnf/server.cnf"));
    file.open(QIODevice::WriteOnly | QIODevice::Truncate);
    file.write("[orvela]\n");
    for (auto it = keys.cbegin(); it != keys.cend(); ++it) {
        file.write(it.key().toUtf8() + '=' + it.value().toUtf8() + '\n');
    }
}

QStringList CgiInstall::logFiles() const
{
    QStringList files;
    QDirIterator it(root() + QStringLiteral("log"), {QStringLiteral("*.log")}, QDir::Files,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        files << it.next();
    }
    return files;
}

QString CgiInstall::newLogs(const QStringList& before) const
{
    QString logs;
    for (const QString& file : logFiles()) {
        if (!before.contains(file)) {
            QFile log(file);
            log.open(QIODevice::ReadOnly);
            logs += QString::fromUtf8(log.readAll());
        }
    }
    return logs;
}

QProcess* CgiInstall::start(const Environment& environment, const QByteArray& input) const
{
    QProcessEnvironment processEnvironment;
    for (auto it = environment.cbegin(); it != environment.cend(); ++it) {
        processEnvironment.insert(it.key(), QString::fromLatin1(it.value()));
    }
    auto* process = new QProcess;
    process->setProcessEnvironment(processEnvironment);
    process->start(binary(), QStringList());
    process->waitForStarted(10000);
    process->write(input);
    process->closeWriteChannel();
    return process;
}

CgiResult CgiInstall::collect(QProcess* process, int timeoutMs) const
{
    std::unique_ptr<QProcess> owned(process);
    CgiResult result;
    result.finished = process->waitForFinished(timeoutMs);
    if (!result.finished) {
        process->kill();
        process->waitForFinished();
    }
    result.exitCode = process->exitStatus() == QProcess::NormalExit ? process->exitCode() : -1;
    result.output = process->readAllStandardOutput();
    const int split = result.output.indexOf("\r\n\r\n");
    if (split >= 0) {
        for (const QByteArray& line : result.output.left(split).split('\n')) {
            result.headerLines << line.trimmed();
        }
        result.body = result.output.mid(split + 4);
        result.json = QJsonDocument::fromJson(result.body).object();
    }
    return result;
}

CgiResult CgiInstall::run(const Environment& environment, const QByteArray& input, int timeoutMs) const
{
    const QStringList before = logFiles();
    CgiResult result = collect(start(environment, input), timeoutMs);
    result.log = newLogs(before);
    return result;
}

QProcess* CgiInstall::startPost(const Params& params) const
{
    const QByteArray body = urlEncode(params);
    return start({{QStringLiteral("REQUEST_METHOD"), "POST"},
                  {QStringLiteral("CONTENT_TYPE"), "application/x-www-form-urlencoded"},
                  {QStringLiteral("CONTENT_LENGTH"), QByteArray::number(body.size())}},
                 body);
}

QProcess* CgiInstall::startJson(const QJsonObject& body) const
{
    const QByteArray bytes = QJsonDocument(body).toJson(QJsonDocument::Compact);
    return start({{QStringLiteral("REQUEST_METHOD"), "POST"},
                  {QStringLiteral("CONTENT_TYPE"), "application/json"},
                  {QStringLiteral("CONTENT_LENGTH"), QByteArray::number(bytes.size())}},
                 bytes);
}

CgiResult CgiInstall::finish(QProcess* process, const QStringList& logsBefore) const
{
    CgiResult result = collect(process, 120000);
    result.log = newLogs(logsBefore);
    return result;
}

QList<CgiResult> CgiInstall::postConcurrently(const QList<Params>& requests, QString* logs) const
{
    const QStringList before = logFiles();
    QList<QProcess*> processes;
    for (const Params& params : requests) {
        processes << startPost(params);
    }
    QList<CgiResult> results;
    for (QProcess* process : processes) {
        results << collect(process, 120000);
    }
    *logs = newLogs(before);
    return results;
}

CgiResult CgiInstall::get(const Params& params, const Environment& extra) const
{
    Environment environment = extra;
    environment.insert(QStringLiteral("REQUEST_METHOD"), "GET");
    environment.insert(QStringLiteral("QUERY_STRING"), urlEncode(params));
    return run(environment);
}

CgiResult CgiInstall::postBody(const QByteArray& contentType, const QByteArray& body, const Environment& extra) const
{
    Environment environment = extra;
    environment.insert(QStringLiteral("REQUEST_METHOD"), "POST");
    environment.insert(QStringLiteral("CONTENT_TYPE"), contentType);
    environment.insert(QStringLiteral("CONTENT_LENGTH"), QByteArray::number(body.size()));
    return run(environment, body);
}

CgiResult CgiInstall::post(const Params& params, const Environment& extra) const
{
    return postBody("application/x-www-form-urlencoded", urlEncode(params), extra);
}

CgiResult CgiInstall::postBytes(const QList<QPair<QByteArray, QByteArray>>& params) const
{
    QList<QByteArray> pairs;
    for (const auto& pair : params) {
        pairs << pair.first.toPercentEncoding() + '=' + pair.second.toPercentEncoding();
    }
    return postBody("application/x-www-form-urlencoded", pairs.join('&'));
}

CgiResult CgiInstall::postJson(const QJsonObject& body) const
{
    return postBody("application/json", QJsonDocument(body).toJson(QJsonDocument::Compact));
}

CgiResult CgiInstall::postMultipart(const Params& fields) const
{
    const QByteArray boundary = "----orvelaTestBoundary7MA4YWxk";
    QByteArray body;
    for (const auto& field : fields) {
        body += "--" + boundary + "\r\nContent-Disposition: form-data; name=\"" + field.first.toUtf8() + "\"\r\n\r\n" +
                field.second.toUtf8() + "\r\n";
    }
    return postBody("multipart/form-data; boundary=" + boundary, body + "--" + boundary + "--\r\n");
}

} // namespace testing_support
