#pragma once
// Reading the command line's words; pure: no file, no port.

#include "cli/CommandLine.h"

#include <QStringList>
#include <optional>

namespace Cli {

// --json=1, --json=true and their like are --json; --json=0 and the like
// leave it off. Anything else after --json= stays as it is, to be refused.
QStringList NormalisedJson(const QStringList &args);

// Each command's own words (Cli::CommandInfo::parse).
bool ParsePorts(const QStringList &words, CliRequest &r, CliError *error);
bool ParseInfo(const QStringList &words, CliRequest &r, CliError *error);
bool ParseRead(const QStringList &words, CliRequest &r, CliError *error);
bool ParseWrite(const QStringList &words, CliRequest &r, CliError *error);
bool ParseReg(const QStringList &words, CliRequest &r, CliError *error);
bool ParseSave(const QStringList &words, CliRequest &r, CliError *error);
bool ParseApply(const QStringList &words, CliRequest &r, CliError *error);
bool ParsePreset(const QStringList &words, CliRequest &r, CliError *error);
bool ParseNetwork(const QStringList &words, CliRequest &r, CliError *error);
bool ParseCompare(const QStringList &words, CliRequest &r, CliError *error);
bool ParseHistory(const QStringList &words, CliRequest &r, CliError *error);
bool ParseHandover(const QStringList &words, CliRequest &r, CliError *error);
// The history's --since, --until and --limit, each as given or not given.
bool ParseHistoryFilters(const std::optional<QString> &since, const std::optional<QString> &until,
                         const std::optional<QString> &limit, CliRequest &r, CliError *error);

} // namespace Cli
