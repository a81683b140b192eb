// Search and technical records: the rows a search finds, which companies each caller sees, and
// technical records read in the local time of the device's address across the yearly tables.
#include "client/clientfixture.h"

using namespace testing_support;

namespace {

// Water's house "Ленина 1" (shift +3 h) with flat "1" and a water meter 1234; an address of no
// company.
class Search : public WaterHouse {
protected:
    void SetUp() override
    {
        WaterHouse::SetUp();
        db->exec(QStringLiteral(R"(UPDATE "AddressTable" SET "TimeShift"=180, "JsonData"='{"fias":"f-1"}'
                                   WHERE "Id"=%1)").arg(house));
        meter = installedDevice(modelId, flat, 1234);
        orphanHouse = address(QStringLiteral("Ничья улица"), 0);
        waterUser = createUser("WaterUser", 131, water);
    }

    // The first column of every row after the header, as numbers.
    QList<qint64> search(const QString& token, int type, const Params& fields = {})
    {
        const CgiResult r = call(token, "Search", Params{{"Type", QString::number(type)}} + fields);
        EXPECT_CODE(r, 0);
        QList<qint64> ids;
        for (int i = 1; i < r.data().size(); ++i) {
            ids << r.data().at(i).toArray().at(0).toString().toLongLong();
        }
        return ids;
    }

    qint64 meter = 0, orphanHouse = 0;
    QString waterUser;
};

using Ids = QList<qint64>;

// Which records each kind finds is the scope matrix's; the rows, in capitals or not, are here.
TEST_F(Search, AddressesInCapitals)
{
    EXPECT_EQ(callAsAdmin("Search", {{"Type", "1"}, {"Field1", "ЛЕНИНА"}}).data().at(1).toArray(),
              (QJsonArray{QString::number(house), "Ленина 1", "180", "", "\"f-1\"", QString::number(flat), "1",
                          QString::number(water), "Water"}));
    const qint64 shop = object(house, QStringLiteral("магазин"));
    EXPECT_EQ(
        callAsAdmin("Search", {{"Type", "1"}, {"Field2", "МАГАЗИН"}}).data().at(1)[5].toString(),
        id(shop));
}

// A fragment is found as written: "%", "_", quotes and backslashes are no patterns.
TEST_F(Search, FragmentsAreLiteral)
{
    const qint64 odd = insertId(QStringLiteral(
        R"(INSERT INTO "AddressTable" ("Name") VALUES ('100% O''Brien_Street \ 7') RETURNING "Id")"));
    const QString admin = adminToken();
    for (const char* fragment : {"%", "_", "o'b", "\\", "% o'brien_street \\ 7"}) {
        EXPECT_EQ(search(admin, 1, {{"Field1", QString::fromUtf8(fragment)}}), (Ids{odd})) << fragment;
    }
    for (const char* fragment : {"1_0", "o''b", "\\\\", "'; drop table \"UserTable\"; --"}) {
        EXPECT_EQ(search(admin, 1, {{"Field1", QString::fromUtf8(fragment)}}), Ids{}) << fragment;
    }
}

TEST_F(Search, EachCallerSeesHisCompanies)
{
    // A company account searches his company whatever he names; one without, what is nobody's.
    EXPECT_EQ(search(waterUser, 1, {{"CompanyId", QString::number(heat)}}), (Ids{house}));
    EXPECT_EQ(search(createUser("Homeless", 131), 1), (Ids{orphanHouse}));
    // Accounts only for those who may list them.
    EXPECT_CODE(call(waterUser, "Search", {{"Type", "3"}}), 143);
}

TEST_F(Search, AtMostAThousandRows)
{
    db->exec(QStringLiteral(R"(INSERT INTO "AddressTable" ("Name", "CompanyId")
                               SELECT 'Дом ' || n, %1 FROM generate_series(1, 1100) n)").arg(water));
    EXPECT_EQ(callAsAdmin("Search", {{"Type", "1"}, {"Field1", "дом"}}).data().size(), 1001);
}

// Technical records of the meter in Water's house, whose clock runs 180 minutes ahead of UTC.
class TechnicalData : public Search {
protected:
    CgiResult read(const QString& from, const QString& to, const QString& token = QString())
    {
        return call(token.isEmpty() ? adminToken() : token, "Get_TechnicalData",
                    {{"DeviceId", QString::number(meter)}, {"DateStart", from}, {"DateEnd", to}});
    }
    QStringList dates(const CgiResult& r)
    {
        EXPECT_CODE(r, 0);
        QStringList list;
        for (const QJsonValue& row : r.data()) {
            list << row.toObject()["date"].toString();
        }
        return list;
    }
};

TEST_F(TechnicalData, DaysAreTheAddressesLocalDays)
{
    technicalRow(meter, "2021-02-28 20:59:59", "[1]");
    const qint64 first = technicalRow(meter, "2021-02-28 21:00:00", R"([{"t":"a"},2])");
    technicalRow(meter, "2021-03-01 20:59:59", "[3]");
    technicalRow(meter, "2021-03-01 21:00:00", "[4]");
    db->exec(QStringLiteral(R"(UPDATE "TechnicalTable2021" SET "RecDate"='2021-03-01 09:30:00'
                               WHERE "Id"=%1)").arg(first));
    const CgiResult r = read("2021-03-01", "2021-03-01");
    EXPECT_EQ(dates(r), (QStringList{"2021-03-01 00:00:00", "2021-03-01 23:59:59"}));
    EXPECT_EQ(r.row(0), (QJsonObject{{"id", first}, {"date", "2021-03-01 00:00:00"}, {"dateRec", "2021-03-01 12:30:00"},
                                     {"values", QJsonArray{QJsonObject{{"t", "a"}}, 2}}}));
    // Below a company's administrator nobody reads them.
    EXPECT_CODE(read("2021-03-01", "2021-03-01", waterUser), 143);
}

TEST_F(TechnicalData, YearlyTablesAcrossNewYear)
{
    technicalRow(meter, "2021-01-01 12:00:00", "[1]");
    // The local New Year's night lies in the stored year before.
    technicalRow(meter, "2020-12-31 22:00:00", "[2]");
    EXPECT_EQ(dates(read("2021-01-01", "2021-01-01")), (QStringList{"2021-01-01 01:00:00", "2021-01-01 15:00:00"}));
    db->exec(R"(DROP TABLE "TechnicalTable2020")");
    EXPECT_EQ(dates(read("2021-01-01", "2021-01-01")), (QStringList{"2021-01-01 15:00:00"}));
}

// Each year's table gives at most 5,000 records: the end of 2020 and then 2021's first 4,999.
TEST_F(TechnicalData, AtMostFiveThousandRowsOfAYear)
{
    technicalRow(meter, "2020-12-31 12:00:00", "[0]");
    technicalRow(meter, "2021-01-01 00:00:00", "[0]");
    db->exec(QStringLiteral(R"(INSERT INTO "TechnicalTable2021" ("DeviceId", "TechDate", "JsonVal")
        SELECT %1, '2021-01-01 00:00:00'::timestamp + n * interval '1 minute', '[1]'
        FROM generate_series(1, 5100) n)").arg(meter));
    const QStringList list = dates(read("2020-12-31", "2021-01-31"));
    ASSERT_EQ(list.size(), 5001);
    EXPECT_EQ(list.last(), "2021-01-04 14:19:00");
}

// A record whose values are no JSON array cannot be shown: the command says so and names the
// record instead of answering as if the device had sent nothing.
TEST_F(TechnicalData, RecordsThatCannotBeShown)
{
    technicalRow(meter, "2021-03-01 10:00:00", "[1]");
    const qint64 object = technicalRow(meter, "2021-03-01 11:00:00", R"({"a":1})");
    const CgiResult r = read("2021-03-01", "2021-03-01");
    EXPECT_CODE(r, 131);
    EXPECT_TRUE(r.log.contains(QStringLiteral("Id > %1").arg(object))) << qPrintable(r.log);
}

TEST_F(TechnicalData, ParametersInTheirOrder)
{
    const QString device = QString::number(meter);
    const struct {
        Params params;
        int code;
    } cases[] = {
        {{}, 110},
        {{{"DeviceId", device}, {"DateStart", "2021-02-30"}, {"DateEnd", "2021-03-01"}}, 290},
        {{{"DeviceId", device}, {"DateStart", "2021-01-01"}, {"DateEnd", "2021-03-07"}}, 256},
        {{{"DeviceId", device}, {"DateStart", "2021-01-01"}, {"DateEnd", "2021-03-06"}}, 0}, // 64 days
    };
    for (const auto& c : cases) {
        EXPECT_CODE(callAsAdmin("Get_TechnicalData", c.params), c.code);
    }
}

} // namespace
