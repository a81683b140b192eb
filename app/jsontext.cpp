#include "app/jsontext.h"

#include <QJsonArray>
#include <QJsonDocument>

namespace orvela {

namespace {

// Qt writes every character from U+0020 on as its UTF-8 bytes, but for the quote and the
// backslash; everything else is escaped, which only Qt's own writer is trusted to do.
bool writtenAsIs(const QString& text)
{
    for (const QChar c : text) {
        const ushort u = c.unicode();
        if (u < 0x20 || u == '"' || u == '\\' || c.isSurrogate()) {
            return false;
        }
    }
    return true;
}

} // namespace

void appendJsonString(QByteArray* out, const QString& text)
{
    if (writtenAsIs(text)) {
        out->append('"').append(text.toUtf8()).append('"');
        return;
    }
    const QByteArray wrapped = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
    out->append(wrapped.constData() + 1, wrapped.size() - 2);
}

SplitObject splitAtKey(const QJsonObject& fields, const QString& key)
{
    // Written with a marker for the value and split there, so that the keys keep Qt's order.
    // The marker cannot occur elsewhere: a quote inside a text is always written escaped.
    QJsonObject marked = fields;
    marked.insert(key, QStringLiteral("\x01"));
    const QByteArray text = QJsonDocument(marked).toJson(QJsonDocument::Compact);
    const QByteArray marker = '"' + key.toUtf8() + "\":\"\\u0001\"";
    const int at = text.indexOf(marker);
    const int valueAt = at + marker.size() - 8; // the marker's value is "\u0001" in quotes
    return SplitObject{text.left(valueAt), text.mid(at + marker.size())};
}

void JsonText::separate()
{
    if (m_afterValue) {
        m_text.append(',');
    }
}

JsonText& JsonText::beginObject()
{
    separate();
    m_text.append('{');
    m_afterValue = false;
    return *this;
}

JsonText& JsonText::endObject()
{
    m_text.append('}');
    m_afterValue = true;
    return *this;
}

JsonText& JsonText::beginArray()
{
    separate();
    m_text.append('[');
    m_afterValue = false;
    return *this;
}

JsonText& JsonText::endArray()
{
    m_text.append(']');
    m_afterValue = true;
    return *this;
}

JsonText& JsonText::key(const char* name)
{
    separate();
    m_text.append('"').append(name).append("\":");
    m_afterValue = false;
    return *this;
}

JsonText& JsonText::value(const QString& text)
{
    separate();
    appendJsonString(&m_text, text);
    m_afterValue = true;
    return *this;
}

JsonText& JsonText::value(qint64 number)
{
    separate();
    m_text.append(QByteArray::number(number));
    m_afterValue = true;
    return *this;
}

JsonText& JsonText::raw(const QByteArray& written)
{
    separate();
    m_text.append(written);
    m_afterValue = true;
    return *this;
}

} // namespace orvela
