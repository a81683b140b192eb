// Reading and parsing the body of a POST request (part of tarn::HttpServer).
#include "cgi/httpserver.h"

#include "cgi/secretmask.h"

#include <QDateTime>
#include "cgi/clientjson.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace tarn {

namespace {

qint64 nowMs() { return QDateTime::currentMSecsSinceEpoch(); }

// The debug log shows this much of a body: enough to see what a client sent, not a whole upload.
constexpr int kMaxDebugBodyBytes = 16384;

QString blockDump(int counter, const QByteArray& block)
{
    QString dump = (counter < 10 ? QStringLiteral("0") : QString()) + QString::number(counter) +
                   QStringLiteral(" =");
    dump.reserve(dump.size() + block.size() * 3);
    for (char byte : block) {
        dump += QLatin1Char(' ') +
                QStringLiteral("%1").arg(static_cast<uchar>(byte), 2, 16, QLatin1Char('0')).toUpper();
    }
    return dump;
}

} // namespace

QString HttpServer::bodyTooLongText() const
{
    return QObject::tr("Размер содержимого запроса превышает допустимый: ") +
           QString::number(m_limits.maxBodyBytes) + QObject::tr(" Б.");
}

bool HttpServer::parseContentType()
{
    const QString contentType = m_environment.value(QStringLiteral("CONTENT_TYPE"));
    if (contentType.isEmpty()) {
        m_errorText = QObject::tr("Не найден заголовок запроса 'Content-Type'.");
        return false;
    }
    const QStringList pieces = contentType.split(QLatin1Char(';'), Qt::SkipEmptyParts);
    m_contentType = pieces.value(0).trimmed().toLower();
    m_charset = QStringLiteral("utf-8");
    for (int i = 1; i < pieces.size(); ++i) {
        const QStringList pair = pieces.at(i).split(QLatin1Char('='), Qt::SkipEmptyParts);
        if (pair.size() == 2 && pair.at(0).toLower() == QStringLiteral("charset")) {
            m_charset = pair.at(1).toLower();
            if (m_charset == QStringLiteral("utf8")) {
                m_charset = QStringLiteral("utf-8");
            }
            break;
        }
    }
    return true;
}

bool HttpServer::parseBody()
{
    if (m_environment.value(QStringLiteral("REQUEST_METHOD")).toUpper() != QStringLiteral("POST")) {
        return true;
    }
    bool numeric = false;
    const qint64 contentLength =
        m_environment.value(QStringLiteral("CONTENT_LENGTH")).toLongLong(&numeric);
    // A negative length is as meaningless as a missing one.
    if (!numeric || contentLength <= 0) {
        m_errorText = QObject::tr("Неверный формат заголовка запроса 'Content-Length'.");
        return false;
    }
    // One request must not take the memory of the machine: an announced body beyond the limit
    // is refused unread, and the readers below never take more than was announced.
    if (contentLength > m_limits.maxBodyBytes) {
        m_errorText = bodyTooLongText();
        return false;
    }
    if (!parseContentType()) {
        return false;
    }
    if (m_contentType == QStringLiteral("application/x-www-form-urlencoded")) {
        QString text;
        {
            QByteArray line;
            if (!readFormLine(contentLength, &line)) {
                return false;
            }
            text = QString::fromUtf8(line);
        }
        if (!parsePairs(text, QLatin1Char('&'), m_post)) {
            m_errorText = tooManyPairsText();
            return false;
        }
        return true;
    }
    if (!readBody(&m_body)) {
        return false;
    }
    if (m_contentType == QStringLiteral("application/json")) {
        QJsonDocument doc;
        QString reason;
        if (!parseClientJson(m_body, &doc, &reason) || !doc.isObject()) {
            m_errorText = QObject::tr("Неверный формат запроса JSON.");
            m_errorDetail = reason.isEmpty() ? QObject::tr("Содержимое не является объектом JSON.")
                                             : reason + QLatin1Char('.');
            m_body.clear();
            return false;
        }
        const QJsonObject object = doc.object();
        for (auto it = object.constBegin(); it != object.constEnd(); ++it) {
            m_json.insert(it.key(), it.value());
        }
        return true;
    }
    if (m_contentType == QStringLiteral("multipart/form-data")) {
        const QString contentType = m_environment.value(QStringLiteral("CONTENT_TYPE"));
        const bool ok =
            parseMultipart(m_body, contentType, MultipartTargets{&m_post, &m_files, &m_json},
                           &m_errorText);
        m_body.clear();
        return ok;
    }
    return true;
}

