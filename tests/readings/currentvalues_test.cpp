// The newest readings at an address, the unacknowledged error flags and their acknowledgement,
// through the real program. The suite runs in a zone with summer time: a slip into the
// machine's own zone shows as an hour off.
#include "readings/readingsfixture.h"

#include <QJsonDocument>

using namespace testing_support;

namespace {

// Water's house: the meter of flat 1 has coefficient 10, was verified 2021-01-31 for a month
// and carries personal account ЛС-7; flat 2 holds a heat meter.
class CurrentValues : public MeteredHouse {
protected:
    void SetUp() override
    {
        MeteredHouse::SetUp();
        db->exec(QStringLiteral(R"(UPDATE "ModelTable" SET "PovInterval"=1
            WHERE "Id"=(SELECT "ModelId" FROM "DeviceTable" WHERE "Id"=%1))").arg(meter));
        update("DeviceTable", R"("TransKoef"=10)", meter);
        db->exec(QStringLiteral(R"(INSERT INTO "PoverkaTable" ("DeviceId", "DatePov", "Actual")
            VALUES (%1, '2020-06-01', 0), (%1, '2021-01-31', 1))").arg(meter));
        accounts(flat, "(%1, 2, 'ЛС-7')");
        heatFlat = object(house, "2");
        heatMeter = installedDevice(model(6), heatFlat, 2);
        update("DeviceTable", R"("DevType"=4)", heatMeter);
    }
    // Personal accounts of an object: value rows in which %1 stands for its id.
    void accounts(qint64 objectId, const char* rows)
    {
        db->exec(QStringLiteral(R"(INSERT INTO "LicAccountTable" ("ObjectId", "ResCode", "Name")
            VALUES )") + QString::fromUtf8(rows).arg(objectId));
    }
    // The newest readings of the house as the water company's user asks for them.
    CgiResult values(const Params& params)
    {
        const Params at{{"AddressId", QString::number(house)}};
        return call(waterUser, "Get_DevValuesFromAddress", at + params);
    }
    // The meter's row, the first of the house.
    QJsonObject meterRow(const Params& params)
    {
        const CgiResult r = values(params);
        EXPECT_CODE(r, 0);
        return r.row(0);
    }
    QString meterValue(const Params& params)
    {
        const QJsonArray values = meterRow(params)["values"].toArray();
        return values.isEmpty() ? QStringLiteral("none")
                                : values.first().toObject()["val"].toString();
    }
    // A volume, and a temperature that is no accumulating value.
    void volume(const QString& utc, const QString& val)
    {
        archiveRow(meter, utc, json({reading(5, 10, val), reading(17, 29, "21.5")}));
    }

    qint64 heatFlat = 0;
    qint64 heatMeter = 0;
};

TEST_F(CurrentValues, EachDeviceShowsItsNewestAccumulatingValuesOfTheLocalDay)
{
    volume("2021-03-01 10:00:00", "100.5");
    volume("2021-03-01 21:30:00", "101.25"); // 00:30 on 2 March there
    volume("2021-03-03 12:00:00", "105");
    EXPECT_EQ(meterRow({{"Date", "2021-03-02"}}),
              (QJsonObject{{"devId", meter}, {"devStatus", 0}, {"transKoef", 10}, {"objId", flat},
                           {"objType", 0}, {"obj", "1"}, {"zavNum", "Z1"}, {"resCode", 2},
                           {"res", QStringLiteral("Водоснабжение (холодная вода)")},
                           {"datePov", "2021-01-31"}, {"dateNextPov", "2021-02-28"},
                           {"licNum", QStringLiteral("ЛС-7")}, {"title", QStringLiteral("Объем")},
                           {"ed", QStringLiteral("м³")}, {"date", "2021-03-02"},
                           {"values", QJsonArray{reading(5, 10, "101.25")}}}));
    // The coefficient scales only when asked, before the client's unit and precision.
    const Params scaled{{"Date", "2021-03-02"}, {"TransKoef", "1"}, {"EdVoda", "11"}};
    EXPECT_EQ(meterValue(scaled + Params{{"PreciseVoda", "1"}}), "1012500.0");
    // A heat meter without readings keeps its place, and shows the personal account of its own
    // resource among the accounts of its flat.
    accounts(heatFlat, "(%1, 2, 'ЛС-9'), (%1, 6, 'ЛС-8')");
    const CgiResult all = values({{"Date", "2021-03-02"}});
    ASSERT_EQ(all.data().size(), 2);
    const QJsonObject heatRow = all.row(1);
    EXPECT_EQ(heatRow["licNum"].toString(), QStringLiteral("ЛС-8"));
    EXPECT_EQ(heatRow["values"].toArray().size(), 0);
}

TEST_F(CurrentValues, WindowsReachAcrossNewYearAndTheTablesOfBothFrames)
{
    volume("2020-12-30 10:00:00", "1");
    const qint64 newYear = archiveRow(meter, "2021-01-01 09:00:00", json({reading(5, 10, "2")}));
    EXPECT_EQ(meterValue({{"Date", "2021-01-02"}, {"DeltaDate", "5"}}), "2");
    db->exec(QStringLiteral(R"(DELETE FROM "ArchiveTable2021" WHERE "Id"=%1)").arg(newYear));
    EXPECT_EQ(meterValue({{"Date", "2021-01-02"}, {"DeltaDate", "5"}}), "1");
    // Stored in the last hours of 2020, read there on New Year's morning.
    volume("2020-12-31 22:00:00", "3");
    EXPECT_EQ(meterValue({{"Date", "2021-01-01"}}), "3");
    // "DeltaDate" reaches 28 days back at most.
    volume("2020-11-01 10:00:00", "4");
    EXPECT_EQ(meterValue({{"Date", "2020-11-30"}, {"DeltaDate", "40"}}), "none");
    EXPECT_EQ(meterValue({{"Date", "2020-11-29"}, {"DeltaDate", "28"}}), "4");
}

// Quotes and backslashes in a value are only text; a row that breaks the format ends the
// command with 131, an archive that cannot be read with 30.
TEST_F(CurrentValues, StoredRowsThatBreakTheFormat)
{
    archiveRow(meter, "2021-05-02 10:00:00",
               R"([{"titleId":5,"edId":10,"val":"1'2\\3\"","prefixNum":0,"postfixNum":0}])");
    const Params literal{{"Date", "2021-05-02"}, {"TransKoef", "1"}, {"PreciseVoda", "2"}};
    EXPECT_EQ(meterValue(literal), "1'2\\3\"");
    archiveRow(meter, "2021-05-10 10:00:00", "[1]");
    EXPECT_CODE(values({{"Date", "2021-05-10"}}), 131);
    db->exec(R"(ALTER TABLE "ArchiveTable2021" RENAME "JsonVal" TO "Gone")");
    EXPECT_CODE(values({{"Date", "2021-05-02"}}), 30);
}

class ErrorFlags : public CurrentValues {
protected:
    QString errorsOf(qint64 device, int count, double firstHoursAgo)
    {
        QStringList ids;
        for (int i = 0; i < count; ++i) {
            const QString at = hoursAgo(firstHoursAgo + i);
            ids << QString::number(archiveRow(device, at, "[]", json({flags(0x1, 1, 2)})));
        }
        return ids.join(',');
    }
    QJsonArray flagged(const QString& token, const Params& params = {})
    {
        const CgiResult r = call(token, "Get_ErrorFlags", params);
        EXPECT_CODE(r, 0);
        return r.data();
    }
    // An acknowledgement of a device's errors up to a time.
    static QJsonObject element(const QJsonValue& id, const QJsonValue& date)
    {
        return QJsonObject{{"deviceId", id}, {"date", date}};
    }
};

TEST_F(ErrorFlags, DevicesWithTheirTenNewestUnacknowledgedErrors)
{
    errorsOf(meter, 12, 1);
    archiveRow(meter, hoursAgo(0.5), "[]",
               R"([{"errorCode":1,"prefixNum":0,"postfixNum":0,"fixed":1},)"
               R"({"errorCode":2,"prefixNum":0,"postfixNum":0}])");
    archiveRow(meter, hoursAgo(0.2), "[]", json({flags(0)}));
    const QString twoFlags = json({flags(0x30, 3, 4), flags(1)});
    const qint64 newest = archiveRow(meter, hoursAgo(0.1), "[]", twoFlags);
    const qint64 abonent = abonentAt(flat, QStringLiteral("Иванов"));
    const QJsonArray devices = flagged(waterUser);
    ASSERT_EQ(devices.size(), 1);
    const QJsonObject device = devices.at(0).toObject();
    const QJsonArray errors = device["errors"].toArray();
    ASSERT_EQ(errors.size(), 10);
    const QString stored = value(QStringLiteral(R"(SELECT "ArcDate"::text FROM "ArchiveTable%1"
        WHERE "Id"=%2)").arg(hoursAgo(0.1).left(4)).arg(newest)).left(19);
    QDateTime utc = QDateTime::fromString(stored, "yyyy-MM-dd HH:mm:ss");
    utc.setTimeSpec(Qt::UTC);
    const QString local = utc.addSecs(180 * 60).toString("yyyy-MM-dd HH:mm:ss");
    EXPECT_EQ(errors.at(0).toObject(),
              (QJsonObject{{"id", newest}, {"date", local}, {"dateUTC", stored},
                           {"errorCode", 0x30}, {"prefixNum", 3}, {"postfixNum", 4}}));
    // The next is an hour old: the acknowledged row between is not listed.
    EXPECT_EQ(errors.at(1).toObject()["prefixNum"].toInt(), 1);
    EXPECT_EQ(device["addressName"].toString(), QStringLiteral("Ленина 1"));
    EXPECT_EQ(device["abonentId"].toInt(), abonent);
    EXPECT_EQ(device["manId"].toString(), "ABC");

    // A device switched off is not listed; "DevCount" cuts the list.
    errorsOf(heatMeter, 1, 2);
    EXPECT_EQ(flagged(waterUser).size(), 2);
    EXPECT_EQ(flagged(waterUser, {{"DevCount", "1"}}).size(), 1);
    update("DeviceTable", R"("Status"=1)", heatMeter);
    EXPECT_EQ(flagged(waterUser, {{"DevCount", "5000"}}).size(), 1);
    for (const char* count : {"0", "5001"}) {
        EXPECT_CODE(call(waterUser, "Get_ErrorFlags", {{"DevCount", count}}), 181) << count;
    }
}

TEST_F(ErrorFlags, EachCallerSeesHisCompanysDevicesOnly)
{
    errorsOf(meter, 1, 1);
    const qint64 loose = installedDevice(model(2), objectOf(0), 9);
    errorsOf(loose, 1, 1);
    EXPECT_TRUE(flagged(createUser("huser", 131, heat)).isEmpty());
    EXPECT_EQ(flagged(waterUser).size(), 1);
    EXPECT_EQ(flagged(adminToken()).size(), 2);
    const QJsonArray ofNoCompany = flagged(createUser("nobody", 130));
    ASSERT_EQ(ofNoCompany.size(), 1);
    EXPECT_EQ(ofNoCompany.at(0).toObject()["deviceId"].toInt(), loose);
}

TEST_F(ErrorFlags, AcknowledgementsAreCheckedWholeBeforeAnythingIsWritten)
{
    errorsOf(meter, 1, 1);
    const qint64 heatsDevice = installedDevice(model(2), objectOf(heat), 8);
    errorsOf(heatsDevice, 1, 1);
    const QString waterOperator = createUser("wop", 130, water);
    const QString now = hoursAgo(0);
    const auto archive = [&]() -> QString {
        return snapshot() + value(QStringLiteral(R"(SELECT string_agg("JsonErr"::text, '|'
            ORDER BY "Id") FROM "ArchiveTable%1")").arg(now.left(4)));
    };
    const QString before = archive();
    const struct {
        QString data;
        int code;
    } cases[] = {
        {json({element(0, now)}), 157},
        {json({element("1x", now)}), 157},
        {json({element(meter, now.left(16))}), 157},
        // Another company's device, even after one of the caller's own: nothing is written.
        {json({element(meter, now), element(heatsDevice, now)}), 246},
    };
    for (const auto& c : cases) {
        EXPECT_CODE(call(waterOperator, "Clear_ErrorFlags", {{"DATA", c.data}}), c.code)
            << qPrintable(c.data);
    }
    const Params own{{"DATA", json({element(meter, now)})}};
    EXPECT_CODE(call(waterUser, "Clear_ErrorFlags", own), 143);
    EXPECT_EQ(archive(), before);
}

// The acknowledgement changes the stored row in place: a concurrent change of the same row
// is kept, and the command waits for it rather than overwrite it.
TEST_F(ErrorFlags, AConcurrentChangeOfTheRowIsKept)
{
    const QString id = errorsOf(meter, 1, 1);
    const QString table = QStringLiteral("\"ArchiveTable%1\"").arg(hoursAgo(1).left(4));
    const QString changed = R"([{"errorCode":1,"prefixNum":1,"postfixNum":2},)"
                            R"({"errorCode":8,"prefixNum":0,"postfixNum":0}])";
    bool waited = false;
    const CgiResult r = callWhileHeld(
        createUser("wop", 130, water), "Clear_ErrorFlags",
        {{"DATA", json({element(meter, hoursAgo(0))})}},
        {QStringLiteral("SELECT 1 FROM %1 WHERE \"Id\"=%2 FOR UPDATE").arg(table, id),
         QStringLiteral(R"(UPDATE %1 SET "JsonErr"='%3' WHERE "Id"=%2)").arg(table, id, changed)},
        &waited);
    EXPECT_TRUE(waited);
    EXPECT_CODE(r, 0);
    const QString stored =
        value(QStringLiteral(R"(SELECT "JsonErr"::text FROM %1 WHERE "Id"=%2)").arg(table, id));
    const QJsonArray elements = QJsonDocument::fromJson(stored.toUtf8()).array();
    ASSERT_EQ(elements.size(), 2);
    EXPECT_EQ(elements.at(0).toObject()["fixed"].toInt(), 1);
    EXPECT_EQ(elements.at(1).toObject()["errorCode"].toInt(), 8);
}

} // namespace
