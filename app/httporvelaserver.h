#pragma once

#include "app/answerdata.h"
#include "app/resulttype.h"
#include "app/serverconfig.h"
#include "cgi/httpserver.h"
#include "db/database.h"
#include "readings/unitsettings.h"
#include "security/currentuser.h"

#include <QDateTime>
#include <QJsonArray>

namespace tarn {
class Log;
}

namespace orvela {

class KeptConnection;

// The request object: configuration, the exchange, the request state and the answer.
// One exists per request, so that no state passes from one request to the next; destroying
// it writes the elapsed time and closes the database connection (or hands a kept one back)
// and the log. Without a channel the request is the CGI process's own.
class HttpOrvelaServer : public tarn::HttpServer {
    Q_OBJECT
public:
    explicit HttpOrvelaServer(QObject* parent, tarn::ExchangeChannel* channel = nullptr,
                              KeptConnection* keptConnection = nullptr, KeptConnection* keptReading = nullptr);
    ~HttpOrvelaServer() override;

    const ServerConfig& config() const { return m_config; }
    QDateTime requestTime() const { return m_requestTime; }
    tarn::Log* log() const { return m_log; }
    Database& db() { return *m_database; }
    CurrentUser& user() { return m_user; }
    const CurrentUser& user() const { return m_user; }
    UserUnitSettings& unitSettings() { return m_unitSettings; }

    // Opens the connection and brings the schema up to date; on a failed connection it answers
    // with code 20 and returns false. A failed schema check does not stop the request. A
    // command that changes nothing is served by a reading server when one is set and fit.
    bool connectDatabase(bool changesNothing = false);
    // After a command that may have changed something: waits until the reading servers show
    // the change (nothing to do without them).
    void awaitReadingServers();

    quint16 resultCode() const { return m_resultCode; }
    quint16 setResultCode(quint16 code);
    ResultType resultType() const { return m_resultType; }
    void setResultType(ResultType type) { m_resultType = type; }

    void setResponseText(const QString& text) { m_responseText = text; }
    QString responseText() const { return m_responseText; }
    void setResponseId(const QString& id) { m_responseId = id; }
    void setResponseId(qint64 id) { m_responseId = QString::number(id); }
    void appendResponseRow(const QJsonValue& row) { m_answer.append(row); }
    void appendResponseRowText(const QByteArray& compact) { m_answer.appendText(compact); }
    void clearResponseData() { m_answer.clear(); }
    bool hasResponseRows() const { return !m_answer.isEmpty(); }
    // The answer's rows for commands that write them piece by piece; a handler that fills a
    // large answer asks withinAnswerLimit() as it goes and stops with 330 when it is not.
    AnswerData& answer() { return m_answer; }
    bool withinAnswerLimit() const { return !m_answer.overflowed(); }
    bool answered() const { return m_answered; }
    void setAnswered() { m_answered = true; }

    void answerOk();
    void answerTable();
    // Codes 1 to 65534 become the result code; 0 and 65535 keep the current one.
    void answerError(quint16 code);
    void sendResponse();

    // The compact envelope for the current state, written at the given moment: the text
    // before the rows and the text after them, so that the rows are sent without a copy.
    QByteArrayList envelope(const QDateTime& now) const;

    void logInfo(const QString& text) { emit toLog(LogInfo, text); }
    void logError(const QString& text) { emit toLog(LogError, text); }
    void logDebug(const QString& text);

private:
    void openLog();
    bool openDatabase(bool* opened, QString* error);
    void checkSchema(bool opened);
    bool useReadingServer();
    bool openReading(bool* opened, QString* error);

    ServerConfig m_config;
    QDateTime m_requestTime;
    qint64 m_startMs = 0;
    tarn::Log* m_log = nullptr;
    Database m_db;
    KeptConnection* m_kept = nullptr;
    Database* m_database = &m_db;
    Database m_readDb{nullptr, QStringLiteral("psql_orvela_read")};
    KeptConnection* m_keptReading = nullptr;
    CurrentUser m_user;
    UserUnitSettings m_unitSettings;

    quint16 m_resultCode = 0;
    ResultType m_resultType = ResultType::Table;
    QString m_responseText;
    QString m_responseId;
    AnswerData m_answer;
    bool m_answered = false;
};

} // namespace orvela
