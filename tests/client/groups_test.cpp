// Concentrators and LoRa devices with their channel meters: the three tables after every
// change, after a failure half-way, and for callers of two companies.
#include "client/clientfixture.h"

#include "db/lockedwrite.h"

#include <QJsonDocument>
#include <QProcess>

using namespace testing_support;

namespace {

const char kEui[] = "70B3D5E75E003AB1";

class Groups : public WaterHouse {
protected:
    void SetUp() override
    {
        WaterHouse::SetUp();
        cellar = object(house, "подвал");
        heatOperator = createUser("hop", 130, heat);
    }
    CgiResult send(const QString& token, const char* command, QJsonObject content)
    {
        content.insert("CMD", command);
        content.insert("Auth", token);
        return cgi->postJson(content);
    }
    // Water's operator sends a body while the test's own connection holds a transaction in
    // which `held` ran; `then` runs while the request waits, and the transaction commits.
    CgiResult sendWhileHeld(QJsonObject body, const QStringList& held, const QStringList& then,
                            bool* waited)
    {
        db->connection().transaction();
        for (const QString& sql : held) {
            db->exec(sql);
        }
        const QStringList logsBefore = cgi->logFiles();
        body.insert("Auth", waterOperator);
        QProcess* process = cgi->startJson(body);
        *waited = !process->waitForFinished(500);
        for (const QString& sql : then) {
            db->exec(sql);
        }
        db->connection().commit();
        return cgi->finish(process, logsBefore);
    }
    QJsonObject meterOn(int channel, int identNum, qint64 objectId, const char* objectKey = "objId") const
    {
        return {{"channel", channel}, {"manId", "abc"}, {"identNum", identNum}, {"ver", 1}, {"devType", 7}, {"modelId", modelId},
                {"zavNum", QStringLiteral("Z%1").arg(identNum)}, {objectKey, objectId}, {"dateInstall", "2021-01-01"},
                {"titleId", 5}, {"edId", 10}, {"impW", 0.01}, {"startVal", 0}, {"enabled", true}};
    }
    // A meter at the flat that names the device it is.
    QJsonObject meterOf(int channel, int identNum, const QJsonValue& deviceId) const
    {
        QJsonObject meter = meterOn(channel, identNum, flat);
        meter.insert("deviceId", deviceId);
        return meter;
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
    // The concentrator `master` changed to hold these channels.
    QJsonObject change(qint64 master, const QJsonArray& channels) const
    {
        QJsonObject content = mirel(0);
        content.insert("id", master);
        content.insert("channels", channels);
        return content;
    }
    static QJsonObject plus(QJsonObject content, const QJsonObject& meter)
    {
        QJsonArray channels = content.value("channels").toArray();
        channels.append(meter);
        content.insert("channels", channels);
        return content;
    }
    static QJsonObject lora(const QJsonArray& channels, qint64 objectId, const QString& eui = kEui)
    {
        return {{"DevEUI", eui}, {"ObjectId", objectId}, {"Channels", channels}};
    }
    qint64 count(const QString& sql) { return db->count(sql); }
    qint64 idOf(int identNum)
    {
        return countFor(R"(SELECT "Id" FROM "DeviceTable" WHERE "IdentNum"=%1)", identNum);
    }
    // "channel:identNum" of the channels that match, in the order of the channels.
    QString channelsWhere(const QString& condition)
    {
        return value(QStringLiteral(R"(SELECT string_agg(c."Channel" || ':' || d."IdentNum", ','
            ORDER BY c."Channel") FROM "ConcTable" c, "DeviceTable" d WHERE d."Id"=c."DeviceId" AND %1)")
                         .arg(condition));
    }
    QString channelsOf(qint64 master) { return channelsWhere(QStringLiteral(R"(c."MasterId"=%1)").arg(master)); }
    // "ObjectId:Actual" of a device's installations, oldest first.
    QString installs(qint64 device)
    {
        return valueFor(R"(SELECT string_agg("ObjectId" || ':' || "Actual", ',' ORDER BY "Id")
                           FROM "InstallTable" WHERE "DeviceId"=%1)", device);
    }
    QString tables()
    {
        return value(R"(SELECT (SELECT count(*) FROM "DeviceTable") || '/' || (SELECT count(*) FROM "InstallTable") || '/' ||
                        (SELECT count(*) FROM "ConcTable"))");
    }

