#pragma once

#include <QByteArray>
#include <QString>

namespace tarn {

// The AuthData token cipher: AES-128 in ECB mode with zero padding, keyed by the MD5 of a key
// text, written as lower-case hexadecimal. The byte operations are virtual so that a subclass
// can change the cipher without touching the text layer.
class Crypto {
public:
    explicit Crypto(quint32 mode = 0);
    virtual ~Crypto();

    virtual bool encryptText(const QString& text, const QString& keyText, QString* outHex);
    virtual bool decryptText(const QString& hexText, const QString& keyText, QString* outText);
    virtual bool encryptData(const QByteArray& bytes, const QString& keyText, QByteArray* outBytes);
    virtual bool decryptData(const QByteArray& bytes, const QString& keyText, QByteArray* outBytes);

    QString lastError() const { return m_lastError; }
    quint32 mode() const { return m_mode; }

private:
    bool run(const QByteArray& bytes, const QString& keyText, bool encrypt, QByteArray* outBytes);

    QString m_lastError;
    quint32 m_mode;
};

// MD5 of the UTF-8 bytes of a text, as 32 lower-case hexadecimal digits.
QString md5Hex(const QString& text);

} // namespace tarn
