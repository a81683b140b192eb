// Device listings and descriptions: both modes of the lists, the composed texts, the newest
// readings, and what each caller may see.
#include "client/clientfixture.h"

using namespace testing_support;

namespace {

// Water's house (shift +3 h) with flat "кв 1" of abonent Иванов: a water meter 1234 (type 7,
// version 1, verified 15.03.2020 every 72 months) and a concentrator master; one more meter is
// installed nowhere.
class DeviceLists : public WaterHouse {
protected:
    void SetUp() override
    {
        WaterHouse::SetUp();
        db->exec(QStringLiteral(R"(UPDATE "AddressTable" SET "TimeShift"=180 WHERE "Id"=%1)").arg(house));
        db->exec(QStringLiteral(R"(UPDATE "ObjectTable" SET "Obj"='кв 1' WHERE "Id"=%1)").arg(flat));
        abonent = abonentAt(flat, QStringLiteral("Иванов"));
        db->exec(QStringLiteral(R"(UPDATE "AbonentTable" SET "Phone"='123', "Mail"='iv@example.org' WHERE "Id"=%1)").arg(abonent));
        db->exec(QStringLiteral(R"(UPDATE "ModelTable" SET "PovInterval"=72, "JsonData"='{"loraDataFormat":3}' WHERE "Id"=%1)").arg(modelId));
        meter = installedDevice(modelId, flat, 1234);
        db->exec(QStringLiteral(R"(INSERT INTO "PoverkaTable" ("DeviceId", "DatePov", "Actual", "Note") VALUES (%1, '2020-03-15', 1, 'Госповерка'))").arg(meter));
        master = installedDevice(modelId, flat, 777);
        db->exec(QStringLiteral(R"(UPDATE "DeviceTable" SET "ConnectType"=1 WHERE "Id"=%1)").arg(master));
        loose = insertId(QStringLiteral(R"(INSERT INTO "DeviceTable" ("DevType", "ManId", "IdentNum", "Ver", "ZavNum", "ModelId") VALUES (2, 'XYZ', 55, 3, 'L55', %1) RETURNING "Id")").arg(modelId));
        waterUser = createUser("wuser", 131, water);
        heatUser = createUser("huser", 131, heat);
    }
    QList<qint64> ids(const CgiResult& r, const char* key = "id")
    {
        EXPECT_CODE(r, 0);
        QList<qint64> found;
        for (const QJsonValue& row : r.data()) {
            found << row.toObject()[key].toVariant().toLongLong();
        }
        return found;
    }
    Params at(const Params& more = {}) const { return Params{{"AddressId", QString::number(house)}} + more; }
    QJsonObject infoOf(qint64 device)
    {
        return call(waterUser, "Get_DeviceInfo", {{"DeviceId", QString::number(device)}}).row();
    }
    // Puts the table behind a view that counts the statements reading it.
    void countReads(const QString& table)
    {
        db->exec(QStringLiteral(R"(ALTER TABLE "%1" RENAME TO "%1Rows")").arg(table));
        db->exec(QStringLiteral(R"(CREATE SEQUENCE "%1Reads")").arg(table));
        db->exec(QStringLiteral(R"(CREATE FUNCTION "%1Counted"() RETURNS SETOF "%1Rows" LANGUAGE sql AS
            $$ SELECT nextval('"%1Reads"'); SELECT * FROM "%1Rows" $$)").arg(table));
        db->exec(QStringLiteral(R"(CREATE VIEW "%1" AS SELECT * FROM "%1Counted"())").arg(table));
    }
    qint64 reads(const QString& table)
    {
        return db->count(QStringLiteral(
            R"(SELECT CASE WHEN is_called THEN last_value ELSE 0 END FROM "%1Reads")").arg(table));
    }

    qint64 abonent = 0, meter = 0, master = 0, loose = 0;
    QString waterUser, heatUser;
};

// Installed nowhere: never, or no longer. An installation row that names no device, written
// into a table that allows one, hides no device.
TEST_F(DeviceLists, DevicesInstalledNowhereAreForGlobalCallers)
{
    const qint64 moved = installedDevice(modelId, flat, 901);
    const qint64 removed = installedDevice(modelId, flat, 902);
    db->exec(QStringLiteral(R"(UPDATE "InstallTable" SET "Actual"=0 WHERE "DeviceId"=%1)").arg(removed));
    db->exec(QStringLiteral(R"(INSERT INTO "InstallTable" ("DeviceId", "ObjectId", "DateInstall", "Actual") VALUES
        (%1, %3, '2019-01-01', 0), (%2, %3, '2019-01-01', 0))").arg(moved).arg(removed).arg(flat));
    db->exec(R"(ALTER TABLE "InstallTable" ALTER COLUMN "DeviceId" DROP NOT NULL)");
    db->exec(QStringLiteral(R"(INSERT INTO "InstallTable" ("ObjectId", "DateInstall", "Actual") VALUES (%1, '2020-01-01', 1))").arg(flat));
    const QList<qint64> nowhere{loose, removed};
    for (const char* command : {"Get_Devices", "Get_DeviceTable"}) {
        EXPECT_EQ(ids(callAsAdmin(command, {{"NotInstall", "1"}})), nowhere) << command;
    }
    // A company's account cannot ask for them: the address stays required.
    EXPECT_CODE(call(waterUser, "Get_Devices", {{"NotInstall", "1"}}), 76);
    EXPECT_EQ(ids(call(waterUser, "Get_DeviceTable", at({{"NotInstall", "1"}}))), (QList<qint64>{meter, moved}));
}

TEST_F(DeviceLists, OneDeviceWithItsComposedTexts)
{
    EXPECT_FALSE(infoOf(meter)["infoText"].toString().contains(QStringLiteral("Коэф"))); // not for 1
    db->exec(QStringLiteral(R"(UPDATE "DeviceTable" SET "TransKoef"=10 WHERE "Id"=%1)").arg(meter));
    const QJsonObject device = infoOf(meter);
    EXPECT_EQ(device["infoText"].toString(), QStringLiteral("Ресурс: Водоснабжение (холодная вода)\nМодель: Model\n"
                                                            "Заводской №: Z1234\nWMBus: ABC 00001234 01 07\n"
                                                            "Коэф.трансформации: 10"));
    EXPECT_EQ(device["address"].toString(), QStringLiteral("Адрес установки:\nЛенина 1, кв 1\nДата установки: 01.01.2020"));

    const QJsonObject data = call(waterUser, "Get_DeviceData", {{"DeviceId", QString::number(meter)}}).row();
    EXPECT_EQ(QStringList({data["address"].toString(), data["abonent"].toString(),
                           data["dateInstall"].toString()}),
              QStringList({QStringLiteral("Ленина 1"), QStringLiteral("Иванов"), "2020-01-01"}));
    // A verification 31 January plus one month falls on the last day of February.
    db->exec(QStringLiteral(R"(UPDATE "PoverkaTable" SET "DatePov"='2021-01-31', "Note"=NULL WHERE "DeviceId"=%1)").arg(meter));
    db->exec(QStringLiteral(R"(UPDATE "ModelTable" SET "PovInterval"=1 WHERE "Id"=%1)").arg(modelId));
    EXPECT_EQ(infoOf(meter)["poverka"].toString(),
              QStringLiteral("Дата поверки: 31.01.2021\nСрок действия: 1 мес.\n"
                             "Дата следующей поверки: 28.02.2021"));
    EXPECT_CODE(call(heatUser, "Get_DeviceData", {{"DeviceId", QString::number(meter)}}), 246);
}

// Each device of the table gets its own texts; the second has a newer installation, an abonent
// without phone or mail and the newer of two verifications in force.
TEST_F(DeviceLists, TheDeviceTableCarriesDescriptions)
{
    const qint64 flat2 = object(house, QStringLiteral("кв 2"));
    abonentAt(flat2, QStringLiteral("Петров"));
    const qint64 second = installedDevice(modelId, flat2, 5678);
    db->exec(QStringLiteral(R"(UPDATE "InstallTable" SET "DateInstall"='2021-06-30' WHERE "DeviceId"=%1)").arg(second));
    db->exec(QStringLiteral(R"(INSERT INTO "PoverkaTable" ("DeviceId", "DatePov", "Actual") VALUES
        (%1, '2019-01-01', 1), (%1, '2022-02-01', 1), (%1, '2023-01-01', 0))").arg(second));
    for (const char* table : {"PoverkaTable", "AbonentTable", "InstallTable"}) {
        countReads(table);
    }
    const CgiResult table = call(waterUser, "Get_DeviceTable", at());
    ASSERT_EQ(table.data().size(), 2);
    // Each kind of text is read once for the whole table, not once per device.
    EXPECT_EQ(reads("PoverkaTable"), 1);
    EXPECT_EQ(reads("AbonentTable"), 1);
    EXPECT_EQ(reads("InstallTable"), 3); // the listing, the installations, the abonents
    const auto texts = [&table](int i) {
        const QJsonObject row = table.row(i);
        return QStringList{row["install"].toString(), row["abonent"].toString(),
                           row["poverka"].toString()};
    };
    EXPECT_EQ(texts(0),
              QStringList({QStringLiteral("Адрес установки:\nЛенина 1, кв 1\nДата установки: 01.01.2020"),
                           QStringLiteral("Абонент: \nИванов\nТелефон: 123\nE-mail: iv@example.org"),
                           QStringLiteral("Дата поверки: 15.03.2020\nГосповерка\nСрок действия: 72 мес.\n"
                                          "Дата следующей поверки: 15.03.2026")}));
    EXPECT_EQ(texts(1),
              QStringList({QStringLiteral("Адрес установки:\nЛенина 1, кв 2\nДата установки: 30.06.2021"),
                           QStringLiteral("Абонент: \nПетров"),
                           QStringLiteral("Дата поверки: 01.02.2022\nСрок действия: 72 мес.\n"
                                          "Дата следующей поверки: 01.02.2028")}));
}

TEST_F(DeviceLists, ObjectsWithTheirDevicesAndNewestReadings)
{
    const int year = QDateTime::currentDateTimeUtc().date().year();
    db->exec(QStringLiteral(R"(UPDATE "DeviceTable" SET "TransKoef"=10 WHERE "Id"=%1)").arg(meter));
    archiveRow(meter, QStringLiteral("%1-03-28 00:30:00").arg(year - 1), json({reading(5, 10, "1.5")}), json({flags(0x4)}));
    archiveRow(meter, QStringLiteral("%1-03-29 00:30:00").arg(year - 1), json({reading(5, 10, "2.25"), reading(17, 29, "9")}),
               json({flags(0x2)}), QStringLiteral("%1-03-29 00:31:00").arg(year - 1));
    const CgiResult list = call(waterUser, "Get_DeviceList", {{"TransKoef", "1"}});
    ASSERT_EQ(list.data().size(), 1);
    const QJsonArray devices = list.row()["devices"].toArray();
    ASSERT_EQ(devices.size(), 1); // the concentrator master is never listed
    const QJsonObject device = devices.at(0).toObject();
    EXPECT_EQ(QStringList({device["devstr"].toString(), device["dateVal"].toString(), device["values"].toString(),
                           device["flags"].toString(), device["lastFlags"].toString()}),
              QStringList({"WM;00001234;1;ABC", QStringLiteral("29.03.%1\n03:30:00").arg(year - 1),
                           QStringLiteral("Объем: 22.50 м³\nТемпература: 9 °С"), QStringLiteral("Признак утечки"),
                           QStringLiteral("[28.03.%1 03:30:00]Признак прорыва").arg(year - 1)}));
}

// Each device of a listing looks for its earlier flags in the days before its own newest
// reading, not before another device's.
TEST_F(DeviceLists, EachDeviceLooksForFlagsBeforeItsOwnNewestReading)
{
    const int year = QDateTime::currentDateTimeUtc().date().year();
    archiveRow(meter, QStringLiteral("%1-03-28 00:30:00").arg(year - 1), json({reading(5, 10, "1")}), json({flags(0x2)}));
    const qint64 second = installedDevice(modelId, flat, 5678);
    archiveRow(second, hoursAgo(30), json({reading(5, 10, "3")}), json({flags(0x4)}));
    archiveRow(second, hoursAgo(2), json({reading(5, 10, "4")}));
    const QJsonArray devices = call(waterUser, "Get_DeviceList").row()["devices"].toArray();
    ASSERT_EQ(devices.size(), 2);
    EXPECT_EQ(devices.at(0).toObject()["id"].toInt(), meter);
    EXPECT_TRUE(devices.at(1).toObject()["lastFlags"].toString().endsWith(QStringLiteral("Признак прорыва")))
        << qPrintable(devices.at(1).toObject()["lastFlags"].toString());
}

TEST_F(DeviceLists, RadioIdentitiesHeardButNotRegistered)
{
    db->exec(R"(INSERT INTO "TmpDevTable" ("DevType", "ManId", "IdentNum", "Ver", "ArcDate", "RecDate", "JsonVal", "JsonErr") VALUES
        (7, 'ABC', 111, 1, '2021-03-28 01:30:00', '2021-03-28 01:31:00', '[{"titleId":5,"edId":10,"val":"1","prefixNum":0,"postfixNum":0}]', '[]'),
        (7, 'ABC', 111, 1, '2021-03-28 02:30:00', '2021-03-28 02:31:05', '[{"titleId":5,"edId":10,"val":"2","prefixNum":0,"postfixNum":0}]', '[{"errorCode":1,"prefixNum":0,"postfixNum":0}]'),
        (2, 'XYZ', 2222, 4, '2021-03-28 03:30:00', '2021-03-28 03:31:00', '{}', '[]'))");
    const CgiResult all = callAsAdmin("Get_TmpDevTable");
    ASSERT_EQ(all.data().size(), 2); // the newest record of each identity
    EXPECT_EQ(all.row(0), (QJsonObject{{"identNum", 111}, {"manId", "ABC"}, {"devType", 7}, {"ver", 1},
                                       {"arcDate", "2021-03-28 02:30"}, {"recDate", "2021-03-28 02:31:05"},
                                       {"values", QJsonArray{reading(5, 10, "2")}}, {"errors", QJsonArray{flags(1)}}}));
    const Params filters{{"IdentNum", "22"}, {"ManId", "xyz"}, {"DevType", "2"}, {"Ver", "4"}};
    EXPECT_EQ(callAsAdmin("Get_TmpDevTable", filters).data().size(), 1);
    EXPECT_CODE(callAsAdmin("Get_TmpDevTable", {{"Ver", "-1"}}), 92);
}

} // namespace