    qint64 cellar = 0;
    QString heatOperator;
};

TEST_F(Groups, AConcentratorWithElevenChannelsFromAddToDelete)
{
    ASSERT_CODE(send(waterOperator, "Add_Mirel", mirel(11)), 0);
    const qint64 master = idOf(1);
    EXPECT_EQ(tables(), "12/11/11");
    // Every meter installed, on a channel of the concentrator and of no LoRa device.
    EXPECT_EQ(value(R"(SELECT string_agg(DISTINCT concat_ws('|', d."ConnectType", d."ManId", m."ConnectType",
        c."Deveui" IS NULL, i."Actual", i."DateInstall"), ',') FROM "ConcTable" c, "DeviceTable" d,
        "DeviceTable" m, "InstallTable" i WHERE d."Id"=c."DeviceId" AND m."Id"=c."MasterId" AND i."DeviceId"=d."Id")"),
              "2|ABC|1|t|1|2021-01-01");
    EXPECT_EQ(value(R"(SELECT "JsonData"::jsonb::text FROM "ConcTable" WHERE "Channel"=3)"),
              R"({"imp": [{"edId": 10, "impW": 0.01, "titleId": 5, "startVal": 0, )"
              R"("postfixNum": 0}]})");

    const CgiResult list = call(createUser("wuser", 131, water), "Get_MirelTable", {{"AddressId", id(house)}});
    ASSERT_CODE(list, 0);
    ASSERT_EQ(list.data().size(), 1);
    EXPECT_EQ(list.row()["status"].toString(), QStringLiteral("Действующее устройство"));
    const QJsonArray channels = list.row()["channels"].toArray();
    ASSERT_EQ(channels.size(), 11);
    EXPECT_EQ(channels.at(0)["addressName"].toString(), QStringLiteral("Ленина 1"));
    EXPECT_TRUE(call(heatOperator, "Get_MirelTable", {{"AddressId", id(house)}}).data().isEmpty());

    // Keep channels 0 to 3 (channel 0's meter moves to the cellar, channel 3's to channel 21),
    // give channel 4 a new meter and drop channels 5 to 10: the meters no channel holds any
    // more stand alone, the one that changed channels does not.
    QJsonArray kept{meterOn(4, 500, flat)};
    for (int channel = 0; channel < 4; ++channel) {
        QJsonObject meter =
            meterOn(channel == 3 ? 21 : channel, 100 + channel, channel == 0 ? cellar : flat);
        meter.insert("deviceId", channels.at(channel)["deviceId"]);
        kept.append(meter);
    }
    ASSERT_CODE(send(waterOperator, "Upd_Mirel", change(master, kept)), 0);
    EXPECT_EQ(channelsOf(master), "0:100,1:101,2:102,4:500,21:103");
    EXPECT_EQ(value(R"(SELECT string_agg("IdentNum"::text, ',' ORDER BY "IdentNum")
                       FROM "DeviceTable" WHERE "ConnectType"=0 AND "ManId"='ABC')"),
              "104,105,106,107,108,109,110");
    const qint64 moved = idOf(100);
    EXPECT_EQ(installs(moved), QStringLiteral("%1:0,%2:1").arg(flat).arg(cellar));

    EXPECT_CODE(call(heatOperator, "Del_Mirel", {{"Id", id(master)}}), 246);
    // The id of an ordinary meter names no concentrator: nothing is deleted.
    ASSERT_CODE(callAsAdmin("Del_Mirel", {{"Id", id(moved)}}), 0);
    EXPECT_EQ(idOf(100), moved);
    ASSERT_CODE(call(waterOperator, "Del_Mirel", {{"Id", id(master)}}), 0);
    EXPECT_EQ(tables(), "12/13/0"); // the meters stay, standalone
    EXPECT_EQ(count(R"(SELECT count(*) FROM "DeviceTable" WHERE "ConnectType"<>0)"), 0);
}

