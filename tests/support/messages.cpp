// The result-code messages as clients show them, kept apart from the program's own table so
// that a changed character in either is caught.
#include "support/messages.h"

#include <QHash>

#include <algorithm>
#include <initializer_list>
#include <utility>

namespace testing_support {

namespace {

using Names = std::initializer_list<std::pair<int, const char*>>;

// Messages that differ only in the name they hold (a parameter, a field, a table), each code
// with its name.
void addNamed(QHash<int, QString>* messages, const char* pattern, Names names)
{
    for (const auto& [code, name] : names) {
        messages->insert(code, QString::fromUtf8(pattern).arg(QString::fromUtf8(name)));
    }
}

QHash<int, QString> makeMessages()
{
    QHash<int, QString> messages = {
        {0, QStringLiteral("OK.")},
        {1, QStringLiteral("Неизвестная команда (параметр CMD).")},
        {2, QStringLiteral("Параметр CMD отсутствует.")},
        {3, QStringLiteral("Пустая строка параметров.")},
        {18, QStringLiteral("Отсутствуют показания и флаги состояний устройства. Нет данных для "
                            "сохранения.")},
        {19, QStringLiteral("Не удалось подключиться к серверу БД.")},
        {20, QStringLiteral("Не удалось подключиться к БД после соединения с сервером.")},
        {21, QStringLiteral("Не удалось установить нужную кодировку на сервере БД.")},
        {22, QStringLiteral("Отсутствует соединение с БД.")},
        {23, QStringLiteral("Ошибка при проверке и создании таблицы настроек.")},
        {24, QStringLiteral("Не удалось прочитать таблицу настроек.")},
        {25, QStringLiteral("GET запросы запрещены в настройках.")},
        {27, QStringLiteral("Устройство отсутствует в БД.")},
        {28, QStringLiteral("Запись для данного устройства на указанную дату уже существует.")},
        {29, QStringLiteral("Не удалось добавить запись в архив.")},
        {31, QStringLiteral("Не удалось получить идентификатор записи архива.")},
        {32, QStringLiteral("Нет значений в списке показаний.")},
        {33, QStringLiteral("Не удалось сохранить показания устройства.")},
        {34, QStringLiteral("Нет значений в списке флагов состояний.")},
        {35, QStringLiteral("Не удалось сохранить флаги состояний устройства.")},
        {36, QStringLiteral("Не удалось сохранить идентификатор архивной записи в таблице "
                            "устройства.")},
        {37, QStringLiteral("Не удалось загрузить файл SQL-скрипта.")},
        {38, QStringLiteral("Ошибка при выполнении SQL-скрипта.")},
        {39, QStringLiteral("Ошибка при удалении таблиц БД.")},
        {40, QStringLiteral("Параметр CompanyId не найден.")},
        {61, QStringLiteral("Не удалось создать временный файл.")},
        {74, QStringLiteral("В таблице Адресов уже имеется такая запись.")},
        {75, QStringLiteral("Не удалось вставить запись в таблицу Адресов.")},
        {78, QStringLiteral("Указанный адрес используется в таблице Устройств.")},
        {79, QStringLiteral("Указанный адрес используется в таблице Абонентов.")},
        {80, QStringLiteral("Не удалось выполнить запрос к БД.")},
        {81, QStringLiteral("Некорректный результат запроса.")},
        {104, QStringLiteral("Ошибка при выполнении запроса.")},
        {107, QStringLiteral("В таблице Устройств уже имеется такая запись.")},
        {109, QStringLiteral("Не удалось вставить запись в таблицу Устройств.")},
        {110, QStringLiteral("Отсутствует идетификатор устройства.")},
        {111, QStringLiteral("Указанное устройство используется в таблице Показаний.")},
        {112, QStringLiteral("Адрес не найден.")},
        {118, QStringLiteral("Фунция временно отключена. Идут работы на сервере.")},
        {119, QStringLiteral("Дата и время указаны неверно. Прошло слишком много времени.")},
        {120, QStringLiteral("Абонент использует другие объекты.")},
        {121, QStringLiteral("Список абонентов пуст.")},
        {122, QStringLiteral("В таблице Абонентов уже имеется такая запись.")},
        {123, QStringLiteral("Не удалось вставить запись в таблицу Абонентов.")},
        {125, QStringLiteral("Дата и время указаны неверно. Указанное время еще не настало в этой "
                             "вселенной на нашей планете.")},
        {129, QStringLiteral("Ошибка Json: несоответствие типа ответа.")},
        {130, QStringLiteral("Разрешены только защищенные HTTPS соединения.")},
        {131, QStringLiteral("Неправильный формат JSON.")},
        {132, QStringLiteral("Ошибка при выполнении SQL запроса.")},
        {133, QStringLiteral("Тайм-аут передачи данных.")},
        {134, QStringLiteral("Не удалось дешифровать данные.")},
        {135, QStringLiteral("Неверный формат строки данных после дешифрования.")},
        {139, QStringLiteral("Неверное имя пользователя или пароль.")},
        {140, QStringLiteral("Пользователь отключен.")},
        {142, QStringLiteral("Неверный формат параметра CommandCode.")},
        {143, QStringLiteral("Команда недоступна для указанного пользователя.")},
        {144, QStringLiteral("Абонент не найден.")},
        {148, QStringLiteral("Не удалось вставить запись в Таблицу Пользователей.")},
        {150, QStringLiteral("Не удалось изменить запись в Таблице Пользователей.")},
        {151, QStringLiteral("Устройство с указанными параметрами уже существует.")},
        {152, QStringLiteral("Не найден параметр Dromex.")},
        {154, QStringLiteral("Указанный логин занят другим пользователем.")},
        {155, QStringLiteral("Ошибка при выполнении запроса на получение идентификатора.")},
        {157, QStringLiteral("Неизвестный формат параметра DATA.")},
        {158, QStringLiteral("Неправильный формат даты или времени.")},
        {161, QStringLiteral("Несоответствие размера данных параметра DATA.")},
        {162, QStringLiteral("Неверная контрольная сумма.")},
        {163, QStringLiteral("Неверное значение DIF для данного устройства.")},
        {164, QStringLiteral("Неверное значение VIF для данного устройства.")},
        {165, QStringLiteral("Неожиданный конец данных - несоответствие формата.")},
        {166, QStringLiteral("Неверное значение показаний прибора.")},
        {167, QStringLiteral("Неверная длина пакета данных устройства.")},
        {168, QStringLiteral("Файл не найден.")},
        {169, QStringLiteral("Не удалось открыть файл.")},
        {170, QStringLiteral("Неверный метод запроса.")},
        {171, QStringLiteral("Параметр Content-Length задан неверно.")},
        {172, QStringLiteral("Параметр Content-Length не совпадает с длиной данных.")},
        {173, QStringLiteral("Неизвестный тип параметра Content-Type.")},
        {174, QStringLiteral("Неверный формат заголовка. Разделитель (boundary) не найден.")},
        {175, QStringLiteral("Не удалось прочитать Content данные.")},
        {176, QStringLiteral("Неверный формат Content данных.")},
        {177, QStringLiteral("Неправильный формат числового параметра.")},
        {178, QStringLiteral("Ошибка при разборе флагов состояний.")},
        {179, QStringLiteral("Превышение количества DIFE байт.")},
        {180, QStringLiteral("Превышение количества VIFE байт.")},
        {181, QStringLiteral("Неправильный формат числовых данных.")},
        {182, QStringLiteral("Дата и время не найдены.")},
        {183, QStringLiteral("Неизвестный параметр.")},
        {184, QStringLiteral("Неизвестный тип данных.")},
        {185, QStringLiteral("Несоответствие размера пакета данных.")},
        {186, QStringLiteral("Неверное значение размера для указанного типа данных.")},
        {187, QStringLiteral("Недостаточно параметров для сохранения события.")},
        {188, QStringLiteral("Не удалось сохранить событие в БД.")},
        {189, QStringLiteral("Событие уже есть в БД.")},
        {190, QStringLiteral("Объект не найден.")},
        {191, QStringLiteral("Пустой список устройств.")},
        {192, QStringLiteral("Неверная дата или время.")},
        {203, QStringLiteral("В БД уже имеется такая запись.")},
        {204, QStringLiteral("Указанная запись используется в других таблицах.")},
        {205, QStringLiteral("Ошибка при сохранении данных некоторых приборов.")},
        {206, QStringLiteral("Ошибка при чтении результата запроса.")},
        {207, QStringLiteral("Ошибка при записи содержимого HTTP ответа.")},
        {208, QStringLiteral("Ошибка при считывании содержимого HTTP запроса.")},
        {209, QStringLiteral("Отсутствуют обязательные параметры.")},
        {210, QStringLiteral("Не удалось получить идентификатор пользователя.")},
        {211, QStringLiteral("Неизвестный тип пользователя.")},
        {212, QStringLiteral("Учетная запись не активирована.")},
        {213, QStringLiteral("Истекло время действия учетной записи.")},
        {214, QStringLiteral("Истекло время действия пароля.")},
        {217, QStringLiteral("Указанный адрес пренадлежит другой компании.")},
        {222, QStringLiteral("Не удалось отправить POST запрос на сервер.")},
        {229, QStringLiteral("Слишком большое значение параметра ObjCount.")},
        {232, QStringLiteral("Некорректное значение в BCD формате.")},
        {233, QStringLiteral("Неизвестный статус пользователя.")},
        {235, QStringLiteral("Указанная запись отсутствует в БД.")},
        {236, QStringLiteral("Тайм-аут ожидания данных.")},
        {246, QStringLiteral("Устройство не найдено.")},
        {254, QStringLiteral("Вы используете устаревшую версию ПО. Пожалуйста, обновите "
                             "программу.")},
        {255, QStringLiteral("Эта часть программы еще не реализована.")},
        {259, QStringLiteral("Не существует таблицы в БД.")},
        {275, QStringLiteral("Пользователь отсутствует в БД.")},
        {278, QStringLiteral("Старый пароль указан неверно.")},
        {282, QStringLiteral("Неверное значение параметра PostIndex.")},
        {287, QStringLiteral("Запись с таким логином уже существует.")},
        {293, QStringLiteral("Не найден параметр Action.")},
        {294, QStringLiteral("Неизвестное значение параметра Action.")},
        {295, QStringLiteral("Нет устройств в таблице для указанного концентратора.")},
        {296, QStringLiteral("Не найден параметр SessionId.")},
        {298, QStringLiteral("Указанный пользователь уже вошел в систему.")},
        {299, QStringLiteral("Сессия не найдена.")},
        {300, QStringLiteral("Таймаут текущей сессии пользователя.")},
        {303, QStringLiteral("Неизвестная команда.")},
        {306, QStringLiteral("Задание не найдено.")},
        {307, QStringLiteral("Список лицевых счетов пуст.")},
        {308, QStringLiteral("Лицевой счет уже существует.")},
        {312, QStringLiteral("Неправильный формат списка устройств.")},
        {313, QStringLiteral("Не найдена модель прибора.")},
        {314, QStringLiteral("Объект уже существует.")},
        {316, QStringLiteral("Не указаны приборы, подключенные к каналам.")},
        {317, QStringLiteral("Отсутствует или неверно задан вид измерения.")},
        {318, QStringLiteral("Отсутствует или неверна единица измерения.")},
        {319, QStringLiteral("Отсутствует или неверно задан вес импульса.")},
        {320, QStringLiteral("Отсутствует или неверно задано начальное значение.")},
        {321, QStringLiteral("Ошибка при определении версии.")},
        {324, QStringLiteral("Параметра Mail, превышена длина, нарушен формат адреса или "
                             "использован запрещенный символ.")},
        {326, QStringLiteral("Параметра Password, превышена длина или использован пробельный "
                             "символ.")},
        {329, QStringLiteral("Неизвестный формат данных.")},
        {330, QStringLiteral("Объем запрошенных данных превышает допустимый.")},
    };
    addNamed(&messages, "Неправильный формат параметра %1.",
             {{14, "wmbMan"}, {15, "wmbId"}, {16, "wmbDev"}, {17, "wmbVer"}, {57, "IndexId"},
              {59, "AddressId"}, {82, "AbonentType"}, {84, "DevType"}, {86, "ArcType"},
              {88, "AccountId"}, {90, "DeviceId"}, {91, "IdentNum"}, {92, "Ver"},
              {93, "InstallDate"}, {94, "InstallDateMin"}, {95, "InstallDateMax"},
              {96, "LastPovDate"}, {97, "LastPovDateMin"}, {98, "LastPovDateMax"}, {103, "ManId"},
              {108, "PovInterval"}, {113, "ArcDate"}, {114, "ArcDateMin"}, {115, "ArcDateMax"},
              {116, "AbonentId"}, {127, "TimeShift"}, {128, "ObjectId"}, {137, "AuthData"},
              {146, "ObjectId"}, {147, "UserAuth"}, {153, "Dromex"}, {159, "Dev"}, {160, "Status"},
              {215, "Year"}, {216, "Id"}, {220, "ObjType"}, {221, "CompanyId"}, {231, "CMD"},
              {239, "ResCode"}, {256, "Date"}, {257, "Period"}, {268, "UserId"}, {271, "EdTeplo"},
              {272, "EdElectro"}, {273, "EdVoda"}, {274, "EdGas"}, {276, "UserType"},
              {279, "OdCount"}, {280, "KvCount"}, {283, "Sq"}, {286, "PasData"}, {288, "View"},
              {289, "Month"}, {290, "DateStart"}, {291, "DateEnd"}, {297, "SessionId"},
              {302, "Value"}, {305, "TaskId"}, {315, "Precise"}});
    addNamed(&messages, "Неправильный формат поля %1.",
             {{77, "AddressId"}, {237, "ObjType"}, {238, "AbonentId"}, {240, "DeviceId"},
              {241, "ResCode"}, {242, "TitleId"}, {243, "EdId"}, {244, "PrefixNum"},
              {245, "PostfixNum"}, {247, "DevType"}, {248, "Ver"}, {249, "ModelId"},
              {250, "Status"}, {251, "PovStat"}, {252, "PovInterval"}, {253, "ManufId"},
              {258, "Id"}, {269, "ArcDate"}, {270, "RecDate"}, {292, "DateInstall"}});
    addNamed(&messages, "Отсутствует параметр %1.",
             {{124, "AbonentId"}, {126, "TimeShift"}, {136, "AuthData"}, {141, "CommandCode"},
              {145, "ObjectId"}, {149, "UserId"}, {219, "ObjType"}, {230, "Obj"}, {234, "Name"},
              {277, "PasOld"}, {281, "KvCount"}, {284, "Login"}, {285, "PasData"}, {301, "Value"},
              {304, "TaskId"}, {309, "E-Mail"}, {310, "Address"}, {311, "Devices"}, {328, "Note"}});
    addNamed(&messages, "Отсутствует параметр %1, обязательный для данного запроса.",
             {{4, "Date"}, {5, "Time"}, {6, "Dev"}, {7, "HardVer"}, {8, "SoftVer"}, {9, "Status"},
              {76, "AddressId"}, {156, "DATA"}, {218, "Password"}});
    addNamed(&messages, "Параметра %1, превышена длина или использован запрещенный символ.",
             {{322, "Name"}, {323, "Login"}, {325, "Phone"}, {327, "Note(Информация)"}});
    addNamed(&messages, "Ошибка при выполнении запроса к таблице %1.",
             {{26, "устройств"}, {30, "архива"}, {60, "Адресов"}, {83, "Типов абонентов"},
              {85, "Типов устройств"}, {87, "Типов архивных записей"}, {89, "Лицевых счетов"},
              {105, "Показаний"}, {106, "Флагов состояний"}, {117, "Абонентов"},
              {138, "Пользователей"}, {260, "компаний"}});
    addNamed(&messages, "Отсутствует параметр %1, необходимый для идентификации устройства.",
             {{10, "wmbMan"}, {11, "wmbId"}, {12, "wmbDev"}, {13, "wmbVer"}, {99, "ManId"},
              {100, "IdentNum"}, {101, "DevType"}, {102, "Ver"}});
    return messages;
}

const QHash<int, QString>& messages()
{
    static const QHash<int, QString> table = makeMessages();
    return table;
}

} // namespace

QString expectedMessage(int code)
{
    if (code > 330) {
        return QStringLiteral("Неизвестная ошибка.");
    }
    return messages().value(code);
}

QList<int> assignedCodes()
{
    QList<int> codes = messages().keys();
    std::sort(codes.begin(), codes.end());
    return codes;
}

} // namespace testing_support