// A form body is one line. It is read up to the first line feed, the end of input or the
// announced length, under the same time limits as any body, so that a web server that keeps
// standard input open cannot hold the process forever.
bool HttpServer::readFormLine(qint64 contentLength, QByteArray* line)
{
    if (!m_channel->inputOpen()) {
        m_errorText = QObject::tr("Не удалось открыть стандартный поток на чтение.");
        return false;
    }
    const qint64 start = nowMs();
    qint64 lastData = start;
    QByteArray buffer(m_limits.blockSize, Qt::Uninitialized);
    line->reserve(static_cast<int>(contentLength));
    while (line->size() < contentLength) {
        if (nowMs() - lastData > m_limits.waitMs) {
            m_errorText = QObject::tr("Тайм-аут ожидания данных содержимого запроса.");
            return false;
        }
        if (nowMs() - start > m_limits.totalMs) {
            m_errorText = QObject::tr("Тайм-аут запроса. Слишком долгая передача данных.");
            return false;
        }
        if (!m_channel->waitReadable(m_limits.pauseMs)) {
            continue;
        }
        const qint64 got = m_channel->readSome(buffer.data(), m_limits.blockSize);
        if (got <= 0) {
            break;
        }
        const int lineFeed = buffer.left(static_cast<int>(got)).indexOf('\n');
        line->append(buffer.constData(), lineFeed >= 0 ? lineFeed : static_cast<int>(got));
        if (lineFeed >= 0) {
            break;
        }
        lastData = nowMs();
    }
    if (line->size() > contentLength) {
        line->truncate(static_cast<int>(contentLength));
    }
    return true;
}

bool HttpServer::readBody(QByteArray* body)
{
    bool numeric = false;
    const qint64 contentLength =
        m_environment.value(QStringLiteral("CONTENT_LENGTH")).toLongLong(&numeric);
    if (!numeric) {
        m_errorText = QObject::tr("Неверный формат заголовка запроса 'Content-Length'.");
        return false;
    }
    if (m_debug) {
        emit toLog(LogDebug, QObject::tr("Начало получения содержимого запроса."));
    }
    if (!m_channel->inputOpen()) {
        m_errorText = QObject::tr("Не удалось открыть стандартный поток на чтение.");
        return false;
    }
    const qint64 start = nowMs();
    qint64 lastData = start;
    qint64 readTime = 0;
    QString trace;
    bool waitTimeout = false;
    bool totalTimeout = false;
    QByteArray buffer(m_limits.blockSize, Qt::Uninitialized);
    // The announced length is within the limit: one allocation instead of doubling copies.
    body->reserve(static_cast<int>(qMin(contentLength, m_limits.maxBodyBytes)));
    for (;;) {
        if (nowMs() - lastData > m_limits.waitMs) {
            waitTimeout = true;
            break;
        }
        if (nowMs() - start > m_limits.totalMs) {
            totalTimeout = true;
            break;
        }
        qint64 got = 0;
        qint64 took = 0;
        if (m_channel->waitReadable(0)) {
            const qint64 before = nowMs();
            got = m_channel->readSome(buffer.data(), m_limits.blockSize);
            took = nowMs() - before;
            if (got <= 0) {
                break; // end of input
            }
        }
        readTime += took;
        if (!trace.isEmpty()) {
            trace += QStringLiteral(", ");
        }
        trace += QString::number(got) + QLatin1Char('=') + QString::number(took) +
                 QObject::tr(" мсек");
        if (got == 0) {
            m_channel->waitReadable(m_limits.pauseMs);
            continue;
        }
        if (body->size() + got > m_limits.maxBodyBytes) {
            m_channel->closeInput();
            m_errorText = bodyTooLongText();
            return false;
        }
        body->append(buffer.constData(), static_cast<int>(got));
        if (m_debug) {
            m_bodyTrace.blockSizes.append(static_cast<int>(got));
        }
        if (body->size() >= contentLength) {
            break;
        }
        lastData = nowMs();
    }
    m_channel->closeInput();
    if (m_debug) {
        m_bodyTrace.pending = true;
        m_bodyTrace.bytes = *body;
        m_bodyTrace.trace = trace;
        m_bodyTrace.contentLength = contentLength;
        m_bodyTrace.readTime = readTime;
    }
    if (waitTimeout) {
        m_errorText = QObject::tr("Тайм-аут ожидания данных содержимого запроса.");
        return false;
    }
    if (totalTimeout) {
        m_errorText = QObject::tr("Тайм-аут запроса. Слишком долгая передача данных.");
        return false;
    }
    if (body->size() != contentLength) {
        emit toLog(LogWarning, QObject::tr("Значение 'Content-Length' не соответствует фактической длине ") +
                                   QString::number(body->size()));
    }
    return true;
}

