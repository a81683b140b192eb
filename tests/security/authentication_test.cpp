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
    EXPECT_EQ(login.row()["login"].toString(), "admin");
    EXPECT_FALSE(login.row().contains("companyId"));
    EXPECT_EQ(login.row()["authToken"].toString(), adminToken());
    EXPECT_CODE(call(login.row()["authToken"].toString(), "Get_UsersTable"), 0);
}

// Two accounts may share a mail: a log-in by that mail always lands on the older one, and
// goes on under its login.
TEST_F(Authentication, ALogInByASharedMailPicksTheOldestAccount)
{
    initSchema();
    createUser("later", 3);
    db->exec(R"(UPDATE "UserTable" SET "Mail"='same@example.org', "PasHash"=md5('pw') WHERE "Login" IN ('admin', 'later'))");
    db->exec(R"(UPDATE "UserTable" SET "Note"='moved' WHERE "Login"='admin')"); // the newer row first on disk
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(call(tokenFor("same@example.org", "pw"), "Get_UserData").row()["login"].toString(), "admin");
    }
}

// What the log-in reads must be what was stored: accounts whose login or password the log-in
// would read differently are refused when they are made.
TEST_F(Authentication, CredentialsAreStoredAsTheLogInReadsThem)
{
    initSchema();
    const Params account{{"Status", "1"}, {"UserType", "3"}};
    EXPECT_CODE(callAsAdmin("Add_User", account + Params{{"Login", "a:b"}, {"Pas", "p"}}), 323);
    EXPECT_CODE(callAsAdmin("Add_User", account + Params{{"Login", " lead"}, {"Pas", "p"}}), 323);
    // A login with "@" is looked up as a mail, by password and by token alike.
    EXPECT_CODE(callAsAdmin("Add_User", account + Params{{"Login", "clerk@home"}, {"Pas", "p"}, {"Mail", "c@x.org"}}), 323);
    EXPECT_CODE(callAsAdmin("Add_User", account + Params{{"Login", "blank"}, {"Pas", " p "}}), 326);
    EXPECT_EQ(db->count(R"(SELECT count(*) FROM "UserTable")"), 1);
    const CgiResult made = callAsAdmin("Add_User", account + Params{{"Login", "inner"}, {"Pas", "two words"}});
    ASSERT_CODE(made, 0);
    EXPECT_CODE(cgi->post({{"CMD", "Get_UserData"}, {"Login", "inner"}, {"Password", "two words"}}), 0);
    EXPECT_CODE(callAsAdmin("Upd_User", {{"UserId", made.id()}, {"Pas", "x "}}), 326);
    EXPECT_CODE(callAsAdmin("Upd_User", {{"UserId", made.id()}, {"Login", "in@ner"}}), 323);
    EXPECT_CODE(cgi->post({{"CMD", "Get_UserData"}, {"Login", "inner"}, {"Password", "two words"}}), 0);
}

// PostgreSQL text cannot hold a NUL: a value with one is refused, never stored changed.
TEST_F(Authentication, NulCharactersAreRefusedWithTheParametersFormatCode)
{
    initSchema();
    using Bytes = QList<QPair<QByteArray, QByteArray>>;
    const QByteArray token = adminToken().toLatin1();
    const struct {
        Bytes params;
        int code;
    } cases[] = {
        {{{"CMD", "Add_User"}, {"Auth", token}, {"Login", "u"}, {"Pas", QByteArray("p\0q", 3)}, {"Status", "1"}, {"UserType", "3"}}, 326},
        {{{"CMD", "Add_Address"}, {"Auth", token}, {"Name", "n"}, {"TimeShift", "0"}, {"PostIndex", QByteArray("1\0", 2)}}, 208},
        {{{"CMD", "Add_LicAccount"}, {"Auth", token}, {"DATA", R"([{"objectId":1,"resCode":1,"name":"a\u0000"}])"}}, 157},
        {{{"CMD", "Get_UserData"}, {"Login", "admin"}, {"Password", QByteArray("tulip\0", 6)}}, 326},
    };
    for (const auto& c : cases) {
        const CgiResult r = cgi->postBytes(c.params);
        EXPECT_CODE(r, c.code) << c.params.at(0).second.constData();
        // A raw NUL is refused before the command runs; "\u0000" inside "DATA" by its reader.
        EXPECT_EQ(r.log.contains(QStringLiteral("[err] Недопустимый символ NUL в параметре ")), c.code != 157) << qPrintable(r.log);
    }
    EXPECT_EQ(db->count(R"(SELECT (SELECT count(*) FROM "UserTable") + (SELECT count(*) FROM "CompanyTable") + (SELECT count(*) FROM "AddressTable"))"), 1);
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
}

TEST_F(Authentication, CompanyBoundProfileCarriesItsCompany)
{
    initSchema();
    db->exec(R"(INSERT INTO "CompanyTable" ("Id", "Name") VALUES (26, 'Водоканал'))");
    const CgiResult r = call(createUser("clerk", 130, 26), "Get_UserData");
    ASSERT_CODE(r, 0);
    EXPECT_EQ(r.row()["companyId"].toInt(), 26);
    EXPECT_EQ(r.row()["companyName"].toString(), QStringLiteral("Водоканал"));
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
