// Accounts, companies, manufacturers and models.
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
        (%1, 7, '2026-01-02 03:04:05', timezone('utc', now()) - interval '239 seconds', '10.0.0.1'),
        (%2, 8, '2026-01-02 03:04:05', timezone('utc', now()) - interval '242 seconds', NULL),
        (%2, 0, '2026-01-02 03:04:05', '2026-01-02 05:06:07', 'x'))").arg(userId("w1")).arg(userId("h1")));
    const CgiResult all = callAsAdmin("Get_UsersTable", {{"CompanyId", "null"}});
    ASSERT_CODE(all, 0);
    ASSERT_EQ(all.data().size(), 4); // the account with two sessions is listed twice
    const QJsonObject w = all.row(0);
    EXPECT_EQ(QStringList({w["login"].toString(), w["companyName"].toString(), w["mail"].toString(),
                           w["sessionStatus"].toString(), w["sessionLast"].toString()}),
              QStringList({"w1", "Water", "", QStringLiteral("В сети"),
                           QStringLiteral("Вход: 2026-01-02 03:04:05\nIP: 10.0.0.1")}));
    EXPECT_EQ(w["companyId"].toInt(), water);
    for (int i : {1, 2}) {
        EXPECT_EQ(all.row(i)["sessionStatus"].toString(), QStringLiteral("Не в сети"));
        EXPECT_TRUE(all.row(i)["sessionLast"].toString().contains(QStringLiteral("\nВыход: "))) << i;
    }
    // Accounts without a company come last; without a session they are simply off-line.
    EXPECT_EQ(all.row(3)["login"].toString(), "admin");
    EXPECT_EQ(all.row(3)["sessionLast"].toString(), "");
    EXPECT_EQ(all.row(3)["dateReg"].toString().size(), 10);

    EXPECT_EQ(callAsAdmin("Get_UsersTable").data().size(), 4);
    EXPECT_EQ(callAsAdmin("Get_UsersTable", {{"CompanyId", "0"}}).data().size(), 1);
    EXPECT_EQ(callAsAdmin("Get_UsersTable", {{"CompanyId", QString::number(water)}}).data().size(), 1);
    EXPECT_EQ(callAsAdmin("Get_UsersTable", {{"UserType", " 0x82 "}}).row()["login"].toString(), "w1");
    EXPECT_EQ(callAsAdmin("Get_UsersTable", {{"Login", "1"}, {"Status", "1"}}).data().size(), 3);
    const CgiResult badType = callAsAdmin("Get_UsersTable", {{"UserType", "5a"}});
    EXPECT_CODE(badType, 276);
    EXPECT_TRUE(badType.log.contains(QStringLiteral("[err] Файл:строка > cgi/client/users:")));
    EXPECT_CODE(callAsAdmin("Get_UsersTable", {{"CompanyId", "abc"}}), 221);
    // A company administrator sees his company only, whatever he asks for.
    EXPECT_EQ(call(createUser("wa", 129, water), "Get_UsersTable", {{"CompanyId", "0"}}).data().size(), 2);
    EXPECT_CODE(call(tokenFor("w1", "pw-w1"), "Get_UsersTable"), 143);
}

TEST_F(Users, AddUserStoresWhatWasSentInTheRightCompany)
{
    const CgiResult added = callAsAdmin("Add_User", {{"Login", "anna"}, {"Pas", "s'ecret"}, {"Status", "1"},
                                                     {"UserType", "0x83"}, {"CompanyId", QString::number(heat)},
                                                     {"Mail", "a@x.org"}});
    ASSERT_CODE(added, 0);
    EXPECT_EQ(added.resultType(), "OK");
    EXPECT_EQ(added.idNumber(), userId("anna"));
    EXPECT_EQ(value(R"(SELECT concat_ws('|', "PasHash", "Mail", coalesce("Phone", 'null'), "Status", "UserType", "CompanyId",
                     coalesce("Note", 'null'), abs(extract(epoch from "DateReg" - timezone('utc', now()))) < 60)
                     FROM "UserTable" WHERE "Login"='anna')"),
              tarn::md5Hex("s'ecret") + QStringLiteral("|a@x.org|null|1|131|%1|null|t").arg(heat));
    EXPECT_CODE(call(tokenFor("anna", "s'ecret"), "Get_UserData"), 0);

    // A company administrator's accounts belong to his company, whatever "CompanyId" said.
    const Params bob{{"Login", "bob"}, {"Pas", "p"}, {"Status", "1"}, {"UserType", "131"},
                     {"CompanyId", QString::number(heat)}};
    ASSERT_CODE(call(createUser("boss", 129, water), "Add_User", bob), 0);
    EXPECT_EQ(db->scalar(R"(SELECT "CompanyId" FROM "UserTable" WHERE "Login"='bob')").toLongLong(), water);
    EXPECT_CODE(callAsAdmin("Add_User", bob), 154);
    EXPECT_CODE(callAsAdmin("Add_User", {{"Login", "x"}, {"Status", "1"}, {"UserType", "3"}}), 218);
    EXPECT_CODE(call(createUser("op", 130, water), "Add_User", bob), 143);
}

