// Device registration, installation and removal.
#include "support/pgfixture.h"

#include <QDate>
#include <QJsonDocument>

using namespace testing_support;

namespace {

class Devices : public TwoCompanies {
protected:
    void SetUp() override
    {
        TwoCompanies::SetUp();
        waterOperator = createUser("wop", 130, water);
        deviceModel = model();
        flat = objectOf(water);
        flat2 = objectOf(water);
        heatFlat = objectOf(heat);
    }
    QJsonObject device(int identNum, qint64 objectId = 0, const QString& date = QString())
    {
        QJsonObject d{{"devType", 7}, {"manId", "abc"}, {"identNum", identNum}, {"ver", 1}, {"zavNum", "Z"},
                      {"modelId", deviceModel}, {"objectId", objectId}};
        if (!date.isEmpty()) {
            d.insert("dateInstall", date);
        }
        return d;
    }
    qint64 count(const QString& sql) { return db->count(sql); }
    const QString today = QDate::currentDate().toString("yyyy-MM-dd");
    const int year = QDate::currentDate().year();

    qint64 deviceModel = 0, flat = 0, flat2 = 0, heatFlat = 0;
    QString waterOperator;
};

TEST_F(Devices, BatchRegistrationWithAndWithoutInstallation)
{
    const CgiResult loose = callAsAdmin("Add_Devices", {{"DATA", json({device(12345678)})}});
    ASSERT_CODE(loose, 0);
    EXPECT_EQ(value(QStringLiteral(R"(SELECT concat_ws('|', "DevType", "ManId", "IdentNum", "Ver", "ZavNum", "ModelId", "Status", "TransKoef", "ConnectType") FROM "DeviceTable" WHERE "Id"=%1)").arg(loose.id())),
              QStringLiteral("7|ABC|12345678|1|Z|%1|0|1|0").arg(deviceModel));
    EXPECT_EQ(count(R"(SELECT count(*) FROM "InstallTable")"), 0);

    const CgiResult installed = call(waterOperator, "Add_Devices",
                                     {{"DATA", json({device(1, flat, "2010-01-01"), device(2, flat2, today)})}});
    ASSERT_CODE(installed, 0);
    EXPECT_EQ(installed.id(), "");
    EXPECT_EQ(value(R"(SELECT string_agg(i."ObjectId" || '@' || i."DateInstall" || '/' || i."Actual", ',' ORDER BY d."IdentNum") FROM "InstallTable" i JOIN "DeviceTable" d ON d."Id"=i."DeviceId")"),
              QStringLiteral("%1@2010-01-01/1,%2@%3/1").arg(flat).arg(flat2).arg(today));
}

TEST_F(Devices, ExistingAndRepeatedIdentitiesAreReportedAndNothingIsWritten)
{
    ASSERT_CODE(callAsAdmin("Add_Devices", {{"DATA", json({device(1), device(2)})}}), 0);
    const CgiResult stored = callAsAdmin("Add_Devices", {{"DATA", json({device(1), device(3), device(2)})}});
    EXPECT_CODE(stored, 151);
    EXPECT_EQ(stored.text(), QStringLiteral("Найдены приборы в БД:\nManId: ABC, IdentNum: 1, DevType: 7, Ver: 1."
                                            "\nManId: ABC, IdentNum: 2, DevType: 7, Ver: 1."));
    const CgiResult repeated = callAsAdmin("Add_Devices", {{"DATA", json({device(5), device(6), device(5)})}});
    EXPECT_CODE(repeated, 151);
    EXPECT_EQ(repeated.text(), QStringLiteral("Найдены приборы в БД:\nManId: ABC, IdentNum: 5, DevType: 7, Ver: 1."));
    EXPECT_EQ(count(R"(SELECT count(*) FROM "DeviceTable")"), 2);
}

TEST_F(Devices, RecordRulesGiveTheirCodes)
{
    const auto with = [this](const char* key, const QJsonValue& value) {
        QJsonObject d = device(9);
        d[key] = value;
        return d;
    };
    QJsonObject noVer = device(9);
    noVer.remove("ver");
    QJsonObject foreign = device(9, heatFlat, today);
    const struct {
        QJsonObject element;
        int code;
    } cases[] = {
        {with("manId", "AB"), 103},        {with("manId", "ABCD"), 103},      {with("manId", QStringLiteral("АБВ")), 103},
        {with("manId", "A1B"), 103},       {with("devType", -1), 84},         {with("devType", "7"), 84},
        {with("devType", 256), 84},        {with("identNum", 100000000), 216}, {with("identNum", 1.5), 216},
        {noVer, 102},                      {with("modelId", 0), 177},         {with("objectId", "x"), 146},
        {with("objectId", flat), 256},     {foreign, 190},
    };
    for (const auto& c : cases) {
        // The first element is good: the second one decides, and nothing is written.
        EXPECT_CODE(call(waterOperator, "Add_Devices", {{"DATA", json({device(8, flat, today), c.element})}}), c.code)
            << QJsonDocument(c.element).toJson(QJsonDocument::Compact).constData();
    }
    for (const QString& date : {QStringLiteral("2009-12-31"), QStringLiteral("%1-01-01").arg(year + 1),
                                QStringLiteral("2010-02-30"), QStringLiteral("15.07.2021")}) {
        EXPECT_CODE(call(waterOperator, "Add_Devices", {{"DATA", json({device(9, flat, date)})}}), 256) << qPrintable(date);
    }
    EXPECT_CODE(call(waterOperator, "Add_Devices", {{"DATA", json({device(9)})}}), 146);
    EXPECT_CODE(call(createUser("u131", 131, water), "Add_Devices", {{"DATA", json({device(9)})}}), 143);
    EXPECT_EQ(count(R"(SELECT count(*) FROM "DeviceTable")"), 0);
    EXPECT_CODE(callAsAdmin("Add_Devices", {{"DATA", json({device(99999999)})}}), 0);
}

TEST_F(Devices, UpdateRewritesTheCurrentInstallationInPlace)
{
    const CgiResult added = call(waterOperator, "Add_Devices", {{"DATA", json({device(1, flat, "2020-05-05")})}});
    ASSERT_CODE(added, 0);
    const QString id = added.id();
    const QString install = value(R"(SELECT "Id" FROM "InstallTable")");
    QJsonObject change = device(1, flat2, "2021-06-06");
    change["zavNum"] = "Z2";
    ASSERT_CODE(call(waterOperator, "Upd_Device", {{"DeviceId", id}, {"DATA", json({change})}}), 0);
    EXPECT_EQ(value(R"(SELECT concat_ws('|', "Id", "ObjectId", "DateInstall", "Actual") FROM "InstallTable")"),
              QStringLiteral("%1|%2|2021-06-06|1").arg(install).arg(flat2));
    EXPECT_EQ(value(QStringLiteral(R"(SELECT "ZavNum" FROM "DeviceTable" WHERE "Id"=%1)").arg(id)), "Z2");
    // Without an object the installation stays as it is.
    ASSERT_CODE(callAsAdmin("Upd_Device", {{"DeviceId", id}, {"DATA", json({device(1, 0)})}}), 0);
    ASSERT_CODE(callAsAdmin("Upd_Device", {{"DeviceId", id}, {"DATA", json({device(1, -5)})}}), 0);
    EXPECT_EQ(value(R"(SELECT concat_ws('|', "Id", "ObjectId") FROM "InstallTable")"), QStringLiteral("%1|%2").arg(install).arg(flat2));

    const CgiResult other = callAsAdmin("Add_Devices", {{"DATA", json({device(2)})}});
    EXPECT_CODE(callAsAdmin("Upd_Device", {{"DeviceId", other.id()}, {"DATA", json({device(1)})}}), 151);
    ASSERT_CODE(callAsAdmin("Upd_Device", {{"DeviceId", other.id()}, {"DATA", json({device(2, flat, today)})},
                                           {"CompanyId", QString::number(water)}}), 0);
    EXPECT_EQ(count(QStringLiteral(R"(SELECT count(*) FROM "InstallTable" WHERE "DeviceId"=%1 AND "Actual"=1)").arg(other.id())), 1);
}

TEST_F(Devices, CompanyBoundCallersReachOnlyTheirInstalledDevices)
{
    const CgiResult theirs = callAsAdmin("Add_Devices", {{"DATA", json({device(1)})}});
    const CgiResult mine = call(waterOperator, "Add_Devices", {{"DATA", json({device(2, flat, today)})}});
    ASSERT_CODE(mine, 0);
    EXPECT_CODE(call(waterOperator, "Upd_Device", {{"DeviceId", theirs.id()}, {"DATA", json({device(1, flat, today)})}}), 190);
    EXPECT_EQ(count(QStringLiteral(R"(SELECT count(*) FROM "InstallTable" WHERE "DeviceId"=%1)").arg(theirs.id())), 0);
    QJsonObject moved = device(2, heatFlat, today);
    moved["zavNum"] = "stolen";
    EXPECT_CODE(call(waterOperator, "Upd_Device", {{"DeviceId", mine.id()}, {"DATA", json({moved})}}), 190);
    EXPECT_EQ(value(QStringLiteral(R"(SELECT "ZavNum" FROM "DeviceTable" WHERE "Id"=%1)").arg(mine.id())), "Z");
    EXPECT_CODE(call(waterOperator, "Del_Device", {{"Id", theirs.id()}}), 190);
    EXPECT_CODE(call(createUser("hop", 130, heat), "Del_Device", {{"Id", mine.id()}}), 190);
}

TEST_F(Devices, RemovalClearsEveryTableAndRecentYears)
{
    const CgiResult added = call(waterOperator, "Add_Devices", {{"DATA", json({device(1, flat, today)})}});
    ASSERT_CODE(added, 0);
    const QString id = added.id();
    db->exec(QStringLiteral(R"(INSERT INTO "PoverkaTable" ("DeviceId", "DatePov") VALUES (%1, '2020-01-01'))").arg(id));
    db->exec(QStringLiteral(R"(INSERT INTO "TaskTable" ("DeviceId", "JsonTask") VALUES (%1, '[]'))").arg(id));
    db->exec(QStringLiteral(R"(INSERT INTO "ConcTable" ("DeviceId", "MasterId") VALUES (%1, NULL), (77, %1), (77, 78))").arg(id));
    const QString archiveScript = QStringLiteral(R"(CREATE TABLE "ArchiveTable%1" (LIKE "ArchiveTable%2" INCLUDING ALL))");
    for (int y : {year - 4, year - 5}) {
        db->exec(archiveScript.arg(y).arg(year));
    }
    for (int y : {year - 5, year - 4, year - 1, year, year + 1}) {
        db->exec(QStringLiteral(R"(INSERT INTO "ArchiveTable%1" ("DeviceId", "ArcDate", "JsonErr", "JsonVal") VALUES (%2, now(), '[]', '[]'), (999, now(), '[]', '[]'))").arg(y).arg(id));
    }
    db->exec(QStringLiteral(R"(INSERT INTO "TechnicalTable%1" ("DeviceId", "TechDate", "JsonVal") VALUES (%2, now(), '[]'))").arg(year).arg(id));

    ASSERT_CODE(call(waterOperator, "Del_Device", {{"Id", id}}), 0);
    for (const char* table : {"DeviceTable", "InstallTable", "PoverkaTable", "TaskTable"}) {
        EXPECT_EQ(count(QStringLiteral(R"(SELECT count(*) FROM "%1")").arg(table)), 0) << table;
    }
    EXPECT_EQ(count(R"(SELECT count(*) FROM "ConcTable")"), 1);
    for (int y : {year - 4, year - 1, year, year + 1}) {
        EXPECT_EQ(count(QStringLiteral(R"(SELECT count(*) FROM "ArchiveTable%1")").arg(y)), 1) << y;
    }
    EXPECT_EQ(count(QStringLiteral(R"(SELECT count(*) FROM "ArchiveTable%1")").arg(year - 5)), 2);
    EXPECT_EQ(count(QStringLiteral(R"(SELECT count(*) FROM "TechnicalTable%1")").arg(year)), 0);
}

TEST_F(Devices, AFailedRemovalLeavesTheDeviceWhole)
{
    const CgiResult added = callAsAdmin("Add_Devices", {{"DATA", json({device(1)})}});
    const QString id = added.id();
    db->exec(QStringLiteral(R"(INSERT INTO "PoverkaTable" ("DeviceId", "DatePov") VALUES (%1, '2020-01-01'))").arg(id));
    db->exec("CREATE FUNCTION refuse() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN RAISE EXCEPTION 'refused'; END $$");
    db->exec(R"(CREATE TRIGGER no_delete BEFORE DELETE ON "PoverkaTable" FOR EACH ROW EXECUTE FUNCTION refuse())");
    EXPECT_CODE(callAsAdmin("Del_Device", {{"Id", id}}), 132);
    EXPECT_EQ(count(R"(SELECT count(*) FROM "DeviceTable")"), 1);

    db->exec(R"(DROP TRIGGER no_delete ON "PoverkaTable")");
    db->exec(QStringLiteral(R"(INSERT INTO "ArchiveTable%1" ("DeviceId", "ArcDate", "JsonErr", "JsonVal") VALUES (%2, now(), '[]', '[]'))").arg(year).arg(id));
    db->exec(QStringLiteral(R"(CREATE TRIGGER no_delete BEFORE DELETE ON "ArchiveTable%1" FOR EACH ROW EXECUTE FUNCTION refuse())").arg(year));
    const CgiResult yearlyFails = callAsAdmin("Del_Device", {{"Id", id}});
    EXPECT_CODE(yearlyFails, 0);
    EXPECT_TRUE(yearlyFails.log.contains(QStringLiteral("[err] Ошибка при выполнении SQL запроса.")));
    EXPECT_EQ(count(R"(SELECT count(*) FROM "DeviceTable")"), 0);
}

} // namespace
