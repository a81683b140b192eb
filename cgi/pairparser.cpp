#include "cgi/pairparser.h"

#include <QUrl>

namespace tarn {

namespace {

QString decodePart(const QString& part)
{
    QString decoded = QUrl::fromPercentEncoding(part.toLatin1());
    decoded.replace(QLatin1Char('+'), QLatin1Char(' '));
    return decoded;
}

} // namespace

void parsePairs(const QString& text, QChar separator, TextMap& target)
{
    const QStringList pieces = text.split(separator, Qt::SkipEmptyParts);
    for (const QString& piece : pieces) {
        const QStringList parts = piece.split(QLatin1Char('='), Qt::SkipEmptyParts);
        if (parts.isEmpty()) {
            continue;
        }
        const QString value = parts.size() > 1 ? decodePart(parts.at(1)) : QString();
        target.insert(decodePart(parts.at(0)), value);
    }
}

} // namespace tarn
