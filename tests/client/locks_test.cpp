// The locks that keep names, logins, identities and task queues right when requests race. On
// two cores racing processes rarely overlap by themselves, so the test's own connection takes
// the lock and makes the other request's change, the command runs meanwhile, and the test
// asserts that it waited and then saw that change.
#include "support/pgfixture.h"

#include "db/lockedwrite.h"
#include "db/schema.h"

#include <QProcess>

using namespace testing_support;
using orvela::LockedWrite;
using orvela::LockSubject;

namespace {

struct Contested {
    const char* name;
    LockSubject subject;
    const char* otherWrite; // what the request holding the lock writes
    const char* command;
    std::function<Params(const QString& model)> params;
    int code;           // what the command answers once it sees that write
    const char* result; // counts what must be there afterwards; 1 expected
};

void PrintTo(const Contested& contested, std::ostream* os)
{
    *os << contested.name;
}

class Locks : public DbTest, public ::testing::WithParamInterface<Contested> {};

TEST_P(Locks, ACommandWaitsForTheLockAndSeesWhatItsHolderWrote)
{
    const Contested& c = GetParam();
    initSchema();
    const QString modelId = QString::number(model());
    bool waited = false;
    const CgiResult r = callWhileHeld(adminToken(), c.command, c.params(modelId),
                                      {LockedWrite::lockStatement(c.subject), QString::fromLatin1(c.otherWrite)}, &waited);
    EXPECT_TRUE(waited) << "the command did not wait for the lock";
    EXPECT_CODE(r, c.code);
    EXPECT_EQ(db->count(QString::fromLatin1(c.result)), 1);
}

INSTANTIATE_TEST_SUITE_P(
    Uniqueness, Locks,
    ::testing::Values(
        Contested{"Login", LockSubject::UserLogin,
                  R"(INSERT INTO "UserTable" ("Login", "PasHash", "Status", "UserType") VALUES ('race', 'x', 1, 3))",
                  "Add_User", [](const QString&) { return Params{{"Login", "race"}, {"Pas", "p"}, {"Status", "1"}, {"UserType", "3"}}; },
                  154, R"(SELECT count(*) FROM "UserTable" WHERE "Login"='race')"},
        Contested{"CompanyName", LockSubject::CompanyName, R"(INSERT INTO "CompanyTable" ("Name") VALUES ('Same'))",
                  "Add_Company", [](const QString&) { return Params{{"Name", "Same"}}; }, 203,
                  R"(SELECT count(*) FROM "CompanyTable" WHERE "Name"='Same')"},
        Contested{"ManufacturerName", LockSubject::ManufacturerName, R"(INSERT INTO "ManufTable" ("Name") VALUES ('Same'))",
                  "Add_Manuf", [](const QString&) { return Params{{"Name", "Same"}}; }, 203,
                  R"(SELECT count(*) FROM "ManufTable" WHERE "Name"='Same')"},
        Contested{"ModelName", LockSubject::ModelName, R"(INSERT INTO "ModelTable" ("Name", "ManufId") VALUES ('Same', 1))",
                  "Add_Model", [](const QString&) { return Params{{"Name", "Same"}, {"ManufId", "1"}}; }, 203,
                  R"(SELECT count(*) FROM "ModelTable" WHERE "Name"='Same')"},
        Contested{"AbonentLogin", LockSubject::AbonentLogin,
                  R"(INSERT INTO "AbonentTable" ("Name", "Login", "PasHash") VALUES ('n', 'race', 'x'))", "Add_Abonents",
                  [](const QString&) { return Params{{"DATA", R"([{"objectId":0,"name":"n","login":"race","pas":"p"}])"}}; },
                  122, R"(SELECT count(*) FROM "AbonentTable" WHERE "Login"='race')"},
        Contested{"DeviceIdentity", LockSubject::DeviceIdentity,
                  R"(INSERT INTO "DeviceTable" ("DevType", "ManId", "IdentNum", "Ver", "ModelId") VALUES (7, 'ABC', 5, 1, 1))",
                  "Add_Devices",
                  [](const QString& model) {
                      return Params{{"DATA", json({QJsonObject{{"devType", 7}, {"manId", "ABC"}, {"identNum", 5}, {"ver", 1},
                                                               {"modelId", model.toLongLong()}, {"objectId", 0}}})}};
                  },
                  151, R"(SELECT count(*) FROM "DeviceTable" WHERE "IdentNum"=5)"}),
    [](const ::testing::TestParamInfo<Contested>& info) { return std::string(info.param.name); });

// Two additions to one queue both land: the second waits for the first and appends to it.
TEST_F(Locks, TaskAdditionsToOneQueueWaitForEachOther)
{
    initSchema();
    const qint64 device = installedDevice(model(), objectOf(0), 1);
    db->exec(QStringLiteral(R"(INSERT INTO "TaskTable" ("DeviceId", "JsonTask") VALUES (%1, '[]'))").arg(device));
    bool waited = false;
    const CgiResult r = callWhileHeld(adminToken(), "Add_Task",
                                      {{"DeviceId", QString::number(device)}, {"CommandCode", "7"}, {"Value", "2"}},
                                      {LockedWrite::lockStatement(LockSubject::TaskQueue, device),
                                       R"(UPDATE "TaskTable" SET "JsonTask"='[{"id":1,"dateStart":"2026-01-01 00:00:00","flags":1}]')"},
                                      &waited);
    EXPECT_TRUE(waited);
    EXPECT_CODE(r, 0);
    EXPECT_EQ(value(R"(SELECT json_array_length("JsonTask") FROM "TaskTable")"), "2");
}

// Two processes finding the schema incomplete: the second waits for the first to finish and
// then finds nothing left to do.
TEST_F(Locks, SchemaUpkeepWaitsForAnotherProcessDoingIt)
{
    if (cgi->persistent()) {
        GTEST_SKIP() << "a persistent process checks the schema on its connection and then hourly";
    }
    initSchema();
    const int year = QDateTime::currentDateTimeUtc().date().year();
    const QString table = QStringLiteral("TechnicalTable%1").arg(year + 2);
    db->exec(QStringLiteral(R"(DROP TABLE "%1")").arg(table));
    QString script = orvela::Schema::creationScript(QStringLiteral("TechnicalTable%YEAR%"));
    script.replace(QStringLiteral("%YEAR%"), QString::number(year + 2));
    // The lock is a session lock: the test's transaction ends, the lock stays until unlocked.
    db->exec(orvela::Schema::upkeepLockStatement());
    const QStringList logsBefore = cgi->logFiles();
    QProcess* process = cgi->startPost({{"CMD", "Get_UserData"}, {"Auth", adminToken()}});
    const bool waited = !process->waitForFinished(500);
    for (const QString& piece : script.split(';', Qt::SkipEmptyParts)) {
        if (!piece.trimmed().isEmpty()) {
            db->exec(piece);
        }
    }
    db->exec(QStringLiteral("SELECT pg_advisory_unlock_all()"));
    const CgiResult r = cgi->finish(process, logsBefore);
    EXPECT_TRUE(waited);
    EXPECT_CODE(r, 0);
    EXPECT_FALSE(r.log.contains(QStringLiteral("[err]"))) << qPrintable(r.log);
    EXPECT_EQ(db->count(QStringLiteral("SELECT count(*) FROM pg_tables WHERE tablename='%1'").arg(table)), 1);
}

} // namespace
