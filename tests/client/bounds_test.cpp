// What one request may cost: every date a command takes, at the edges of the years it
// accepts and past them, gives its slots or its date code, and neither loops nor fails.
#include "support/pgfixture.h"

using namespace testing_support;

namespace {

class Bounds : public TwoCompanies {
protected:
    void SetUp() override
    {
        TwoCompanies::SetUp();
        house = address(QStringLiteral("Ленина 1"), water);
        db->exec(QStringLiteral(R"(UPDATE "AddressTable" SET "TimeShift"=-150 WHERE "Id"=%1)").arg(house));
        meter = installedDevice(model(2), object(house), 1);
        archiveRow(meter, "2021-03-01 12:00:00", json({reading(5, 10, "1.5")}));
    }

    qint64 house = 0;
    qint64 meter = 0;
};

// One command with a date put where "@" stands, and the code of a date it refuses.
struct DatedCall {
    const char* command;
    Params params;
    int refusal;
};

TEST_F(Bounds, EveryDateAtTheEdgeOfTheAcceptedYearsGivesItsSlotsOrItsCode)
{
    const QString device = QString::number(meter);
    const QString address = QString::number(house);
    const QList<DatedCall> calls = {
        {"Get_DevValues", {{"DeviceId", device}, {"Period", "year"}, {"Date", "@"}}, 256},
        {"Get_DevValues", {{"DeviceId", device}, {"Period", "month"}, {"Date", "@"}}, 256},
        {"Get_DevValues", {{"DeviceId", device}, {"Period", "day"}, {"Date", "@"}}, 256},
        {"Get_DevValues", {{"DeviceId", device}, {"Period", "period"}, {"StartDate", "@"}, {"EndDate", "@"}}, 256},
        {"Get_PeriodValues", {{"AddressId", address}, {"CompanyId", QString::number(water)}, {"Period", "year"}, {"Date", "@"}}, 256},
        {"Get_PeriodValues", {{"AddressId", address}, {"CompanyId", QString::number(water)}, {"Period", "period"}, {"StartDate", "@"}, {"EndDate", "@"}}, 256},
        {"Report", {{"period", "0"}, {"dateStart", "@"}, {"dateEnd", "@"}}, 290},
        {"Report", {{"period", "2"}, {"dateStart", "@"}, {"dateEnd", "@"}}, 290},
        {"Report", {{"period", "3"}, {"dateStart", "@"}, {"dateEnd", "@"}}, 290},
        {"Report", {{"period", "4"}, {"dateStart", "@"}, {"dateEnd", "@"}}, 290},
        {"Get_Report", {{"HourReport", "1"}, {"DeviceId", device}, {"StartDate", "@"}, {"EndDate", "@"}}, 256},
        {"Get_Report", {{"AddressId", address}, {"CompanyId", QString::number(water)}, {"StartDate", "@"}, {"EndDate", "@"}}, 256},
        {"Get_DevValuesFromAddress", {{"AddressId", address}, {"Date", "@"}, {"DeltaDate", "28"}}, 256},
        {"Get_TechnicalData", {{"DeviceId", device}, {"DateStart", "@"}, {"DateEnd", "@"}}, 290},
    };
    // The first and last accepted days, and the days just past them, by year and by day.
    const struct {
        const char* date;
        bool accepted;
    } dates[] = {{"0001-01-01", false}, {"0001-06-01", false}, {"1899-12-31", false}, {"1900-01-01", true},
                 {"9998-12-31", true},  {"9999-01-01", false}, {"9999-12-31", false}, {"0000-01-01", false},
                 {"10000-01-01", false}};
    for (const DatedCall& call : calls) {
        for (const auto& date : dates) {
            Params params = call.params;
            for (auto& param : params) {
                if (param.second == "@") {
                    param.second = date.date;
                }
            }
            const CgiResult r = this->call(adminToken(), call.command, params);
            EXPECT_CODE(r, date.accepted ? 0 : call.refusal) << call.command << " " << params.at(1).second.toStdString()
                                                             << " " << date.date;
        }
    }
    // Accepted edges give every slot: twelve months of the last year, 24 hours of its last day.
    const Params year{{"DeviceId", device}, {"Period", "year"}, {"Date", "9998-12-31"}};
    EXPECT_EQ(call(adminToken(), "Get_DevValues", year).data().size(), 12);
    const Params day{{"DeviceId", device}, {"Period", "day"}, {"Date", "1900-01-01"}};
    EXPECT_EQ(call(adminToken(), "Get_DevValues", day).data().size(), 24);
    // An acknowledgement names a time: its year is bounded in the same way.
    const QString element = QStringLiteral(R"([{"deviceId":%1,"date":"%2"}])");
    EXPECT_CODE(call(adminToken(), "Clear_ErrorFlags", {{"DATA", element.arg(meter).arg("0001-01-01 00:00:00")}}), 157);
    EXPECT_CODE(call(adminToken(), "Clear_ErrorFlags", {{"DATA", element.arg(meter).arg("1900-01-01 00:00:00")}}), 0);
    EXPECT_CODE(call(adminToken(), "Clear_ErrorFlags", {{"DATA", element.arg(meter).arg("9998-12-31 23:59:59")}}), 0);
}

} // namespace
