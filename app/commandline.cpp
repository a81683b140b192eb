#include "app/commandline.h"

#include "app/identity.h"

#include <QObject>

#include <cstdio>

#ifndef ORVELA_BUILD_ID
#define ORVELA_BUILD_ID "unknown"
#endif

namespace orvela {

QString CommandLine::versionText()
{
    // Two builds of one release tell apart by the package version or the commit.
    return applicationVersion() + QStringLiteral(" (build ") + QStringLiteral(ORVELA_BUILD_ID) + QLatin1Char(')');
}

QString CommandLine::helpText()
{
    return QStringLiteral(
        "usage: orvela [OPTION]\n"
        "Without an option: serve one CGI request (or FastCGI when standard input is a listening socket).\n"
        "  --fastcgi[=ADDRESS]   serve FastCGI on standard input, or listen on ADDRESS\n"
        "                        (127.0.0.1:9000, :9000 or a Unix socket path)\n"
        "  --check               check the configuration, the database, the schema and the folders;\n"
        "                        exit status 1 when the service cannot serve safely\n"
        "  --reference=NAME      print a reference table: commands, codes, config or limits\n"
        "  -v, --version         print the version and the build's identity\n"
        "  -h, --help            print this help\n");
}

int CommandLine::answer(const QString& argument)
{
    const QString option = argument.toLower();
    int status = 0;
    QString text;
    if (option == QStringLiteral("-v") || option == QStringLiteral("--ver") || option == QStringLiteral("--version")) {
        text = versionText() + QLatin1Char('\n');
    } else if (option == QStringLiteral("-h") || option == QStringLiteral("--help")) {
        text = helpText();
    } else {
        text = QObject::tr("Неизвестный параметр: ") + option + QLatin1Char('\n');
        status = 2;
    }
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stdout);
    std::fflush(stdout);
    return status;
}

} // namespace orvela
