#pragma once

#include "db/deviceidentity.h"
#include "readings/archiverecord.h"

#include <QString>

namespace orvela {

// The kinds of device that naming, error texts, unit settings and scaling tell apart.
enum class DeviceClass { Other, Electricity, Gas, Heat, Water, PulseCounter, Composite };

// The class of an M-Bus device type: 2 electricity, 3 gas, 4 and 12 heat, 6, 7, 21 and 22
// water, 25 pulse counter, 26 composite; anything else Other.
DeviceClass deviceClass(int devType);

// The device type that stands for a model's resource code where only the model is known:
// 2 cold water 22, 3 hot water 6, 4 electricity 2, 5 gas 3, 6 heat 4; anything else 0.
int devTypeOfResource(int resCode);

// Name of a quantity (1..63) and of a unit (1..84); empty for any other number.
QString titleName(int titleId);
QString unitName(int edId);

// Name of a model's resource code; an unknown code reads "0x0001 - Неизвестно".
QString resourceName(int code);

// The lines of one error element, joined by "\n", each with the channel prefix "Канал N: "
// and the sub-index suffix " (N)" when those numbers are 1 or more. A device type without
// texts of its own gives the code as hexCode(errorCode, 8), or nothing for 0.
QString errorFlagsText(const DeviceIdentity& identity, qint64 errorCode, int prefixNum,
                       int postfixNum);

// One display line of a value, e.g. "Электроэнергия (тариф 1): 1520.5 кВт⋅час"; empty when the
// value text is empty.
QString valueDisplayText(int devType, const ArchiveValue& value);

// "0x" and exactly `width` upper-case hexadecimal digits: zero-padded on the left, or the
// rightmost `width` digits of a longer number. Negative numbers show their two's complement.
QString hexCode(qint64 number, int width);

} // namespace orvela
