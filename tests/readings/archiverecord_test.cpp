#include "readings/archiverecord.h"

#include "support/qtprinters.h"

#include <QStringList>

#include <gtest/gtest.h>

using orvela::ArchiveRecord;

namespace {

const char kFullValue[] = R"({"titleId":2,"edId":2,"val":"1520.5","prefixNum":0,"postfixNum":1})";
const QVariant kGoodDate = QStringLiteral("2021-03-01 21:30:00");

QString localText(const QDateTime& time)
{
    return time.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

// An electricity meter's row; the code, and the record through *record.
quint16 parse(const QVariant& arcDate, const QVariant& recDate, const QString& jsonVal,
              const QString& jsonErr, int shiftMinutes = 0, ArchiveRecord* record = nullptr,
              const orvela::DebugSink& debug = orvela::DebugSink())
{
    orvela::DeviceIdentity identity;
    identity.devType = 2;
    ArchiveRecord ignored;
    return orvela::parseArchiveRecord(arcDate, recDate, jsonVal, jsonErr, identity, shiftMinutes,
                                      record ? record : &ignored, debug);
}

// The test program runs in a zone with summer time, so that any slip into the machine's local
// time moves a reading by an hour around the changes of clock, or loses the skipped hour. The
// driver hands a column without a zone over as a local QDateTime holding the stored fields; a
// text column reads the same way.
TEST(ArchiveTimeTest, ShiftsStoredUtcIntoAddressTime)
{
    const QDateTime summer(QDate(2021, 7, 1), QTime(12, 0), Qt::LocalTime);
    ASSERT_EQ(summer.offsetFromUtc(), 7200) << "the summer-time zone did not take effect";
    const struct {
        const char* stored;
        int shiftMinutes;
        const char* local;
    } cases[] = {
        {"2021-12-31 23:30:00", 30, "2022-01-01 00:00:00"},
        {"2022-01-01 00:10:00", -20, "2021-12-31 23:50:00"},
        // The hour Berlin skips in spring, and the change of clock in autumn.
        {"2021-03-28 02:30:00", 0, "2021-03-28 02:30:00"},
        {"2021-10-31 01:30:00", 120, "2021-10-31 03:30:00"},
    };
    for (const auto& c : cases) {
        const QString text = QString::fromLatin1(c.stored);
        const QDateTime asDriverGivesIt(QDate::fromString(text.left(10), Qt::ISODate),
                                        QTime::fromString(text.mid(11, 8), Qt::ISODate),
                                        Qt::LocalTime);
        for (const QVariant& stored : {QVariant(text), QVariant(asDriverGivesIt)}) {
            ArchiveRecord record;
            ASSERT_EQ(parse(stored, stored, "[]", "[]", c.shiftMinutes, &record), 0) << c.stored;
            EXPECT_EQ(localText(record.arcDate), QString::fromLatin1(c.local)) << c.stored;
            EXPECT_EQ(localText(record.recDate), QString::fromLatin1(c.local)) << c.stored;
            EXPECT_EQ(record.arcDate.timeSpec(), Qt::UTC);
        }
    }
}

TEST(ArchiveTimeTest, TextsWithOffsetOrFractionReadAsUtc)
{
    const auto utc = [](const char* text) {
        return localText(orvela::archiveUtcDateTime(QString::fromLatin1(text)));
    };
    EXPECT_EQ(utc("2021-03-01T21:30:00-05:30"), QStringLiteral("2021-03-02 03:00:00"));
    EXPECT_EQ(utc("2021-03-02 02:00:00+03"), QStringLiteral("2021-03-01 23:00:00"));
    EXPECT_EQ(utc("2021-03-01 21:30:00.123456"), QStringLiteral("2021-03-01 21:30:00"));
}

TEST(ArchiveRecord, RefusesDatesThatAreNotMoments)
{
    EXPECT_EQ(parse(QVariant(), kGoodDate, "[]", "[]"), 269);
    EXPECT_EQ(parse(QStringLiteral("2021-03-01"), kGoodDate, "[]", "[]"), 269);
    EXPECT_EQ(parse(kGoodDate, QVariant(), "[]", "[]"), 270);
    EXPECT_EQ(parse(kGoodDate, QStringLiteral("2021-02-30 00:00:00"), "[]", "[]"), 270);
}

TEST(ArchiveRecord, RefusesMalformedArraysWithReason)
{
    const QString one = QStringLiteral("[%1]").arg(kFullValue);
    const struct {
        QString jsonVal;
        const char* jsonErr;
        const char* debug; // the one debug record expected, or nullptr for none
        int valuesKept;
    } cases[] = {
        {one, "[]", nullptr, 1},
        {"{}", "[]", "Неправильный формат поля JsonVal.", 0},
        {"[[]]", "[]", "Неправильный формат массива JsonVal.", 0},
        {"[" + QString(kFullValue) + ", 5]", "[]", "Неправильный формат массива JsonVal.", 1},
        {R"([{"titleId":1,"edId":2,"val":"3","prefixNum":0}])", "[]",
         "Неправильный формат объекта в массиве JsonVal.", 0},
        {one, "", "Неправильный формат поля JsonErr.", 1},
        {one, "[\"x\"]", "Неправильный формат массива JsonErr.", 1},
        {one, R"([{"errorCode":1,"prefixNum":0}])",
         "Неправильный формат объекта в массиве JsonErr.", 1},
    };
    for (const auto& c : cases) {
        QStringList debug;
        ArchiveRecord record;
        const quint16 code = parse(kGoodDate, kGoodDate, c.jsonVal, QString::fromUtf8(c.jsonErr), 0,
                                   &record, [&debug](const QString& text) { debug << text; });
        const QString context = c.jsonVal + " / " + c.jsonErr;
        EXPECT_EQ(code, c.debug ? 131 : 0) << qPrintable(context);
        EXPECT_EQ(debug, c.debug ? QStringList{QString::fromUtf8(c.debug)} : QStringList())
            << qPrintable(context);
        EXPECT_EQ(record.values.size(), c.valuesKept) << qPrintable(context);
    }
}

TEST(ArchiveRecord, ReadsElementFieldsStrictly)
{
    // Wrong JSON types, fractions and numbers beyond the field width read as 0 rather than as
    // a neighbouring quantity; a numeric "val" is not text and reads empty.
    const QString values = QStringLiteral(
        R"([{"titleId":70000,"edId":2.5,"val":12.5,"prefixNum":-1,"postfixNum":"3"},)"
        R"({"titleId":63,"edId":84,"val":"-0.5","prefixNum":2147483647,"postfixNum":3e9}])");
    QVector<orvela::ArchiveValue> parsed;
    ASSERT_EQ(orvela::parseArchiveValues(values, &parsed), 0);
    QStringList read;
    for (const orvela::ArchiveValue& v : parsed) {
        read << QStringLiteral("%1 %2 '%3' %4 %5")
                    .arg(v.titleId).arg(v.edId).arg(v.val).arg(v.prefixNum).arg(v.postfixNum);
    }
    EXPECT_EQ(read, QStringList({"0 0 '' -1 0", "63 84 '-0.5' 2147483647 0"}));
}

TEST(ArchiveRecord, JoinsErrorTextsAndReadsAcknowledgement)
{
    const QString errors = QStringLiteral(
        R"([{"errorCode":1280,"prefixNum":2,"postfixNum":0,"fixed":1},)"
        R"({"errorCode":0,"prefixNum":0,"postfixNum":0},)"
        R"({"errorCode":32,"prefixNum":0,"postfixNum":3}])");
    ArchiveRecord record;
    ASSERT_EQ(parse(kGoodDate, kGoodDate, "[]", errors, 0, &record), 0);
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
}

} // namespace
