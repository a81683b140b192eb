#include "readings/archiverecord.h"

#include "support/qtprinters.h"

#include <QStringList>

#include <gtest/gtest.h>

#include <ctime>

using orvela::ArchiveRecord;
using orvela::DeviceIdentity;

namespace {

const char kFullValue[] = R"({"titleId":2,"edId":2,"val":"1520.5","prefixNum":0,"postfixNum":1})";

DeviceIdentity identityOf(quint8 devType)
{
    DeviceIdentity identity;
    identity.devType = devType;
    return identity;
}

QString localText(const QDateTime& time)
{
    return time.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

// Runs under a zone with summer time, so that any slip into the machine's local time moves a
// reading by an hour around the changes of clock, or loses the skipped hour altogether.
class ArchiveTimeTest : public ::testing::Test {
public:
    static void SetUpTestSuite()
    {
        s_savedTz = qgetenv("TZ");
        qputenv("TZ", "Europe/Berlin");
        tzset();
    }
    static void TearDownTestSuite()
    {
        if (s_savedTz.isNull()) {
            qunsetenv("TZ");
        } else {
            qputenv("TZ", s_savedTz);
        }
        tzset();
    }

protected:
    void SetUp() override
    {
        const QDateTime summer(QDate(2021, 7, 1), QTime(12, 0), Qt::LocalTime);
        ASSERT_EQ(summer.offsetFromUtc(), 7200) << "the summer-time zone did not take effect";
    }

private:
    static QByteArray s_savedTz;
};

QByteArray ArchiveTimeTest::s_savedTz;

struct ShiftCase {
    const char* stored;
    int shiftMinutes;
    const char* local;
};

class ArchiveShiftTest : public ArchiveTimeTest, public ::testing::WithParamInterface<ShiftCase> {};

// The driver hands a column without a zone over as a local QDateTime holding the stored
// fields; a text column reads the same way.
TEST_P(ArchiveShiftTest, ShiftsStoredUtcIntoAddressTime)
{
    const ShiftCase& c = GetParam();
    const QString text = QString::fromLatin1(c.stored);
    const QDateTime asDriverGivesIt(QDate::fromString(text.left(10), Qt::ISODate),
                                    QTime::fromString(text.mid(11, 8), Qt::ISODate),
                                    Qt::LocalTime);
    for (const QVariant& stored : {QVariant(text), QVariant(asDriverGivesIt)}) {
        ArchiveRecord record;
        ASSERT_EQ(orvela::parseArchiveRecord(stored, stored, QStringLiteral("[]"),
                                             QStringLiteral("[]"), identityOf(2),
                                             c.shiftMinutes, &record),
                  0)
            << c.stored;
        EXPECT_EQ(localText(record.arcDate), QString::fromLatin1(c.local)) << c.stored;
        EXPECT_EQ(localText(record.recDate), QString::fromLatin1(c.local)) << c.stored;
        EXPECT_EQ(record.arcDate.timeSpec(), Qt::UTC);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Moments, ArchiveShiftTest,
    ::testing::Values(ShiftCase{"2021-03-01 21:30:00", 180, "2021-03-02 00:30:00"},
                      ShiftCase{"2020-02-28 23:00:00", 60, "2020-02-29 00:00:00"},
                      ShiftCase{"2021-12-31 23:30:00", 30, "2022-01-01 00:00:00"},
                      ShiftCase{"2022-01-01 00:10:00", -20, "2021-12-31 23:50:00"},
                      // The hour Berlin skips in spring, and the changes of clock on the way.
                      ShiftCase{"2021-03-28 02:30:00", 0, "2021-03-28 02:30:00"},
                      ShiftCase{"2021-03-28 00:30:00", 180, "2021-03-28 03:30:00"},
                      ShiftCase{"2021-10-31 01:30:00", 120, "2021-10-31 03:30:00"},
                      ShiftCase{"2021-10-31 00:30:00", 60, "2021-10-31 01:30:00"}));

TEST_F(ArchiveTimeTest, TextsWithOffsetOrFractionReadAsUtc)
{
    const auto utc = [](const char* text) {
        return localText(orvela::archiveUtcDateTime(QString::fromLatin1(text)));
    };
    EXPECT_EQ(utc("2021-03-01 21:30:00+03"), QStringLiteral("2021-03-01 18:30:00"));
    EXPECT_EQ(utc("2021-03-01T21:30:00-05:30"), QStringLiteral("2021-03-02 03:00:00"));
    EXPECT_EQ(utc("2021-03-01 21:30:00.123456"), QStringLiteral("2021-03-01 21:30:00"));
}

struct DateCase {
    QVariant arcDate;
    QVariant recDate;
    quint16 code;
};

class ArchiveDateTest : public ::testing::TestWithParam<DateCase> {};

TEST_P(ArchiveDateTest, RefusesDatesThatAreNotMoments)
{
    const DateCase& c = GetParam();
    ArchiveRecord record;
    EXPECT_EQ(orvela::parseArchiveRecord(c.arcDate, c.recDate, QStringLiteral("[]"),
                                         QStringLiteral("[]"), identityOf(2), 0, &record),
              c.code)
        << c.arcDate.toString().toStdString() << " / " << c.recDate.toString().toStdString();
}

const QVariant kGoodDate = QStringLiteral("2021-03-01 21:30:00");

INSTANTIATE_TEST_SUITE_P(
    Dates, ArchiveDateTest,
    ::testing::Values(DateCase{QVariant(), kGoodDate, 269},
                      DateCase{QStringLiteral("2021-13-01 00:00:00"), kGoodDate, 269},
                      DateCase{QStringLiteral("2021-03-01"), kGoodDate, 269},
                      DateCase{QStringLiteral("вчера"), QVariant(), 269},
                      DateCase{kGoodDate, QVariant(), 270},
                      DateCase{kGoodDate, QStringLiteral("2021-02-30 00:00:00"), 270},
                      DateCase{kGoodDate, kGoodDate, 0}));

struct JsonCase {
    const char* jsonVal;
    const char* jsonErr;
    const char* debug; // the one debug record expected, or nullptr for none
    int valuesKept;
};

class ArchiveJsonTest : public ::testing::TestWithParam<JsonCase> {};

TEST_P(ArchiveJsonTest, RefusesMalformedArraysWithReason)
{
    const JsonCase& c = GetParam();
    QStringList debug;
    ArchiveRecord record;
    const quint16 code = orvela::parseArchiveRecord(
        kGoodDate, kGoodDate, QString::fromUtf8(c.jsonVal), QString::fromUtf8(c.jsonErr),
        identityOf(2), 0, &record, [&debug](const QString& text) { debug << text; });
    const QStringList expected =
        c.debug ? QStringList{QString::fromUtf8(c.debug)} : QStringList();
    EXPECT_EQ(code, c.debug ? 131 : 0) << c.jsonVal << " / " << c.jsonErr;
    EXPECT_EQ(debug, expected) << c.jsonVal << " / " << c.jsonErr;
    EXPECT_EQ(record.values.size(), c.valuesKept) << c.jsonVal;
}

const std::string kOneValue = std::string("[") + kFullValue + "]";
const std::string kValueThenNumber = std::string("[") + kFullValue + ", 5]";

INSTANTIATE_TEST_SUITE_P(
    Rows, ArchiveJsonTest,
    ::testing::Values(
        JsonCase{"[]", "[]", nullptr, 0},
        JsonCase{kOneValue.c_str(), "[]", nullptr, 1},
        JsonCase{"{}", "[]", "Неправильный формат поля JsonVal.", 0},
        JsonCase{"[{\"titleId\":1", "[]", "Неправильный формат поля JsonVal.", 0},
        JsonCase{"[[]]", "[]", "Неправильный формат массива JsonVal.", 0},
        JsonCase{kValueThenNumber.c_str(), "[]", "Неправильный формат массива JsonVal.", 1},
        JsonCase{R"([{"titleId":1,"edId":2,"val":"3","prefixNum":0}])", "[]",
                 "Неправильный формат объекта в массиве JsonVal.", 0},
        JsonCase{kOneValue.c_str(), "{}", "Неправильный формат поля JsonErr.", 1},
        JsonCase{kOneValue.c_str(), "", "Неправильный формат поля JsonErr.", 1},
        JsonCase{kOneValue.c_str(), "[\"x\"]", "Неправильный формат массива JsonErr.", 1},
        JsonCase{kOneValue.c_str(), R"([{"errorCode":1,"prefixNum":0}])",
                 "Неправильный формат объекта в массиве JsonErr.", 1}));

TEST(ArchiveRecord, ReadsElementFieldsStrictly)
{
    // Wrong JSON types, fractions and numbers beyond the field width read as 0 rather than as
    // a neighbouring quantity; a numeric "val" is not text and reads empty.
    const QString values = QStringLiteral(
        R"([{"titleId":70000,"edId":2.5,"val":12.5,"prefixNum":-1,"postfixNum":"3"},)"
        R"({"titleId":63,"edId":84,"val":"-0.5","prefixNum":2147483647,"postfixNum":3e9}])");
    QVector<orvela::ArchiveValue> parsed;
    ASSERT_EQ(orvela::parseArchiveValues(values, &parsed), 0);
    ASSERT_EQ(parsed.size(), 2);
    EXPECT_EQ(parsed[0].titleId, 0);
    EXPECT_EQ(parsed[0].edId, 0);
    EXPECT_EQ(parsed[0].val, QString());
    EXPECT_EQ(parsed[0].prefixNum, -1);
    EXPECT_EQ(parsed[0].postfixNum, 0);
    EXPECT_EQ(parsed[1].titleId, 63);
    EXPECT_EQ(parsed[1].edId, 84);
    EXPECT_EQ(parsed[1].val, QStringLiteral("-0.5"));
    EXPECT_EQ(parsed[1].prefixNum, 2147483647);
    EXPECT_EQ(parsed[1].postfixNum, 0);
}

TEST(ArchiveRecord, JoinsErrorTextsAndReadsAcknowledgement)
{
    const QString errors = QStringLiteral(
        R"([{"errorCode":1280,"prefixNum":2,"postfixNum":0,"fixed":1},)"
        R"({"errorCode":0,"prefixNum":0,"postfixNum":0},)"
        R"({"errorCode":32,"prefixNum":0,"postfixNum":3}])");
    ArchiveRecord record;
    ASSERT_EQ(orvela::parseArchiveRecord(kGoodDate, kGoodDate, QStringLiteral("[]"), errors,
                                         identityOf(2), 0, &record),
              0);
    EXPECT_EQ(record.errorText,
              QStringLiteral("Канал 2: Различный ток нагрузки по нулевому и фазному проводам\n"
                             "Канал 2: Ток нагрузки предельно мал\n"
                             "Открыт корпус (3)"));
    EXPECT_TRUE(orvela::carriesErrors(record.errors));
    EXPECT_TRUE(orvela::isAcknowledged(record.errors));

    // Only the first element decides whether a row carries errors and whether they were seen.
    QVector<orvela::ArchiveError> later;
    ASSERT_EQ(orvela::parseArchiveErrors(
                  QStringLiteral(R"([{"errorCode":0,"prefixNum":0,"postfixNum":0},)"
                                 R"({"errorCode":4,"prefixNum":0,"postfixNum":0,"fixed":1}])"),
                  &later),
              0);
    EXPECT_FALSE(orvela::carriesErrors(later));
    EXPECT_FALSE(orvela::isAcknowledged(later));
    EXPECT_FALSE(orvela::carriesErrors({}));
}

TEST(ArchiveRecord, TableNameHasFourDigitYear)
{
    EXPECT_EQ(orvela::archiveTableName(2021), QStringLiteral("ArchiveTable2021"));
    EXPECT_EQ(orvela::archiveTableName(999), QStringLiteral("ArchiveTable0999"));
}

} // namespace
