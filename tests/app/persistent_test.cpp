// The persistent mode: one FastCGI process behind lighttpd serves request after request as
// separate CGI processes would, keeps its database connection through a server restart, and
// does not grow.
#include "support/pgfixture.h"
#include "support/sanitized.h"
#include "support/webfront.h"

#include "db/keptconnection.h"

#include <QDateTime>
#include <QFile>
#include <QJsonDocument>
#include <QProcess>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>

using namespace testing_support;

namespace {

struct Named {
    const char* name;
    Request request;
};

// The answer without what legitimately differs between two runs of the same request: the
// moment of the answer ("serverDateTime") and the "Content-Length" that counts its digits
// (they are the same length, but the check should not depend on that).
QByteArray comparable(const CgiResult& result)
{
    QJsonObject json = result.json;
    QJsonObject info = json.value(QStringLiteral("info")).toObject();
    info.remove(QStringLiteral("serverDateTime"));
    json.insert(QStringLiteral("info"), info);
    QList<QByteArray> headers;
    for (const QByteArray& line : result.headerLines) {
        if (!line.startsWith("Content-Length:")) {
            headers << line;
        }
    }
    return headers.join('\n') + '\n' + QJsonDocument(json).toJson(QJsonDocument::Compact);
}

class Persistent : public TwoCompanies {
protected:
    void SetUp() override
    {
        TwoCompanies::SetUp();
        persistent = std::make_unique<CgiInstall>(Exchange::Persistent);
        persistent->writeServerConfig(PgServer::serverConfig(db->name()));
    }
    void TearDown() override
    {
        persistent.reset();
        TwoCompanies::TearDown();
    }

    // Straight to the socket, without a client process: for loops of many requests.
    CgiResult viaFront(const Request& request) const
    {
        QByteArray http;
        EXPECT_TRUE(CgiInstall::httpRequestFor(request.environment, request.body, &http));
        return CgiInstall::resultFromHttp(httpExchange(persistent->front().socketPath(), http));
    }

