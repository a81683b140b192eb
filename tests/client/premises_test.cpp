// Addresses, objects, abonents and personal accounts. Another company's records are the scope
// matrix's; these tests hold the records of no company, the stored rows and the listings.
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
    QString addressRow(qint64 id)
    {
        return valueFor(R"(SELECT concat_ws('|', "Name", "PostIndex", coalesce("CompanyId"::text, 'null'), "CoordLat",
            "CoordLong", "TimeShift", "Note", "JsonData"::text) FROM "AddressTable" WHERE "Id"=%1)", id);
    }
    QString objectRow(qint64 id)
    {
        return valueFor(R"(SELECT concat_ws('|', "Obj", "ObjType", "AbonentId", "Sq", "Note") FROM "ObjectTable"
                           WHERE "Id"=%1)", id);
    }
    qint64 abonentNamed(const char* name)
    {
        return insertId(QStringLiteral(R"(INSERT INTO "AbonentTable" ("Name", "PasHash", "Phone", "Mail")
                                          VALUES ('%1', 'x', '', '') RETURNING "Id")").arg(name));
    }

    QString waterAdmin;
    QString waterUser;
};

TEST_F(Premises, AddAddressStoresTrimmedNameConvertedShiftAndFias)
{
    const CgiResult added = callAsAdmin("Add_Address", {{"Name", "  ул. Ленина, 1  "}, {"TimeShift", "-180"},
                                                        {"CompanyId", id(heat)}, {"Fias", " abc "},
                                                        {"PostIndex", " 101000"}});
    ASSERT_CODE(added, 0);
    EXPECT_EQ(addressRow(added.idNumber()), QStringLiteral("ул. Ленина, 1| 101000|%1|||-180||{\"fias\":\"abc\"}").arg(heat));
    const CgiResult hex = callAsAdmin("Add_Address", {{"Name", "b"}, {"TimeShift", "0x3C"}});
    ASSERT_CODE(hex, 0);
    EXPECT_EQ(addressRow(hex.idNumber()), "b||null|||60||{}");
    ASSERT_CODE(call(waterAdmin, "Add_Address", {{"Name", "c"}, {"TimeShift", "0"}, {"CompanyId", id(heat)}}), 0);
    EXPECT_EQ(countFor(R"(SELECT count(*) FROM "AddressTable" WHERE "Name"='c' AND "CompanyId"=%1)", water), 1);
    EXPECT_CODE(callAsAdmin("Add_Address", {{"Name", "d"}, {"TimeShift", "1"}, {"CompanyId", "NULL"}}), 221);
    EXPECT_CODE(call(waterUser, "Add_Address", {{"Name", "d"}, {"TimeShift", "1"}}), 143);
}

