// Accounts, companies, manufacturers and models. Other companies' accounts are the scope
// matrix's. Stored texts carry a quote and a backslash: each command quotes what it writes.
#include "support/pgfixture.h"

#include "security/crypto.h"

using namespace testing_support;

namespace {

class Users : public TwoCompanies {
protected:
    QString id(const char* login) { return QString::number(userId(login)); }
};

TEST_F(Users, ListShowsSessionsCompaniesAndFilters)
{
    createUser("w1", 130, water);
    createUser("h1", 131, heat);
    db->exec(R"(ALTER TABLE "SessionTable" DROP CONSTRAINT "SessionTable_pkey")");
    db->exec(QStringLiteral(R"(INSERT INTO "SessionTable" VALUES
        (%1, 7, '2026-01-02 03:04:05', timezone('utc', now()) - interval '240 seconds', '10.0.0.1'),
        (%2, 8, '2026-01-02 03:04:05', timezone('utc', now()) - interval '242 seconds', NULL),
        (%2, 0, '2026-01-02 03:04:05', '2026-01-02 05:06:07', 'x'))")
                 .arg(userId("w1"))
                 .arg(userId("h1")));
    const CgiResult all = callAsAdmin("Get_UsersTable", {{"CompanyId", "null"}});
    ASSERT_EQ(all.data().size(), 4); // the account with two sessions is listed twice
    const QJsonObject w = all.row(0);
    EXPECT_EQ(QStringList({w["login"].toString(), w["companyName"].toString(), w["mail"].toString(),
                           w["sessionStatus"].toString(), w["sessionLast"].toString()}),
              QStringList({"w1", "Water", "", QStringLiteral("В сети"),
                           QStringLiteral("Вход: 2026-01-02 03:04:05\nIP: 10.0.0.1")}));
    // Updated four minutes ago is online still; a little more, or logged out, is not.
    for (int i : {1, 2}) {
        EXPECT_EQ(all.row(i)["sessionStatus"].toString(), QStringLiteral("Не в сети")) << i;
    }
    EXPECT_EQ(all.row(3)["login"].toString(), "admin"); // accounts without a company come last
    // A company administrator sees his company only, whatever he asks for.
    const QString boss = createUser("wa", 129, water);
    EXPECT_EQ(call(boss, "Get_UsersTable", {{"CompanyId", "0"}}).data().size(), 2);
}

TEST_F(Users, ChangesRewriteTheAlwaysSentFieldsAndFollowTypesAndCompanies)
{
    const CgiResult kate = callAsAdmin("Add_User", {{"Login", "kate's\\"}, {"Pas", "p"}, {"Status", "1"},
                                                    {"UserType", "3"}, {"Mail", "k@x"}, {"Note", "n"}});
    ASSERT_CODE(callAsAdmin("Upd_User", {{"UserId", kate.id()}, {"Status", "2"}, {"CompanyId", "0"}}), 0);
    EXPECT_EQ(value(QStringLiteral(R"(SELECT concat_ws('|', "Login", "PasHash", coalesce("Mail", 'null'),
                     coalesce("Note", 'null'), "Status", coalesce("CompanyId"::text, 'null'))
                     FROM "UserTable" WHERE "Id"=%1)").arg(kate.id())),
              "kate's\\|" + tarn::md5Hex("p") + "|null|null|2|null");
    EXPECT_CODE(callAsAdmin("Upd_User", {{"UserId", kate.id()}, {"Login", "admin"}}), 154);
    EXPECT_CODE(callAsAdmin("Upd_User", {{"UserId", "99999"}}), 275);

    // Beyond another company's accounts: anybody may change his own, a company administrator
    // his company's, within it. A deletion takes the sessions.
    const QString clerk = createUser("clerk", 131, water);
    const QString boss = createUser("boss", 129, water);
    createUser("loose", 130);
    EXPECT_CODE(call(clerk, "Upd_User", {{"UserId", id("clerk")}, {"Phone", "5"}}), 0);
    EXPECT_CODE(call(boss, "Upd_User", {{"UserId", id("loose")}, {"Pas", "x"}}), 143);
    EXPECT_CODE(call(boss, "Upd_User", {{"UserId", id("clerk")}, {"CompanyId", QString::number(heat)}}), 0);
    EXPECT_EQ(value(R"(SELECT string_agg("Login" || ':' || coalesce("CompanyId"::text, '-') || ':'
                       || ("PasHash"=md5('pw-' || "Login")), ',' ORDER BY "Login")
                       FROM "UserTable" WHERE "Login" IN ('boss', 'clerk', 'loose'))"),
              QStringLiteral("boss:%1:true,clerk:%1:true,loose:-:true").arg(water));

    db->exec(QStringLiteral(R"(INSERT INTO "SessionTable" VALUES (%1, 1, now(), now(), 'a'))")
                 .arg(userId("loose")));
    ASSERT_CODE(callAsAdmin("Del_User", {{"UserId", id("loose")}}), 0);
    EXPECT_EQ(db->count(R"(SELECT count(*) FROM "SessionTable")"), 0);
}

