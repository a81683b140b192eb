// The task queue of a device.
#include "support/pgfixture.h"

#include <QJsonDocument>

using namespace testing_support;

namespace {

class Tasks : public TwoCompanies {
protected:
    void SetUp() override
    {
        TwoCompanies::SetUp();
        waterOperator = createUser("wop", 130, water);
        const qint64 coldWater = model(2);
        device = QString::number(installedDevice(coldWater, objectOf(water), 12345));
        looseDevice = QString::number(installedDevice(coldWater, objectOf(0), 777));
    }
    QJsonArray queue(const QString& deviceId)
    {
        return QJsonDocument::fromJson(db->scalar(QStringLiteral(R"(SELECT "JsonTask"::text FROM "TaskTable" WHERE "DeviceId"=%1)").arg(deviceId)).toString().toUtf8()).array();
    }
    CgiResult add(const QString& command, const QString& value)
    {
        return call(waterOperator, "Add_Task",
                    {{"DeviceId", device}, {"CommandCode", command}, {"Value", value}, {"DromexNum", "D-1"}});
    }

    QString waterOperator;
    QString device;
    QString looseDevice;
};

TEST_F(Tasks, AddingCreatesTheQueueThenAppends)
{
    ASSERT_CODE(add("1", "1"), 0);
    QJsonArray tasks = queue(device);
    ASSERT_EQ(tasks.size(), 1);
    QJsonObject task = tasks.at(0).toObject();
    EXPECT_EQ(task.keys(), (QStringList{"command", "dateAnswer", "dateSend", "dateStart", "error", "flags", "id", "state", "value"}));
    EXPECT_EQ(task["command"].toInt(), 1);
    EXPECT_EQ(task["value"].toArray(), QJsonArray{1});
    EXPECT_EQ(task["state"].toInt(), 0);
    EXPECT_EQ(task["dateSend"].toString(), "");
    QDateTime started = QDateTime::fromString(task["dateStart"].toString(), "yyyy-MM-dd HH:mm:ss");
    started.setTimeSpec(Qt::UTC);
    EXPECT_LT(qAbs(started.secsTo(QDateTime::currentDateTimeUtc())), 60);
    EXPECT_GT(task["id"].toDouble(), 0);
    ASSERT_CODE(add("7", "2.5"), 0);
    tasks = queue(device);
    ASSERT_EQ(tasks.size(), 2);
    EXPECT_EQ(tasks.at(1)["value"].toArray(), QJsonArray{2.5});
    EXPECT_EQ(db->count(R"(SELECT count(*) FROM "TaskTable")"), 1);
    EXPECT_EQ(db->scalar(R"(SELECT "DromexNum" FROM "TaskTable")").toString(), "D-1");
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
            const QJsonArray tasks = queue(device);
            ASSERT_EQ(tasks.size(), ++stored);
            EXPECT_EQ(tasks.last()["value"].toArray().at(0).toVariant(), c.stored.toVariant()) << c.value;
        }
    }
    EXPECT_CODE(call(waterOperator, "Add_Task", {{"DeviceId", "999"}, {"CommandCode", "1"}, {"Value", "1"}}), 246);
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
    // Listing never prunes.
    const CgiResult listed = call(waterOperator, "Get_TaskTable", {{"DeviceId", device}});
    ASSERT_CODE(listed, 0);
    EXPECT_EQ(listed.row()["taskArr"].toArray(), stored);
    ASSERT_CODE(add("5", "1"), 0);
    QList<int> ids;
    for (const QJsonValue& task : queue(device)) {
        ids << task["id"].toInt();
    }
    ids.removeLast();
    EXPECT_EQ(ids, (QList<int>{2, 3, 5}));
}

