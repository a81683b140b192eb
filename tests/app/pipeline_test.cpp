// The program as a CGI process: command-line mode, the transport policy, the built-in
// commands, the envelope, the credentials and command checks that need no database.
#include "support/pgfixture.h"
#include "support/sanitized.h"

#include "security/crypto.h"

#include <QDir>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <sys/resource.h>

using namespace testing_support;

namespace {

class Pipeline : public ::testing::Test {
protected:
    CgiInstall cgi;
    const QString token = tokenFor(QStringLiteral("admin"), QStringLiteral("tulip"));
};

TEST_F(Pipeline, TestCommandAnswersWithExactHeadersEnvelopeAndLog)
{
    const CgiResult r = cgi.get({{"CMD", " TEST "}});
    const QByteArray expectedBody =
        QStringLiteral(R"({"info":{"errorCode":0,"errorText":"OK.","resultType":"INFO",)"
                       R"("serverDateTime":"%1","serverRelease":"2021-07-15",)"
                       R"("serverSoftVer":"2.0.21.0715"},"text":"Версия ПО: 2.0.21.0715, )"
                       R"(Дата релиза: 2021-07-15."})")
            .arg(r.json["info"].toObject()["serverDateTime"].toString())
            .toUtf8();
    EXPECT_EQ(r.body, expectedBody);
    EXPECT_EQ(r.headerLines, (QList<QByteArray>{"Content-Length: " + QByteArray::number(expectedBody.size()),
                                                "Content-Type: application/json;charset=utf-8"}));
    QStringList lines = r.logLines();
    for (QString& line : lines) {
        line.remove(0, 14); // "[HH:mm:ss.zzz]"
    }
    ASSERT_GE(lines.size(), 13) << qPrintable(r.log);
    EXPECT_TRUE(lines[0].startsWith(QStringLiteral("[inf] ----- Начало работы -----")));
    EXPECT_EQ(lines[1], QStringLiteral("[inf] Текущий скрипт: ") + cgi.binary());
    EXPECT_EQ(lines.mid(2, 11),
              (QStringList{QStringLiteral("[inf] Отладочная информация отключена."),
                           QStringLiteral("[inf] Версия ПО: 2.0.21.0715"),
                           QStringLiteral("[inf] Чтение HTTP запроса."),
                           QStringLiteral("[inf] Чтение HTTP запроса завершено успешно."),
                           QStringLiteral("[inf] Команда для проверки."),
                           QStringLiteral("[txt] Версия ПО: 2.0.21.0715, Дата релиза: 2021-07-15."),
                           QStringLiteral("[inf] Отправка ответа: INFO"),
                           QStringLiteral("[inf] Отправка HTTP ответа."),
                           QStringLiteral("[inf] Отправка HTTP ответа завершена успешно."),
                           lines[11], lines[12]}));
    EXPECT_TRUE(QRegularExpression(QStringLiteral(
                    R"(^\[inf\] Время на обработку запроса и отправку ответа составило [1-9]\d* мсек\.$)"))
                    .match(lines[11]).hasMatch()) << qPrintable(lines[11]);
    EXPECT_TRUE(lines[12].startsWith(QStringLiteral("[inf] ----- Окончание. Время работы: ")));
}

TEST_F(Pipeline, ServerTimeAndDebugCommands)
{
    for (const char* name : {"get_servertime", "GetServerTime", "servertime"}) {
        const CgiResult r = cgi.get({{"CMD", QString::fromLatin1(name)}});
        EXPECT_EQ(r.resultType(), "INFO");
        EXPECT_TRUE(r.text().startsWith(QStringLiteral("Время сервера UTC: "))) << qPrintable(r.text());
        EXPECT_TRUE(r.log.contains(QStringLiteral("[inf] Команда проверки времени сервера.")));
    }
    const CgiResult debug = cgi.get({{"CMD", "debug"}});
    EXPECT_EQ(debug.text(), "Hello, world!");
}

