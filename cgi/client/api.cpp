#include "cgi/client/api.h"

#include "app/httporvelaserver.h"

namespace client {

using orvela::ResultType;

const QVector<Api::Command>& Api::commandTable()
{
    // The number of a command is its position; the log text is written before it runs.
    static const QVector<Command> table = {
    {"Get_UserData", QT_TR_NOOP("Команда чтения данных пользователя."), ResultType::Table, &Api::getUserData},
    {"Add_User", QT_TR_NOOP("Команда добавления нового пользователя."), ResultType::Ok, &Api::addUser},
    {"Del_User", QT_TR_NOOP("Команда удаления пользователя."), ResultType::Ok, &Api::delUser},
    {"Upd_User", QT_TR_NOOP("Команда редактирования пользователя."), ResultType::Ok, &Api::updUser},
    {"Get_ModelTable", QT_TR_NOOP("Команда получения таблицы моделей устройств."), ResultType::Table, &Api::getModelTable},
    {"Add_Model", QT_TR_NOOP("Команда добавления новой модели устройства."), ResultType::Ok, &Api::addModel},
    {"Upd_Model", QT_TR_NOOP("Команда редактирования модели устройства."), ResultType::Ok, &Api::updModel},
    {"Del_Model", QT_TR_NOOP("Команда удаления модели устройства."), ResultType::Ok, &Api::delModel},
    {"Get_ManufTable", QT_TR_NOOP("Команда получения таблицы производителей приборов."), ResultType::Table, &Api::getManufTable},
    {"Add_Manuf", QT_TR_NOOP("Команда добавления нового производителя приборов."), ResultType::Ok, &Api::addManuf},
    {"Upd_Manuf", QT_TR_NOOP("Команда редактирования производителя приборов."), ResultType::Ok, &Api::updManuf},
    {"Del_Manuf", QT_TR_NOOP("Команда удаления производителя приборов."), ResultType::Ok, &Api::delManuf},
    {"Get_DeviceList", QT_TR_NOOP("Команда получения списка устройств."), ResultType::Table, &Api::getDeviceList},
    {"Get_ErrorFlags", QT_TR_NOOP("Команда получения флагов ошибок."), ResultType::Table, &Api::getErrorFlags},
    {"Get_DeviceInfo", QT_TR_NOOP("Команда получения информации об устройстве."), ResultType::Table, &Api::getDeviceInfo},
    {"Get_DevValues", QT_TR_NOOP("Команда получения показаний прибора учета."), ResultType::Table, &Api::getDevValues},
    {"Get_AddressTable", QT_TR_NOOP("Команда получения таблицы адресов."), ResultType::Table, &Api::getAddressTable},
    {"Get_CompanyList", QT_TR_NOOP("Команда получения списка организаций."), ResultType::Table, &Api::getCompanyList},
    {"Get_AbonentsTable", QT_TR_NOOP("Команда получения таблицы абонентов."), ResultType::Table, &Api::getAbonentsTable},
    {"Add_Address", QT_TR_NOOP("Команда добавления нового адреса."), ResultType::Ok, &Api::addAddress},
    {"Add_Abonents", QT_TR_NOOP("Команда добавления нового абонентов."), ResultType::Ok, &Api::addAbonents},
    {"Get_DeviceTable", QT_TR_NOOP("Команда получения таблицы устройств."), ResultType::Table, &Api::getDeviceTable},
    {"Get_PeriodValues", QT_TR_NOOP("Команда получения показаний за период."), ResultType::Table, &Api::getPeriodValues},
    {"Del_Address", QT_TR_NOOP("Команда удаления адреса."), ResultType::Ok, &Api::delAddress},
    {"Upd_Address", QT_TR_NOOP("Команда редактирования адреса.."), ResultType::Ok, &Api::updAddress},
    {"Get_AddressInfo", QT_TR_NOOP("Команда получения данных об адресе."), ResultType::Table, &Api::getAddressInfo},
    {"Get_CompanyAddresses", QT_TR_NOOP("Команда получения адресов домов компании."), ResultType::Table, &Api::getCompanyAddresses},
    {"Get_DevValuesFromAddress", QT_TR_NOOP("Команда получения показаний по адресу дома.."), ResultType::Table, &Api::getDevValuesFromAddress},
    {"Get_DeviceData", QT_TR_NOOP("Команда получения данных об устройстве."), ResultType::Table, &Api::getDeviceData},
    {"Get_Report", QT_TR_NOOP("Команда получения данных для отчета."), ResultType::Table, &Api::getReport},
    {"Get_Devices", QT_TR_NOOP("Команда получения списка устройств."), ResultType::Table, &Api::getDevices},
    {"Get_ObjectTable", QT_TR_NOOP("Команда получения списка объектов."), ResultType::Table, &Api::getObjectTable},
    {"Add_Object", QT_TR_NOOP("Команда добавления объекта."), ResultType::Ok, &Api::addObject},
    {"Upd_Object", QT_TR_NOOP("Команда редактирования объекта."), ResultType::Ok, &Api::updObject},
    {"Del_Object", QT_TR_NOOP("Команда удаления объекта.."), ResultType::Ok, &Api::delObject},
    {"Add_Devices", QT_TR_NOOP("Команда добавления приборов."), ResultType::Ok, &Api::addDevices},
    {"Upd_Device", QT_TR_NOOP("Команда редактирования прибора."), ResultType::Ok, &Api::updDevice},
    {"Del_Device", QT_TR_NOOP("Команда удаления прибора."), ResultType::Ok, &Api::delDevice},
    {"Upd_Abonent", QT_TR_NOOP("Команда редактирования абонента."), ResultType::Ok, &Api::updAbonent},
    {"Del_Abonent", QT_TR_NOOP("Команда удаления абонента."), ResultType::Ok, &Api::delAbonent},
    {"Get_CompanyTable", QT_TR_NOOP("Команда получения списка организаций."), ResultType::Table, &Api::getCompanyTable},
    {"Add_Company", QT_TR_NOOP("Команда добавления организации."), ResultType::Ok, &Api::addCompany},
    {"Upd_Company", QT_TR_NOOP("Команда редактирования организации."), ResultType::Ok, &Api::updCompany},
    {"Del_Company", QT_TR_NOOP("Команда удаления организации."), ResultType::Ok, &Api::delCompany},
    {"Get_UsersTable", QT_TR_NOOP("Команда получения списка пользователей."), ResultType::Table, &Api::getUsersTable},
    {"Add_Task", QT_TR_NOOP("Команда добавления задания на исполнение для прибора учета."), ResultType::Ok, &Api::addTask},
    {"Get_TaskTable", QT_TR_NOOP("Команда получения очереди заданий для прибора учета."), ResultType::Table, &Api::getTaskTable},
    {"Del_Task", QT_TR_NOOP("Команда удаления задания для прибора учета."), ResultType::Ok, &Api::delTask},
    {"Clear_Task", QT_TR_NOOP("Команда удаления всех заданий для прибора учета."), ResultType::Ok, &Api::clearTask},
    {"Get_LicAccountTable", QT_TR_NOOP("Команда получения таблицы Лицевых счетов."), ResultType::Table, &Api::getLicAccountTable},
    {"Add_LicAccount", QT_TR_NOOP("Команда добавления Лицевых счетов."), ResultType::Ok, &Api::addLicAccount},
    {"Upd_LicAccount", QT_TR_NOOP("Команда изменения Лицевых счетов."), ResultType::Ok, &Api::updLicAccount},
    {"Del_LicAccount", QT_TR_NOOP("Команда удаления Лицевых счетов."), ResultType::Ok, &Api::delLicAccount},
    {"Get_TechnicalData", QT_TR_NOOP("Команда получения технологических данных."), ResultType::Table, &Api::getTechnicalData},
    {"Clear_ErrorFlags", QT_TR_NOOP("Команда очистки очереди оповещения."), ResultType::Ok, &Api::clearErrorFlags},
    {"Get_TmpDevTable", QT_TR_NOOP("Команда получения временной таблицы устройств."), ResultType::Table, &Api::getTmpDevTable},
    {"Get_MirelTable", QT_TR_NOOP("Команда получения таблицы СИ Мирел."), ResultType::Table, &Api::getMirelTable},
    {"Add_Mirel", QT_TR_NOOP("Команда добавления счетчика импульсов."), ResultType::Ok, &Api::addMirel},
    {"Upd_Mirel", QT_TR_NOOP("Команда изменения счетчика импульсов."), ResultType::Ok, &Api::updMirel},
    {"Del_Mirel", QT_TR_NOOP("Команда удаления счетчика импульсов."), ResultType::Ok, &Api::delMirel},
    {"Report", QT_TR_NOOP("Команда получения данных для отчета."), ResultType::Table, &Api::report},
    {"Search", QT_TR_NOOP("Команда поиска."), ResultType::Table, &Api::search},
    {"Get_LoRaTable", QT_TR_NOOP("Команда получения списка приборов LoRa."), ResultType::Table, &Api::getLoRaTable},
    {"Get_LoRaDevice", QT_TR_NOOP("Команда получения данных прибора LoRa."), ResultType::Table, &Api::getLoRaDevice},
    {"Add_LoRaDevice", QT_TR_NOOP("Команда добавления прибора LoRa."), ResultType::Ok, &Api::addLoRaDevice},
    {"Upd_LoRaDevice", QT_TR_NOOP("Команда редактирования прибора LoRa."), ResultType::Ok, &Api::updLoRaDevice},
    {"Del_LoRaDevice", QT_TR_NOOP("Команда удаления прибора LoRa."), ResultType::Ok, &Api::delLoRaDevice},
    };
    return table;
}

bool Api::checkCommand(const QString& name)
{
    m_commands.clear();
    const QVector<Command>& table = commandTable();
    for (int number = 0; number < table.size(); ++number) {
        m_commands.insert(QString::fromLatin1(table.at(number).name), number);
    }
    if (m_commands.contains(name)) {
        return true;
    }
    req().answerError(1);
    return false;
}

void Api::dispatchCommand(const QString& name)
{
    const Command& command = commandTable().at(m_commands.value(name));
    req().logInfo(QObject::tr(command.logText));
    if (!valuesWithinLimits(command.name) || !(this->*command.handler)() || !answerWithinLimit()) {
        // Every failure path sets its code; a handler that forgot would answer "OK." as an
        // error, so such a slip is reported as an unknown error instead.
        req().answerError(req().resultCode() == 0 ? 65534 : 65535);
        return;
    }
    if (command.resultType == ResultType::Ok) {
        req().answerOk();
    } else {
        req().answerTable();
    }
}

} // namespace client
