// The archive look-ups that display texts are made of, in-process on the test database, in a
// zone with summer time.
#include "support/pgfixture.h"

#include "app/serverconfig.h"
#include "db/database.h"
#include "readings/lookups.h"

using namespace testing_support;

namespace {

class Lookups : public DbTest {
protected:
    void SetUp() override
    {
        DbTest::SetUp();
        initSchema();
        orvela::ServerConfig config;
        config.dbHost = QStringLiteral("127.0.0.1");
        config.dbPort = PgServer::port();
        config.dbName = db->name();
        config.dbUser = QStringLiteral("orvela");
        config.dbPassword = PgServer::password();
        QString error;
        ASSERT_TRUE(database.open(config, &error)) << qPrintable(error);
        device = installedDevice(model(4), objectOf(0), 1);
        identity.devType = 2; // electricity
    }
    void TearDown() override
    {
        database.close();
        DbTest::TearDown();
    }

    orvela::Database database;
    orvela::UserUnitSettings units;
    orvela::DeviceIdentity identity;
    qint64 device = 0;
};

TEST_F(Lookups, LatestReadingTextSearchesBackTwoYears)
{
    const int year = QDateTime::currentDateTimeUtc().date().year();
    archiveRow(device, QStringLiteral("%1-03-28 01:30:00").arg(year - 3), json({reading(2, 2, "1")}));
    orvela::ReadingLookups lookups(database, units);
    const QDateTime now = QDateTime::currentDateTimeUtc();
    EXPECT_TRUE(lookups.latestReadingText(device, identity, 60, 1, now).values.isEmpty());
    // The hour that summer time skips in the machine's zone is an ordinary hour here.
    archiveRow(device, QStringLiteral("%1-03-28 01:30:00").arg(year - 2),
               json({reading(2, 2, "1520.5", 0, 1), reading(9, 37, "2.5")}), json({flags(0x40, 2)}),
               QStringLiteral("%1-03-28 01:31:00").arg(year - 2));
    orvela::ReadingLookups again(database, units);
    const auto texts = again.latestReadingText(device, identity, 60, 10, now);
    EXPECT_EQ(texts.values, QStringLiteral("Электроэнергия (тариф 1): 15205.0 кВт⋅час\nМощность: 2.5 кВт"));
    EXPECT_EQ(texts.errors, QStringLiteral("Канал 2: Воздействие внешнего магнитного поля"));
    EXPECT_EQ(texts.arcTime, QStringLiteral("02:30:00\n28.03.%1").arg(year - 2));
    EXPECT_EQ(texts.recTime, QStringLiteral("02:31:00\n28.03.%1").arg(year - 2));
}

TEST_F(Lookups, LastErrorTextIsTheNewestRowWithErrorsInTheWindow)
{
    archiveRow(device, "2021-03-27 23:30:00", "[]", json({flags(0x4), flags(0x80, 0, 3)}));
    archiveRow(device, "2021-03-28 00:30:00", "[]", json({flags(0)}));
    orvela::ReadingLookups lookups(database, units);
    const QDateTime to(QDate(2021, 3, 28), QTime(12, 0), Qt::UTC);
    EXPECT_EQ(lookups.lastErrorText(device, identity, to, 5, 150),
              QStringLiteral("[28.03.2021 02:00:00]Ранее было воздействие внешнего магнитного поля\n"
                             "Открыта крышка клеммной коробки (3)"));
    EXPECT_EQ(lookups.lastErrorText(device, identity, to.addDays(-1), 0, 150), QString());
    // A window reaching into a year without a table is no error.
    EXPECT_FALSE(lookups.lastErrorText(device, identity, to, 400, 0).isEmpty());
}

TEST_F(Lookups, VerificationInForce)
{
    db->exec(QStringLiteral(R"(INSERT INTO "PoverkaTable" ("DeviceId", "DatePov", "Actual") VALUES (%1, '2022-01-01', 0), (%1, '2020-05-05', 1))").arg(device));
    orvela::ReadingLookups lookups(database, units);
    QDate date;
    bool found = false;
    EXPECT_EQ(lookups.lastVerificationDate(device, &date, &found), 0);
    EXPECT_TRUE(found);
    EXPECT_EQ(date, QDate(2020, 5, 5));
    EXPECT_EQ(lookups.lastVerificationDate(device + 1, &date, &found), 0);
    EXPECT_FALSE(found);
}

} // namespace
