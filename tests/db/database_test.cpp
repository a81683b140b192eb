// The statement helpers against a real database, in-process.
#include "support/pgfixture.h"

#include "app/serverconfig.h"
#include "db/database.h"
#include "db/schema.h"
#include "db/sqltext.h"

#include <QDate>

using namespace testing_support;

namespace {

class DatabaseHelpers : public ::testing::Test {
protected:
    void SetUp() override
    {
        database = std::make_unique<TestDatabase>();
        QObject::connect(&helpers, &orvela::Database::toLog, [this](LogType type, const QString& text) {
            errors << (type == LogError ? text : QString());
            errors.removeAll(QString());
        });
        open();
        ASSERT_EQ(orvela::Schema::check(helpers, QDate::currentDate().year()), 0);
    }
    void open(quint16 queryTimeout = 900)
    {
        orvela::ServerConfig config = PgServer::connectionConfig(database->name());
        config.queryTimeout = queryTimeout;
        QString error;
        ASSERT_TRUE(helpers.open(config, &error)) << qPrintable(error);
    }
    void TearDown() override
    {
        helpers.close();
        database.reset();
    }

    std::unique_ptr<TestDatabase> database;
    orvela::Database helpers;
    QStringList errors;
};

TEST_F(DatabaseHelpers, ExecInTransactionReportsIdsAndFailures)
{
    qint64 id = 0;
    EXPECT_EQ(helpers.execInTransaction(
                  R"(INSERT INTO "ManufTable" ("Name") VALUES ('Acme') RETURNING "Id";)", &id), 0);
    EXPECT_GT(id, 0);
    // Committed although no id came back.
    EXPECT_EQ(helpers.execInTransaction(R"(INSERT INTO "ManufTable" ("Name") VALUES ('B');)", &id), 155);
    EXPECT_EQ(database->count(R"(SELECT count(*) FROM "ManufTable")"), 2);
    EXPECT_EQ(helpers.execInTransaction(R"(INSERT INTO "ManufTable" ("Nope") VALUES (1);)"), 132);
    ASSERT_EQ(errors.size(), 1);
    EXPECT_TRUE(errors[0].startsWith(QStringLiteral("Ошибка при выполнении запроса PostgreSql: ")));
    // The failed statement's transaction was rolled back; the connection still works.
    EXPECT_EQ(helpers.execInTransaction(R"(UPDATE "ManufTable" SET "Note"='x';)"), 0);
}

TEST_F(DatabaseHelpers, RunawayStatementsStopAtTheQueryTimeOut)
{
    helpers.close();
    open(1);
    QSqlQuery query = helpers.newQuery();
    EXPECT_FALSE(helpers.select("SELECT pg_sleep(3)", &query));
    ASSERT_EQ(errors.size(), 1);
    EXPECT_TRUE(errors[0].contains("statement timeout")) << qPrintable(errors[0]);
}

TEST_F(DatabaseHelpers, DeviceLookUps)
{
    database->exec(R"(INSERT INTO "DeviceTable" ("Id", "DevType", "ManId", "IdentNum", "Ver", "ModelId", "ConnectType")
                      VALUES (5, 7, 'ABC', 1234, 3, 1, 2))");
    qint64 id = 0;
    int connectType = 0;
    EXPECT_EQ(helpers.findDevice("ABC", 1234, 3, 7, &id, &connectType), 0);
    EXPECT_EQ(id, 5);
    EXPECT_EQ(connectType, 2);
    EXPECT_EQ(helpers.findDevice("ABC", 1234, 4, 7, &id), 27);

    orvela::DeviceIdentity identity;
    EXPECT_EQ(helpers.deviceIdentity(6, &identity), 246);
    ASSERT_EQ(helpers.deviceIdentity(5, &identity), 0);
    EXPECT_EQ(identity.identNum, 0x1234u);
    EXPECT_EQ(identity.devType, 7);
    EXPECT_EQ(orvela::manufacturerLetters(identity.manufacturer), "ABC");
    EXPECT_EQ(orvela::manufacturerCode("ABC"), (1 << 10) | (2 << 5) | 3);
}

TEST_F(DatabaseHelpers, AnyTextComesBackAsSentAndNeverChangesTheStatement)
{
    const QString texts[] = {
        "O'Brien", "'; drop table \"UserTable\"; --", "back\\slash\\'", "\\", "NULL",
        QStringLiteral("Ёлка ёж"), "a\nb\tc", QString(10000, QLatin1Char('\'')),
        QString::fromUtf8("nul\0inside", 10), QString::fromUtf8("\xff\xfe broken"),
    };
    for (const QString& text : texts) {
        QSqlQuery query = helpers.newQuery();
        const QString sql = "SELECT " + orvela::sqlText(text) + " AS v, 1 AS marker";
        ASSERT_TRUE(helpers.select(sql, &query)) << qPrintable(errors.join('\n'));
        ASSERT_TRUE(query.next());
        QString expected = text;
        expected.remove(QChar(0));
        EXPECT_EQ(query.value(0).toString(), expected);
        EXPECT_EQ(query.value(1).toInt(), 1) << qPrintable(text.left(40));
        EXPECT_FALSE(query.next()) << qPrintable(text.left(40));
    }
    EXPECT_EQ(orvela::sqlTextOrNull(QString()), "NULL");
}

TEST_F(DatabaseHelpers, BackslashesStaySafeWhenTheServerReadsThemAsEscapes)
{
    database->exec("ALTER DATABASE " + database->name() + " SET standard_conforming_strings = off");
    database->exec("ALTER DATABASE " + database->name() + " SET escape_string_warning = off");
    helpers.close();
    open();
    for (const QString& text : {QStringLiteral("a\\'; select 1; --"), QStringLiteral("\\")}) {
        QSqlQuery query = helpers.newQuery();
        ASSERT_TRUE(helpers.select("SELECT " + orvela::sqlText(text), &query)) << qPrintable(errors.join('\n'));
        ASSERT_TRUE(query.next());
        EXPECT_EQ(query.value(0).toString(), text);
    }
    orvela::setSqlBackslashEscapes(false);
}

} // namespace
