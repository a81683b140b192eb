#pragma once

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QMap>
#include <QString>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>

class QProcess;

namespace testing_support {

using Params = QList<QPair<QString, QString>>;
using Environment = QMap<QString, QByteArray>;

// What one run of the program produced.
struct CgiResult {
    int exitCode = -1;
    bool finished = false;
    QByteArray output;             // everything on standard output
    QList<QByteArray> headerLines; // header lines without their CR LF
    QByteArray body;
    QJsonObject json;
    QString log; // the log file written by this run (empty when none)

    QJsonObject info() const { return json.value(QStringLiteral("info")).toObject(); }
    int errorCode() const { return info().value(QStringLiteral("errorCode")).toInt(-1); }
    QString resultType() const { return info().value(QStringLiteral("resultType")).toString(); }
    QJsonArray data() const { return json.value(QStringLiteral("data")).toArray(); }
    QJsonObject row(int index = 0) const { return data().at(index).toObject(); }
    QString text() const { return json.value(QStringLiteral("text")).toString(); }
    QString id() const { return json.value(QStringLiteral("id")).toString(); }
    qint64 idNumber() const { return id().toLongLong(); }
    QStringList logLines() const { return log.split(QLatin1Char('\n'), Qt::SkipEmptyParts); }
    // The envelope and the end of the log, for assertion messages.
    QString describe() const;
};

class WebFront;

// A request as the web server hands it to the program: its CGI variables and its body.
struct Request {
    Environment environment;
    QByteArray body;
};
// GET with the parameters in the query string; POST with a body of the given type, URL-encoded
// parameters, a JSON object or multipart fields.
Request getRequest(const Params& params, const Environment& extra = Environment());
Request bodyRequest(const QByteArray& contentType, const QByteArray& body,
                    const Environment& extra = Environment());
Request formRequest(const Params& params, const Environment& extra = Environment());
Request jsonRequest(const QJsonObject& body);
Request multipartRequest(const Params& fields);

// How the harness reaches the program: a CGI process per request, or requests through
// lighttpd to one persistent FastCGI process. By default the run's setting decides
// (ORVELA_EXCHANGE=persistent), so that the same tests run in both modes.
enum class Exchange { FromRun, Persistent };

// A throwaway installation of the program: a folder holding bin/orvela (a link to the built
// program) and cnf/server.cnf, so that the program's base and working directory are that
// folder and its log tree lies in it.
class CgiInstall {
public:
    explicit CgiInstall(Exchange exchange = Exchange::FromRun);
    ~CgiInstall();

    QString root() const { return m_dir->path() + QLatin1Char('/'); }
    QString binary() const { return root() + QStringLiteral("bin/orvela"); }
    // Writes cnf/server.cnf with the given keys of the group "orvela".
    void writeServerConfig(const QMap<QString, QString>& keys);

    CgiResult run(const Environment& environment, const QByteArray& input = QByteArray(),
                  int timeoutMs = 60000) const;
    CgiResult run(const Request& request) const { return run(request.environment, request.body); }
    CgiResult get(const Params& params, const Environment& extra = Environment()) const
    {
        return run(getRequest(params, extra));
    }
    CgiResult post(const Params& params, const Environment& extra = Environment()) const
    {
        return run(formRequest(params, extra));
    }
    // URL-encoded from raw bytes, which may hold what no text does (a NUL).
    CgiResult postBytes(const QList<QPair<QByteArray, QByteArray>>& params) const;
    CgiResult postJson(const QJsonObject& body) const { return run(jsonRequest(body)); }
    CgiResult postMultipart(const Params& fields) const { return run(multipartRequest(fields)); }
    // A URL-encoded POST started in the background, for tests that hold a lock while it runs;
    // finish() waits for it and collects what it wrote.
    QProcess* startPost(const Params& params) const { return start(formRequest(params)); }
    QProcess* startJson(const QJsonObject& body) const { return start(jsonRequest(body)); }
    CgiResult finish(QProcess* process, const QStringList& logsBefore) const;
    QStringList logFiles() const;

    bool persistent() const { return m_persistent; }
    // The web server of the persistent mode, started with the first request.
    WebFront& front() const;
    // A CGI environment and body as the HTTP request that makes lighttpd pass them on; false
    // when no HTTP request carries them (variables a web server sets itself, such as HTTPS,
    // or a length that differs from the body). Such requests run as a CGI process.
    static bool httpRequestFor(const Environment& environment, const QByteArray& input,
                               QByteArray* request);
    // The HTTP response read back into what the CGI process would have written: the status
    // line and the headers lighttpd adds are dropped.
    static CgiResult resultFromHttp(const QByteArray& response);
    // Starts one URL-encoded POST per parameter list at once and waits for all; the logs of
    // all of them are joined into *logs.
    QList<CgiResult> postConcurrently(const QList<Params>& requests, QString* logs) const;

private:
    QProcess* start(const Request& request) const;
    CgiResult collect(QProcess* process, int timeoutMs) const;
    QString newLogs(const QStringList& before) const;
    QProcess* startHttp(const QByteArray& request) const;

    std::unique_ptr<QTemporaryDir> m_dir;
    bool m_persistent = false;
    mutable std::unique_ptr<WebFront> m_front;
};

// The run answered the code with its exact message.
::testing::AssertionResult answered(const CgiResult& result, int code);
// The file in which the codes asserted by all test processes of a run are collected.
QString codesSeenFile();

} // namespace testing_support
