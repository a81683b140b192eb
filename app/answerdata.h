#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <QVector>

namespace orvela {

// The "data" array of an answer, held as the compact JSON text it is sent as. A row is
// written out as soon as it is made, so a large answer is held once, not as JSON values,
// their text and the envelope's copy of it. A row that holds a long list (an address with its
// objects, an object with its devices) can be written piece by piece: open() writes its other
// keys, each element follows as it is made, close() ends it; the text is the same as that of
// the whole row made at once.
//
// The text stops growing at its limit: an answer that would pass it is marked overflowed, and
// the request refuses it instead of taking the memory of the machine.
class AnswerData {
public:
    void setLimit(qint64 bytes) { m_limit = bytes; }
    qint64 limit() const { return m_limit; }

    void append(const QJsonValue& row);
    void open(const QJsonObject& fields, const QString& listKey);
    void appendElement(const QJsonObject& element);
    // A row or element already written as compact JSON text.
    void appendText(const QByteArray& compact) { write(compact); }
    void close();

    void clear();
    bool isEmpty() const { return m_rows == 0; }
    bool overflowed() const { return m_overflowed; }
    qint64 size() const { return m_text.size(); }
    // The rows joined by commas, without the brackets of the array.
    const QByteArray& text() const { return m_text; }

private:
    // Writes one element of the innermost open list, or a row when none is open.
    void write(const QByteArray& element);
    bool fits(qint64 more);

    QByteArray m_text;
    int m_rows = 0;
    qint64 m_limit = 0; // 0: none
    bool m_overflowed = false;
    struct OpenList {
        QByteArray tail; // what follows the list in its row: "]" and the keys after it
        int elements = 0;
    };
    QVector<OpenList> m_open;
};

} // namespace orvela