TEST_F(Pipeline, TransportPolicyComesBeforeTheTestCommands)
{
    cgi.writeServerConfig({{"https_only", "true"}, {"get_enable", "false"}});
    const CgiResult plain = cgi.post({{"CMD", "test"}});
    EXPECT_CODE(plain, 130);
    EXPECT_TRUE(plain.log.contains(
        QStringLiteral("[err] Ошибка 0x0082: Разрешены только защищенные HTTPS соединения.")));
    EXPECT_CODE(cgi.post({{"CMD", "test"}}, {{"HTTPS", "off"}}), 0);
    EXPECT_CODE(cgi.get({{"CMD", "test"}}, {{"HTTPS", "on"}}), 25);
}

TEST_F(Pipeline, OriginHeaderOnlyFromANonEmptyOriginVariable)
{
    const CgiResult with = cgi.get({{"CMD", "test"}}, {{"ORIGIN", "https://web.example"}});
    EXPECT_EQ(with.headerLines.value(0), "Access-Control-Allow-Origin: https://web.example");
    // An answer that names the caller's origin says that it varies by origin.
    EXPECT_TRUE(with.headerLines.contains("Vary: Origin")) << with.output.left(300).constData();
    for (const Environment& env : {Environment{{"ORIGIN", ""}}, Environment{{"HTTP_ORIGIN", "x"}}}) {
        const CgiResult without = cgi.get({{"CMD", "test"}}, env);
        EXPECT_EQ(without.headerLines.size(), 2) << without.output.left(300).constData();
    }
}

TEST_F(Pipeline, CredentialsAreCheckedBeforeTheCommand)
{
    struct Case {
        Params params;
        int code;
    };
    const QString shortHash = tokenFor("admin", "x").left(30);
    QByteArray blankCipher;
    tarn::Crypto().encryptData("    ", QStringLiteral("quartz"), &blankCipher);
    const Case cases[] = {
        {{{"CMD", "Get_UsersTable"}}, 136},
        {{{"CMD", "Get_UsersTable"}, {"Auth", shortHash}}, 134},
        {{{"CMD", "Get_UsersTable"}, {"Auth", QString(32, '0')}}, 135},
        {{{"CMD", "Get_UsersTable"}, {"Auth", QString::fromLatin1(blankCipher.toHex())}}, 137},
        {{{"Auth", token}}, 2},
        {{{"CMD", "Get_UsersTable "}, {"Auth", token}}, 1},
        {{{"CMD", "get_userdata"}, {"Auth", token}}, 1},
        {{{"CMD", "Get_AbonentData"}, {"Login", "a"}, {"Password", "b"}}, 1},
    };
    for (const Case& c : cases) {
        const CgiResult r = cgi.post(c.params);
        EXPECT_CODE(r, c.code);
        EXPECT_EQ(r.resultType(), "ERROR");
    }
    EXPECT_TRUE(cgi.post({{"Auth", token}}).log.contains(
        QStringLiteral("[err] Не найден основной параметр запроса 'CMD'.")));
    // The code's text names "AuthData"; the answer names the parameter clients send.
    EXPECT_TRUE(cgi.post({{"CMD", "Get_UsersTable"}}).text().contains(QStringLiteral("параметр Auth.")));
}

TEST_F(Pipeline, UnitAndPrecisionParametersAreCheckedBeforeTheDatabase)
{
    struct Case {
        const char* name;
        const char* value;
        int code;
    };
    const Case cases[] = {{"EdTeplo", "3", 271},       {"EdElectro", "x", 272},
                          {"EdVoda", "12", 273},       {"EdGas", "0x0A", 0},
                          {"EdGas", "9", 274},         {"PreciseGas", "11", 315},
                          {"PreciseVoda", "-1", 315},  {"PreciseElectro", "abc", 315},
                          {"EdTeplo", "0x22", 0},      {"PreciseTeplo", "10", 0}};
    // No database is configured: a request that passes the checks fails to connect (code 20).
    cgi.writeServerConfig({{"server", "127.0.0.1"}, {"port", "1"}});
    for (const Case& c : cases) {
        const CgiResult r = cgi.post({{"CMD", "Get_UserData"}, {"Auth", token},
                                      {QString::fromLatin1(c.name), QString::fromLatin1(c.value)}});
        EXPECT_CODE(r, c.code == 0 ? 20 : c.code) << c.name << "=" << c.value;
        EXPECT_EQ(r.log.contains(QStringLiteral("[err] Ошибка при подключении к СУБД PostgeSql: ")), c.code == 0);
    }
}

