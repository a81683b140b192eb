#include "db/schema.h"

#include "db/database.h"
#include "db/schemascripts.h"
#include "db/sqltext.h"
#include "db/transaction.h"

#include <QSet>
#include <QSqlError>
#include <QVariant>

namespace orvela {

namespace {

// Serialises the upkeep of concurrent processes; any fixed number known to all of them.
constexpr qint64 kSchemaLockKey = 0x6F7276656C61;

const QString kYearPlaceholder = QStringLiteral("%YEAR%");

// What the catalogue says about our objects, read in one round trip.
struct SchemaState {
    QSet<QString> tables;
    QSet<QString> withConnectType;
    QSet<QString> withJsonData;
    bool functionCurrent = false;
};

// The definition get_archive must have; a stored function that differs is replaced.
const QString kFunctionResult = QStringLiteral(
    "TABLE(\"Id\" bigint, \"DeviceId\" bigint, \"ArcDate\" timestamp without time zone, "
    "\"RecDate\" timestamp without time zone, \"JsonErr\" json, \"JsonVal\" json)");
const QString kFunctionTraits = QStringLiteral("v|100|1000|plpgsql");

QString probeSql(const QStringList& names)
{
    QStringList quoted;
    for (const QString& name : names) {
        quoted << sqlText(name);
    }
    return QStringLiteral(
               "SELECT 't', c.relname::text, "
               "EXISTS(SELECT 1 FROM pg_attribute a WHERE a.attrelid=c.oid AND "
               "a.attname='ConnectType' AND NOT a.attisdropped)::text, "
               "EXISTS(SELECT 1 FROM pg_attribute a WHERE a.attrelid=c.oid AND "
               "a.attname='JsonData' AND NOT a.attisdropped)::text "
               "FROM pg_class c JOIN pg_namespace n ON n.oid=c.relnamespace "
               "WHERE n.nspname='public' AND c.relkind IN ('r','p') AND c.relname IN (") +
           quoted.join(QLatin1Char(',')) +
           QStringLiteral(
               ") UNION ALL "
               "SELECT 'f', p.prosrc, pg_get_function_result(p.oid), "
               "p.provolatile::text || '|' || p.procost || '|' || p.prorows || '|' || l.lanname "
               "FROM pg_proc p JOIN pg_namespace n ON n.oid=p.pronamespace "
               "JOIN pg_language l ON l.oid=p.prolang "
               "WHERE n.nspname='public' AND p.proname='get_archive' AND "
               "pg_get_function_identity_arguments(p.oid)='object_id bigint, date_time_from "
               "timestamp without time zone, date_time_to timestamp without time zone'");
}

// Tables that later versions gave a "JsonData" column (and "DeviceTable" a "ConnectType").
const QStringList& upgradedTables()
{
    static const QStringList names = {
        QStringLiteral("AbonentTable"), QStringLiteral("CompanyTable"),
        QStringLiteral("ModelTable"),   QStringLiteral("DeviceTable"),
        QStringLiteral("ConcTable"),    QStringLiteral("AddressTable")};
    return names;
}

// The definition PostgreSQL prints for our get_archive when it is the current one.
QString expectedFunctionDefinition()
{
    return QStringLiteral("CREATE OR REPLACE FUNCTION public.get_archive(object_id bigint, "
                          "date_time_from timestamp without time zone, date_time_to timestamp "
                          "without time zone)\n RETURNS ") +
           kFunctionResult + QStringLiteral("\n LANGUAGE plpgsql\nAS $function$") +
           QString::fromUtf8(kGetArchiveBody) + QStringLiteral("$function$\n");
}

QString regclassText(const QString& table)
{
    return sqlText(QStringLiteral("public.\"") + table + QLatin1Char('"'));
}

// One statement that succeeds with true only when every table, the added columns and the
// current function are in place. It is built from look-up functions that read the system
// caches, because planning a query on the catalogue tables costs a fresh connection several
// milliseconds. Any other outcome (false, or an error for a missing table) sends the check
// down the full path.
QString fastProbeSql(const QStringList& names)
{
    QStringList conditions;
    for (const QString& name : names) {
        conditions << QStringLiteral("to_regclass(") + regclassText(name) + QStringLiteral(") IS NOT NULL");
    }
    for (const QString& table : upgradedTables()) {
        conditions << QStringLiteral("has_column_privilege(") + regclassText(table) +
                          QStringLiteral(", 'JsonData', 'SELECT') IS NOT NULL");
    }
    conditions << QStringLiteral("has_column_privilege(") + regclassText(QStringLiteral("DeviceTable")) +
                      QStringLiteral(", 'ConnectType', 'SELECT') IS NOT NULL");
    return QStringLiteral("SELECT ") + conditions.join(QStringLiteral(" AND ")) +
           QStringLiteral(", pg_get_functiondef(to_regprocedure('public.get_archive(bigint,"
                          "timestamp without time zone,timestamp without time zone)'))");
}

bool fastProbeSaysUpToDate(Database& db, const QStringList& names)
{
    QSqlQuery query = db.newQuery();
    if (!query.exec(fastProbeSql(names)) || !query.next()) {
        return false;
    }
    return query.value(0).toBool() && query.value(1).toString() == expectedFunctionDefinition();
}

bool probe(Database& db, const QStringList& names, SchemaState* state)
{
    QSqlQuery query = db.newQuery();
    if (!query.exec(probeSql(names))) {
        db.logDebugError(query.lastError().text());
        return false;
    }
    *state = SchemaState();
    while (query.next()) {
        const QString name = query.value(1).toString();
        if (query.value(0).toString() == QStringLiteral("f")) {
            state->functionCurrent = name == QString::fromUtf8(kGetArchiveBody) &&
                                     query.value(2).toString() == kFunctionResult &&
                                     query.value(3).toString() == kFunctionTraits;
            continue;
        }
        state->tables.insert(name);
        if (query.value(2).toString() == QStringLiteral("true")) {
            state->withConnectType.insert(name);
        }
        if (query.value(3).toString() == QStringLiteral("true")) {
            state->withJsonData.insert(name);
        }
    }
    return true;
}

bool isUpToDate(const SchemaState& state, const QStringList& names)
{
    for (const QString& name : names) {
        if (!state.tables.contains(name)) {
            return false;
        }
    }
    for (const QString& name : upgradedTables()) {
        if (!state.withJsonData.contains(name)) {
            return false;
        }
    }
    return state.withConnectType.contains(QStringLiteral("DeviceTable")) && state.functionCurrent;
}

// Runs the pieces of a script one by one in one transaction: a table is created together with
// its comments and its first rows, so that a process killed half-way never leaves, say, an
// account table without its first account.
bool runScript(Database& db, const QString& script)
{
    Transaction transaction(db.connection(), true);
    QSqlQuery query = db.newQuery();
    for (const QString& piece : script.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        if (piece.trimmed().isEmpty()) {
            continue;
        }
        if (!query.exec(piece)) {
            db.logDebugError(query.lastError().text());
            return false;
        }
    }
    return transaction.commit();
}

// Adds a column that a later version introduced; the comment's own outcome does not matter.
bool addColumn(Database& db, const QString& table, const QString& column, const QString& type,
               const QString& comment)
{
    QSqlQuery query = db.newQuery();
    if (!query.exec(QStringLiteral("alter table \"") + table + QStringLiteral("\" add column \"") +
                    column + QStringLiteral("\" ") + type + QStringLiteral(" ;"))) {
        db.logDebugError(query.lastError().text());
        return false;
    }
    query.exec(QStringLiteral("COMMENT ON COLUMN \"") + table + QStringLiteral("\".\"") + column +
               QStringLiteral("\" IS '") + comment + QStringLiteral("';"));
    return true;
}

bool upgradeTable(Database& db, const QString& name, const SchemaState& state)
{
    if (!upgradedTables().contains(name)) {
        return true;
    }
    if (name == QStringLiteral("DeviceTable") && !state.withConnectType.contains(name) &&
        !addColumn(db, name, QStringLiteral("ConnectType"),
                   QStringLiteral("smallint NOT NULL DEFAULT 0"), QObject::tr("тип подключения"))) {
        return false;
    }
    if (!state.withJsonData.contains(name) &&
        !addColumn(db, name, QStringLiteral("JsonData"),
                   QStringLiteral("json NOT NULL DEFAULT '{}'::json"), QObject::tr("данные"))) {
        return false;
    }
    return true;
}

quint16 bringUpToDate(Database& db, const SchemaState& state, int currentYear)
{
    for (const QString& name : Schema::tableNames()) {
        if (state.tables.contains(name)) {
            if (!upgradeTable(db, name, state)) {
                return 132;
            }
            continue;
        }
        const QString script = Schema::creationScript(name);
        if (!script.isEmpty() && !runScript(db, script)) {
            return 132;
        }
    }
    for (const QString& yearly : Schema::yearlyTemplates()) {
        const QString script = Schema::creationScript(yearly);
        for (int year = Schema::firstYearKept(currentYear); year <= Schema::lastYearKept(currentYear); ++year) {
            const QString yearText = QString::number(year);
            if (state.tables.contains(QString(yearly).replace(kYearPlaceholder, yearText))) {
                continue;
            }
            if (!runScript(db, QString(script).replace(kYearPlaceholder, yearText))) {
                return 132;
            }
        }
    }
    if (!state.functionCurrent) {
        QSqlQuery query = db.newQuery();
        if (!query.exec(Schema::functionScript())) {
            return 132;
        }
    }
    return 0;
}

// Holds the upkeep lock of the session until it goes out of scope.
class UpkeepLock {
public:
    explicit UpkeepLock(Database& db) : m_query(db.newQuery())
    {
        m_locked = m_query.exec(Schema::upkeepLockStatement());
    }
    ~UpkeepLock()
    {
        if (m_locked) {
            m_query.exec(QStringLiteral("SELECT pg_advisory_unlock(") +
                         QString::number(kSchemaLockKey) + QStringLiteral(")"));
        }
    }
    bool locked() const { return m_locked; }

private:
    QSqlQuery m_query;
    bool m_locked = false;
};

} // namespace

const QStringList& Schema::tableNames()
{
    static const QStringList names = {
        QStringLiteral("UserTable"),       QStringLiteral("SessionTable"),
        QStringLiteral("AbonentTable"),    QStringLiteral("CompanyTable"),
        QStringLiteral("ModelTable"),      QStringLiteral("ManufTable"),
        QStringLiteral("AddressTable"),    QStringLiteral("ObjectTable"),
        QStringLiteral("DeviceTable"),     QStringLiteral("ConcTable"),
        QStringLiteral("TaskTable"),       QStringLiteral("LicAccountTable"),
        QStringLiteral("InstallTable"),    QStringLiteral("PoverkaTable"),
        QStringLiteral("ResCompanyTable"), QStringLiteral("LicResCompanyTable"),
        QStringLiteral("TmpDevTable"),     QStringLiteral("AppeuiTable")};
    return names;
}

const QStringList& Schema::yearlyTemplates()
{
    static const QStringList names = {QStringLiteral("ArchiveTable%YEAR%"),
                                      QStringLiteral("TechnicalTable%YEAR%")};
    return names;
}

QString Schema::creationScript(const QString& name)
{
    const QString marker = QStringLiteral("CREATE TABLE IF NOT EXISTS \"") + name + QLatin1Char('"');
    for (int i = 0; i < kCreationScriptCount; ++i) {
        const QString script = QString::fromUtf8(kCreationScripts[i]);
        if (script.contains(marker)) {
            return script;
        }
    }
    return QString();
}

QString Schema::functionScript()
{
    return QString::fromUtf8(kGetArchiveHead) + QString::fromUtf8(kGetArchiveBody) +
           QString::fromUtf8(kGetArchiveTail);
}

QStringList Schema::yearlyTableNames(int currentYear)
{
    QStringList names;
    for (const QString& yearly : yearlyTemplates()) {
        for (int year = Schema::firstYearKept(currentYear); year <= Schema::lastYearKept(currentYear); ++year) {
            names << QString(yearly).replace(kYearPlaceholder, QString::number(year));
        }
    }
    return names;
}

QString Schema::upkeepLockStatement()
{
    return QStringLiteral("SELECT pg_advisory_lock(") + QString::number(kSchemaLockKey) + QStringLiteral(")");
}

bool Schema::createYear(Database& db, int year)
{
    for (const QString& yearly : yearlyTemplates()) {
        if (!db.tableExists(QString(yearly).replace(kYearPlaceholder, QString::number(year))) &&
            !runScript(db, creationScript(yearly).replace(kYearPlaceholder, QString::number(year)))) {
            return false;
        }
    }
    return true;
}

bool Schema::upToDate(Database& db, int currentYear)
{
    return db.isOpen() && fastProbeSaysUpToDate(db, tableNames() + yearlyTableNames(currentYear));
}

quint16 Schema::check(Database& db, int currentYear)
{
    if (!db.isOpen()) {
        return 22;
    }
    const QStringList names = tableNames() + yearlyTableNames(currentYear);
    if (fastProbeSaysUpToDate(db, names)) {
        return 0;
    }
    SchemaState state;
    if (!probe(db, names, &state)) {
        return 132;
    }
    if (isUpToDate(state, names)) {
        return 0;
    }
    // Another process may be creating the same objects: wait for it, then look again.
    UpkeepLock lock(db);
    if (!lock.locked() || !probe(db, names, &state)) {
        return 132;
    }
    return bringUpToDate(db, state, currentYear);
}

} // namespace orvela
