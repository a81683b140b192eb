#include "app/answerdata.h"

#include "app/jsontext.h"

#include <QJsonArray>
#include <QJsonDocument>

namespace orvela {

namespace {

QByteArray compactText(const QJsonValue& value)
{
    if (value.isObject()) {
        return QJsonDocument(value.toObject()).toJson(QJsonDocument::Compact);
    }
    if (value.isArray()) {
        return QJsonDocument(value.toArray()).toJson(QJsonDocument::Compact);
    }
    // A plain value is written as the one element of an array, without the brackets.
    const QByteArray wrapped = QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact);
    return wrapped.mid(1, wrapped.size() - 2);
}

} // namespace

bool AnswerData::fits(qint64 more)
{
    if (m_overflowed || (m_limit > 0 && m_text.size() + more > m_limit)) {
        m_overflowed = true;
        return false;
    }
    return true;
}

void AnswerData::write(const QByteArray& element)
{
    int& count = m_open.isEmpty() ? m_rows : m_open.last().elements;
    if (!fits(element.size() + 1)) {
        return;
    }
    if (count++ > 0) {
        m_text += ',';
    }
    m_text += element;
}

void AnswerData::append(const QJsonValue& row)
{
    write(compactText(row));
}

void AnswerData::appendElement(const QJsonObject& element)
{
    write(compactText(element));
}

void AnswerData::open(const QJsonObject& fields, const QString& listKey)
{
    // The keys come out in their sorted order, before and after the list, as in the row made
    // at once.
    const SplitObject row = splitAtKey(fields, listKey);
    write(row.head + '[');
    m_open.append(OpenList{']' + row.tail, 0});
}

void AnswerData::close()
{
    if (m_open.isEmpty()) {
        return;
    }
    const QByteArray tail = m_open.takeLast().tail;
    if (fits(tail.size())) {
        m_text += tail;
    }
}

void AnswerData::clear()
{
    m_text = QByteArray();
    m_rows = 0;
    m_open.clear();
    m_overflowed = false;
}

} // namespace orvela
