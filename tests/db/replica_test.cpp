// Reads from a hot standby, through the real program: a primary and a streaming standby of
// this process's own, started once and used by the cases in order (the last promotes the
// standby). Which server answered is told by the servers' own data, never by the program.
#include "support/pgfixture.h"

#include "cgi/client/api.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QThread>
#include <QUuid>

using namespace testing_support;

namespace {

QString clusterScript(const QStringList& arguments)
{
    QProcess script;
    script.start(QStringLiteral(ORVELA_PGCLUSTER_SCRIPT), arguments);
    script.waitForFinished(180000);
    EXPECT_EQ(script.exitCode(), 0) << script.readAllStandardError().constData();
    return QString::fromUtf8(script.readAllStandardOutput()).trimmed();
}

struct Node {
    QString dir;
    QString port;
};

class Replica : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        const QString root = QStringLiteral(ORVELA_TEST_TMP "/replica-") + qEnvironmentVariable("ORVELA_EXCHANGE", "cgi");
        QDir(root).removeRecursively();
        primary = {root + QStringLiteral("/primary"), QString()};
        standby = {root + QStringLiteral("/standby"), QString()};
        primary.port = clusterScript({QStringLiteral("start"), primary.dir});
        standby.port = clusterScript({QStringLiteral("standby"), standby.dir, primary.dir});
    }
    static void TearDownTestSuite()
    {
        clusterScript({QStringLiteral("stop"), standby.dir});
        clusterScript({QStringLiteral("stop"), primary.dir});
    }

    void SetUp() override
    {
        database = QStringLiteral("r_") + QUuid::createUuid().toString(QUuid::Id128).left(16);
        sql(primary, QStringLiteral("CREATE DATABASE ") + database + QStringLiteral(" OWNER orvela"), QStringLiteral("postgres"));
        cgi = std::make_unique<CgiInstall>();
        configure(30);
        const CgiResult login = cgi->get({{"CMD", "Get_UserData"}, {"Login", "admin"}, {"Password", "tulip"}});
        ASSERT_EQ(login.errorCode(), 0) << qPrintable(login.describe());
        awaitOnStandby(QStringLiteral("SELECT count(*) FROM \"UserTable\""), QStringLiteral("1"));
    }
    void TearDown() override
    {
        cgi.reset();
        sql(standby, QStringLiteral("SELECT pg_wal_replay_resume()"), QStringLiteral("postgres"));
        sql(primary, QStringLiteral("DROP DATABASE IF EXISTS ") + database + QStringLiteral(" WITH (FORCE)"), QStringLiteral("postgres"));
    }

    // The program reads from the standby (with this lag bound) and changes on the primary.
    void configure(int lagMax, const QString& servers = QString(), const QString& ports = QString())
    {
        cgi->writeServerConfig({{"server", servers.isEmpty() ? QStringLiteral("127.0.0.1") : servers},
                                {"port", ports.isEmpty() ? primary.port : ports},
                                {"db", database}, {"user", "orvela"}, {"password", PgServer::password()},
                                {"read_server", "127.0.0.1"}, {"read_port", standby.port},
                                {"read_lag_max", QString::number(lagMax)}});
    }

    // A statement run as the superuser through the node's socket; its first value as text.
    QString sql(const Node& node, const QString& statement, const QString& db = QString()) const
    {
        QProcess psql;
        psql.start(QStringLiteral("psql"), {"-X", "-At", "-h", node.dir, "-p", node.port, "-U", "postgres", "-d",
                                            db.isEmpty() ? database : db, "-c", statement});
        psql.waitForFinished(30000);
        return QString::fromUtf8(psql.readAllStandardOutput()).trimmed();
    }

    void awaitOnStandby(const QString& statement, const QString& expected) const
    {
        QElapsedTimer timer;
        timer.start();
        while (sql(standby, statement) != expected && timer.elapsed() < 15000) {
            QThread::msleep(50);
        }
        ASSERT_EQ(sql(standby, statement), expected) << qPrintable(statement);
    }

    CgiResult call(const QString& command, const Params& params = {}) const
    {
        return cgi->post(Params{{"CMD", command}, {"Auth", tokenFor("admin", "tulip")}} + params);
    }
    QStringList companies() const
    {
        QStringList names;
        for (const QJsonValue& row : call(QStringLiteral("Get_CompanyTable")).data()) {
            names << row.toObject().value(QStringLiteral("name")).toString();
        }
        return names;
    }

    static Node primary;
    static Node standby;
    QString database;
    std::unique_ptr<CgiInstall> cgi;
};

Node Replica::primary;
Node Replica::standby;

