#pragma once

#include <QString>
#include <QStringList>

namespace orvela {

struct ServerConfig;

// "orvela --check": what an operator runs after installing or changing the configuration.
// It reads the configuration as a request does, connects to the database, brings the schema
// up to date as the first request would, and looks at the folders and the settings a public
// service must not keep. Each finding is one line with what to do.
class OperatorCheck {
public:
    static bool wanted(const QStringList& arguments);
    // Prints the findings; 0 when the service can serve, 1 when it cannot or is unsafe.
    static int run();

private:
    struct Findings {
        QStringList lines;
        bool failed = false;
        void ok(const QString& text) { lines << QStringLiteral("ok       ") + text; }
        void warn(const QString& text) { lines << QStringLiteral("warning  ") + text; }
        void problem(const QString& text)
        {
            lines << QStringLiteral("PROBLEM  ") + text;
            failed = true;
        }
    };
    static void checkFiles(const ServerConfig& config, Findings* findings);
    static void checkSettings(const ServerConfig& config, Findings* findings);
    static void checkFolders(const ServerConfig& config, Findings* findings);
    static void checkDatabase(const ServerConfig& config, Findings* findings);
};

} // namespace orvela
