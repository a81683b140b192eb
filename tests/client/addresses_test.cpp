// Addresses and objects.
#include "support/pgfixture.h"

using namespace testing_support;

namespace {

class Premises : public TwoCompanies {
protected:
    void SetUp() override
    {
        TwoCompanies::SetUp();
        waterAdmin = createUser("wadmin", 129, water);
        waterUser = createUser("wuser", 131, water);
    }
    QString addressRow(qint64 id)
    {
        return value(QStringLiteral(R"(SELECT concat_ws('|', "Name", "PostIndex", coalesce("CompanyId"::text, 'null'), "CoordLat", "CoordLong", "TimeShift", "Note", "JsonData"::text) FROM "AddressTable" WHERE "Id"=%1)").arg(id));
    }

    QString waterAdmin;
    QString waterUser;
};

TEST_F(Premises, AddAddressStoresTrimmedNameConvertedShiftAndFias)
{
    const CgiResult added = callAsAdmin("Add_Address", {{"Name", "  ул. Ленина, 1  "}, {"TimeShift", "-180"},
                                                        {"CompanyId", QString::number(heat)}, {"Fias", " abc "},
                                                        {"PostIndex", " 101000"}});
    ASSERT_CODE(added, 0);
    EXPECT_EQ(addressRow(added.idNumber()), QStringLiteral("ул. Ленина, 1| 101000|%1|||-180||{\"fias\":\"abc\"}").arg(heat));
    const CgiResult hex = callAsAdmin("Add_Address", {{"Name", "b"}, {"TimeShift", "0x3C"}});
    ASSERT_CODE(hex, 0);
    EXPECT_EQ(addressRow(hex.idNumber()), "b||null|||60||{}");
    ASSERT_CODE(call(waterAdmin, "Add_Address", {{"Name", "c"}, {"TimeShift", "0"}, {"CompanyId", QString::number(heat)}}), 0);
    EXPECT_EQ(db->count(QStringLiteral(R"(SELECT count(*) FROM "AddressTable" WHERE "Name"='c' AND "CompanyId"=%1)").arg(water)), 1);

    EXPECT_CODE(callAsAdmin("Add_Address", {{"Name", "d"}, {"TimeShift", "abc"}}), 127);
    EXPECT_CODE(callAsAdmin("Add_Address", {{"Name", "  "}, {"TimeShift", "1"}}), 234);
    EXPECT_CODE(callAsAdmin("Add_Address", {{"Name", "d"}, {"TimeShift", "1"}, {"CompanyId", "NULL"}}), 221);
    EXPECT_CODE(call(waterUser, "Add_Address", {{"Name", "d"}, {"TimeShift", "1"}}), 143);
}

TEST_F(Premises, UpdateAddressRewritesFieldsAndKeepsOtherJsonKeys)
{
    const qint64 id = address("a", water);
    db->exec(QStringLiteral(R"(UPDATE "AddressTable" SET "PostIndex"='1', "JsonData"='{"fias":"x","keep":1}' WHERE "Id"=%1)").arg(id));
    ASSERT_CODE(call(waterAdmin, "Upd_Address", {{"AddressId", QString::number(id)}, {"Name", "a2"}, {"TimeShift", "30"}}), 0);
    EXPECT_EQ(addressRow(id), QStringLiteral("a2||%1|||30||{\"keep\":1}").arg(water));
    ASSERT_CODE(callAsAdmin("Upd_Address", {{"AddressId", QString::number(id)}, {"Name", "a3"}, {"TimeShift", "0"},
                                            {"Fias", "f"}, {"CoordLat", "55.7"}}), 0);
    // A global caller who leaves the company out takes it away.
    EXPECT_EQ(addressRow(id), "a3||null|55.7||0||{\"fias\":\"f\",\"keep\":1}");

    const qint64 theirs = address("t", heat);
    const qint64 loose = address("l", 0);
    const Params rest{{"Name", "x"}, {"TimeShift", "1"}};
    EXPECT_CODE(call(waterAdmin, "Upd_Address", Params{{"AddressId", QString::number(theirs)}} + rest), 217);
    EXPECT_CODE(call(waterAdmin, "Upd_Address", Params{{"AddressId", QString::number(loose)}} + rest), 217);
    EXPECT_CODE(callAsAdmin("Upd_Address", Params{{"AddressId", "999"}} + rest), 112);
    EXPECT_CODE(callAsAdmin("Upd_Address", {{"AddressId", QString::number(theirs)}, {"Name", "x"}}), 126);
    EXPECT_EQ(value(QStringLiteral(R"(SELECT "Name" FROM "AddressTable" WHERE "Id"=%1)").arg(theirs)), "t");
}

TEST_F(Premises, DeleteAddressRefusesUsedOrForeignAddresses)
{
    const qint64 used = address("used", water);
    object(used);
    const qint64 free = address("free", water);
    EXPECT_CODE(call(waterAdmin, "Del_Address", {{"AddressId", QString::number(used)}}), 204);
    EXPECT_CODE(call(waterAdmin, "Del_Address", {{"AddressId", QString::number(address("t", heat))}}), 217);
    EXPECT_CODE(call(waterAdmin, "Del_Address", {{"AddressId", QString::number(address("l", 0))}}), 112);
    EXPECT_CODE(call(waterAdmin, "Del_Address", {{"AddressId", "999"}}), 132);
    EXPECT_CODE(call(waterAdmin, "Del_Address", {{"AddressId", QString::number(free)}}), 0);
    EXPECT_CODE(callAsAdmin("Del_Address", {{"AddressId", "999"}}), 0);
    EXPECT_EQ(db->count(R"(SELECT count(*) FROM "AddressTable")"), 3);
}

TEST_F(Premises, AddressListsFollowTheCompanyScope)
{
    const qint64 a = address("Alpha", water);
    address("Beta", water);
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
    EXPECT_EQ(callAsAdmin("Get_AddressTable", {{"CompanyId", QString::number(water)}, {"NameFull", "Beta"}, {"Name", "Al"}}).row()["name"].toString(), "Beta");

    const qint64 flat1 = object(a, "1");
    const qint64 flat2 = object(a, "2");
    const qint64 ivanov = insertId(R"(INSERT INTO "AbonentTable" ("Name", "PasHash") VALUES ('Иванов', 'x') RETURNING "Id")");
    db->exec(QStringLiteral(R"(UPDATE "ObjectTable" SET "AbonentId"=%1 WHERE "Id" IN (%2, %3))").arg(ivanov).arg(flat1).arg(flat2));
    const CgiResult byAbonent = call(waterUser, "Get_CompanyAddresses", {{"AbonentName", QStringLiteral("ван")}});
    ASSERT_CODE(byAbonent, 0);
    EXPECT_EQ(byAbonent.data().size(), 2);
    EXPECT_EQ(call(waterUser, "Get_CompanyAddresses").data().size(), 2);
}

TEST_F(Premises, AddressInfoComposesAbonentAndCompany)
{
    const qint64 a = address("Alpha", water);
    const qint64 flat = object(a, "12");
    const qint64 abonent = insertId(R"(INSERT INTO "AbonentTable" ("Name", "PasHash", "Phone", "Mail") VALUES ('Петров', 'x', '+7 900', '') RETURNING "Id")");
    db->exec(QStringLiteral(R"(UPDATE "ObjectTable" SET "AbonentId"=%1, "Sq"='54.3' WHERE "Id"=%2)").arg(abonent).arg(flat));
    const CgiResult info = call(waterUser, "Get_AddressInfo", {{"ObjectId", QString::number(flat)}});
    ASSERT_CODE(info, 0);
    EXPECT_EQ(info.row(), (QJsonObject{{"id", flat}, {"addressId", a}, {"name", "Alpha"}, {"objType", 0}, {"obj", "12"},
                                       {"abonentId", abonent}, {"abonent", QStringLiteral("Петров\nТел.: +7 900")},
                                       {"postIndex", ""}, {"companyId", water}, {"company", "Water"},
                                       {"coordLat", ""}, {"coordLong", ""}, {"sq", "54.3"}, {"note", ""}}));
    const qint64 bare = object(address("Loose", 0));
    const CgiResult loose = callAsAdmin("Get_AddressInfo", {{"ObjectId", QString::number(bare)}});
    EXPECT_EQ(loose.row()["abonent"].toString(), "");
    EXPECT_EQ(loose.row()["company"].toString(), "");
    EXPECT_EQ(loose.row()["companyId"].toInt(), 0);
    // Another company's premises are not shown to a company-bound caller.
    EXPECT_CODE(call(waterUser, "Get_AddressInfo", {{"ObjectId", QString::number(bare)}}), 112);
    EXPECT_CODE(callAsAdmin("Get_AddressInfo", {{"ObjectId", "999"}}), 112);
}

TEST_F(Premises, ObjectsOneAtATimeOrInSeries)
{
    const QString a = QString::number(address("A", water));
    // The abonent linked must exist and already occupy premises of the caller's company.
    db->exec(R"(INSERT INTO "AbonentTable" ("Id", "Name", "PasHash") VALUES (16, 'Ab', 'x'))");
    db->exec(QStringLiteral(R"(UPDATE "ObjectTable" SET "AbonentId"=16 WHERE "Id"=%1)").arg(object(address("B", water))));
    const CgiResult one = call(waterAdmin, "Add_Object", {{"AddressId", a}, {"ObjType", "1"}, {"AbonentId", "0x10"},
                                                          {"Sq", "40"}, {"Note", "n"}});
    ASSERT_CODE(one, 0);
    EXPECT_EQ(value(QStringLiteral(R"(SELECT concat_ws('|', "Obj", "ObjType", "AbonentId", "Sq", "Note") FROM "ObjectTable" WHERE "Id"=%1)").arg(one.id())),
              "obj1|1|16|40|n");
    ASSERT_CODE(callAsAdmin("Add_Object", {{"AddressId", a}, {"ObjType", "0"}, {"StartNum", "0"}}), 0);
    ASSERT_CODE(callAsAdmin("Add_Object", {{"AddressId", a}, {"ObjType", "0"}, {"ObjCount", "3"}, {"StartNum", "5"},
                                           {"ObjPrefix", "кв"}, {"AbonentId", "7"}, {"Sq", "9"}}), 0);
    EXPECT_EQ(value(QStringLiteral(R"(SELECT string_agg(concat_ws(':', "Obj", coalesce("AbonentId"::text, 'null'), "Sq"), ',' ORDER BY "Id") FROM "ObjectTable" WHERE "AddressId"=%1)").arg(a)),
              QStringLiteral("obj1:16:40,obj0:null:,кв5:null:,кв6:null:,кв7:null:"));

    const CgiResult thousand = callAsAdmin("Add_Object", {{"AddressId", a}, {"ObjType", "2"}, {"ObjCount", "1000"}, {"ObjPrefix", "kv"}});
    ASSERT_CODE(thousand, 0);
    EXPECT_EQ(db->count(R"(SELECT count(*) FROM "ObjectTable" WHERE "ObjType"=2 AND "Obj" ~ '^kv([1-9][0-9]{0,2}|1000)$')"), 1000);
    EXPECT_CODE(callAsAdmin("Add_Object", {{"AddressId", a}, {"ObjType", "3"}, {"ObjCount", "1001"}}), 229);
    EXPECT_EQ(db->count(R"(SELECT count(*) FROM "ObjectTable" WHERE "ObjType"=3)"), 0);
    EXPECT_CODE(callAsAdmin("Add_Object", {{"AddressId", a}, {"ObjType", "3"}, {"ObjCount", "0"}}), 177);
    EXPECT_CODE(call(waterAdmin, "Add_Object", {{"AddressId", QString::number(address("H", heat))}, {"ObjType", "1"}}), 217);
    EXPECT_CODE(call(waterUser, "Add_Object", {{"AddressId", a}, {"ObjType", "1"}}), 143);
}

TEST_F(Premises, ObjectChangesKeepScopeAndReferences)
{
    const qint64 a = address("A", water);
    const qint64 flat = object(a, "1");
    db->exec(QStringLiteral(R"(UPDATE "ObjectTable" SET "AbonentId"=5, "Sq"='10', "Note"='keep' WHERE "Id"=%1)").arg(flat));
    const QString id = QString::number(flat);
    ASSERT_CODE(call(waterAdmin, "Upd_Object", {{"ObjectId", id}, {"Obj", "1a"}, {"ObjType", "4"}}), 0);
    EXPECT_EQ(value(QStringLiteral(R"(SELECT concat_ws('|', "Obj", "ObjType", "AbonentId", "Sq", "Note") FROM "ObjectTable" WHERE "Id"=%1)").arg(flat)), "1a|4|5|10|keep");
    ASSERT_CODE(call(waterAdmin, "Upd_Object", {{"ObjectId", id}, {"Obj", "1a"}, {"ObjType", "4"}, {"AbonentId", "Null"}, {"Sq", ""}}), 0);
    EXPECT_TRUE(db->scalar(QStringLiteral(R"(SELECT "AbonentId" FROM "ObjectTable" WHERE "Id"=%1)").arg(flat)).isNull());
    EXPECT_CODE(call(waterAdmin, "Upd_Object", {{"ObjectId", id}, {"ObjType", "4"}, {"Note", "only"}}), 230);
    const QString foreign = QString::number(object(address("H", heat)));
    const QString loose = QString::number(object(address("L", 0)));
    EXPECT_CODE(call(waterAdmin, "Upd_Object", {{"ObjectId", foreign}, {"Obj", "x"}, {"ObjType", "1"}}), 217);
    EXPECT_CODE(call(waterAdmin, "Del_Object", {{"ObjectId", loose}}), 112);
    EXPECT_CODE(call(waterAdmin, "Del_Object", {{"ObjectId", "12345"}}), 132);

    for (const char* use : {R"(INSERT INTO "InstallTable" ("DeviceId", "ObjectId", "DateInstall") VALUES (1, %1, '2020-01-01'))",
                            R"(INSERT INTO "LicAccountTable" ("ResCode", "ObjectId", "Name") VALUES (1, %1, 'L'))"}) {
        db->exec(QString::fromLatin1(use).arg(flat));
        EXPECT_CODE(callAsAdmin("Del_Object", {{"ObjectId", id}}), 204);
        db->exec(R"(DELETE FROM "InstallTable"; DELETE FROM "LicAccountTable")");
    }
    EXPECT_CODE(callAsAdmin("Del_Object", {{"ObjectId", id}}), 0);
    EXPECT_EQ(db->count(QStringLiteral(R"(SELECT count(*) FROM "ObjectTable" WHERE "Id"=%1)").arg(flat)), 0);
}

TEST_F(Premises, ObjectListWithAbonentNamesAndFilters)
{
    const qint64 a = address("A", water);
    const qint64 flat = object(a, "10");
    object(a, "11");
    const qint64 abonent = insertId(R"(INSERT INTO "AbonentTable" ("Name", "PasHash") VALUES ('Сидоров', 'x') RETURNING "Id")");
    db->exec(QStringLiteral(R"(UPDATE "ObjectTable" SET "AbonentId"=%1, "ObjType"=1 WHERE "Id"=%2)").arg(abonent).arg(flat));
    const Params where{{"AddressId", QString::number(a)}};
    const CgiResult all = call(waterUser, "Get_ObjectTable", where);
    ASSERT_CODE(all, 0);
    ASSERT_EQ(all.data().size(), 2);
    EXPECT_EQ(all.row(1), (QJsonObject{{"id", flat}, {"objType", 1}, {"obj", "10"}, {"abonentId", abonent},
                                       {"abonentName", QStringLiteral("Сидоров")}, {"sq", ""}, {"note", ""}}));
    EXPECT_EQ(all.row(0)["abonentName"].toString(), "");
    EXPECT_EQ(call(waterUser, "Get_ObjectTable", where + Params{{"ObjFull", "1"}, {"Obj", "1"}}).data().size(), 0);
    EXPECT_EQ(call(waterUser, "Get_ObjectTable", where + Params{{"Obj", "1"}}).data().size(), 2);
    EXPECT_EQ(call(waterUser, "Get_ObjectTable", where + Params{{"ObjType", "1"}}).data().size(), 1);
    EXPECT_EQ(call(waterUser, "Get_ObjectTable", where + Params{{"AbonentId", QString::number(abonent)}}).data().size(), 1);
    EXPECT_EQ(callAsAdmin("Get_ObjectTable", where).data().size(), 0);
    // An object whose abonent is gone makes the listing fail as a whole.
    db->exec(R"(DELETE FROM "AbonentTable")");
    const CgiResult broken = call(waterUser, "Get_ObjectTable", where);
    EXPECT_CODE(broken, 132);
    EXPECT_TRUE(broken.data().isEmpty());
}

} // namespace
