#include "readings/decimaltext.h"

#include <QVector>

namespace orvela {

namespace {

// Larger exponents are not readings but noise, and would spell out thousands of zeros.
constexpr int kMaxExponent = 400;

bool isAsciiDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

QByteArray takeDigits(const QString& text, int* pos)
{
    QByteArray digits;
    while (*pos < text.size() && isAsciiDigit(text.at(*pos))) {
        digits += text.at(*pos).toLatin1();
        ++*pos;
    }
    return digits;
}

bool takeSign(const QString& text, int* pos)
{
    if (*pos >= text.size()) {
        return false;
    }
    const QChar c = text.at(*pos);
    if (c != QLatin1Char('+') && c != QLatin1Char('-')) {
        return false;
    }
    ++*pos;
    return c == QLatin1Char('-');
}

bool takeExponent(const QString& text, int* pos, int* exponent)
{
    const bool negative = takeSign(text, pos);
    const QByteArray digits = takeDigits(text, pos);
    if (digits.isEmpty() || digits.size() > 4) {
        return false;
    }
    const int value = digits.toInt();
    if (value > kMaxExponent) {
        return false;
    }
    *exponent = negative ? -value : value;
    return true;
}

QByteArray withoutLeadingZeros(const QByteArray& digits)
{
    int first = 0;
    while (first < digits.size() - 1 && digits.at(first) == '0') {
        ++first;
    }
    return digits.isEmpty() ? QByteArrayLiteral("0") : digits.mid(first);
}

// Adds one to a digit string, growing it on a carry out of the first digit.
QByteArray incremented(QByteArray digits)
{
    for (int i = digits.size() - 1; i >= 0; --i) {
        if (digits.at(i) != '9') {
            digits[i] = static_cast<char>(digits.at(i) + 1);
            return digits;
        }
        digits[i] = '0';
    }
    return '1' + digits;
}

// Digit strings of one length, without signs.
QByteArray addedDigits(const QByteArray& a, const QByteArray& b)
{
    QByteArray sum(a.size(), '0');
    int carry = 0;
    for (int i = a.size() - 1; i >= 0; --i) {
        const int digit = (a.at(i) - '0') + (b.at(i) - '0') + carry;
        sum[i] = static_cast<char>('0' + digit % 10);
        carry = digit / 10;
    }
    return carry ? '1' + sum : sum;
}

// a - b for a >= b.
QByteArray subtractedDigits(const QByteArray& a, const QByteArray& b)
{
    QByteArray difference(a.size(), '0');
    int borrow = 0;
    for (int i = a.size() - 1; i >= 0; --i) {
        int digit = (a.at(i) - '0') - (b.at(i) - '0') - borrow;
        borrow = digit < 0 ? 1 : 0;
        difference[i] = static_cast<char>('0' + digit + 10 * borrow);
    }
    return withoutLeadingZeros(difference);
}

QByteArray paddedLeft(const QByteArray& digits, int size)
{
    return QByteArray(size - digits.size(), '0') + digits;
}

} // namespace

bool DecimalText::parse(const QString& text, DecimalText* number)
{
    const QString trimmed = text.trimmed();
    int pos = 0;
    const bool negative = takeSign(trimmed, &pos);
    const QByteArray integerDigits = takeDigits(trimmed, &pos);
    QByteArray fractionDigits;
    if (pos < trimmed.size() && trimmed.at(pos) == QLatin1Char('.')) {
        ++pos;
        fractionDigits = takeDigits(trimmed, &pos);
    }
    if (integerDigits.isEmpty() && fractionDigits.isEmpty()) {
        return false;
    }
    int exponent = 0;
    if (pos < trimmed.size() && trimmed.at(pos).toLower() == QLatin1Char('e')) {
        ++pos;
        if (!takeExponent(trimmed, &pos, &exponent)) {
            return false;
        }
    }
    if (pos != trimmed.size()) {
        return false;
    }
    DecimalText result;
    result.m_negative = negative;
    result.m_digits = withoutLeadingZeros(integerDigits + fractionDigits);
    result.m_scale = fractionDigits.size();
    *number = result.shifted(exponent);
    return true;
}

DecimalText DecimalText::fromInteger(qint64 value)
{
    DecimalText result;
    const QByteArray text = QByteArray::number(value);
    result.m_negative = value < 0;
    result.m_digits = result.m_negative ? text.mid(1) : text;
    return result;
}

DecimalText DecimalText::plus(const DecimalText& other) const
{
    const int scale = qMax(m_scale, other.m_scale);
    QByteArray a = cut(scale).m_digits;
    QByteArray b = other.cut(scale).m_digits;
    const int size = qMax(a.size(), b.size());
    a = paddedLeft(a, size);
    b = paddedLeft(b, size);
    DecimalText result;
    result.m_scale = scale;
    if (m_negative == other.m_negative) {
        result.m_negative = m_negative;
        result.m_digits = withoutLeadingZeros(addedDigits(a, b));
        return result;
    }
    const bool thisLarger = a >= b;
    result.m_negative = thisLarger ? m_negative : other.m_negative;
    result.m_digits = thisLarger ? subtractedDigits(a, b) : subtractedDigits(b, a);
    return result;
}

DecimalText DecimalText::minus(const DecimalText& other) const
{
    DecimalText negated = other;
    negated.m_negative = !other.m_negative;
    return plus(negated);
}

DecimalText DecimalText::multiplied(const DecimalText& factor) const
{
    const QByteArray& a = m_digits;
    const QByteArray& b = factor.m_digits;
    QVector<int> product(a.size() + b.size(), 0);
    for (int i = a.size() - 1; i >= 0; --i) {
        int carry = 0;
        for (int j = b.size() - 1; j >= 0; --j) {
            const int sum = product[i + j + 1] + (a.at(i) - '0') * (b.at(j) - '0') + carry;
            product[i + j + 1] = sum % 10;
            carry = sum / 10;
        }
        product[i] += carry;
    }
    QByteArray digits;
    digits.reserve(product.size());
    for (const int digit : product) {
        digits += static_cast<char>('0' + digit);
    }
    DecimalText result;
    result.m_negative = m_negative != factor.m_negative;
    result.m_digits = withoutLeadingZeros(digits);
    result.m_scale = m_scale + factor.m_scale;
    return result;
}

DecimalText DecimalText::shifted(int powerOfTen) const
{
    DecimalText result = *this;
    if (powerOfTen < 0) {
        result.m_scale -= powerOfTen;
        return result;
    }
    if (powerOfTen > m_scale) {
        result.m_digits = withoutLeadingZeros(m_digits + QByteArray(powerOfTen - m_scale, '0'));
        result.m_scale = 0;
        return result;
    }
    result.m_scale -= powerOfTen;
    return result;
}

DecimalText DecimalText::divided(quint32 divisor, int decimals) const
{
    if (divisor == 0) {
        return *this;
    }
    // Dividing the digits at the target scale and dropping the remainder cuts the quotient.
    const QByteArray dividend = cut(decimals).m_digits;
    QByteArray quotient;
    quint64 remainder = 0;
    for (const char digit : dividend) {
        remainder = remainder * 10 + static_cast<quint64>(digit - '0');
        quotient += static_cast<char>('0' + remainder / divisor);
        remainder %= divisor;
    }
    DecimalText result;
    result.m_negative = m_negative;
    result.m_digits = withoutLeadingZeros(quotient);
    result.m_scale = decimals;
    return result;
}

DecimalText DecimalText::cut(int decimals) const
{
    DecimalText result = *this;
    const int target = qMax(decimals, 0);
    if (m_scale > target) {
        result.m_digits = withoutLeadingZeros(m_digits.left(m_digits.size() - (m_scale - target)));
    } else {
        result.m_digits += QByteArray(target - m_scale, '0');
    }
    result.m_scale = target;
    return result;
}

DecimalText DecimalText::rounded(int decimals) const
{
    DecimalText result = cut(decimals);
    const int firstDropped = m_digits.size() - (m_scale - result.m_scale);
    if (m_scale <= result.m_scale || firstDropped < 0 || m_digits.at(firstDropped) < '5') {
        return result;
    }
    result.m_digits = incremented(result.m_digits);
    return result;
}

QString DecimalText::toString() const
{
    QByteArray digits = m_digits;
    if (digits.size() <= m_scale) {
        digits.prepend(QByteArray(m_scale + 1 - digits.size(), '0'));
    }
    const QByteArray integerPart = withoutLeadingZeros(digits.left(digits.size() - m_scale));
    QByteArray text = (m_negative && !isZero()) ? QByteArrayLiteral("-") : QByteArray();
    text += integerPart;
    if (m_scale > 0) {
        text += '.' + digits.right(m_scale);
    }
    return QString::fromLatin1(text);
}

bool DecimalText::isZero() const
{
    for (const char digit : m_digits) {
        if (digit != '0') {
            return false;
        }
    }
    return true;
}

} // namespace orvela
