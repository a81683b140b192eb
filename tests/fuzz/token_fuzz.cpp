// The token decoder. The first byte chooses what the rest is: a token as a client sends it, or
// the text a token carries. What a token yields is a login without ":" and a 32-character
// hash that make the same token again; a carried text that reads is the login and the hash.
#include "fuzz/fuzzcheck.h"
#include "security/authentication.h"
#include "security/crypto.h"

namespace {

const QString kKey = QStringLiteral("fuzz-key");

void checkCredentials(const QString& login, const QString& hash)
{
    FUZZ_CHECK(!login.isEmpty() && !login.contains(QLatin1Char(':')));
    FUZZ_CHECK(hash.size() == 32);
    QString token;
    FUZZ_CHECK(tarn::Crypto().encryptText(login + QLatin1Char(':') + hash, kKey, &token));
    QString loginAgain;
    QString hashAgain;
    FUZZ_CHECK(orvela::readToken(token, kKey, &loginAgain, &hashAgain) == 0);
    FUZZ_CHECK(loginAgain == login && hashAgain == hash);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0) {
        return 0;
    }
    const QByteArray rest = fuzzBytes(data + 1, size - 1);
    QString login;
    QString hash;
    if (data[0] % 2 == 0) {
        const quint16 code = orvela::readToken(QString::fromUtf8(rest), kKey, &login, &hash);
        FUZZ_CHECK(code == 0 || code == 134 || code == 135 || code == 137);
        if (code == 0) {
            checkCredentials(login, hash);
        }
        return 0;
    }
    QString token;
    if (!tarn::Crypto().encryptText(QString::fromUtf8(rest), kKey, &token)) {
        return 0;
    }
    const quint16 code = orvela::readToken(token, kKey, &login, &hash);
    FUZZ_CHECK(code == 0 || code == 135 || code == 137);
    if (code == 0) {
        const int zero = rest.indexOf('\0');
        const QString carried = QString::fromUtf8(zero >= 0 ? rest.left(zero) : rest).trimmed();
        FUZZ_CHECK(login + QLatin1Char(':') + hash == carried);
        checkCredentials(login, hash);
    }
    return 0;
}
