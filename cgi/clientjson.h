#pragma once

#include <QByteArray>
#include <QJsonDocument>
#include <QString>

namespace tarn {

// JSON that a client sends (a body, a part of one, "DATA") is parsed only within these
// bounds. Qt's parser takes some thirty times the text in memory for a text of many small
// values, and one stack frame per level of nesting; no command reads anywhere near these.
constexpr int kMostClientJsonValues = 200000;
constexpr int kDeepestClientJson = 32;

// Whether a text stays within the bounds; false with the bound it passes.
bool clientJsonWithinBounds(const QByteArray& text, QString* reason);
// Parses a JSON text from a client. False when it passes a bound or does not parse, with the
// reason in *reason: the bound, or the offset where it broke and the parser's own words.
bool parseClientJson(const QByteArray& text, QJsonDocument* document, QString* reason = nullptr);

} // namespace tarn
