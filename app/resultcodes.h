#pragma once

#include <QString>

namespace orvela {

// Highest code that has a message; anything above it is "unknown error".
constexpr quint16 kLastAssignedCode = 330;

// The Russian message of a result code: "OK." for 0, empty for unassigned codes up to 329.
QString resultCodeText(quint16 code);

// The error record of a non-zero code: "Ошибка 0x" + four upper-case hex digits + ": " + message.
QString resultCodeRecord(quint16 code);

} // namespace orvela
