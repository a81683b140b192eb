#include "readings/units.h"

#include "readings/decimaltext.h"
#include "readings/vocabulary.h"

#include <algorithm>
#include <initializer_list>

namespace orvela {

namespace {

// Values converted into another unit are written with this many decimals.
constexpr int kConvertedDecimals = 2;

enum class EnergyFamily { WattHour, Joule, Calorie };

struct EnergyUnit {
    int edId;
    EnergyFamily family;
    int power; // the unit is 10^power of its family's base unit
};

const EnergyUnit kEnergyUnits[] = {
    {1, EnergyFamily::WattHour, 0}, {2, EnergyFamily::WattHour, 3},
    {34, EnergyFamily::WattHour, 6}, {42, EnergyFamily::WattHour, 9},
    {5, EnergyFamily::Joule, 0},     {6, EnergyFamily::Joule, 3},
    {35, EnergyFamily::Joule, 6},    {36, EnergyFamily::Joule, 9},
    {7, EnergyFamily::Calorie, 0},   {8, EnergyFamily::Calorie, 3},
    {23, EnergyFamily::Calorie, 6},  {9, EnergyFamily::Calorie, 9},
};

constexpr int kCubicMetre = 10;
constexpr int kLitre = 11;
constexpr int kBar = 32;
constexpr int kKgPerCm2 = 33;

const EnergyUnit* energyUnit(int edId)
{
    const auto* end = std::end(kEnergyUnits);
    const auto* found = std::find_if(std::begin(kEnergyUnits), end,
                                     [edId](const EnergyUnit& unit) { return unit.edId == edId; });
    return found == end ? nullptr : found;
}

// How many base units of the target family one base unit of the source holds. The clients
// were built against these factors, rounded as they are; joules to watt-hours use a finer one
// for mega- and gigajoules.
const char* baseFactor(const EnergyUnit& source, EnergyFamily target)
{
    switch (source.family) {
    case EnergyFamily::WattHour:
        return target == EnergyFamily::Joule ? "3600" : "859.5";
    case EnergyFamily::Calorie:
        return target == EnergyFamily::Joule ? "4.1868" : "0.001163";
    case EnergyFamily::Joule:
        if (target == EnergyFamily::Calorie) {
            return "0.239";
        }
        if (source.power == 6) {
            return "0.000277777778";
        }
        return source.power == 9 ? "0.0002777777777778" : "0.00027778";
    }
    return "1";
}

DecimalText factorNumber(const char* text)
{
    DecimalText number;
    DecimalText::parse(QString::fromLatin1(text), &number);
    return number;
}

bool convertEnergy(int sourceId, int targetId, const DecimalText& number, DecimalText* result)
{
    const EnergyUnit* source = energyUnit(sourceId);
    const EnergyUnit* target = energyUnit(targetId);
    if (!source || !target) {
        return false;
    }
    DecimalText base = number;
    if (source->family != target->family) {
        base = number.multiplied(factorNumber(baseFactor(*source, target->family)));
    }
    *result = base.shifted(source->power - target->power).rounded(kConvertedDecimals);
    return true;
}

bool convertOther(int sourceId, int targetId, const DecimalText& number, DecimalText* result)
{
    if (sourceId == kLitre && targetId == kCubicMetre) {
        *result = number.shifted(-3).rounded(kConvertedDecimals);
    } else if (sourceId == kCubicMetre && targetId == kLitre) {
        *result = number.shifted(3).rounded(kConvertedDecimals);
    } else if (sourceId == kKgPerCm2 && targetId == kBar) {
        *result = number.multiplied(factorNumber("0.9807")).rounded(kConvertedDecimals);
    } else if (sourceId == kBar && targetId == kKgPerCm2) {
        // Dividing by 0.9807 is dividing ten thousand times the value by 9807; one more
        // decimal than kept lets the rounding see the dropped half.
        *result = number.shifted(4)
                      .divided(9807, kConvertedDecimals + 1)
                      .rounded(kConvertedDecimals);
    } else {
        return false;
    }
    return true;
}

// A whole count: decimal digits, or hexadecimal after "0x"; never negative.
bool readCount(const QString& text, DecimalText* number)
{
    if (text.size() > 2 && text.startsWith(QLatin1String("0x"), Qt::CaseInsensitive)) {
        bool ok = false;
        const quint64 count = text.mid(2).toULongLong(&ok, 16);
        return ok && DecimalText::parse(QString::number(count), number);
    }
    const QString digits = text.startsWith(QLatin1Char('+')) ? text.mid(1) : text;
    const bool allDigits =
        !digits.isEmpty() && std::all_of(digits.begin(), digits.end(), [](QChar c) {
            return c >= QLatin1Char('0') && c <= QLatin1Char('9');
        });
    return allDigits && DecimalText::parse(digits, number);
}

bool hasFraction(const QString& text)
{
    const int point = text.indexOf(QLatin1Char('.'));
    if (point < 0) {
        return false;
    }
    for (int i = point + 1; i < text.size(); ++i) {
        if (text.at(i) >= QLatin1Char('0') && text.at(i) <= QLatin1Char('9')) {
            return true;
        }
    }
    return false;
}

bool isOneOf(int titleId, std::initializer_list<int> titles)
{
    return std::find(titles.begin(), titles.end(), titleId) != titles.end();
}

const UnitGroup* groupOf(const UserUnitSettings& settings, int devType)
{
    switch (deviceClass(devType)) {
    case DeviceClass::Electricity:
        return &settings.electricity;
    case DeviceClass::Heat:
        return &settings.heat;
    case DeviceClass::Water:
        return &settings.water;
    case DeviceClass::Gas:
        return &settings.gas;
    default:
        return nullptr;
    }
}

} // namespace

bool applyTransKoef(qint64 koef, ArchiveValue* value)
{
    if (koef == 1) {
        return true;
    }
    const QString text = value->val.trimmed();
    DecimalText number;
    const bool read = hasFraction(text) ? DecimalText::parse(text, &number)
                                        : readCount(text, &number);
    if (!read) {
        return false;
    }
    value->val = number.multiplied(DecimalText::fromInteger(koef)).toString();
    return true;
}

bool isCounterValue(int devType, const ArchiveValue& value, int prefixNum, int postfixNum,
                    bool withHeatVolumes)
{
    if (value.prefixNum != prefixNum || value.postfixNum != postfixNum) {
        return false;
    }
    const int title = value.titleId;
    switch (deviceClass(devType)) {
    case DeviceClass::Electricity:
        return isOneOf(title, {1, 2});
    case DeviceClass::Heat:
        return isOneOf(title, {1, 4}) ||
               (withHeatVolumes && isOneOf(title, {5, 28, 33, 39, 44, 46, 53, 54}));
    case DeviceClass::Water:
        return isOneOf(title, {5, 44});
    case DeviceClass::Gas:
        return isOneOf(title, {5, 45});
    case DeviceClass::Composite:
        return isOneOf(title, {5, 28, 44, 46});
    default:
        return false;
    }
}

bool convertUnit(int targetEdId, ArchiveValue* value)
{
    DecimalText number;
    if (!DecimalText::parse(value->val, &number)) {
        return false;
    }
    if (targetEdId == value->edId) {
        return true;
    }
    DecimalText converted;
    if (!convertEnergy(value->edId, targetEdId, number, &converted) &&
        !convertOther(value->edId, targetEdId, number, &converted)) {
        return true;
    }
    value->val = converted.toString();
    value->edId = static_cast<quint16>(targetEdId);
    return true;
}

QString applyPrecision(const QString& text, int digits)
{
    DecimalText number;
    if (digits < 0 || !DecimalText::parse(text, &number)) {
        return text;
    }
    return number.cut(digits).toString();
}

void applyUserUnits(const UserUnitSettings& settings, int devType, ArchiveValue* value)
{
    const UnitGroup* group = groupOf(settings, devType);
    if (!group) {
        return;
    }
    if (group->unitGiven && !convertUnit(group->edId, value)) {
        return;
    }
    value->val = applyPrecision(value->val, group->precision);
}

void applyUserUnit(const UserUnitSettings& settings, int devType, ArchiveValue* value)
{
    const UnitGroup* group = groupOf(settings, devType);
    if (group && group->unitGiven) {
        convertUnit(group->edId, value);
    }
}

int userPrecision(const UserUnitSettings& settings, int devType)
{
    const UnitGroup* group = groupOf(settings, devType);
    return group ? group->precision : -1;
}

QString applyUserPrecision(const UserUnitSettings& settings, int devType, const QString& text)
{
    const UnitGroup* group = groupOf(settings, devType);
    return group ? applyPrecision(text, group->precision) : text;
}

} // namespace orvela
