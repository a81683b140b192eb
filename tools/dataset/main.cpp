// orvela-dataset: fills the database of an installation with the realistic data set.
//
//   orvela-dataset [--preset tiny|demo|bench] [--seed N] [--devices N] [--big N]
//                  [--end "yyyy-MM-dd HH:mm"] [--if-empty] INSTALL_DIR
//
// INSTALL_DIR holds bin/ and cnf/server.cnf, as the program is installed; the database named
// there gets the schema first. A database that already holds companies, addresses or devices
// is left alone: with --if-empty that is success, otherwise an error.
#include "app/serverconfig.h"
#include "db/database.h"
#include "db/schema.h"
#include "tools/dataset/dataset.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>

#include <cstdio>

namespace {

void say(const QString& text)
{
    std::fprintf(stdout, "%s\n", qPrintable(text));
    std::fflush(stdout);
}

int failWith(const QString& text)
{
    std::fprintf(stderr, "orvela-dataset: %s\n", qPrintable(text));
    return 1;
}

bool readSize(const QCommandLineParser& options, dataset::Size* size, QString* error)
{
    if (!dataset::Size::preset(options.value(QStringLiteral("preset")), size)) {
        *error = QStringLiteral("unknown preset ") + options.value(QStringLiteral("preset"));
        return false;
    }
    const struct {
        const char* name;
        quint32* unsignedTarget;
        int* target;
    } numbers[] = {{"seed", &size->seed, nullptr}, {"devices", nullptr, &size->devices}, {"big", nullptr, &size->bigAddress}};
    for (const auto& number : numbers) {
        if (!options.isSet(QLatin1String(number.name))) {
            continue;
        }
        bool ok = false;
        const uint value = options.value(QLatin1String(number.name)).toUInt(&ok);
        if (!ok) {
            *error = QStringLiteral("--") + QLatin1String(number.name) + QStringLiteral(" takes a number");
            return false;
        }
        number.unsignedTarget ? *number.unsignedTarget = value : *number.target = static_cast<int>(value);
    }
    if (options.isSet(QStringLiteral("end"))) {
        size->end = QDateTime::fromString(options.value(QStringLiteral("end")), QStringLiteral("yyyy-MM-dd HH:mm"));
        size->end.setTimeSpec(Qt::UTC);
        if (!size->end.isValid()) {
            *error = QStringLiteral("--end takes \"yyyy-MM-dd HH:mm\" (UTC)");
            return false;
        }
    }
    return true;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser options;
    options.setApplicationDescription(QStringLiteral("Fills an empty database with a realistic data set."));
    options.addHelpOption();
    options.addOptions({{QStringLiteral("preset"), QStringLiteral("tiny, demo or bench (default)."), QStringLiteral("name"),
                         QStringLiteral("bench")},
                        {QStringLiteral("seed"), QStringLiteral("Seed of every random choice."), QStringLiteral("n")},
                        {QStringLiteral("devices"), QStringLiteral("Meters of the first company."), QStringLiteral("n")},
                        {QStringLiteral("big"), QStringLiteral("Meters of its largest house."), QStringLiteral("n")},
                        {QStringLiteral("end"), QStringLiteral("Newest hour of readings, UTC."), QStringLiteral("yyyy-MM-dd HH:mm")},
                        {QStringLiteral("if-empty"), QStringLiteral("Succeed without loading when the database holds data.")}});
    options.addPositionalArgument(QStringLiteral("INSTALL_DIR"), QStringLiteral("Folder with bin/ and cnf/server.cnf."));
    options.process(app);
    if (options.positionalArguments().size() != 1) {
        options.showHelp(2);
    }
    dataset::Size size;
    QString error;
    if (!readSize(options, &size, &error)) {
        return failWith(error);
    }
    const QString binDir = QDir(options.positionalArguments().first()).absoluteFilePath(QStringLiteral("bin"));
    orvela::Database db;
    if (!db.open(orvela::ServerConfig::load(binDir), &error)) {
        return failWith(QStringLiteral("no connection: ") + error);
    }
    if (orvela::Schema::check(db, QDate::currentDate().year()) != 0) {
        return failWith(QStringLiteral("the schema could not be brought up to date"));
    }
    bool empty = false;
    if (!dataset::isEmpty(db, &empty, &error)) {
        return failWith(error);
    }
    if (!empty) {
        return options.isSet(QStringLiteral("if-empty")) ? (say(QStringLiteral("The database already holds data; nothing loaded.")), 0)
                                                         : failWith(QStringLiteral("the database already holds data"));
    }
    if (!dataset::load(db, size, [](const QString& step) { say(QStringLiteral("  ") + step); }, &error)) {
        return failWith(error);
    }
    say(QStringLiteral("Data set loaded."));
    return 0;
}
