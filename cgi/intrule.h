#pragma once

#include <QString>

namespace orvela {

// The program-wide reading of integer parameters: the text is trimmed; a text longer than two
// characters that begins with "0x" (any case) is hexadecimal after the prefix, anything else
// decimal. A text that does not convert at the given width yields the failure value.
qint64 parseInt32(const QString& text, qint64 failure = -1);
qint64 parseUInt32(const QString& text, qint64 failure = -1);
qint64 parseInt64(const QString& text, qint64 failure = -1);

} // namespace orvela
