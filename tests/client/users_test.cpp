#include "support/pgfixture.h"

#include "security/crypto.h"

#include <QSet>

using namespace testing_support;

namespace {

class Users : public DbTest {
protected:
    void SetUp() override
    {
        DbTest::SetUp();
        initSchema();
        water = createCompany("Water");
        heat = createCompany("Heat");
    }
    QString rowText(const QString& sql) { return db->scalar(sql).toString(); }

    qint64 water = 0;
    qint64 heat = 0;
};

TEST_F(Users, ListShowsSessionsCompaniesAndFilters)
{
    createUser("w1", 130, water);
    createUser("h1", 131, heat);
    const qint64 w1 = userId("w1");
    const qint64 h1 = userId("h1");
    db->exec(QStringLiteral(R"(INSERT INTO "SessionTable" VALUES (%1, 7, '2026-01-02 03:04:05', timezone('utc', now()) - interval '239 seconds', '10.0.0.1'))").arg(w1));
    db->exec(QStringLiteral(R"(INSERT INTO "SessionTable" VALUES (%1, 8, '2026-01-02 03:04:05', '2026-01-02 05:06:07', NULL))").arg(h1));

    const CgiResult all = callAsAdmin("Get_UsersTable", {{"CompanyId", "null"}});
    ASSERT_CODE(all, 0);
    ASSERT_EQ(all.data().size(), 3);
    QMap<QString, QJsonObject> byLogin;
    for (const QJsonValue& row : all.data()) {
        byLogin.insert(row["login"].toString(), row.toObject());
    }
    const QJsonObject w = byLogin.value("w1");
    const QJsonObject h = byLogin.value("h1");
    EXPECT_EQ(w["companyName"].toString(), "Water");
    EXPECT_EQ(w["companyId"].toInt(), water);
    EXPECT_EQ(w["userType"].toInt(), 130);
    EXPECT_EQ(w["mail"].toString(), "");
    EXPECT_EQ(w["sessionStatus"].toString(), QStringLiteral("В сети"));
    EXPECT_EQ(w["sessionLast"].toString(), QStringLiteral("Вход: 2026-01-02 03:04:05\nIP: 10.0.0.1"));
    EXPECT_EQ(h["sessionStatus"].toString(), QStringLiteral("Не в сети"));
    EXPECT_EQ(h["sessionLast"].toString(),
              QStringLiteral("Вход: 2026-01-02 03:04:05\nВыход: 2026-01-02 05:06:07\nIP: "));
    // Ordered by company, accounts without one last.
    EXPECT_EQ(all.row(0)["login"].toString(), "w1");
    EXPECT_EQ(all.row(2)["login"].toString(), "admin");
    EXPECT_EQ(byLogin.value("admin")["sessionLast"].toString(), "");
    EXPECT_EQ(byLogin.value("admin")["dateReg"].toString().size(), 10);

    EXPECT_EQ(callAsAdmin("Get_UsersTable", {{"CompanyId", "0"}}).data().size(), 1);
    EXPECT_EQ(callAsAdmin("Get_UsersTable", {{"CompanyId", QString::number(heat)}}).data().size(), 1);
    EXPECT_EQ(callAsAdmin("Get_UsersTable", {{"UserType", " 0x82 "}}).row()["login"].toString(), "w1");
    EXPECT_EQ(callAsAdmin("Get_UsersTable", {{"Login", "1"}}).data().size(), 2);
    EXPECT_EQ(callAsAdmin("Get_UsersTable", {{"Login", "%"}, {"Status", "2"}}).data().size(), 0);
    // A company administrator sees his company only, whatever he asks for.
    const CgiResult scoped = call(createUser("wa", 129, water), "Get_UsersTable", {{"CompanyId", "0"}});
    ASSERT_CODE(scoped, 0);
    EXPECT_EQ(scoped.data().size(), 2);
}

TEST_F(Users, ListRefusalsNameTheSourceLine)
{
    const CgiResult badType = callAsAdmin("Get_UsersTable", {{"UserType", "5a"}});
    EXPECT_CODE(badType, 276);
    EXPECT_TRUE(badType.log.contains(QStringLiteral("[err] Файл:строка > cgi/client/users:")));
    EXPECT_CODE(callAsAdmin("Get_UsersTable", {{"Status", "x"}}), 160);
    EXPECT_CODE(callAsAdmin("Get_UsersTable", {{"CompanyId", "abc"}}), 221);
    EXPECT_CODE(call(createUser("op", 130, water), "Get_UsersTable"), 143);
}

TEST_F(Users, TwoSessionsListTheAccountTwice)
{
    createUser("twice", 3);
    const qint64 id = userId("twice");
    db->exec(R"(ALTER TABLE "SessionTable" DROP CONSTRAINT "SessionTable_pkey")");
    db->exec(QStringLiteral(R"(INSERT INTO "SessionTable" VALUES (%1, 1, now(), now(), 'a'), (%1, 2, now(), now(), 'b'))").arg(id));
    EXPECT_EQ(callAsAdmin("Get_UsersTable", {{"Login", "twice"}}).data().size(), 2);
}

TEST_F(Users, AddUserStoresWhatWasSentInTheRightCompany)
{
    const CgiResult added = callAsAdmin("Add_User", {{"Login", "anna"}, {"Pas", "s'ecret"}, {"Status", "1"},
                                                     {"UserType", "0x83"}, {"CompanyId", QString::number(heat)},
                                                     {"Mail", "a@x.org"}});
    ASSERT_CODE(added, 0);
    EXPECT_EQ(added.resultType(), "OK");
    EXPECT_TRUE(added.data().isEmpty());
    EXPECT_EQ(added.idNumber(), userId("anna"));
    EXPECT_EQ(rowText(QStringLiteral(R"(SELECT concat_ws('|', "PasHash", "Mail", coalesce("Phone", 'null'), "Status", "UserType", "CompanyId", coalesce("Note", 'null')) FROM "UserTable" WHERE "Login"='anna')")),
              tarn::md5Hex("s'ecret") + QStringLiteral("|a@x.org|null|1|131|%1|null").arg(heat));
    EXPECT_LT(db->scalar(R"(SELECT abs(extract(epoch from "DateReg" - timezone('utc', now()))) FROM "UserTable" WHERE "Login"='anna')").toDouble(), 60);
    // The new account can log in at once.
    EXPECT_CODE(call(tokenFor("anna", "s'ecret"), "Get_UserData"), 0);

    const QString companyAdmin = createUser("boss", 129, water);
    ASSERT_CODE(call(companyAdmin, "Add_User", {{"Login", "bob"}, {"Pas", "p"}, {"Status", "1"}, {"UserType", "131"},
                                                {"CompanyId", QString::number(heat)}}), 0);
    EXPECT_EQ(db->scalar(R"(SELECT "CompanyId" FROM "UserTable" WHERE "Login"='bob')").toLongLong(), water);
    ASSERT_CODE(callAsAdmin("Add_User", {{"Login", "nocomp"}, {"Pas", "p"}, {"Status", "1"}, {"UserType", "3"},
                                         {"CompanyId", "NULL"}}), 0);
    EXPECT_TRUE(db->scalar(R"(SELECT "CompanyId" FROM "UserTable" WHERE "Login"='nocomp')").isNull());
}

TEST_F(Users, AddUserRefusalsInTheirOrder)
{
    const Params full{{"Login", "anna"}, {"Pas", "p"}, {"Status", "1"}, {"UserType", "3"}};
    const auto without = [&](const QString& name) {
        Params params;
        for (const auto& p : full) {
            if (p.first != name) {
                params << p;
            }
        }
        return params;
    };
    EXPECT_CODE(callAsAdmin("Add_User", without("Login")), 284);
    EXPECT_CODE(callAsAdmin("Add_User", without("Pas")), 218);
    EXPECT_CODE(callAsAdmin("Add_User", without("Status")), 9);
    EXPECT_CODE(callAsAdmin("Add_User", without("UserType")), 276);
    EXPECT_CODE(callAsAdmin("Add_User", without("Status") << qMakePair(QString("Status"), QString("-1"))), 160);
    EXPECT_CODE(callAsAdmin("Add_User", full + Params{{"CompanyId", "x"}}), 221);
    EXPECT_CODE(callAsAdmin("Add_User", {{"Login", "admin"}}), 154);
    EXPECT_CODE(call(createUser("op", 130, water), "Add_User", full), 143);
    EXPECT_EQ(db->count(R"(SELECT count(*) FROM "UserTable" WHERE "Login"='anna')"), 0);
}

TEST_F(Users, UpdateRewritesTheAlwaysSentFields)
{
    createUser("kate", 3);
    const QString id = QString::number(userId("kate"));
    db->exec(R"(UPDATE "UserTable" SET "Mail"='k@x', "Phone"='123', "Note"='n' WHERE "Login"='kate')");
    ASSERT_CODE(callAsAdmin("Upd_User", {{"UserId", id}, {"Status", "2"}}), 0);
    EXPECT_EQ(rowText(R"(SELECT concat_ws('|', coalesce("Mail", 'null'), coalesce("Phone", 'null'), coalesce("Note", 'null'), "Status") FROM "UserTable" WHERE "Login"='kate')"),
              "null|null|null|2");
    ASSERT_CODE(callAsAdmin("Upd_User", {{"UserId", id}, {"Login", "kate"}, {"Pas", "new"}, {"Mail", "nUlL"},
                                         {"Phone", "7"}, {"Note", "x"}, {"UserType", "4"}, {"CompanyId", QString::number(water)}}), 0);
    EXPECT_EQ(rowText(R"(SELECT concat_ws('|', "PasHash", coalesce("Mail", 'null'), "Phone", "Note", "UserType", "CompanyId") FROM "UserTable" WHERE "Login"='kate')"),
              tarn::md5Hex("new") + QStringLiteral("|null|7|x|4|%1").arg(water));
    ASSERT_CODE(callAsAdmin("Upd_User", {{"UserId", id}, {"CompanyId", "0"}}), 0);
    EXPECT_TRUE(db->scalar(R"(SELECT "CompanyId" FROM "UserTable" WHERE "Login"='kate')").isNull());
    EXPECT_CODE(callAsAdmin("Upd_User", {{"UserId", id}, {"Login", "admin"}}), 154);
    EXPECT_CODE(callAsAdmin("Upd_User", {{"UserId", id}, {"CompanyId", "-4"}}), 221);
    EXPECT_CODE(callAsAdmin("Upd_User", {{"UserId", "99999"}}), 275);
    EXPECT_CODE(callAsAdmin("Upd_User", {}), 149);
    EXPECT_CODE(callAsAdmin("Upd_User", {{"UserId", "k"}}), 268);
}

TEST_F(Users, UpdateRightsFollowTypesAndCompanies)
{
    createUser("top", 1);
    const QString admin2 = createUser("admin2", 2);
    EXPECT_CODE(call(admin2, "Upd_User", {{"UserId", QString::number(userId("top"))}}), 143);
    EXPECT_CODE(call(admin2, "Upd_User", {{"UserId", QString::number(userId("admin2"))}, {"UserType", "1"}}), 143);
    // Anybody may change his own account, a company user included.
    const QString clerk = createUser("clerk", 131, water);
    EXPECT_CODE(call(clerk, "Upd_User", {{"UserId", QString::number(userId("clerk"))}, {"Phone", "5"}}), 0);
    EXPECT_CODE(call(clerk, "Upd_User", {{"UserId", QString::number(userId("admin2"))}}), 143);
    // A company administrator reaches his own company's accounts only, and cannot move them.
    const QString boss = createUser("boss", 129, water);
    createUser("otherAdmin", 129, heat);
    createUser("loose", 130);
    EXPECT_CODE(call(boss, "Upd_User", {{"UserId", QString::number(userId("otherAdmin"))}, {"Pas", "x"}}), 143);
    EXPECT_CODE(call(boss, "Upd_User", {{"UserId", QString::number(userId("loose"))}, {"Pas", "x"}}), 143);
    EXPECT_EQ(rowText(R"(SELECT "PasHash" FROM "UserTable" WHERE "Login"='otherAdmin')"), tarn::md5Hex("pw-otherAdmin"));
    EXPECT_CODE(call(boss, "Upd_User", {{"UserId", QString::number(userId("clerk"))}, {"CompanyId", QString::number(heat)}}), 0);
    EXPECT_EQ(db->scalar(R"(SELECT "CompanyId" FROM "UserTable" WHERE "Login"='clerk')").toLongLong(), water);
}

TEST_F(Users, DeleteRemovesSessionsAndRespectsCompanies)
{
    createUser("gone", 3);
    const qint64 gone = userId("gone");
    db->exec(QStringLiteral(R"(INSERT INTO "SessionTable" VALUES (%1, 1, now(), now(), 'a'))").arg(gone));
    ASSERT_CODE(callAsAdmin("Del_User", {{"UserId", QString::number(gone)}}), 0);
    EXPECT_EQ(db->count(QStringLiteral(R"(SELECT count(*) FROM "UserTable" WHERE "Id"=%1)").arg(gone)), 0);
    EXPECT_EQ(db->count(R"(SELECT count(*) FROM "SessionTable")"), 0);

    const QString boss = createUser("boss", 129, water);
    createUser("mine", 130, water);
    createUser("theirs", 130, heat);
    createUser("loose", 130);
    EXPECT_CODE(call(boss, "Del_User", {{"UserId", QString::number(userId("theirs"))}}), 143);
    EXPECT_CODE(call(boss, "Del_User", {{"UserId", QString::number(userId("loose"))}}), 143);
    EXPECT_CODE(call(boss, "Del_User", {{"UserId", QString::number(userId("mine"))}}), 0);
    EXPECT_CODE(call(createUser("admin2", 2), "Del_User", {{"UserId", QString::number(userId("top"))}}), 275);
    createUser("top", 1);
    EXPECT_CODE(call(tokenFor("admin2", "pw-admin2"), "Del_User", {{"UserId", QString::number(userId("top"))}}), 143);
    EXPECT_CODE(call(createUser("op", 131, water), "Del_User", {{"UserId", "1"}}), 143);
}

TEST_F(Users, ConcurrentAddsOfOneLoginLeaveOneAccount)
{
    QList<Params> requests;
    for (int i = 0; i < 8; ++i) {
        requests << Params{{"CMD", "Add_User"}, {"Auth", adminToken()}, {"Login", "race"}, {"Pas", "p"},
                           {"Status", "1"}, {"UserType", "3"}};
    }
    QString logs;
    QMap<int, int> codes;
    for (const CgiResult& r : cgi->postConcurrently(requests, &logs)) {
        codes[r.errorCode()]++;
    }
    EXPECT_EQ(codes.value(0), 1);
    EXPECT_EQ(codes.value(154), 7);
    EXPECT_EQ(db->count(R"(SELECT count(*) FROM "UserTable" WHERE "Login"='race')"), 1);
}

} // namespace
