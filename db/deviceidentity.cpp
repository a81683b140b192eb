#include "db/deviceidentity.h"

namespace orvela {

quint16 manufacturerCode(const QString& letters)
{
    quint16 code = 0;
    for (int i = 0; i < 3; ++i) {
        const QChar letter = i < letters.size() ? letters.at(i).toUpper() : QChar();
        const int value = (letter >= QLatin1Char('A') && letter <= QLatin1Char('Z'))
                              ? letter.unicode() - 64
                              : 0;
        code = static_cast<quint16>((code << 5) | value);
    }
    return code;
}

QString manufacturerLetters(quint16 code)
{
    QString letters;
    for (int shift = 10; shift >= 0; shift -= 5) {
        letters += QChar(((code >> shift) & 0x1F) + 64);
    }
    return letters;
}

} // namespace orvela
