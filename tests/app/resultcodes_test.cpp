#include "app/resultcodes.h"

#include "support/messages.h"
#include "support/qtprinters.h"

#include <gtest/gtest.h>

namespace {

TEST(ResultCodes, LookupFollowsTheThreeRules)
{
    using orvela::resultCodeText;
    EXPECT_EQ(resultCodeText(0), "OK.");
    EXPECT_EQ(resultCodeText(143), QStringLiteral("Команда недоступна для указанного пользователя."));
    EXPECT_EQ(resultCodeText(329), QStringLiteral("Неизвестный формат данных."));
    EXPECT_EQ(resultCodeText(330), QStringLiteral("Неизвестная ошибка."));
    EXPECT_EQ(resultCodeText(65535), QStringLiteral("Неизвестная ошибка."));
    EXPECT_TRUE(resultCodeText(41).isEmpty());
    EXPECT_TRUE(resultCodeText(193).isEmpty());
    EXPECT_EQ(resultCodeText(128), resultCodeText(146));
    int assigned = 0;
    for (int code = 1; code <= 329; ++code) {
        assigned += resultCodeText(static_cast<quint16>(code)).isEmpty() ? 0 : 1;
    }
    EXPECT_EQ(assigned, 277);
}

// Clients show the messages as they stand: every one of them, character for character.
TEST(ResultCodes, EveryMessageIsExactlyTheOneClientsShow)
{
    for (int code = 0; code <= 330; ++code) {
        EXPECT_EQ(orvela::resultCodeText(static_cast<quint16>(code)), testing_support::expectedMessage(code)) << code;
    }
    EXPECT_EQ(testing_support::assignedCodes().size(), 278);
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
