// Concentrators and LoRa devices with their channel meters: the three tables after every
// change, after a failure half-way, and for callers of two companies.
#include "support/pgfixture.h"

#include "db/lockedwrite.h"

#include <QJsonDocument>
#include <QProcess>

using namespace testing_support;

namespace {

class Groups : public TwoCompanies {
protected:
    void SetUp() override
    {
        TwoCompanies::SetUp();
        house = address(QStringLiteral("Ленина 1"), water);
        flat = object(house, "1");
        cellar = object(house, "подвал");
        heatFlat = objectOf(heat);
        modelId = model(2);
        waterOperator = createUser("wop", 130, water);
        heatOperator = createUser("hop", 130, heat);
    }
    CgiResult send(const QString& token, const char* command, QJsonObject content)
    {
        content.insert("CMD", command);
        content.insert("Auth", token);
        return cgi->postJson(content);
    }
    QJsonObject meterOn(int channel, int identNum, qint64 objectId, const char* objectKey = "objId") const
    {
        return {{"channel", channel}, {"manId", "abc"}, {"identNum", identNum}, {"ver", 1}, {"devType", 7}, {"modelId", modelId},
                {"zavNum", QStringLiteral("Z%1").arg(identNum)}, {objectKey, objectId}, {"dateInstall", "2021-01-01"},
                {"titleId", 5}, {"edId", 10}, {"impW", 0.01}, {"startVal", 0}, {"enabled", true}};
    }
    QJsonObject mirel(int channels, int firstIdentNum = 100) const
    {
        QJsonArray list{QJsonObject{{"channel", 50}, {"titleId", 5}}}; // no meter: ignored
        for (int i = 0; i < channels; ++i) {
            list.append(meterOn(i, firstIdentNum + i, flat));
        }
        return {{"manId", "MRL"}, {"identNum", 1}, {"ver", 1}, {"devType", 25}, {"modelId", modelId}, {"zavNum", "C1"},
                {"dateProizv", "2020-05-05"}, {"channels", list}};
    }
    qint64 count(const QString& sql) { return db->count(sql); }
    QString tables()
    {
        return value(R"(SELECT (SELECT count(*) FROM "DeviceTable") || '/' || (SELECT count(*) FROM "InstallTable") || '/' ||
                        (SELECT count(*) FROM "ConcTable"))");
    }

