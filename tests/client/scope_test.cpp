// Company scope and rights: every command that names a record refuses another company's,
// leaving the tables as they were, and a reference and a deletion of one record exclude each other.
#include "support/pgfixture.h"

using namespace testing_support;

namespace {

// Water, Heat and no company, each with an address, an object, an abonent living there, a
// personal account, a device with its task queue and an account of its own.
class Scope : public TwoCompanies {
public:
    struct Premises {
        QString company, address, object, abonent, account, device, user;
        int ident = 0;
    };

    // The fixture's helpers, for the tables of cases below.
    using DbTest::address;
    using DbTest::createCompany;
    using DbTest::insertId;
    using DbTest::installedDevice;
    using DbTest::model;
    using DbTest::objectOf;
    using TwoCompanies::water;

    void SetUp() override
    {
        TwoCompanies::SetUp();
        modelId = model(2);
        w = premisesOf(water, 1);
        h = premisesOf(heat, 2);
        n = premisesOf(0, 3);
    }

    Premises premisesOf(qint64 company, int identNum)
    {
        Premises p;
        const qint64 addressId = address(QStringLiteral("a%1").arg(identNum), company);
        const qint64 objectId = object(addressId);
        p.company = QString::number(company);
        p.ident = identNum;
        p.address = QString::number(addressId);
        p.object = QString::number(objectId);
        p.abonent = QString::number(abonentAt(objectId));
        p.account = QString::number(insertId(QStringLiteral(R"(INSERT INTO "LicAccountTable" ("ObjectId", "ResCode", "Name") VALUES (%1, 2, 'L') RETURNING "Id")").arg(objectId)));
        p.device = QString::number(installedDevice(modelId, objectId, identNum));
        db->exec(QStringLiteral(R"(INSERT INTO "TaskTable" ("DeviceId", "JsonTask") VALUES (%1, '[{"id":1,"dateStart":"2026-01-01 00:00:00","flags":1}]'))").arg(p.device));
        createUser(QStringLiteral("staff%1").arg(identNum), 131, company);
        p.user = QString::number(userId(QStringLiteral("staff%1").arg(identNum)));
        return p;
    }

    QString deviceData(const QString& objectId, int identNum = 77) const
    {
        return json({QJsonObject{{"devType", 7}, {"manId", "ABC"}, {"identNum", identNum}, {"ver", 1},
                                 {"modelId", modelId}, {"objectId", objectId.toLongLong()}, {"dateInstall", "2020-01-01"}}});
    }

