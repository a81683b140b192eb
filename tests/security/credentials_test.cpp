// Credentials as strangers may send them: tokens whose decrypted text has empty parts,
// separators at its edges or padding of another shape, and log-in names and passwords that
// are blank. Each is refused with its own code, or read exactly as the well-formed one.
#include "support/pgfixture.h"

#include "security/authentication.h"
#include "security/crypto.h"

using namespace testing_support;

namespace {

const QString kKey = QStringLiteral("quartz");

// The hex token of a decrypted text given byte for byte, padding included.
QString tokenOfPlain(const QByteArray& plain)
{
    QByteArray cipher;
    tarn::Crypto().encryptData(plain, kKey, &cipher);
    return QString::fromLatin1(cipher.toHex());
}

class Credentials : public DbTest {};

TEST_F(Credentials, TokensWithEmptyPartsOrStraySeparatorsAreRefused)
{
    const QByteArray hash = tarn::md5Hex(QStringLiteral("tulip")).toLatin1();
    const QByteArray zeros(16, '\0');
    const QString wellFormed = tokenOfPlain("admin:" + hash);
    const struct {
        const char* name;
        QString token;
        quint16 code;
    } cases[] = {
        {"well formed", wellFormed, 0},
        {"blanks around the token", QStringLiteral("  %1\t").arg(wellFormed), 0},
        {"blanks around the text", tokenOfPlain(" admin:" + hash + " "), 0},
        {"a whole block of zeros more", tokenOfPlain("admin:" + hash + zeros), 0},
        {"empty login part", tokenOfPlain(":" + hash), 135},
        {"empty hash part", tokenOfPlain("admin:"), 135},
        {"no colon", tokenOfPlain("admin" + hash), 135},
        {"hash one digit short", tokenOfPlain("admin:" + hash.left(31)), 135},
        {"hash one digit long", tokenOfPlain("admin:" + hash + "0"), 135},
        {"colon inside the login part", tokenOfPlain("ad:min:" + hash), 135},
        {"a NUL before the colon", tokenOfPlain(QByteArray("admin\0:", 7) + hash), 135},
        {"blanks only", tokenOfPlain("      "), 137},
        {"zeros only", tokenOfPlain(zeros), 137},
        {"empty", QString(), 134},
        // 48 bytes cut to 32: "admin:" and 26 digits of the hash.
        {"one block short", wellFormed.left(wellFormed.size() - 32), 135},
        {"half a block", wellFormed.left(wellFormed.size() - 16), 134},
        {"odd digit count", wellFormed + QLatin1Char('0'), 134},
    };
    for (const auto& c : cases) {
        QString login, passwordHash;
        const quint16 code = orvela::readToken(c.token, kKey, &login, &passwordHash);
        EXPECT_EQ(code, c.code) << c.name;
        if (c.code == 0) {
            EXPECT_EQ(login, "admin") << c.name;
            EXPECT_EQ(passwordHash, QString::fromLatin1(hash)) << c.name;
        }
    }
}

TEST_F(Credentials, BlankNamesAndPasswordsAreRefusedWithTheirCodes)
{
    initSchema();
    const struct {
        Params params;
        int code;
    } cases[] = {
        {{{"Login", "   "}, {"Password", "tulip"}}, 284},
        {{{"Login", "admin"}, {"Password", ""}}, 218},
        {{{"Login", "admin"}, {"Password", "   "}}, 139},
        {{{"Login", "\tadmin "}, {"Password", " tulip "}}, 0},
        {{{"Login", "admin"}, {"Password", "tulip"}, {"Auth", "   "}}, 134},
    };
    for (const auto& c : cases) {
        EXPECT_CODE(cgi->post(Params{{"CMD", "Get_UserData"}} + c.params), c.code) << qPrintable(c.params.at(0).second);
    }
    // A JSON body gives an empty text where a form gives none at all.
    EXPECT_CODE(cgi->postJson({{"CMD", "Get_UserData"}, {"Login", "admin"}, {"Password", ""}}), 218);
    EXPECT_CODE(cgi->postJson({{"CMD", "Get_UserData"}, {"Login", " "}, {"Password", "tulip"}}), 284);
}

} // namespace
