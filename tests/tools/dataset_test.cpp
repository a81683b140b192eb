// The realistic data set at its tiny size, loaded by its own program into a fresh database:
// what it promises of its readings, and that the readings commands reach all of it.
#include "support/pgfixture.h"

#include <QProcess>
#include <QSet>

using namespace testing_support;

namespace {

// Readings up to a fixed hour whose daily part crosses New Year, so that both yearly tables
// are written.
const char* const kEnd = "2026-01-20 09:00";

class DataSet : public DbTest {
protected:
    // Runs the loader on this test's installation; its exit code, and its output in *output.
    int load(const QStringList& arguments, QString* output = nullptr)
    {
        QProcess loader;
        loader.setProcessChannelMode(QProcess::MergedChannels);
        loader.start(QStringLiteral(ORVELA_DATASET_BINARY),
                     QStringList{QStringLiteral("--preset"), QStringLiteral("tiny"), QStringLiteral("--end"), QString::fromLatin1(kEnd)} +
                         arguments + QStringList{cgi->root()});
        EXPECT_TRUE(loader.waitForFinished(120000));
        if (output) {
            *output = QString::fromUtf8(loader.readAll());
        }
        return loader.exitCode();
    }
    QSet<qint64> ids(const QString& sql)
    {
        QSet<qint64> set;
        QSqlQuery query = db->exec(sql);
        while (query.next()) {
            set.insert(query.value(0).toLongLong());
        }
        return set;
    }
    // The device ids of a listing whose objects carry "devices".
    static QSet<qint64> listedDevices(const CgiResult& r)
    {
        QSet<qint64> set;
        for (const QJsonValue& object : r.data()) {
            for (const QJsonValue& device : object.toObject()["devices"].toArray()) {
                set.insert(device.toObject()["id"].toVariant().toLongLong());
            }
        }
        return set;
    }
};

TEST_F(DataSet, LoadsWhatTheServiceWouldHoldAndTheReadingsCommandsReachIt)
{
    QString output;
    ASSERT_EQ(load({QStringLiteral("--seed"), QStringLiteral("7")}, &output), 0) << qPrintable(output);
    // The sizes asked for: 170 meters of the first company with houses of 40 and 12, 20 of
    // each other company, 8 of no company, plus the meters on concentrators and LoRa devices.
    const QString perAddress = QStringLiteral(R"(SELECT count(*) FROM "InstallTable" i JOIN "ObjectTable" o ON o."Id"=i."ObjectId"
                                                WHERE i."Actual"=1 AND o."AddressId"=%1)");
    EXPECT_EQ(db->count(perAddress.arg(1)), 40);
    EXPECT_EQ(db->count(perAddress.arg(2)), 12);
    EXPECT_EQ(db->count(R"(SELECT count(*) FROM "DeviceTable" d JOIN "InstallTable" i ON i."DeviceId"=d."Id" AND i."Actual"=1
                           JOIN "ObjectTable" o ON o."Id"=i."ObjectId" JOIN "AddressTable" a ON a."Id"=o."AddressId"
                           WHERE a."CompanyId"=1 AND d."ConnectType"=0)"), 170);
    EXPECT_EQ(value(R"(SELECT string_agg(DISTINCT "DevType"::text, ',' ORDER BY "DevType"::text) FROM "DeviceTable")"), "2,22,25,26,3,4,49,6,7");
    EXPECT_EQ(db->count(R"(SELECT count(*) FROM "ConcTable" WHERE "Deveui" IS NULL)"), 12);
    // Error episodes, some acknowledged, and a planted row that is no array.
    const QString errors = QStringLiteral(R"(SELECT count(*) FROM "ArchiveTable2026" WHERE ("JsonErr"->0->>'errorCode')::bigint > 0 AND "JsonErr"->0->'fixed' IS %1 NULL)");
    EXPECT_GT(db->count(errors.arg(QStringLiteral("NOT"))), 0);
    EXPECT_GT(db->count(errors.arg(QString())), 0);
    EXPECT_GE(db->count(R"(SELECT count(*) FROM "ArchiveTable2026" WHERE json_typeof("JsonVal")<>'array')"), 1);
    // Hourly readings for the last ten days, daily ones back to November.
    EXPECT_EQ(value(R"(SELECT max("ArcDate")::text FROM "ArchiveTable2026")"), "2026-01-20 09:00:00");
    EXPECT_EQ(value(R"(SELECT min("ArcDate")::date::text FROM "ArchiveTable2025")"), "2025-11-19");

    // Accumulating registers never run backwards within a device, gaps and all; the broken
    // rows are the only ones left out.
    EXPECT_EQ(db->count(R"(
        WITH v AS (
            SELECT r."DeviceId", r."ArcDate", e->>'titleId' AS t, e->>'prefixNum' AS p, e->>'postfixNum' AS q, (e->>'val')::numeric AS val
            FROM (SELECT * FROM "ArchiveTable2025" UNION ALL SELECT * FROM "ArchiveTable2026") r
            CROSS JOIN LATERAL json_array_elements(CASE WHEN json_typeof(r."JsonVal")='array' THEN r."JsonVal" ELSE '[]' END) e
            WHERE json_typeof(e->'val')='string' AND (e->>'titleId')::int IN (1, 2, 4, 5, 28, 44, 45))
        SELECT count(*) FROM (SELECT val < lag(val) OVER (PARTITION BY "DeviceId", t, p, q ORDER BY "ArcDate") AS down FROM v) d
        WHERE down)"), 0);

    // A second load leaves the database alone: refused, or skipped when asked to.
    EXPECT_EQ(load({}, &output), 1);
    EXPECT_EQ(load({QStringLiteral("--if-empty")}), 0);
    EXPECT_EQ(db->count(R"(SELECT count(*) FROM "CompanyTable")"), 3);

    // Every device is reached by the readings commands of its address.
    const QString token = tokenFor(QStringLiteral("operator"), QStringLiteral("demo"));
    QSqlQuery addresses = db->exec(R"(SELECT "Id", "CompanyId", "TimeShift" FROM "AddressTable" ORDER BY "Id")");
    int checked = 0;
    while (addresses.next()) {
        const QString address = addresses.value(0).toString();
        Params params{{"AddressId", address}};
        if (!addresses.value(1).isNull()) {
            params << qMakePair(QStringLiteral("CompanyId"), addresses.value(1).toString());
        }
        const QString devices = QStringLiteral(R"(SELECT i."DeviceId" FROM "InstallTable" i JOIN "ObjectTable" o ON o."Id"=i."ObjectId"
                                                 WHERE o."AddressId"=%1 %2)").arg(address);
        const CgiResult list = call(token, "Get_DeviceList", params);
        ASSERT_CODE(list, 0);
        EXPECT_EQ(listedDevices(list), ids(devices.arg(QString()))) << "address " << qPrintable(address);
        const CgiResult period = call(token, "Get_PeriodValues", params + Params{{"Period", "day"}, {"Date", "2026-01-12"}});
        ASSERT_CODE(period, 0);
        EXPECT_EQ(listedDevices(period), ids(devices.arg(QStringLiteral(R"(AND i."Actual"=1)")))) << "address " << qPrintable(address);
        ++checked;
    }
    EXPECT_EQ(checked, 10);
}

} // namespace