    qint64 house = 0, flat = 0, cellar = 0, heatFlat = 0, modelId = 0;
    QString waterOperator, heatOperator;
};

TEST_F(Groups, AConcentratorWithElevenChannelsFromAddToDelete)
{
    ASSERT_CODE(send(waterOperator, "Add_Mirel", mirel(11)), 0);
    const qint64 master = count(R"(SELECT "Id" FROM "DeviceTable" WHERE "ConnectType"=1)");
    EXPECT_EQ(count(R"(SELECT count(*) FROM "DeviceTable" WHERE "ConnectType"=2 AND "ManId"='ABC')"), 11);
    EXPECT_EQ(count(QStringLiteral(R"(SELECT count(*) FROM "ConcTable" WHERE "MasterId"=%1 AND "Deveui" IS NULL)").arg(master)), 11);
    EXPECT_EQ(count(R"(SELECT count(*) FROM "InstallTable" WHERE "Actual"=1 AND "DateInstall"='2021-01-01')"), 11);
    EXPECT_EQ(value(R"(SELECT "JsonData"::text FROM "ConcTable" WHERE "Channel"=3)"),
              "{\n    \"imp\": [\n        {\n            \"titleId\": 5,\n            \"edId\": 10,\n            \"postfixNum\": 0,\n"
              "            \"impW\": 0.01,\n            \"startVal\": 0\n        }\n    ]\n}\n");

    const CgiResult list = call(createUser("wuser", 131, water), "Get_MirelTable", {{"AddressId", QString::number(house)}});
    ASSERT_CODE(list, 0);
    ASSERT_EQ(list.data().size(), 1);
    EXPECT_EQ(list.row()["status"].toString(), QStringLiteral("Действующее устройство"));
    EXPECT_EQ(list.row()["dateProizv"].toString(), "2020-05-05");
    const QJsonArray channels = list.row()["channels"].toArray();
    ASSERT_EQ(channels.size(), 11);
    EXPECT_EQ(channels.at(10).toObject()["identNum"].toInt(), 110);
    EXPECT_EQ(channels.at(0).toObject()["data"].toObject()["imp"].toArray().at(0).toObject()["impW"].toDouble(), 0.01);
    EXPECT_EQ(channels.at(0).toObject()["addressName"].toString(), QStringLiteral("Ленина 1"));
    EXPECT_TRUE(call(heatOperator, "Get_MirelTable", {{"AddressId", QString::number(house)}}).data().isEmpty());

    // Keep channels 0 to 4 (channel 0's meter moves to the cellar), add one on channel 20,
    // drop channels 5 to 10.
    QJsonObject change = mirel(0);
    QJsonArray kept;
    for (const QJsonValue& channel : channels) {
        const QJsonObject old = channel.toObject();
        if (old["channel"].toInt() < 5) {
            QJsonObject element = meterOn(old["channel"].toInt(), old["identNum"].toInt(), old["channel"].toInt() == 0 ? cellar : flat);
            element.insert("deviceId", old["deviceId"]);
            kept.append(element);
        }
    }
    kept.append(meterOn(20, 500, flat));
    change.insert("channels", kept);
    change.insert("id", master);
    change.insert("zavNum", "C2");
    ASSERT_CODE(send(waterOperator, "Upd_Mirel", change), 0);
    EXPECT_EQ(value(QStringLiteral(R"(SELECT string_agg("Channel"::text, ',' ORDER BY "Channel") FROM "ConcTable" WHERE "MasterId"=%1)").arg(master)),
              "0,1,2,3,4,20");
    EXPECT_EQ(count(R"(SELECT count(*) FROM "DeviceTable" WHERE "ConnectType"=0 AND "ManId"='ABC')"), 6);
    const qint64 moved = channels.at(0).toObject()["deviceId"].toInt();
    EXPECT_EQ(value(QStringLiteral(R"(SELECT string_agg("ObjectId" || ':' || "Actual", ',' ORDER BY "Id") FROM "InstallTable" WHERE "DeviceId"=%1)").arg(moved)),
              QStringLiteral("%1:0,%2:1").arg(flat).arg(cellar));
    EXPECT_EQ(value(QStringLiteral(R"(SELECT "ZavNum" FROM "DeviceTable" WHERE "Id"=%1)").arg(master)), "C2");

    EXPECT_CODE(call(heatOperator, "Del_Mirel", {{"Id", QString::number(master)}}), 246);
    // The id of an ordinary meter names no concentrator: nothing is deleted.
    ASSERT_CODE(callAsAdmin("Del_Mirel", {{"Id", QString::number(moved)}}), 0);
    EXPECT_EQ(count(QStringLiteral(R"(SELECT count(*) FROM "DeviceTable" WHERE "Id"=%1)").arg(moved)), 1);
    ASSERT_CODE(call(waterOperator, "Del_Mirel", {{"Id", QString::number(master)}}), 0);
    EXPECT_EQ(count(R"(SELECT count(*) FROM "ConcTable")"), 0);
    EXPECT_EQ(count(R"(SELECT count(*) FROM "DeviceTable" WHERE "ConnectType"<>0)"), 0);
    EXPECT_EQ(count(R"(SELECT count(*) FROM "DeviceTable" WHERE "ManId"='ABC')"), 12);
}

// A meter that no channel holds any more is a standalone device again, whether its channel
// went or got another meter; a meter that moved to another channel is still a channel meter.
TEST_F(Groups, MetersLeftOnNoChannelStandAlone)
{
    ASSERT_CODE(send(waterOperator, "Add_Mirel", mirel(2)), 0);
    const qint64 master = count(R"(SELECT "Id" FROM "DeviceTable" WHERE "ConnectType"=1)");
    const auto meterOf = [this](int identNum) {
        return count(QStringLiteral(R"(SELECT "Id" FROM "DeviceTable" WHERE "IdentNum"=%1)").arg(identNum));
    };
    QJsonObject moved = meterOn(2, 101, flat);
    moved.insert("deviceId", meterOf(101));
    QJsonObject change = mirel(0);
    change.insert("id", master);
    change.insert("channels", QJsonArray{meterOn(0, 300, flat), moved}); // a new meter on 0; 1's meter to 2
    ASSERT_CODE(send(waterOperator, "Upd_Mirel", change), 0);
    EXPECT_EQ(value(QStringLiteral(R"(SELECT string_agg(c."Channel" || ':' || d."IdentNum", ',' ORDER BY c."Channel") FROM "ConcTable" c, "DeviceTable" d WHERE c."MasterId"=%1 AND d."Id"=c."DeviceId")").arg(master)),
              "0:300,2:101");
    EXPECT_EQ(value(QStringLiteral(R"(SELECT "ConnectType" FROM "DeviceTable" WHERE "Id"=%1)").arg(meterOf(100))), "0");
    EXPECT_EQ(value(QStringLiteral(R"(SELECT "ConnectType" FROM "DeviceTable" WHERE "Id"=%1)").arg(meterOf(101))), "2");
}

TEST_F(Groups, AFailureHalfWayWritesNothing)
{
    installedDevice(modelId, flat, 105); // the identity of channel 5
    const QString before = tables();
    EXPECT_CODE(send(waterOperator, "Add_Mirel", mirel(8)), 151);
    EXPECT_EQ(tables(), before);
    // A statement that fails after several were written takes them all back.
    db->exec(QStringLiteral(R"(CREATE FUNCTION refuse() RETURNS trigger LANGUAGE plpgsql AS $$BEGIN
        IF NEW."ObjectId" = %1 THEN RAISE EXCEPTION 'refused'; END IF; RETURN NEW; END$$)").arg(cellar));
    db->exec(R"(CREATE TRIGGER refuse BEFORE INSERT ON "InstallTable" FOR EACH ROW EXECUTE FUNCTION refuse())");
    QJsonObject content = mirel(3, 200);
    QJsonArray channels = content["channels"].toArray();
    channels.append(meterOn(7, 300, cellar));
    content.insert("channels", channels);
    EXPECT_CODE(send(waterOperator, "Add_Mirel", content), 132);
    EXPECT_EQ(tables(), before);
}

TEST_F(Groups, ContentThatIsRefused)
{
    const auto with = [this](const char* key, const QJsonValue& value) {
        QJsonObject content = mirel(1);
        content.insert(key, value);
        return content;
    };
    const auto channel = [this](const char* key, const QJsonValue& value) {
        QJsonObject element = meterOn(0, 7, flat);
        if (value.isUndefined()) {
            element.remove(key);
        } else {
            element.insert(key, value);
        }
        QJsonObject content = mirel(0);
        content.insert("channels", QJsonArray{element});
        return content;
    };
    QJsonObject noManId = mirel(1);
    noManId.remove("manId");
    QJsonObject noIdentNum = mirel(1);
    noIdentNum.remove("identNum");
    QJsonObject noVer = mirel(1);
    noVer.remove("ver");
    QJsonObject noDevType = mirel(1);
    noDevType.remove("devType");
    QJsonObject twice = mirel(1);
    twice.insert("channels", QJsonArray{meterOn(1, 7, flat), meterOn(1, 8, flat)});
    // A group lists at most 1024 channel elements; elements that describe no meter count too.
    const auto padded = [&](int elements) {
        QJsonObject content = mirel(1);
        QJsonArray channels{meterOn(1, 9, flat)};
        while (channels.size() < elements) {
            channels.append(QJsonObject());
        }
        content.insert("channels", channels);
        return content;
    };
    const struct {
        QJsonObject content;
        int code;
    } cases[] = {
        {noManId, 99},
        {noVer, 102},
        {noDevType, 101},
        {with("manId", "AB"), 103},
        {with("identNum", 100000000), 15},
        {with("ver", 256), 17},
        {with("devType", -1), 84},
        {with("modelId", "x"), 216},
        {with("modelId", 999), 313},
        {with("channels", QJsonObject{{"0", 1}}), 176},
        {with("channels", "[1]"), 176},
        {with("channels", QJsonArray{QJsonObject{{"channel", 1}, {"titleId", 5}}}), 316},
        {twice, 176},
        {padded(1024), 0},
        {padded(1025), 176},
        {channel("channel", -1), 176},
        {channel("channel", 4294967296.0), 176},
        {channel("channel", 32768), 176}, // beyond the column: refused before any statement
        {channel("zavNum", QString(21, QChar(0x044F))), 329},
        {with("zavNum", QString(21, QChar('z'))), 329},
        {channel("transKoef", 2147483648.0), 181},
        {channel("note", QString(201, QChar('a'))), 327},
        {channel("identNum", 99999999), 0},
        {channel("objId", QJsonValue::Undefined), 145},
        {channel("objId", "x"), 146},
        {channel("objId", static_cast<double>(heatFlat)), 190},
        {channel("titleId", -1), 317},
        {channel("edId", QJsonValue::Undefined), 318},
        {channel("impW", -0.5), 319},
        {channel("impW", "abc"), 319},
        {channel("impW", 1e308 * 10), 319},
        {channel("startVal", QJsonValue::Undefined), 320},
        {channel("startVal", -99999998), 0},
    };
    int identNum = 1000;
    for (const auto& c : cases) {
        QJsonObject content = c.content;
        if (content["identNum"].toInt() == 1) {
            content.insert("identNum", identNum++); // every concentrator its own identity
        }
        EXPECT_CODE(send(waterOperator, "Add_Mirel", content), c.code) << qPrintable(QJsonDocument(content).toJson(QJsonDocument::Compact));
    }
    EXPECT_CODE(send(waterOperator, "Add_Mirel", noIdentNum), 100);
    EXPECT_CODE(send(waterOperator, "Add_Mirel", QJsonObject()), 176);
    EXPECT_CODE(call(waterOperator, "Add_Mirel"), 176);
    EXPECT_CODE(send(createUser("wuser", 131, water), "Add_Mirel", mirel(1)), 143);
}

QJsonObject lora(const QJsonArray& channels, qint64 objectId)
{
    return {{"DevEUI", "70b3d5e75e003ab1"}, {"ObjectId", objectId}, {"Channels", channels}};
}

TEST_F(Groups, ALoRaDeviceWithItsHubFromAddToDelete)
{
    QJsonArray channels{meterOn(1, 11, 0), meterOn(2, 12, 0), meterOn(3, 13, 0)};
    QJsonObject off = channels.at(2).toObject();
    off.insert("enabled", false);
    channels.replace(2, off);
    QJsonObject first = channels.at(0).toObject();
    first.insert("note", QStringLiteral("Счётчик в подвале, кв. 5"));
    channels.replace(0, first);
    QJsonObject content = lora(channels, flat);
    content.insert("Hub", QJsonObject{{"manId", "HUB"}, {"identNum", 9}, {"ver", 1}, {"devType", 54}, {"modelId", modelId}});
    ASSERT_CODE(send(waterOperator, "Add_LoRaDevice", content), 0);
    EXPECT_EQ(tables(), "3/2/2");
    EXPECT_EQ(count(R"(SELECT count(*) FROM "ConcTable" c, "DeviceTable" d WHERE c."Deveui"='70B3D5E75E003AB1' AND d."Id"=c."MasterId" AND d."ConnectType"=1)"), 2);

    // A concentrator's meters at the same house are no LoRa device.
    ASSERT_CODE(send(waterOperator, "Add_Mirel", mirel(2)), 0);
    EXPECT_EQ(call(waterOperator, "Get_LoRaTable", {{"AddressId", QString::number(house)}}).data().size(), 1);
    const CgiResult table = call(waterOperator, "Get_LoRaTable", {{"AddressId", QString::number(house)}, {"DevEUI", "5e00"}});
    ASSERT_CODE(table, 0);
    ASSERT_EQ(table.data().size(), 1);
    EXPECT_EQ(table.row()["devEUI"].toString(), "70B3D5E75E003AB1");
    EXPECT_EQ(table.row()["MasterId"].toObject()["manId"].toString(), "HUB");
    EXPECT_EQ(table.row()["channels"].toArray().at(0).toObject()["install"].toString(), "2021-01-01\n1");
    const CgiResult device = call(waterOperator, "Get_LoRaDevice", {{"DevEUI", "70B3D5E75E003AB1"}});
    ASSERT_CODE(device, 0);
    EXPECT_EQ(device.row()["channels"].toArray().at(0).toObject()["note"].toString(), QStringLiteral("Счётчик в подвале, кв. 5"));
    EXPECT_EQ(device.row()["channels"].toArray().at(1).toObject()["data"].toObject()["imp"].toArray().size(), 1);
    EXPECT_CODE(call(heatOperator, "Get_LoRaDevice", {{"DevEUI", "70B3D5E75E003AB1"}}), 246);

    // Rename it, move channel 2's meter to the cellar, drop channel 1, add channel 4.
    QJsonObject change{{"DevEUI", "70b3d5e75e003ab1"}, {"NewDevEUI", "70B3D5E75E003AB2"},
                       {"Channels", QJsonArray{meterOn(2, 12, cellar, "objectId"), meterOn(4, 14, flat, "objectId")}}};
    EXPECT_CODE(send(heatOperator, "Upd_LoRaDevice", change), 246);
    ASSERT_CODE(send(waterOperator, "Upd_LoRaDevice", change), 0);
    EXPECT_EQ(value(R"(SELECT string_agg("Channel"::text, ',' ORDER BY "Channel") FROM "ConcTable" WHERE "Deveui"='70B3D5E75E003AB2')"), "2,4");
    EXPECT_EQ(count(R"(SELECT count(*) FROM "DeviceTable" WHERE "IdentNum"=11 AND "ConnectType"=0)"), 1);
    EXPECT_EQ(value(R"(SELECT string_agg(i."Actual"::text, ',' ORDER BY i."Id") FROM "InstallTable" i, "DeviceTable" d WHERE d."Id"=i."DeviceId" AND d."IdentNum"=12)"),
              "0,1");

    EXPECT_CODE(call(heatOperator, "Del_LoRaDevice", {{"DevEUI", "70B3D5E75E003AB2"}}), 246);
    ASSERT_CODE(call(waterOperator, "Del_LoRaDevice", {{"DevEUI", "70B3D5E75E003AB2"}}), 0);
    EXPECT_EQ(count(R"(SELECT count(*) FROM "ConcTable" WHERE "Deveui" IS NOT NULL)"), 0);
    EXPECT_EQ(count(R"(SELECT count(*) FROM "DeviceTable" WHERE "IdentNum" IN (9, 12, 14))"), 0);
    EXPECT_EQ(count(R"(SELECT count(*) FROM "DeviceTable" WHERE "IdentNum"=11)"), 1);
}

TEST_F(Groups, LoRaContentThatIsRefused)
{
    ASSERT_CODE(send(waterOperator, "Add_LoRaDevice", lora({meterOn(1, 11, 0)}, flat)), 0);
    const auto noted = [this](const QString& note) {
        QJsonObject element = meterOn(1, 21, 0);
        element.insert("note", note);
        QJsonObject content = lora({element}, flat);
        content.insert("DevEUI", "AB");
        return content;
    };
    QJsonObject noObject = lora({meterOn(1, 22, 0)}, flat);
    noObject.remove("ObjectId");
    QJsonObject longEui = lora({meterOn(1, 23, 0)}, flat);
    longEui.insert("DevEUI", "70B3D5E75E003AB10");
    QJsonObject quoted = lora({meterOn(1, 24, 0)}, flat);
    quoted.insert("DevEUI", "70'B3");
    const struct {
        QJsonObject content;
        int code;
        QString named; // the parameter the answer's text names
    } cases[] = {{lora({meterOn(1, 25, 0)}, flat), 151}, // the DevEUI is taken
                 {noObject, 145},
                 {lora({meterOn(1, 26, 0)}, 0), 216, "ObjectId"},
                 {longEui, 216, "DevEUI"},
                 {quoted, 216, "DevEUI"},
                 {noted("a;b"), 327},
                 {noted("a--b"), 327},
                 {noted("<b>"), 327},
                 {noted(QString(201, QChar('a'))), 327},
                 {lora({meterOn(1, 11, 0)}, flat), 151}, // another device's identity
                 {lora({QJsonObject{{"channel", 1}, {"enabled", false}}}, flat), 316},
                 {QJsonObject{{"DevEUI", "C0FFEE"}, {"ObjectId", heatFlat}, {"Channels", QJsonArray{meterOn(1, 27, 0)}}}, 190}};
    for (const auto& c : cases) {
        const CgiResult r = send(waterOperator, "Add_LoRaDevice", c.content);
        EXPECT_CODE(r, c.code) << qPrintable(QJsonDocument(c.content).toJson(QJsonDocument::Compact));
        EXPECT_EQ(r.text().contains(QStringLiteral("параметра ") + c.named + QLatin1Char('.')), !c.named.isEmpty()) << qPrintable(r.text());
    }
    EXPECT_EQ(tables(), "1/1/1");
    QJsonObject other = lora({meterOn(1, 31, 0)}, flat);
    other.insert("DevEUI", "BEEF");
    ASSERT_CODE(send(waterOperator, "Add_LoRaDevice", other), 0);
    EXPECT_CODE(send(waterOperator, "Upd_LoRaDevice", QJsonObject{{"DevEUI", "BEEF"}, {"NewDevEUI", "70B3D5E75E003AB1"},
                                                                  {"Channels", QJsonArray{meterOn(1, 31, flat, "objectId")}}}),
                151);
    EXPECT_CODE(call(waterOperator, "Get_LoRaDevice", {{"DevEUI", ""}}), 216);
    const CgiResult quotedEui = call(waterOperator, "Del_LoRaDevice", {{"DevEUI", "x'"}});
    EXPECT_CODE(quotedEui, 216);
    EXPECT_TRUE(quotedEui.text().contains(QStringLiteral("параметра DevEUI."))) << qPrintable(quotedEui.text());
}

// A "deviceId" in a request never reaches a device the group does not hold: a new channel of a
// LoRa device gets a new meter of its own (another company's device stays as it was), and a
// new concentrator's meter may not take an identity that a device has already.
TEST_F(Groups, ADeviceIdInTheRequestReachesNoOtherDevice)
{
    const qint64 heatDevice = installedDevice(modelId, heatFlat, 777);
    const QString heatBefore = value(QStringLiteral(R"(SELECT row("ZavNum", "ConnectType")::text || (SELECT string_agg(row("ObjectId", "Actual")::text, ';') FROM "InstallTable" WHERE "DeviceId"=%1) FROM "DeviceTable" WHERE "Id"=%1)").arg(heatDevice));
    ASSERT_CODE(send(waterOperator, "Add_LoRaDevice", lora({meterOn(1, 11, 0)}, flat)), 0);
    QJsonObject takeover = meterOn(2, 12, flat, "objectId");
    takeover.insert("deviceId", heatDevice);
    ASSERT_CODE(send(waterOperator, "Upd_LoRaDevice", QJsonObject{{"DevEUI", "70B3D5E75E003AB1"},
                                                                  {"Channels", QJsonArray{meterOn(1, 11, flat, "objectId"), takeover}}}),
                0);
    EXPECT_EQ(value(QStringLiteral(R"(SELECT row("ZavNum", "ConnectType")::text || (SELECT string_agg(row("ObjectId", "Actual")::text, ';') FROM "InstallTable" WHERE "DeviceId"=%1) FROM "DeviceTable" WHERE "Id"=%1)").arg(heatDevice)),
              heatBefore);
    EXPECT_EQ(value(R"(SELECT string_agg(d."IdentNum"::text, ',' ORDER BY c."Channel") FROM "ConcTable" c, "DeviceTable" d WHERE c."Deveui"='70B3D5E75E003AB1' AND d."Id"=c."DeviceId")"),
              "11,12");

    QJsonObject content = mirel(1);
    QJsonArray channels = content.value("channels").toArray();
    QJsonObject copy = meterOn(1, 777, flat);
    copy.insert("deviceId", heatDevice);
    channels.append(copy);
    content.insert("channels", channels);
    EXPECT_CODE(send(waterOperator, "Add_Mirel", content), 151);
    EXPECT_EQ(count(R"(SELECT count(*) FROM "DeviceTable" WHERE "IdentNum"=777)"), 1);
}

// Two registrations of one meter identity: the second waits for the first and then refuses.
TEST_F(Groups, ConcurrentRegistrationsOfOneIdentityLeaveOneDevice)
{
    bool waited = false;
    Params params{{"CMD", "Add_LoRaDevice"}, {"Auth", waterOperator}};
    const QJsonObject content = lora({meterOn(1, 11, 0)}, flat);
    db->connection().transaction();
    db->exec(orvela::LockedWrite::lockStatement(orvela::LockSubject::DeviceIdentity));
    db->exec(QStringLiteral(R"(INSERT INTO "DeviceTable" ("DevType", "ManId", "IdentNum", "Ver", "ModelId") VALUES (7, 'ABC', 11, 1, %1))").arg(modelId));
    const QStringList before = cgi->logFiles();
    QJsonObject body = content;
    body.insert("CMD", "Add_LoRaDevice");
    body.insert("Auth", waterOperator);
    QProcess* process = cgi->startJson(body);
    waited = !process->waitForFinished(500);
    db->connection().commit();
    const CgiResult r = cgi->finish(process, before);
    EXPECT_TRUE(waited);
    EXPECT_CODE(r, 151);
    EXPECT_EQ(count(R"(SELECT count(*) FROM "DeviceTable" WHERE "IdentNum"=11)"), 1);
}

} // namespace

namespace {

// What no change or deletion of groups may leave behind: a channel meter installed somewhere
// but on no channel, a channel row whose meter is gone, a meter on two channels.
const char kBrokenGroups[] =
    R"(SELECT (SELECT count(*) FROM "DeviceTable" d WHERE d."ConnectType"=2 AND
               EXISTS (SELECT 1 FROM "InstallTable" i WHERE i."DeviceId"=d."Id" AND i."Actual"=1) AND
               NOT EXISTS (SELECT 1 FROM "ConcTable" c WHERE c."DeviceId"=d."Id"))
          + (SELECT count(*) FROM "ConcTable" c WHERE NOT EXISTS (SELECT 1 FROM "DeviceTable" d WHERE d."Id"=c."DeviceId"))
          + (SELECT count(*) FROM (SELECT "DeviceId" FROM "ConcTable" GROUP BY 1 HAVING count(*) > 1) twice))";

