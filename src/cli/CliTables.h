#pragma once
// What the command line offers, one table each: its commands, options and
// exit codes. The parser, the help and the manual page read them; a new
// command is a row here and its runner in CliCommands.cpp.

#include "cli/CommandLine.h"

#include <QStringList>

namespace Cli {

// Reads a command's words after its name into the request; false, with the
// error filled, when they are wrong.
using ParseArgs = bool (*)(const QStringList &words, CliRequest &r, CliError *error);

struct CommandInfo {
    const char *name;
    const char *synopsis;
    const char *summary; // one line, for the overview
    const char *more;    // the rest, for the command's own help
    ParseArgs parse;
};

struct OptionInfo {
    const char *names;
    const char *text;
};

struct ExitInfo {
    int code;
    const char *text;
};

template <typename T> struct Table {
    const T *first;
    int size;
    const T *begin() const { return first; }
    const T *end() const { return first + size; }
};

Table<CommandInfo> Commands();
Table<OptionInfo> Options();
Table<ExitInfo> Exits();

// The command of this name, or none.
const CommandInfo *FindCommand(const QString &name);

} // namespace Cli
