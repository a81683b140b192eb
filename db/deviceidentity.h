#pragma once

#include <QString>

namespace orvela {

// The four identity fields of an M-Bus device in packed form.
struct DeviceIdentity {
    quint32 identNum = 0;     // BCD: the decimal digits of "IdentNum" as hexadecimal digits
    quint16 manufacturer = 0; // three 5-bit letters, the first in bits 14..10
    quint8 version = 0;
    quint8 devType = 0;
};

// "ABC" to its 16-bit manufacturer code; letters outside A..Z give 0 for that letter.
quint16 manufacturerCode(const QString& letters);
// The three letters of a manufacturer code.
QString manufacturerLetters(quint16 code);

} // namespace orvela
