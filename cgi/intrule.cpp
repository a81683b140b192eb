#include "cgi/intrule.h"

namespace orvela {

namespace {

enum class Width { Int32, UInt32, Int64 };

qint64 parse(const QString& text, Width width, qint64 failure)
{
    const QString trimmed = text.trimmed();
    const bool hex = trimmed.size() > 2 && trimmed.startsWith(QLatin1String("0x"), Qt::CaseInsensitive);
    const QString digits = hex ? trimmed.mid(2) : trimmed;
    const int base = hex ? 16 : 10;
    bool ok = false;
    qint64 value = 0;
    switch (width) {
    case Width::Int32:
        value = digits.toInt(&ok, base);
        break;
    case Width::UInt32:
        value = digits.toUInt(&ok, base);
        break;
    case Width::Int64:
        value = digits.toLongLong(&ok, base);
        break;
    }
    return ok ? value : failure;
}

} // namespace

qint64 parseInt32(const QString& text, qint64 failure)
{
    return parse(text, Width::Int32, failure);
}

qint64 parseUInt32(const QString& text, qint64 failure)
{
    return parse(text, Width::UInt32, failure);
}

qint64 parseInt64(const QString& text, qint64 failure)
{
    return parse(text, Width::Int64, failure);
}

} // namespace orvela
