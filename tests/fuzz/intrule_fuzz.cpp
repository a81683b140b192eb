// The integer rule of every numeric parameter: a value accepted at one width is accepted with
// the same value at the wider one, and reads back from its own decimal and hexadecimal text.
#include "cgi/intrule.h"
#include "fuzz/fuzzcheck.h"

#include <limits>

namespace {
constexpr qint64 kRefused = std::numeric_limits<qint64>::min();

void checkPrintsBack(qint64 value)
{
    FUZZ_CHECK(orvela::parseInt64(QString::number(value), kRefused) == value);
    if (value >= 0) {
        FUZZ_CHECK(orvela::parseInt64(QStringLiteral("0x") + QString::number(value, 16).toUpper(), kRefused) == value);
    }
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString text = QString::fromUtf8(fuzzBytes(data, size));
    const qint64 wide = orvela::parseInt64(text, kRefused);
    const qint64 narrow = orvela::parseInt32(text, kRefused);
    const qint64 unsignedNarrow = orvela::parseUInt32(text, kRefused);
    if (narrow != kRefused) {
        FUZZ_CHECK(narrow >= std::numeric_limits<qint32>::min() && narrow <= std::numeric_limits<qint32>::max());
        FUZZ_CHECK(wide == narrow);
    }
    if (unsignedNarrow != kRefused) {
        FUZZ_CHECK(unsignedNarrow >= 0 && unsignedNarrow <= std::numeric_limits<quint32>::max());
        FUZZ_CHECK(wide == unsignedNarrow);
    }
    if (wide != kRefused) {
        checkPrintsBack(wide);
    }
    return 0;
}
