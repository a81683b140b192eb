#pragma once

#include <QString>
#include <QStringList>

namespace orvela {

// The tables of the command reference that the program knows itself: the command table, the
// result codes with their messages, and the configuration keys with their defaults. The
// reference's generated sections are these texts, so the two cannot drift apart.
class Reference {
public:
    // True when the program was started as "orvela --reference=NAME" from a shell.
    static bool wanted(const QStringList& arguments);
    // Prints the named table (or every name, for a wrong one) and gives the exit status.
    static int print(const QStringList& arguments);

    static QStringList names();
    // The Markdown text of one table; empty for an unknown name.
    static QString table(const QString& name);
};

} // namespace orvela