    qint64 modelId = 0;
    Premises w; // Water's
    Premises h; // Heat's
    Premises n; // of no company
};

// One command, by a company-bound caller, on another company's record (or linking his own to
// it): the code an administrator or operator meets; a company user, who may change nothing,
// meets 143 on every change.
using Premises = Scope::Premises;
struct Attempt {
    const char* command;
    std::function<Params(const Premises& own, const Premises& other)> params;
    int code;
    bool change;
};

struct Caller {
    const char* name;
    int type;
    bool withCompany;
};

void PrintTo(const Caller& caller, std::ostream* os)
{
    *os << caller.name;
}

class ScopeMatrix : public Scope, public ::testing::WithParamInterface<Caller> {
protected:
    QList<Attempt> attempts() const
    {
        const auto abonentTo = [](const QString& object) {
            return json({QJsonObject{{"objectId", object.toLongLong()}, {"name", "n"}, {"login", "l"}, {"pas", "p"}}});
        };
        const auto accountTo = [](const QString& object) {
            return json({QJsonObject{{"objectId", object.toLongLong()}, {"resCode", 2}, {"name", "L2"}}});
        };
        const auto device = [this](const QString& object, int identNum) { return deviceData(object, identNum); };
        const Params addressFields{{"Name", "x"}, {"TimeShift", "0"}};
        const Params objectFields{{"Obj", "x"}, {"ObjType", "1"}};
        return {
            {"Upd_User", [](auto&, auto& o) { return Params{{"UserId", o.user}, {"Status", "2"}}; }, 143, true},
            {"Del_User", [](auto&, auto& o) { return Params{{"UserId", o.user}}; }, 143, true},
            {"Upd_Company", [](auto&, auto& o) { return Params{{"Id", o.company}, {"Name", "x"}}; }, 143, true},
            {"Del_Company", [](auto&, auto& o) { return Params{{"Id", o.company}}; }, 143, true},
            {"Upd_Address", [=](auto&, auto& o) { return Params{{"AddressId", o.address}} + addressFields; }, 217, true},
            {"Del_Address", [](auto&, auto& o) { return Params{{"AddressId", o.address}}; }, 217, true},
            {"Get_AddressInfo", [](auto&, auto& o) { return Params{{"ObjectId", o.object}}; }, 112, false},
            {"Add_Object", [](auto&, auto& o) { return Params{{"AddressId", o.address}, {"ObjType", "1"}}; }, 217, true},
            {"Upd_Object", [=](auto&, auto& o) { return Params{{"ObjectId", o.object}} + objectFields; }, 217, true},
            {"Del_Object", [](auto&, auto& o) { return Params{{"ObjectId", o.object}}; }, 217, true},
            {"Upd_Object", [=](auto& m, auto& o) { return Params{{"ObjectId", m.object}, {"AbonentId", o.abonent}} + objectFields; }, 144, true},
            {"Add_Object", [](auto& m, auto& o) { return Params{{"AddressId", m.address}, {"ObjType", "1"}, {"AbonentId", o.abonent}}; }, 144, true},
            {"Add_Abonents", [=](auto&, auto& o) { return Params{{"DATA", abonentTo(o.object)}}; }, 190, true},
            {"Upd_Abonent", [=](auto& m, auto& o) { return Params{{"AbonentId", o.abonent}, {"DATA", abonentTo(m.object)}}; }, 144, true},
            {"Upd_Abonent", [=](auto& m, auto& o) { return Params{{"AbonentId", m.abonent}, {"DATA", abonentTo(o.object)}}; }, 190, true},
            {"Del_Abonent", [](auto&, auto& o) { return Params{{"AbonentId", o.abonent}}; }, 190, true},
            {"Add_LicAccount", [=](auto&, auto& o) { return Params{{"DATA", accountTo(o.object)}}; }, 190, true},
            {"Upd_LicAccount", [=](auto& m, auto& o) { return Params{{"Id", o.account}, {"DATA", accountTo(m.object)}}; }, 235, true},
            {"Upd_LicAccount", [=](auto& m, auto& o) { return Params{{"Id", m.account}, {"DATA", accountTo(o.object)}}; }, 190, true},
            {"Del_LicAccount", [](auto&, auto& o) { return Params{{"Id", o.account}}; }, 235, true},
            {"Add_Devices", [=](auto&, auto& o) { return Params{{"DATA", device(o.object, 77)}}; }, 190, true},
            {"Upd_Device", [=](auto& m, auto& o) { return Params{{"DeviceId", o.device}, {"DATA", device(m.object, o.ident)}}; }, 190, true},
            {"Upd_Device", [=](auto& m, auto& o) { return Params{{"DeviceId", m.device}, {"DATA", device(o.object, m.ident)}}; }, 190, true},
            {"Del_Device", [](auto&, auto& o) { return Params{{"Id", o.device}}; }, 190, true},
            {"Add_Task", [](auto&, auto& o) { return Params{{"DeviceId", o.device}, {"CommandCode", "7"}, {"Value", "1"}}; }, 27, true},
            {"Get_TaskTable", [](auto&, auto& o) { return Params{{"DeviceId", o.device}}; }, 246, true},
            {"Del_Task", [](auto&, auto& o) { return Params{{"DeviceId", o.device}, {"TaskId", "1"}}; }, 246, true},
            {"Clear_Task", [](auto&, auto& o) { return Params{{"DeviceId", o.device}}; }, 246, true},
        };
    }
};

// Listings filtered on another company's record return nothing of it.
const char* const kListings[][2] = {{"Get_AddressTable", "AddressId"},     {"Get_CompanyAddresses", "AddressId"},
                                    {"Get_ObjectTable", "AddressId"},      {"Get_LicAccountTable", "AddressId"},
                                    {"Get_AbonentsTable", "Id"}};

TEST_P(ScopeMatrix, AnotherCompanysRecordsAreRefusedAndLeftAlone)
{
    const Caller caller = GetParam();
    // An account bound to no company owns the records of no company, and nothing else.
    const QString token = createUser("caller", caller.type, caller.withCompany ? water : 0);
    const Premises& own = caller.withCompany ? w : n;
    const QString before = snapshot();
    for (const Attempt& attempt : attempts()) {
        const bool rights = caller.type == 131 && attempt.change;
        const CgiResult r = call(token, attempt.command, attempt.params(own, h));
        EXPECT_CODE(r, rights ? 143 : attempt.code) << attempt.command;
        ASSERT_EQ(snapshot(), before) << attempt.command;
    }
    for (const auto& listing : kListings) {
        const QString id = QByteArray(listing[1]) == "Id" ? h.abonent : h.address;
        const CgiResult r = call(token, listing[0], {{listing[1], id}, {"CompanyId", QString::number(heat)}});
        EXPECT_CODE(r, 0) << listing[0];
        EXPECT_TRUE(r.data().isEmpty()) << listing[0] << qPrintable(r.describe());
    }
}

// Search shows a caller what the listing of the same records shows him, and refuses him where
// the listing does, even for what premises since gone leave behind: an abonent of no object and
// a device whose current installation names an object that is no more.
TEST_P(ScopeMatrix, SearchShowsNoMoreThanTheListings)
{
    const Caller caller = GetParam();
    insertId(R"(INSERT INTO "AbonentTable" ("Name", "Login", "Mail", "PasHash")
                VALUES ('Left', 'left', 'left@example.org', 'x') RETURNING "Id")");
    installedDevice(modelId, 999999, 9);
    const QString token = createUser("caller", caller.type, caller.withCompany ? water : 0);
    const struct {
        const char* type;
        const char* listing;
        Params params;
    } kinds[] = {{"0", "Get_Devices", {{"AddressId", (caller.withCompany ? w : n).address}}},
                 {"1", "Get_AddressTable", {}},
                 {"2", "Get_AbonentsTable", {}},
                 {"3", "Get_UsersTable", {}}};
    for (const auto& kind : kinds) {
        const CgiResult listed = call(token, kind.listing, kind.params);
        const CgiResult found = call(token, "Search", {{"Type", kind.type}});
        EXPECT_EQ(found.errorCode(), listed.errorCode()) << kind.listing;
        QStringList listedIds;
        QStringList foundIds;
        for (const QJsonValue& row : listed.data()) {
            listedIds << QString::number(row.toObject()["id"].toVariant().toLongLong());
        }
        for (int i = 1; i < found.data().size(); ++i) {
            foundIds << found.data().at(i).toArray().at(0).toString();
        }
        foundIds.removeDuplicates();
        listedIds.sort();
        foundIds.sort();
        EXPECT_EQ(foundIds, listedIds) << kind.listing;
    }
}

INSTANTIATE_TEST_SUITE_P(CompanyBoundTypes, ScopeMatrix,
                         ::testing::Values(Caller{"Administrator", 129, true}, Caller{"Operator", 130, true},
                                           Caller{"User", 131, true}, Caller{"AdministratorOfNoCompany", 129, false}),
                         [](const ::testing::TestParamInfo<Caller>& info) { return std::string(info.param.name); });

// A global caller acting for a company links nothing to another company's records.
TEST_F(Scope, GlobalCallersActingForACompanyStayInsideIt)
{
    const QString before = snapshot();
    const Params forWater{{"CompanyId", QString::number(water)}};
    const auto accountOn = [](const QString& object) {
        return json(
            {QJsonObject{{"objectId", object.toLongLong()}, {"resCode", 2}, {"name", "L"}}});
    };
    EXPECT_CODE(callAsAdmin("Add_LicAccount", forWater + Params{{"DATA", accountOn(h.object)}}),
                190);
    // Water's own records it changes as Water's accounts do (here to the values they hold).
    EXPECT_CODE(callAsAdmin("Upd_LicAccount",
                            forWater + Params{{"Id", w.account}, {"DATA", accountOn(w.object)}}),
                0);
    EXPECT_CODE(callAsAdmin("Add_Devices", forWater + Params{{"DATA", deviceData(h.object)}}), 190);
    EXPECT_CODE(callAsAdmin("Clear_Task", forWater + Params{{"DeviceId", h.device}}), 246);
    EXPECT_EQ(snapshot(), before);
}

TEST_F(Scope, NobodyGivesMoreRightsThanHisOwn)
{
    const QString waterAdmin = createUser("wadmin", 129, water);
    for (const char* type : {"1", "2", "4", "5", "128", "0", "132", "0x81"}) {
        const bool allowed = QByteArray(type) == "0x81";
        const CgiResult r = call(waterAdmin, "Add_User", {{"Login", QStringLiteral("n%1").arg(type)}, {"Pas", "p"},
                                                          {"Status", "1"}, {"UserType", type}, {"CompanyId", QString::number(heat)}});
        EXPECT_EQ(r.errorCode(), allowed ? 0 : 143) << type;
    }
    // The one account made belongs to the caller's company, whatever "CompanyId" said.
    EXPECT_EQ(value(R"(SELECT string_agg("Login" || ':' || "UserType" || ':' || "CompanyId", ',') FROM "UserTable" WHERE "Login" LIKE 'n%')"),
              QStringLiteral("n0x81:129:%1").arg(water));
    EXPECT_CODE(call(waterAdmin, "Upd_User", {{"UserId", QString::number(userId("n0x81"))}, {"UserType", "2"}}), 143);
}

TEST_F(Scope, ACompanyUserCannotRegisterADeviceOutsideAnyObject)
{
    const QString waterOperator = createUser("wop", 130, water);
    const QString before = snapshot();
    for (const int objectId : {0, -1}) {
        EXPECT_CODE(call(waterOperator, "Add_Devices", {{"DATA", deviceData(QString::number(objectId))}}), 146) << objectId;
        EXPECT_CODE(call(waterOperator, "Upd_Device", {{"DeviceId", w.device}, {"DATA", deviceData(QString::number(objectId), 1)}}), 146);
    }
    EXPECT_EQ(snapshot(), before);
}

// A deletion and the making of a reference to the same record exclude each other: the test's
// own connection plays the other request, half-way through, while the command runs.
struct Race {
    const char* name;
    const char* parentTable;
    std::function<QString(Scope&)> parent; // creates the record both requests aim at
    const char* child;                     // the reference the other request makes (%1: parent)
    const char* remove;                    // the command that deletes the parent
    const char* removeParameter;
    const char* link;                      // the command that makes a reference to the parent
    std::function<Params(Scope&, const QString&)> linkParams;
    int removeCode; // what the deletion answers once the reference is there
    int linkCode;   // what the reference answers once the parent is gone
    const char* dangling; // counts references to a parent that does not exist
};

void PrintTo(const Race& race, std::ostream* os)
{
    *os << race.name;
}

class Races : public Scope, public ::testing::WithParamInterface<Race> {};

TEST_P(Races, ADeletionWaitsForAReferenceBeingMade)
{
    const Race& race = GetParam();
    const QString parent = race.parent(*this);
    bool waited = false;
    const CgiResult removed = callWhileHeld(adminToken(), race.remove, {{race.removeParameter, parent}},
                                            {QStringLiteral(R"(SELECT 1 FROM "%1" WHERE "Id"=%2 FOR KEY SHARE)").arg(race.parentTable, parent),
                                             QString::fromLatin1(race.child).arg(parent)},
                                            &waited);
    EXPECT_TRUE(waited) << "the deletion did not wait for the reference being made";
    EXPECT_CODE(removed, race.removeCode);
    EXPECT_EQ(db->count(QString::fromLatin1(race.dangling)), 0);
}

TEST_P(Races, AReferenceWaitsForADeletionUnderWay)
{
    const Race& race = GetParam();
    const QString parent = race.parent(*this);
    bool waited = false;
    const CgiResult linked = callWhileHeld(adminToken(), race.link, race.linkParams(*this, parent),
                                           {QStringLiteral(R"(SELECT 1 FROM "%1" WHERE "Id"=%2 FOR UPDATE)").arg(race.parentTable, parent),
                                            QStringLiteral(R"(DELETE FROM "%1" WHERE "Id"=%2)").arg(race.parentTable, parent)},
                                           &waited);
    EXPECT_TRUE(waited) << "the reference did not wait for the deletion under way";
    EXPECT_CODE(linked, race.linkCode);
    EXPECT_EQ(db->count(QString::fromLatin1(race.dangling)), 0);
}

const auto freeAddress = [](Scope& s) { return QString::number(s.address("free", s.water)); };
const auto freeObject = [](Scope& s) { return QString::number(s.objectOf(0)); };

INSTANTIATE_TEST_SUITE_P(
    Records, Races,
    ::testing::Values(
        Race{"Address", "AddressTable", freeAddress, R"(INSERT INTO "ObjectTable" ("AddressId") VALUES (%1))",
             "Del_Address", "AddressId", "Add_Object",
             [](Scope&, const QString& p) { return Params{{"AddressId", p}, {"ObjType", "1"}}; }, 204, 112,
             R"(SELECT count(*) FROM "ObjectTable" o WHERE NOT EXISTS (SELECT 1 FROM "AddressTable" a WHERE a."Id"=o."AddressId"))"},
        Race{"Company", "CompanyTable", [](Scope& s) { return QString::number(s.createCompany("c")); },
             R"(INSERT INTO "AddressTable" ("Name", "CompanyId") VALUES ('n', %1))", "Del_Company", "Id", "Add_Address",
             [](Scope&, const QString& p) { return Params{{"Name", "n"}, {"TimeShift", "0"}, {"CompanyId", p}}; }, 204, 235,
             R"(SELECT count(*) FROM "AddressTable" a WHERE a."CompanyId" IS NOT NULL AND NOT EXISTS (SELECT 1 FROM "CompanyTable" c WHERE c."Id"=a."CompanyId"))"},
        Race{"Manufacturer", "ManufTable", [](Scope& s) { return QString::number(s.insertId(R"(INSERT INTO "ManufTable" ("Name") VALUES ('m2') RETURNING "Id")")); },
             R"(INSERT INTO "ModelTable" ("Name", "ManufId") VALUES ('x', %1))", "Del_Manuf", "Id", "Add_Model",
             [](Scope&, const QString& p) { return Params{{"Name", "y"}, {"ManufId", p}}; }, 204, 235,
             R"(SELECT count(*) FROM "ModelTable" m WHERE NOT EXISTS (SELECT 1 FROM "ManufTable" n WHERE n."Id"=m."ManufId"))"},
        Race{"Model", "ModelTable", [](Scope& s) { return QString::number(s.model()); },
             R"(INSERT INTO "DeviceTable" ("ModelId") VALUES (%1))", "Del_Model", "Id", "Add_Devices",
             [](Scope&, const QString& p) {
                 return Params{{"DATA", json({QJsonObject{{"devType", 7}, {"manId", "XYZ"}, {"identNum", 5}, {"ver", 1},
                                                          {"modelId", p.toLongLong()}, {"objectId", 0}}})}};
             },
             204, 313, R"(SELECT count(*) FROM "DeviceTable" d WHERE NOT EXISTS (SELECT 1 FROM "ModelTable" m WHERE m."Id"=d."ModelId"))"},
        Race{"Object", "ObjectTable", freeObject, R"(INSERT INTO "LicAccountTable" ("ObjectId", "ResCode", "Name") VALUES (%1, 1, 'n'))",
             "Del_Object", "ObjectId", "Add_LicAccount",
             [](Scope&, const QString& p) { return Params{{"DATA", json({QJsonObject{{"objectId", p.toLongLong()}, {"resCode", 1}, {"name", "n"}}})}}; },
             204, 190, R"(SELECT count(*) FROM "LicAccountTable" l WHERE NOT EXISTS (SELECT 1 FROM "ObjectTable" o WHERE o."Id"=l."ObjectId"))"},
        Race{"Abonent", "AbonentTable",
             [](Scope& s) { return QString::number(s.insertId(R"(INSERT INTO "AbonentTable" ("Name", "PasHash") VALUES ('Gone', 'x') RETURNING "Id")")); },
             R"(UPDATE "ObjectTable" SET "AbonentId"=%1 WHERE "AddressId" IS NOT NULL AND "AbonentId" IS NULL)", "Del_Abonent", "AbonentId",
             "Upd_Object",
             [](Scope& s, const QString& p) { return Params{{"ObjectId", QString::number(s.objectOf(0))}, {"Obj", "o"}, {"ObjType", "1"}, {"AbonentId", p}}; },
             0, 144, R"(SELECT count(*) FROM "ObjectTable" o WHERE o."AbonentId" IS NOT NULL AND NOT EXISTS (SELECT 1 FROM "AbonentTable" a WHERE a."Id"=o."AbonentId"))"},
        Race{"Device", "DeviceTable", [](Scope& s) { return QString::number(s.installedDevice(s.modelId, s.objectOf(0), 55)); },
             R"(INSERT INTO "TaskTable" ("DeviceId", "JsonTask") VALUES (%1, '[]'))", "Del_Device", "Id", "Add_Task",
             [](Scope&, const QString& p) { return Params{{"DeviceId", p}, {"CommandCode", "7"}, {"Value", "1"}}; }, 0, 246,
             R"(SELECT count(*) FROM "TaskTable" t WHERE NOT EXISTS (SELECT 1 FROM "DeviceTable" d WHERE d."Id"=t."DeviceId"))"}),
    [](const ::testing::TestParamInfo<Race>& info) { return std::string(info.param.name); });

} // namespace
