#include "readings/vocabulary.h"

#include "support/qtprinters.h"

#include <QSet>

#include <gtest/gtest.h>

using orvela::ArchiveValue;

namespace {

TEST(Vocabulary, ErrorFlagsNameEveryFlagInOrderWithAffixes)
{
    const struct {
        int devType;
        qint64 errorCode;
        int prefixNum;
        int postfixNum;
        const char* text;
    } cases[] = {
        // Electricity.
        {2, 0x0500, 2, 0,
         "Канал 2: Различный ток нагрузки по нулевому и фазному проводам\n"
         "Канал 2: Ток нагрузки предельно мал"},
        // Two-bit fields: 3 has no text, 2 names the upper limits.
        {2, 0x3C00, 0, 0, ""},
        {2, 0x2A00, 0, 1,
         "Отрицательная потребляемая мощность (1)\n"
         "Ток нагрузки превышает максимальный (1)\n"
         "Напряжение выше максимального (1)"},
        // Present states come before past ones, whatever the bit order.
        {2, 0x40C1, 1, 2,
         "Канал 1: Отсутствует ток нагрузки (2)\n"
         "Канал 1: Ранее токи нагрузки по нулевому и фазному проводам были различны (2)\n"
         "Канал 1: Воздействие внешнего магнитного поля (2)\n"
         "Канал 1: Открыта крышка клеммной коробки (2)"},
        // Heat.
        {4, 0x30000, 0, 0, ""},
        {12, 0x50000, 0, 0, "Разность температуры меньше -5 °С"},
        {4, 0x400302, 0, 0,
         "Воздействие внешнего магнитного поля в текущем месяце\n"
         "Обрыв токовой цепи датчика подающего трубопровода\n"
         "Обрыв потенциальной цепи датчика обратного трубопровода"},
        // Gas, water and pulse counters.
        {3, 0x31, 0, 0,
         "Воздействие внешнего магнитного поля\n"
         "Отсутствии ответа от электронного блока счетчика\n"
         "Перезапуск электронного блока счетчика"},
        {6, 0xF, 4, 0,
         "Канал 4: Воздействие внешнего магнитного поля\nКанал 4: Признак утечки\n"
         "Канал 4: Признак прорыва\nКанал 4: Признак отсоединение считывателя"},
        {22, 0x8, 0, 1, "Признак отсоединение считывателя (1)"},
        {25, 0x7, 0, 0,
         "Воздействие внешнего магнитного поля\nОбрыв линии\nКороткое замыкание линии"},
        // Devices without texts of their own show the code, without channel or sub-index.
        {26, 31, 2, 3, "0x0000001F"}, {0, 0x123456789, 0, 0, "0x23456789"},
        {8, -1, 0, 0, "0xFFFFFFFF"},  {26, 0, 1, 1, ""},
    };
    for (const auto& c : cases) {
        orvela::DeviceIdentity identity;
        identity.devType = static_cast<quint8>(c.devType);
        EXPECT_EQ(orvela::errorFlagsText(identity, c.errorCode, c.prefixNum, c.postfixNum),
                  QString::fromUtf8(c.text))
            << "devType " << c.devType << " code 0x" << std::hex << c.errorCode;
    }
}

ArchiveValue value(quint16 titleId, quint16 edId, const char* val, int prefixNum, int postfixNum)
{
    return ArchiveValue{titleId, edId, QString::fromLatin1(val), prefixNum, postfixNum};
}

TEST(Vocabulary, ValueDisplayComposesOneLine)
{
    const struct {
        int devType;
        ArchiveValue value;
        const char* line;
    } cases[] = {
        {2, value(2, 2, "1520.5", 0, 1), "Электроэнергия (тариф 1): 1520.5 кВт⋅час"},
        {25, value(57, 0, "42", 0, 0), "(Канал 0) Кол-во импульсов: 42"},
        {26, value(5, 10, "3.5", 2, 0), "(Канал 2) Объем: 3.5 м³"},
        {26, value(5, 10, "3.5", 0, 2), "Объем (2): 3.5 м³"},
        {4, value(30, 29, "65.2", 1, 2),
         "(1) Температура на подающем трубопроводе (трубопровод 2): 65.2 °С"},
        {6, value(0, 10, "1", 0, 0), "1 м³"},
        {2, value(2, 2, "", 1, 1), ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(orvela::valueDisplayText(c.devType, c.value), QString::fromUtf8(c.line))
            << c.line;
    }
}

TEST(Vocabulary, NameTablesAreCompleteAndDistinct)
{
    // A dropped or repeated row would shift every later name onto the wrong number.
    QSet<QString> titles;
    for (int id = 1; id <= 63; ++id) {
        titles.insert(orvela::titleName(id));
    }
    EXPECT_EQ(titles.size(), 63);
    EXPECT_FALSE(titles.contains(QString()));
    QSet<QString> units;
    for (int id = 1; id <= 84; ++id) {
        units.insert(orvela::unitName(id));
    }
    EXPECT_EQ(units.size(), 83); // 29 and 30 are both degrees Celsius
    EXPECT_FALSE(units.contains(QString()));

    EXPECT_EQ(orvela::titleName(1), QStringLiteral("Энергия"));
    EXPECT_EQ(orvela::titleName(63), QStringLiteral("Серийный номер"));
    EXPECT_EQ(orvela::unitName(30), QStringLiteral("°С"));
    EXPECT_EQ(orvela::unitName(84), QStringLiteral("мБТЕ/сек"));
    for (int outside : {0, -1, 65535}) {
        EXPECT_EQ(orvela::titleName(outside) + orvela::unitName(outside), QString()) << outside;
    }
    EXPECT_EQ(orvela::titleName(64) + orvela::unitName(85), QString());
}

TEST(Vocabulary, ResourceNamesFallBackToTheCode)
{
    EXPECT_EQ(orvela::resourceName(0), QStringLiteral("Нет"));
    EXPECT_EQ(orvela::resourceName(7), QStringLiteral("Составное устройство"));
    EXPECT_EQ(orvela::resourceName(1), QStringLiteral("0x0001 - Неизвестно"));
    EXPECT_EQ(orvela::resourceName(0x12345), QStringLiteral("0x2345 - Неизвестно"));
}

} // namespace