TEST_F(Users, UpdateRewritesTheAlwaysSentFields)
{
    createUser("kate", 3);
    db->exec(R"(UPDATE "UserTable" SET "Mail"='k@x', "Phone"='123', "Note"='n' WHERE "Login"='kate')");
    ASSERT_CODE(callAsAdmin("Upd_User", {{"UserId", id("kate")}, {"Status", "2"}}), 0);
    EXPECT_EQ(value(R"(SELECT concat_ws('|', coalesce("Mail", 'null'), coalesce("Phone", 'null'), coalesce("Note", 'null'), "Status") FROM "UserTable" WHERE "Login"='kate')"),
              "null|null|null|2");
    ASSERT_CODE(callAsAdmin("Upd_User", {{"UserId", id("kate")}, {"Login", "kate"}, {"Pas", "new"}, {"Mail", "nUlL"},
                                         {"Phone", "7"}, {"UserType", "4"}, {"CompanyId", QString::number(water)}}), 0);
    EXPECT_EQ(value(R"(SELECT concat_ws('|', "PasHash", coalesce("Mail", 'null'), "Phone", "UserType", "CompanyId") FROM "UserTable" WHERE "Login"='kate')"),
              tarn::md5Hex("new") + QStringLiteral("|null|7|4|%1").arg(water));
    ASSERT_CODE(callAsAdmin("Upd_User", {{"UserId", id("kate")}, {"CompanyId", "0"}}), 0);
    EXPECT_TRUE(db->scalar(R"(SELECT "CompanyId" FROM "UserTable" WHERE "Login"='kate')").isNull());
    EXPECT_CODE(callAsAdmin("Upd_User", {{"UserId", id("kate")}, {"Login", "admin"}}), 154);
    EXPECT_CODE(callAsAdmin("Upd_User", {{"UserId", "99999"}}), 275);
}

// Who may change or delete which account: the type rules between global accounts, anybody's
// own account, and a company administrator's own company. A deletion takes the sessions too.
TEST_F(Users, ChangesAndDeletionsFollowTypesAndCompanies)
{
    createUser("top", 1);
    const QString admin2 = createUser("admin2", 2);
    const QString clerk = createUser("clerk", 131, water);
    const QString boss = createUser("boss", 129, water);
    createUser("otherAdmin", 129, heat);
    createUser("loose", 130);
    createUser("mine", 130, water);
    const struct {
        QString token;
        const char* command;
        const char* target;
        Params more;
        int code;
    } cases[] = {
        {admin2, "Upd_User", "top", {}, 143},
        {admin2, "Upd_User", "admin2", {{"UserType", "1"}}, 143},
        {admin2, "Del_User", "top", {}, 143},
        {clerk, "Upd_User", "clerk", {{"Phone", "5"}}, 0}, // his own account
        {clerk, "Upd_User", "admin2", {}, 143},
        {boss, "Upd_User", "otherAdmin", {{"Pas", "x"}}, 143},
        {boss, "Upd_User", "loose", {{"Pas", "x"}}, 143},
        {boss, "Upd_User", "clerk", {{"CompanyId", QString::number(heat)}}, 0}, // stays at Water
        {boss, "Del_User", "otherAdmin", {}, 143},
        {boss, "Del_User", "loose", {}, 143},
        {boss, "Del_User", "mine", {}, 0},
    };
    for (const auto& c : cases) {
        const Params params = Params{{"UserId", id(c.target)}} + c.more;
        EXPECT_CODE(call(c.token, c.command, params), c.code) << c.command << " " << c.target;
    }
    EXPECT_EQ(value(R"(SELECT string_agg("Login" || ':' || "CompanyId" || ':' || ("PasHash"=md5('pw-' || "Login")),
                       ',' ORDER BY "Login") FROM "UserTable" WHERE "CompanyId" IS NOT NULL)"),
              QStringLiteral("boss:%1:true,clerk:%1:true,otherAdmin:%2:true").arg(water).arg(heat));

    db->exec(QStringLiteral(R"(INSERT INTO "SessionTable" VALUES (%1, 1, now(), now(), 'a'))").arg(userId("loose")));
    ASSERT_CODE(callAsAdmin("Del_User", {{"UserId", id("loose")}}), 0);
    EXPECT_EQ(db->count(R"(SELECT count(*) FROM "UserTable" WHERE "Login"='loose')") +
                  db->count(R"(SELECT count(*) FROM "SessionTable")"),
              0);
    EXPECT_CODE(callAsAdmin("Del_User", {{"UserId", "424242"}}), 275);
}

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
    EXPECT_EQ(QStringList({names("_"), names("%"), names("\\"), names("'"), names("x")}),
              QStringList({"a_b", "100%", "back\\", "O'Brien", "axb"}));
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
    EXPECT_EQ(value(R"(SELECT (SELECT count(*) FROM "CompanyTable") || '/' || count(*) FROM "UserTable")"), "1/2");
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
    db->exec(QStringLiteral(R"(INSERT INTO "DeviceTable" ("ModelId") VALUES (%1))").arg(model.id()));
    EXPECT_CODE(callAsAdmin("Del_Model", {{"Id", model.id()}}), 204);
    EXPECT_CODE(callAsAdmin("Del_Model", {{"Id", lora.id()}}), 0);
}

} // namespace
