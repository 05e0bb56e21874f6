#pragma once
// The command line: every exchange with the unit as a command, for scripts
// and batches of units. A thin front end over the protocol layer, the same
// code the windows use; no window, no display, no single-copy lock.
//
//   qmlsetup [options] COMMAND [ARGUMENTS]     qmlsetup --help, qmlsetup COMMAND --help

#include "protocol/UnitConfig.h"
#include "protocol/UnitTransfer.h"

#include <QDate>
#include <QString>
#include <QStringList>
#include <optional>

// Exit codes, one per kind of outcome.
namespace ExitCode {
constexpr int Done = 0;         // done (and verified, where it writes)
constexpr int Failed = 1;       // anything else: an output file that cannot be written
constexpr int BadUsage = 2;     // the command line itself is wrong; nothing was sent
constexpr int PortFailure = 3;  // the port did not open (the reason is printed)
constexpr int NoAnswer = 4;     // the unit did not answer, or the line was lost
constexpr int Refused = 5;      // the unit refused a command
constexpr int Differences = 6;  // written, but the unit holds other values
constexpr int BadFile = 7;      // a configuration or preset file that cannot be used
constexpr int OtherAnswer = 8;  // an answer that does not fit the command
constexpr int Interrupted = 130; // a writing command stopped by SIGINT
constexpr int Terminated = 143;  // ... by SIGTERM
} // namespace ExitCode

struct CliRequest {
    enum Command { Help, Ports, Info, Read, Write, RegGet, RegSet, Save, Apply, Preset, Network, Compare,
                   History, Handover };
    Command command = Help;
    QString helpFor; // Help: the command asked about, or none for the overview

    QString port; // --port: COMn or a device path; empty: setcom.ini's
    QString baud, dataBits, parity, stopBits; // overrides of setcom.ini's
    TransferPath path = TransferPath::Wired;
    bool json = false;
    bool force = false; // save: replace an existing file
    bool trace = false; // --trace: every line on standard error as it happens
    bool progress = false; // --progress: a line a stage on standard error, terminal or not
    // --site-book: a file, "off" or a postgresql:// URL; empty: the
    // environment's, else the default book
    QString siteBook;

    UnitRecord changes; // write: the named fields
    int reg = -1;       // reg get / reg set
    QString value;      // reg set
    QString file;       // save, apply, preset, network, compare ("-": standard input)

    // network
    QStringList ports;       // --ports NAME=PORT,...: a unit's port for this run
    QString report;          // --report FILE: the report also there (.csv: CSV)
    bool sequential = false; // --sequential: the units one after another on one port
    QString unit;            // --unit NAME: this unit alone, in this process
    bool compareOnly = false; // --compare: read and compare, write nothing
    QString retry;            // --retry REPORT: the units that report did not verify

    // history: the entries (List), one whole (Show), its backup into `file`
    // (Backup), or older files taken in from the folder `file` (Import)
    enum HistoryVerb { List, Show, Backup, Import };
    HistoryVerb historyVerb = List;
    QString entryId;                  // show, backup
    QString site, name, device;       // --site, --name, --device
    QDate since, until;               // --since, --until: UTC days, both included
    int limit = 100;                  // --limit
    bool csv = false;                 // --csv

    QString out; // handover: --out FILE; empty: handover-SITE-DATE.html here
};

// What was wrong with the command line: a message-table number and the text
// at fault.
struct CliError {
    int message = 0;
    QString detail;
};

// Pure parsing: no file, no port. Nothing when the line is wrong.
std::optional<CliRequest> ParseCommandLine(const QStringList &args, CliError *error);

// Usage, overall or for one command.
QString CommandLineHelp(const QString &command = {});
// The manual page's COMMANDS, OPTIONS and EXIT STATUS sections (roff), from
// the same tables as the help (qmlsetup --manual, run by the build).
QString CommandLineManual();

// Runs a command: reads the text files as the windows do, opens the port,
// prints the result (text, or one JSON document with --json) and returns
// the exit code.
int RunCommandLine(const QStringList &args);

// True when `args` hold only Qt's own window options (-style fusion,
// -platform xcb, -session ..., -display ..., -reverse): the window opens with
// them. Anything else is a command line.
bool OnlyWindowOptions(const QStringList &args);

// Message-table numbers of the command line's own texts.
namespace CliMessages {
constexpr int UnknownCommand = 86;
constexpr int UnknownOption = 87;
constexpr int MissingValue = 88;
constexpr int NoSuchPort = 89;
constexpr int WrongArguments = 90;
constexpr int UsageHint = 91;
constexpr int WrittenVerified = 92;
constexpr int NotKeyValue = 94;
constexpr int BadPath = 95;
constexpr int PresetIncomplete = 96;
constexpr int OutputFailed = 120;   // standard output could not be written
constexpr int NotSerialPort = 44;   // the device is not a serial port
constexpr int RecordNeedsWiredPath = 124; // the file's record goes over --path wired
constexpr int SeePorts = 125;       // see: qmlsetup ports
constexpr int FileExists = 127;     // the file is there: --force replaces it
constexpr int NoSuchUnit = 146;     // the plan has no unit of that name
constexpr int NotForCommand = 147;  // the option belongs to another command
constexpr int PlugIn = 144;         // plug in the unit
constexpr int Unplug = 145;         // set up: unplug it
constexpr int NoUnitAnswered = 148; // no unit answered on the port in time
constexpr int PortsDiffer = 149;    // --sequential: the units name different ports
constexpr int ReportKept = 150;     // the report is in
constexpr int AllMatch = 151;       // the unit holds what the file says
constexpr int StoppedAtOnce = 210;  // a second signal: the run ended there and then
constexpr int UnderWay = 211;       // the write under way may have been written:
constexpr int ResetUnderWay = 212;  // the reset was under way: the unit may have been reset
constexpr int ResetSent = 213;      // the reset (@RST) was sent
constexpr int NotResetStopped = ConfigMessages::ResetStopped; // stopped before the reset, which was not sent
constexpr int HoldsAfterStop = 215; // read back after the stop, the unit holds:
constexpr int NotReadAfterStop = 216; // could not be read back after the stop:
constexpr int StoppedBySignal = 217; // stopped by a signal after the exchange under way:
constexpr int CheckUnit = 342;      // no answer: power, cable, port, serial settings
constexpr int CheckCable = 343;     // the line was lost: cable and adapter
constexpr int WhatCame = 344;       // what came (meaning), where the answer to %3 is %4
constexpr int SeeTrace = 345;       // --trace shows every line
constexpr int AlreadyHeld = 346;    // a write that changed nothing
} // namespace CliMessages
