// Required and numeric parameters of every built command: a missing one and one that is no
// number are each refused with their own code and message, before anything is read or written.
#include "support/messages.h"
#include "support/pgfixture.h"

#include "cgi/client/api.h"

using namespace testing_support;

namespace {

struct Parameter {
    const char* command;
    Params base; // a request that passes every check before the parameter's
    const char* name;
    int absentCode; // 0: the parameter is optional
    int badCode;    // its value is "abc"
};

const Params kTask{{"DeviceId", "1"}, {"CommandCode", "7"}, {"Value", "1"}};
const Params kModel{{"Name", "m"}, {"ManufId", "$manuf"}, {"ResCode", "1"}, {"PovInterval", "1"}, {"Id", "$model"}};

const Parameter kParameters[] = {
    {"Upd_User", {{"UserId", "1"}}, "UserId", 149, 268},
    {"Del_User", {{"UserId", "1"}}, "UserId", 149, 268},
    {"Add_User", {{"Login", "u"}, {"Pas", "p"}, {"Status", "1"}, {"UserType", "3"}}, "Status", 9, 160},
    {"Add_User", {{"Login", "u"}, {"Pas", "p"}, {"Status", "1"}, {"UserType", "3"}}, "UserType", 276, 276},
    {"Add_User", {{"Login", "u"}, {"Pas", "p"}, {"Status", "1"}, {"UserType", "3"}}, "CompanyId", 0, 221},
    {"Upd_Company", {{"Id", "1"}, {"Name", "n"}}, "Id", 216, 177},
    {"Del_Company", {{"Id", "1"}}, "Id", 216, 177},
    {"Upd_Manuf", {{"Id", "1"}}, "Id", 209, 177},
    {"Del_Manuf", {{"Id", "1"}}, "Id", 209, 177},
    {"Add_Model", kModel, "ManufId", 209, 177},
    {"Add_Model", kModel, "ResCode", 0, 239},
    {"Add_Model", kModel, "PovInterval", 0, 108},
    {"Add_Model", kModel, "LoRaDataFormat", 0, 177},
    {"Upd_Model", kModel, "PovInterval", 209, 177},
    {"Del_Model", {{"Id", "1"}}, "Id", 209, 177},
    {"Add_Address", {{"Name", "n"}, {"TimeShift", "0"}}, "TimeShift", 126, 127},
    {"Upd_Address", {{"AddressId", "1"}, {"Name", "n"}, {"TimeShift", "0"}}, "AddressId", 76, 59},
    {"Del_Address", {{"AddressId", "1"}}, "AddressId", 76, 59},
    {"Get_AddressTable", {}, "AddressId", 0, 59},
    {"Get_AddressInfo", {{"ObjectId", "1"}}, "ObjectId", 76, 59},
    {"Get_ObjectTable", {{"AddressId", "1"}}, "AddressId", 76, 59},
    {"Get_ObjectTable", {{"AddressId", "1"}}, "ObjectId", 0, 146},
    {"Get_ObjectTable", {{"AddressId", "1"}}, "ObjType", 0, 220},
    {"Get_ObjectTable", {{"AddressId", "1"}}, "AbonentId", 0, 116},
    {"Add_Object", {{"AddressId", "1"}, {"ObjType", "1"}}, "AddressId", 76, 59},
    {"Add_Object", {{"AddressId", "$address"}, {"ObjType", "1"}}, "ObjType", 219, 220},
    {"Upd_Object", {{"ObjectId", "1"}, {"Obj", "o"}, {"ObjType", "1"}}, "ObjectId", 145, 146},
    {"Upd_Object", {{"ObjectId", "$object"}, {"Obj", "o"}, {"ObjType", "1"}}, "Obj", 230, 0},
    {"Upd_Object", {{"ObjectId", "$object"}, {"Obj", "o"}, {"ObjType", "1"}}, "ObjType", 219, 220},
    {"Del_Object", {{"ObjectId", "1"}}, "ObjectId", 145, 146},
    {"Get_AbonentsTable", {}, "AddressId", 0, 59},
    {"Get_AbonentsTable", {}, "Id", 0, 216},
    {"Upd_Abonent", {{"AbonentId", "1"}, {"DATA", "[{}]"}}, "AbonentId", 124, 116},
    {"Del_Abonent", {{"AbonentId", "1"}}, "AbonentId", 124, 116},
    {"Get_LicAccountTable", {{"AddressId", "1"}}, "AddressId", 76, 59},
    {"Get_LicAccountTable", {{"AddressId", "1"}}, "ResCode", 0, 239},
    {"Get_LicAccountTable", {{"AddressId", "1"}}, "Id", 0, 216},
    {"Upd_LicAccount", {{"Id", "1"}, {"DATA", "[{}]"}}, "Id", 110, 216},
    {"Del_LicAccount", {{"Id", "1"}}, "Id", 110, 216},
    {"Upd_Device", {{"DeviceId", "1"}, {"DATA", "[{}]"}}, "DeviceId", 110, 216},
    {"Del_Device", {{"Id", "1"}}, "Id", 110, 216},
    {"Add_Task", kTask, "DeviceId", 110, 216},
    {"Add_Task", kTask, "CommandCode", 141, 142},
    {"Add_Task", kTask, "Value", 301, 302},
    {"Get_TaskTable", {{"DeviceId", "1"}}, "DeviceId", 110, 216},
    {"Del_Task", {{"DeviceId", "1"}, {"TaskId", "1"}}, "TaskId", 304, 305},
    {"Clear_Task", {{"DeviceId", "1"}}, "DeviceId", 110, 216},
    {"Get_DeviceInfo", {{"DeviceId", "1"}}, "DeviceId", 90, 90},
    {"Get_DevValuesFromAddress", {{"AddressId", "1"}, {"Date", "2021-01-01"}}, "Date", 4, 256},
    {"Report", {{"dateStart", "2021-01-01"}, {"dateEnd", "2021-01-02"}}, "dateEnd", 291, 291},
};

class Parameters : public DbTest {};

TEST_F(Parameters, MissingAndMalformedParametersHaveTheirOwnCodes)
{
    initSchema();
    const qint64 modelId = model();
    const QMap<QString, QString> records{
        {"$model", QString::number(modelId)},
        {"$manuf", value(QStringLiteral(R"(SELECT "ManufId" FROM "ModelTable" WHERE "Id"=%1)").arg(modelId))},
        {"$address", QString::number(address("a", 0))},
        {"$object", QString::number(objectOf(0))}};
    const QString before = snapshot();
    for (const Parameter& p : kParameters) {
        Params without;
        for (const auto& pair : p.base) {
            if (pair.first != QLatin1String(p.name)) {
                without << qMakePair(pair.first, records.value(pair.second, pair.second));
            }
        }
        if (p.absentCode != 0) {
            EXPECT_CODE(callAsAdmin(p.command, without), p.absentCode) << p.command << " without " << p.name;
        }
        if (p.badCode != 0) {
            EXPECT_CODE(callAsAdmin(p.command, without + Params{{p.name, "abc"}}), p.badCode) << p.command << " " << p.name;
        }
    }
    EXPECT_EQ(snapshot(), before);
}

// A statement that fails answers the code of its table, with the database's reason in the
// log; the schema is broken here on purpose, one table at a time.
TEST_F(Parameters, FailedStatementsAnswerTheirTablesCode)
{
    initSchema();
    const QString boss = createUser("boss", 129, createCompany("C"));
    const QString device = QString::number(installedDevice(model(), objectOf(0), 1));
    const struct {
        const char* table;
        const char* column;
        QString token;
        const char* command;
        Params params;
        int code;
    } cases[] = {
        {"SessionTable", "Addr", adminToken(), "Get_UsersTable", {}, 138},
        {"CompanyTable", "Name", boss, "Get_UserData", {}, 260},
        {"AddressTable", "CoordLat", adminToken(), "Get_AddressTable", {}, 60},
        {"AbonentTable", "Phone", adminToken(), "Get_AbonentsTable", {}, 117},
        {"DeviceTable", "Ver", adminToken(), "Add_Task",
         {{"DeviceId", device}, {"CommandCode", "7"}, {"Value", "1"}}, 26},
    };
    const QString rename = QStringLiteral(R"(ALTER TABLE "%1" RENAME "%2" TO "%3")");
    for (const auto& c : cases) {
        db->exec(rename.arg(QLatin1String(c.table), QLatin1String(c.column), QStringLiteral("Gone")));
        const CgiResult r = call(c.token, c.command, c.params);
        EXPECT_CODE(r, c.code) << c.command;
        EXPECT_TRUE(r.log.contains(QStringLiteral("[err] Ошибка при выполнении запроса PostgreSql: "))) << qPrintable(r.log);
        db->exec(rename.arg(QLatin1String(c.table), QStringLiteral("Gone"), QLatin1String(c.column)));
    }
}

// Every command of the table, called with no parameters at all, logs its name and answers
// one of its own codes: none is left unbuilt (255), and none trips over a missing value.
TEST_F(Parameters, EveryCommandAnswersWithoutParameters)
{
    initSchema();
    for (const client::Api::Command& command : client::Api::commandTable()) {
        const CgiResult r = callAsAdmin(QString::fromLatin1(command.name));
        EXPECT_EQ(r.exitCode, 0) << command.name;
        EXPECT_NE(r.errorCode(), 255) << command.name;
        EXPECT_LT(r.errorCode(), 65534) << command.name;
        EXPECT_EQ(r.info().value(QStringLiteral("errorText")).toString(), testing_support::expectedMessage(r.errorCode()))
            << command.name;
        EXPECT_TRUE(r.log.contains(QObject::tr(command.logText))) << command.name;
    }
}

} // namespace
