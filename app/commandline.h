#pragma once

#include <QString>

namespace orvela {

// The options that only print: the version with the build's identity, the list of options,
// or the refusal of an unknown one.
class CommandLine {
public:
    // Prints the answer to the first argument and gives the exit status (2 for an unknown one).
    static int answer(const QString& argument);
    static QString versionText();
    static QString helpText();
};

} // namespace orvela
