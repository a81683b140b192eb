#include "cgi/httpserver.h"

#include "cgi/secretmask.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>

#include <algorithm>
#include <cmath>

namespace tarn {

namespace {

constexpr int kMaxDebugJsonChars = 5000;
// Answers longer than this are not parsed again to be shown in the debug log.
constexpr qint64 kMaxDebugParsedBytes = 1024 * 1024;

// Text of a JSON parameter: strings as they are, whole numbers without a fraction, objects
// and arrays in compact form (so that "DATA" may arrive as a JSON array), null as nothing.
QString jsonValueText(const QJsonValue& value)
{
    switch (value.type()) {
    case QJsonValue::String:
        return value.toString();
    case QJsonValue::Bool:
        return value.toBool() ? QStringLiteral("true") : QStringLiteral("false");
    case QJsonValue::Double: {
        const double d = value.toDouble();
        if (std::floor(d) == d && std::fabs(d) < 9007199254740992.0) {
            return QString::number(static_cast<qint64>(d));
        }
        return QString::number(d, 'g', QLocale::FloatingPointShortest);
    }
    case QJsonValue::Array:
        return QString::fromUtf8(QJsonDocument(value.toArray()).toJson(QJsonDocument::Compact));
    case QJsonValue::Object:
        return QString::fromUtf8(QJsonDocument(value.toObject()).toJson(QJsonDocument::Compact));
    default:
        return QString();
    }
}

} // namespace

HttpServer::HttpServer(QObject* parent) : QObject(parent) {}

QVariant HttpServer::parameter(const QString& name) const
{
    if (m_post.contains(name)) {
        return m_post.value(name);
    }
    if (m_get.contains(name)) {
        return m_get.value(name);
    }
    if (m_files.contains(name)) {
        return m_files.value(name);
    }
    if (m_json.contains(name)) {
        return QVariant::fromValue(m_json.value(name));
    }
    return QVariant();
}

QString HttpServer::parameterText(const QString& name) const
{
    const QVariant value = parameter(name);
    if (!value.isValid()) {
        return QString();
    }
    if (value.userType() == qMetaTypeId<QJsonValue>()) {
        return jsonValueText(value.value<QJsonValue>());
    }
    if (value.userType() == QMetaType::QByteArray) {
        return QString::fromUtf8(value.toByteArray());
    }
    return value.toString();
}

QString HttpServer::parameterWithNul() const
{
    QStringList names = m_post.keys() + m_get.keys() + m_files.keys();
    for (const QString& name : names) {
        if (parameterText(name).contains(QChar(0))) {
            return name;
        }
    }
    for (auto it = m_json.cbegin(); it != m_json.cend(); ++it) {
        if (it.key().contains(QChar(0)) || jsonHasNul(it.value())) {
            return it.key();
        }
    }
    return QString();
}

bool jsonHasNul(const QJsonValue& value)
{
    if (value.isString()) {
        return value.toString().contains(QChar(0));
    }
    if (value.isArray()) {
        const QJsonArray array = value.toArray();
        return std::any_of(array.begin(), array.end(), [](const QJsonValue& item) { return jsonHasNul(item); });
    }
    if (value.isObject()) {
        const QJsonObject object = value.toObject();
        for (auto it = object.begin(); it != object.end(); ++it) {
            if (it.key().contains(QChar(0)) || jsonHasNul(it.value())) {
                return true;
            }
        }
    }
    return false;
}

void HttpServer::setResponseHeader(const QString& name, const QString& value)
{
    m_responseHeaders.insert(name, value);
}

void HttpServer::readRequest(bool* ok)
{
    if (!ok) {
        QTimer::singleShot(1, this, &HttpServer::startReadRequest);
        return;
    }
    m_lastRead = readWholeRequest();
    *ok = m_lastRead;
}

void HttpServer::startReadRequest()
{
    m_lastRead = readWholeRequest();
    emit readRequestFinished(m_lastRead);
}

void HttpServer::writeResponse(bool* ok)
{
    if (!ok) {
        QTimer::singleShot(1, this, &HttpServer::startWriteResponse);
        return;
    }
    m_lastWrite = writeWholeResponse();
    *ok = m_lastWrite;
}

void HttpServer::startWriteResponse()
{
    m_lastWrite = writeWholeResponse();
    emit writeResponseFinished(m_lastWrite);
}

void HttpServer::captureEnvironment()
{
    const QList<QByteArray> entries = m_channel->environmentEntries();
    for (const QByteArray& entry : entries) {
        const QString text = QString::fromLatin1(entry);
        const int equals = text.indexOf(QLatin1Char('='));
        if (equals <= 0) {
            continue;
        }
        const QString name = text.left(equals).trimmed().toUpper();
        const QString value = text.mid(equals + 1).trimmed();
        if (!value.isEmpty()) {
            m_environment.insert(name, value);
        }
    }
}

void HttpServer::logMap(const QString& title, const TextMap& map, bool parameters)
{
    if (!m_debug || map.isEmpty()) {
        return;
    }
    emit toLog(LogDebug, title);
    const QString separator = parameters ? QStringLiteral(" = ") : QStringLiteral(": ");
    for (auto it = map.cbegin(); it != map.cend(); ++it) {
        emit toLog(LogDebug, it.key() + separator + secrets::maskParameter(it.key(), it.value()));
    }
}

// The request headers, with credentials hidden inside the query string and the cookies.
void HttpServer::logEnvironment()
{
    if (!m_debug || m_environment.isEmpty()) {
        return;
    }
    TextMap shown = m_environment;
    for (auto it = shown.begin(); it != shown.end(); ++it) {
        if (it.key() == QStringLiteral("QUERY_STRING")) {
            it.value() = secrets::maskPairs(it.value(), QLatin1Char('&'));
        } else if (it.key().endsWith(QStringLiteral("_URI"))) {
            // Web servers pass the request line's target too, query string included.
            const int query = it.value().indexOf(QLatin1Char('?'));
            if (query >= 0) {
                it.value() = it.value().left(query + 1) +
                             secrets::maskPairs(it.value().mid(query + 1), QLatin1Char('&'));
            }
        } else if (it.key() == QStringLiteral("HTTP_COOKIE")) {
            it.value() = secrets::maskPairs(it.value(), QLatin1Char(';'));
        } else if (secrets::isSecretHeader(it.key())) {
            it.value() = secrets::kMask;
        }
    }
    emit toLog(LogDebug, QObject::tr("Заголовки HTTP запроса:"));
    for (auto it = shown.cbegin(); it != shown.cend(); ++it) {
        emit toLog(LogDebug, it.key() + QStringLiteral(": ") + it.value());
    }
}

bool HttpServer::readWholeRequest()
{
    emit toLog(LogInfo, QObject::tr("Чтение HTTP запроса."));
    m_environment.clear();
    m_cookies.clear();
    m_get.clear();
    m_post.clear();
    m_files.clear();
    m_json.clear();
    m_body.clear();

    captureEnvironment();
    logEnvironment();
    const QString cookieHeader = m_environment.value(QStringLiteral("HTTP_COOKIE"));
    const bool cookiesOk = parsePairs(cookieHeader, QLatin1Char(';'), m_cookies);
    logMap(QStringLiteral("Cookies:"), m_cookies, false);
    const QString query = m_environment.value(QStringLiteral("QUERY_STRING"));
    const bool queryOk = parsePairs(query, QLatin1Char('&'), m_get);
    logMap(QObject::tr("GET параметры:"), m_get, true);
    if (!cookiesOk || !queryOk) {
        m_errorText = tooManyPairsText();
        emit toLog(LogError, m_errorText);
        return false;
    }

    const bool ok = parseBody();
    logBodyTrace();
    logMap(QObject::tr("POST параметры:"), m_post, true);
    if (m_debug && m_contentType == QStringLiteral("application/json") && !m_body.isEmpty() &&
        m_body.size() <= kMaxDebugParsedBytes) {
        const QJsonDocument doc(secrets::maskJson(QJsonDocument::fromJson(m_body).object()).toObject());
        emit toLog(LogDebug, QObject::tr("JSON содержимое запроса:") + QLatin1Char('\n') +
                                 QString::fromUtf8(doc.toJson(QJsonDocument::Indented)));
    }
    if (!ok) {
        emit toLog(LogError, m_errorText);
        return false;
    }
    emit toLog(LogInfo, QObject::tr("Чтение HTTP запроса завершено успешно."));
    return true;
}

QString HttpServer::tooManyPairsText()
{
    return QObject::tr("Слишком много параметров в запросе: допустимо не более %1.").arg(kMostPairs);
}

bool HttpServer::writeWholeResponse()
{
    emit toLog(LogInfo, QObject::tr("Отправка HTTP ответа."));
    qint64 length = 0;
    for (const QByteArray& piece : qAsConst(m_responseBody)) {
        length += piece.size();
    }
    m_responseHeaders.insert(QStringLiteral("Content-Length"), QString::number(length));
    if (!m_responseHeaders.contains(QStringLiteral("Content-Type"))) {
        m_responseHeaders.insert(QStringLiteral("Content-Type"),
                                 QStringLiteral("application/json"));
    }
    if (m_debug) {
        emit toLog(LogDebug, QObject::tr("Заголовки ответа:"));
    }
    QByteArray headerBlock;
    for (auto it = m_responseHeaders.cbegin(); it != m_responseHeaders.cend(); ++it) {
        if (it.value().isEmpty()) {
            continue;
        }
        headerBlock += (it.key() + QStringLiteral(": ") + it.value()).toUtf8() + "\r\n";
        if (m_debug) {
            emit toLog(LogDebug, it.key() + QStringLiteral(": ") + it.value());
        }
    }
    headerBlock += "\r\n";

    if (!m_channel->outputOpen()) {
        m_errorText = QObject::tr("Не удалось открыть стандартный поток записи для отправки ответа.");
        return false;
    }
    if (!m_channel->writeAll(headerBlock)) {
        m_errorText = QObject::tr("Не удалось отправить заголовки ответа.");
        return false;
    }
    for (const QByteArray& piece : qAsConst(m_responseBody)) {
        if (!m_channel->writeAll(piece)) {
            m_errorText = QObject::tr("Не удалось отправить содержимое ответа.");
            return false;
        }
    }
    if (m_debug &&
        m_responseHeaders.value(QStringLiteral("Content-Type")).contains(QStringLiteral("application/json"))) {
        logResponseJson(length);
    }
    return true;
}

// The answer as the debug log shows it, its secrets masked. A long answer is not parsed again
// for the log: the record would be cut anyway, and the parse would take many times its size.
void HttpServer::logResponseJson(qint64 length)
{
    emit toLog(LogDebug, QObject::tr("JSON содержимое ответа:"));
    if (length > kMaxDebugParsedBytes) {
        emit toLog(LogDebug, QObject::tr("(ответ не показан, байт: ") + QString::number(length) + QLatin1Char(')'));
        return;
    }
    const QJsonValue shown = secrets::maskJson(QJsonDocument::fromJson(m_responseBody.join()).object());
    QString text = QString::fromUtf8(QJsonDocument(shown.toObject()).toJson(QJsonDocument::Indented));
    if (text.size() > kMaxDebugJsonChars) {
        text = text.left(kMaxDebugJsonChars) + QStringLiteral("\n...");
    }
    emit toLog(LogDebug, text);
}

} // namespace tarn
