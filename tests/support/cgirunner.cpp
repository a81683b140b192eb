#include "support/cgirunner.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QJsonDocument>
#include <QProcess>
#include <QSet>
#include <QUrl>

#include <unistd.h>

#include <vector>

namespace testing_support {

int CgiResult::errorCode() const
{
    return json.value(QStringLiteral("info")).toObject().value(QStringLiteral("errorCode")).toInt(-1);
}

QString CgiResult::errorText() const
{
    return json.value(QStringLiteral("info")).toObject().value(QStringLiteral("errorText")).toString();
}

QString CgiResult::resultType() const
{
    return json.value(QStringLiteral("info")).toObject().value(QStringLiteral("resultType")).toString();
}

QJsonArray CgiResult::data() const { return json.value(QStringLiteral("data")).toArray(); }

QJsonObject CgiResult::row(int index) const { return data().at(index).toObject(); }

QString CgiResult::text() const { return json.value(QStringLiteral("text")).toString(); }

QString CgiResult::id() const { return json.value(QStringLiteral("id")).toString(); }

qint64 CgiResult::idNumber() const { return id().toLongLong(); }

QStringList CgiResult::logLines() const { return log.split(QLatin1Char('\n'), Qt::SkipEmptyParts); }

QString CgiResult::describe() const
{
    const QStringList lines = logLines();
    const QStringList tail = lines.mid(qMax(0, lines.size() - 25));
    return QStringLiteral("\n--- output ---\n") + QString::fromUtf8(output.left(4000)) +
           QStringLiteral("\n--- log tail ---\n") + tail.join(QLatin1Char('\n'));
}

QByteArray urlEncode(const Params& params)
{
    QByteArray encoded;
    for (const auto& pair : params) {
        if (!encoded.isEmpty()) {
            encoded += '&';
        }
        encoded += QUrl::toPercentEncoding(pair.first) + '=' + QUrl::toPercentEncoding(pair.second);
    }
    return encoded;
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

QString CgiInstall::root() const { return m_dir->path() + QLatin1Char('/'); }

QString CgiInstall::binary() const { return root() + QStringLiteral("bin/orvela"); }

void CgiInstall::writeServerConfig(const QMap<QString, QString>& keys)
{
    QByteArray text = "[orvela]\n";
    for (auto it = keys.cbegin(); it != keys.cend(); ++it) {
        text += it.key().toUtf8() + '=' + it.value().toUtf8() + '\n';
    }
    writeRawServerConfig(text);
}

void CgiInstall::writeRawServerConfig(const QByteArray& text)
{
    QFile file(root() + QStringLiteral("cnf/server.cnf"));
    file.open(QIODevice::WriteOnly | QIODevice::Truncate);
    file.write(text);
}

QStringList CgiInstall::logFiles() const
{
    QStringList files;
    QDirIterator it(root() + QStringLiteral("log"), {QStringLiteral("*.log")}, QDir::Files,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        files << it.next();
    }
    files.sort();
    return files;
}

namespace {

void parseOutput(CgiResult* result)
{
    const int split = result->output.indexOf("\r\n\r\n");
    if (split < 0) {
        return;
    }
    for (const QByteArray& line : result->output.left(split).split('\n')) {
        result->headerLines << line.trimmed();
    }
    result->body = result->output.mid(split + 4);
    result->json = QJsonDocument::fromJson(result->body).object();
}

QProcessEnvironment processEnvironment(const Environment& environment)
{
    QProcessEnvironment processEnvironment;
    for (auto it = environment.cbegin(); it != environment.cend(); ++it) {
        processEnvironment.insert(it.key(), QString::fromLatin1(it.value()));
    }
    return processEnvironment;
}

Environment postEnvironment(const QByteArray& body)
{
    return {{QStringLiteral("REQUEST_METHOD"), "POST"},
            {QStringLiteral("CONTENT_TYPE"), "application/x-www-form-urlencoded"},
            {QStringLiteral("CONTENT_LENGTH"), QByteArray::number(body.size())}};
}

} // namespace

QList<CgiResult> CgiInstall::postConcurrently(const QList<Params>& requests, QString* logs) const
{
    const QStringList existing = logFiles();
    const QSet<QString> before(existing.begin(), existing.end());
    std::vector<std::unique_ptr<QProcess>> processes;
    for (const Params& params : requests) {
        const QByteArray body = urlEncode(params);
        auto process = std::make_unique<QProcess>();
        process->setProcessEnvironment(processEnvironment(postEnvironment(body)));
        process->start(binary(), QStringList());
        process->waitForStarted(10000);
        process->write(body);
        process->closeWriteChannel();
        processes.push_back(std::move(process));
    }
    QList<CgiResult> results;
    for (auto& process : processes) {
        CgiResult result;
        result.finished = process->waitForFinished(120000);
        result.exitCode = process->exitCode();
        result.output = process->readAllStandardOutput();
        parseOutput(&result);
        results << result;
    }
    for (const QString& file : logFiles()) {
        if (!before.contains(file)) {
            QFile log(file);
            log.open(QIODevice::ReadOnly);
            *logs += QString::fromUtf8(log.readAll());
        }
    }
    return results;
}

CgiResult CgiInstall::run(const Environment& environment, const QByteArray& input,
                          int timeoutMs) const
{
    const QStringList existing = logFiles();
    const QSet<QString> before(existing.begin(), existing.end());
    QProcess process;
    process.setProcessEnvironment(processEnvironment(environment));
    process.setProcessChannelMode(QProcess::SeparateChannels);
    process.start(binary(), QStringList());
    CgiResult result;
    if (!process.waitForStarted(10000)) {
        return result;
    }
    process.write(input);
    process.closeWriteChannel();
    result.finished = process.waitForFinished(timeoutMs);
    if (!result.finished) {
        process.kill();
        process.waitForFinished();
    }
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.output = process.readAllStandardOutput();
    parseOutput(&result);
    for (const QString& file : logFiles()) {
        if (!before.contains(file)) {
            QFile log(file);
            log.open(QIODevice::ReadOnly);
            result.log += QString::fromUtf8(log.readAll());
        }
    }
    return result;
}

CgiResult CgiInstall::get(const Params& params, const Environment& extra) const
{
    Environment environment = extra;
    environment.insert(QStringLiteral("REQUEST_METHOD"), "GET");
    environment.insert(QStringLiteral("QUERY_STRING"), urlEncode(params));
    return run(environment);
}

CgiResult CgiInstall::post(const Params& params, const Environment& extra) const
{
    const QByteArray body = urlEncode(params);
    Environment environment = extra;
    environment.insert(postEnvironment(body));
    return run(environment, body);
}

CgiResult CgiInstall::postBytes(const QList<QPair<QByteArray, QByteArray>>& params) const
{
    QByteArray body;
    for (const auto& pair : params) {
        body += (body.isEmpty() ? "" : "&") + pair.first.toPercentEncoding() + '=' + pair.second.toPercentEncoding();
    }
    return run(postEnvironment(body), body);
}

CgiResult CgiInstall::postJson(const QJsonObject& body, const Environment& extra) const
{
    const QByteArray bytes = QJsonDocument(body).toJson(QJsonDocument::Compact);
    Environment environment = extra;
    environment.insert(QStringLiteral("REQUEST_METHOD"), "POST");
    environment.insert(QStringLiteral("CONTENT_TYPE"), "application/json");
    environment.insert(QStringLiteral("CONTENT_LENGTH"), QByteArray::number(bytes.size()));
    return run(environment, bytes);
}

CgiResult CgiInstall::postMultipart(const Params& fields, const Environment& extra) const
{
    const QByteArray boundary = "----orvelaTestBoundary7MA4YWxk";
    QByteArray body;
    for (const auto& field : fields) {
        body += "--" + boundary + "\r\n";
        body += "Content-Disposition: form-data; name=\"" + field.first.toUtf8() + "\"\r\n\r\n";
        body += field.second.toUtf8() + "\r\n";
    }
    body += "--" + boundary + "--\r\n";
    Environment environment = extra;
    environment.insert(QStringLiteral("REQUEST_METHOD"), "POST");
    environment.insert(QStringLiteral("CONTENT_TYPE"), "multipart/form-data; boundary=" + boundary);
    environment.insert(QStringLiteral("CONTENT_LENGTH"), QByteArray::number(body.size()));
    return run(environment, body);
}

} // namespace testing_support
