#pragma once

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QMap>
#include <QString>
#include <QTemporaryDir>

#include <memory>

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

    int errorCode() const;
    QString errorText() const;
    QString resultType() const;
    QJsonArray data() const;
    QJsonObject row(int index = 0) const;
    QString text() const;
    QString id() const;
    qint64 idNumber() const;
    QStringList logLines() const;
    // The envelope and the end of the log, for assertion messages.
    QString describe() const;
};

// A throwaway installation of the program: a folder holding bin/orvela (a link to the built
// program) and cnf/server.cnf, so that the program's base and working directory are that
// folder and its log tree lies in it.
class CgiInstall {
public:
    CgiInstall();
    ~CgiInstall();

    QString root() const;
    QString binary() const;
    // Writes cnf/server.cnf with the given keys of the group "orvela".
    void writeServerConfig(const QMap<QString, QString>& keys);
    void writeRawServerConfig(const QByteArray& text);

    CgiResult run(const Environment& environment, const QByteArray& input = QByteArray(),
                  int timeoutMs = 60000) const;
    // A GET request with the parameters in the query string.
    CgiResult get(const Params& params, const Environment& extra = Environment()) const;
    // A POST request with a URL-encoded body.
    CgiResult post(const Params& params, const Environment& extra = Environment()) const;
    // A POST request with a URL-encoded body of raw byte values (which may be invalid UTF-8).
    CgiResult postBytes(const QList<QPair<QByteArray, QByteArray>>& params) const;
    // A POST request with a JSON object body.
    CgiResult postJson(const QJsonObject& body, const Environment& extra = Environment()) const;
    // A POST request with a multipart/form-data body of text fields.
    CgiResult postMultipart(const Params& fields, const Environment& extra = Environment()) const;

    // Starts one process per parameter list (POST, URL-encoded) at once and waits for all;
    // the logs of all of them are joined into *logs.
    QList<CgiResult> postConcurrently(const QList<Params>& requests, QString* logs) const;

    QStringList logFiles() const;

private:
    std::unique_ptr<QTemporaryDir> m_dir;
};

QByteArray urlEncode(const Params& params);

} // namespace testing_support
