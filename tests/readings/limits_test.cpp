// The windows and day counts of the flag and report commands, each just inside and just
// outside its edge: a limit off by a day passes every typical value.
#include "support/pgfixture.h"

using namespace testing_support;

namespace {

constexpr double kHour = 1;
constexpr double kDay = 24;

class Limits : public TwoCompanies {
protected:
    void SetUp() override
    {
        TwoCompanies::SetUp();
        flat = objectOf(water);
        meterModel = model(2);
        waterAdmin = createUser("wadmin", 129, water);
    }

    // A meter whose only error is this many hours old (before now, or before the reading
    // given as newest).
    QString meterWithErrorAt(double hours, int identNum, double newestHours = -1)
    {
        const qint64 meter = installedDevice(meterModel, flat, identNum);
        archiveRow(meter, hoursAgo(hours), "[]", json({flags(0x1)}));
        if (newestHours >= 0) {
            archiveRow(meter, hoursAgo(newestHours), json({reading(5, 10, "1")}));
        }
        return QString::number(meter);
    }

    qint64 flat = 0, meterModel = 0;
    QString waterAdmin;
};

TEST_F(Limits, ErrorFlagsReachBackThirtyDays)
{
    const QString inside = meterWithErrorAt(30 * kDay - kHour, 1);
    const QString outside = meterWithErrorAt(30 * kDay + kHour, 2);
    const CgiResult r = call(waterAdmin, "Get_ErrorFlags");
    ASSERT_CODE(r, 0);
    QStringList listed;
    for (const QJsonValue& device : r.data()) {
        listed << QString::number(device.toObject()["deviceId"].toInt());
    }
    EXPECT_EQ(listed, QStringList{inside});
}

// The device list's last flags look back ten days from the newest reading, or 45 with a
// resource filter.
TEST_F(Limits, TheDeviceListsLastFlagsReachBackTenDaysOrFortyFiveWithAResource)
{
    const struct {
        double age;
        bool withResource;
        bool shown;
    } cases[] = {
        {10 * kDay - kHour, false, true},
        {10 * kDay + kHour, false, false},
        {45 * kDay - kHour, true, true},
        {45 * kDay + kHour, true, false},
    };
    int identNum = 0;
    for (const auto& c : cases) {
        db->exec(R"(DELETE FROM "InstallTable")");
        const QString meter = meterWithErrorAt(c.age + 1, ++identNum, 1);
        const Params resource = c.withResource ? Params{{"ResCode", "2"}} : Params{};
        const CgiResult r = call(waterAdmin, "Get_DeviceList", resource);
        ASSERT_CODE(r, 0);
        const QJsonObject device = r.row()["devices"].toArray().at(0).toObject();
        ASSERT_EQ(QString::number(device["id"].toInt()), meter);
        EXPECT_EQ(!device["lastFlags"].toString().isEmpty(), c.shown) << c.age / kDay << " days";
    }
}

// An acknowledgement reaches 31 days back from the time it names.
TEST_F(Limits, AnAcknowledgementReachesBackThirtyOneDays)
{
    const qint64 meter = installedDevice(meterModel, flat, 1);
    // "fixed" of the first error of a row written this many hours ago.
    QList<std::function<QString()>> fixed;
    for (const double age : {31 * kDay - kHour, 31 * kDay + kHour}) {
        const QString at = hoursAgo(age);
        const qint64 row = archiveRow(meter, at, "[]", json({flags(0x1)}));
        fixed << [this, at, row] {
            return value(QStringLiteral(R"(SELECT COALESCE("JsonErr"->0->>'fixed', '-') FROM "ArchiveTable%1" WHERE "Id"=%2)")
                             .arg(at.left(4)).arg(row));
        };
    }
    const QJsonObject now{{"deviceId", meter}, {"date", hoursAgo(0)}};
    ASSERT_CODE(call(waterAdmin, "Clear_ErrorFlags", {{"DATA", json({now})}}), 0);
    EXPECT_EQ(fixed.at(0)() + "/" + fixed.at(1)(), "1/-");
    // Sent early in January, it reaches last December's flags in last year's table.
    const qint64 december = archiveRow(meter, "2020-12-20 12:00:00", "[]", json({flags(0x1)}));
    const QJsonObject january{{"deviceId", meter}, {"date", "2021-01-05 12:00:00"}};
    ASSERT_CODE(call(waterAdmin, "Clear_ErrorFlags", {{"DATA", json({january})}}), 0);
    EXPECT_EQ(value(QStringLiteral(
                        R"(SELECT "JsonErr"->0->>'fixed' FROM "ArchiveTable2020" WHERE "Id"=%1)")
                        .arg(december)),
              "1");
}

TEST_F(Limits, AnHourReportCoversThirtyOneDaysAtMost)
{
    const QString meter = QString::number(installedDevice(meterModel, flat, 1));
    const Params report{{"HourReport", "1"}, {"DeviceId", meter}, {"StartDate", "2026-01-01"}};
    EXPECT_CODE(call(waterAdmin, "Get_Report", report + Params{{"EndDate", "2026-02-01"}}), 0);
    EXPECT_CODE(call(waterAdmin, "Get_Report", report + Params{{"EndDate", "2026-02-02"}}), 256);
}

} // namespace