// A new meter on channel 9 of a group, as a change of that group writes it.
QString addedMeter(const QString& master, const QString& eui)
{
    return QStringLiteral(R"(WITH m AS (INSERT INTO "DeviceTable" ("DevType", "ManId", "IdentNum", "Ver", "ModelId", "ConnectType")
                             VALUES (7, 'ABC', %IDENT%, 1, %MODEL%, 2) RETURNING "Id"),
                              i AS (INSERT INTO "InstallTable" ("DeviceId", "ObjectId", "DateInstall", "Actual")
                                    SELECT "Id", %OBJECT%, '2021-01-01', 1 FROM m)
                             INSERT INTO "ConcTable" ("MasterId", "Deveui", "DeviceId", "Channel") SELECT %1, %2, "Id", 9 FROM m)")
        .arg(master, eui);
}

} // namespace

// A group change holds the lock of device identities, its rows and half its writes while
// another request deletes the group, a meter on it or an object it installs into: the other
// request waits for the lock, then sees every row the change wrote, and neither deadlocks.
TEST_F(Groups, AChangeAndADeletionOfOneGroupWaitForEachOther)
{
    const QString lock = orvela::LockedWrite::lockStatement(orvela::LockSubject::DeviceIdentity);
    const QString holdMaster = R"(SELECT 1 FROM "DeviceTable" WHERE "Id"=%MASTER% FOR NO KEY UPDATE)";
    const QString holdChannels = R"(SELECT 1 FROM "ConcTable" WHERE "MasterId"=%MASTER% FOR UPDATE)";
    const struct {
        const char* name;
        QStringList held; // before the request starts
        QStringList then; // while it waits
        const char* body;
        int code;
    } races[] = {
        {"Upd_LoRaDevice adds a channel, Del_LoRaDevice",
         {lock, R"(SELECT 1 FROM "ConcTable" WHERE "Deveui"='%EUI%' FOR UPDATE)", addedMeter("NULL", "'%EUI%'")}, {},
         R"({"CMD":"Del_LoRaDevice","DevEUI":"%EUI%"})", 0},
        {"Upd_Mirel adds a channel, Del_Mirel", {lock, holdMaster}, {holdChannels, addedMeter("%MASTER%", "NULL")},
         R"({"CMD":"Del_Mirel","Id":"%MASTER%"})", 0},
        {"Upd_Mirel rewrites a meter, Del_Device of it", {lock, holdMaster, holdChannels},
         {R"(UPDATE "DeviceTable" SET "ZavNum"='changed' WHERE "Id"=%METER%)"}, R"({"CMD":"Del_Device","Id":"%METER%"})", 0},
        {"Upd_LoRaDevice takes a meter, Upd_Mirel names it",
         {lock, R"(INSERT INTO "ConcTable" ("Deveui", "DeviceId", "Channel") VALUES ('%EUI%', %STANDALONE%, 9))",
          R"(UPDATE "DeviceTable" SET "ConnectType"=2 WHERE "Id"=%STANDALONE%)"},
         {},
         R"({"CMD":"Upd_Mirel","id":%MASTER%,"manId":"MRL","identNum":%IDENT%,"ver":1,"devType":25,"modelId":%MODEL%,
             "channels":[{"channel":5,"deviceId":%STANDALONE%,"manId":"ABC","identNum":%STANDALONENUM%,"ver":1,"devType":7,
                          "modelId":%MODEL%,"objId":%OBJECT%,"titleId":5,"edId":10,"impW":1,"startVal":0}]})",
         151},
        {"Upd_Mirel installs a meter, Del_Object of the object",
         {lock, R"(SELECT 1 FROM "ObjectTable" WHERE "Id"=%SPARE% FOR KEY SHARE)",
          R"(UPDATE "InstallTable" SET "ObjectId"=%SPARE% WHERE "DeviceId"=%METER%)"},
         {}, R"({"CMD":"Del_Object","ObjectId":"%SPARE%"})", 204},
    };
    int round = 0;
    for (const auto& race : races) {
        SCOPED_TRACE(race.name);
        const int base = 1000 * ++round;
        QJsonObject concentrator = mirel(1, base);
        concentrator.insert("identNum", base + 999);
        ASSERT_CODE(send(waterOperator, "Add_Mirel", concentrator), 0);
        QJsonObject device = lora({meterOn(1, base + 1, 0)}, flat);
        device.insert("DevEUI", QStringLiteral("E%1").arg(base));
        ASSERT_CODE(send(waterOperator, "Add_LoRaDevice", device), 0);
        const QMap<QString, QString> names{
            {"%MASTER%", value(QStringLiteral(R"(SELECT "Id" FROM "DeviceTable" WHERE "IdentNum"=%1)").arg(base + 999))},
            {"%METER%", value(QStringLiteral(R"(SELECT "Id" FROM "DeviceTable" WHERE "IdentNum"=%1)").arg(base))},
            {"%EUI%", QStringLiteral("E%1").arg(base)},
            {"%STANDALONE%", QString::number(installedDevice(modelId, flat, base + 2))},
            {"%STANDALONENUM%", QString::number(base + 2)},
            {"%SPARE%", QString::number(object(house, QStringLiteral("round %1").arg(round)))},
            {"%IDENT%", QString::number(base + 3)},
            {"%MODEL%", QString::number(modelId)},
            {"%OBJECT%", QString::number(flat)}};
        const auto named = [&names](QString text) {
            for (auto it = names.cbegin(); it != names.cend(); ++it) {
                text.replace(it.key(), it.value());
            }
            return text;
        };
        db->connection().transaction();
        for (const QString& sql : race.held) {
            db->exec(named(sql));
        }
        const QStringList logsBefore = cgi->logFiles();
        QJsonObject body = QJsonDocument::fromJson(named(race.body).toUtf8()).object();
        body.insert("Auth", waterOperator);
        QProcess* process = cgi->startJson(body);
        const bool waited = !process->waitForFinished(500);
        for (const QString& sql : race.then) {
            db->exec(named(sql));
        }
        db->connection().commit();
        const CgiResult r = cgi->finish(process, logsBefore);
        EXPECT_TRUE(waited) << "the request did not wait for the change";
        EXPECT_CODE(r, race.code);
        EXPECT_EQ(count(kBrokenGroups), 0);
    }
}