class RefData : public DbTest {
protected:
    void SetUp() override
    {
        DbTest::SetUp();
        initSchema();
    }
};

TEST_F(RefData, CompaniesKeepEmptyTextsAndUniqueNames)
{
    const CgiResult added = callAsAdmin("Add_Company", {{"Name", "Водоканал 'Юг' \\"}, {"Mail", "m"}});
    ASSERT_CODE(added, 0);
    EXPECT_CODE(callAsAdmin("Add_Company", {{"Name", "Водоканал 'Юг' \\"}}), 203);
    EXPECT_CODE(call(createUser("u4", 4), "Add_Company", {{"Name", "x"}}), 143);
    ASSERT_CODE(callAsAdmin("Add_Company", {{"Name", "Теплосеть"}}), 0);
    // Its own name is not taken; the texts left out are emptied.
    const Params update{{"Id", added.id()}, {"Name", "Водоканал 'Юг' \\"}, {"Phone", "p2"}};
    ASSERT_CODE(callAsAdmin("Upd_Company", update), 0);
    EXPECT_CODE(callAsAdmin("Upd_Company", {{"Id", added.id()}, {"Name", "Теплосеть"}}), 203);
    EXPECT_EQ(callAsAdmin("Get_CompanyTable", {{"Phone", "p"}}).data(),
              (QJsonArray{QJsonObject{{"id", added.idNumber()}, {"name", QStringLiteral("Водоканал 'Юг' \\")},
                                      {"mail", ""}, {"phone", "p2"}, {"address", ""}, {"note", ""}}}));
    const CgiResult list = callAsAdmin("Get_CompanyList");
    ASSERT_EQ(list.data().size(), 2);
    EXPECT_EQ(list.row(0), (QJsonObject{{"id", added.idNumber()}, {"name", QStringLiteral("Водоканал 'Юг' \\")}}));
}

// Searches are literal: "%", "_", "\" and "'" find only themselves.
TEST_F(RefData, SubstringSearchesTakeWildcardsLiterally)
{
    for (const char* name : {"a_b", "axb", "100%", "back\\", "O'Brien"}) {
        createCompany(QString::fromLatin1(name).replace("'", "''"));
    }
    for (const char* part : {"_", "%", "\\", "'"}) {
        const QJsonArray found = callAsAdmin("Get_CompanyTable", {{"Name", part}}).data();
        ASSERT_EQ(found.size(), 1) << part;
        EXPECT_TRUE(found.at(0)["name"].toString().contains(QLatin1String(part))) << part;
    }
}

TEST_F(RefData, ManufacturersAndTheirModels)
{
    const CgiResult acme = callAsAdmin("Add_Manuf", {{"Name", "Acme's \\"}, {"Note", "n"}});
    ASSERT_CODE(callAsAdmin("Upd_Manuf", {{"Id", acme.id()}, {"Name", "Acme's \\"}}), 0); // note cleared
    EXPECT_EQ(callAsAdmin("Get_ManufTable", {{"NameFull", "Acme's \\"}}).row(),
              (QJsonObject{{"id", acme.idNumber()}, {"name", "Acme's \\"}, {"note", ""}}));
    const CgiResult lora = callAsAdmin("Add_Model", {{"Name", "M'2 \\"}, {"ManufId", acme.id()}, {"ResCode", "4"},
                                                     {"PovInterval", "96"}, {"LoRaDataFormat", "0x03"}});
    EXPECT_EQ(callAsAdmin("Get_ModelTable", {{"ModelNameFull", "M'2 \\"}, {"ResCode", "4"}}).data(),
              (QJsonArray{QJsonObject{{"id", lora.idNumber()}, {"modelName", "M'2 \\"}, {"manufId", acme.idNumber()},
                                      {"manufName", "Acme's \\"}, {"photo", ""}, {"resCode", 4}, {"povInterval", 96},
                                      {"note", ""}, {"data", QJsonObject{{"loraDataFormat", 3}}}}}));
    const Params update{{"Id", lora.id()}, {"ManufId", acme.id()}, {"ResCode", "5"}, {"PovInterval", "48"}};
    ASSERT_CODE(callAsAdmin("Upd_Model", update), 0);
    EXPECT_EQ(value(QStringLiteral(R"(SELECT concat_ws('|', "Name", "ResCode", "PovInterval", "JsonData"::text)
                                      FROM "ModelTable" WHERE "Id"=%1)").arg(lora.id())),
              "M'2 \\|5|48|{}");
    ASSERT_CODE(callAsAdmin("Del_Model", {{"Id", lora.id()}}), 0);
    ASSERT_CODE(callAsAdmin("Del_Manuf", {{"Id", acme.id()}}), 0);
    EXPECT_EQ(db->count(R"(SELECT count(*) FROM "ManufTable")"), 0);
}

} // namespace
