// Companies, manufacturers and models.
#include "support/pgfixture.h"

using namespace testing_support;

namespace {

class RefData : public DbTest {
protected:
    void SetUp() override
    {
        DbTest::SetUp();
        initSchema();
    }
};

TEST_F(RefData, RightsByUserType)
{
    const QString user4 = createUser("u4", 4);
    const QString boss = createUser("boss", 129, createCompany("C"));
    EXPECT_CODE(call(user4, "Get_CompanyTable"), 0);
    for (const char* command : {"Add_Company", "Del_Company", "Add_Manuf", "Upd_Manuf", "Add_Model", "Del_Model"}) {
        EXPECT_CODE(call(user4, command, {{"Name", "x"}, {"Id", "1"}}), 143) << command;
    }
    EXPECT_CODE(call(boss, "Get_CompanyList"), 143);
    EXPECT_CODE(call(boss, "Get_ModelTable"), 0);
    EXPECT_CODE(call(boss, "Get_ManufTable"), 0);
}

TEST_F(RefData, CompaniesKeepEmptyTextsAndUniqueNames)
{
    const CgiResult added = callAsAdmin("Add_Company", {{"Name", "Водоканал"}});
    ASSERT_CODE(added, 0);
    const QString id = added.id();
    EXPECT_EQ(value(R"(SELECT concat_ws('|', "Name", "Mail" IS NULL, "Phone", "Address", "Note") FROM "CompanyTable")"),
              QStringLiteral("Водоканал|f|||"));
    EXPECT_CODE(callAsAdmin("Add_Company", {{"Name", "Водоканал"}}), 203);
    ASSERT_CODE(callAsAdmin("Add_Company", {{"Name", "Теплосеть"}, {"Mail", "t@x"}}), 0);
    ASSERT_CODE(callAsAdmin("Upd_Company", {{"Id", id}, {"Name", "Водоканал"}, {"Mail", "m"}, {"Note", "n"}}), 0);
    ASSERT_CODE(callAsAdmin("Upd_Company", {{"Id", id}, {"Name", "Водоканал"}, {"Phone", "p2"}}), 0);
    EXPECT_EQ(value(QStringLiteral(R"(SELECT concat_ws('|', "Mail", "Phone", "Address", "Note") FROM "CompanyTable" WHERE "Id"=%1)").arg(id)),
              "|p2||");
    EXPECT_CODE(callAsAdmin("Upd_Company", {{"Id", id}, {"Name", "Теплосеть"}}), 203);
    EXPECT_CODE(callAsAdmin("Upd_Company", {{"Id", "999"}, {"Name", "x"}}), 235);
    EXPECT_CODE(callAsAdmin("Upd_Company", {{"Id", "x"}, {"Name", "x"}}), 177);

    const CgiResult table = callAsAdmin("Get_CompanyTable", {{"Mail", "t@"}});
    ASSERT_EQ(table.data().size(), 1);
    EXPECT_EQ(table.row(), (QJsonObject{{"id", table.row()["id"]}, {"name", QStringLiteral("Теплосеть")},
                                        {"mail", "t@x"}, {"phone", ""}, {"address", ""}, {"note", ""}}));
    const CgiResult list = callAsAdmin("Get_CompanyList");
    ASSERT_EQ(list.data().size(), 2);
    EXPECT_EQ(list.row(0), (QJsonObject{{"id", added.idNumber()}, {"name", QStringLiteral("Водоканал")}}));
}

// Searches are literal: "%", "_" and "\" find only themselves.
TEST_F(RefData, SubstringSearchesTakeWildcardsLiterally)
{
    for (const char* name : {"a_b", "axb", "100%", "back\\", "O'Brien"}) {
        createCompany(QString::fromLatin1(name).replace("'", "''"));
    }
    const auto names = [this](const char* part) {
        QStringList found;
        for (const QJsonValue& row : callAsAdmin("Get_CompanyTable", {{"Name", part}}).data()) {
            found << row.toObject()["name"].toString();
        }
        return found.join(',');
    };
    EXPECT_EQ(names("_"), "a_b");
    EXPECT_EQ(names("%"), "100%");
    EXPECT_EQ(names("\\"), "back\\");
    EXPECT_EQ(names("'"), "O'Brien");
    EXPECT_EQ(names("x"), "axb");
    createUser("under_score", 3);
    createUser("underXscore", 3);
    EXPECT_EQ(callAsAdmin("Get_UsersTable", {{"Login", "r_s"}}).data().size(), 1);
    EXPECT_EQ(callAsAdmin("Get_ModelTable", {{"ModelName", "%"}}).data().size(), 0);
}

TEST_F(RefData, DeletingACompanyTakesItsAccountsUnlessAddressesUseIt)
{
    const qint64 used = createCompany("Used");
    const qint64 spare = createCompany("Spare");
    db->exec(QStringLiteral(R"(INSERT INTO "AddressTable" ("Name", "CompanyId") VALUES ('a', %1))").arg(used));
    createUser("u1", 130, spare);
    createUser("u2", 131, spare);
    createUser("u3", 131, used);
    EXPECT_CODE(callAsAdmin("Del_Company", {{"Id", QString::number(used)}}), 204);
    ASSERT_CODE(callAsAdmin("Del_Company", {{"Id", QString::number(spare)}}), 0);
    EXPECT_EQ(db->count(R"(SELECT count(*) FROM "CompanyTable")"), 1);
    EXPECT_EQ(db->count(R"(SELECT count(*) FROM "UserTable")"), 2);
}

TEST_F(RefData, ManufacturersAndTheirModels)
{
    const CgiResult acme = callAsAdmin("Add_Manuf", {{"Name", "Acme"}, {"Note", "n"}});
    ASSERT_CODE(acme, 0);
    EXPECT_CODE(callAsAdmin("Add_Manuf", {{"Name", "Acme"}}), 203);
    ASSERT_CODE(callAsAdmin("Add_Manuf", {{"Name", "Acme Two"}}), 0);
    ASSERT_CODE(callAsAdmin("Upd_Manuf", {{"Id", acme.id()}, {"Name", "Acme"}}), 0); // its own name, note cleared
    EXPECT_CODE(callAsAdmin("Upd_Manuf", {{"Id", acme.id()}, {"Name", "Acme Two"}}), 203);
    EXPECT_CODE(callAsAdmin("Upd_Manuf", {{"Id", "77"}}), 235);
    EXPECT_EQ(callAsAdmin("Get_ManufTable", {{"NameFull", "Acme"}, {"Name", "Two"}}).row(),
              (QJsonObject{{"id", acme.idNumber()}, {"name", "Acme"}, {"note", ""}}));
    EXPECT_EQ(callAsAdmin("Get_ManufTable", {{"Name", "Acme"}}).data().size(), 2);

    const CgiResult model = callAsAdmin("Add_Model", {{"Name", "M-1"}, {"ManufId", acme.id()}});
    ASSERT_CODE(model, 0);
    EXPECT_EQ(value(QStringLiteral(R"(SELECT concat_ws('|', "ResCode", "PovInterval", "Photo", "Note", "JsonData"::text) FROM "ModelTable" WHERE "Id"=%1)").arg(model.id())),
              "0|72|||{}");
    EXPECT_CODE(callAsAdmin("Del_Manuf", {{"Id", acme.id()}}), 204);
    const CgiResult lora = callAsAdmin("Add_Model", {{"Name", "M-2"}, {"ManufId", acme.id()}, {"ResCode", "4"},
                                                     {"PovInterval", "96"}, {"LoRaDataFormat", "0x03"}});
    ASSERT_CODE(lora, 0);
    const CgiResult models = callAsAdmin("Get_ModelTable", {{"ModelNameFull", "M-2"}, {"ModelName", "M"}});
    ASSERT_EQ(models.data().size(), 1);
    EXPECT_EQ(models.row(), (QJsonObject{{"id", lora.idNumber()}, {"modelName", "M-2"}, {"manufId", acme.idNumber()},
                                         {"manufName", "Acme"}, {"photo", ""}, {"resCode", 4}, {"povInterval", 96},
                                         {"note", ""}, {"data", QJsonObject{{"loraDataFormat", 3}}}}));
    EXPECT_EQ(callAsAdmin("Get_ModelTable", {{"ManufId", acme.id()}, {"ResCode", "0"}}).data().size(), 1);

    EXPECT_CODE(callAsAdmin("Upd_Model", {{"Id", lora.id()}, {"Name", "M-2b"}, {"ManufId", acme.id()}, {"ResCode", "4"}}), 209);
    ASSERT_CODE(callAsAdmin("Upd_Model", {{"Id", lora.id()}, {"ManufId", acme.id()}, {"ResCode", "5"}, {"PovInterval", "48"}}), 0);
    EXPECT_EQ(value(QStringLiteral(R"(SELECT concat_ws('|', "Name", "ResCode", "PovInterval", "JsonData"::text) FROM "ModelTable" WHERE "Id"=%1)").arg(lora.id())),
              "M-2|5|48|{}");
    EXPECT_CODE(callAsAdmin("Upd_Model", {{"Id", lora.id()}, {"Name", "M-1"}, {"ManufId", "1"}, {"ResCode", "1"}, {"PovInterval", "1"}}), 203);
    EXPECT_CODE(callAsAdmin("Add_Model", {{"Name", "M-3"}, {"ManufId", "1"}, {"ResCode", "r"}}), 239);
    EXPECT_CODE(callAsAdmin("Add_Model", {{"Name", "M-3"}, {"ManufId", "1"}, {"PovInterval", "p"}}), 108);
    db->exec(QStringLiteral(R"(INSERT INTO "DeviceTable" ("ModelId") VALUES (%1))").arg(model.id()));
    EXPECT_CODE(callAsAdmin("Del_Model", {{"Id", model.id()}}), 204);
    EXPECT_CODE(callAsAdmin("Del_Model", {{"Id", lora.id()}}), 0);
}

} // namespace
