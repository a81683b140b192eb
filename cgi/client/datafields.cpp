#include "cgi/client/datafields.h"

#include "cgi/intrule.h"

#include <climits>
#include <cmath>

namespace client {

namespace {
// Beyond this a double no longer holds every integer exactly.
constexpr double kExactLimit = 9007199254740992.0;

bool wholeNumber(const QJsonValue& value, qint64* out)
{
    if (!value.isDouble()) {
        return false;
    }
    const double number = value.toDouble();
    if (std::floor(number) != number || std::fabs(number) > kExactLimit) {
        return false;
    }
    *out = static_cast<qint64>(number);
    return true;
}
} // namespace

bool jsonToInt64(const QJsonValue& value, qint64* out)
{
    if (value.isString()) {
        const QString text = value.toString();
        const qint64 number = orvela::parseInt64(text, LLONG_MIN);
        if (number == LLONG_MIN) {
            return false;
        }
        *out = number;
        return true;
    }
    return wholeNumber(value, out);
}

qint64 jsonInteger(const QJsonValue& value, qint64 fallback)
{
    qint64 number = 0;
    return wholeNumber(value, &number) ? number : fallback;
}

QString jsonString(const QJsonValue& value)
{
    return value.isString() ? value.toString() : QString();
}

} // namespace client
