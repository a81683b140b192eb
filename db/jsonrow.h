#pragma once

#include <QHash>

#include <QJsonObject>
#include <QSqlQuery>

namespace orvela {

// Turns the current row of a query into a JSON object with the rules the clients rely on:
// NULL texts become "", NULL numbers 0, and identifiers must convert or the row is invalid.
class JsonRow {
public:
    explicit JsonRow(const QSqlQuery& query) : m_query(query) {}

    JsonRow& text(const QString& key, const char* column);
    JsonRow& number(const QString& key, const char* column);
    // A number that must convert; a NULL or a non-number marks the row invalid.
    JsonRow& id(const QString& key, const char* column);
    JsonRow& value(const QString& key, const QJsonValue& value);

    bool valid() const { return m_valid; }
    QJsonObject object() const { return m_object; }

private:
    const QSqlQuery& m_query;
    QJsonObject m_object;
    bool m_valid = true;
};

// The value of a named column in the current row; an invalid value when there is no such column.
QVariant columnValue(const QSqlQuery& query, const char* column);
// Column values read with the same rules, for handlers that compose texts from them.
QString columnText(const QSqlQuery& query, const char* column);
qint64 columnNumber(const QSqlQuery& query, const char* column, bool* ok = nullptr);

// The ids a column holds over all rows of a query, NULLs left out, wherever the query stood; it
// is left before its first row, for the pass that builds the answer.
QList<qint64> columnIds(QSqlQuery& query, const char* column);
// The row numbers of a query grouped by the id in a column, at most `limit` rows per id.
QHash<qint64, QList<int>> rowsByColumn(QSqlQuery& query, const char* column, int limit);

// A JSON text parsed as an object; an empty object when it is NULL or anything else.
QJsonObject columnObject(const QSqlQuery& query, const char* column, bool* isObject = nullptr);

} // namespace orvela
