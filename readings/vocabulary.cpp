#include "readings/vocabulary.h"

#include <QObject>
#include <QStringList>

#include <iterator>

namespace orvela {

namespace {

// Names by number, starting at 1; the texts are shown to users as they stand.
const char* const kTitleNames[] = {
    QT_TR_NOOP("Энергия"), // 1
    QT_TR_NOOP("Электроэнергия"), // 2
    QT_TR_NOOP("Реактивная энергия"), // 3
    QT_TR_NOOP("Тепловая энергия"), // 4
    QT_TR_NOOP("Объем"), // 5
    QT_TR_NOOP("Масса"), // 6
    QT_TR_NOOP("Время работы"), // 7
    QT_TR_NOOP("Время заряда"), // 8
    QT_TR_NOOP("Мощность"), // 9
    QT_TR_NOOP("Объемный расход"), // 10
    QT_TR_NOOP("Массовый расход"), // 11
    QT_TR_NOOP("Разность температур"), // 12
    QT_TR_NOOP("Внешняя температура"), // 13
    QT_TR_NOOP("Давление"), // 14
    QT_TR_NOOP("Длительность"), // 15
    QT_TR_NOOP("Средняя длительность"), // 16
    QT_TR_NOOP("Температура"), // 17
    QT_TR_NOOP("Модификация устройства"), // 18
    QT_TR_NOOP("Версия программной части"), // 19
    QT_TR_NOOP("Версия аппаратной части"), // 20
    QT_TR_NOOP("Состояние"), // 21
    QT_TR_NOOP("Статус"), // 22
    QT_TR_NOOP("Версия"), // 23
    QT_TR_NOOP("Дата, переданная устройством"), // 24
    QT_TR_NOOP("Время, переданное устройством"), // 25
    QT_TR_NOOP("Уровень заряда аккумуляторной батареи"), // 26
    QT_TR_NOOP("Уровень сигнала"), // 27
    QT_TR_NOOP("Объем теплоносителя"), // 28
    QT_TR_NOOP("Тепловая мощность"), // 29
    QT_TR_NOOP("Температура на подающем трубопроводе"), // 30
    QT_TR_NOOP("Температура на обратном трубопроводе"), // 31
    QT_TR_NOOP("Расход теплоносителя"), // 32
    QT_TR_NOOP("Масса водоразбора"), // 33
    QT_TR_NOOP("Температура холодной воды"), // 34
    QT_TR_NOOP("Температура горячей воды"), // 35
    QT_TR_NOOP("Температура воздуха"), // 36
    QT_TR_NOOP("Период нормальной работы"), // 37
    QT_TR_NOOP("Период отсутствия счета"), // 38
    QT_TR_NOOP("Объем воды по дополнительному входу"), // 39
    QT_TR_NOOP("Реактивная энергия отпущенная"), // 40
    QT_TR_NOOP("Электроэнергия отпущенная"), // 41
    QT_TR_NOOP("Тепловая энергия отпущенная"), // 42
    QT_TR_NOOP("Энергия отпущенная"), // 43
    QT_TR_NOOP("Объем воды"), // 44
    QT_TR_NOOP("Объем газа"), // 45
    QT_TR_NOOP("Масса воды"), // 46
    QT_TR_NOOP("Период запуска"), // 47
    QT_TR_NOOP("Неизвестное значение VIB"), // 48
    QT_TR_NOOP("Firmware ver"), // 49
    QT_TR_NOOP("Firmware id"), // 50
    QT_TR_NOOP("Давление в подающем трубопроводе"), // 51
    QT_TR_NOOP("Давление в обратном трубопроводе"), // 52
    QT_TR_NOOP("Масса воды в подающем трубопроводе"), // 53
    QT_TR_NOOP("Масса воды в обратном трубопроводе"), // 54
    QT_TR_NOOP("Кол-во остановок счетчика"), // 55
    QT_TR_NOOP("Спец.флаги"), // 56
    QT_TR_NOOP("Кол-во импульсов"), // 57
    QT_TR_NOOP("Напряжение"), // 58
    QT_TR_NOOP("Сила тока"), // 59
    QT_TR_NOOP("Хол./гор. предел температуры"), // 60
    QT_TR_NOOP("Макс. кол-во кум. мощности"), // 61
    QT_TR_NOOP("Масса теплоносителя"), // 62
    QT_TR_NOOP("Серийный номер"), // 63
};

const char* const kUnitNames[] = {
    QT_TR_NOOP("Вт⋅час"), // 1
    QT_TR_NOOP("кВт⋅час"), // 2
    QT_TR_NOOP("ВАР⋅час"), // 3
    QT_TR_NOOP("кВАР⋅час"), // 4
    QT_TR_NOOP("Дж"), // 5
    QT_TR_NOOP("кДж"), // 6
    QT_TR_NOOP("кал"), // 7
    QT_TR_NOOP("ккал"), // 8
    QT_TR_NOOP("Гкал"), // 9
    QT_TR_NOOP("м³"), // 10
    QT_TR_NOOP("л"), // 11
    QT_TR_NOOP("г"), // 12
    QT_TR_NOOP("кг"), // 13
    QT_TR_NOOP("т"), // 14
    QT_TR_NOOP("сек"), // 15
    QT_TR_NOOP("мин"), // 16
    QT_TR_NOOP("час"), // 17
    QT_TR_NOOP("дн"), // 18
    QT_TR_NOOP("мес"), // 19
    QT_TR_NOOP("год"), // 20
    QT_TR_NOOP("Вт"), // 21
    QT_TR_NOOP("Дж/час"), // 22
    QT_TR_NOOP("Мкал"), // 23
    QT_TR_NOOP("Мкал/час"), // 24
    QT_TR_NOOP("м³/час"), // 25
    QT_TR_NOOP("м³/мин"), // 26
    QT_TR_NOOP("м³/сек"), // 27
    QT_TR_NOOP("кг/час"), // 28
    QT_TR_NOOP("°С"), // 29
    QT_TR_NOOP("°С"), // 30
    QT_TR_NOOP("°F"), // 31
    QT_TR_NOOP("бар"), // 32
    QT_TR_NOOP("кг/см²"), // 33
    QT_TR_NOOP("МВт⋅час"), // 34
    QT_TR_NOOP("МДж"), // 35
    QT_TR_NOOP("ГДж"), // 36
    QT_TR_NOOP("кВт"), // 37
    QT_TR_NOOP("МВт"), // 38
    QT_TR_NOOP("ГВт"), // 39
    QT_TR_NOOP("%"), // 40
    QT_TR_NOOP("дБм"), // 41
    QT_TR_NOOP("ГВт⋅час"), // 42
    QT_TR_NOOP("кал/час"), // 43
    QT_TR_NOOP("ккал/час"), // 44
    QT_TR_NOOP("Гкал/час"), // 45
    QT_TR_NOOP("кДж/час"), // 46
    QT_TR_NOOP("МДж/час"), // 47
    QT_TR_NOOP("ГДж/час"), // 48
    QT_TR_NOOP("мПа"), // 49
    QT_TR_NOOP("Па"), // 50
    QT_TR_NOOP("кПа"), // 51
    QT_TR_NOOP("МПа"), // 52
    QT_TR_NOOP("ГПа"), // 53
    QT_TR_NOOP("кал/мин"), // 54
    QT_TR_NOOP("ккал/мин"), // 55
    QT_TR_NOOP("Мкал/мин"), // 56
    QT_TR_NOOP("Гкал/мин"), // 57
    QT_TR_NOOP("В"), // 58
    QT_TR_NOOP("А"), // 59
    QT_TR_NOOP("мВ"), // 60
    QT_TR_NOOP("кВ"), // 61
    QT_TR_NOOP("МВ"), // 62
    QT_TR_NOOP("ГВ"), // 63
    QT_TR_NOOP("мА"), // 64
    QT_TR_NOOP("кА"), // 65
    QT_TR_NOOP("МА"), // 66
    QT_TR_NOOP("ГА"), // 67
    QT_TR_NOOP("мл"), // 68
    QT_TR_NOOP("мг"), // 69
    QT_TR_NOOP("см²"), // 70
    QT_TR_NOOP("м²"), // 71
    QT_TR_NOOP("мВА"), // 72
    QT_TR_NOOP("ВА"), // 73
    QT_TR_NOOP("кВА"), // 74
    QT_TR_NOOP("МВА"), // 75
    QT_TR_NOOP("ГВА"), // 76
    QT_TR_NOOP("гал"), // 77
    QT_TR_NOOP("гал/мин"), // 78
    QT_TR_NOOP("гал/час"), // 79
    QT_TR_NOOP("фут"), // 80
    QT_TR_NOOP("фут²"), // 81
    QT_TR_NOOP("фут³"), // 82
    QT_TR_NOOP("кБТЕ"), // 83
    QT_TR_NOOP("мБТЕ/сек"), // 84
};

template <size_t N>
QString nameAt(const char* const (&names)[N], int number)
{
    if (number < 1 || number > static_cast<int>(N)) {
        return QString();
    }
    return QObject::tr(names[number - 1]);
}

// One line of an error code: shown when the bits under the mask hold the value.
struct FlagText {
    quint32 mask;
    quint32 value;
    const char* text;
};

const FlagText kElectricityFlags[] = {
    {0x100, 0x100, QT_TR_NOOP("Различный ток нагрузки по нулевому и фазному проводам")},
    {0x200, 0x200, QT_TR_NOOP("Отрицательная потребляемая мощность")},
    {0xC00, 0x400, QT_TR_NOOP("Ток нагрузки предельно мал")},
    {0xC00, 0x800, QT_TR_NOOP("Ток нагрузки превышает максимальный")},
    {0x3000, 0x1000, QT_TR_NOOP("Напряжение ниже минимального")},
    {0x3000, 0x2000, QT_TR_NOOP("Напряжение выше максимального")},
    {0x4000, 0x4000, QT_TR_NOOP("Отсутствует ток нагрузки")},
    {0x1, 0x1, QT_TR_NOOP("Ранее токи нагрузки по нулевому и фазному проводам были различны")},
    {0x2, 0x2, QT_TR_NOOP("Ранее была отрицательная потребляемая мощность")},
    {0x4, 0x4, QT_TR_NOOP("Ранее было воздействие внешнего магнитного поля")},
    {0x8, 0x8, QT_TR_NOOP("Ранее была открыта крышка клеммной коробки")},
    {0x10, 0x10, QT_TR_NOOP("Ранее был вскрыт корпус")},
    {0x20, 0x20, QT_TR_NOOP("Открыт корпус")},
    {0x40, 0x40, QT_TR_NOOP("Воздействие внешнего магнитного поля")},
    {0x80, 0x80, QT_TR_NOOP("Открыта крышка клеммной коробки")},
};

// Five 4-bit fields; a field value without a row here has no text.
const FlagText kHeatFlags[] = {
    {0xF, 0x1, QT_TR_NOOP("Воздействие внешнего магнитного поля в данный момент")},
    {0xF, 0x2, QT_TR_NOOP("Воздействие внешнего магнитного поля в текущем месяце")},
    {0xF, 0x3,
     QT_TR_NOOP("Воздействие внешнего магнитного поля в данный момент и в текущем месяце")},
    {0xF00, 0x300, QT_TR_NOOP("Обрыв токовой цепи датчика подающего трубопровода")},
    {0xF00, 0x400, QT_TR_NOOP("Обрыв потенциальной цепи датчика подающего трубопровода")},
    {0xF00, 0x500,
     QT_TR_NOOP("Короткое замыкание потенциальной цепи датчика подающего трубопровода")},
    {0xF000, 0x3000, QT_TR_NOOP("Обратное вращение вертушки")},
    {0xF000, 0x5000, QT_TR_NOOP("Обрыв цепи датчика расхода")},
    {0xF0000, 0x10000, QT_TR_NOOP("Разность температуры отрицательна")},
    {0xF0000, 0x40000,
     QT_TR_NOOP("Ошибка расчета разности температур из-за ошибки измерения одной из температур")},
    {0xF0000, 0x50000, QT_TR_NOOP("Разность температуры меньше -5 °С")},
    {0xF00000, 0x300000, QT_TR_NOOP("Обрыв токовой цепи датчика обратного трубопровода")},
    {0xF00000, 0x400000, QT_TR_NOOP("Обрыв потенциальной цепи датчика обратного трубопровода")},
    {0xF00000, 0x500000,
     QT_TR_NOOP("Короткое замыкание потенциальной цепи датчика обратного трубопровода")},
};

const FlagText kGasFlags[] = {
    {0x1, 0x1, QT_TR_NOOP("Воздействие внешнего магнитного поля")},
    {0x10, 0x10, QT_TR_NOOP("Отсутствии ответа от электронного блока счетчика")},
    {0x20, 0x20, QT_TR_NOOP("Перезапуск электронного блока счетчика")},
};

const FlagText kWaterFlags[] = {
    {0x1, 0x1, QT_TR_NOOP("Воздействие внешнего магнитного поля")},
    {0x2, 0x2, QT_TR_NOOP("Признак утечки")},
    {0x4, 0x4, QT_TR_NOOP("Признак прорыва")},
    {0x8, 0x8, QT_TR_NOOP("Признак отсоединение считывателя")},
};

const FlagText kPulseCounterFlags[] = {
    {0x1, 0x1, QT_TR_NOOP("Воздействие внешнего магнитного поля")},
    {0x2, 0x2, QT_TR_NOOP("Обрыв линии")},
    {0x4, 0x4, QT_TR_NOOP("Короткое замыкание линии")},
};

template <size_t N>
QStringList flagLines(const FlagText (&rows)[N], qint64 errorCode)
{
    QStringList lines;
    for (const FlagText& row : rows) {
        if ((static_cast<quint64>(errorCode) & row.mask) == row.value) {
            lines << QObject::tr(row.text);
        }
    }
    return lines;
}

QStringList classFlagLines(DeviceClass kind, qint64 errorCode)
{
    switch (kind) {
    case DeviceClass::Electricity:
        return flagLines(kElectricityFlags, errorCode);
    case DeviceClass::Heat:
        return flagLines(kHeatFlags, errorCode);
    case DeviceClass::Gas:
        return flagLines(kGasFlags, errorCode);
    case DeviceClass::Water:
        return flagLines(kWaterFlags, errorCode);
    case DeviceClass::PulseCounter:
        return flagLines(kPulseCounterFlags, errorCode);
    case DeviceClass::Composite:
    case DeviceClass::Other:
        break;
    }
    return QStringList();
}

bool hasFlagTexts(DeviceClass kind)
{
    return kind != DeviceClass::Composite && kind != DeviceClass::Other;
}

QString subIndexText(int devType, int postfixNum)
{
    const QString number = QString::number(postfixNum);
    switch (deviceClass(devType)) {
    case DeviceClass::Electricity:
        return QObject::tr(" (тариф ") + number + QStringLiteral(")");
    case DeviceClass::Heat:
        return QObject::tr(" (трубопровод ") + number + QStringLiteral(")");
    default:
        return QStringLiteral(" (") + number + QStringLiteral(")");
    }
}

// A pulse count always names its channel, 0 included, so that the counts of a multi-channel
// counter can be told apart.
constexpr int kPulseCountTitle = 57;

QString channelText(int devType, const ArchiveValue& value)
{
    const QString number = QString::number(value.prefixNum);
    if (value.titleId == kPulseCountTitle ||
        (deviceClass(devType) == DeviceClass::Composite && value.prefixNum >= 1)) {
        return QObject::tr("(Канал ") + number + QStringLiteral(") ");
    }
    if (value.prefixNum >= 1) {
        return QStringLiteral("(") + number + QStringLiteral(") ");
    }
    return QString();
}

} // namespace

DeviceClass deviceClass(int devType)
{
    switch (devType) {
    case 2:
        return DeviceClass::Electricity;
    case 3:
        return DeviceClass::Gas;
    case 4:
    case 12:
        return DeviceClass::Heat;
    case 6:
    case 7:
    case 21:
    case 22:
        return DeviceClass::Water;
    case 25:
        return DeviceClass::PulseCounter;
    case 26:
        return DeviceClass::Composite;
    default:
        return DeviceClass::Other;
    }
}

int devTypeOfResource(int resCode)
{
    switch (resCode) {
    case 2:
        return 22;
    case 3:
        return 6;
    case 4:
        return 2;
    case 5:
        return 3;
    case 6:
        return 4;
    default:
        return 0;
    }
}

QString titleName(int titleId)
{
    return nameAt(kTitleNames, titleId);
}

QString unitName(int edId)
{
    return nameAt(kUnitNames, edId);
}

QString resourceName(int code)
{
    switch (code) {
    case 0:
        return QObject::tr("Нет");
    case 2:
        return QObject::tr("Водоснабжение (холодная вода)");
    case 3:
        return QObject::tr("Водоснабжение (горячая вода)");
    case 4:
        return QObject::tr("Электроснабжение");
    case 5:
        return QObject::tr("Газоснабжение");
    case 6:
        return QObject::tr("Теплоснабжение");
    case 7:
        return QObject::tr("Составное устройство");
    default:
        return hexCode(code, 4) + QObject::tr(" - Неизвестно");
    }
}

QString errorFlagsText(const DeviceIdentity& identity, qint64 errorCode, int prefixNum,
                       int postfixNum)
{
    const DeviceClass kind = deviceClass(identity.devType);
    if (!hasFlagTexts(kind)) {
        return errorCode == 0 ? QString() : hexCode(errorCode, 8);
    }
    QString prefix;
    if (prefixNum >= 1) {
        prefix = QObject::tr("Канал ") + QString::number(prefixNum) + QStringLiteral(": ");
    }
    QString suffix;
    if (postfixNum >= 1) {
        suffix = QStringLiteral(" (") + QString::number(postfixNum) + QStringLiteral(")");
    }
    QStringList lines = classFlagLines(kind, errorCode);
    for (QString& line : lines) {
        line = prefix + line + suffix;
    }
    return lines.join(QLatin1Char('\n'));
}

QString valueDisplayText(int devType, const ArchiveValue& value)
{
    if (value.val.isEmpty()) {
        return QString();
    }
    QString name = channelText(devType, value) + titleName(value.titleId);
    if (value.postfixNum >= 1) {
        name += subIndexText(devType, value.postfixNum);
    }
    name = name.trimmed();
    if (!name.isEmpty()) {
        name += QStringLiteral(": ");
    }
    const QString line = name + value.val + QLatin1Char(' ') + unitName(value.edId);
    return line.trimmed();
}

QString hexCode(qint64 number, int width)
{
    const int digits = qBound(1, width, 16);
    const QString hex = QString::number(static_cast<quint64>(number), 16).toUpper();
    const QString fitted =
        hex.size() > digits ? hex.right(digits) : hex.rightJustified(digits, QLatin1Char('0'));
    return QStringLiteral("0x") + fitted;
}

} // namespace orvela