// A meter belongs to one group: a change names another group's meter, a master or one meter
// twice only to be refused, and a "deviceId" is read by the integer rule, never dropped.
TEST_F(Groups, AMeterOnAnotherGroupIsRefused)
{
    ASSERT_CODE(send(waterOperator, "Add_Mirel", mirel(1, 100)), 0);
    QJsonObject second = mirel(1, 200);
    second.insert("identNum", 2);
    ASSERT_CODE(send(waterOperator, "Add_Mirel", second), 0);
    ASSERT_CODE(send(waterOperator, "Add_LoRaDevice", lora({meterOn(1, 11, 0)}, flat)), 0);
    const auto idOf = [this](int identNum) {
        return count(QStringLiteral(R"(SELECT "Id" FROM "DeviceTable" WHERE "IdentNum"=%1)").arg(identNum));
    };
    const qint64 master = idOf(1);
    const auto named = [this](int channel, int identNum, const QJsonValue& deviceId) {
        QJsonObject element = meterOn(channel, identNum, flat);
        element.insert("deviceId", deviceId);
        return element;
    };
    const auto change = [&](const QJsonArray& channels) {
        QJsonObject content = mirel(0);
        content.insert("id", master);
        content.insert("channels", channels);
        return content;
    };
    const QJsonObject own = named(0, 100, idOf(100));
    QJsonObject masterAsMeter = named(5, 2, idOf(2));
    masterAsMeter.insert("manId", "MRL");
    masterAsMeter.insert("devType", 25);
    QJsonObject takenByLora = lora({meterOn(1, 200, 0)}, flat);
    takenByLora.insert("DevEUI", "BEEF");
    QJsonObject copied = mirel(0);
    copied.insert("identNum", 3);
    copied.insert("channels", QJsonArray{named(0, 11, idOf(11))});
    QJsonObject malformed = mirel(0);
    malformed.insert("identNum", 4);
    malformed.insert("channels", QJsonArray{named(0, 400, "4x")});
    const struct {
        const char* command;
        QJsonObject content;
        int code;
        bool global = false; // a company account meets 246 first: no master is installed anywhere
    } cases[] = {
        {"Upd_Mirel", change({own, named(5, 11, idOf(11))}), 151},              // a LoRa device's meter
        {"Upd_Mirel", change({own, named(5, 200, idOf(200))}), 151},            // another concentrator's
        {"Upd_Mirel", change({own, masterAsMeter}), 151, true},                 // another concentrator itself
        {"Upd_Mirel", change({own, named(5, 555, master)}), 151, true},         // this concentrator itself
        {"Upd_Mirel", change({own, masterAsMeter}), 246},
        {"Upd_Mirel", change({own, named(5, 556, idOf(100))}), 151},            // one meter on two channels
        {"Upd_Mirel", change({named(0, 100, "abc")}), 240},
        {"Upd_Mirel", change({named(0, 100, -1)}), 240},
        {"Upd_Mirel", change({named(0, 100, 1.5)}), 240},
        {"Add_Mirel", copied, 151},
        {"Add_Mirel", malformed, 240},
        {"Add_LoRaDevice", takenByLora, 151},
        {"Upd_LoRaDevice", QJsonObject{{"DevEUI", "70B3D5E75E003AB1"}, {"Channels", QJsonArray{meterOn(1, 100, flat, "objectId")}}}, 151},
        {"Upd_LoRaDevice", QJsonObject{{"DevEUI", "70B3D5E75E003AB1"},
                                       {"Channels", QJsonArray{meterOn(1, 11, flat, "objectId"), meterOn(2, 200, flat, "objectId")}}}, 151},
    };
    const QString before = tables() + value(R"(SELECT string_agg("DeviceId" || ':' || "Channel", ',' ORDER BY "Id") FROM "ConcTable")");
    for (const auto& c : cases) {
        EXPECT_CODE(send(c.global ? adminToken() : waterOperator, c.command, c.content), c.code)
            << c.command << " " << qPrintable(QJsonDocument(c.content).toJson(QJsonDocument::Compact));
    }
    EXPECT_EQ(tables() + value(R"(SELECT string_agg("DeviceId" || ':' || "Channel", ',' ORDER BY "Id") FROM "ConcTable")"), before);

    // The meter's id as text names the meter; a standalone meter may join.
    const qint64 standalone = installedDevice(modelId, flat, 777);
    ASSERT_CODE(send(waterOperator, "Upd_Mirel",
                     change({named(0, 100, QString::number(idOf(100))), named(1, 777, QString::number(standalone))})),
                0);
    EXPECT_EQ(value(QStringLiteral(R"(SELECT string_agg("DeviceId" || ':' || "Channel", ',' ORDER BY "Channel") FROM "ConcTable" WHERE "MasterId"=%1)").arg(master)),
              QStringLiteral("%1:0,%2:1").arg(idOf(100)).arg(standalone));
    ASSERT_CODE(call(waterOperator, "Del_LoRaDevice", {{"DevEUI", "70B3D5E75E003AB1"}}), 0);
    ASSERT_CODE(callAsAdmin("Del_Device", {{"Id", QString::number(idOf(2))}}), 0); // the other concentrator
    EXPECT_EQ(count(kBrokenGroups), 0);
    EXPECT_EQ(call(waterOperator, "Get_MirelTable", {{"AddressId", QString::number(house)}}).data().size(), 1);
}
