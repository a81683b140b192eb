#pragma once

#include <QByteArray>
#include <QString>

namespace orvela {

// A reading held as its decimal digits. Meters count with more digits than a double carries,
// so scaling, unit conversion and cutting work on the digits and never pass through binary
// floating point: 123456789.123456789 times 10 stays exact.
class DecimalText {
public:
    // Reads "[+-]digits[.digits][e[+-]digits]" in the C locale: "." as the point, no group
    // separators, blanks around the number allowed, at least one digit. A point with no digits
    // on one side (".5", "5.") is accepted. Names such as "nan" or "inf" are not numbers here.
    // False, with the number untouched, for anything else or for an exponent beyond 400.
    static bool parse(const QString& text, DecimalText* number);
    static DecimalText fromInteger(qint64 value);

    // Digits after the point: 2 for "1.25", 4 for "1.5e-3", 0 for "1.5e3".
    int decimals() const { return m_scale; }

    DecimalText plus(const DecimalText& other) const;
    DecimalText minus(const DecimalText& other) const;
    DecimalText multiplied(const DecimalText& factor) const;
    // Times ten to the given power, positive or negative.
    DecimalText shifted(int powerOfTen) const;
    // Divided by a positive integer, cut to the given number of decimals.
    DecimalText divided(quint32 divisor, int decimals) const;
    // Exactly `decimals` digits after the point: extra digits dropped (toward zero), missing
    // ones padded with zeros.
    DecimalText cut(int decimals) const;
    // Exactly `decimals` digits after the point, a dropped half rounding away from zero.
    DecimalText rounded(int decimals) const;

    // Plain notation without leading zeros and without a sign on zero: "-0.50", "1200", "0.00".
    QString toString() const;

private:
    bool isZero() const;

    bool m_negative = false;
    QByteArray m_digits = QByteArrayLiteral("0"); // '0'..'9', most significant first
    int m_scale = 0;                               // how many of m_digits follow the point
};

} // namespace orvela
