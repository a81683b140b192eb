#include "support/pgfixture.h"

#include "security/crypto.h"

using namespace testing_support;

namespace {

class Users : public TwoCompanies {
protected:
    void SetUp() override
    {
        TwoCompanies::SetUp();
    }
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
    EXPECT_EQ(w["login"].toString(), "w1");
    EXPECT_EQ(w["companyName"].toString(), "Water");
    EXPECT_EQ(w["companyId"].toInt(), water);
    EXPECT_EQ(w["mail"].toString(), "");
    EXPECT_EQ(w["sessionStatus"].toString(), QStringLiteral("В сети"));
    EXPECT_EQ(w["sessionLast"].toString(), QStringLiteral("Вход: 2026-01-02 03:04:05\nIP: 10.0.0.1"));
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

    const Params bob{{"Login", "bob"}, {"Pas", "p"}, {"Status", "1"}, {"UserType", "131"}, {"CompanyId", QString::number(heat)}};
    ASSERT_CODE(call(createUser("boss", 129, water), "Add_User", bob), 0);
    EXPECT_EQ(db->scalar(R"(SELECT "CompanyId" FROM "UserTable" WHERE "Login"='bob')").toLongLong(), water);
    EXPECT_CODE(callAsAdmin("Add_User", bob), 154);
    EXPECT_CODE(callAsAdmin("Add_User", {{"Login", "x"}, {"Status", "1"}, {"UserType", "3"}}), 218);
    EXPECT_CODE(callAsAdmin("Add_User", {{"Login", "x"}, {"Pas", "p"}, {"UserType", "3"}}), 9);
    EXPECT_CODE(callAsAdmin("Add_User", {{"Login", "x"}, {"Pas", "p"}, {"Status", "-1"}, {"UserType", "3"}}), 160);
    EXPECT_CODE(callAsAdmin("Add_User", {{"Login", "x"}, {"Pas", "p"}, {"Status", "1"}}), 276);
    EXPECT_CODE(call(createUser("op", 130, water), "Add_User", bob), 143);
    EXPECT_EQ(db->count(R"(SELECT count(*) FROM "UserTable" WHERE "Login"='x')"), 0);
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
    EXPECT_CODE(callAsAdmin("Upd_User", {{"UserId", "k"}}), 268);
}

TEST_F(Users, UpdateRightsFollowTypesAndCompanies)
{
    createUser("top", 1);
    const QString admin2 = createUser("admin2", 2);
    EXPECT_CODE(call(admin2, "Upd_User", {{"UserId", id("top")}}), 143);
    EXPECT_CODE(call(admin2, "Upd_User", {{"UserId", id("admin2")}, {"UserType", "1"}}), 143);
    // Anybody may change his own account, a company user included.
    const QString clerk = createUser("clerk", 131, water);
    EXPECT_CODE(call(clerk, "Upd_User", {{"UserId", id("clerk")}, {"Phone", "5"}}), 0);
    EXPECT_CODE(call(clerk, "Upd_User", {{"UserId", id("admin2")}}), 143);
    // A company administrator reaches his own company's accounts only, and cannot move them.
    const QString boss = createUser("boss", 129, water);
    createUser("otherAdmin", 129, heat);
    createUser("loose", 130);
    EXPECT_CODE(call(boss, "Upd_User", {{"UserId", id("otherAdmin")}, {"Pas", "x"}}), 143);
    EXPECT_CODE(call(boss, "Upd_User", {{"UserId", id("loose")}, {"Pas", "x"}}), 143);
    EXPECT_EQ(value(R"(SELECT "PasHash" FROM "UserTable" WHERE "Login"='otherAdmin')"), tarn::md5Hex("pw-otherAdmin"));
    EXPECT_CODE(call(boss, "Upd_User", {{"UserId", id("clerk")}, {"CompanyId", QString::number(heat)}}), 0);
    EXPECT_EQ(db->scalar(R"(SELECT "CompanyId" FROM "UserTable" WHERE "Login"='clerk')").toLongLong(), water);
}

TEST_F(Users, DeleteRemovesSessionsAndRespectsCompanies)
{
    createUser("gone", 3);
    db->exec(QStringLiteral(R"(INSERT INTO "SessionTable" VALUES (%1, 1, now(), now(), 'a'))").arg(userId("gone")));
    ASSERT_CODE(callAsAdmin("Del_User", {{"UserId", id("gone")}}), 0);
    EXPECT_EQ(db->count(R"(SELECT count(*) FROM "UserTable" WHERE "Login"='gone')") + db->count(R"(SELECT count(*) FROM "SessionTable")"), 0);

    const QString boss = createUser("boss", 129, water);
    createUser("mine", 130, water);
    createUser("theirs", 130, heat);
    createUser("loose", 130);
    createUser("top", 1);
    EXPECT_CODE(call(boss, "Del_User", {{"UserId", id("theirs")}}), 143);
    EXPECT_CODE(call(boss, "Del_User", {{"UserId", id("loose")}}), 143);
    EXPECT_CODE(call(boss, "Del_User", {{"UserId", id("mine")}}), 0);
    EXPECT_CODE(call(createUser("admin2", 2), "Del_User", {{"UserId", id("top")}}), 143);
    EXPECT_CODE(callAsAdmin("Del_User", {{"UserId", "424242"}}), 275);
}

} // namespace
