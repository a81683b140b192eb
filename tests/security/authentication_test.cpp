#include "support/pgfixture.h"

#include "security/authentication.h"

#include <QDir>
#include <QFile>

using namespace testing_support;

namespace {

class Authentication : public DbTest {};

TEST_F(Authentication, PasswordLogInGivesATokenThatOtherCommandsAccept)
{
    const CgiResult login = cgi->post({{"CMD", "Get_UserData"}, {"Login", " admin "}, {"Password", "tulip"}});
    ASSERT_CODE(login, 0);
    EXPECT_EQ(login.resultType(), "TABLE");
    const QJsonObject profile = login.row();
    EXPECT_EQ(profile["login"].toString(), "admin");
    EXPECT_EQ(profile["userType"].toInt(), 2);
    EXPECT_EQ(profile["status"].toInt(), 1);
    EXPECT_EQ(profile["authToken"].toString(), adminToken());
    EXPECT_EQ(profile["datePas"].toString(), "");
    EXPECT_FALSE(profile.contains("companyId"));

    const CgiResult again = call(profile["authToken"].toString(), "Get_UserData");
    ASSERT_CODE(again, 0);
    EXPECT_EQ(again.row()["id"], profile["id"]);
    EXPECT_EQ(again.row()["authToken"].toString(), adminToken());
    EXPECT_CODE(call(profile["authToken"].toString(), "Get_UsersTable"), 0);
}

TEST_F(Authentication, MailLogInContinuesUnderTheAccountsLogin)
{
    initSchema();
    db->exec(R"(UPDATE "UserTable" SET "Mail"='boss@example.org' WHERE "Login"='admin')");
    const CgiResult r = call(tokenFor("boss@example.org", "tulip"), "Get_UserData");
    ASSERT_CODE(r, 0);
    EXPECT_EQ(r.row()["login"].toString(), "admin");
    EXPECT_EQ(r.row()["mail"].toString(), "boss@example.org");
}

TEST_F(Authentication, RefusalsByPasswordAndStatus)
{
    initSchema();
    EXPECT_CODE(call(tokenFor("admin", "wrong"), "Get_UserData"), 139);
    EXPECT_CODE(call(tokenFor("nobody", "tulip"), "Get_UserData"), 139);
    EXPECT_CODE(call(createUser("fresh", 3, 0, 0), "Get_UserData"), 212);
    EXPECT_CODE(call(createUser("off", 3, 0, 2), "Get_UserData"), 140);
    EXPECT_CODE(call(createUser("odd", 3, 0, 7), "Get_UserData"), 233);
    // A quote in the login never changes the statement.
    EXPECT_CODE(call(tokenFor("x' OR '1'='1", "tulip"), "Get_UserData"), 139);
    EXPECT_CODE(call(tokenFor("admin'--", "tulip"), "Get_UserData"), 139);
}

TEST_F(Authentication, CompanyBoundProfileCarriesItsCompany)
{
    initSchema();
    db->exec(R"(INSERT INTO "CompanyTable" ("Id", "Name") VALUES (26, 'Водоканал'))");
    const CgiResult r = call(createUser("clerk", 130, 26), "Get_UserData");
    ASSERT_CODE(r, 0);
    EXPECT_EQ(r.row()["companyId"].toInt(), 26);
    EXPECT_EQ(r.row()["companyName"].toString(), QStringLiteral("Водоканал"));
    EXPECT_TRUE(r.row().contains("sotrudnikId"));
    EXPECT_TRUE(r.row().contains("accessType"));
}

TEST_F(Authentication, AvatarUrlOnlyWhenThePictureExists)
{
    initSchema();
    EXPECT_EQ(orvela::avatarFileName(26), "000000000000001A.png");
    const Environment server{{"REQUEST_SCHEME", "https"}, {"SERVER_NAME", "meters.example"},
                             {"CONTEXT_PREFIX", "/api"}};
    const Params params{{"CMD", "Get_UserData"}, {"Auth", adminToken()}};
    EXPECT_EQ(cgi->post(params, server).row()["avatarURL"].toString(), "");
    QDir().mkpath(cgi->root() + "images/avatar");
    QFile(cgi->root() + "images/avatar/0000000000000001.png").open(QIODevice::WriteOnly);
    EXPECT_EQ(cgi->post(params, server).row()["avatarURL"].toString(),
              "https://meters.example/api/images/avatar/0000000000000001.png");
}

} // namespace
