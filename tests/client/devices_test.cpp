// Device registration, installation and removal, and the task queue of a device. Another
// company's devices and queues are the scope matrix's.
#include "client/clientfixture.h"

#include <QDate>
#include <QJsonDocument>

using namespace testing_support;

namespace {

class Devices : public WaterHouse {
protected:
    void SetUp() override
    {
        WaterHouse::SetUp();
        flat2 = objectOf(water);
    }
    QJsonObject device(int identNum, qint64 objectId = 0, const QString& date = QString())
    {
        QJsonObject d{{"devType", 7}, {"manId", "abc"}, {"identNum", identNum}, {"ver", 1}, {"zavNum", "Z"},
                      {"modelId", modelId}, {"objectId", objectId}};
        if (!date.isEmpty()) {
            d.insert("dateInstall", date);
        }
        return d;
    }
    CgiResult add(const QString& token, const QJsonArray& devices)
    {
        return call(token, "Add_Devices", {{"DATA", json(devices)}});
    }
    const QString today = QDate::currentDate().toString("yyyy-MM-dd");
    const int year = QDate::currentDate().year();

    qint64 flat2 = 0;
};

TEST_F(Devices, RegistrationInstallsAndAnUpdateRewritesTheInstallationInPlace)
{
    const CgiResult loose = add(adminToken(), {device(12345678)});
    ASSERT_CODE(loose, 0);
    EXPECT_EQ(valueFor(R"(SELECT concat_ws('|', "DevType", "ManId", "IdentNum", "Ver", "ZavNum", "ModelId", "Status",
                          "TransKoef", "ConnectType") FROM "DeviceTable" WHERE "Id"=%1)", loose.idNumber()),
              QStringLiteral("7|ABC|12345678|1|Z|%1|0|1|0").arg(modelId));
    EXPECT_EQ(rows("InstallTable"), 0);

    const CgiResult installed = add(waterOperator, {device(1, flat, "2010-01-01"), device(2, flat2, today)});
    ASSERT_CODE(installed, 0);
    EXPECT_EQ(installed.id(), "");
    EXPECT_EQ(value(R"(SELECT string_agg(i."ObjectId" || '@' || i."DateInstall" || '/' || i."Actual", ',' ORDER BY d."IdentNum") FROM "InstallTable" i JOIN "DeviceTable" d ON d."Id"=i."DeviceId")"),
              QStringLiteral("%1@2010-01-01/1,%2@%3/1").arg(flat).arg(flat2).arg(today));

    const QString first = valueFor(R"(SELECT "Id" FROM "DeviceTable" WHERE "IdentNum"=%1)", 1);
    const QString install =
        valueFor(R"(SELECT "Id" FROM "InstallTable" WHERE "DeviceId"=%1)", first.toLongLong());
    QJsonObject change = device(1, flat2, "2021-06-06");
    change["zavNum"] = "Z2";
    const Params update{{"DeviceId", first}, {"DATA", json({change})}};
    ASSERT_CODE(call(waterOperator, "Upd_Device", update), 0);
    // Without an object the installation stays as it is.
    for (const int none : {0, -5}) {
        change["objectId"] = none;
        ASSERT_CODE(callAsAdmin("Upd_Device", {{"DeviceId", first}, {"DATA", json({change})}}), 0);
    }
    EXPECT_EQ(valueFor(R"(SELECT concat_ws('|', i."Id", "ObjectId", "DateInstall", "Actual",
                          "ZavNum") FROM "InstallTable" i JOIN "DeviceTable" d
                          ON d."Id"=i."DeviceId" WHERE d."Id"=%1)", first.toLongLong()),
              QStringLiteral("%1|%2|2021-06-06|1|Z2").arg(install).arg(flat2));
    const Params takeIdentity{{"DeviceId", loose.id()}, {"DATA", json({device(1)})}};
    EXPECT_CODE(callAsAdmin("Upd_Device", takeIdentity), 151);
}

TEST_F(Devices, ExistingAndRepeatedIdentitiesAreReportedAndNothingIsWritten)
{
    ASSERT_CODE(add(adminToken(), {device(1), device(2)}), 0);
    const CgiResult stored = add(adminToken(), {device(1), device(3), device(2)});
    EXPECT_CODE(stored, 151);
    EXPECT_EQ(stored.text(), QStringLiteral("Найдены приборы в БД:\nManId: ABC, IdentNum: 1, DevType: 7, Ver: 1."
                                            "\nManId: ABC, IdentNum: 2, DevType: 7, Ver: 1."));
    const CgiResult repeated = add(adminToken(), {device(5), device(6), device(5)});
    EXPECT_CODE(repeated, 151);
    EXPECT_EQ(repeated.text(), QStringLiteral("Найдены приборы в БД:\nManId: ABC, IdentNum: 5, DevType: 7, Ver: 1."));
    EXPECT_EQ(rows("DeviceTable"), 2);
}

