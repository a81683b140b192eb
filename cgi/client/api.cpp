#include "cgi/client/api.h"

#include "app/httporvelaserver.h"

namespace client {

using orvela::ResultType;

const QVector<Api::Command>& Api::commandTable()
{
    // The number of a command is its position; the log text is written before it runs. A command
    // that reads is served by a reading server when one is set, so it must change nothing.
    static const QVector<Command> table = {
    {"Get_UserData", QT_TR_NOOP("Команда чтения данных пользователя."), ResultType::Table, Access::Reads, &Api::getUserData},
    {"Add_User", QT_TR_NOOP("Команда добавления нового пользователя."), ResultType::Ok, Access::Writes, &Api::addUser},
    {"Del_User", QT_TR_NOOP("Команда удаления пользователя."), ResultType::Ok, Access::Writes, &Api::delUser},
    {"Upd_User", QT_TR_NOOP("Команда редактирования пользователя."), ResultType::Ok, Access::Writes, &Api::updUser},
    {"Get_ModelTable", QT_TR_NOOP("Команда получения таблицы моделей устройств."), ResultType::Table, Access::Reads, &Api::getModelTable},
    {"Add_Model", QT_TR_NOOP("Команда добавления новой модели устройства."), ResultType::Ok, Access::Writes, &Api::addModel},
    {"Upd_Model", QT_TR_NOOP("Команда редактирования модели устройства."), ResultType::Ok, Access::Writes, &Api::updModel},
    {"Del_Model", QT_TR_NOOP("Команда удаления модели устройства."), ResultType::Ok, Access::Writes, &Api::delModel},
    {"Get_ManufTable", QT_TR_NOOP("Команда получения таблицы производителей приборов."), ResultType::Table, Access::Reads, &Api::getManufTable},
    {"Add_Manuf", QT_TR_NOOP("Команда добавления нового производителя приборов."), ResultType::Ok, Access::Writes, &Api::addManuf},
    {"Upd_Manuf", QT_TR_NOOP("Команда редактирования производителя приборов."), ResultType::Ok, Access::Writes, &Api::updManuf},
    {"Del_Manuf", QT_TR_NOOP("Команда удаления производителя приборов."), ResultType::Ok, Access::Writes, &Api::delManuf},
    {"Get_DeviceList", QT_TR_NOOP("Команда получения списка устройств."), ResultType::Table, Access::Reads, &Api::getDeviceList},
    {"Get_ErrorFlags", QT_TR_NOOP("Команда получения флагов ошибок."), ResultType::Table, Access::Reads, &Api::getErrorFlags},
    {"Get_DeviceInfo", QT_TR_NOOP("Команда получения информации об устройстве."), ResultType::Table, Access::Reads, &Api::getDeviceInfo},
    {"Get_DevValues", QT_TR_NOOP("Команда получения показаний прибора учета."), ResultType::Table, Access::Reads, &Api::getDevValues},
    {"Get_AddressTable", QT_TR_NOOP("Команда получения таблицы адресов."), ResultType::Table, Access::Reads, &Api::getAddressTable},
    {"Get_CompanyList", QT_TR_NOOP("Команда получения списка организаций."), ResultType::Table, Access::Reads, &Api::getCompanyList},
    {"Get_AbonentsTable", QT_TR_NOOP("Команда получения таблицы абонентов."), ResultType::Table, Access::Reads, &Api::getAbonentsTable},
    {"Add_Address", QT_TR_NOOP("Команда добавления нового адреса."), ResultType::Ok, Access::Writes, &Api::addAddress},
    {"Add_Abonents", QT_TR_NOOP("Команда добавления нового абонентов."), ResultType::Ok, Access::Writes, &Api::addAbonents},
    {"Get_DeviceTable", QT_TR_NOOP("Команда получения таблицы устройств."), ResultType::Table, Access::Reads, &Api::getDeviceTable},
    {"Get_PeriodValues", QT_TR_NOOP("Команда получения показаний за период."), ResultType::Table, Access::Reads, &Api::getPeriodValues},
    {"Del_Address", QT_TR_NOOP("Команда удаления адреса."), ResultType::Ok, Access::Writes, &Api::delAddress},
    {"Upd_Address", QT_TR_NOOP("Команда редактирования адреса.."), ResultType::Ok, Access::Writes, &Api::updAddress},
    {"Get_AddressInfo", QT_TR_NOOP("Команда получения данных об адресе."), ResultType::Table, Access::Reads, &Api::getAddressInfo},
    {"Get_CompanyAddresses", QT_TR_NOOP("Команда получения адресов домов компании."), ResultType::Table, Access::Reads, &Api::getCompanyAddresses},
    {"Get_DevValuesFromAddress", QT_TR_NOOP("Команда получения показаний по адресу дома.."), ResultType::Table, Access::Reads, &Api::getDevValuesFromAddress},
    {"Get_DeviceData", QT_TR_NOOP("Команда получения данных об устройстве."), ResultType::Table, Access::Reads, &Api::getDeviceData},
    {"Get_Report", QT_TR_NOOP("Команда получения данных для отчета."), ResultType::Table, Access::Reads, &Api::getReport},
    {"Get_Devices", QT_TR_NOOP("Команда получения списка устройств."), ResultType::Table, Access::Reads, &Api::getDevices},
    {"Get_ObjectTable", QT_TR_NOOP("Команда получения списка объектов."), ResultType::Table, Access::Reads, &Api::getObjectTable},
    {"Add_Object", QT_TR_NOOP("Команда добавления объекта."), ResultType::Ok, Access::Writes, &Api::addObject},
    {"Upd_Object", QT_TR_NOOP("Команда редактирования объекта."), ResultType::Ok, Access::Writes, &Api::updObject},
    {"Del_Object", QT_TR_NOOP("Команда удаления объекта.."), ResultType::Ok, Access::Writes, &Api::delObject},
    {"Add_Devices", QT_TR_NOOP("Команда добавления приборов."), ResultType::Ok, Access::Writes, &Api::addDevices},
    {"Upd_Device", QT_TR_NOOP("Команда редактирования прибора."), ResultType::Ok, Access::Writes, &Api::updDevice},
    {"Del_Device", QT_TR_NOOP("Команда удаления прибора."), ResultType::Ok, Access::Writes, &Api::delDevice},
    {"Upd_Abonent", QT_TR_NOOP("Команда редактирования абонента."), ResultType::Ok, Access::Writes, &Api::updAbonent},
    {"Del_Abonent", QT_TR_NOOP("Команда удаления абонента."), ResultType::Ok, Access::Writes, &Api::delAbonent},
    {"Get_CompanyTable", QT_TR_NOOP("Команда получения списка организаций."), ResultType::Table, Access::Reads, &Api::getCompanyTable},
    {"Add_Company", QT_TR_NOOP("Команда добавления организации."), ResultType::Ok, Access::Writes, &Api::addCompany},
    {"Upd_Company", QT_TR_NOOP("Команда редактирования организации."), ResultType::Ok, Access::Writes, &Api::updCompany},
    {"Del_Company", QT_TR_NOOP("Команда удаления организации."), ResultType::Ok, Access::Writes, &Api::delCompany},
    {"Get_UsersTable", QT_TR_NOOP("Команда получения списка пользователей."), ResultType::Table, Access::Reads, &Api::getUsersTable},
    {"Add_Task", QT_TR_NOOP("Команда добавления задания на исполнение для прибора учета."), ResultType::Ok, Access::Writes, &Api::addTask},
    {"Get_TaskTable", QT_TR_NOOP("Команда получения очереди заданий для прибора учета."), ResultType::Table, Access::Reads, &Api::getTaskTable},
    {"Del_Task", QT_TR_NOOP("Команда удаления задания для прибора учета."), ResultType::Ok, Access::Writes, &Api::delTask},
    {"Clear_Task", QT_TR_NOOP("Команда удаления всех заданий для прибора учета."), ResultType::Ok, Access::Writes, &Api::clearTask},
    {"Get_LicAccountTable", QT_TR_NOOP("Команда получения таблицы Лицевых счетов."), ResultType::Table, Access::Reads, &Api::getLicAccountTable},
    {"Add_LicAccount", QT_TR_NOOP("Команда добавления Лицевых счетов."), ResultType::Ok, Access::Writes, &Api::addLicAccount},
    {"Upd_LicAccount", QT_TR_NOOP("Команда изменения Лицевых счетов."), ResultType::Ok, Access::Writes, &Api::updLicAccount},
    {"Del_LicAccount", QT_TR_NOOP("Команда удаления Лицевых счетов."), ResultType::Ok, Access::Writes, &Api::delLicAccount},
    {"Get_TechnicalData", QT_TR_NOOP("Команда получения технологических данных."), ResultType::Table, Access::Reads, &Api::getTechnicalData},
    {"Clear_ErrorFlags", QT_TR_NOOP("Команда очистки очереди оповещения."), ResultType::Ok, Access::Writes, &Api::clearErrorFlags},
    {"Get_TmpDevTable", QT_TR_NOOP("Команда получения временной таблицы устройств."), ResultType::Table, Access::Reads, &Api::getTmpDevTable},
    {"Get_MirelTable", QT_TR_NOOP("Команда получения таблицы СИ Мирел."), ResultType::Table, Access::Reads, &Api::getMirelTable},
    {"Add_Mirel", QT_TR_NOOP("Команда добавления счетчика импульсов."), ResultType::Ok, Access::Writes, &Api::addMirel},
    {"Upd_Mirel", QT_TR_NOOP("Команда изменения счетчика импульсов."), ResultType::Ok, Access::Writes, &Api::updMirel},
    {"Del_Mirel", QT_TR_NOOP("Команда удаления счетчика импульсов."), ResultType::Ok, Access::Writes, &Api::delMirel},
    {"Report", QT_TR_NOOP("Команда получения данных для отчета."), ResultType::Table, Access::Reads, &Api::report},
    {"Search", QT_TR_NOOP("Команда поиска."), ResultType::Table, Access::Reads, &Api::search},
    {"Get_LoRaTable", QT_TR_NOOP("Команда получения списка приборов LoRa."), ResultType::Table, Access::Reads, &Api::getLoRaTable},
    {"Get_LoRaDevice", QT_TR_NOOP("Команда получения данных прибора LoRa."), ResultType::Table, Access::Reads, &Api::getLoRaDevice},
    {"Add_LoRaDevice", QT_TR_NOOP("Команда добавления прибора LoRa."), ResultType::Ok, Access::Writes, &Api::addLoRaDevice},
    {"Upd_LoRaDevice", QT_TR_NOOP("Команда редактирования прибора LoRa."), ResultType::Ok, Access::Writes, &Api::updLoRaDevice},
    {"Del_LoRaDevice", QT_TR_NOOP("Команда удаления прибора LoRa."), ResultType::Ok, Access::Writes, &Api::delLoRaDevice},
    };
    return table;
}

bool Api::commandChangesNothing(const QString& name) const
{
    return commandTable().at(m_commands.value(name)).access == Access::Reads;
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
    const bool handled = valuesWithinLimits(command.name) && (this->*command.handler)();
    if (command.access == Access::Writes) {
        req().awaitReadingServers(); // also after a failure: a batch may have committed a part
    }
    if (!handled || !answerWithinLimit()) {
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
