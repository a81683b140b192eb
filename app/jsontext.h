#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>

namespace orvela {

// Compact JSON text written straight from the values, byte for byte as QJsonDocument writes it
// (QJsonDocument::Compact), for the answers with thousands of small objects, where building
// them as Qt JSON values first costs more than everything else of the request. The caller
// writes an object's keys in their sorted order, as Qt keeps them.
class JsonText {
public:
    JsonText& beginObject();
    JsonText& endObject();
    JsonText& beginArray();
    JsonText& endArray();
    JsonText& key(const char* name); // a Latin-1 name without characters that need escaping
    JsonText& value(const QString& text);
    JsonText& value(qint64 number);
    JsonText& raw(const QByteArray& written); // a value already written as compact JSON

    const QByteArray& text() const { return m_text; }

private:
    void separate();
    QByteArray m_text;
    bool m_afterValue = false;
};

// The compact text of an object split where the value of `key` goes: `head` ends with
// "key":, `tail` holds the keys that sort after it and the closing brace. A value written
// between them gives the text of the object made whole with it.
struct SplitObject {
    QByteArray head;
    QByteArray tail;
};
SplitObject splitAtKey(const QJsonObject& fields, const QString& key);

// Appends a JSON string (quotes included) as QJsonDocument writes it.
void appendJsonString(QByteArray* out, const QString& text);

} // namespace orvela
