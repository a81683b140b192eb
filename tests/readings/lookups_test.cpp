// The archive look-ups that display texts are made of, in-process on the test database, in a
// zone with summer time.
#include "readings/readingsfixture.h"

using namespace testing_support;

namespace {

class Lookups : public InProcessDatabase {
protected:
    void SetUp() override
    {
        InProcessDatabase::SetUp();
        device = installedDevice(model(4), objectOf(0), 1);
        identity.devType = 2; // electricity
    }

    orvela::DeviceIdentity identity;
    qint64 device = 0;
};

TEST_F(Lookups, LatestReadingTextSearchesBackTwoYears)
{
    const int year = QDateTime::currentDateTimeUtc().date().year();
    const QString march28 = QStringLiteral("%1-03-28 01:30:00");
    archiveRow(device, march28.arg(year - 3), json({reading(2, 2, "1")}));
    orvela::ReadingLookups lookups(database, units);
    const QDateTime now = QDateTime::currentDateTimeUtc();
    EXPECT_TRUE(lookups.latestReadingText(device, identity, 60, 1, now).values.isEmpty());
    // The hour that summer time skips in the machine's zone is an ordinary hour here.
    archiveRow(device, march28.arg(year - 2),
               json({reading(2, 2, "1520.5", 0, 1), reading(9, 37, "2.5")}), json({flags(0x40, 2)}),
               QStringLiteral("%1-03-28 01:31:00").arg(year - 2));
    orvela::ReadingLookups again(database, units);
    const auto texts = again.latestReadingText(device, identity, 60, 10, now);
    EXPECT_EQ(texts.values,
              QStringLiteral("Электроэнергия (тариф 1): 15205.0 кВт⋅час\nМощность: 2.5 кВт"));
    EXPECT_EQ(texts.errors, QStringLiteral("Канал 2: Воздействие внешнего магнитного поля"));
    EXPECT_EQ(texts.arcTime, QStringLiteral("02:30:00\n28.03.%1").arg(year - 2));
    EXPECT_EQ(texts.recTime, QStringLiteral("02:31:00\n28.03.%1").arg(year - 2));
}

// Many devices at once, each with the newest row of its own window, across New Year in local
// time, scaled and put into the client's units; a row that does not parse stops the look-up
// at the first device that has one.
TEST_F(Lookups, LatestReadingsOfManyDevices)
{
    const qint64 other = installedDevice(model(4), objectOf(0), 2);
    const auto energy = [](const char* val) { return json({reading(2, 2, val, 0, 1)}); };
    archiveRow(device, "2020-12-31 21:30:00", energy("5")); // 2021-01-01 00:30 local
    archiveRow(device, "2020-12-31 20:30:00", energy("4")); // the day before, local
    archiveRow(device, "2021-01-01 05:00:00", energy("8")); // newer, in the next table
    archiveRow(other, "2021-01-01 10:00:00", energy("7"));
    archiveRow(other, "2021-01-01 09:00:00", energy("6"));
    orvela::ReadingLookups lookups(database, units);
    QVector<orvela::ReadingLookups::LatestReading> readings;
    const QVector<orvela::ReadingLookups::ReadingDevice> devices{
        {device, identity, 10}, {other, identity, 1}, {other + 1, identity, 1}};
    ASSERT_EQ(lookups.latestDeviceReadings(devices, QDate(2021, 1, 1), 0, 180, &readings), 0);
    ASSERT_EQ(readings.size(), 3);
    EXPECT_EQ(readings[0].values.first().val, "80");
    EXPECT_EQ(readings[0].time, QDateTime(QDate(2021, 1, 1), QTime(8, 0), Qt::UTC));
    EXPECT_EQ(readings[1].values.first().val, "7");
    EXPECT_TRUE(readings[2].values.isEmpty());
    EXPECT_EQ(readings[2].time, QDateTime(QDate(2021, 1, 1), QTime(0, 0), Qt::UTC));
    archiveRow(other, "2021-01-01 11:00:00", R"({"titleId":2})");
    EXPECT_EQ(lookups.latestDeviceReadings(devices, QDate(2021, 1, 1), 0, 180, &readings), 131);
}

} // namespace
