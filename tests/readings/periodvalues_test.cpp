// Period tables and reports through the real program, with readings at an address three hours
// ahead of UTC, in a machine zone with summer time.
#include "readings/readingsfixture.h"

using namespace testing_support;

namespace {

QJsonObject firstValue(const QJsonValue& entry)
{
    return entry.toObject()["valTable"].toArray().at(0).toObject();
}

class PeriodValues : public MeteredHouse {
protected:
    void SetUp() override
    {
        MeteredHouse::SetUp();
        update("ObjectTable", R"("ObjType"=3)", flat);
    }
    void volumeAt(const QString& local, const char* val)
    {
        readingAt(meter, local, {reading(5, 10, val)});
    }
    QJsonArray table(const Params& params, qint64 device = 0)
    {
        const CgiResult r = callFor(device ? device : meter, "Get_DevValues", params);
        EXPECT_CODE(r, 0);
        return r.data();
    }
    // "date=val/ras" of each entry's first value.
    static QStringList volumes(const QJsonArray& entries)
    {
        QStringList texts;
        for (const QJsonValue& entry : entries) {
            const QJsonObject first = firstValue(entry);
            texts << entry.toObject()["date"].toString().mid(5, 11) + QLatin1Char('=') +
                         first["val"].toString() + QLatin1Char('/') + first["ras"].toString();
        }
        return texts;
    }
};

TEST_F(PeriodValues, ADayWithoutReadingsIsEstimatedBetweenItsNeighbours)
{
    volumeAt("2021-02-28 23:30:00", "99.0");
    volumeAt("2021-03-01 12:00:00", "100.0");
    volumeAt("2021-03-03 12:00:00", "104.0");
    const Params period{
        {"Period", "period"}, {"StartDate", "2021-03-01"}, {"EndDate", "2021-03-03"}};
    const QJsonArray entries = table(period);
    EXPECT_EQ(volumes(entries), QStringList({"03-01 23:00=100.0/1.00", "03-02 23:00=102.0/2.00",
                                             "03-03 23:00=104.0/2.00"}));
    EXPECT_EQ(entries.at(1).toObject()["val"].toString(), QStringLiteral("Объем: 102.0 м³"));
    EXPECT_EQ(entries.at(0).toObject()["recDate"].toString(), "2021-03-01 12:00:00");
    // Without estimates the day stays empty, and neither it nor the next day has a consumption.
    EXPECT_EQ(volumes(table(period + Params{{"NoCalc", "1"}})),
              QStringList({"03-01 23:00=100.0/1.00", "03-02 23:00=/", "03-03 23:00=104.0/"}));
    // The coefficient and the client's unit apply to the values and their consumption alike.
    update("DeviceTable", R"("TransKoef"=10)", meter);
    const Params scaled{{"TransKoef", "1"}, {"EdVoda", "11"}, {"PreciseVoda", "0"}};
    EXPECT_EQ(volumes(table(period + scaled)).at(1), "03-02 23:00=1020000/20000");
}

// West of Greenwich the evening of 31 December is stored in the next year's table: the
// reading before an empty start is the newest of both years.
TEST_F(PeriodValues, TheReadingBeforeAnEmptyStartIsTheNewestOfBothYears)
{
    const qint64 west = address(QStringLiteral("West"), water);
    update("AddressTable", R"("TimeShift"=-300)", west);
    const qint64 device = installedDevice(model(2), object(west), 7);
    archiveRow(device, "2020-12-25 12:00:00", json({reading(5, 10, "10.0")}));
    archiveRow(device, "2021-01-01 02:00:00", json({reading(5, 10, "20.0")})); // 31 Dec, 21:00
    archiveRow(device, "2021-01-06 04:00:00", json({reading(5, 10, "30.0")})); // 5 Jan, 23:00
    const QStringList month = volumes(table({{"Period", "month"}, {"Date", "2021-01-15"}}, device));
    ASSERT_GE(month.size(), 5);
    EXPECT_EQ(month.at(0), "01-01 23:00=22.0/2.00");
    EXPECT_EQ(month.at(4), "01-05 23:00=30.0/2.00");
}

TEST_F(PeriodValues, AnEmptyStartIsEstimatedFromTheLastReadingBefore)
{
    volumeAt("2021-01-25 10:00:00", "10.0");
    volumeAt("2021-02-05 10:00:00", "20.0");
    const QStringList month = volumes(table({{"Period", "month"}, {"Date", "2021-02-01"}}));
    ASSERT_EQ(month.size(), 28);
    EXPECT_EQ(month.at(0), "02-01 23:00=16.4/0.90");
    // Ten days after the period there is nothing to estimate the end from.
    EXPECT_EQ(month.at(27), "02-28 23:00=/");
}

// Steps finer than a hundredth keep the decimals the client asked for; without a precision
// the consumption keeps its two decimals.
TEST_F(PeriodValues, ConsumptionKeepsTheDecimalsTheClientAskedFor)
{
    volumeAt("2021-03-10 00:30:00", "1.000");
    volumeAt("2021-03-10 01:30:00", "1.003");
    volumeAt("2021-03-10 02:30:00", "1.010");
    volumeAt("2021-03-10 03:30:00", "1.166");
    const auto hours = [&](const Params& precision) {
        return volumes(table(Params{{"Period", "day"}, {"Date", "2021-03-10"}} + precision))
            .mid(0, 3);
    };
    EXPECT_EQ(hours({{"PreciseVoda", "3"}}),
              QStringList({"03-10 01:00=1.003/0.003", "03-10 02:00=1.010/0.007",
                           "03-10 03:00=1.166/0.156"}));
    EXPECT_EQ(hours({}), QStringList({"03-10 01:00=1.003/0.00", "03-10 02:00=1.010/0.01",
                                      "03-10 03:00=1.166/0.16"}));
}

TEST_F(PeriodValues, AYearIsItsTwelveMonthsUpToDecember)
{
    volumeAt("2020-12-28 10:00:00", "10");
    volumeAt("2021-12-20 10:00:00", "22");
    // The last local hour of the year closes December; of two accumulating registers the
    // last is the slot's own.
    readingAt(meter, "2021-12-31 23:30:00", {reading(5, 10, "23"), reading(44, 10, "2")});
    const QJsonArray year = table({{"Period", "year"}, {"Date", "2021-06-01"}});
    const QStringList months = volumes(year);
    ASSERT_EQ(months.size(), 12);
    EXPECT_EQ(months.at(11), "12-25 00:00=23/1.00");
    EXPECT_EQ(year.at(11).toObject()["titleId"].toInt(), 44);
    // Years long before the tables the schema keeps, with no table of their own, read as empty.
    const QStringList unmade = volumes(table({{"Period", "year"}, {"Date", "2012-06-01"}}));
    ASSERT_EQ(unmade.size(), 12);
    EXPECT_EQ(unmade.at(0), "01-25 00:00=/");
}

// A period of more than 366 days is refused; a device installed nowhere is read by global
// callers in UTC.
TEST_F(PeriodValues, LimitsAndAnUninstalledDeviceReadInUtc)
{
    EXPECT_CODE(callFor(meter, "Get_DevValues", {{"Period", "week"}}), 257);
    for (const char* end : {"2021-01-01", "2021-01-02"}) {
        const Params days{{"Period", "period"}, {"StartDate", "2020-01-01"}, {"EndDate", end}};
        EXPECT_CODE(callFor(meter, "Get_DevValues", days), end[9] == '1' ? 0 : 256) << end;
    }
    db->exec(QStringLiteral(R"(UPDATE "InstallTable" SET "Actual"=0 WHERE "DeviceId"=%1)")
                 .arg(meter));
    archiveRow(meter, "2021-03-01 22:30:00", json({reading(5, 10, "7")}));
    EXPECT_CODE(callFor(meter, "Get_DevValues", {{"Period", "day"}}), 246);
    const Params utcDay{{"DeviceId", QString::number(meter)}, {"Period", "day"},
                        {"Date", "2021-03-01"}, {"NoCalc", "1"}};
    const QJsonArray utc = callAsAdmin("Get_DevValues", utcDay).data();
    ASSERT_EQ(utc.size(), 24);
    EXPECT_EQ(firstValue(utc.at(21))["val"].toString(), "7");
}

TEST_F(PeriodValues, EveryDeviceOfTheObjectsAtAnAddress)
{
    volumeAt("2021-03-01 12:00:00", "100.0");
    volumeAt("2021-03-02 12:00:00", "101.5");
    // A second meter of the flat, listed after the first with readings of its own.
    const qint64 second = installedDevice(model(2), flat, 2);
    readingAt(second, "2021-03-02 12:00:00", {reading(5, 10, "7.25")});
    const Params period{{"AddressId", QString::number(house)}, {"Period", "period"},
                        {"StartDate", "2021-03-02"}, {"EndDate", "2021-03-02"}};
    const CgiResult r = call(waterUser, "Get_PeriodValues", period);
    ASSERT_CODE(r, 0);
    ASSERT_EQ(r.data().size(), 1);
    const QJsonArray both = r.row()["devices"].toArray();
    ASSERT_EQ(both.size(), 2);
    const auto value = [&both](int index, const char* key) {
        return both.at(index).toObject()["values"].toArray().at(0).toObject()[key].toString();
    };
    EXPECT_EQ(both.at(1).toObject()["id"].toInt(), second);
    EXPECT_EQ(value(1, "val"), "7.25");
    EXPECT_EQ(both.at(0).toObject()["info"].toString(),
              QStringLiteral("WMBus: ABC 00000001 01 07\nКоэф.трансформации: 1 DataFormat:0"));
    EXPECT_EQ(value(0, "val"), "101.5");
    EXPECT_EQ(value(0, "ras"), "1.50");
}

class Reports : public PeriodValues {
protected:
    void SetUp() override
    {
        PeriodValues::SetUp();
        for (QDate day(2021, 2, 20); day <= QDate(2021, 3, 20); day = day.addDays(1)) {
            volumeAt(day.toString("yyyy-MM-dd") + " 12:00:00",
                     QString::number(day.dayOfYear()).toLatin1().constData());
        }
    }
    static QJsonArray slotsOf(const CgiResult& r)
    {
        const QJsonObject object = r.row()["objects"].toArray().at(0).toObject();
        return object["devices"].toArray().at(0).toObject()["devValues"].toArray();
    }
    // "date=val" of every reported slot of the first device.
    QStringList reported(const Params& params)
    {
        const CgiResult r = report(params);
        EXPECT_CODE(r, 0);
        QStringList texts;
        for (const QJsonValue& slot : slotsOf(r)) {
            texts << slot.toObject()["date"].toString().left(10) + QLatin1Char('=') +
                         slot.toObject()["values"].toArray().at(0).toObject()["val"].toString();
        }
        return texts;
    }
    CgiResult report(const Params& params) { return call(waterUser, "Report", params); }
    // The report from the first day to the last in slots of the given period.
    static Params range(const char* start, const char* end, const char* period = "1")
    {
        return {{"dateStart", start}, {"dateEnd", end}, {"period", period}};
    }
};

TEST_F(Reports, EachPeriodReportsTheEndOfItsSlots)
{
    EXPECT_EQ(reported(range("2021-03-01", "2021-03-03", "1")),
              QStringList({"2021-02-28=59", "2021-03-01=60", "2021-03-02=61", "2021-03-03=62"}));
    // Weeks run Monday to Sunday; the last one closes the range.
    EXPECT_EQ(reported(range("2021-03-03", "2021-03-17", "2")),
              QStringList({"2021-02-28=59", "2021-03-07=66", "2021-03-14=73", "2021-03-17=76"}));
    const QStringList hours = reported(range("2021-03-02", "2021-03-02", "0"));
    ASSERT_EQ(hours.size(), 25);
    EXPECT_EQ(hours.first(), "2021-03-01=60");
    EXPECT_EQ(reported(range("2021-01-10", "2021-03-15", "3")),
              QStringList({"2020-12-25=", "2021-01-25=", "2021-02-25=59", "2021-03-25=74"}));
    EXPECT_EQ(reported(range("2020-06-01", "2021-03-15", "4")),
              QStringList({"2019-12-25=", "2020-12-25=", "2021-03-25=74"}));
    // A value keeps its channel and sub-index, key by key as the client reads them.
    readingAt(meter, "2021-03-04 13:00:00", {reading(5, 10, "63.5", 2, 3)});
    const QJsonArray days = slotsOf(report(range("2021-03-04", "2021-03-04", "1")));
    EXPECT_EQ(QJsonDocument(days.last().toObject()).toJson(QJsonDocument::Compact),
              R"({"date":"2021-03-04 23:00:00","values":[{"edId":10,"postfixNum":3,)"
              R"("prefixNum":2,"titleId":5,"val":"63.5"}]})");
}

TEST_F(Reports, FiltersAndEstimates)
{
    const qint64 store = object(house, "склад");
    update("ObjectTable", R"("ObjType"=8)", store);
    const auto objects = [this](const char* obj) {
        const Params params = range("2021-03-01", "2021-03-01") + Params{{"obj", obj}};
        return report(params).row()["objects"].toArray().size();
    };
    EXPECT_EQ(objects("5"), 1);
    EXPECT_EQ(objects("1"), 1);
    EXPECT_EQ(objects("7"), 2);
    db->exec(R"(DELETE FROM "ArchiveTable2021"
                WHERE "ArcDate" BETWEEN '2021-03-02 00:00' AND '2021-03-02 23:00')");
    const Params gap = range("2021-03-02", "2021-03-03", "1");
    EXPECT_EQ(reported(gap + Params{{"withCalc", "False"}}).at(1), "2021-03-02=61");
    EXPECT_EQ(reported(gap + Params{{"withCalc", "false"}}).at(1), "2021-03-02=");
}

TEST_F(Reports, EachCallerReportsOnlyHisAddresses)
{
    address(QStringLiteral("Чужой дом"), heat);
    address(QStringLiteral("Ничей дом"), 0);
    const auto names = [this](const QString& token) {
        QStringList found;
        const CgiResult r = call(token, "Report", range("2021-03-01", "2021-03-01"));
        for (const QJsonValue& a : r.data()) {
            found << a.toObject()["name"].toString();
        }
        return found.join(',');
    };
    EXPECT_EQ(names(waterUser), QStringLiteral("Ленина 1"));
    EXPECT_EQ(names(createUser("nobody", 130)), QStringLiteral("Ничей дом"));
    EXPECT_EQ(names(adminToken()), QStringLiteral("Ленина 1,Ничей дом,Чужой дом"));
}

TEST_F(Reports, ConsumptionOfTheObjectsBetweenTwoDays)
{
    const Params week{{"StartDate", "2021-03-01"}, {"EndDate", "2021-03-07"}};
    const CgiResult r = call(waterUser, "Get_Report", week + Params{{"ObjType", "0"}});
    ASSERT_CODE(r, 0);
    const QJsonObject device = r.row()["devices"].toArray().at(0).toObject();
    EXPECT_EQ(device["startDate"].toString() + " " + device["startVal"].toString() + ", " +
                  device["endDate"].toString() + " " + device["ras"].toString(),
              "2021-02-28 23:00 59, 2021-03-07 23:00 7");
    EXPECT_TRUE(call(waterUser, "Get_Report", week + Params{{"ObjType", "8"}}).data().isEmpty());
}

TEST_F(Reports, OneDeviceHourByHour)
{
    volumeAt("2021-03-10 00:30:00", "69.25");
    // A second accumulating register: the hour's consumption is the first one's.
    readingAt(meter, "2021-03-10 01:30:00", {reading(5, 10, "69.5"), reading(44, 10, "3")});
    const Params day{{"StartDate", "2021-03-10"}, {"EndDate", "2021-03-10"}};
    const CgiResult r = callFor(meter, "Get_Report", day + Params{{"HourReport", "yes"}});
    ASSERT_CODE(r, 0);
    ASSERT_EQ(r.data().size(), 25);
    EXPECT_EQ(r.row(0)["date"].toString() + " " + r.row(0)["time"].toString(),
              "2021-03-10 00:00");
    const QJsonObject first = r.row(0)["values"].toArray().at(0).toObject();
    EXPECT_EQ(first["val"].toString(), "69.25");
    // The first hour counts from the end of the day before, the noon reading of 9 March.
    EXPECT_EQ(first["rashod"].toString(), "1.25");
    EXPECT_DOUBLE_EQ(r.row(1)["rashod"].toDouble(), 0.25);
}

} // namespace
