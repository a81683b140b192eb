#include "support/cgirunner.h"

#include "support/messages.h"
#include "support/webfront.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QJsonDocument>
#include <QProcess>
#include <QUrl>

#include <algorithm>

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

namespace {

QByteArray urlEncode(const Params& params)
{
    QList<QByteArray> pairs;
    for (const auto& pair : params) {
        pairs << QUrl::toPercentEncoding(pair.first) + '=' + QUrl::toPercentEncoding(pair.second);
    }
    return pairs.join('&');
}

// HTTP_COOKIE becomes "Cookie", HTTP_X_FORWARDED_FOR "X-Forwarded-For".
QByteArray headerName(const QString& variable)
{
    QStringList words = variable.mid(5).toLower().split(QLatin1Char('_'));
    for (QString& word : words) {
        word[0] = word[0].toUpper();
    }
    return words.join(QLatin1Char('-')).toLatin1();
}

bool printableAscii(const QByteArray& text)
{
    return std::all_of(text.begin(), text.end(), [](char c) { return c > 0x20 && c < 0x7f; });
}

// What the program wrote: header lines without their CR LF, the body and its JSON.
void readOutput(const QByteArray& output, CgiResult* result)
{
    result->output = output;
    const int split = output.indexOf("\r\n\r\n");
    if (split >= 0) {
        for (const QByteArray& line : output.left(split).split('\n')) {
            result->headerLines << line.trimmed();
        }
        result->body = output.mid(split + 4);
        result->json = QJsonDocument::fromJson(result->body).object();
    }
}

// Headers that lighttpd adds to every answer; the program never writes them.
const QList<QByteArray> kServerHeaders = {"Date:", "Server:", "Accept-Ranges:", "Connection:"};

} // namespace

bool CgiInstall::httpRequestFor(const Environment& environment, const QByteArray& input, QByteArray* request)
{
    const QByteArray method = environment.value(QStringLiteral("REQUEST_METHOD"));
    const QByteArray query = environment.value(QStringLiteral("QUERY_STRING"));
    const QByteArray length = environment.value(QStringLiteral("CONTENT_LENGTH"));
    if ((method != "GET" && method != "POST") || (!query.isEmpty() && !printableAscii(query)) ||
        query.contains('#')) {
        return false;
    }
    if (method == "POST" ? length != QByteArray::number(input.size()) : !input.isEmpty() || !length.isEmpty()) {
        return false;
    }
    QByteArray headers;
    for (auto it = environment.cbegin(); it != environment.cend(); ++it) {
        if (it.value().isEmpty() || it.key() == QStringLiteral("REQUEST_METHOD") ||
            it.key() == QStringLiteral("QUERY_STRING") || it.key() == QStringLiteral("CONTENT_LENGTH")) {
            continue;
        }
        const bool header = it.key().startsWith(QStringLiteral("HTTP_")) && it.key() != QStringLiteral("HTTP_PROXY");
        if (!(header || it.key() == QStringLiteral("CONTENT_TYPE")) || it.value().contains('\r') ||
            it.value().contains('\n') || it.value().contains('\0')) {
            return false;
        }
        headers += (header ? headerName(it.key()) : QByteArray("Content-Type")) + ": " + it.value() + "\r\n";
    }
    if (method == "POST") {
        headers += "Content-Length: " + length + "\r\n";
    }
    *request = method + " /orvela" + (query.isEmpty() ? QByteArray() : "?" + query) + " HTTP/1.0\r\n" +
               "Host: localhost\r\n" + headers + "\r\n" + input;
    return true;
}

CgiResult CgiInstall::resultFromHttp(const QByteArray& response)
{
    CgiResult result;
    result.finished = !response.isEmpty();
    result.exitCode = response.startsWith("HTTP/1.0 200 ") || response.startsWith("HTTP/1.1 200 ") ? 0 : -1;
    const int split = response.indexOf("\r\n\r\n");
    if (result.exitCode != 0 || split < 0) {
        result.output = response;
        return result;
    }
    QList<QByteArray> kept;
    for (const QByteArray& line : response.left(split).split('\n').mid(1)) {
        if (std::none_of(kServerHeaders.begin(), kServerHeaders.end(),
                         [&](const QByteArray& name) { return line.startsWith(name); })) {
            kept << line.trimmed();
        }
    }
    readOutput(kept.join("\r\n") + "\r\n\r\n" + response.mid(split + 4), &result);
    return result;
}

