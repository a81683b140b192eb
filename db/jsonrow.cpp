#include "db/jsonrow.h"

#include <QJsonDocument>
#include <QSqlRecord>
#include <QSqlResult>
#include <QVariant>

#include <libpq-fe.h>

namespace orvela {

namespace {

// QSqlQuery::value(name) has the driver build the whole record of the row (every column's name,
// type and size) only to find one index, and an answer of a few hundred rows of fifteen columns
// spent most of its processor time there. The PostgreSQL driver hands out its libpq result,
// whose column names can be compared in place; the match stays case-insensitive, as the
// record's is.
int columnIndex(const QSqlQuery& query, const char* column)
{
    const QVariant handle = query.result() ? query.result()->handle() : QVariant();
    if (qstrcmp(handle.typeName(), "PGresult*") == 0) {
        const PGresult* result = *static_cast<PGresult* const*>(handle.constData());
        if (result) {
            for (int i = 0, count = PQnfields(result); i < count; ++i) {
                if (qstricmp(PQfname(result, i), column) == 0) {
                    return i;
                }
            }
            return -1;
        }
    }
    return query.record().indexOf(QString::fromLatin1(column));
}

} // namespace

QVariant columnValue(const QSqlQuery& query, const char* column)
{
    const int index = columnIndex(query, column);
    return index < 0 ? QVariant() : query.value(index);
}

QString columnText(const QSqlQuery& query, const char* column)
{
    const QVariant value = columnValue(query, column);
    return value.isNull() ? QString(QLatin1String("")) : value.toString();
}

qint64 columnNumber(const QSqlQuery& query, const char* column, bool* ok)
{
    const QVariant value = columnValue(query, column);
    bool converted = false;
    const qint64 number = value.isNull() ? 0 : value.toLongLong(&converted);
    if (ok) {
        *ok = !value.isNull() && converted;
    }
    return converted ? number : 0;
}

QList<qint64> columnIds(QSqlQuery& query, const char* column)
{
    QList<qint64> ids;
    for (query.seek(QSql::BeforeFirstRow); query.next();) {
        bool ok = false;
        const qint64 id = columnNumber(query, column, &ok);
        if (ok) {
            ids << id;
        }
    }
    query.seek(QSql::BeforeFirstRow);
    return ids;
}

QHash<qint64, QList<int>> rowsByColumn(QSqlQuery& query, const char* column, int limit)
{
    QHash<qint64, QList<int>> rows;
    int row = 0;
    for (query.seek(QSql::BeforeFirstRow); query.next(); ++row) {
        QList<int>& list = rows[columnNumber(query, column)];
        if (list.size() < limit) {
            list << row;
        }
    }
    return rows;
}

QJsonObject columnObject(const QSqlQuery& query, const char* column, bool* isObject)
{
    const QJsonDocument doc = QJsonDocument::fromJson(columnText(query, column).toUtf8());
    if (isObject) {
        *isObject = doc.isObject();
    }
    return doc.object();
}

JsonRow& JsonRow::text(const QString& key, const char* column)
{
    m_object.insert(key, columnText(m_query, column));
    return *this;
}

JsonRow& JsonRow::number(const QString& key, const char* column)
{
    m_object.insert(key, columnNumber(m_query, column));
    return *this;
}

JsonRow& JsonRow::id(const QString& key, const char* column)
{
    bool ok = false;
    const qint64 number = columnNumber(m_query, column, &ok);
    m_valid = m_valid && ok;
    m_object.insert(key, number);
    return *this;
}

JsonRow& JsonRow::value(const QString& key, const QJsonValue& value)
{
    m_object.insert(key, value);
    return *this;
}

} // namespace orvela
