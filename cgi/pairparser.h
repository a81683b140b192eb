#pragma once

#include <QMap>
#include <QString>

namespace tarn {

using TextMap = QMap<QString, QString>;

// Splits "a=1&b=2" style text into name/value pairs: empty pieces are dropped, a value keeps
// only its text up to a second "=", names and values are percent-decoded as UTF-8 and then
// every "+" becomes a space. A repeated name keeps its last value. False when the text holds
// more than kMostPairs names: no client sends that many, and each costs memory.
constexpr int kMostPairs = 10000;
bool parsePairs(const QString& text, QChar separator, TextMap& target);

} // namespace tarn
