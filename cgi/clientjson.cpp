#include "cgi/clientjson.h"

#include <QJsonObject>
#include <QJsonParseError>
#include <QObject>
#include <QSet>
#include <QVector>

#include <algorithm>

namespace tarn {

namespace {

// One open array or object of the text, as the scan walks it.
struct Container {
    bool object = false;
    bool expectingKey = false;
    QSet<QByteArray> keys;
};

// A key as the parser compares it: escapes decoded, invalid UTF-8 replaced, a NUL ending it. Plain
// ASCII keys, nearly all of them, are their bytes.
QByteArray keyText(const QByteArray& raw)
{
    const bool plain = std::all_of(raw.cbegin(), raw.cend(), [](char c) { return c >= 0x20 && c < 0x7f && c != '\\'; });
    if (plain) {
        return raw;
    }
    const QStringList keys = QJsonDocument::fromJson("{\"" + raw + "\":0}").object().keys();
    if (keys.isEmpty()) {
        return raw;
    }
    // The parser tells keys apart only up to a NUL.
    const QString key = keys.first();
    return key.left(key.indexOf(QChar(0))).toUtf8();
}

} // namespace

// Counts values and nesting in one pass over the text, outside of strings, before the parser
// sees it: every value but the first follows a comma or opens a container, so the count is
// never below the values of the text. It also refuses a key that repeats within one object:
// Qt's parser keeps the last value and leaks the memory of an array or object it replaces,
// which a persistent process would never get back.
bool clientJsonWithinBounds(const QByteArray& text, QString* reason)
{
    qint64 values = 1;
    QVector<Container> open;
    bool inString = false;
    bool inKey = false;
    int stringStart = 0;
    bool escaped = false;
    for (int at = 0; at < text.size(); ++at) {
        const char c = text.at(at);
        if (inString) {
            if (escaped) {
                escaped = false;
            } else if (c == '\\') {
                escaped = true;
            } else if (c == '"') {
                inString = false;
                if (inKey && !open.isEmpty()) {
                    inKey = false;
                    const QByteArray key = keyText(text.mid(stringStart, at - stringStart));
                    if (open.last().keys.contains(key)) {
                        *reason = QObject::tr("JSON повторяет ключ \"%1\" в одном объекте").arg(QString::fromUtf8(key));
                        return false;
                    }
                    open.last().keys.insert(key);
                }
            }
            continue;
        }
        switch (c) {
        case '"':
            inString = true;
            stringStart = at + 1;
            inKey = !open.isEmpty() && open.last().expectingKey;
            if (inKey) {
                open.last().expectingKey = false;
            }
            break;
        case '[':
        case '{':
            ++values;
            if (open.size() + 1 > kDeepestClientJson) {
                *reason = QObject::tr("JSON вложен глубже %1 уровней").arg(kDeepestClientJson);
                return false;
            }
            open.append(Container{c == '{', c == '{', {}});
            break;
        case ']':
        case '}':
            if (!open.isEmpty()) {
                open.removeLast();
            }
            break;
        case ',':
            ++values;
            if (!open.isEmpty() && open.last().object) {
                open.last().expectingKey = true;
            }
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
