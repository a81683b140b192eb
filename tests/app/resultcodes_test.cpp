#include "app/resultcodes.h"

#include "support/messages.h"
#include "support/qtprinters.h"

#include <gtest/gtest.h>

namespace {

// Clients show the messages as they stand: every one of them, character for character, codes
// without a message empty and codes past the table "unknown".
TEST(ResultCodes, EveryMessageIsExactlyTheOneClientsShow)
{
    for (int code = 0; code <= 331; ++code) {
        EXPECT_EQ(orvela::resultCodeText(static_cast<quint16>(code)), testing_support::expectedMessage(code)) << code;
    }
    EXPECT_EQ(orvela::resultCodeText(65535), QStringLiteral("Неизвестная ошибка."));
    EXPECT_EQ(testing_support::assignedCodes().size(), 279);
}

TEST(ResultCodes, RecordHasFourUpperCaseHexDigits)
{
    EXPECT_EQ(orvela::resultCodeRecord(19),
              QStringLiteral("Ошибка 0x0013: Не удалось подключиться к серверу БД."));
    EXPECT_EQ(orvela::resultCodeRecord(255),
              QStringLiteral("Ошибка 0x00FF: Эта часть программы еще не реализована."));
    EXPECT_EQ(orvela::resultCodeRecord(41), QStringLiteral("Ошибка 0x0029: "));
    EXPECT_EQ(orvela::resultCodeRecord(4096), QStringLiteral("Ошибка 0x1000: Неизвестная ошибка."));
}

} // namespace
