#include "cgi/pairparser.h"

#include <QUrl>

namespace tarn {

namespace {

QString decodePart(const QStringRef& part)
{
    QString decoded = QUrl::fromPercentEncoding(part.toLatin1());
    decoded.replace(QLatin1Char('+'), QLatin1Char(' '));
    return decoded;
}

} // namespace

// The pieces are views into the text: a body of many megabytes is not copied once per split.
void parsePairs(const QString& text, QChar separator, TextMap& target)
{
    const QVector<QStringRef> pieces = text.splitRef(separator, Qt::SkipEmptyParts);
    for (const QStringRef& piece : pieces) {
        const QVector<QStringRef> parts = piece.split(QLatin1Char('='), Qt::SkipEmptyParts);
        if (parts.isEmpty()) {
            continue;
        }
        const QString value = parts.size() > 1 ? decodePart(parts.at(1)) : QString();
        target.insert(decodePart(parts.at(0)), value);
    }
}

} // namespace tarn