TEST_F(Devices, RecordRulesGiveTheirCodes)
{
    const auto with = [this](const char* key, const QJsonValue& value) {
        QJsonObject d = device(9, flat, today);
        d[key] = value;
        return d;
    };
    QJsonObject noVer = device(9);
    noVer.remove("ver");
    const struct {
        QJsonObject element;
        int code;
    } cases[] = {
        {with("manId", "AB"), 103},   {with("manId", "A1B"), 103},   {with("devType", 256), 84},
        {with("identNum", 1e8), 216}, {with("identNum", 1.5), 216},  {noVer, 102},
        {with("modelId", 0), 177},    {with("objectId", "x"), 146},  {device(9, flat), 256},
        // Installed before 2010, after this year, or on no day.
        {with("dateInstall", "2009-12-31"), 256},
        {with("dateInstall", QStringLiteral("%1-01-01").arg(year + 1)), 256},
        {with("dateInstall", "2010-02-30"), 256},
    };
    for (const auto& c : cases) {
        // The first element is good: the second one decides, and nothing is written.
        EXPECT_CODE(add(waterOperator, {device(8, flat, today), c.element}), c.code)
            << QJsonDocument(c.element).toJson(QJsonDocument::Compact).constData();
    }
    EXPECT_EQ(rows("DeviceTable"), 0);
    EXPECT_CODE(add(adminToken(), {device(99999999)}), 0);
}

TEST_F(Devices, RemovalClearsEveryTableAndRecentYears)
{
    const CgiResult added = add(waterOperator, {device(1, flat, today)});
    ASSERT_CODE(added, 0);
    const QString id = added.id();
    db->exec(QStringLiteral(R"(INSERT INTO "PoverkaTable" ("DeviceId", "DatePov") VALUES (%1, '2020-01-01'))").arg(id));
    db->exec(QStringLiteral(R"(INSERT INTO "TaskTable" ("DeviceId", "JsonTask") VALUES (%1, '[]'))").arg(id));
    db->exec(QStringLiteral(R"(INSERT INTO "ConcTable" ("DeviceId", "MasterId") VALUES (%1, NULL), (77, %1), (77, 78))").arg(id));
    const QList<int> years{year - 5, year - 4, year - 1, year, year + 1};
    for (int y : years) {
        yearlyTables(y);
        db->exec(QStringLiteral(R"(INSERT INTO "ArchiveTable%1" ("DeviceId", "ArcDate", "JsonErr", "JsonVal") VALUES (%2, now(), '[]', '[]'), (999, now(), '[]', '[]'))").arg(y).arg(id));
    }
    db->exec(QStringLiteral(R"(INSERT INTO "TechnicalTable%1" ("DeviceId", "TechDate", "JsonVal") VALUES (%2, now(), '[]'))").arg(year).arg(id));

    ASSERT_CODE(call(waterOperator, "Del_Device", {{"Id", id}}), 0);
    for (const char* table : {"DeviceTable", "InstallTable", "PoverkaTable", "TaskTable"}) {
        EXPECT_EQ(rows(table), 0) << table;
    }
    EXPECT_EQ(rows("ConcTable"), 1);
    for (int y : years) {
        const QString left = QStringLiteral(R"(SELECT count(*) FROM "ArchiveTable%1")").arg(y);
        EXPECT_EQ(db->count(left), y == year - 5 ? 2 : 1) << y;
    }
    EXPECT_EQ(db->count(QStringLiteral(R"(SELECT count(*) FROM "TechnicalTable%1")").arg(year)), 0);
}

// The task queue of Water's meter 12345.
class Tasks : public WaterHouse {
protected:
    void SetUp() override
    {
        WaterHouse::SetUp();
        device = id(installedDevice(modelId, flat, 12345));
    }
    QJsonArray queue()
    {
        return QJsonDocument::fromJson(valueFor(R"(SELECT "JsonTask"::text FROM "TaskTable" WHERE "DeviceId"=%1)",
                                                device.toLongLong()).toUtf8()).array();
    }
    CgiResult add(const QString& command, const QString& value)
    {
        return call(waterOperator, "Add_Task", {{"DeviceId", device}, {"CommandCode", command},
                                                {"Value", value}, {"DromexNum", "D-1"}});
    }
    CgiResult onQueue(const char* command, const Params& more = {})
    {
        return call(waterOperator, command, Params{{"DeviceId", device}} + more);
    }

    QString device;
};

