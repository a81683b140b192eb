#include "app/httporvelaserver.h"

#include "app/identity.h"
#include "app/resultcodes.h"
#include "db/keptconnection.h"
#include "db/readingservers.h"
#include "db/schema.h"
#include "log/log.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>

namespace orvela {

namespace {
const char kDateTimeFormat[] = "yyyy-MM-dd HH:mm:ss";
} // namespace

HttpOrvelaServer::HttpOrvelaServer(QObject* parent, tarn::ExchangeChannel* channel,
                                   KeptConnection* keptConnection, KeptConnection* keptReading)
    : tarn::HttpServer(parent),
      m_requestTime(QDateTime::currentDateTimeUtc()),
      m_startMs(QDateTime::currentMSecsSinceEpoch()),
      m_kept(keptConnection),
      m_keptReading(keptReading)
{
    setChannel(channel);
    // Read on every request, so that a changed file takes effect with the next one.
    m_config = ServerConfig::load(QCoreApplication::applicationDirPath());
    if (m_kept) {
        m_database = &m_kept->database();
    }
    Database& reading = m_keptReading ? m_keptReading->database() : m_readDb;
    for (Database* database : {m_database, &reading}) {
        connect(database, &Database::toLog, this, &HttpServer::toLog);
        database->setDebug(m_config.debug);
    }
    tarn::ReadLimits limits;
    limits.maxBodyBytes = m_config.maxBodyBytes;
    setReadLimits(limits);
    m_answer.setLimit(m_config.maxAnswerBytes);
    if (m_config.logEnabled) {
        openLog();
    }
}

HttpOrvelaServer::~HttpOrvelaServer()
{
    qint64 elapsed = QDateTime::currentMSecsSinceEpoch() - m_startMs;
    if (elapsed <= 0) {
        elapsed = 1;
    }
    logInfo(QObject::tr("Время на обработку запроса и отправку ответа составило ") +
            QString::number(elapsed) + QObject::tr(" мсек."));
    if (m_kept) {
        m_kept->release();
    } else {
        m_db.close();
    }
    if (m_keptReading) {
        m_keptReading->release();
    } else {
        m_readDb.close();
    }
    delete m_log;
    m_log = nullptr;
}

void HttpOrvelaServer::openLog()
{
    m_log = new tarn::Log(nullptr, m_requestTime, m_config.logDir(), true,
                          m_config.logPerProcess ? tarn::LogLayout::PerProcessDay : tarn::LogLayout::PerRequest);
    connect(this, &HttpServer::toLog, m_log, &tarn::Log::onLog);
    setDebug(m_config.debug);
    logInfo(QObject::tr("Текущий скрипт: ") + QCoreApplication::applicationFilePath());
    logInfo(QObject::tr("Отладочная информация ") +
            (m_config.debug ? QObject::tr("включена.") : QObject::tr("отключена.")));
    logDebug(QObject::tr("ВНИМАНИЕ! Дата и время используется по стандарту UTC."));
    logInfo(QObject::tr("Версия ПО: ") + applicationVersion());
}

void HttpOrvelaServer::logDebug(const QString& text)
{
    if (m_config.debug) {
        emit toLog(LogDebug, text);
    }
}

bool HttpOrvelaServer::openDatabase(bool* opened, QString* error)
{
    if (m_kept) {
        return m_kept->acquire(m_config, opened, error);
    }
    *opened = true;
    return m_db.open(m_config, error);
}

// A kept connection skips the check until it is due; the check's record then appears only in
// the logs of the requests that ran it.
void HttpOrvelaServer::checkSchema(bool opened)
{
    const QDateTime now = QDateTime::currentDateTimeUtc();
    if (m_kept && !opened && !m_kept->schemaCheckDue(now)) {
        return;
    }
    const int year = m_requestTime.date().year();
    const quint16 code = Schema::check(db(), year);
    db().setCheckedArchiveYears(code == 0 ? Schema::firstYearKept(year) : 1, code == 0 ? Schema::lastYearKept(year) : 0);
    if (code == 0) {
        logDebug(QObject::tr("Проверка таблиц БД выполнена."));
        if (m_kept) {
            m_kept->schemaChecked(now);
        }
    } else {
        setResultCode(code);
        logDebug(QObject::tr("Ошибка при проверке таблиц БД: ") + resultCodeText(code));
    }
}

bool HttpOrvelaServer::openReading(bool* opened, QString* error)
{
    if (m_keptReading) {
        return m_keptReading->acquire(m_config, opened, error);
    }
    *opened = true;
    return m_readDb.openReading(m_config, m_config.readHost, m_config.readPort, error);
}

// A reading server answers when it can be reached, lags no more than allowed and holds the
// current schema (it cannot create what is missing); otherwise the primary serves the request
// and only the log tells.
bool HttpOrvelaServer::useReadingServer()
{
    Database& reading = m_keptReading ? m_keptReading->database() : m_readDb;
    bool opened = false;
    QString error;
    if (!openReading(&opened, &error)) {
        logInfo(QObject::tr("Сервер чтения недоступен, запрос выполнит основной сервер: ") + error);
        return false;
    }
    // A kept connection is asked about its lag once a second, against a bound smaller by that
    // second, so that what it answers within the second still lags no more than allowed.
    const qint64 nowMs = QDateTime::currentMSecsSinceEpoch();
    if (!m_keptReading || opened || !m_keptReading->knownFresh(nowMs)) {
        const int bound = m_keptReading ? m_config.readLagMax - KeptConnection::kFreshForMs / 1000 : m_config.readLagMax;
        if (!ReadingServers::fresh(reading, bound)) {
            logInfo(QObject::tr("Сервер чтения отстаёт, запрос выполнит основной сервер."));
            return false;
        }
        if (m_keptReading) {
            m_keptReading->foundFresh(nowMs);
        }
    }
    const QDateTime now = QDateTime::currentDateTimeUtc();
    if (opened || m_keptReading->schemaCheckDue(now)) {
        const int year = m_requestTime.date().year();
        if (!Schema::upToDate(reading, year)) {
            logInfo(QObject::tr("На сервере чтения нет нужных таблиц, запрос выполнит основной сервер."));
            return false;
        }
        reading.setCheckedArchiveYears(Schema::firstYearKept(year), Schema::lastYearKept(year));
        if (m_keptReading) {
            m_keptReading->schemaChecked(now);
        }
    }
    m_database = &reading;
    logInfo(QObject::tr("Установлено подключение к серверу чтения."));
    return true;
}

void HttpOrvelaServer::awaitReadingServers()
{
    if (m_config.readingServersSet() && m_database->isOpen()) {
        ReadingServers::awaitApplied(*m_database, m_config, m_keptReading ? &m_keptReading->database() : nullptr);
    }
}

bool HttpOrvelaServer::connectDatabase(bool changesNothing)
{
    if (changesNothing && m_config.readingServersSet() && useReadingServer()) {
        return true;
    }
    QString error;
    bool opened = false;
    if (!openDatabase(&opened, &error)) {
        setResultCode(20);
        logError(QObject::tr("Ошибка при подключении к СУБД PostgeSql: ") + error);
        answerError(65535);
        return false;
    }
    logInfo(QObject::tr("Установлено подключение к СУБД PostgeSql."));
    logDebug(QStringLiteral("host=") + m_config.dbHost + QStringLiteral("; port=") +
             m_config.primaryPorts() + QStringLiteral("; base=") + m_config.dbName +
             QStringLiteral("; user=") + m_config.dbUser);
    checkSchema(opened);
    return true;
}

quint16 HttpOrvelaServer::setResultCode(quint16 code)
{
    m_resultCode = code;
    return code;
}

void HttpOrvelaServer::answerOk()
{
    m_resultType = ResultType::Ok;
    sendResponse();
}

void HttpOrvelaServer::answerTable()
{
    m_resultType = ResultType::Table;
    sendResponse();
}

void HttpOrvelaServer::answerError(quint16 code)
{
    if (code >= 1 && code <= 65534) {
        m_resultCode = code;
    }
    m_resultType = ResultType::Error;
    sendResponse();
}

QByteArrayList HttpOrvelaServer::envelope(const QDateTime& now) const
{
    QJsonObject info;
    info.insert(QStringLiteral("serverSoftVer"), applicationVersion());
    info.insert(QStringLiteral("serverRelease"), QString::fromLatin1(kReleaseDate));
    info.insert(QStringLiteral("errorText"), resultCodeText(m_resultCode));
    info.insert(QStringLiteral("serverDateTime"), now.toString(QString::fromLatin1(kDateTimeFormat)));
    info.insert(QStringLiteral("resultType"), resultTypeText(m_resultType));
    info.insert(QStringLiteral("errorCode"), static_cast<int>(m_resultCode));

    QJsonObject root;
    root.insert(QStringLiteral("info"), info);
    if (!m_responseText.isEmpty()) {
        root.insert(QStringLiteral("text"), m_responseText);
    }
    if (!m_responseId.isEmpty()) {
        root.insert(QStringLiteral("id"), m_responseId);
    }
    const QByteArray rest = QJsonDocument(root).toJson(QJsonDocument::Compact);
    if (m_answer.isEmpty()) {
        return {rest};
    }
    // "data" is the first key of the envelope, so the rows go right after its opening brace.
    return {QByteArrayLiteral("{\"data\":["), m_answer.text(), "]," + rest.mid(1)};
}

void HttpOrvelaServer::sendResponse()
{
    clearResponseHeaders();
    logInfo(QObject::tr("Отправка ответа: ") + resultTypeText(m_resultType));
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const QString origin = environmentValue(QStringLiteral("ORIGIN"));
    if (!origin.isEmpty()) {
        setResponseHeader(QStringLiteral("Access-Control-Allow-Origin"), origin);
        // The answer names the caller's origin: a shared cache must not hand it to another.
        setResponseHeader(QStringLiteral("Vary"), QStringLiteral("Origin"));
    }
    if (m_resultCode != 0) {
        logError(resultCodeRecord(m_resultCode));
    }
    setResponseHeader(QStringLiteral("Content-Type"), QStringLiteral("application/json;charset=utf-8"));
    setResponseBody(envelope(now));
    // The rows are in the body now; the body is what remains of them.
    m_answer.clear();
    bool ok = false;
    writeResponse(&ok);
    if (ok) {
        logInfo(QObject::tr("Отправка HTTP ответа завершена успешно."));
    } else {
        logError(errorText());
    }
}

} // namespace orvela
