// Hostile texts in the device and task commands.
#include "support/pgfixture.h"

using namespace testing_support;

namespace {

QByteArray jsonLiteral(const QByteArray& raw)
{
    QByteArray out = "\"";
    for (const char c : raw) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<uchar>(c) < 0x20) {
            out += QStringLiteral("\\u%1").arg(static_cast<uchar>(c), 4, 16, QLatin1Char('0')).toLatin1();
        } else {
            out += c;
        }
    }
    return out + '"';
}

class DevicesBadInput : public DbTest {
protected:
    void SetUp() override
    {
        DbTest::SetUp();
        initSchema();
        const qint64 manuf = insertId(R"(INSERT INTO "ManufTable" ("Name") VALUES ('M') RETURNING "Id")");
        model = QByteArray::number(insertId(QStringLiteral(R"(INSERT INTO "ModelTable" ("Name", "ManufId") VALUES ('X', %1) RETURNING "Id")").arg(manuf)));
        const qint64 address = insertId(R"(INSERT INTO "AddressTable" ("Name") VALUES ('a') RETURNING "Id")");
        const qint64 object = insertId(QStringLiteral(R"(INSERT INTO "ObjectTable" ("AddressId") VALUES (%1) RETURNING "Id")").arg(address));
        device = QByteArray::number(insertId(QStringLiteral(R"(INSERT INTO "DeviceTable" ("ModelId") VALUES (%1) RETURNING "Id")").arg(QString::fromLatin1(model))));
        db->exec(QStringLiteral(R"(INSERT INTO "InstallTable" ("DeviceId", "ObjectId", "DateInstall", "Actual") VALUES (%1, %2, '2020-01-01', 1))").arg(QString::fromLatin1(device)).arg(object));
        db->exec(QStringLiteral(R"(INSERT INTO "TaskTable" ("DeviceId", "JsonTask") VALUES (%1, '[]'))").arg(QString::fromLatin1(device)));
    }
    CgiResult send(const char* command, QList<QPair<QByteArray, QByteArray>> params)
    {
        params.prepend({"Auth", adminToken().toLatin1()});
        params.prepend({"CMD", command});
        return cgi->postBytes(params);
    }

    QByteArray model;
    QByteArray device;
};

TEST_F(DevicesBadInput, DeviceKeysAndParameters)
{
    int identNum = 0;
    for (const HostileText& hostile : hostileTexts()) {
        const QByteArray literal = jsonLiteral(hostile.bytes);
        const QByteArray base = "\"devType\":7,\"ver\":1,\"modelId\":" + model + ",\"objectId\":0";
        const CgiResult zav = send("Add_Devices", {{"DATA", "[{" + base + ",\"manId\":\"ABC\",\"identNum\":" +
                                                             QByteArray::number(++identNum) + ",\"zavNum\":" + literal + "}]"}});
        EXPECT_FALSE(zav.log.contains("syntax error")) << hostile.name;
        if (!(zav.errorCode() == 132 && zav.log.contains("value too long"))) {
            ASSERT_CODE(zav, 0);
            EXPECT_EQ(db->scalar(QStringLiteral(R"(SELECT "ZavNum" FROM "DeviceTable" WHERE "Id"=%1)").arg(zav.id())).toString(),
                      hostile.stored()) << hostile.name;
        }
        EXPECT_CODE(send("Add_Devices", {{"DATA", "[{" + base + ",\"identNum\":1,\"manId\":" + literal + "}]"}}), 103) << hostile.name;
        for (const char* key : {"devType", "identNum", "ver", "modelId", "objectId"}) {
            QByteArray element = "{\"devType\":7,\"manId\":\"ABC\",\"identNum\":1,\"ver\":1,\"modelId\":" + model + ",\"objectId\":0";
            element += ",\"" + QByteArray(key) + "\":" + literal + "}";
            const CgiResult r = send("Add_Devices", {{"DATA", "[" + element + "]"}});
            EXPECT_NE(r.errorCode(), 0) << key << " " << hostile.name;
            EXPECT_FALSE(r.log.contains("syntax error"));
        }
        for (const char* parameter : {"DeviceId", "CompanyId"}) {
            const CgiResult r = send("Upd_Device", {{"DeviceId", device}, {"DATA", "[{" + base + ",\"manId\":\"ABC\",\"identNum\":1}]"},
                                                    {parameter, hostile.bytes}});
            EXPECT_FALSE(r.log.contains("syntax error")) << parameter << " " << hostile.name;
        }
        EXPECT_NE(send("Del_Device", {{"Id", hostile.bytes}}).errorCode(), 0) << hostile.name;
        for (const char* parameter : {"DeviceId", "CommandCode", "Value"}) {
            QList<QPair<QByteArray, QByteArray>> params{{"DeviceId", device}, {"CommandCode", "7"}, {"Value", "1"}};
            for (auto& pair : params) {
                if (pair.first == parameter) {
                    pair.second = hostile.bytes;
                }
            }
            const CgiResult r = send("Add_Task", params);
            EXPECT_NE(r.errorCode(), 0) << parameter << " " << hostile.name;
        }
        EXPECT_NE(send("Del_Task", {{"DeviceId", device}, {"TaskId", hostile.bytes}}).errorCode(), 0) << hostile.name;
    }
    EXPECT_EQ(db->count(QStringLiteral(R"(SELECT count(*) FROM "DeviceTable" WHERE "Id"=%1)").arg(QString::fromLatin1(device))), 1);
    EXPECT_EQ(db->scalar(R"(SELECT "JsonTask"::text FROM "TaskTable")").toString(), "[]");
}

TEST_F(DevicesBadInput, DromexNumIsStoredAsSent)
{
    for (const HostileText& hostile : hostileTexts()) {
        db->exec(R"(DELETE FROM "TaskTable")");
        const CgiResult r = send("Add_Task", {{"DeviceId", device}, {"CommandCode", "7"}, {"Value", "1"}, {"DromexNum", hostile.bytes}});
        if (r.errorCode() == 132 && r.log.contains("value too long")) {
            continue;
        }
        ASSERT_CODE(r, 0);
        EXPECT_EQ(db->scalar(R"(SELECT "DromexNum" FROM "TaskTable")").toString(), hostile.stored()) << hostile.name;
    }
}

} // namespace