// The parameters that carry each writing command past its checks to its first change, on top
// of the shared ones below; the groups take JSON bodies.
Params writeParameters(const char* command)
{
    const auto data = [](const QJsonObject& element) { return Params{{"DATA", json({element})}}; };
    const QJsonObject abonent{{"objectId", 1}, {"name", "n"}, {"login", "l9"}, {"pas", "p"}};
    const QJsonObject device{{"devType", 7}, {"manId", "ABC"}, {"identNum", 9}, {"ver", 1}, {"modelId", 1}, {"objectId", 1}, {"dateInstall", "2020-01-01"}};
    const QJsonObject account{{"objectId", 1}, {"resCode", 1}, {"name", "L"}};
    const QHash<QByteArray, Params> extra{
        {"Add_User", {{"UserType", "3"}}},
        {"Upd_User", {{"UserType", "2"}}},
        {"Add_Address", {{"TimeShift", "0"}}},
        {"Add_Abonents", data(abonent)},
        {"Upd_Abonent", data(abonent)},
        {"Add_Devices", data(device)},
        {"Upd_Device", data(device)},
        {"Add_Task", {{"CommandCode", "7"}, {"Value", "1"}}},
        {"Add_LicAccount", data(account)},
        {"Upd_LicAccount", data(account)},
        {"Clear_ErrorFlags", data({{"deviceId", 1}, {"date", QDate::currentDate().toString("yyyy-01-02 00:00:00")}})},
        {"Del_LoRaDevice", {{"DevEUI", "70B3D5E75E003AB1"}}},
    };
    return extra.value(command);
}

QJsonObject groupBody(const char* command)
{
    const QJsonObject meter{{"channel", 1}, {"manId", "abc"}, {"identNum", 77}, {"ver", 1}, {"devType", 7},
                            {"modelId", 1}, {"objId", 1}, {"dateInstall", "2021-01-01"}, {"titleId", 5},
                            {"edId", 10}, {"impW", 0.01}, {"startVal", 0}, {"enabled", true}};
    if (qstrcmp(command, "Add_Mirel") == 0) {
        return {{"manId", "MRL"}, {"identNum", 5}, {"ver", 1}, {"devType", 25}, {"modelId", 1}, {"channels", QJsonArray{meter}}};
    }
    if (qstrcmp(command, "Add_LoRaDevice") == 0) {
        return {{"DevEUI", "70b3d5e75e003ab2"}, {"ObjectId", 1}, {"Channels", QJsonArray{meter}}};
    }
    // The meters already on the LoRa device's channel 1 and the concentrator's channel 0.
    QJsonObject stays = meter;
    stays.remove("objId");
    stays.insert("objectId", 1);
    if (qstrcmp(command, "Upd_LoRaDevice") == 0) {
        stays.insert("identNum", 2);
        return {{"DevEUI", "70B3D5E75E003AB1"}, {"Channels", QJsonArray{stays}}};
    }
    if (qstrcmp(command, "Upd_Mirel") == 0) {
        QJsonObject channel = meter;
        channel.insert("channel", 0);
        channel.insert("identNum", 4);
        channel.insert("deviceId", 4);
        return {{"id", 3},           {"manId", "MRL"}, {"identNum", 8}, {"ver", 1},
                {"devType", 25},     {"modelId", 1},   {"channels", QJsonArray{channel}}};
    }
    return {};
}

