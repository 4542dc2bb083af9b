// commandline.h - how every host of this project reads its command line: a
// table of flags handed to QCommandLineParser, with strict checks. A bad
// number, an unknown flag or a value that looks like another flag is an
// error, never silently a default.
#ifndef LORVEXKIT_COMMANDLINE_H
#define LORVEXKIT_COMMANDLINE_H

#include <QCommandLineParser>
#include <QStringList>

#include <variant>
#include <vector>

// One flag and the variable its value goes to. A flag without a value name is
// a switch and sets its bool; a list collects every occurrence; a number
// (the last three kinds) must lie from `lo` to `hi`.
struct Flag
{
    const char* name;
    const char* value; // empty: a switch
    const char* help;
    std::variant<bool*, QString*, QStringList*, int*, unsigned*, double*> target;
    double lo = 0, hi = 0;
};
using FlagTable = std::vector<Flag>;

// Declares -h/--help (p.isSet("help") tells) and the table's flags on `p`.
void describeFlags(QCommandLineParser& p, const FlagTable& flags);

// Parses `args` (without the program name) and stores every given flag's
// value. On failure returns false with a message for the user, and
// p.unknownOptionNames() tells whether a flag was unknown.
bool readFlags(QCommandLineParser& p, const QStringList& args, const FlagTable& flags, QString& error);

// The text of p's flags, without Qt's usage line, which names no subcommand.
QString flagHelp(const QCommandLineParser& p);

// "<program> <version>\n", the answer to --version.
QString versionLine(const QString& program);

#endif
