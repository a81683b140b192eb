// Readings in the last local hour of a day and just after it, at a house ahead of UTC and at
// one behind it: each belongs to the day of its local time, whatever its UTC date is. The day
// is the one the machine's zone moves its clock on, which must not matter.
#include "support/pgfixture.h"

using namespace testing_support;

namespace {

class LastLocalHour : public TwoCompanies {
protected:
    struct House {
        int shift;
        QString address;
        QString meter;
    };

    House houseAt(int shiftMinutes, int identNum)
    {
        House h{shiftMinutes, QString::number(address(QStringLiteral("house"), water)), {}};
        db->exec(QStringLiteral(R"(UPDATE "AddressTable" SET "TimeShift"=%1 WHERE "Id"=%2)").arg(shiftMinutes).arg(h.address));
        const qint64 flat = object(h.address.toLongLong());
        db->exec(QStringLiteral(R"(UPDATE "ObjectTable" SET "ObjType"=3 WHERE "Id"=%1)").arg(flat));
        h.meter = QString::number(installedDevice(model(2), flat, identNum));
        return h;
    }

    // A volume read at a local time of the house.
    void volumeAt(const House& h, const char* local, const char* val)
    {
        QDateTime time = QDateTime::fromString(QString::fromLatin1(local), "yyyy-MM-dd HH:mm:ss");
        time.setTimeSpec(Qt::UTC); // the machine's zone must not move the house's clock
        archiveRow(h.meter.toLongLong(), time.addSecs(-60 * h.shift).toString("yyyy-MM-dd HH:mm:ss"),
                   json({reading(5, 10, QString::fromLatin1(val))}));
    }

    // "date=value" of a slot, its first value read from the array under the given key.
    static QString slot(const QJsonValue& entry, const char* values)
    {
        const QJsonObject o = entry.toObject();
        return o["date"].toString() + "=" + o[values].toArray().at(0).toObject()["val"].toString();
    }

    CgiResult read(const char* command, const Params& params)
    {
        const CgiResult r = callAsAdmin(command, Params{{"CompanyId", QString::number(water)}} + params);
        EXPECT_CODE(r, 0) << command;
        return r;
    }
};

TEST_F(LastLocalHour, ReadingsBelongToTheDayOfTheirLocalTime)
{
    for (const int shift : {180, -300}) {
        const House h = houseAt(shift, shift + 1000);
        volumeAt(h, "2026-03-28 23:30:00", "10.0");
        volumeAt(h, "2026-03-29 12:00:00", "11.0");
        volumeAt(h, "2026-03-29 23:30:00", "12.0");
        volumeAt(h, "2026-03-29 23:59:59", "13.0");
        volumeAt(h, "2026-03-30 00:50:00", "14.0");
        const Params day{{"Date", "2026-03-29"}};
        const QJsonObject now = read("Get_DevValuesFromAddress", day + Params{{"AddressId", h.address}, {"DeltaDate", "0"}}).row();
        EXPECT_EQ(now["values"].toArray().at(0).toObject()["val"].toString(), "13.0") << shift;
        // Hour slots hold the newest reading of the hour they begin; the last is the next day's first.
        const QJsonArray hours = read("Get_DevValues", day + Params{{"DeviceId", h.meter}, {"Period", "day"}, {"NoCalc", "1"}}).data();
        ASSERT_EQ(hours.size(), 24) << shift;
        EXPECT_EQ(slot(hours.at(11), "valTable"), "2026-03-29 12:00:00=11.0") << shift; // read at its first second
        EXPECT_EQ(slot(hours.at(22), "valTable"), "2026-03-29 23:00:00=13.0") << shift;
        EXPECT_EQ(slot(hours.at(23), "valTable"), "2026-03-30 00:00:00=14.0") << shift;
        const QJsonObject device = read("Report", {{"addressId", h.address}, {"dateStart", "2026-03-29"}, {"dateEnd", "2026-03-29"}})
                                       .row()["objects"].toArray().at(0).toObject()["devices"].toArray().at(0).toObject();
        EXPECT_EQ(slot(device["devValues"].toArray().last(), "values"), "2026-03-29 23:00:00=13.0") << shift;
        const QJsonObject consumption = read("Get_Report", {{"AddressId", h.address}, {"StartDate", "2026-03-29"}, {"EndDate", "2026-03-29"}})
                                            .row()["devices"].toArray().at(0).toObject();
        EXPECT_EQ(consumption["startVal"].toString() + "->" + consumption["endVal"].toString() + "=" + consumption["ras"].toString(),
                  "10.0->13.0=3.0") << shift;
    }
}

} // namespace
