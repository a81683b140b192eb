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

    CgiResult profile() const
    {
        return persistent->post({{"CMD", "Get_UserData"}, {"Auth", adminToken()}});
    }

    // A change that waits for a row lock held by the test's own transaction, so that it is
    // being served when the test acts on the process.
    QProcess* startHeldChange()
    {
        createUser(QStringLiteral("held"), 2);
        db->connection().transaction();
        db->exec(QStringLiteral(R"(SELECT 1 FROM "UserTable" WHERE "Login"='held' FOR UPDATE)"));
        QProcess* held = persistent->startPost({{"CMD", "Upd_User"}, {"Auth", adminToken()},
                                                {"UserId", QString::number(userId(QStringLiteral("held")))},
                                                {"Status", "2"}});
        EXPECT_FALSE(held->waitForFinished(500)) << "the change waits for the row lock";
        return held;
    }

    // lighttpd starts a new process for a dead one when a request comes.
    CgiResult firstServedAfterRestart() const
    {
        CgiResult next;
        for (int attempt = 0; attempt < 50 && next.errorCode() != 0; ++attempt) {
            next = profile();
            QThread::msleep(next.errorCode() == 0 ? 0 : 100);
        }
        return next;
    }

    std::unique_ptr<CgiInstall> persistent;
};

// Requests of two companies' accounts, bad tokens, GET and POST, form, JSON and multipart
// bodies, refusals and failing commands take turns in one process; every answer is the one
// a CGI process gives to the same request, and every request has a log file of its own.
TEST_F(Persistent, TwoThousandMixedRequestsAnswerAsCgiProcessesInOneProcess)
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

    const qint64 pid = persistent->front().backendPid();
    ASSERT_GT(pid, 0);
    const int logsBefore = persistent->logFiles().size();
    constexpr int kRequests = 2000;
    for (int i = 0; i < kRequests; ++i) {
        const Named& named = requests[i % std::size(requests)];
        ASSERT_EQ(comparable(viaFront(named.request)), cgiAnswers.at(i % std::size(requests)))
            << "request " << i << ": " << named.name;
    }
    EXPECT_EQ(persistent->front().backendPid(), pid) << "one process served every request";
    EXPECT_EQ(persistent->logFiles().size() - logsBefore, kRequests);
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

// A process that dies takes only its own request with it: lighttpd starts another one, which
// answers the next request.
TEST_F(Persistent, ADeadProcessCostsOnlyItsRequest)
{
    EXPECT_CODE(profile(), 0);
    const qint64 first = persistent->front().backendPid();
    ASSERT_GT(first, 0); // kill(0) would hit the whole process group
    QProcess* held = startHeldChange();
    ::kill(static_cast<pid_t>(first), kCrashSignal);
    const CgiResult lost = persistent->finish(held, {});
    db->connection().rollback();
    EXPECT_LT(lost.errorCode(), 0) << "the web server answers for the crashed request";
    EXPECT_CODE(firstServedAfterRestart(), 0);
    EXPECT_NE(persistent->front().backendPid(), first);
}

// The web server's stop signal lets the request being served finish before the process ends.
TEST_F(Persistent, StopSignalLetsTheRequestBeingServedFinish)
{
    EXPECT_CODE(profile(), 0);
    const qint64 first = persistent->front().backendPid();
    ASSERT_GT(first, 0);
    QProcess* held = startHeldChange();
    ::kill(static_cast<pid_t>(first), SIGTERM);
    EXPECT_FALSE(held->waitForFinished(300)) << "still waiting for the lock";
    db->connection().commit();
    EXPECT_CODE(persistent->finish(held, {}), 0);
    for (int attempt = 0; attempt < 100 && QFile::exists(QStringLiteral("/proc/%1/stat").arg(first)); ++attempt) {
        QThread::msleep(50);
    }
    EXPECT_FALSE(QFile::exists(QStringLiteral("/proc/%1/stat").arg(first))) << "the process ended";
    EXPECT_CODE(firstServedAfterRestart(), 0);
}

TEST(KeptConnectionSchedule, SchemaCheckIsDueHourlyAndInANewYear)
{
    orvela::KeptConnection connection;
    const QDateTime checked(QDate(2026, 12, 31), QTime(23, 0), Qt::UTC);
    EXPECT_TRUE(connection.schemaCheckDue(checked)) << "never checked";
    connection.schemaChecked(checked);
    EXPECT_FALSE(connection.schemaCheckDue(checked.addSecs(59 * 60)));
    EXPECT_TRUE(connection.schemaCheckDue(checked.addSecs(60 * 60)));
    // Checked at 23:30: one minute past midnight is a new year, though not an hour later.
    connection.schemaChecked(checked.addSecs(30 * 60));
    EXPECT_FALSE(connection.schemaCheckDue(checked.addSecs(59 * 60)));
    EXPECT_TRUE(connection.schemaCheckDue(checked.addSecs(61 * 60))) << "a new year";
    EXPECT_TRUE(connection.schemaCheckDue(checked.addSecs(-3600))) << "the clock went back";
}