TEST_F(Tasks, ListingDeletingAndClearing)
{
    ASSERT_CODE(add("1", "0"), 0);
    ASSERT_CODE(add("2", "7"), 0);
    const CgiResult listed = call(waterOperator, "Get_TaskTable", {{"DeviceId", device}});
    ASSERT_CODE(listed, 0);
    QJsonObject head = listed.row();
    const QJsonArray tasks = head.take("taskArr").toArray();
    EXPECT_EQ(head, (QJsonObject{{"deviceId", device.toLongLong()}, {"devType", 7}, {"manId", "ABC"}, {"identNum", 12345},
                                 {"ver", 1}, {"zavNum", "Z12345"}, {"modelName", "Model"}, {"manufName", "Maker"},
                                 {"resCode", 2}, {"dromexNum", "D-1"}}));
    ASSERT_EQ(tasks.size(), 2);
    const QString second = QString::number(tasks.at(1)["id"].toVariant().toLongLong());
    EXPECT_CODE(call(waterOperator, "Del_Task", {{"DeviceId", device}, {"TaskId", "12"}}), 306);
    EXPECT_EQ(queue(device).size(), 2);
    ASSERT_CODE(call(waterOperator, "Del_Task", {{"DeviceId", device}, {"TaskId", second}}), 0);
    EXPECT_EQ(queue(device).size(), 1);
    ASSERT_CODE(call(waterOperator, "Clear_Task", {{"DeviceId", device}}), 0);
    EXPECT_EQ(db->scalar(R"(SELECT "JsonTask"::text FROM "TaskTable")").toString(), "[]");
}

TEST_F(Tasks, QueuesAreReachedOnlyThroughTheCompanysInstallation)
{
    db->exec(QStringLiteral(R"(INSERT INTO "TaskTable" ("DeviceId", "JsonTask") VALUES (%1, '[]'), (%2, '[]'))").arg(device, looseDevice));
    EXPECT_CODE(callAsAdmin("Get_TaskTable", {{"DeviceId", device}}), 246);
    EXPECT_CODE(callAsAdmin("Get_TaskTable", {{"DeviceId", looseDevice}}), 0);
    EXPECT_CODE(callAsAdmin("Get_TaskTable", {{"DeviceId", device}, {"CompanyId", QString::number(water)}}), 0);
    EXPECT_CODE(call(waterOperator, "Clear_Task", {{"DeviceId", looseDevice}}), 246);
    EXPECT_CODE(add("1", "1"), 0);
    EXPECT_CODE(call(waterOperator, "Add_Task", {{"DeviceId", looseDevice}, {"CommandCode", "1"}, {"Value", "1"}}), 27);
    // A device installed nowhere belongs to no company: another company's, as far as a
    // company-bound caller is told.
    db->exec(QStringLiteral(R"(UPDATE "InstallTable" SET "Actual"=0 WHERE "DeviceId"=%1)").arg(looseDevice));
    EXPECT_CODE(call(waterOperator, "Add_Task", {{"DeviceId", looseDevice}, {"CommandCode", "1"}, {"Value", "1"}}), 27);
    EXPECT_CODE(call(createUser("u131", 131, water), "Get_TaskTable", {{"DeviceId", device}}), 143);
}

TEST_F(Tasks, BrokenStoredQueuesAreRefused)
{
    for (const char* stored : {R"({"id":1})", R"("text")"}) {
        db->exec(QStringLiteral(R"(DELETE FROM "TaskTable")"));
        db->exec(QStringLiteral(R"(INSERT INTO "TaskTable" ("DeviceId", "JsonTask") VALUES (%1, '%2'))").arg(device, stored));
        EXPECT_CODE(add("1", "1"), 131) << stored;
        EXPECT_CODE(call(waterOperator, "Get_TaskTable", {{"DeviceId", device}}), 131) << stored;
        EXPECT_CODE(call(waterOperator, "Del_Task", {{"DeviceId", device}, {"TaskId", "1"}}), 131) << stored;
    }
    db->exec(QStringLiteral(R"(UPDATE "TaskTable" SET "JsonTask"='[5, {"id": 1}]')"));
    EXPECT_CODE(call(waterOperator, "Del_Task", {{"DeviceId", device}, {"TaskId", "1"}}), 131);
}

} // namespace
