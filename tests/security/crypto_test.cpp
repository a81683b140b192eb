#include "security/crypto.h"

#include "support/qtprinters.h"

#include <gtest/gtest.h>

namespace {

const QString kKey = QStringLiteral("quartz");

TEST(Crypto, KnownAnswerAndRoundTrip)
{
    tarn::Crypto crypto;
    EXPECT_EQ(tarn::md5Hex("tulip"), "0ae57c94574802400bb2b31a4ac950ed");
    QString token;
    ASSERT_TRUE(crypto.encryptText("admin:0ae57c94574802400bb2b31a4ac950ed", kKey, &token));
    EXPECT_EQ(token, "65aeae800556f9b122f4d119e96b47988c2cd516522ccf2907495e5375b05c2f"
                     "10bc27974dac7e5aa0e6b92c1c151415");
    QString plain;
    ASSERT_TRUE(crypto.decryptText(token.toUpper(), kKey, &plain));
    EXPECT_EQ(plain, "admin:0ae57c94574802400bb2b31a4ac950ed");
}

TEST(Crypto, ZeroPaddingToWholeBlocks)
{
    tarn::Crypto crypto;
    for (const auto& [length, cipherLength] : {std::pair{1, 16}, {15, 16}, {16, 16}, {17, 32}}) {
        QByteArray out;
        ASSERT_TRUE(crypto.encryptData(QByteArray(length, 'a'), kKey, &out));
        EXPECT_EQ(out.size(), cipherLength) << length;
        QByteArray back;
        ASSERT_TRUE(crypto.decryptData(out, kKey, &back));
        EXPECT_EQ(back, QByteArray(length, 'a') + QByteArray(cipherLength - length, '\0'));
    }
}

TEST(Crypto, DecryptedTextIsTrimmedAndCutAtZero)
{
    tarn::Crypto crypto;
    QByteArray cipher;
    QString plain;
    ASSERT_TRUE(crypto.encryptData("  user:x  ", kKey, &cipher));
    ASSERT_TRUE(crypto.decryptText(QString::fromLatin1(cipher.toHex()), kKey, &plain));
    EXPECT_EQ(plain, "user:x");
    ASSERT_TRUE(crypto.encryptData(QByteArray("ab\0cd", 5), kKey, &cipher));
    ASSERT_TRUE(crypto.decryptText(QString::fromLatin1(cipher.toHex()), kKey, &plain));
    EXPECT_EQ(plain, "ab");
}

TEST(Crypto, FailuresKeepTheirTextAndLeaveTheOutputAlone)
{
    tarn::Crypto crypto;
    QString out = "untouched";
    EXPECT_FALSE(crypto.decryptText(QString(30, '0'), kKey, &out));
    EXPECT_EQ(crypto.lastError(), QStringLiteral("Неверная длина входящих данных."));
    EXPECT_FALSE(crypto.encryptText(QString(), kKey, &out));
    EXPECT_EQ(crypto.lastError(), QStringLiteral("Нет входящих данных."));
    EXPECT_FALSE(crypto.decryptText(QString(32, '0'), QString(), &out));
    EXPECT_EQ(crypto.lastError(), QStringLiteral("Не указан ключ шифрования."));
    EXPECT_EQ(out, "untouched");
    ASSERT_TRUE(crypto.encryptText("x", kKey, &out));
    EXPECT_TRUE(crypto.lastError().isEmpty());
}

} // namespace
