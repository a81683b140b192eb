// The self-installing schema through the real program.
#include "support/pgfixture.h"

#include <QDate>

using namespace testing_support;

namespace {

class SchemaUpkeep : public DbTest {
protected:
    // Any request that reaches the database runs the check, whether it then logs in or not.
    CgiResult touch() const { return call(adminToken(), "Get_UserData"); }

    QStringList column(const QString& sql)
    {
        QStringList values;
        QSqlQuery query = db->exec(sql);
        while (query.next()) {
            values << query.value(0).toString();
        }
        return values;
    }
    // Everything a repeated check could touch: table rows in the catalogue, the function,
    // the comments and the accounts.
    QStringList snapshot()
    {
        return column("SELECT relname || ':' || xmin FROM pg_class WHERE relnamespace='public'::regnamespace ORDER BY 1") +
               column("SELECT proname || ':' || xmin FROM pg_proc WHERE proname='get_archive'") +
               column("SELECT count(*) || ':' || sum(xmin::text::bigint) FROM pg_description") +
               column(R"(SELECT count(*) FROM "UserTable")");
    }
};

TEST_F(SchemaUpkeep, EmptyDatabaseReceivesEverythingInOrder)
{
    ASSERT_CODE(touch(), 0);
    const QStringList created = column(
        "SELECT relname FROM pg_class WHERE relnamespace='public'::regnamespace AND relkind='r' "
        "AND relname NOT LIKE 'ArchiveTable%' AND relname NOT LIKE 'TechnicalTable%' ORDER BY oid");
    EXPECT_EQ(created, (QStringList{"UserTable", "SessionTable", "AbonentTable", "CompanyTable",
                                    "ModelTable", "ManufTable", "AddressTable", "ObjectTable",
                                    "DeviceTable", "ConcTable", "TaskTable", "LicAccountTable",
                                    "InstallTable", "PoverkaTable", "ResCompanyTable",
                                    "LicResCompanyTable", "TmpDevTable", "AppeuiTable"}));
    const int year = QDate::currentDate().year();
    QStringList yearly;
    for (const char* prefix : {"ArchiveTable", "TechnicalTable"}) {
        for (int y = year - 1; y <= year + 2; ++y) {
            yearly << QString::fromLatin1(prefix) + QString::number(y);
        }
    }
    yearly.sort();
    EXPECT_EQ(column("SELECT relname FROM pg_class WHERE relkind='r' AND (relname LIKE 'ArchiveTable%' "
                     "OR relname LIKE 'TechnicalTable%') ORDER BY 1"), yearly);

    EXPECT_TRUE(column("SELECT indexname FROM pg_indexes WHERE schemaname='public'")
                    .contains(QStringLiteral("TechnicalTable%1_TechDate_idx").arg(year + 2)));
    EXPECT_EQ(column(R"(SELECT "Login" || '/' || "PasHash" || '/' || "Status" || '/' || "UserType" FROM "UserTable")"),
              QStringList{"admin/0ae57c94574802400bb2b31a4ac950ed/1/2"});
    EXPECT_EQ(db->count("SELECT count(*) FROM pg_proc WHERE proname='get_archive'"), 1);
}

TEST_F(SchemaUpkeep, UpToDateDatabaseIsLeftAlone)
{
    ASSERT_CODE(touch(), 0);
    const QStringList before = snapshot();
    ASSERT_CODE(touch(), 0);
    EXPECT_EQ(snapshot(), before);
}

TEST_F(SchemaUpkeep, ChangedFunctionAndDroppedTablesAreRestored)
{
    if (cgi->persistent()) {
        GTEST_SKIP() << "a persistent process checks the schema on its connection and then hourly";
    }
    ASSERT_CODE(touch(), 0);
    const QString body = db->scalar("SELECT prosrc FROM pg_proc WHERE proname='get_archive'").toString();
    db->exec("CREATE OR REPLACE FUNCTION public.get_archive(object_id bigint, date_time_from timestamp "
             "without time zone, date_time_to timestamp without time zone) RETURNS TABLE(\"Id\" bigint, "
             "\"DeviceId\" bigint, \"ArcDate\" timestamp without time zone, \"RecDate\" timestamp "
             "without time zone, \"JsonErr\" json, \"JsonVal\" json) LANGUAGE plpgsql AS $$ BEGIN END; $$");
    const int year = QDate::currentDate().year();
    db->exec(QStringLiteral(R"(DROP TABLE "TechnicalTable%1")").arg(year + 2));
    db->exec(R"(ALTER TABLE "ConcTable" DROP COLUMN "JsonData")");
    ASSERT_CODE(touch(), 0);
    EXPECT_EQ(db->scalar("SELECT prosrc FROM pg_proc WHERE proname='get_archive'").toString(), body);
    EXPECT_EQ(db->count(QStringLiteral("SELECT count(*) FROM pg_class WHERE relname='TechnicalTable%1'").arg(year + 2)), 1);
    EXPECT_EQ(db->count(R"(SELECT count(*) FROM pg_attribute WHERE attrelid='"ConcTable"'::regclass AND attname='JsonData' AND NOT attisdropped)"), 1);
}

TEST_F(SchemaUpkeep, OldDeviceTableGainsConnectTypeThenJsonData)
{
    db->exec(R"(CREATE TABLE "DeviceTable" ("Id" BIGSERIAL PRIMARY KEY, "DevType" smallint, "ModelId" integer))");
    db->exec(R"(INSERT INTO "DeviceTable" ("DevType", "ModelId") VALUES (7, 1))");
    ASSERT_CODE(touch(), 0);
    EXPECT_EQ(column(R"(SELECT attname FROM pg_attribute WHERE attrelid='"DeviceTable"'::regclass AND attnum>0 ORDER BY attnum)"),
              (QStringList{"Id", "DevType", "ModelId", "ConnectType", "JsonData"}));
    EXPECT_EQ(column(R"(SELECT "ConnectType" || ' ' || "JsonData"::text FROM "DeviceTable")"), QStringList{"0 {}"});
}

TEST_F(SchemaUpkeep, ExistingEmptyUserTableGetsNoInitialAccount)
{
    ASSERT_CODE(touch(), 0);
    db->exec(R"(DELETE FROM "UserTable")");
    EXPECT_CODE(touch(), 139);
    EXPECT_EQ(db->count(R"(SELECT count(*) FROM "UserTable")"), 0);
}

TEST_F(SchemaUpkeep, ConcurrentFirstRequestsAllSucceed)
{
    if (cgi->persistent()) {
        GTEST_SKIP() << "a persistent process checks the schema on its connection and then hourly";
    }
    QList<Params> requests;
    for (int i = 0; i < 16; ++i) {
        requests << Params{{"CMD", "Get_UserData"}, {"Auth", adminToken()}};
    }
    QMap<QString, QString> config = PgServer::serverConfig(db->name());
    config.insert("dbg", "true");
    cgi->writeServerConfig(config);
    QString logs;
    const QList<CgiResult> results = cgi->postConcurrently(requests, &logs);
    for (const CgiResult& r : results) {
        EXPECT_CODE(r, 0);
    }
    EXPECT_FALSE(logs.contains("[err]")) << qPrintable(logs.left(3000));
    EXPECT_EQ(logs.count(QStringLiteral("Проверка таблиц БД выполнена.")), 16);
    EXPECT_EQ(db->count(R"(SELECT count(*) FROM "UserTable")"), 1);
}

} // namespace
