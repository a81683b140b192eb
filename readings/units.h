#pragma once

#include "readings/archiverecord.h"
#include "readings/unitsettings.h"

#include <QString>

namespace orvela {

// Scales a value by the device's transformation coefficient, exactly, on its decimal digits.
// A value with a fraction keeps its number of decimals ("1.25" times 10 is "12.50"); a whole
// value, decimal or "0x" hexadecimal, becomes a decimal product ("0x10" times 10 is "160").
// Coefficient 1 changes nothing and succeeds on any text. False, with the text unchanged,
// when the value is not a number or is a negative whole number.
bool applyTransKoef(qint64 koef, ArchiveValue* value);

// Whether the value is an accumulating register of its device class, the kind that the
// coefficient and the consumption sums apply to, and belongs to the given channel and
// sub-index. Heat volumes and masses count only when asked for.
bool isCounterValue(int devType, const ArchiveValue& value, int prefixNum, int postfixNum,
                    bool withHeatVolumes);

// Converts the value into the target unit: energy between Wh, J and cal with their decimal
// prefixes, litres and cubic metres, bar and kg/cm². A conversion writes the result rounded to
// 2 decimals and sets the target edId; the same unit or a pair without a conversion changes
// nothing. False, with the value unchanged, only when the text is not a number.
bool convertUnit(int targetEdId, ArchiveValue* value);

// The number cut (never rounded) to exactly `digits` decimals: "12.3456" to 2 is "12.34",
// "7" to 3 is "7.000", ".5" to 2 is "0.50", "-0.004" to 2 is "0.00". Negative digits, a blank
// text or a text that is not a number come back unchanged.
QString applyPrecision(const QString& text, int digits);

// The client's unit and precision for the device's resource (electricity, heat, water, gas),
// applied to one value whatever it measures; other devices keep their values.
void applyUserUnits(const UserUnitSettings& settings, int devType, ArchiveValue* value);
// Only the unit of the device's resource, without the precision, for values that are
// computed with before they are shown.
void applyUserUnit(const UserUnitSettings& settings, int devType, ArchiveValue* value);
// The decimals the client asked for the device's resource, or -1 when he asked for none.
int userPrecision(const UserUnitSettings& settings, int devType);
// Only the precision of the device's resource.
QString applyUserPrecision(const UserUnitSettings& settings, int devType, const QString& text);

} // namespace orvela
