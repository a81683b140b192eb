// Runs the data set's SQL steps with the sizes filled in.
#include "tools/dataset/dataset.h"

#include "db/database.h"
#include "db/schema.h"

#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QSqlError>
#include <QSqlQuery>

static void initResources()
{
    Q_INIT_RESOURCE(dataset);
}

namespace dataset {

namespace {

const QString kTimeFormat = QStringLiteral("yyyy-MM-dd HH:mm:ss");

struct Step {
    QString name;
    QString sql;
    bool perYear = false;
};

// The steps of the script: each begins with a line "-- step: <name>" or
// "-- step per year: <name>".
QList<Step> scriptSteps()
{
    initResources();
    QFile file(QStringLiteral(":/dataset/dataset.sql"));
    file.open(QIODevice::ReadOnly);
    static const QRegularExpression header(QStringLiteral("^-- step( per year)?: (.*)$"));
    QList<Step> steps;
    for (const QString& line : QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'))) {
        const QRegularExpressionMatch match = header.match(line);
        if (match.hasMatch()) {
            steps.append(Step{match.captured(2), QString(), !match.captured(1).isEmpty()});
        } else if (!steps.isEmpty()) {
            steps.last().sql += line + QLatin1Char('\n');
        }
    }
    return steps;
}

QString filledIn(QString sql, const Size& size, int year)
{
    const QDateTime end = size.newestHour();
    const int dailyDays = static_cast<int>(end.date().addMonths(-size.dailyMonths).daysTo(end.date()));
    const QList<QPair<QString, QString>> values = {
        {QStringLiteral("seed"), QString::number(size.seed)},
        {QStringLiteral("devices"), QString::number(size.devices)},
        {QStringLiteral("big"), QString::number(size.bigAddress)},
        {QStringLiteral("report"), QString::number(size.reportAddress)},
        {QStringLiteral("others"), QString::number(size.others)},
        {QStringLiteral("end"), end.toString(kTimeFormat)},
        {QStringLiteral("hourly_days"), QString::number(size.hourlyDays)},
        {QStringLiteral("daily_days"), QString::number(dailyDays)},
        {QStringLiteral("year"), QString::number(year)},
    };
    for (const auto& value : values) {
        sql.replace(QStringLiteral("{{") + value.first + QStringLiteral("}}"), value.second);
    }
    return sql;
}

// The years the readings touch, oldest first.
QList<int> readingYears(const Size& size)
{
    const QDateTime end = size.newestHour();
    QList<int> years;
    for (int year = end.date().addMonths(-size.dailyMonths).addDays(-1).year(); year <= end.date().year(); ++year) {
        years << year;
    }
    return years;
}

bool run(orvela::Database& db, const QString& sql, QString* error)
{
    QSqlQuery query = db.newQuery();
    if (!query.exec(sql)) {
        *error = query.lastError().text();
        return false;
    }
    return true;
}

// Vacuums and analyses every table, as autovacuum would in time: the planner knows the sizes,
// and the pages written are marked visible, so that scans of indexes alone read no table.
// VACUUM runs outside any transaction, one table per statement.
bool vacuumed(orvela::Database& db, QString* error)
{
    QSqlQuery tables = db.newQuery();
    if (!tables.exec(QStringLiteral("SELECT tablename FROM pg_tables WHERE schemaname='public' ORDER BY 1"))) {
        *error = tables.lastError().text();
        return false;
    }
    while (tables.next()) {
        if (!run(db, QStringLiteral("VACUUM (ANALYZE) \"") + tables.value(0).toString() + QLatin1Char('"'), error)) {
            return false;
        }
    }
    return true;
}

} // namespace

bool Size::preset(const QString& name, Size* size)
{
    Size chosen;
    if (name == QLatin1String("tiny")) {
        chosen.devices = 170;
        chosen.bigAddress = 40;
        chosen.reportAddress = 12;
        chosen.others = 20;
        chosen.hourlyDays = 10;
        chosen.dailyMonths = 2;
    } else if (name == QLatin1String("demo")) {
        chosen.devices = 300;
        chosen.bigAddress = 120;
        chosen.reportAddress = 50;
        chosen.others = 60;
    } else if (name != QLatin1String("bench")) {
        return false;
    }
    *size = chosen;
    return true;
}

Size Size::normalised() const
{
    Size size = *this;
    size.devices = qMax(1, size.devices);
    size.bigAddress = qBound(1, size.bigAddress, size.devices);
    size.reportAddress = qBound(0, size.reportAddress, size.devices - size.bigAddress);
    size.others = qMax(1, size.others);
    size.hourlyDays = qBound(1, size.hourlyDays, 366);
    size.dailyMonths = qBound(1, size.dailyMonths, 60);
    size.dailyMonths = qMax(size.dailyMonths, (size.hourlyDays + 30) / 30);
    return size;
}

QDateTime Size::newestHour() const
{
    const QDateTime chosen = end.isValid() ? end.toUTC() : QDateTime::currentDateTimeUtc();
    return QDateTime(chosen.date(), QTime(chosen.time().hour(), 0), Qt::UTC);
}

bool isEmpty(orvela::Database& db, bool* empty, QString* error)
{
    QSqlQuery query = db.newQuery();
    if (!query.exec(QStringLiteral("SELECT (SELECT count(*) FROM \"CompanyTable\") + (SELECT count(*) FROM \"AddressTable\") + "
                                   "(SELECT count(*) FROM \"DeviceTable\")")) ||
        !query.next()) {
        *error = query.lastError().text();
        return false;
    }
    *empty = query.value(0).toLongLong() == 0;
    return true;
}

bool load(orvela::Database& db, const Size& requested, const Progress& progress, QString* error)
{
    const Size size = requested.normalised();
    for (const int year : readingYears(size)) {
        if (!orvela::Schema::createYear(db, year)) {
            *error = QStringLiteral("the yearly tables of ") + QString::number(year) + QStringLiteral(" could not be made");
            return false;
        }
    }
    for (const Step& step : scriptSteps()) {
        const QList<int> years = step.perYear ? readingYears(size) : QList<int>{0};
        for (const int year : years) {
            QElapsedTimer timer;
            timer.start();
            if (!run(db, filledIn(step.sql, size, year), error)) {
                *error = step.name + QStringLiteral(": ") + *error;
                return false;
            }
            progress(step.name + (step.perYear ? QStringLiteral(" ") + QString::number(year) : QString()) +
                     QStringLiteral(" (") + QString::number(timer.elapsed() / 1000.0, 'f', 1) + QStringLiteral(" s)"));
        }
    }
    QElapsedTimer timer;
    timer.start();
    if (!vacuumed(db, error)) {
        return false;
    }
    progress(QStringLiteral("vacuum (") + QString::number(timer.elapsed() / 1000.0, 'f', 1) + QStringLiteral(" s)"));
    return true;
}

} // namespace dataset
