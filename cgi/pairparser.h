#pragma once

#include <QMap>
#include <QString>

namespace tarn {

using TextMap = QMap<QString, QString>;

// Splits "a=1&b=2" style text into name/value pairs: empty pieces are dropped, a value keeps
// only its text up to a second "=", names and values are percent-decoded as UTF-8 and then
// every "+" becomes a space. A repeated name keeps its last value.
void parsePairs(const QString& text, QChar separator, TextMap& target);

} // namespace tarn