TEST_F(Groups, AFailureHalfWayWritesNothing)
{
    // A statement that fails after several were written takes them all back.
    const QString before = tables();
    db->exec(QStringLiteral(R"(CREATE FUNCTION refuse() RETURNS trigger LANGUAGE plpgsql AS $$BEGIN
        IF NEW."ObjectId" = %1 THEN RAISE EXCEPTION 'refused'; END IF; RETURN NEW; END$$)").arg(cellar));
    db->exec(R"(CREATE TRIGGER refuse BEFORE INSERT ON "InstallTable" FOR EACH ROW EXECUTE FUNCTION refuse())");
    EXPECT_CODE(send(waterOperator, "Add_Mirel", plus(mirel(3, 200), meterOn(7, 300, cellar))), 132);
    EXPECT_EQ(tables(), before);
}

TEST_F(Groups, ContentThatIsRefused)
{
    const QJsonValue absent(QJsonValue::Undefined);
    const auto set = [](QJsonObject object, const char* key, const QJsonValue& value) {
        if (value.isUndefined()) {
            object.remove(key);
        } else {
            object.insert(key, value);
        }
        return object;
    };
    const auto with = [&](const char* key, const QJsonValue& value) {
        return set(mirel(1), key, value);
    };
    const auto channel = [&](const char* key, const QJsonValue& value) {
        return change(0, {set(meterOn(0, 7, flat), key, value)});
    };
    // A group lists at most 1024 channel elements; elements that describe no meter count too.
    const auto padded = [&](int elements) {
        QJsonArray channels{meterOn(1, 9, flat)};
        while (channels.size() < elements) {
            channels.append(QJsonObject());
        }
        return with("channels", channels);
    };
    const struct {
        QJsonObject content;
        int code;
    } cases[] = {
        {with("manId", absent), 99},
        {with("identNum", absent), 100},
        {with("ver", absent), 102},
        {with("devType", absent), 101},
        {QJsonObject(), 176},
        {with("identNum", 100000000), 15},
        {with("ver", 256), 17},
        {with("channels", QJsonArray{QJsonObject{{"channel", 1}, {"titleId", 5}}}), 316},
        {with("channels", QJsonArray{meterOn(1, 7, flat), meterOn(1, 8, flat)}), 176}, // one channel twice
        {padded(1024), 0},
        {padded(1025), 176},
        {channel("channel", 32768), 176}, // beyond the column: refused before any statement
        {channel("zavNum", QString(21, QChar(0x044F))), 329},
        {channel("identNum", 99999999), 0},
        {channel("objId", static_cast<double>(heatFlat)), 190},
        {channel("titleId", -1), 317},
        {channel("edId", absent), 318},
        {channel("impW", -0.5), 319},
        {channel("startVal", absent), 320},
        {channel("startVal", -99999998), 0},
    };
    int identNum = 1000;
    for (const auto& c : cases) {
        QJsonObject content = c.content;
        if (content.value("identNum").toInt() == 1) {
            content.insert("identNum", identNum++); // every concentrator its own identity
        }
        EXPECT_CODE(send(waterOperator, "Add_Mirel", content), c.code)
            << qPrintable(QJsonDocument(content).toJson(QJsonDocument::Compact));
    }
    EXPECT_CODE(send(createUser("wuser", 131, water), "Add_Mirel", mirel(1)), 143);
}

TEST_F(Groups, ALoRaDeviceWithItsHubFromAddToDelete)
{
    QJsonObject off = meterOn(3, 13, 0);
    off.insert("enabled", false);
    QJsonObject content =
        lora({meterOn(1, 11, 0), meterOn(2, 12, 0), off}, flat, "70b3d5e75e003ab1");
    content.insert("Hub", QJsonObject{{"manId", "HUB"}, {"identNum", 9}, {"ver", 1}, {"devType", 54}, {"modelId", modelId}});
    ASSERT_CODE(send(waterOperator, "Add_LoRaDevice", content), 0);
    EXPECT_EQ(tables(), "3/2/2");
    EXPECT_EQ(channelsWhere(QStringLiteral(R"(c."Deveui"='%1' AND c."MasterId"=%2)").arg(kEui).arg(idOf(9))),
              "1:11,2:12");

    // A concentrator's meters at the same house are no LoRa device.
    ASSERT_CODE(send(waterOperator, "Add_Mirel", mirel(2)), 0);
    EXPECT_EQ(call(waterOperator, "Get_LoRaTable", {{"AddressId", id(house)}}).data().size(), 1);
    const CgiResult table = call(waterOperator, "Get_LoRaTable", {{"AddressId", id(house)}, {"DevEUI", "5e00"}});
    ASSERT_EQ(table.data().size(), 1);
    EXPECT_EQ(table.row()["devEUI"].toString(), kEui);
    EXPECT_EQ(table.row().value("MasterId")["manId"].toString(), "HUB");
    EXPECT_EQ(table.row().value("channels")[0]["install"].toString(), "2021-01-01\n1");
    const CgiResult device = call(waterOperator, "Get_LoRaDevice", {{"DevEUI", kEui}});
    EXPECT_EQ(device.row().value("channels")[1]["data"]["imp"].toArray().size(), 1);
    EXPECT_CODE(call(heatOperator, "Get_LoRaDevice", {{"DevEUI", kEui}}), 246);

    // Rename it, move channel 2's meter to the cellar, drop channel 1, add channel 4.
    const QString renamed = "70B3D5E75E003AB2";
    QJsonObject change = lora({meterOn(2, 12, cellar, "objectId"), meterOn(4, 14, flat, "objectId")}, 0,
                              "70b3d5e75e003ab1");
    change.remove("ObjectId");
    change.insert("NewDevEUI", renamed);
    EXPECT_CODE(send(heatOperator, "Upd_LoRaDevice", change), 246);
    ASSERT_CODE(send(waterOperator, "Upd_LoRaDevice", change), 0);
    EXPECT_EQ(channelsWhere(QStringLiteral(R"(c."Deveui"='%1')").arg(renamed)), "2:12,4:14");
    EXPECT_EQ(count(R"(SELECT count(*) FROM "DeviceTable" WHERE "IdentNum"=11 AND "ConnectType"=0)"), 1);
    EXPECT_EQ(installs(idOf(12)), QStringLiteral("%1:0,%2:1").arg(flat).arg(cellar));

    EXPECT_CODE(call(heatOperator, "Del_LoRaDevice", {{"DevEUI", renamed}}), 246);
    ASSERT_CODE(call(waterOperator, "Del_LoRaDevice", {{"DevEUI", renamed}}), 0);
    EXPECT_EQ(count(R"(SELECT count(*) FROM "ConcTable" WHERE "Deveui" IS NOT NULL)"), 0);
    EXPECT_EQ(value(R"(SELECT string_agg("IdentNum"::text, ',') FROM "DeviceTable" WHERE "IdentNum" IN (9, 11, 12, 14))"), "11");
}

TEST_F(Groups, LoRaContentThatIsRefused)
{
    ASSERT_CODE(send(waterOperator, "Add_LoRaDevice", lora({meterOn(1, 11, 0)}, flat)), 0);
    const auto noted = [this](const QString& note) {
        QJsonObject element = meterOn(1, 21, 0);
        element.insert("note", note);
        return lora({element}, flat, "AB");
    };
    QJsonObject noObject = lora({meterOn(1, 22, 0)}, flat);
    noObject.remove("ObjectId");
    const struct {
        QJsonObject content;
        int code;
        QString named; // the parameter the answer's text names
    } cases[] = {{lora({meterOn(1, 25, 0)}, flat), 151}, // the DevEUI is taken
                 {noObject, 145},
                 {lora({meterOn(1, 26, 0)}, 0), 216, "ObjectId"},
                 {lora({meterOn(1, 23, 0)}, flat, "70B3D5E75E003AB10"), 216, "DevEUI"},
                 {lora({meterOn(1, 24, 0)}, flat, "70'B3"), 216, "DevEUI"},
                 {noted("a;b"), 327},
                 {noted("a--b"), 327},
                 {lora({meterOn(1, 11, 0)}, flat), 151}, // another device's identity
                 {lora({QJsonObject{{"channel", 1}, {"enabled", false}}}, flat), 316},
                 {lora({meterOn(1, 27, 0)}, heatFlat, "C0FFEE"), 190}};
    for (const auto& c : cases) {
        const CgiResult r = send(waterOperator, "Add_LoRaDevice", c.content);
        EXPECT_CODE(r, c.code) << qPrintable(QJsonDocument(c.content).toJson(QJsonDocument::Compact));
        EXPECT_EQ(r.text().contains(QStringLiteral("параметра ") + c.named + QLatin1Char('.')), !c.named.isEmpty()) << qPrintable(r.text());
    }
    EXPECT_EQ(tables(), "1/1/1");
    ASSERT_CODE(send(waterOperator, "Add_LoRaDevice", lora({meterOn(1, 31, 0)}, flat, "BEEF")), 0);
    QJsonObject renamed = lora({meterOn(1, 31, flat, "objectId")}, 0, "BEEF");
    renamed.insert("NewDevEUI", kEui);
    EXPECT_CODE(send(waterOperator, "Upd_LoRaDevice", renamed), 151);
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
    const auto heatRow = [&] {
        return valueFor(R"(SELECT row("ZavNum", "ConnectType")::text || (SELECT string_agg(row("ObjectId",
            "Actual")::text, ';') FROM "InstallTable" WHERE "DeviceId"=%1) FROM "DeviceTable" WHERE "Id"=%1)",
                        heatDevice);
    };
    const QString heatBefore = heatRow();
    ASSERT_CODE(send(waterOperator, "Add_LoRaDevice", lora({meterOn(1, 11, 0)}, flat)), 0);
    QJsonObject takeover = meterOn(2, 12, flat, "objectId");
    takeover.insert("deviceId", heatDevice);
    QJsonObject change = lora({meterOn(1, 11, flat, "objectId"), takeover}, 0);
    change.remove("ObjectId");
    ASSERT_CODE(send(waterOperator, "Upd_LoRaDevice", change), 0);
    EXPECT_EQ(heatRow(), heatBefore);
    EXPECT_EQ(channelsWhere(QStringLiteral(R"(c."Deveui"='%1')").arg(kEui)), "1:11,2:12");

    EXPECT_CODE(send(waterOperator, "Add_Mirel", plus(mirel(1), meterOf(1, 777, heatDevice))), 151);
    EXPECT_EQ(count(R"(SELECT count(*) FROM "DeviceTable" WHERE "IdentNum"=777)"), 1);
}

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

