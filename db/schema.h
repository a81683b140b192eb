#pragma once

#include <QString>
#include <QStringList>

namespace orvela {

class Database;

// The schema the program owns: creation scripts of every table, the yearly archive and
// technical tables, the archive function, and the check that brings a database up to date.
class Schema {
public:
    // Table names in the order of creation.
    static const QStringList& tableNames();
    // "ArchiveTable%YEAR%" and "TechnicalTable%YEAR%".
    static const QStringList& yearlyTemplates();
    // The first creation script that creates the named table (or template), empty if none.
    static QString creationScript(const QString& name);
    static QString functionScript();
    // The year range of the yearly tables kept ahead: the current year - 1 to + 2.
    static QStringList yearlyTableNames(int currentYear);
    // The years whose tables a successful check leaves in place: the year before to two ahead.
    static int firstYearKept(int currentYear) { return currentYear - 1; }
    static int lastYearKept(int currentYear) { return currentYear + 2; }
    // Creates the yearly tables of any year that are missing, for readings loaded from
    // elsewhere; false when a script fails.
    static bool createYear(Database& db, int year);

    // Creates what is missing and upgrades old tables; returns a result code. A database that
    // is already up to date costs one catalogue query and changes nothing.
    static quint16 check(Database& db, int currentYear);
    // Whether everything check() would create is in place, asked without changing anything
    // (for a reading server, which can create nothing).
    static bool upToDate(Database& db, int currentYear);
    // The session lock under which processes bring the schema up to date one at a time.
    static QString upkeepLockStatement();
};

} // namespace orvela
