// Fixtures of the readings suites: a house of the water company for the commands, and an
// in-process connection for the look-ups under them.
#pragma once

#include "support/pgfixture.h"

#include "app/serverconfig.h"
#include "db/database.h"
#include "readings/lookups.h"

#include <QDateTime>

namespace testing_support {

// Water's house "Ленина 1", three hours ahead of UTC, with flat 1 and its cold-water meter,
// read by the company's user "wuser".
class MeteredHouse : public TwoCompanies {
protected:
    void SetUp() override
    {
        TwoCompanies::SetUp();
        house = address(QStringLiteral("Ленина 1"), water);
        update("AddressTable", R"("TimeShift"=180)", house);
        flat = object(house, QStringLiteral("1"));
        meter = installedDevice(model(2), flat, 1);
        waterUser = createUser(QStringLiteral("wuser"), 131, water);
    }
    void update(const char* table, const QString& assignments, qint64 id)
    {
        db->exec(QStringLiteral(R"(UPDATE "%1" SET %2 WHERE "Id"=%3)")
                     .arg(QLatin1String(table), assignments)
                     .arg(id));
    }
    // A reading at a local time of the house ("yyyy-MM-dd HH:mm:ss").
    void readingAt(qint64 device, const QString& local, const QJsonArray& values)
    {
        QDateTime time = QDateTime::fromString(local, QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        time.setTimeSpec(Qt::UTC); // the machine's zone must not move the house's clock
        archiveRow(device, time.addSecs(-180 * 60).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")),
                   json(values));
    }
    // A command of the company's user for one device.
    CgiResult callFor(qint64 device, const QString& command, const Params& params)
    {
        return call(waterUser, command, Params{{"DeviceId", QString::number(device)}} + params);
    }

    qint64 house = 0;
    qint64 flat = 0;
    qint64 meter = 0;
    QString waterUser;
};

// The schema in place, and the program's own connection to it in the test's process.
class InProcessDatabase : public DbTest {
protected:
    void SetUp() override
    {
        DbTest::SetUp();
        initSchema();
        QString error;
        ASSERT_TRUE(database.open(PgServer::connectionConfig(db->name()), &error))
            << qPrintable(error);
    }
    void TearDown() override
    {
        database.close();
        DbTest::TearDown();
    }

    orvela::Database database;
    orvela::UserUnitSettings units;
};

} // namespace testing_support
