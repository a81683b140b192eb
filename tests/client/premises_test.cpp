// Addresses, objects, abonents and personal accounts: records of no company, stored rows and
// listings (another company's are the scope matrix's). Stored texts carry a quote and a
// backslash: each command quotes what it writes.
#include "client/clientfixture.h"

#include "security/crypto.h"

using namespace testing_support;

namespace {

class Premises : public WaterHouse {
protected:
    void SetUp() override
    {
        WaterHouse::SetUp();
        waterAdmin = createUser("wadmin", 129, water);
        waterUser = createUser("wuser", 131, water);
    }
    QString waterAdmin;
    QString waterUser;
};

TEST_F(Premises, AddAddressStoresTrimmedNameConvertedShiftAndFias)
{
    ASSERT_CODE(callAsAdmin("Add_Address", {{"Name", "  пр. 'Мира' \\ 1  "}, {"TimeShift", "-180"},
                                            {"CompanyId", id(heat)}, {"Fias", " abc "}}), 0);
    QJsonObject row = callAsAdmin("Get_AddressTable", {{"CompanyId", id(heat)}, {"Name", "Мира"}}).row();
    row.remove("id");
    EXPECT_EQ(row, (QJsonObject{{"name", QStringLiteral("пр. 'Мира' \\ 1")}, {"postIndex", ""}, {"coordLat", ""},
                                {"coordLong", ""}, {"note", ""}, {"timeShift", -180},
                                {"data", QJsonObject{{"fias", "abc"}}}}));
    // A company's account adds to his company, whatever "CompanyId" says.
    ASSERT_CODE(call(waterAdmin, "Add_Address", {{"Name", "c"}, {"TimeShift", "0"}, {"CompanyId", id(heat)}}), 0);
    EXPECT_EQ(countFor(R"(SELECT count(*) FROM "AddressTable" WHERE "Name"='c' AND "CompanyId"=%1)", water), 1);
    EXPECT_CODE(call(waterUser, "Add_Address", {{"Name", "d"}, {"TimeShift", "1"}}), 143);
}

// A global caller who leaves the company out takes it away; an address of no company is no
// company's to change or delete, and one with objects nobody's to delete.
TEST_F(Premises, UpdateAddressRewritesFieldsAndDeleteKeepsUsedOnes)
{
    db->exec(QStringLiteral(R"(UPDATE "AddressTable" SET "PostIndex"='1', "JsonData"='{"fias":"x","keep":1}'
                               WHERE "Id"=%1)").arg(house));
    ASSERT_CODE(callAsAdmin("Upd_Address", {{"AddressId", id(house)}, {"Name", "a3"}, {"TimeShift", "0"},
                                            {"Fias", "f"}, {"CoordLat", "55.7"}}), 0);
    EXPECT_EQ(callAsAdmin("Get_AddressTable").data(),
              (QJsonArray{QJsonObject{{"id", house}, {"name", "a3"}, {"postIndex", ""}, {"coordLat", "55.7"},
                                      {"coordLong", ""}, {"note", ""}, {"timeShift", 0},
                                      {"data", QJsonObject{{"fias", "f"}, {"keep", 1}}}}}));
    ASSERT_CODE(
        callAsAdmin("Upd_Address", {{"AddressId", id(house)}, {"Name", "a3"}, {"TimeShift", "0"}}),
        0);
    EXPECT_EQ(callAsAdmin("Get_AddressTable").row()["data"],
              (QJsonObject{{"keep", 1}})); // without Fias, no code
    const Params rest{{"Name", "x"}, {"TimeShift", "1"}};
    const QString loose = id(address("l", 0));
    EXPECT_CODE(call(waterAdmin, "Upd_Address", Params{{"AddressId", loose}} + rest), 217);
    EXPECT_CODE(call(waterAdmin, "Del_Address", {{"AddressId", loose}}), 112);
    EXPECT_CODE(callAsAdmin("Del_Address", {{"AddressId", id(house)}}), 204);
    EXPECT_CODE(call(waterAdmin, "Del_Address", {{"AddressId", id(address("free", water))}}), 0);
    EXPECT_EQ(rows("AddressTable"), 3);
}

TEST_F(Premises, AddressInfoComposesAbonentAndCompany)
{
    const qint64 abonent = abonentAt(flat, QStringLiteral("Петров"));
    db->exec(QStringLiteral(R"(UPDATE "AbonentTable" SET "Phone"='+7 900' WHERE "Id"=%1)").arg(abonent));
    db->exec(QStringLiteral(R"(UPDATE "ObjectTable" SET "Sq"='54.3' WHERE "Id"=%1)").arg(flat));
    EXPECT_EQ(call(waterUser, "Get_AddressInfo", {{"ObjectId", id(flat)}}).data(),
              (QJsonArray{QJsonObject{{"id", flat}, {"addressId", house}, {"name", QStringLiteral("Ленина 1")},
                                      {"objType", 0}, {"obj", "1"}, {"abonentId", abonent},
                                      {"abonent", QStringLiteral("Петров\nТел.: +7 900")}, {"postIndex", ""},
                                      {"companyId", water}, {"company", "Water"}, {"coordLat", ""},
                                      {"coordLong", ""}, {"sq", "54.3"}, {"note", ""}}}));
    const Params byName{{"AbonentName", QStringLiteral("етр")}};
    EXPECT_EQ(call(waterUser, "Get_CompanyAddresses", byName).row()["id"].toInt(), house);
    // Premises of no company are not shown to a company-bound caller.
    EXPECT_CODE(call(waterUser, "Get_AddressInfo", {{"ObjectId", id(objectOf(0))}}), 112);
}

TEST_F(Premises, ObjectsOneAtATimeOrInSeries)
{
    const QString a = id(address("A", water));
    ASSERT_CODE(callAsAdmin("Add_Object", {{"AddressId", a}, {"ObjType", "0"}, {"StartNum", "0"}}), 0);
    ASSERT_CODE(callAsAdmin("Add_Object", {{"AddressId", a}, {"ObjType", "0"}, {"ObjCount", "3"}, {"StartNum", "5"},
                                           {"ObjPrefix", "к'в\\"}, {"Sq", "9"}}), 0);
    EXPECT_EQ(value(QStringLiteral(R"(SELECT string_agg("Obj" || ':' || "Sq", ',' ORDER BY "Id")
                                      FROM "ObjectTable" WHERE "AddressId"=%1)").arg(a)),
              QStringLiteral("obj0:,к'в\\5:,к'в\\6:,к'в\\7:"));
    const Params thousand{{"AddressId", a}, {"ObjType", "2"}, {"ObjCount", "1000"}, {"ObjPrefix", "kv"}};
    ASSERT_CODE(callAsAdmin("Add_Object", thousand), 0);
    EXPECT_EQ(db->count(R"(SELECT count(DISTINCT "Obj") FROM "ObjectTable" WHERE "Obj" ~ '^kv[0-9]+$')"), 1000);
    EXPECT_CODE(callAsAdmin("Add_Object", {{"AddressId", a}, {"ObjType", "3"}, {"ObjCount", "1001"}}), 229);
}

// A change that leaves out the abonent, or sends an empty area, keeps them; "Null" takes the
// abonent away. The listing joins the abonent's name.
TEST_F(Premises, ObjectChangesKeepReferences)
{
    const qint64 abonent = abonentAt(flat, QStringLiteral("Сидоров"));
    db->exec(QStringLiteral(R"(UPDATE "ObjectTable" SET "Sq"='10', "Note"='keep' WHERE "Id"=%1)").arg(flat));
    const Params change{{"ObjectId", id(flat)}, {"Obj", "1a"}, {"ObjType", "4"}};
    ASSERT_CODE(call(waterAdmin, "Upd_Object", change), 0);
    EXPECT_EQ(call(waterUser, "Get_ObjectTable", {{"AddressId", id(house)}, {"AbonentId", id(abonent)}}).data(),
              (QJsonArray{QJsonObject{{"id", flat}, {"objType", 4}, {"obj", "1a"}, {"abonentId", abonent},
                                      {"abonentName", QStringLiteral("Сидоров")}, {"sq", "10"},
                                      {"note", "keep"}}}));
    ASSERT_CODE(call(waterAdmin, "Upd_Object", change + Params{{"AbonentId", "Null"}, {"Sq", ""}}), 0);
    EXPECT_EQ(valueFor(R"(SELECT concat_ws('|', "AbonentId", "Sq", "Note") FROM "ObjectTable"
                          WHERE "Id"=%1)", flat), "10|keep");
    EXPECT_CODE(callAsAdmin("Del_Object", {{"ObjectId", id(heatFlat)}}), 0);
    EXPECT_EQ(rows("ObjectTable"), 1);
}

QJsonObject abonent(qint64 objectId, const QString& login, const QString& name = "Д'Арк \\")
{
    return {{"objectId", objectId}, {"name", name}, {"login", login}, {"pas", QString("p-" + login)},
            {"mail", QString(login + "@x.org")}, {"phone", ""}};
}

class Abonents : public WaterHouse {};

TEST_F(Abonents, DataIsCheckedBeforeAnythingIsWritten)
{
    const qint64 flat2 = object(house, "2");
    const QList<QPair<const char*, int>> cases{
        {"", 156}, {"abc", 157}, {"[]", 161}, {"[1]", 131}, {R"([{"objectId":"x"}])", 146},
        {R"([{"objectId":1.5}])", 146},
        {R"([{"objectId":"0x10","name":"","login":"l","pas":"p"}])", 234}};
    for (const auto& c : cases) {
        EXPECT_CODE(callAsAdmin("Add_Abonents", {{"DATA", c.first}}), c.second) << c.first;
    }
    // A login repeated inside the batch is refused like a stored one.
    const QString twice = json({abonent(flat, "same"), abonent(flat2, "same")});
    EXPECT_CODE(call(waterOperator, "Add_Abonents", {{"DATA", twice}}), 122);
    // No object is for global administrators and operators only.
    EXPECT_CODE(
        call(createUser("guser", 4, 0), "Add_Abonents", {{"DATA", json({abonent(0, "none")})}}),
        146);
    EXPECT_EQ(rows("AbonentTable"), 0);
}

// The password is kept unless "changePas" says otherwise.
TEST_F(Abonents, UpdateChecksTheObjectBeforeChangingAnything)
{
    const qint64 flat2 = object(house, "2");
    const CgiResult added = call(waterOperator, "Add_Abonents", {{"DATA", json({abonent(flat, "anna")})}});
    QJsonObject change = abonent(flat2, "anna", "Анна");
    change["pas"] = "ignored";
    const auto stored = [&] {
        return value(QStringLiteral(R"(SELECT concat_ws('|', a."Name", a."PasHash", o."Id") FROM "AbonentTable" a
            JOIN "ObjectTable" o ON o."AbonentId"=a."Id" AND o."Id"=%2 WHERE a."Id"=%1)").arg(added.id()).arg(flat2));
    };
    ASSERT_CODE(call(waterOperator, "Upd_Abonent", {{"AbonentId", added.id()}, {"DATA", json({change})}}), 0);
    EXPECT_EQ(stored(), QStringLiteral("Анна|%1|%2").arg(tarn::md5Hex("p-anna")).arg(flat2));
    change["changePas"] = true;
    ASSERT_CODE(call(waterOperator, "Upd_Abonent", {{"AbonentId", added.id()}, {"DATA", json({change})}}), 0);
    EXPECT_EQ(stored(), QStringLiteral("Анна|%1|%2").arg(tarn::md5Hex("ignored")).arg(flat2));
}

TEST_F(Abonents, ListAndDeleteWithinTheCompany)
{
    const qint64 flat2 = object(house, "2");
    ASSERT_CODE(call(waterOperator, "Add_Abonents", {{"DATA", json({abonent(flat, "both"), abonent(flat2, "mine")})}}), 0);
    const qint64 both =
        value(R"(SELECT "Id" FROM "AbonentTable" WHERE "Login"='both')").toLongLong();
    const CgiResult list = call(waterOperator, "Get_AbonentsTable", {{"AddressId", "0"}, {"Login", "b"}});
    EXPECT_EQ(list.data(), (QJsonArray{QJsonObject{{"id", both}, {"name", QStringLiteral("Д'Арк \\")}, {"phone", ""},
                                                   {"mail", "both@x.org"}, {"login", "both"}, {"addressId", house},
                                                   {"objectId", flat}, {"address", QStringLiteral("Ленина 1, 1")}}}));
    // An abonent who lives at premises of no company, or of another company, too is for a global
    // caller to delete.
    for (const qint64 elsewhere : {objectOf(0), heatFlat}) {
        db->exec(QStringLiteral(R"(UPDATE "ObjectTable" SET "AbonentId"=%1 WHERE "Id"=%2)")
                     .arg(both)
                     .arg(elsewhere));
        EXPECT_CODE(call(waterOperator, "Del_Abonent", {{"AbonentId", id(both)}}), 120)
            << elsewhere;
    }
    const QString mine = value(R"(SELECT "Id" FROM "AbonentTable" WHERE "Login"='mine')");
    ASSERT_CODE(call(waterOperator, "Del_Abonent", {{"AbonentId", mine}}), 0);
    EXPECT_EQ(countFor(R"(SELECT count(*) FROM "ObjectTable" WHERE "Id"=%1 AND "AbonentId" IS NULL)", flat2), 1);
    EXPECT_EQ(rows("AbonentTable"), 1);
}

TEST_F(Abonents, PersonalAccountsWithTheirAbonentAndDevices)
{
    const qint64 flat2 = object(house, "2");
    const QJsonObject account1{{"objectId", flat}, {"resCode", 2}, {"name", "ЛС'1 \\"}};
    const QJsonObject account2{{"objectId", id(flat2)}, {"resCode", 4}, {"name", "ЛС-2"}};
    ASSERT_CODE(call(waterOperator, "Add_LicAccount", {{"DATA", json({account1, account2})}}), 0);
    const qint64 person = abonentAt(flat, QStringLiteral("Орлов"));
    db->exec(QStringLiteral(R"(UPDATE "AbonentTable" SET "Phone"='123', "Mail"='o@x' WHERE "Id"=%1)").arg(person));
    installedDevice(modelId, flat, 1);
    installedDevice(modelId, flat, 2);
    const CgiResult list = call(waterOperator, "Get_LicAccountTable", {{"AddressId", id(house)}});
    ASSERT_EQ(list.data().size(), 2);
    QJsonObject first = list.row(0);
    first.remove("id");
    EXPECT_EQ(first, (QJsonObject{{"objectId", flat}, {"name", QStringLiteral("ЛС'1 \\")}, {"resCode", 2}, {"obj", "1"},
                                  {"abonentId", person}, {"abonent", QStringLiteral("Орлов\nТел.: 123\nE-mail: o@x")},
                                  {"device", QStringLiteral("Model (Z1)\nModel (Z2)")}}));

    const QString account = id(list.row(1)["id"].toVariant().toLongLong());
    ASSERT_CODE(call(waterOperator, "Upd_LicAccount", {{"Id", account}, {"DATA", json({account1})}}), 0);
    EXPECT_EQ(value(QStringLiteral(R"(SELECT concat_ws('|', "ObjectId", "ResCode", "Name") FROM "LicAccountTable"
                                      WHERE "Id"=%1)").arg(account)),
              QStringLiteral("%1|2|ЛС'1 \\").arg(flat));
    EXPECT_CODE(call(waterOperator, "Del_LicAccount", {{"Id", account}}), 0);
    EXPECT_EQ(rows("LicAccountTable"), 1);
}

TEST_F(Abonents, AccountListStopsAtTenThousandRows)
{
    db->exec(QStringLiteral(R"(INSERT INTO "LicAccountTable" ("ResCode", "ObjectId", "Name")
                               SELECT 1, %1, 'n' || g FROM generate_series(1, 10001) g)").arg(flat));
    const Params at{{"AddressId", id(house)}, {"CompanyId", id(water)}};
    EXPECT_EQ(callAsAdmin("Get_LicAccountTable", at).data().size(), 10000);
}

} // namespace
