#pragma once

#include <QJsonValue>
#include <QString>

namespace client {

// Readers for the fields of "DATA" records. Clients send numbers as JSON numbers, and some
// send identifiers as numeric strings, so identifiers accept both.

// A 64-bit identifier: a whole JSON number, or a string read by the integer rule.
bool jsonToInt64(const QJsonValue& value, qint64* out);
// A JSON number as an integer; anything else (missing, string, fraction) gives the fallback.
qint64 jsonInteger(const QJsonValue& value, qint64 fallback);
// A JSON string; anything else reads as "".
QString jsonString(const QJsonValue& value);

} // namespace client
