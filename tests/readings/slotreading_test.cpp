// The slot tables read one probe per slot: over random windows, steps and time shifts
// (negative ones and ones of half an hour among them), readings with gaps, at the edges of
// hours, and across New Year in two yearly tables, each slot holds the row that reading every
// row of the window and keeping the newest of each local slot gives.
#include "readings/readingsfixture.h"

#include "readings/slotbuilder.h"

#include <random>

using namespace testing_support;

namespace {

class SlotReading : public InProcessDatabase {
protected:
    void SetUp() override
    {
        InProcessDatabase::SetUp();
        const qint64 flat = objectOf(0);
        for (int i = 0; i < 3; ++i) {
            devices << installedDevice(model(2), flat, 1 + i);
        }
        yearlyTables(2020);
        yearlyTables(2021);
        // About two readings in three hours from December to mid-February, at the start, the
        // middle and the last second of their hour; every twentieth hour twice at one moment,
        // where the higher id must win. Each value is unique, so a slot tells its row. Rows are
        // written in the reverse order of their moments: a slot must go by the moment.
        for (int year : {2020, 2021}) {
            db->exec(QStringLiteral(R"(INSERT INTO "ArchiveTable%1" ("DeviceId", "ArcDate", "RecDate", "JsonVal", "JsonErr")
                SELECT d, t, timestamp '2022-01-01' - (t - timestamp '2020-12-01'), json_build_array(json_build_object('titleId', 5, 'edId', 10, 'val', (d * 100000 + n)::text,
                       'prefixNum', 0, 'postfixNum', 0)), '[]'
                FROM (SELECT d, n, timestamp '2020-12-01' + n * interval '1 hour' +
                             (ARRAY[interval '0', interval '30 minutes', interval '59 minutes 59 seconds'])[1 + (n * 7 + d) % 3] AS t
                      FROM unnest(ARRAY[%2]) AS d, generate_series(0, 1800) AS n
                      WHERE (n * 31 + d * 17) % 3 <> 0
                      UNION ALL
                      SELECT d, n + 5000, timestamp '2020-12-01' + n * interval '1 hour'
                      FROM unnest(ARRAY[%2]) AS d, generate_series(0, 1800, 20) AS n) x
                WHERE extract(year FROM t) = %1)")
                         .arg(year)
                         .arg(QStringLiteral("%1,%2,%3").arg(devices[0]).arg(devices[1]).arg(devices[2])));
        }
    }
    // What reading every row of the window gives: local slot key -> value.
    QMap<QString, QString> expected(qint64 device, orvela::SlotStep step, const QDateTime& from, const QDateTime& to,
                                    int shift)
    {
        const QString key = step == orvela::SlotStep::Hour  ? "YYYY-MM-DD HH24"
                            : step == orvela::SlotStep::Day ? "YYYY-MM-DD"
                                                            : "YYYY-MM";
        const QString fromUtc = from.addSecs(-shift * 60).toString("yyyy-MM-dd HH:mm:ss");
        const QString toUtc = to.addSecs(-shift * 60).toString("yyyy-MM-dd HH:mm:ss");
        QSqlQuery rows = db->exec(QStringLiteral(R"(SELECT DISTINCT ON (k) k, v FROM (
            SELECT to_char("ArcDate" + interval '%1 minutes', '%2') AS k, "JsonVal"->0->>'val' AS v, "ArcDate", "Id"
            FROM "ArchiveTable2020" WHERE "DeviceId"=%3 AND "ArcDate" BETWEEN '%4' AND '%5'
            UNION ALL
            SELECT to_char("ArcDate" + interval '%1 minutes', '%2'), "JsonVal"->0->>'val', "ArcDate", "Id"
            FROM "ArchiveTable2021" WHERE "DeviceId"=%3 AND "ArcDate" BETWEEN '%4' AND '%5') r
            ORDER BY k, "ArcDate" DESC, "Id" DESC)")
                                      .arg(shift)
                                      .arg(key)
                                      .arg(device)
                                      .arg(fromUtc, toUtc));
        QMap<QString, QString> newest;
        while (rows.next()) {
            newest.insert(rows.value(0).toString(), rows.value(1).toString());
        }
        return newest;
    }

    static QString keyOf(const QDateTime& label, orvela::SlotStep step)
    {
        return label.toString(step == orvela::SlotStep::Hour  ? "yyyy-MM-dd HH"
                              : step == orvela::SlotStep::Day ? "yyyy-MM-dd"
                                                              : "yyyy-MM");
    }

    QList<qint64> devices;
};

TEST_F(SlotReading, EachSlotHoldsTheNewestRowOfItsLocalSlot)
{
    std::mt19937 random(20261207);
    const int shifts[] = {0, 180, -150, 330, -720, 840, 45};
    const orvela::SlotStep steps[] = {orvela::SlotStep::Hour, orvela::SlotStep::Day, orvela::SlotStep::Month};
    const QDateTime first(QDate(2020, 11, 20), QTime(0, 0), Qt::UTC);
    for (int round = 0; round < 60; ++round) {
        const orvela::SlotStep step = steps[random() % 3];
        const int shift = shifts[random() % 7];
        const qint64 lengthHours = step == orvela::SlotStep::Hour ? 1 + random() % 72
                                   : step == orvela::SlotStep::Day ? 24 * (1 + random() % 50)
                                                                   : 24 * (28 + random() % 70);
        const QDateTime start = first.addSecs(3600 * static_cast<qint64>(random() % (24 * 80)) + 60 * (random() % 60));
        QDateTime from = start;
        QDateTime to = start.addSecs(3600 * lengthHours);
        // Half the rounds read the devices of the request together, as the listings do.
        orvela::ReadingLookups lookups(database, units);
        orvela::SlotBuilder builder(database, lookups);
        if (round % 2 == 0) {
            builder.expectDevices(devices);
        }
        for (const qint64 device : devices) {
            from = start;
            to = start.addSecs(3600 * lengthHours);
            QVector<orvela::PeriodSlot> table;
            ASSERT_EQ(builder.build(step, device, orvela::DeviceIdentity{}, &from, &to, shift, false, &table), 0);
            const QMap<QString, QString> wanted = expected(device, step, from, to, shift);
            QMap<QString, QString> read;
            for (const orvela::PeriodSlot& slot : table) {
                if (slot.stored) {
                    read.insert(keyOf(slot.label, step), slot.record.values.value(0).val);
                }
            }
            ASSERT_EQ(read, wanted) << "round " << round << ", step " << static_cast<int>(step) << ", shift " << shift
                                   << ", from " << from.toString(Qt::ISODate).toStdString() << " to "
                                   << to.toString(Qt::ISODate).toStdString();
        }
    }
}

} // namespace
