// A device that moved from Water's flat to Heat's: its old installation ("Actual"=0) stays in
// Water's records, its current one is in Heat's. Every listing, flag, report and search shows
// it to Heat only, whoever asks for Heat, and its readings are read on Heat's clock.
#include "support/pgfixture.h"

using namespace testing_support;

namespace {

// The moved device's id and factory number: a text no other part of an answer holds.
const QString kMoved = QStringLiteral("987654321");

struct Premises {
    QString company, house, flat;
};

class MovedDevice : public TwoCompanies {
protected:
    void SetUp() override
    {
        TwoCompanies::SetUp();
        const qint64 meterModel = model(2);
        w = premisesOf(water, 180);
        h = premisesOf(heat, -300);
        installedDevice(meterModel, w.flat.toLongLong(), 11); // Water's own meter stays
        db->exec(QStringLiteral(R"(INSERT INTO "DeviceTable" ("Id", "DevType", "ManId", "IdentNum", "Ver", "ZavNum", "ModelId")
            VALUES (%1, 7, 'ABC', 22, 1, '%1', %2))").arg(kMoved).arg(meterModel));
        db->exec(QStringLiteral(R"(INSERT INTO "InstallTable" ("DeviceId", "ObjectId", "DateInstall", "Actual")
            VALUES (%1, %2, '2020-01-01', 0), (%1, %3, '2024-06-01', 1))").arg(kMoved, w.flat, h.flat));
        // 09:00 UTC is 04:00 at Heat's house and 12:00 at Water's.
        archiveRow(kMoved.toLongLong(), "2026-03-01 09:00:00", json({reading(5, 10, "42.5")}));
        archiveRow(kMoved.toLongLong(), hoursAgo(2), json({reading(5, 10, "43.0")}), json({flags(0x1)}));
        technicalRow(kMoved.toLongLong(), "2026-03-01 09:00:00", "[1]");
    }

    Premises premisesOf(qint64 company, int timeShift)
    {
        Premises p{QString::number(company), QString::number(address(QStringLiteral("house"), company)), {}};
        db->exec(QStringLiteral(R"(UPDATE "AddressTable" SET "TimeShift"=%1 WHERE "Id"=%2)").arg(timeShift).arg(p.house));
        p.flat = QString::number(object(p.house.toLongLong()));
        db->exec(QStringLiteral(R"(UPDATE "ObjectTable" SET "ObjType"=3 WHERE "Id"=%1)").arg(p.flat));
        db->exec(QStringLiteral(R"(INSERT INTO "LicAccountTable" ("ObjectId", "ResCode", "Name") VALUES (%1, 2, 'L'))").arg(p.flat));
        return p;
    }

    Premises w, h;
};

struct Reading {
    const char* command;
    std::function<Params(const Premises&)> params;
    // Global accounts read every company's flags, and the whole history of an object: there
    // "CompanyId" does not hide a device that moved on.
    bool narrowedForGlobalAccounts = true;
};

// Every command that lists devices or reads them by address, object or company.
const Reading kByPremises[] = {
    {"Get_Devices", [](auto& p) { return Params{{"AddressId", p.house}}; }},
    {"Get_DeviceList", [](auto& p) { return Params{{"AddressId", p.house}}; }, false},
    {"Get_DevValuesFromAddress", [](auto& p) { return Params{{"AddressId", p.house}, {"Date", "2026-03-01"}}; }},
    {"Get_PeriodValues", [](auto& p) { return Params{{"AddressId", p.house}, {"Period", "day"}, {"Date", "2026-03-01"}}; }},
    {"Get_Report", [](auto& p) { return Params{{"AddressId", p.house}, {"StartDate", "2026-02-28"}, {"EndDate", "2026-03-01"}}; }},
    {"Report", [](auto& p) { return Params{{"addressId", p.house}, {"dateStart", "2026-03-01"}, {"dateEnd", "2026-03-01"}}; }},
    {"Get_LicAccountTable", [](auto& p) { return Params{{"AddressId", p.house}}; }},
    {"Search", [](auto&) { return Params{{"Type", "0"}}; }},
    {"Get_ErrorFlags", [](auto&) { return Params{}; }, false},
};

// The commands that name the device itself, each with the text of its reading of 09:00 UTC,
// which is 04:00 on Heat's clock (12:00 on Water's). A global account reads any device.
const struct {
    const char* command;
    Params params;
    const char* readingAt4;
} kByDevice[] = {
    {"Get_DevValues", {{"DeviceId", kMoved}, {"Period", "day"}, {"Date", "2026-03-01"}}, R"("recDate":"2026-03-01 04:00:00")"},
    {"Get_Report", {{"HourReport", "1"}, {"DeviceId", kMoved}, {"StartDate", "2026-03-01"}, {"EndDate", "2026-03-01"}},
     R"("time":"04:00","values":[{)"},
    {"Get_TechnicalData", {{"DeviceId", kMoved}, {"DateStart", "2026-03-01"}, {"DateEnd", "2026-03-01"}},
     R"("date":"2026-03-01 04:00:00")"},
    // Its description is of the installation it has now, not the one it left.
    {"Get_DeviceData", {{"DeviceId", kMoved}}, R"("dateInstall":"2024-06-01")"},
};

TEST_F(MovedDevice, OnlyTheCompanyOfItsCurrentInstallationSeesIt)
{
    const struct {
        const char* name;
        QString token;
        Params actingFor;
        const Premises* own;
    } callers[] = {
        {"Water's administrator", createUser("wadmin", 129, water), {}, &w},
        {"a global account acting for Water", adminToken(), {{"CompanyId", w.company}}, &w},
        {"Heat's administrator", createUser("hadmin", 129, heat), {}, &h},
        {"a global account acting for Heat", adminToken(), {{"CompanyId", h.company}}, &h},
    };
    for (const auto& caller : callers) {
        const bool global = !caller.actingFor.isEmpty();
        for (const Reading& r : kByPremises) {
            const CgiResult answer = call(caller.token, r.command, caller.actingFor + r.params(*caller.own));
            EXPECT_CODE(answer, 0) << caller.name << ": " << r.command;
            const bool shown = caller.own == &h || (global && !r.narrowedForGlobalAccounts);
            EXPECT_EQ(answer.body.contains(kMoved.toLatin1()), shown) << caller.name << ": " << r.command;
        }
        for (const auto& r : kByDevice) {
            const CgiResult answer = call(caller.token, r.command, caller.actingFor + r.params);
            const bool refused = !global && caller.own == &w;
            EXPECT_CODE(answer, refused ? 246 : 0) << caller.name << ": " << r.command;
            EXPECT_EQ(answer.body.contains(r.readingAt4), !refused) << caller.name << ": " << r.command;
        }
    }
}

// Nor may the company it left change it or its queue.
TEST_F(MovedDevice, TheCompanyItLeftCannotChangeIt)
{
    const QString waterAdmin = createUser("wadmin", 129, water);
    db->exec(QStringLiteral(R"(INSERT INTO "TaskTable" ("DeviceId", "JsonTask") VALUES (%1, '[]'))").arg(kMoved));
    const QString before = snapshot();
    const struct {
        const char* command;
        Params params;
        int code;
    } changes[] = {
        {"Del_Device", {{"Id", kMoved}}, 190},
        {"Add_Task", {{"DeviceId", kMoved}, {"CommandCode", "7"}, {"Value", "1"}}, 27},
        {"Clear_Task", {{"DeviceId", kMoved}}, 246},
        {"Get_TaskTable", {{"DeviceId", kMoved}}, 246},
    };
    for (const auto& c : changes) {
        EXPECT_CODE(call(waterAdmin, c.command, c.params), c.code) << c.command;
    }
    EXPECT_EQ(snapshot(), before);
}

} // namespace
