#pragma once

#include "cgi/descriptorchannel.h"
#include "cgi/multipart.h"
#include "cgi/pairparser.h"
#include "log/logtype.h"

#include <QByteArray>
#include <QJsonValue>
#include <QMap>
#include <QObject>
#include <QVariant>

namespace tarn {

// Whether any text inside a JSON value (keys included) holds a NUL character.
bool jsonHasNul(const QJsonValue& value);

// Time limits of the body reader. The defaults are the production values; tests shorten them.
struct ReadLimits {
    qint64 waitMs = 60000;  // longest wait without new data
    qint64 totalMs = 300000; // longest total reading time
    int pauseMs = 20;       // pause after a read that returned nothing
    int blockSize = 1024;   // bytes of one read
    qint64 maxBodyBytes = 16 * 1024 * 1024; // a longer body is refused before it is read
};

// The CGI side of one HTTP exchange: environment, cookies, query string and body in;
// headers and body out, through the exchange channel: the process's own environment and
// standard streams unless another channel (a FastCGI request) is given.
class HttpServer : public QObject {
    Q_OBJECT
public:
    explicit HttpServer(QObject* parent = nullptr);

    QVariant parameter(const QString& name) const;
    // A parameter as text: JSON strings give their text, other JSON values their compact form.
    QString parameterText(const QString& name) const;
    // The name of the first parameter whose text holds a NUL character, or an empty text.
    QString parameterWithNul() const;
    QByteArray uploadedFile(const QString& name) const { return m_files.value(name); }
    QString environmentValue(const QString& name) const { return m_environment.value(name); }

    const TextMap& environment() const { return m_environment; }
    const TextMap& cookies() const { return m_cookies; }
    const TextMap& getParameters() const { return m_get; }
    const TextMap& postParameters() const { return m_post; }
    const FileMap& uploadedFiles() const { return m_files; }
    const JsonMap& jsonParameters() const { return m_json; }
    QByteArray requestBody() const { return m_body; }
    QString requestContentType() const { return m_contentType; }
    QString requestCharset() const { return m_charset; }

    bool debug() const { return m_debug; }
    void setDebug(bool on) { m_debug = on; }
    QString errorText() const { return m_errorText; }
    // What the error text leaves out, for the client: where a JSON body broke, which bound
    // it passed. Empty when there is nothing to add.
    QString errorDetail() const { return m_errorDetail; }
    bool lastReadResult() const { return m_lastRead; }
    bool lastWriteResult() const { return m_lastWrite; }

    void clearResponseHeaders() { m_responseHeaders.clear(); }
    void setResponseHeader(const QString& name, const QString& value);
    const TextMap& responseHeaders() const { return m_responseHeaders; }
    // The body, in pieces that are sent one after the other.
    void setResponseBody(const QByteArrayList& pieces) { m_responseBody = pieces; }
    void setResponseBody(const QByteArray& body) { m_responseBody = {body}; }
    QByteArray responseBody() const { return m_responseBody.join(); }

    // The channel of this exchange, owned by the caller; the process's own by default.
    void setChannel(ExchangeChannel* channel) { m_channel = channel ? channel : &m_processChannel; }
    void setReadLimits(const ReadLimits& limits) { m_limits = limits; }
    // Hooks for tests: the process channel's environment and descriptors.
    void setEnvironmentEntries(const QList<QByteArray>& entries) { m_processChannel.setEnvironmentEntries(entries); }
    void setInputDescriptor(int fd) { m_processChannel.setInputDescriptor(fd); }
    void setOutputDescriptor(int fd) { m_processChannel.setOutputDescriptor(fd); }

public slots:
    void readRequest(bool* ok = nullptr);
    void writeResponse(bool* ok = nullptr);

signals:
    void toLog(LogType type, const QString& text);
    void readRequestFinished(bool ok);
    void writeResponseFinished(bool ok);

protected:
    void setErrorText(const QString& text) { m_errorText = text; }

private slots:
    void startReadRequest();
    void startWriteResponse();

private:
    bool readWholeRequest();
    void captureEnvironment();
    void logMap(const QString& title, const TextMap& map, bool parameters);
    void logEnvironment();
    bool parseBody();
    bool parseContentType();
    QString bodyTooLongText() const;
    static QString tooManyPairsText();
    bool readFormLine(qint64 contentLength, QByteArray* line);
    bool readBody(QByteArray* body);
    void logBodyTrace();
    bool writeWholeResponse();
    void logResponseJson(qint64 length);

    bool m_debug = false;
    QString m_contentType;
    QString m_charset;
    bool m_lastRead = true;
    bool m_lastWrite = true;
    TextMap m_cookies;
    TextMap m_get;
    TextMap m_post;
    TextMap m_environment;
    FileMap m_files;
    JsonMap m_json;
    QByteArray m_body;
    TextMap m_responseHeaders;
    QByteArrayList m_responseBody;
    QString m_errorText;
    QString m_errorDetail;

    DescriptorChannel m_processChannel;
    ExchangeChannel* m_channel = &m_processChannel;
    ReadLimits m_limits;

    // What the body reader saw, kept in debug mode and written once the parameters are known,
    // so that the byte dump can hide their secret values.
    struct BodyTrace {
        bool pending = false;
        QByteArray bytes;
        QList<int> blockSizes;
        QString trace;
        qint64 contentLength = 0;
        qint64 readTime = 0;
    } m_bodyTrace;
};

} // namespace tarn
