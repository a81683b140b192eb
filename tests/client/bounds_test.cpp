// What one request may cost: every date a command takes, at the edges of the years it
// accepts and past them, gives its slots or its date code; the values, depth, names and
// elements of a body are counted to their bound; an answer past its limit is refused.
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
    }

    qint64 house = 0, meter = 0;
};

// n copies of a piece, joined: the bodies below are built to a size or to an exact count.
QByteArray repeated(const QByteArray& piece, qint64 n, const QByteArray& separator = ",")
{
    QByteArray out;
    out.reserve(static_cast<int>(n * (piece.size() + separator.size())));
    for (qint64 i = 0; i < n; ++i) {
        out += (i > 0 ? separator : QByteArray()) + piece;
    }
    return out;
}

// A form with this many distinct names, CMD among them.
QByteArray formWithNames(int names)
{
    QByteArray form = "CMD=test";
    for (int i = 1; i < names; ++i) {
        form += "&n" + QByteArray::number(i) + '=';
    }
    return form;
}

TEST_F(Bounds, EveryDateAtTheEdgeOfTheAcceptedYearsGivesItsSlotsOrItsCode)
{
    const QString device = QString::number(meter);
    const QString address = QString::number(house);
    // One command with a date put where "@" stands, and the code of a date it refuses.
    const struct {
        const char* command;
        Params params;
        int refusal;
    } calls[] = {
        {"Get_DevValues", {{"DeviceId", device}, {"Period", "year"}, {"Date", "@"}}, 256},
        {"Get_DevValues", {{"DeviceId", device}, {"Period", "day"}, {"Date", "@"}}, 256},
        {"Get_DevValues", {{"DeviceId", device}, {"Period", "period"}, {"StartDate", "@"}, {"EndDate", "@"}}, 256},
        {"Get_PeriodValues", {{"AddressId", address}, {"CompanyId", QString::number(water)}, {"Period", "period"}, {"StartDate", "@"}, {"EndDate", "@"}}, 256},
        {"Report", {{"period", "0"}, {"dateStart", "@"}, {"dateEnd", "@"}}, 290},
        {"Get_Report", {{"HourReport", "1"}, {"DeviceId", device}, {"StartDate", "@"}, {"EndDate", "@"}}, 256},
        {"Get_DevValuesFromAddress", {{"AddressId", address}, {"Date", "@"}, {"DeltaDate", "28"}}, 256},
        {"Get_TechnicalData", {{"DeviceId", device}, {"DateStart", "@"}, {"DateEnd", "@"}}, 290},
    };
    // The first and last accepted days, and the days just past them, by year and by day.
    const struct {
        const char* date;
        bool accepted;
    } dates[] = {{"0001-01-01", false}, {"1899-12-31", false}, {"1900-01-01", true},
                 {"9998-12-31", true},  {"9999-01-01", false}, {"9999-12-31", false},
                 {" 1900-01-01 ", true}}; // blanks around a date are no part of it
    for (const auto& call : calls) {
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
    EXPECT_CODE(call(adminToken(), "Clear_ErrorFlags", {{"DATA", element.arg(meter).arg("9998-12-31 23:59:59")}}), 0);
}

// The bounds of JSON, of names and of "DATA" at, and one past, their edge: every body is
// answered with its code. A name repeated is one name, however often it comes.
TEST_F(Bounds, BodiesAreCountedToTheirBounds)
{
    const qint64 full = 15 * 1024 * 1024;
    const QByteArray json = "application/json";
    const QByteArray form = "application/x-www-form-urlencoded";
    const QByteArray auth = "&Auth=" + QUrl::toPercentEncoding(adminToken());
    // {"CMD":"test","x":[0,...]} holds n + 3 values by the count of the bound.
    const auto values = [](qint64 n) -> QByteArray { return "{\"CMD\":\"test\",\"x\":[" + repeated("0", n) + "]}"; };
    // The body object is one level; the arrays in it the others.
    const auto nested = [](int levels) -> QByteArray {
        return "{\"CMD\":\"test\",\"x\":" + QByteArray(levels - 1, '[') + QByteArray(levels - 1, ']') + '}';
    };
    // Acknowledgements of a device that does not exist: accepted, and changing nothing.
    const auto acknowledgements = [&](int n) -> QByteArray {
        return "CMD=Clear_ErrorFlags" + auth + "&DATA=[" + repeated(R"({"deviceId":1,"date":"2026-01-01+00:00:00"})", n) + "]";
    };
    const struct {
        const char* shape;
        QByteArray contentType;
        QByteArray body;
        int code;
    } cases[] = {
        {"JSON values at the bound", json, values(199997), 0},
        {"JSON values one past", json, values(199998), 208},
        {"JSON nested at the bound", json, nested(32), 0},
        {"JSON nested one deeper", json, nested(33), 208},
        // Qt's parser would leak the replaced array: a key written twice, once escaped, is refused.
        {"JSON key twice in an object", json, R"({"CMD":"test","x":[0],"\u0078":1})", 208},
        {"JSON key once in each object", json, R"({"CMD":"test","x":[{"x":1},{"x":2}]})", 0},
        {"form of one name repeated", form, "CMD=test&" + repeated("a=", full / 3, "&"), 0},
        {"form names at the bound", form, formWithNames(10000), 0},
        {"form names one past", form, formWithNames(10001), 208},
        {"DATA elements at the bound", form, acknowledgements(5000), 0},
        {"DATA elements one past", form, acknowledgements(5001), 157},
    };
    for (const auto& c : cases) {
        const CgiResult r = cgi->run({{"REQUEST_METHOD", "POST"}, {"CONTENT_TYPE", c.contentType},
                                      {"CONTENT_LENGTH", QByteArray::number(c.body.size())}},
                                     c.body);
        EXPECT_CODE(r, c.code) << c.shape;
    }
}

// An answer past "max_answer_mb" is refused whole, with a text that says how to narrow it;
// one within it is sent whole.
TEST_F(Bounds, AnAnswerPastItsLimitIsRefusedWithHowToNarrowIt)
{
    const qint64 flat = object(house, "2");
    for (int i = 0; i < 40; ++i) {
        installedDevice(model(2), flat, 100 + i);
    }
    // 40 meters of 745 hours each: about 1.4 MB of empty slots.
    const Params month{{"period", "0"}, {"dateStart", "2021-03-01"}, {"dateEnd", "2021-03-31"}};
    QMap<QString, QString> config = PgServer::serverConfig(db->name());
    config.insert("max_answer_mb", "1");
    cgi->writeServerConfig(config);
    const CgiResult refused = call(adminToken(), "Report", month);
    EXPECT_CODE(refused, 330);
    EXPECT_TRUE(refused.data().isEmpty());
    EXPECT_TRUE(refused.text().contains("max_answer_mb")) << qPrintable(refused.text());
    config.insert("max_answer_mb", "2");
    cgi->writeServerConfig(config);
    const CgiResult served = call(adminToken(), "Report", month);
    ASSERT_CODE(served, 0);
    EXPECT_GT(served.body.size(), 1024 * 1024);
}

} // namespace
