#pragma once

#include <QList>
#include <QString>

namespace orvela {

// The one place that turns a text into an SQL literal: single quotes around it, quotes
// doubled, backslashes doubled when the server treats them as escapes, and NUL characters
// dropped (PostgreSQL text cannot hold them and libpq would cut the statement there).
QString sqlText(const QString& text);

// An optional text: NULL when it is empty, else the quoted literal.
QString sqlTextOrNull(const QString& text);

// An optional reference: NULL for 0 (none), else the number.
QString sqlIdOrNull(qint64 id);

// Ids for an IN list: "1,2,3".
QString sqlIdList(const QList<qint64>& ids);
// Ids as one array constant, '{1,2,3}'::bigint[], for "= ANY(...)": a long list is parsed and
// planned as one value instead of one per id.
QString sqlIdArray(const QList<qint64>& ids);

// The right side of a LIKE that finds the text anywhere in a column: "%", "_" and "\" in the
// text match only themselves, so that a search for "50%" does not list everything.
QString sqlContains(const QString& text);

// Set once the connection is open, from what the driver reports for the server.
void setSqlBackslashEscapes(bool on);

} // namespace orvela
