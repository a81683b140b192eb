#include "cgi/clientjson.h"

#include <QJsonParseError>
#include <QObject>

namespace tarn {

// Counts values and nesting in one pass over the text, outside of strings, before the parser
// sees it: every value but the first follows a comma or opens a container, so the count is
// never below the values of the text.
bool clientJsonWithinBounds(const QByteArray& text, QString* reason)
{
    qint64 values = 1;
    int depth = 0;
    bool inString = false;
    bool escaped = false;
    for (const char c : text) {
        if (inString) {
            if (escaped) {
                escaped = false;
            } else if (c == '\\') {
                escaped = true;
            } else if (c == '"') {
                inString = false;
            }
            continue;
        }
        switch (c) {
        case '"':
            inString = true;
            break;
        case '[':
        case '{':
            ++values;
            if (++depth > kDeepestClientJson) {
                *reason = QObject::tr("JSON вложен глубже %1 уровней").arg(kDeepestClientJson);
                return false;
            }
            break;
        case ']':
        case '}':
            --depth;
            break;
        case ',':
            ++values;
            break;
        default:
            break;
        }
        if (values > kMostClientJsonValues) {
            *reason = QObject::tr("JSON содержит больше %1 значений").arg(kMostClientJsonValues);
            return false;
        }
    }
    return true;
}

bool parseClientJson(const QByteArray& text, QJsonDocument* document, QString* reason)
{
    QString unused;
    QString& why = reason ? *reason : unused;
    *document = QJsonDocument();
    if (!clientJsonWithinBounds(text, &why)) {
        return false;
    }
    QJsonParseError error{};
    *document = QJsonDocument::fromJson(text, &error);
    if (error.error != QJsonParseError::NoError) {
        why = QObject::tr("Ошибка в позиции %1: %2").arg(error.offset).arg(error.errorString());
        return false;
    }
    return true;
}

} // namespace tarn
