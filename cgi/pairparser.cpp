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

// The next non-empty segment of a piece between "=" signs, from *from on; a null view when
// there is none.
QStringRef nextSegment(const QStringRef& piece, int* from)
{
    while (*from < piece.size()) {
        int end = piece.indexOf(QLatin1Char('='), *from);
        if (end < 0) {
            end = piece.size();
        }
        const int start = *from;
        *from = end + 1;
        if (end > start) {
            return piece.mid(start, end - start);
        }
    }
    return QStringRef();
}

// The name and the value of one piece "name=value", empty segments skipped and anything after
// a second "=" dropped; false for a piece with no name.
bool splitPiece(const QStringRef& piece, QStringRef* name, QStringRef* value)
{
    int from = 0;
    *name = nextSegment(piece, &from);
    *value = nextSegment(piece, &from);
    return !name->isNull();
}

} // namespace

// The text is walked piece by piece: a body of many megabytes of tiny pieces is neither copied
// nor split into a list of millions of views first.
bool parsePairs(const QString& text, QChar separator, TextMap& target)
{
    for (int start = 0; start <= text.size();) {
        int end = text.indexOf(separator, start);
        if (end < 0) {
            end = text.size();
        }
        QStringRef name;
        QStringRef value;
        if (end > start && splitPiece(text.midRef(start, end - start), &name, &value)) {
            target.insert(decodePart(name), value.isNull() ? QString() : decodePart(value));
            if (target.size() > kMostPairs) {
                return false;
            }
        }
        start = end + 1;
    }
    return true;
}

} // namespace tarn