TEST_F(Tasks, AQueueFromAddToClear)
{
    ASSERT_CODE(add("1", "1"), 0);
    QJsonObject task = queue().at(0).toObject();
    QDateTime started = QDateTime::fromString(task.take("dateStart").toString(), "yyyy-MM-dd HH:mm:ss");
    started.setTimeSpec(Qt::UTC);
    EXPECT_LT(qAbs(started.secsTo(QDateTime::currentDateTimeUtc())), 60);
    EXPECT_GT(task.take("id").toDouble(), 0);
    EXPECT_EQ(task, (QJsonObject{{"command", 1}, {"dateAnswer", ""}, {"dateSend", ""}, {"error", 0}, {"flags", 0},
                                 {"state", 0}, {"value", QJsonArray{1}}}));
    ASSERT_CODE(add("2", "7"), 0);
    EXPECT_EQ(value(R"(SELECT count(*) || ':' || min("DromexNum") FROM "TaskTable")"), "1:D-1");

    const CgiResult listed = onQueue("Get_TaskTable");
    ASSERT_CODE(listed, 0);
    QJsonObject head = listed.row();
    const QJsonArray tasks = head.take("taskArr").toArray();
    EXPECT_EQ(head, (QJsonObject{{"deviceId", device.toLongLong()}, {"devType", 7}, {"manId", "ABC"}, {"identNum", 12345},
                                 {"ver", 1}, {"zavNum", "Z12345"}, {"modelName", "Model"}, {"manufName", "Maker"},
                                 {"resCode", 2}, {"dromexNum", "D-1"}}));
    ASSERT_EQ(tasks, queue());
    EXPECT_CODE(onQueue("Del_Task", {{"TaskId", "12"}}), 306);
    const QString second = id(tasks.at(1)["id"].toVariant().toLongLong());
    ASSERT_CODE(onQueue("Del_Task", {{"TaskId", second}}), 0);
    EXPECT_EQ(queue(), QJsonArray{tasks.at(0)});
    ASSERT_CODE(onQueue("Clear_Task"), 0);
    EXPECT_EQ(value(R"(SELECT "JsonTask"::text FROM "TaskTable")"), "[]");
}

TEST_F(Tasks, ValuesFollowTheRuleOfTheirCommand)
{
    const struct {
        const char* command;
        const char* value;
        int code;
        QJsonValue stored;
    } cases[] = {{"1", "2", 302, {}},        {"1", "0x1", 0, 1},        {"3", "255", 0, 255},
                 {"3", "256", 302, {}},      {"2", "0xFFFF", 0, 65535}, {"2", "-1", 302, {}},
                 {"7", "abc", 302, {}},      {"7", "1e309", 302, {}},   {"7", "NaN", 302, {}},
                 {"7", "0x", 302, {}},       {"7", "-0", 0, 0},         {"7", " -12 ", 0, -12},
                 {"0x10", "1e3", 0, 1000},   {"9", "9007199254740993", 302, {}},
                 {"9", "-9007199254740992", 0, QJsonValue(-9007199254740992.0)}};
    int stored = 0;
    for (const auto& c : cases) {
        EXPECT_CODE(add(c.command, c.value), c.code) << c.command << " " << c.value;
        if (c.code == 0) {
            const QJsonArray tasks = queue();
            ASSERT_EQ(tasks.size(), ++stored);
            EXPECT_EQ(tasks.last()["value"].toArray().at(0).toVariant(), c.stored.toVariant()) << c.value;
        }
    }
}

TEST_F(Tasks, OldTasksArePrunedUnlessKept)
{
    const QString old = QDateTime::currentDateTimeUtc().addDays(-61).toString("yyyy-MM-dd HH:mm:ss");
    const QString recent = QDateTime::currentDateTimeUtc().addDays(-60).toString("yyyy-MM-dd HH:mm:ss");
    const QJsonArray stored{
        QJsonObject{{"id", 1}, {"dateStart", old}, {"flags", 0}},
        QJsonObject{{"id", 2}, {"dateStart", old}, {"flags", 1}},
        QJsonObject{{"id", 3}, {"dateStart", "not a date"}, {"flags", 0}},
        QJsonObject{{"id", 4}, {"dateStart", recent}},
        QJsonObject{{"id", 5}, {"dateStart", recent}, {"flags", 0}},
        7,
    };
    db->exec(QStringLiteral(R"(INSERT INTO "TaskTable" ("DeviceId", "JsonTask") VALUES (%1, '%2'))")
                 .arg(device, QString::fromUtf8(QJsonDocument(stored).toJson(QJsonDocument::Compact))));
    ASSERT_CODE(add("5", "1"), 0);
    QList<int> ids;
    for (const QJsonValue& task : queue()) {
        ids << task["id"].toInt();
    }
    ids.removeLast();
    EXPECT_EQ(ids, (QList<int>{2, 3, 5}));
}

TEST_F(Tasks, BrokenStoredQueuesAreRefused)
{
    db->exec(QStringLiteral(R"(INSERT INTO "TaskTable" ("DeviceId", "JsonTask")
                               VALUES (%1, '{"id":1}'))").arg(device));
    EXPECT_CODE(add("1", "1"), 131);
    EXPECT_CODE(onQueue("Get_TaskTable"), 131);
    db->exec(QStringLiteral(R"(UPDATE "TaskTable" SET "JsonTask"='[5, {"id": 1}]')"));
    EXPECT_CODE(onQueue("Del_Task", {{"TaskId", "1"}}), 131);
}

} // namespace
