#include "readings/unitsettings.h"

#include "app/httporvelaserver.h"
#include "cgi/intrule.h"

#include <algorithm>

namespace orvela {

namespace {

constexpr int kMaxPrecision = 10;

// Reads one unit parameter; false when it is given but not one of the allowed units.
bool readUnit(const HttpOrvelaServer& request, const char* name, std::initializer_list<int> allowed,
              UnitGroup* group)
{
    const QString text = request.parameterText(QString::fromLatin1(name));
    if (text.isEmpty()) {
        return true;
    }
    const qint64 unit = parseInt32(text);
    if (std::find(allowed.begin(), allowed.end(), unit) == allowed.end()) {
        return false;
    }
    group->unitGiven = true;
    group->edId = static_cast<int>(unit);
    return true;
}

bool readPrecision(const HttpOrvelaServer& request, const char* name, UnitGroup* group)
{
    const QString text = request.parameterText(QString::fromLatin1(name));
    if (text.isEmpty()) {
        return true;
    }
    const qint64 digits = parseInt32(text);
    if (digits < 0 || digits > kMaxPrecision) {
        return false;
    }
    group->precision = static_cast<int>(digits);
    return true;
}

quint16 readSettings(const HttpOrvelaServer& request, UserUnitSettings* settings)
{
    const std::initializer_list<int> energy = {1, 2, 5, 6, 7, 8, 9, 23, 34, 35, 36, 42};
    const std::initializer_list<int> volume = {10, 11};
    if (!readUnit(request, "EdTeplo", energy, &settings->heat)) {
        return 271;
    }
    if (!readUnit(request, "EdElectro", energy, &settings->electricity)) {
        return 272;
    }
    if (!readUnit(request, "EdVoda", volume, &settings->water)) {
        return 273;
    }
    if (!readUnit(request, "EdGas", volume, &settings->gas)) {
        return 274;
    }
    if (!readPrecision(request, "PreciseGas", &settings->gas) ||
        !readPrecision(request, "PreciseVoda", &settings->water) ||
        !readPrecision(request, "PreciseTeplo", &settings->heat) ||
        !readPrecision(request, "PreciseElectro", &settings->electricity)) {
        return 315;
    }
    return 0;
}

} // namespace

bool readUserUnitSettings(HttpOrvelaServer& request)
{
    const quint16 code = readSettings(request, &request.unitSettings());
    if (code != 0) {
        request.answerError(code);
        return false;
    }
    return true;
}

} // namespace orvela
