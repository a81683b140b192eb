#include "security/crypto.h"

#include <QCryptographicHash>
#include <QObject>

// The block functions of libcrypto are marked deprecated in favour of the EVP interface, but
// EVP loads the provider machinery first, about 2 ms on every request of a process that
// lives for one request. The token cipher is plain AES-128 on whole blocks, which the block
// functions do without any of that.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/aes.h>

namespace tarn {

namespace {

constexpr int kBlockSize = 16;

QByteArray keyFromText(const QString& keyText)
{
    return QCryptographicHash::hash(keyText.toUtf8(), QCryptographicHash::Md5);
}

} // namespace

Crypto::Crypto(quint32 mode) : m_mode(mode) {}

Crypto::~Crypto() = default;

bool Crypto::encryptText(const QString& text, const QString& keyText, QString* outHex)
{
    QByteArray cipher;
    if (!encryptData(text.toUtf8(), keyText, &cipher)) {
        return false;
    }
    *outHex = QString::fromLatin1(cipher.toHex());
    return true;
}

bool Crypto::decryptText(const QString& hexText, const QString& keyText, QString* outText)
{
    QByteArray plain;
    if (!decryptData(QByteArray::fromHex(hexText.toUtf8()), keyText, &plain)) {
        return false;
    }
    if (plain.isNull()) {
        outText->clear();
        return true;
    }
    const int zero = plain.indexOf('\0');
    *outText = QString::fromUtf8(zero >= 0 ? plain.left(zero) : plain).trimmed();
    return true;
}

bool Crypto::encryptData(const QByteArray& bytes, const QString& keyText, QByteArray* outBytes)
{
    m_lastError.clear();
    if (bytes.isEmpty()) {
        m_lastError = QObject::tr("Нет входящих данных.");
        return false;
    }
    QByteArray padded = bytes;
    if (padded.size() % kBlockSize != 0) {
        padded.append(kBlockSize - padded.size() % kBlockSize, '\0');
    }
    return run(padded, keyText, true, outBytes);
}

bool Crypto::decryptData(const QByteArray& bytes, const QString& keyText, QByteArray* outBytes)
{
    m_lastError.clear();
    if (bytes.isEmpty() || bytes.size() % kBlockSize != 0) {
        m_lastError = QObject::tr("Неверная длина входящих данных.");
        return false;
    }
    return run(bytes, keyText, false, outBytes);
}

// Block by block with no padding of OpenSSL's own: the zero padding is the token format's.
bool Crypto::run(const QByteArray& bytes, const QString& keyText, bool encrypt,
                 QByteArray* outBytes)
{
    if (keyText.isEmpty()) {
        m_lastError = QObject::tr("Не указан ключ шифрования.");
        return false;
    }
    if (m_mode != 0) {
        return false;
    }
    const QByteArray key = keyFromText(keyText);
    AES_KEY schedule;
    const auto* keyBytes = reinterpret_cast<const unsigned char*>(key.constData());
    const int keyBits = kBlockSize * 8;
    const int prepared = encrypt ? AES_set_encrypt_key(keyBytes, keyBits, &schedule)
                                 : AES_set_decrypt_key(keyBytes, keyBits, &schedule);
    if (prepared != 0) {
        return false;
    }
    QByteArray result(bytes.size(), Qt::Uninitialized);
    const auto* in = reinterpret_cast<const unsigned char*>(bytes.constData());
    auto* out = reinterpret_cast<unsigned char*>(result.data());
    for (int offset = 0; offset < bytes.size(); offset += kBlockSize) {
        AES_ecb_encrypt(in + offset, out + offset, &schedule, encrypt ? AES_ENCRYPT : AES_DECRYPT);
    }
    *outBytes = result;
    return true;
}

QString md5Hex(const QString& text)
{
    return QString::fromLatin1(
        QCryptographicHash::hash(text.toUtf8(), QCryptographicHash::Md5).toHex());
}

} // namespace tarn