TEST_F(Pipeline, LogSwitchedOffWritesNothingEvenInDebugMode)
{
    cgi.writeServerConfig({{"log", "false"}, {"dbg", "true"}});
    const CgiResult r = cgi.get({{"CMD", "test"}});
    EXPECT_CODE(r, 0);
    EXPECT_FALSE(QDir(cgi.root() + "log").exists());
}

TEST_F(Pipeline, DebugModeTracesTheExchangeWithoutSecrets)
{
    cgi.writeServerConfig({{"dbg", "true"}, {"server", "127.0.0.1"}, {"port", "1"}});
    const CgiResult query = cgi.get({{"CMD", "test"}, {"Password", "s3cret"}});
    EXPECT_TRUE(query.log.contains(QStringLiteral("[dbg] Password = ********")));
    EXPECT_TRUE(query.log.contains(QStringLiteral("[dbg] QUERY_STRING: CMD=test&Password=********")));

    const QJsonArray data{QJsonObject{{"login", "ab"}, {"pas", "s3cret"}}};
    const CgiResult json = cgi.postJson({{"CMD", "Add_Abonents"}, {"Auth", token}, {"DATA", data}});
    EXPECT_TRUE(json.log.contains(QStringLiteral("[dbg] БЛОК 00 = ")));
    EXPECT_TRUE(json.log.contains(QStringLiteral("\"pas\": \"********\"")));
    const CgiResult multipart = cgi.postMultipart(
        {{"CMD", "Upd_User"}, {"Auth", token}, {"Pas", "s3cret"},
         {"DATA", R"([{"login":"ab","pas":"s3cret"}])"}});
    EXPECT_TRUE(multipart.log.contains(QStringLiteral("[dbg] DATA = [{\"login\":\"ab\",\"pas\":\"********\"}]")));
    for (const CgiResult* r : {&query, &json, &multipart}) {
        EXPECT_FALSE(r->log.contains("s3cret")) << qPrintable(r->log);
        EXPECT_FALSE(r->log.contains(token)) << qPrintable(r->log);
        EXPECT_FALSE(r->log.contains(QString::fromLatin1(QByteArray("s3cret").toHex(' ').toUpper())));
        EXPECT_FALSE(r->log.contains(QString::fromLatin1(token.left(8).toLatin1().toHex(' ').toUpper())));
    }
}

// The body limit is a key of the server file; a request past it is refused before its body is
// read, and one at the limit is served within a small multiple of it in memory.
TEST_F(Pipeline, BodyLimitRefusesLargeRequestsAndBoundsMemory)
{
    const CgiResult huge = cgi.run({{"REQUEST_METHOD", "POST"}, {"CONTENT_LENGTH", "52428800"},
                                    {"CONTENT_TYPE", "application/x-www-form-urlencoded"}});
    EXPECT_CODE(huge, 208);
    EXPECT_TRUE(huge.log.contains(QStringLiteral("[err] Размер содержимого запроса превышает допустимый: 16777216 Б.")));

    cgi.writeServerConfig({{"max_body_mb", "1"}});
    const QByteArray form = "application/x-www-form-urlencoded";
    const QByteArray twoMb = "CMD=test&DATA=" + QByteArray(2 * 1024 * 1024, 'a');
    EXPECT_CODE(cgi.run(bodyRequest(form, twoMb)), 208);

    cgi.writeServerConfig({});
    QByteArray full = "CMD=Add_LicAccount&DATA=";
    full += QByteArray(16 * 1024 * 1024 - full.size(), 'a');
    EXPECT_CODE(cgi.run(bodyRequest(form, full)), 136);
    rusage usage{};
    ::getrusage(RUSAGE_CHILDREN, &usage);
    if (kMemoryMeasured) {
        EXPECT_LT(usage.ru_maxrss / 1024, 8 * 16) << "peak resident memory of one request, MB";
    }
}

} // namespace
