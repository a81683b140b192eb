#pragma once

#include <QJsonArray>
#include <QString>

#include <vector>

namespace client {

// The limits of the values a command writes: the length of a text column, the range of a
// number column, the number of elements of "DATA". A value past its limit is refused with the
// field's code before any statement runs, instead of failing inside PostgreSQL with a code
// that names no field, or taking time and memory without bound.
struct FieldLimit {
    enum Kind { Text, Number, Elements };
    const char* command; // the command reading the value
    const char* field;   // its parameter, or "DATA.key": that key of every "DATA" element
    const char* table;   // the table and column the value is written to
    const char* column;
    Kind kind;
    qint64 largest; // characters of a text, the largest value of a number, the most elements
    quint16 code;   // the refusal: the field's format code where the command has one
};

// Every limit, grouped by command in the order of the command reference.
const std::vector<FieldLimit>& fieldLimits();

// The first way the records of "DATA" break a limit of theirs (an element count or a "DATA.key"
// limit), as the error record tells it; empty when they keep it.
QString dataLimitBreach(const FieldLimit& limit, const QJsonArray& data);

} // namespace client
