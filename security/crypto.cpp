#include "security/crypto.h"

#include <QCryptographicHash>
#include <QObject>

#include <openssl/evp.h>

#include <memory>

namespace tarn {

namespace {

constexpr int kBlockSize = 16;

struct CipherContextDeleter {
    void operator()(EVP_CIPHER_CTX* context) const { EVP_CIPHER_CTX_free(context); }
};

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
    std::unique_ptr<EVP_CIPHER_CTX, CipherContextDeleter> context(EVP_CIPHER_CTX_new());
    QByteArray result(bytes.size() + kBlockSize, Qt::Uninitialized);
    int written = 0;
    int finalWritten = 0;
    const auto* keyBytes = reinterpret_cast<const unsigned char*>(key.constData());
    auto* out = reinterpret_cast<unsigned char*>(result.data());
    const bool ok =
        context &&
        EVP_CipherInit_ex(context.get(), EVP_aes_128_ecb(), nullptr, keyBytes, nullptr,
                          encrypt ? 1 : 0) == 1 &&
        EVP_CIPHER_CTX_set_padding(context.get(), 0) == 1 &&
        EVP_CipherUpdate(context.get(), out, &written,
                         reinterpret_cast<const unsigned char*>(bytes.constData()),
                         bytes.size()) == 1 &&
        EVP_CipherFinal_ex(context.get(), out + written, &finalWritten) == 1;
    if (!ok) {
        return false;
    }
    result.truncate(written + finalWritten);
    *outBytes = result;
    return true;
}

QString md5Hex(const QString& text)
{
    return QString::fromLatin1(
        QCryptographicHash::hash(text.toUtf8(), QCryptographicHash::Md5).toHex());
}

} // namespace tarn
