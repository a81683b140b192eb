#include "cgi/multipart.h"

#include "cgi/clientjson.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QObject>

namespace tarn {

namespace {

// Upper-cases ASCII letters only, so that positions found in the copy are valid in the
// original whatever other characters the line holds.
QString asciiUpper(const QString& text)
{
    QString result = text;
    for (QChar& c : result) {
        if (c >= QLatin1Char('a') && c <= QLatin1Char('z')) {
            c = QChar(c.unicode() - 'a' + 'A');
        }
    }
    return result;
}

QByteArray detectLineBreak(const QByteArray& body, const QByteArray& boundary)
{
    const QByteArray candidates[] = {"\r\n", "\r", "\n"};
    for (const QByteArray& lb : candidates) {
        if (body.contains(lb + "--" + boundary + lb)) {
            return lb;
        }
    }
    return QByteArrayLiteral("\r\n");
}

QList<QByteArray> splitLines(const QByteArray& block, const QByteArray& lineBreak)
{
    QList<QByteArray> lines;
    int pos = 0;
    while (pos <= block.size()) {
        int next = block.indexOf(lineBreak, pos);
        if (next < 0) {
            next = block.size();
        }
        if (next > pos) {
            lines.append(block.mid(pos, next - pos));
        }
        pos = next + lineBreak.size();
    }
    return lines;
}

// Finds a marker such as NAME=" preceded by a blank or a semicolon and stores the text after
// it up to the next double quote (empty when that quote is missing). False when not found.
bool quotedAfter(const QString& line, const QString& upper, const QString& marker, QString* value)
{
    int at = upper.indexOf(QLatin1Char(' ') + marker);
    if (at < 0) {
        at = upper.indexOf(QLatin1Char(';') + marker);
    }
    if (at < 0) {
        return false;
    }
    const int start = at + 1 + marker.size();
    const int end = line.indexOf(QLatin1Char('"'), start);
    *value = end < 0 ? QString() : line.mid(start, end - start);
    return true;
}

struct PartHeaders {
    QString fieldName;
    QString fileName;
    bool binary = false;
    bool json = false;
};

void readHeaderLine(const QString& line, PartHeaders& headers)
{
    static const QString kDisposition = QStringLiteral("CONTENT-DISPOSITION:");
    static const QString kType = QStringLiteral("CONTENT-TYPE:");
    static const QString kEncoding = QStringLiteral("CONTENT-TRANSFER-ENCODING:");
    const QString upper = asciiUpper(line);
    if (upper.contains(kDisposition)) {
        quotedAfter(line, upper, QStringLiteral("NAME=\""), &headers.fieldName);
        quotedAfter(line, upper, QStringLiteral("FILENAME=\""), &headers.fileName);
    } else if (upper.contains(kType)) {
        const QString lower = line.toLower();
        headers.binary = lower.contains(QStringLiteral("application/octet-stream"));
        headers.json = lower.contains(QStringLiteral("application/json"));
    } else if (upper.contains(kEncoding)) {
        const int at = upper.indexOf(kEncoding) + kEncoding.size();
        headers.binary = upper.mid(at).trimmed() == QStringLiteral("BINARY");
    }
}

// Stores one part; false only for a JSON part that is not an object.
bool storePart(const PartHeaders& headers, const QByteArray& content,
               const MultipartTargets& targets)
{
    if (headers.binary || !headers.fileName.isEmpty()) {
        targets.files->insert(headers.fieldName, content);
        return true;
    }
    if (headers.json) {
        QJsonDocument doc;
        if (!parseClientJson(content, &doc) || !doc.isObject()) {
            return false;
        }
        targets.json->insert(headers.fieldName, doc.object());
        return true;
    }
    const QString value = QString::fromUtf8(content).trimmed();
    targets.fields->insert(headers.fieldName, value.isEmpty() ? QStringLiteral("1") : value);
    return true;
}

} // namespace

QByteArray multipartBoundary(const QString& contentType)
{
    const QStringList pieces = contentType.split(QLatin1Char(';'), Qt::SkipEmptyParts);
    for (int i = 1; i < pieces.size(); ++i) {
        const QString piece = pieces.at(i).trimmed();
        if (!asciiUpper(piece).startsWith(QStringLiteral("BOUNDARY="))) {
            continue;
        }
        QString boundary = piece.mid(9).trimmed();
        if (boundary.size() > 2 && boundary.startsWith(QLatin1Char('"')) &&
            boundary.endsWith(QLatin1Char('"'))) {
            boundary = boundary.mid(1, boundary.size() - 2);
        }
        return boundary.toUtf8();
    }
    return QByteArray();
}

bool parseMultipart(QByteArray body, const QString& contentType, const MultipartTargets& targets,
                    QString* error)
{
    const QByteArray boundary = multipartBoundary(contentType);
    if (boundary.isEmpty()) {
        *error = QObject::tr("Не найдено значение разделителя 'Boundary'.");
        return false;
    }
    const QByteArray lineBreak = detectLineBreak(body, boundary);
    const QByteArray delimiter = "--" + boundary + lineBreak;
    const QByteArray closing = "--" + boundary + "--";
    const QByteArray headerEnd = lineBreak + lineBreak;

    int pos = 0;
    bool closingMet = false;
    while (pos < body.size() && !closingMet) {
        const int found = body.indexOf(delimiter, pos);
        if (found < 0) {
            break;
        }
        pos = found + delimiter.size();
        if (pos >= body.size()) {
            break;
        }
        int end = body.indexOf(lineBreak + delimiter, pos);
        if (end < 0) {
            closingMet = true;
            end = body.indexOf(lineBreak + closing, pos);
            if (end < 0) {
                end = body.indexOf(closing, pos);
            }
            if (end < 0) {
                end = body.size();
            }
        }
        if (end == pos) {
            break;
        }
        const QByteArray part = body.mid(pos, end - pos);
        pos = end;

        const int headersLength = part.indexOf(headerEnd);
        if (headersLength <= 0) {
            continue;
        }
        const QByteArray content = part.mid(headersLength + headerEnd.size());
        if (content.isEmpty()) {
            continue;
        }
        PartHeaders headers;
        for (const QByteArray& line : splitLines(part.left(headersLength), lineBreak)) {
            readHeaderLine(QString::fromUtf8(line), headers);
        }
        if (headers.fieldName.isEmpty()) {
            continue;
        }
        if (!storePart(headers, content, targets)) {
            *error = QObject::tr("Неверный формат параметра запроса JSON.");
            return false;
        }
    }
    return true;
}

} // namespace tarn