// Resident memory after 20,000 requests stays within 10 % of what it was after 1,000; in the
// high-rate log layout they leave one file (two if the run passes midnight UTC).
TEST_F(Persistent, MemoryAndLogFilesDoNotGrowWithRequests)
{
    SKIP_UNLESS_MEMORY_MEASURED();
    QMap<QString, QString> settings = PgServer::serverConfig(db->name());
    settings.insert(QStringLiteral("log_layout"), QStringLiteral("process"));
    persistent->writeServerConfig(settings);
    const QString water = createUser(QStringLiteral("wadmin"), 129, this->water);
    const Request requests[] = {
        formRequest({{"CMD", "Get_UserData"}, {"Auth", water}}),
        getRequest({{"CMD", "Get_AddressTable"}, {"Auth", water}}),
        getRequest({{"CMD", "Get_UserData"}, {"Auth", "00"}}),
        multipartRequest({{"CMD", "Add_Address"}, {"Auth", water}}),
    };
    QList<QByteArray> http;
    for (const Request& request : requests) {
        http << QByteArray();
        ASSERT_TRUE(CgiInstall::httpRequestFor(request.environment, request.body, &http.last()));
    }
    const QString socket = persistent->front().socketPath();
    // The web server starts its process on its own time: the first answer proves it runs.
    ASSERT_TRUE(httpExchange(socket, http.first()).contains("\"errorCode\""));
    const qint64 pid = persistent->front().backendPid();
    ASSERT_GT(pid, 0);
    qint64 afterThousand = 0;
    for (int i = 1; i <= 20000; ++i) {
        const QByteArray response = httpExchange(socket, http.at(i % http.size()));
        ASSERT_TRUE(response.contains("\"errorCode\"")) << i << response.constData();
        if (i == 1000) {
            afterThousand = residentKb(pid);
        }
    }
    const qint64 afterAll = residentKb(pid);
    EXPECT_EQ(persistent->front().backendPid(), pid);
    EXPECT_LE(afterAll, afterThousand * 11 / 10) << afterThousand << " kB after 1,000, " << afterAll << " kB after 20,000";
    EXPECT_LE(persistent->logFiles().size(), 2) << qPrintable(persistent->logFiles().join('\n'));
}

QString pgcluster(const QString& action, const QString& dir, const QString& port = QString())
{
    QProcess script;
    script.start(QStringLiteral(ORVELA_PGCLUSTER_SCRIPT),
                 QStringList{action, dir} + (port.isEmpty() ? QStringList() : QStringList{port}));
    script.waitForFinished(180000);
    return QString::fromLatin1(script.readAllStandardOutput().trimmed());
}

// PostgreSQL stopped and started under a running process: a request waiting inside the
// database fails with its statement's code, those that come while it is down with the
// connection code, and the first after its start is served by the same process. The
// cluster is this test's own, so that the rest of the run keeps its server.
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

    QSqlDatabase holder = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), QStringLiteral("reconnect_holder"));
    holder.setHostName(QStringLiteral("127.0.0.1"));
    holder.setPort(port.toInt());
    holder.setDatabaseName(QStringLiteral("orvela"));
    holder.setUserName(QStringLiteral("orvela"));
    holder.setPassword(PgServer::password());
    ASSERT_TRUE(holder.open());
    holder.transaction();
    QSqlQuery(holder).exec(QStringLiteral(R"(SELECT 1 FROM "UserTable" WHERE "Login"='admin' FOR UPDATE)"));
    // The cluster outlives a run: a phone of this run's own tells whether this change went through.
    const QString newPhone = QString::number(QDateTime::currentMSecsSinceEpoch());
    QProcess* inFlight = install.startPost({{"CMD", "Upd_User"}, {"Auth", tokenFor("admin", "tulip")},
                                            {"UserId", "1"}, {"Phone", newPhone}});
    EXPECT_FALSE(inFlight->waitForFinished(500)) << "the change waits inside the database";

    pgcluster(QStringLiteral("stop"), dir);
    // The stop ends the holder's session too, which may free the row an instant before the
    // waiting change is ended: then the change went through. Either way its answer is true.
    const CgiResult inFlightAnswer = install.finish(inFlight, {});
    EXPECT_CODE(install.get(login), 20);

    ASSERT_EQ(pgcluster(QStringLiteral("start"), dir, port), port);
    holder.close();
    ASSERT_TRUE(holder.open());
    QSqlQuery phone(holder);
    ASSERT_TRUE(phone.exec(QStringLiteral(R"(SELECT "Phone" FROM "UserTable" WHERE "Id"=1)")) && phone.next());
    EXPECT_EQ(phone.value(0).toString() == newPhone, inFlightAnswer.errorCode() == 0)
        << qPrintable(inFlightAnswer.describe());
    EXPECT_CODE(install.get(login), 0);
    EXPECT_CODE(install.post({{"CMD", "Get_UsersTable"}, {"Auth", tokenFor("admin", "tulip")}}), 0);
    EXPECT_EQ(install.front().backendPid(), pid) << "the same process reconnected";

    // A restart between two requests ends the idle kept connection; the next request notices
    // it before its first statement and is served on a new one.
    pgcluster(QStringLiteral("stop"), dir);
    ASSERT_EQ(pgcluster(QStringLiteral("start"), dir, port), port);
    EXPECT_CODE(install.get(login), 0);
    EXPECT_EQ(install.front().backendPid(), pid);

    holder.close();
    holder = QSqlDatabase();
    QSqlDatabase::removeDatabase(QStringLiteral("reconnect_holder"));
    pgcluster(QStringLiteral("stop"), dir);
}

} // namespace
