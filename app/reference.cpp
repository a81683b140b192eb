#include "app/reference.h"

#include "app/resultcodes.h"
#include "app/resulttype.h"
#include "app/serverconfig.h"
#include "cgi/client/api.h"
#include "cgi/client/fieldlimits.h"

#include <QObject>

#include <cstdio>

namespace orvela {

namespace {

const QString kOption = QStringLiteral("--reference=");

// A table cell: a "|" would end it early.
QString cell(const QString& text)
{
    QString escaped = text;
    return escaped.replace(QLatin1Char('|'), QStringLiteral("\\|"));
}

QString commandTable()
{
    QString text = QStringLiteral("| № | Command | Answer | Served by | Log record |\n|---|---|---|---|---|\n");
    const QVector<client::Api::Command>& commands = client::Api::commandTable();
    for (int number = 0; number < commands.size(); ++number) {
        const client::Api::Command& command = commands.at(number);
        const bool reads = command.access == client::Api::Access::Reads;
        text += QStringLiteral("| %1 | `%2` | %3 | %4 | %5 |\n")
                    .arg(number)
                    .arg(QString::fromLatin1(command.name), resultTypeText(command.resultType),
                         reads ? QStringLiteral("reading server") : QStringLiteral("primary"),
                         cell(QObject::tr(command.logText)));
    }
    return text;
}

QString codeTable()
{
    QString text = QStringLiteral("| Code | Message |\n|---|---|\n");
    for (quint32 code = 0; code <= kLastAssignedCode; ++code) {
        const QString message = resultCodeText(static_cast<quint16>(code));
        if (!message.isEmpty()) {
            text += QStringLiteral("| %1 | %2 |\n").arg(code).arg(cell(message));
        }
    }
    // Codes above the last assigned one all read as an unknown error; these two are answered
    // by the dispatcher itself when a command fails without naming a cause.
    for (const quint16 code : {quint16(65534), quint16(65535)}) {
        text += QStringLiteral("| %1 | %2 |\n").arg(code).arg(cell(resultCodeText(code)));
    }
    return text;
}

QString configTable()
{
    QString text = QStringLiteral("| key | default | meaning |\n|---|---|---|\n");
    for (const ConfigKey& key : ServerConfig::serverKeys()) {
        const QString byDefault = *key.defaultValue ? QStringLiteral("`%1`").arg(QString::fromLatin1(key.defaultValue))
                                                    : QStringLiteral("empty");
        text += QStringLiteral("| `%1` | %2 | %3 |\n")
                    .arg(QString::fromLatin1(key.name), byDefault, cell(QString::fromUtf8(key.meaning)));
    }
    return text;
}

QString limitTable()
{
    QString text = QStringLiteral("| Command | Field | Limit | Refused with |\n|---|---|---|---|\n");
    for (const client::FieldLimit& limit : client::fieldLimits()) {
        const QString bound = limit.kind == client::FieldLimit::Text       ? QStringLiteral("%1 characters").arg(limit.largest)
                              : limit.kind == client::FieldLimit::Elements ? QStringLiteral("%1 elements").arg(limit.largest)
                                                                           : QStringLiteral("at most %1").arg(limit.largest);
        text += QStringLiteral("| `%1` | `%2` | %3 | %4 |\n")
                    .arg(QString::fromLatin1(limit.command), QString::fromLatin1(limit.field), bound)
                    .arg(limit.code);
    }
    return text;
}

} // namespace

bool Reference::wanted(const QStringList& arguments)
{
    return arguments.size() >= 2 && arguments.at(1).startsWith(kOption);
}

int Reference::print(const QStringList& arguments)
{
    const QString text = table(arguments.at(1).mid(kOption.size()));
    if (text.isEmpty()) {
        std::fprintf(stderr, "usage: orvela --reference=%s\n", qPrintable(names().join(QLatin1Char('|'))));
        return 2;
    }
    std::fputs(text.toUtf8().constData(), stdout);
    return 0;
}

QStringList Reference::names()
{
    return {QStringLiteral("commands"), QStringLiteral("codes"), QStringLiteral("config"), QStringLiteral("limits")};
}

QString Reference::table(const QString& name)
{
    if (name == QLatin1String("commands")) {
        return commandTable();
    }
    if (name == QLatin1String("codes")) {
        return codeTable();
    }
    if (name == QLatin1String("config")) {
        return configTable();
    }
    if (name == QLatin1String("limits")) {
        return limitTable();
    }
    return QString();
}

} // namespace orvela