WebFront& CgiInstall::front() const
{
    if (!m_front) {
        m_front = std::make_unique<WebFront>(root(), binary());
    }
    return *m_front;
}

// socat sends the prepared request as it stands and prints the whole response; the socket
// stays open for writing, since a half-closed connection reads to lighttpd as a client gone.
QProcess* CgiInstall::startHttp(const QByteArray& request) const
{
    auto* process = new QProcess;
    process->setProperty("http", true);
    process->start(QStringLiteral("socat"), {QStringLiteral("-t60"), QStringLiteral("-"),
                                              QStringLiteral("UNIX-CONNECT:") + front().socketPath() +
                                                  QStringLiteral(",shut-none")});
    process->waitForStarted(10000);
    process->write(request);
    process->closeWriteChannel();
    return process;
}

CgiInstall::CgiInstall(Exchange exchange)
    : m_dir(std::make_unique<QTemporaryDir>(QStringLiteral(ORVELA_TEST_TMP "/install-XXXXXX"))),
      m_persistent(exchange == Exchange::Persistent ||
                   (exchange == Exchange::FromRun &&
                    qEnvironmentVariable("ORVELA_EXCHANGE") == QStringLiteral("persistent")))
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

QProcess* CgiInstall::start(const Request& request) const
{
    QByteArray http;
    if (m_persistent && httpRequestFor(request.environment, request.body, &http)) {
        return startHttp(http);
    }
    QProcessEnvironment processEnvironment;
    for (auto it = request.environment.cbegin(); it != request.environment.cend(); ++it) {
        processEnvironment.insert(it.key(), QString::fromLatin1(it.value()));
    }
    // A sanitized build's program writes its reports where the run collects them.
    for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"}) {
        if (qEnvironmentVariableIsSet(name)) {
            processEnvironment.insert(QLatin1String(name), qEnvironmentVariable(name));
        }
    }
    auto* process = new QProcess;
    process->setProcessEnvironment(processEnvironment);
    process->start(binary(), QStringList());
    process->waitForStarted(10000);
    process->write(request.body);
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
    if (process->property("http").toBool()) {
        return resultFromHttp(process->readAllStandardOutput());
    }
    result.exitCode = process->exitStatus() == QProcess::NormalExit ? process->exitCode() : -1;
    readOutput(process->readAllStandardOutput(), &result);
    return result;
}

CgiResult CgiInstall::run(const Environment& environment, const QByteArray& input, int timeoutMs) const
{
    const QStringList before = logFiles();
    CgiResult result = collect(start({environment, input}), timeoutMs);
    result.log = newLogs(before);
    return result;
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

Request getRequest(const Params& params, const Environment& extra)
{
    Environment environment = extra;
    environment.insert(QStringLiteral("REQUEST_METHOD"), "GET");
    environment.insert(QStringLiteral("QUERY_STRING"), urlEncode(params));
    return {environment, QByteArray()};
}

Request bodyRequest(const QByteArray& contentType, const QByteArray& body, const Environment& extra)
{
    Environment environment = extra;
    environment.insert(QStringLiteral("REQUEST_METHOD"), "POST");
    environment.insert(QStringLiteral("CONTENT_TYPE"), contentType);
    environment.insert(QStringLiteral("CONTENT_LENGTH"), QByteArray::number(body.size()));
    return {environment, body};
}

Request formRequest(const Params& params, const Environment& extra)
{
    return bodyRequest("application/x-www-form-urlencoded", urlEncode(params), extra);
}

Request jsonRequest(const QJsonObject& body)
{
    return bodyRequest("application/json", QJsonDocument(body).toJson(QJsonDocument::Compact));
}

CgiResult CgiInstall::postBytes(const QList<QPair<QByteArray, QByteArray>>& params) const
{
    QList<QByteArray> pairs;
    for (const auto& pair : params) {
        pairs << pair.first.toPercentEncoding() + '=' + pair.second.toPercentEncoding();
    }
    return run(bodyRequest("application/x-www-form-urlencoded", pairs.join('&')));
}

Request multipartRequest(const Params& fields)
{
    const QByteArray boundary = "----orvelaTestBoundary7MA4YWxk";
    QByteArray body;
    for (const auto& field : fields) {
        body += "--" + boundary + "\r\nContent-Disposition: form-data; name=\"" + field.first.toUtf8() + "\"\r\n\r\n" +
                field.second.toUtf8() + "\r\n";
    }
    return bodyRequest("multipart/form-data; boundary=" + boundary,
                       body + "--" + boundary + "--\r\n");
}

} // namespace testing_support