    std::unique_ptr<CgiInstall> persistent;
};

// Requests of two companies' accounts, bad tokens, GET and POST, form, JSON and multipart
// bodies, refusals and failing commands take turns in one process: every answer is the one a
// CGI process gives to the same request, resident memory after 20,000 of them stays within
// 10 % of what it was after 1,000, and the high-rate log layout leaves one file (two if the
// run passes midnight UTC).
TEST_F(Persistent, MixedRequestsAnswerAsCgiProcessesWithoutGrowing)
{
    const QString water = createUser(QStringLiteral("wadmin"), 129, this->water);
    const QString heat = createUser(QStringLiteral("hadmin"), 129, this->heat);
    address(QStringLiteral("Water street"), this->water);
    const QString heatDevice =
        QString::number(installedDevice(model(), objectOf(this->heat), 4242));
    const Named requests[] = {
        {"water profile", formRequest({{"CMD", "Get_UserData"}, {"Auth", water}})},
        {"heat profile", getRequest({{"CMD", "Get_UserData"}, {"Auth", heat}})},
        {"water addresses", multipartRequest({{"CMD", "Get_AddressTable"}, {"Auth", water}})},
        {"heat addresses", formRequest({{"CMD", "Get_AddressTable"}, {"Auth", heat}})},
        {"bad token", getRequest({{"CMD", "Get_AddressTable"}, {"Auth", "00ff"}})},
        {"water users as JSON", jsonRequest({{"CMD", "Get_UsersTable"}, {"Auth", water}})},
        {"refused device",
         formRequest({{"CMD", "Clear_Task"}, {"Auth", water}, {"DeviceId", heatDevice}})},
        {"log-in",
         getRequest({{"CMD", "Get_UserData"}, {"Login", "hadmin"}, {"Password", "pw-hadmin"}})},
        {"failing change", multipartRequest({{"CMD", "Add_Address"}, {"Auth", heat}})},
        {"wrong password",
         getRequest({{"CMD", "Get_UserData"}, {"Login", "wadmin"}, {"Password", "x"}})},
        {"unknown command", formRequest({{"CMD", "Get_Nothing"}, {"Auth", water}})},
        {"built-in", getRequest({{"CMD", "test"}})},
    };
    QList<QByteArray> cgiAnswers;
    QSet<int> codes;
    for (const Named& named : requests) {
        const CgiResult r = cgi->run(named.request);
        ASSERT_GE(r.errorCode(), 0) << named.name << qPrintable(r.describe());
        codes << r.errorCode();
        cgiAnswers << comparable(r);
    }
    EXPECT_GE(codes.size(), 5) << "the mix must hold refusals and failures, not only successes";

    QMap<QString, QString> settings = PgServer::serverConfig(db->name());
    settings.insert(QStringLiteral("log_layout"), QStringLiteral("process"));
    persistent->writeServerConfig(settings);
    const qint64 pid = persistent->front().backendPid();
    ASSERT_GT(pid, 0);
    qint64 afterThousand = 0;
    for (int i = 1; i <= 20000; ++i) {
        const Named& named = requests[i % std::size(requests)];
        ASSERT_EQ(comparable(viaFront(named.request)), cgiAnswers.at(i % std::size(requests)))
            << "request " << i << ": " << named.name;
        if (i == 1000) {
            afterThousand = residentKb(pid);
        }
    }
    const qint64 afterAll = residentKb(pid);
    EXPECT_EQ(persistent->front().backendPid(), pid) << "one process served every request";
    if (kMemoryMeasured) {
        EXPECT_LE(afterAll, afterThousand * 11 / 10) << afterThousand << " kB after 1,000, " << afterAll << " kB after 20,000";
    }
    EXPECT_LE(persistent->logFiles().size(), 2) << qPrintable(persistent->logFiles().join('\n'));
}

// Each request reads the server file again: a change takes effect with the next request.
TEST_F(Persistent, ServerFileChangesTakeEffectWithTheNextRequest)
{
    const Params request = {{"CMD", "Get_UserData"}, {"Auth", adminToken()}};
    EXPECT_CODE(persistent->get(request), 0);
    QMap<QString, QString> settings = PgServer::serverConfig(db->name());
    settings.insert(QStringLiteral("get_enable"), QStringLiteral("false"));
    persistent->writeServerConfig(settings);
    EXPECT_CODE(persistent->get(request), 25);
    settings.insert(QStringLiteral("get_enable"), QStringLiteral("true"));
    settings.insert(QStringLiteral("db"), QStringLiteral("no_such_database"));
    persistent->writeServerConfig(settings);
    EXPECT_CODE(persistent->get(request), 20);
    settings.insert(QStringLiteral("db"), db->name());
    settings.insert(QStringLiteral("dbg"), QStringLiteral("true"));
    persistent->writeServerConfig(settings);
    const CgiResult back = persistent->get(request);
    EXPECT_CODE(back, 0);
    // A new connection, so the schema check ran again, and the debug records are back.
    EXPECT_TRUE(back.log.contains(QStringLiteral("[dbg] Проверка таблиц БД выполнена.")))
        << qPrintable(back.log);
}

// The web server's stop signal lets the request being served finish before the process ends.
TEST_F(Persistent, StopSignalLetsTheRequestBeingServedFinish)
{
    createUser(QStringLiteral("held"), 2);
    EXPECT_CODE(persistent->post({{"CMD", "Get_UserData"}, {"Auth", adminToken()}}), 0);
    const qint64 first = persistent->front().backendPid();
    ASSERT_GT(first, 0); // kill(0) would hit the whole process group
    // A change that waits for a row lock the test holds, so that it is being served.
    db->connection().transaction();
    db->exec(QStringLiteral(R"(SELECT 1 FROM "UserTable" WHERE "Login"='held' FOR UPDATE)"));
    QProcess* held = persistent->startPost({{"CMD", "Upd_User"}, {"Auth", adminToken()},
                                            {"UserId", QString::number(userId(QStringLiteral("held")))},
                                            {"Status", "2"}});
    EXPECT_FALSE(held->waitForFinished(500)) << "the change waits for the row lock";
    ::kill(static_cast<pid_t>(first), SIGTERM);
    EXPECT_FALSE(held->waitForFinished(300)) << "still waiting for the lock";
    db->connection().commit();
    EXPECT_CODE(persistent->finish(held, {}), 0);
    const QString stat = QStringLiteral("/proc/%1/stat").arg(first);
    for (int attempt = 0; attempt < 100 && QFile::exists(stat); ++attempt) {
        QThread::msleep(50);
    }
    EXPECT_FALSE(QFile::exists(stat)) << "the process ended";
}

TEST(KeptConnectionSchedule, SchemaCheckIsDueHourlyAndInANewYear)
{
    orvela::KeptConnection connection;
    const QDateTime checked(QDate(2026, 12, 31), QTime(22, 0), Qt::UTC);
    EXPECT_TRUE(connection.schemaCheckDue(checked)) << "never checked";
    connection.schemaChecked(checked);
    EXPECT_FALSE(connection.schemaCheckDue(checked.addSecs(60 * 60 - 1)));
    EXPECT_TRUE(connection.schemaCheckDue(checked.addSecs(60 * 60))) << "an hour, the same year";
    // Checked at 23:30: one minute past midnight is a new year, though not an hour later.
    connection.schemaChecked(checked.addSecs(90 * 60));
    EXPECT_FALSE(connection.schemaCheckDue(checked.addSecs(119 * 60)));
    EXPECT_TRUE(connection.schemaCheckDue(checked.addSecs(121 * 60))) << "a new year";
    EXPECT_TRUE(connection.schemaCheckDue(checked.addSecs(-3600))) << "the clock went back";
}

QString pgcluster(const QString& action, const QString& dir, const QString& port = QString())
{
    QProcess script;
    script.start(QStringLiteral(ORVELA_PGCLUSTER_SCRIPT),
                 QStringList{action, dir} + (port.isEmpty() ? QStringList() : QStringList{port}));
    script.waitForFinished(180000);
    return QString::fromLatin1(script.readAllStandardOutput().trimmed());
}

// PostgreSQL stopped and started under a running process: requests while it is down get the
// connection code; the first after its start, and the first after a restart between two
// requests (which ends the idle kept connection), is served by the same process. The cluster
// is this test's own, so that the rest of the run keeps its server.
TEST(PersistentReconnect, ServerRestartCostsOnlyTheRequestsMeanwhile)
{
    const QString dir = QStringLiteral(ORVELA_TEST_TMP "/reconnect-pg");
    const QString port = pgcluster(QStringLiteral("start"), dir);
    ASSERT_GT(port.toInt(), 0);
    CgiInstall install(Exchange::Persistent);
    install.writeServerConfig({{"server", "127.0.0.1"}, {"port", port}, {"db", "orvela"}, {"user", "orvela"},
                               {"password", PgServer::password()}});
    const Params login = {{"CMD", "Get_UserData"}, {"Login", "admin"}, {"Password", "tulip"}};
    ASSERT_CODE(install.get(login), 0);
    const qint64 pid = install.front().backendPid();
    pgcluster(QStringLiteral("stop"), dir);
    EXPECT_CODE(install.get(login), 20);
    ASSERT_EQ(pgcluster(QStringLiteral("start"), dir, port), port);
    EXPECT_CODE(install.get(login), 0);
    pgcluster(QStringLiteral("stop"), dir);
    ASSERT_EQ(pgcluster(QStringLiteral("start"), dir, port), port);
    EXPECT_CODE(install.post({{"CMD", "Get_UsersTable"}, {"Auth", tokenFor("admin", "tulip")}}), 0);
    EXPECT_EQ(install.front().backendPid(), pid) << "the same process reconnected";
    pgcluster(QStringLiteral("stop"), dir);
}

} // namespace