// Every command against a standby alone, with parameters that lead each writing command to its
// first change: one marked as reading that writes fails there, as it would on a reading
// server, and a writing command whose parameters stop short of its change fails too, since
// marking it as reading would then go unnoticed.
TEST_F(Replica, NoCommandMarkedAsReadingWrites)
{
    sql(primary, QStringLiteral(R"(INSERT INTO "CompanyTable" ("Name") VALUES ('C');
        INSERT INTO "AddressTable" ("Name", "CompanyId") VALUES ('A', 1);
        INSERT INTO "ObjectTable" ("AddressId", "Obj") VALUES (1, '1');
        INSERT INTO "ManufTable" ("Name") VALUES ('M');
        INSERT INTO "ModelTable" ("Name", "ManufId", "ResCode") VALUES ('Model', 1, 1);
        INSERT INTO "DeviceTable" ("DevType", "ManId", "IdentNum", "Ver", "ZavNum", "ModelId") VALUES (7, 'ABC', 1, 1, 'Z', 1);
        INSERT INTO "InstallTable" ("DeviceId", "ObjectId", "DateInstall", "Actual") VALUES (1, 1, '2020-01-01', 1);
        INSERT INTO "AbonentTable" ("Name", "Login", "PasHash") VALUES ('Ab', 'ab', md5('x'));
        INSERT INTO "LicAccountTable" ("ObjectId", "ResCode", "Name") VALUES (1, 1, 'L');
        INSERT INTO "DeviceTable" ("DevType", "ManId", "IdentNum", "Ver", "ZavNum", "ModelId", "ConnectType") VALUES (7, 'ABC', 2, 1, 'Z', 1, 2);
        INSERT INTO "InstallTable" ("DeviceId", "ObjectId", "DateInstall", "Actual") VALUES (2, 1, '2020-01-01', 1);
        INSERT INTO "ConcTable" ("Deveui", "DeviceId", "Channel", "JsonData") VALUES ('70B3D5E75E003AB1', 2, 1, '{}');
        INSERT INTO "DeviceTable" ("DevType", "ManId", "IdentNum", "Ver", "ZavNum", "ModelId", "ConnectType") VALUES (25, 'MRL', 8, 1, 'C', 1, 1);
        INSERT INTO "DeviceTable" ("DevType", "ManId", "IdentNum", "Ver", "ZavNum", "ModelId", "ConnectType") VALUES (7, 'ABC', 4, 1, 'Z', 1, 2);
        INSERT INTO "InstallTable" ("DeviceId", "ObjectId", "DateInstall", "Actual") VALUES (4, 1, '2020-01-01', 1);
        INSERT INTO "ConcTable" ("DeviceId", "Channel", "JsonData", "MasterId") VALUES (4, 0, '{}', 3);
        UPDATE "ObjectTable" SET "AbonentId"=1;)"));
    awaitOnStandby(QStringLiteral("SELECT count(*) FROM \"ConcTable\""), QStringLiteral("2"));
    cgi->writeServerConfig({{"server", "127.0.0.1"}, {"port", standby.port}, {"db", database}, {"user", "orvela"},
                            {"password", PgServer::password()}});
    const QString data = json({QJsonObject{{"Id", 1}, {"DeviceId", 1}, {"ObjectId", 1}, {"Name", "N2"}, {"Date", "2024-01-02"}}});
    Params shared;
    for (const char* id : {"Id", "ID", "AddressId", "CompanyId", "AbonentId", "ObjectId", "DeviceId", "ModelId", "ManufId",
                           "UserId", "TaskId", "ResCode", "resCode", "ObjType", "Status", "UserType", "IdentNum", "Type"}) {
        shared << qMakePair(QString::fromLatin1(id), QStringLiteral("1"));
    }
    shared << qMakePair(QStringLiteral("Name"), QStringLiteral("N2")) << qMakePair(QStringLiteral("Login"), QStringLiteral("l2"))
           << qMakePair(QStringLiteral("Pas"), QStringLiteral("p")) << qMakePair(QStringLiteral("Obj"), QStringLiteral("2"))
           << qMakePair(QStringLiteral("Date"), QStringLiteral("2024-01-02")) << qMakePair(QStringLiteral("DATA"), data);
    for (const client::Api::Command& command : client::Api::commandTable()) {
        Params params = shared;
        for (const auto& pair : writeParameters(command.name)) {
            params.erase(std::remove_if(params.begin(), params.end(), [&](const auto& p) { return p.first == pair.first; }),
                         params.end());
            params << pair;
        }
        QJsonObject body = groupBody(command.name);
        CgiResult result;
        if (body.isEmpty()) {
            result = call(QString::fromLatin1(command.name), params);
        } else {
            body.insert("CMD", command.name);
            body.insert("Auth", tokenFor("admin", "tulip"));
            result = cgi->postJson(body);
        }
        const bool readOnlyError = result.log.contains(QStringLiteral("read-only transaction"));
        const bool writes = command.access != client::Api::Access::Reads;
        EXPECT_EQ(readOnlyError, writes)
            << command.name << (writes ? " did not reach its change" : " is marked as reading but writes") << "\n"
            << qPrintable(result.describe());
    }
}

TEST_F(Replica, ReadsComeFromTheStandbyAndChangesFromThePrimary)
{
    // With replay paused, a row written on the primary alone shows who answers a read.
    sql(standby, QStringLiteral("SELECT pg_wal_replay_pause()"));
    sql(primary, QStringLiteral(R"(INSERT INTO "CompanyTable" ("Name") VALUES ('primary only'))"));
    const CgiResult read = call(QStringLiteral("Get_CompanyTable"));
    ASSERT_EQ(read.errorCode(), 0) << qPrintable(read.describe());
    EXPECT_TRUE(read.data().isEmpty()) << "answered by the primary\n" << qPrintable(read.describe());
    sql(standby, QStringLiteral("SELECT pg_wal_replay_resume()"));
    ASSERT_EQ(call(QStringLiteral("Add_Company"), {{"Name", "changed"}}).errorCode(), 0);
    EXPECT_EQ(sql(primary, QStringLiteral(R"(SELECT count(*) FROM "CompanyTable" WHERE "Name"='changed')")), "1");
    EXPECT_EQ(sql(primary, QStringLiteral("SELECT pg_is_in_recovery()")), "f");
}

// A change read back at once: from a standby that catches up within the bound, or from the
// primary when the standby lags beyond it.
TEST_F(Replica, AChangeIsReadBackAtOnceFromALaggingStandby)
{
    struct Case {
        const char* name;
        const char* lagging; // run on the standby
        int lagMax;
        bool standbySeesIt;
    };
    const Case cases[] = {
        {"applies a second late", "ALTER SYSTEM SET recovery_min_apply_delay = '1s'", 10, true},
        {"stands still", "SELECT pg_wal_replay_pause()", 1, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        configure(c.lagMax);
        sql(standby, QString::fromLatin1(c.lagging));
        sql(standby, QStringLiteral("SELECT pg_reload_conf()"));
        const QString name = QString::fromLatin1(c.name);
        ASSERT_EQ(call(QStringLiteral("Add_Company"), {{"Name", name}}).errorCode(), 0);
        EXPECT_TRUE(companies().contains(name));
        EXPECT_EQ(sql(standby, QStringLiteral(R"(SELECT count(*) FROM "CompanyTable" WHERE "Name"=')") + name + "'"),
                  c.standbySeesIt ? "1" : "0");
        sql(standby, QStringLiteral("ALTER SYSTEM RESET recovery_min_apply_delay"));
        sql(standby, QStringLiteral("SELECT pg_reload_conf(), pg_wal_replay_resume()"));
    }
}

// A standby cut off from its primary has applied all it received, yet misses every change
// since: once its last applied change is older than the bound, reads go to the primary.
TEST_F(Replica, AStandbyThatLostItsPrimaryIsNotReadOnceItsLastChangeIsOld) {
    configure(1);
    const QString conninfo = sql(standby, QStringLiteral("SHOW primary_conninfo"));
    sql(standby, QStringLiteral("ALTER SYSTEM SET primary_conninfo = ''"));
    sql(standby, QStringLiteral("SELECT pg_reload_conf()"));
    awaitOnStandby(QStringLiteral("SELECT count(*) FROM pg_stat_wal_receiver"),
                   QStringLiteral("0"));
    QThread::msleep(1500);
    const int code = call(QStringLiteral("Add_Company"), {{"Name", "cut off"}}).errorCode();
    const QStringList seen = companies();
    sql(standby, QStringLiteral("ALTER SYSTEM SET primary_conninfo = '%1'")
                     .arg(QString(conninfo).replace("'", "''")));
    sql(standby, QStringLiteral("SELECT pg_reload_conf()"));
    EXPECT_EQ(code, 0);
    EXPECT_TRUE(seen.contains(QStringLiteral("cut off"))) << "read from the cut-off standby";
}

TEST_F(Replica, WithTheStandbyStoppedNoRequestFails)
{
    clusterScript({QStringLiteral("stop"), standby.dir});
    for (const char* name : {"first", "second"}) {
        EXPECT_FALSE(companies().contains(QString::fromLatin1(name)));
        EXPECT_EQ(call(QStringLiteral("Add_Company"), {{"Name", name}}).errorCode(), 0);
        EXPECT_TRUE(companies().contains(QString::fromLatin1(name)));
    }
    standby.port = clusterScript({QStringLiteral("standby"), standby.dir, primary.dir});
}

// Last: the standby becomes the primary for good.
TEST_F(Replica, AfterPromotionChangesGoToTheNewPrimaryWithTheSameHostList)
{
    configure(5, QStringLiteral("127.0.0.1,127.0.0.1"), primary.port + QLatin1Char(',') + standby.port);
    ASSERT_EQ(call(QStringLiteral("Add_Company"), {{"Name", "before"}}).errorCode(), 0);
    clusterScript({QStringLiteral("stop"), primary.dir});
    clusterScript({QStringLiteral("promote"), standby.dir});
    const CgiResult change = call(QStringLiteral("Add_Company"), {{"Name", "after"}});
    ASSERT_EQ(change.errorCode(), 0) << qPrintable(change.describe());
    EXPECT_EQ(companies(), (QStringList{"before", "after"}));
    EXPECT_EQ(sql(standby, QStringLiteral("SELECT pg_is_in_recovery()")), "f");
    EXPECT_EQ(sql(standby, QStringLiteral(R"(SELECT count(*) FROM "CompanyTable")")), "2");
}

} // namespace