TEST_F(Premises, UpdateAddressRewritesFieldsAndKeepsOtherJsonKeys)
{
    db->exec(QStringLiteral(R"(UPDATE "AddressTable" SET "PostIndex"='1', "JsonData"='{"fias":"x","keep":1}'
                               WHERE "Id"=%1)").arg(house));
    ASSERT_CODE(call(waterAdmin, "Upd_Address", {{"AddressId", id(house)}, {"Name", "a2"}, {"TimeShift", "30"}}), 0);
    EXPECT_EQ(addressRow(house), QStringLiteral("a2||%1|||30||{\"keep\":1}").arg(water));
    ASSERT_CODE(callAsAdmin("Upd_Address", {{"AddressId", id(house)}, {"Name", "a3"}, {"TimeShift", "0"},
                                            {"Fias", "f"}, {"CoordLat", "55.7"}}), 0);
    // A global caller who leaves the company out takes it away.
    EXPECT_EQ(addressRow(house), "a3||null|55.7||0||{\"fias\":\"f\",\"keep\":1}");
    // An address of no company is not a company's.
    const Params rest{{"Name", "x"}, {"TimeShift", "1"}};
    EXPECT_CODE(call(waterAdmin, "Upd_Address", Params{{"AddressId", id(address("l", 0))}} + rest), 217);
    EXPECT_CODE(callAsAdmin("Upd_Address", Params{{"AddressId", "999"}} + rest), 112);
}

TEST_F(Premises, DeleteAddressRefusesUsedOrForeignAddresses)
{
    const qint64 free = address("free", water);
    EXPECT_CODE(call(waterAdmin, "Del_Address", {{"AddressId", id(house)}}), 204);
    EXPECT_CODE(call(waterAdmin, "Del_Address", {{"AddressId", id(address("l", 0))}}), 112);
    EXPECT_CODE(call(waterAdmin, "Del_Address", {{"AddressId", "999"}}), 132);
    EXPECT_CODE(call(waterAdmin, "Del_Address", {{"AddressId", id(free)}}), 0);
    EXPECT_CODE(callAsAdmin("Del_Address", {{"AddressId", "999"}}), 0);
    EXPECT_EQ(rows("AddressTable"), 3);
}

TEST_F(Premises, AddressListsFollowTheCompanyScope)
{
    const qint64 a = address("Alpha", water);
    address("Gamma", 0);
    db->exec(QStringLiteral(R"(UPDATE "AddressTable" SET "JsonData"='{"fias":"1"}', "TimeShift"=180 WHERE "Id"=%1)").arg(a));
    const CgiResult own = call(waterUser, "Get_AddressTable", {{"CompanyId", "0"}});
    ASSERT_CODE(own, 0);
    ASSERT_EQ(own.data().size(), 2);
    EXPECT_EQ(own.row(0), (QJsonObject{{"id", a}, {"name", "Alpha"}, {"postIndex", ""}, {"coordLat", ""},
                                       {"coordLong", ""}, {"note", ""}, {"timeShift", 180},
                                       {"data", QJsonObject{{"fias", "1"}}}}));
    EXPECT_EQ(callAsAdmin("Get_AddressTable").data().size(), 1);
    EXPECT_EQ(callAsAdmin("Get_AddressTable", {{"CompanyId", "NULL"}}).row()["name"].toString(), "Gamma");
    const Params filters{{"CompanyId", id(water)}, {"NameFull", QStringLiteral("Ленина 1")}, {"Name", "Al"}};
    EXPECT_EQ(callAsAdmin("Get_AddressTable", filters).row()["id"].toInt(), house);

    const qint64 ivanov = abonentNamed("Иванов");
    linkAbonent(ivanov, object(a, "1"));
    linkAbonent(ivanov, object(a, "2"));
    EXPECT_EQ(call(waterUser, "Get_CompanyAddresses", {{"AbonentName", QStringLiteral("ван")}}).data().size(), 2);
    EXPECT_EQ(call(waterUser, "Get_CompanyAddresses").data().size(), 2);
}

TEST_F(Premises, AddressInfoComposesAbonentAndCompany)
{
    const qint64 abonent = insertId(R"(INSERT INTO "AbonentTable" ("Name", "PasHash", "Phone", "Mail")
                                       VALUES ('Петров', 'x', '+7 900', '') RETURNING "Id")");
    linkAbonent(abonent, flat);
    db->exec(QStringLiteral(R"(UPDATE "ObjectTable" SET "Sq"='54.3' WHERE "Id"=%1)").arg(flat));
    const CgiResult info = call(waterUser, "Get_AddressInfo", {{"ObjectId", id(flat)}});
    ASSERT_CODE(info, 0);
    EXPECT_EQ(info.row(), (QJsonObject{{"id", flat}, {"addressId", house}, {"name", QStringLiteral("Ленина 1")},
                                       {"objType", 0}, {"obj", "1"}, {"abonentId", abonent},
                                       {"abonent", QStringLiteral("Петров\nТел.: +7 900")},
                                       {"postIndex", ""}, {"companyId", water}, {"company", "Water"},
                                       {"coordLat", ""}, {"coordLong", ""}, {"sq", "54.3"}, {"note", ""}}));
    const qint64 bare = objectOf(0);
    const CgiResult loose = callAsAdmin("Get_AddressInfo", {{"ObjectId", id(bare)}});
    EXPECT_EQ(loose.row()["abonent"].toString() + loose.row()["company"].toString(), "");
    EXPECT_EQ(loose.row()["companyId"].toInt(), 0);
    // Premises of no company are not shown to a company-bound caller.
    EXPECT_CODE(call(waterUser, "Get_AddressInfo", {{"ObjectId", id(bare)}}), 112);
    EXPECT_CODE(callAsAdmin("Get_AddressInfo", {{"ObjectId", "999"}}), 112);
}

TEST_F(Premises, ObjectsOneAtATimeOrInSeries)
{
    const QString a = id(address("A", water));
    // The abonent linked must exist and already occupy premises of the caller's company.
    db->exec(R"(INSERT INTO "AbonentTable" ("Id", "Name", "PasHash") VALUES (16, 'Ab', 'x'))");
    linkAbonent(16, flat);
    const CgiResult one = call(waterAdmin, "Add_Object", {{"AddressId", a}, {"ObjType", "1"}, {"AbonentId", "0x10"},
                                                          {"Sq", "40"}, {"Note", "n"}});
    ASSERT_CODE(one, 0);
    EXPECT_EQ(objectRow(one.idNumber()), "obj1|1|16|40|n");
    ASSERT_CODE(callAsAdmin("Add_Object", {{"AddressId", a}, {"ObjType", "0"}, {"StartNum", "0"}}), 0);
    ASSERT_CODE(callAsAdmin("Add_Object", {{"AddressId", a}, {"ObjType", "0"}, {"ObjCount", "3"}, {"StartNum", "5"},
                                           {"ObjPrefix", "кв"}, {"AbonentId", "7"}, {"Sq", "9"}}), 0);
    EXPECT_EQ(value(QStringLiteral(R"(SELECT string_agg(concat_ws(':', "Obj", coalesce("AbonentId"::text, 'null'), "Sq"), ',' ORDER BY "Id") FROM "ObjectTable" WHERE "AddressId"=%1)").arg(a)),
              QStringLiteral("obj1:16:40,obj0:null:,кв5:null:,кв6:null:,кв7:null:"));

    const CgiResult thousand = callAsAdmin("Add_Object", {{"AddressId", a}, {"ObjType", "2"}, {"ObjCount", "1000"}, {"ObjPrefix", "kv"}});
    ASSERT_CODE(thousand, 0);
    EXPECT_EQ(db->count(R"(SELECT count(*) FROM "ObjectTable" WHERE "ObjType"=2 AND "Obj" ~ '^kv([1-9][0-9]{0,2}|1000)$')"), 1000);
    EXPECT_CODE(callAsAdmin("Add_Object", {{"AddressId", a}, {"ObjType", "3"}, {"ObjCount", "1001"}}), 229);
    EXPECT_CODE(callAsAdmin("Add_Object", {{"AddressId", a}, {"ObjType", "3"}, {"ObjCount", "0"}}), 177);
    EXPECT_EQ(db->count(R"(SELECT count(*) FROM "ObjectTable" WHERE "ObjType"=3)"), 0);
}

TEST_F(Premises, ObjectChangesKeepReferences)
{
    db->exec(QStringLiteral(R"(UPDATE "ObjectTable" SET "AbonentId"=5, "Sq"='10', "Note"='keep' WHERE "Id"=%1)").arg(flat));
    const Params change{{"ObjectId", id(flat)}, {"Obj", "1a"}, {"ObjType", "4"}};
    ASSERT_CODE(call(waterAdmin, "Upd_Object", change), 0);
    EXPECT_EQ(objectRow(flat), "1a|4|5|10|keep");
    ASSERT_CODE(call(waterAdmin, "Upd_Object", change + Params{{"AbonentId", "Null"}, {"Sq", ""}}), 0);
    EXPECT_EQ(objectRow(flat), "1a|4|10|keep");
    EXPECT_CODE(call(waterAdmin, "Del_Object", {{"ObjectId", id(objectOf(0))}}), 112);
    EXPECT_CODE(call(waterAdmin, "Del_Object", {{"ObjectId", "12345"}}), 132);
    db->exec(QStringLiteral(R"(INSERT INTO "InstallTable" ("DeviceId", "ObjectId", "DateInstall")
                               VALUES (1, %1, '2020-01-01'))").arg(flat));
    EXPECT_CODE(callAsAdmin("Del_Object", {{"ObjectId", id(flat)}}), 204);
    db->exec(R"(DELETE FROM "InstallTable")");
    EXPECT_CODE(callAsAdmin("Del_Object", {{"ObjectId", id(flat)}}), 0);
    EXPECT_EQ(countFor(R"(SELECT count(*) FROM "ObjectTable" WHERE "Id"=%1)", flat), 0);
}

TEST_F(Premises, ObjectListWithAbonentNamesAndFilters)
{
    const qint64 a = address("A", water);
    const qint64 flat10 = object(a, "10");
    object(a, "11");
    const qint64 abonent = abonentNamed("Сидоров");
    linkAbonent(abonent, flat10);
    db->exec(QStringLiteral(R"(UPDATE "ObjectTable" SET "ObjType"=1 WHERE "Id"=%1)").arg(flat10));
    const Params where{{"AddressId", id(a)}};
    const CgiResult all = call(waterUser, "Get_ObjectTable", where);
    ASSERT_CODE(all, 0);
    ASSERT_EQ(all.data().size(), 2);
    EXPECT_EQ(all.row(1), (QJsonObject{{"id", flat10}, {"objType", 1}, {"obj", "10"}, {"abonentId", abonent},
                                       {"abonentName", QStringLiteral("Сидоров")}, {"sq", ""}, {"note", ""}}));
    EXPECT_EQ(all.row(0)["abonentName"].toString(), "");
    const struct {
        Params filter;
        int found;
    } filters[] = {{{{"ObjFull", "1"}, {"Obj", "1"}}, 0}, {{{"Obj", "1"}}, 2}, {{{"ObjType", "1"}}, 1},
                   {{{"AbonentId", id(abonent)}}, 1}};
    for (const auto& f : filters) {
        EXPECT_EQ(call(waterUser, "Get_ObjectTable", where + f.filter).data().size(), f.found) << qPrintable(f.filter.at(0).first);
    }
    EXPECT_EQ(callAsAdmin("Get_ObjectTable", where).data().size(), 0);
    // An object whose abonent is gone makes the listing fail as a whole.
    db->exec(R"(DELETE FROM "AbonentTable")");
    const CgiResult broken = call(waterUser, "Get_ObjectTable", where);
    EXPECT_CODE(broken, 132);
    EXPECT_TRUE(broken.data().isEmpty());
}

QJsonObject abonent(qint64 objectId, const QString& login, const QString& name = "Абонент")
{
    return {{"objectId", objectId}, {"name", name}, {"login", login}, {"pas", QString("p-" + login)},
            {"mail", QString(login + "@x.org")}, {"phone", ""}};
}

class Abonents : public WaterHouse {
protected:
    void SetUp() override
    {
        WaterHouse::SetUp();
        flat2 = object(house, "2");
    }

    qint64 flat2 = 0;
};

TEST_F(Abonents, DataIsCheckedBeforeAnythingIsWritten)
{
    const struct {
        const char* data;
        int code;
    } cases[] = {{"", 156}, {"abc", 157}, {"{}", 157}, {"[]", 161}, {"[1]", 131}, {"[[{}]]", 131},
                 {R"([{"name":"n","login":"l","pas":"p"}])", 146}, {R"([{"objectId":"x"}])", 146},
                 {R"([{"objectId":"0x10","name":"","login":"l","pas":"p"}])", 234}};
    for (const auto& c : cases) {
        EXPECT_CODE(callAsAdmin("Add_Abonents", {{"DATA", c.data}}), c.code) << c.data;
    }
    // A login repeated inside the batch is refused like a stored one.
    EXPECT_CODE(call(waterOperator, "Add_Abonents", {{"DATA", json({abonent(flat, "same"), abonent(flat2, "same")})}}), 122);
    QJsonObject noPassword = abonent(flat, "np");
    noPassword.remove("pas");
    EXPECT_CODE(call(waterOperator, "Add_Abonents", {{"DATA", json({abonent(flat2, "ok"), noPassword})}}), 218);
    EXPECT_EQ(rows("AbonentTable"), 0);
    EXPECT_EQ(db->count(R"(SELECT count(*) FROM "ObjectTable" WHERE "AbonentId" IS NOT NULL)"), 0);
}

TEST_F(Abonents, AddLinksObjectsAndLeavesUnattachedOnesToAdministrators)
{
    const CgiResult two = call(waterOperator, "Add_Abonents", {{"DATA", json({abonent(flat, "a1"), abonent(flat2, "a2")})}});
    ASSERT_CODE(two, 0);
    EXPECT_EQ(two.id(), "");
    EXPECT_EQ(valueFor(R"(SELECT concat_ws('|', a."Name", a."PasHash", a."Mail", coalesce(a."Phone", 'null'), a."Status")
                          FROM "AbonentTable" a JOIN "ObjectTable" o ON o."AbonentId"=a."Id" WHERE o."Id"=%1)", flat2),
              QStringLiteral("Абонент|") + tarn::md5Hex("p-a2") + "|a2@x.org|null|1");
    EXPECT_CODE(callAsAdmin("Add_Abonents", {{"DATA", json({abonent(0, "a1")})}}), 122);
    EXPECT_CODE(call(createUser("u4", 4), "Add_Abonents", {{"DATA", json({abonent(0, "a3")})}}), 146);
    const CgiResult loose = call(createUser("op3", 3), "Add_Abonents", {{"DATA", json({abonent(0, "a3")})}});
    ASSERT_CODE(loose, 0);
    EXPECT_GT(loose.idNumber(), 0);
    // DATA may also arrive as a JSON array in a JSON body.
    const CgiResult viaJson = cgi->postJson({{"CMD", "Add_Abonents"}, {"Auth", adminToken()},
                                             {"DATA", QJsonArray{abonent(0, "a4")}}});
    EXPECT_CODE(viaJson, 0);
    EXPECT_CODE(call(createUser("u131", 131, water), "Add_Abonents", {{"DATA", json({abonent(flat, "a5")})}}), 143);
}

TEST_F(Abonents, UpdateChecksTheObjectBeforeChangingAnything)
{
    const CgiResult added = call(waterOperator, "Add_Abonents", {{"DATA", json({abonent(flat, "anna")})}});
    ASSERT_CODE(added, 0);
    const QString id = added.id();
    QJsonObject change = abonent(flat2, "anna", "Анна");
    change["pas"] = "ignored";
    const auto stored = [&] {
        return value(QStringLiteral(R"(SELECT concat_ws('|', a."Name", a."PasHash", o."Id") FROM "AbonentTable" a
            JOIN "ObjectTable" o ON o."AbonentId"=a."Id" AND o."Id"=%2 WHERE a."Id"=%1)").arg(id).arg(flat2));
    };
    ASSERT_CODE(call(waterOperator, "Upd_Abonent", {{"AbonentId", id}, {"DATA", json({change})}}), 0);
    EXPECT_EQ(stored(), QStringLiteral("Анна|%1|%2").arg(tarn::md5Hex("p-anna")).arg(flat2));
    change["changePas"] = true;
    ASSERT_CODE(call(waterOperator, "Upd_Abonent", {{"AbonentId", id}, {"DATA", json({change})}}), 0);
    EXPECT_EQ(stored(), QStringLiteral("Анна|%1|%2").arg(tarn::md5Hex("ignored")).arg(flat2));
    callAsAdmin("Add_Abonents", {{"DATA", json({abonent(0, "taken")})}});
    EXPECT_CODE(call(waterOperator, "Upd_Abonent", {{"AbonentId", id}, {"DATA", json({abonent(flat, "taken")})}}), 122);
    change["pas"] = "";
    EXPECT_CODE(call(waterOperator, "Upd_Abonent", {{"AbonentId", id}, {"DATA", json({change})}}), 218);
}

TEST_F(Abonents, ListAndDeleteWithinTheCompany)
{
    ASSERT_CODE(call(waterOperator, "Add_Abonents", {{"DATA", json({abonent(flat, "both"), abonent(flat2, "mine")})}}), 0);
    const qint64 both = value(R"(SELECT "Id" FROM "AbonentTable" WHERE "Login"='both')").toLongLong();
    linkAbonent(both, heatFlat);

    const CgiResult list = call(waterOperator, "Get_AbonentsTable", {{"AddressId", "0"}});
    ASSERT_CODE(list, 0);
    ASSERT_EQ(list.data().size(), 2);
    EXPECT_EQ(list.row(0), (QJsonObject{{"id", both}, {"name", QStringLiteral("Абонент")}, {"phone", ""},
                                        {"mail", "both@x.org"}, {"login", "both"}, {"addressId", house},
                                        {"objectId", flat}, {"address", QStringLiteral("Ленина 1, 1")}}));
    EXPECT_EQ(call(waterOperator, "Get_AbonentsTable", {{"LoginFull", "mine"}, {"Login", "b"}}).data().size(), 1);
    EXPECT_EQ(callAsAdmin("Get_AbonentsTable", {{"CompanyId", id(heat)}}).data().size(), 1);

    // An abonent who lives at another company's premises too is for a global caller to delete.
    EXPECT_CODE(call(waterOperator, "Del_Abonent", {{"AbonentId", id(both)}}), 120);
    const QString mine = value(R"(SELECT "Id" FROM "AbonentTable" WHERE "Login"='mine')");
    ASSERT_CODE(call(waterOperator, "Del_Abonent", {{"AbonentId", mine}}), 0);
    EXPECT_EQ(db->count(QStringLiteral(R"(SELECT count(*) FROM "ObjectTable" WHERE "AbonentId"=%1)").arg(mine)), 0);
    ASSERT_CODE(callAsAdmin("Del_Abonent", {{"AbonentId", id(both)}}), 0);
    EXPECT_EQ(rows("AbonentTable"), 0);
}

TEST_F(Abonents, PersonalAccountsWithTheirAbonentAndDevices)
{
    const QJsonObject account1{{"objectId", flat}, {"resCode", 2}, {"name", "ЛС-1"}};
    const QJsonObject account2{{"objectId", id(flat2)}, {"resCode", 4}, {"name", "ЛС-2"}};
    ASSERT_CODE(call(waterOperator, "Add_LicAccount", {{"DATA", json({account1, account2})}}), 0);
    EXPECT_CODE(call(waterOperator, "Add_LicAccount", {{"DATA", json({QJsonObject{{"objectId", flat}, {"name", "x"}}})}}), 239);
    EXPECT_CODE(call(waterOperator, "Add_LicAccount", {{"DATA", json({QJsonObject{{"objectId", flat}, {"resCode", 1}}})}}), 234);
    EXPECT_EQ(rows("LicAccountTable"), 2);

    const qint64 person = insertId(R"(INSERT INTO "AbonentTable" ("Name", "PasHash", "Phone", "Mail") VALUES ('Орлов', 'x', '123', 'o@x') RETURNING "Id")");
    linkAbonent(person, flat);
    installedDevice(modelId, flat, 1);
    installedDevice(modelId, flat, 2);
    const CgiResult list = call(waterOperator, "Get_LicAccountTable", {{"AddressId", id(house)}});
    ASSERT_CODE(list, 0);
    ASSERT_EQ(list.data().size(), 2);
    QJsonObject first = list.row(0);
    first.remove("id");
    EXPECT_EQ(first, (QJsonObject{{"objectId", flat}, {"name", QStringLiteral("ЛС-1")}, {"resCode", 2}, {"obj", "1"},
                                  {"abonentId", person}, {"abonent", QStringLiteral("Орлов\nТел.: 123\nE-mail: o@x")},
                                  {"device", QStringLiteral("Model (Z1)\nModel (Z2)")}}));
    EXPECT_FALSE(list.row(1).contains("abonentId"));
    EXPECT_EQ(list.row(1)["abonent"].toString() + list.row(1)["device"].toString(), "");
    EXPECT_EQ(call(waterOperator, "Get_LicAccountTable", {{"AddressId", id(house)}, {"ResCode", "4"}}).data().size(), 1);

    const QString account = id(list.row(1)["id"].toVariant().toLongLong());
    ASSERT_CODE(call(waterOperator, "Upd_LicAccount", {{"Id", account}, {"DATA", json({account1})}}), 0);
    EXPECT_EQ(value(QStringLiteral(R"(SELECT concat_ws('|', "ObjectId", "ResCode", "Name") FROM "LicAccountTable" WHERE "Id"=%1)").arg(account)),
              QStringLiteral("%1|2|ЛС-1").arg(flat));
    EXPECT_CODE(call(waterOperator, "Del_LicAccount", {{"Id", account}}), 0);
    EXPECT_EQ(rows("LicAccountTable"), 1);
}

TEST_F(Abonents, AccountListStopsAtTenThousandRows)
{
    db->exec(QStringLiteral(R"(INSERT INTO "LicAccountTable" ("ResCode", "ObjectId", "Name") SELECT 1, %1, 'n' || g FROM generate_series(1, 10001) g)").arg(flat));
    const CgiResult list = callAsAdmin("Get_LicAccountTable", {{"AddressId", id(house)}, {"CompanyId", id(water)}});
    ASSERT_CODE(list, 0);
    EXPECT_EQ(list.data().size(), 10000);
}

} // namespace