void HttpServer::logBodyTrace()
{
    if (!m_bodyTrace.pending) {
        return;
    }
    m_bodyTrace.pending = false;
    TextMap texts = m_get;
    texts.insert(m_post);
    const QSet<QString> secretValues = secrets::collectValues(texts, m_json);
    // Only the first bytes are shown; a secret that begins among them is masked whole before
    // the cut (escaped in JSON it may take up to six bytes for each of its own).
    int longestSecret = 0;
    for (const QString& value : secretValues) {
        longestSecret = qMax(longestSecret, value.toUtf8().size() * 6);
    }
    const QByteArray shown = secrets::maskBytes(m_bodyTrace.bytes.left(kMaxDebugBodyBytes + longestSecret), secretValues);
    int offset = 0;
    for (int counter = 0; counter < m_bodyTrace.blockSizes.size() && offset < kMaxDebugBodyBytes; ++counter) {
        const int size = m_bodyTrace.blockSizes.at(counter);
        const int shownSize = qMin(size, kMaxDebugBodyBytes - offset);
        emit toLog(LogDebug, QObject::tr("БЛОК ") + blockDump(counter, shown.mid(offset, shownSize)) +
                                 QStringLiteral(" [") + QString::number(size) + QObject::tr(" Б]"));
        offset += size;
    }
    const qint64 length = m_bodyTrace.bytes.size();
    if (length > kMaxDebugBodyBytes) {
        emit toLog(LogDebug, QObject::tr("Содержимое запроса показано не полностью: первые %1 Б из %2 Б.")
                                 .arg(kMaxDebugBodyBytes)
                                 .arg(length));
    }
    emit toLog(LogDebug, QObject::tr("Окончание получения содержимого запроса."));
    emit toLog(LogDebug, QObject::tr("Кол-во считанных байт и время передачи последовательно: ") +
                             m_bodyTrace.trace);
    emit toLog(LogDebug, QObject::tr("Всего прочитано байт: ") + QString::number(length) +
                             QObject::tr("; Не прочитано (разница с 'Content-Length'): ") +
                             QString::number(m_bodyTrace.contentLength - length));
    emit toLog(LogDebug, QObject::tr("Общее время на чтение содержимого запроса: ") +
                             QString::number(m_bodyTrace.readTime) + QObject::tr(" мсек."));
    m_bodyTrace = BodyTrace();
}

} // namespace tarn