// A group change holds the lock of device identities, its rows and half its writes while
// another request deletes the group, a meter on it or an object it installs into, or registers
// a meter it took: the other request waits for the lock, then sees every row the change wrote,
// and neither deadlocks.
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
        {"Upd_LoRaDevice adds a meter, Add_LoRaDevice of its identity",
         {lock, addedMeter("NULL", "'%EUI%'")}, {},
         R"({"CMD":"Add_LoRaDevice","DevEUI":"BEEF","ObjectId":%OBJECT%,"Channels":[{"channel":1,
             "manId":"ABC","identNum":%IDENT%,"ver":1,"devType":7,"modelId":%MODEL%,"titleId":5,
             "edId":10,"impW":1,"startVal":0,"enabled":true}]})",
         151},
    };
    int round = 0;
    for (const auto& race : races) {
        SCOPED_TRACE(race.name);
        const int base = 1000 * ++round;
        QJsonObject concentrator = mirel(1, base);
        concentrator.insert("identNum", base + 999);
        ASSERT_CODE(send(waterOperator, "Add_Mirel", concentrator), 0);
        const QString eui = QStringLiteral("E%1").arg(base);
        ASSERT_CODE(send(waterOperator, "Add_LoRaDevice", lora({meterOn(1, base + 1, 0)}, flat, eui)), 0);
        const QMap<QString, QString> names{{"%MASTER%", id(idOf(base + 999))},
                                           {"%METER%", id(idOf(base))},
                                           {"%EUI%", eui},
                                           {"%STANDALONE%", id(installedDevice(modelId, flat, base + 2))},
                                           {"%STANDALONENUM%", id(base + 2)},
                                           {"%SPARE%", id(object(house, QStringLiteral("round %1").arg(round)))},
                                           {"%IDENT%", id(base + 3)},
                                           {"%MODEL%", id(modelId)},
                                           {"%OBJECT%", id(flat)}};
        const auto named = [&names](QStringList texts) {
            for (QString& text : texts) {
                for (auto it = names.cbegin(); it != names.cend(); ++it) {
                    text.replace(it.key(), it.value());
                }
            }
            return texts;
        };
        const QByteArray body = named({race.body}).at(0).toUtf8();
        bool waited = false;
        const CgiResult r = sendWhileHeld(QJsonDocument::fromJson(body).object(), named(race.held),
                                          named(race.then), &waited);
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
    QJsonObject second = mirel(2, 200);
    second.insert("identNum", 2);
    ASSERT_CODE(send(waterOperator, "Add_Mirel", second), 0);
    EXPECT_EQ(call(waterOperator, "Get_MirelTable", {{"AddressId", id(house)}}).data().size(), 2);
    ASSERT_CODE(send(waterOperator, "Add_LoRaDevice", lora({meterOn(1, 11, 0)}, flat)), 0);
    const qint64 master = idOf(1);
    const QJsonObject own = meterOf(0, 100, idOf(100));
    QJsonObject masterAsMeter = meterOf(5, 2, idOf(2));
    masterAsMeter.insert("manId", "MRL");
    masterAsMeter.insert("devType", 25);
    QJsonObject malformed = change(0, {meterOf(0, 400, "4x")});
    malformed.insert("identNum", 4);
    QJsonObject loraChange = lora({meterOn(1, 100, flat, "objectId")}, 0);
    loraChange.remove("ObjectId");
    const struct {
        const char* command;
        QJsonObject content;
        int code;
        bool global = false; // a company account meets 246 first: no master is installed anywhere
    } cases[] = {
        {"Upd_Mirel", change(master, {own, meterOf(5, 11, idOf(11))}), 151},   // a LoRa device's meter
        {"Upd_Mirel", change(master, {own, meterOf(5, 200, idOf(200))}), 151}, // another concentrator's
        {"Upd_Mirel", change(master, {own, masterAsMeter}), 151, true},        // another concentrator itself
        {"Upd_Mirel", change(master, {own, meterOf(5, 555, master)}), 151, true}, // this concentrator itself
        {"Upd_Mirel", change(master, {own, masterAsMeter}), 246},
        {"Upd_Mirel", change(master, {own, meterOf(5, 556, idOf(100))}), 151}, // one meter on two channels
        {"Upd_Mirel", change(master, {meterOf(0, 100, "abc")}), 240},
        {"Upd_Mirel", change(master, {meterOf(0, 100, -1)}), 240},
        {"Add_Mirel", malformed, 240},
        {"Add_LoRaDevice", lora({meterOn(1, 200, 0)}, flat, "BEEF"), 151},
        {"Upd_LoRaDevice", loraChange, 151},
    };
    const QString before = tables() + channelsWhere("TRUE");
    for (const auto& c : cases) {
        EXPECT_CODE(send(c.global ? adminToken() : waterOperator, c.command, c.content), c.code)
            << c.command << " " << qPrintable(QJsonDocument(c.content).toJson(QJsonDocument::Compact));
    }
    EXPECT_EQ(tables() + channelsWhere("TRUE"), before);

    // The meter's id as text names the meter; a standalone meter may join.
    const qint64 standalone = installedDevice(modelId, flat, 777);
    ASSERT_CODE(send(waterOperator, "Upd_Mirel",
                     change(master, {meterOf(0, 100, id(idOf(100))), meterOf(1, 777, id(standalone))})),
                0);
    EXPECT_EQ(channelsOf(master), "0:100,1:777");
    ASSERT_CODE(call(waterOperator, "Del_LoRaDevice", {{"DevEUI", kEui}}), 0);
    ASSERT_CODE(callAsAdmin("Del_Device", {{"Id", id(idOf(2))}}), 0); // the other concentrator
    EXPECT_EQ(count(kBrokenGroups), 0);
    EXPECT_EQ(call(waterOperator, "Get_MirelTable", {{"AddressId", id(house)}}).data().size(), 1);
}

} // namespace
