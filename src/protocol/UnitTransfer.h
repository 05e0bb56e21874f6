#pragma once
// A unit's whole configuration over the line: reading it, and writing one to
// it with a backup of what it held before and a verification after. The
// exchanges are those of the current path: the wired commands ("V", "R",
// "Fnn"; "D", "Snnvv"), or after the FRH preset the register commands and one
// reset at the end. No widgets: the windows and the command line share it.

#include "protocol/UnitConfig.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

class CommControl;
class ReplyTimer;

enum class TransferPath { Wired, Registers };
// Register commands after the FRH preset (UnitMode 4), the wired path otherwise.
TransferPath CurrentTransferPath();

// Called before each exchange with its stage (a message number: reading,
// writing, verifying) and its place, n of total. Returning false stops the
// transfer once the exchange under way has ended.
using TransferProgress = std::function<bool(int stage, int n, int total)>;

// Why a transfer stopped: a message number (refused, no answer, another
// answer, port closed, cancelled) and what it was at ("register 12").
struct TransferFailure {
    int reason = 0;
    QString what;
};

// Single exchanges of the current path, for the command line: 0 when the
// answer came, else why not (a message number, as TransferFailure::reason).
int ReadVersion(CommControl &comm, ReplyTimer &timer, QString &version);
int ReadRecord(CommControl &comm, ReplyTimer &timer, UnitRecord &record);
int ReadOneRegister(CommControl &comm, ReplyTimer &timer, TransferPath path, int n,
                    QString &value);

// "register nn", as results and failures name it.
QString RegisterName(int n);
// Why a register exchange failed: the port closed, the unit refused, answers
// in doubt after a time-out (`inDoubt`, a read or a write), or no answer.
int RegisterFailure(const CommControl &comm, bool refused, bool inDoubt = false, bool read = true);

struct ReadResult {
    bool ok = false;
    UnitConfig config;
    TransferFailure failure;
};
ReadResult ReadUnitConfig(CommControl &comm, ReplyTimer &timer, TransferPath path,
                          const TransferProgress &progress = {});
// How many exchanges ReadUnitConfig makes.
int ReadExchanges(TransferPath path);

struct Difference {
    QString what, meant, holds;
};

// What one write of an apply did to the unit.
struct WriteOutcome {
    enum State { NotWritten, MayHaveBeenWritten, Written, Verified, Differs };
    QString what; // "record", "register 05"
    State state = NotWritten;
    int reason = 0; // why it was not, or may not have been, written
};

struct ApplyResult {
    enum Outcome { Verified, Differ, Stopped, NotStarted };
    Outcome outcome = NotStarted;
    QString backupPath;
    QStringList written;           // what the unit acknowledged, in order
    bool allWritten = false;       // every write was acknowledged
    bool resetSent = false;        // register path: the reset went out after them
    bool resetStopped = false;     // register path: a stop came before the reset
    QList<WriteOutcome> writes;    // every write asked for, once the backup is kept
    TransferFailure failure;       // Stopped, and NotStarted when reading failed
    QList<Difference> differences; // Differ
    UnitConfig before;             // what was read first (the backup, or the record alone)
    std::optional<UnitRecord> after; // the record as read back
    int refusal = 0;               // NotStarted for another reason: its message number
    QString detail;
    // The result as an operator reads it, from the message table.
    QString describe() const;
    // The same for the FRH preset: its own first line where everything was
    // written, and message 11 before it where not.
    QString describePreset() const;
};

// Reads the unit's configuration, saves it in `backupDir` (named after the
// time, `port` and something unique), writes what `file` holds (a record
// completed from the unit's own), stops at the first refusal or time-out,
// then reads back everything written and compares. With no `backupDir`,
// only the record is read first, when the file has one. Every transfer holds
// the connection's exchange gate; refused while another exchange runs.
ApplyResult ApplyUnitConfig(CommControl &comm, ReplyTimer &timer, TransferPath path,
                            const UnitConfig &file, const QString &backupDir,
                            const QString &port, const TransferProgress &progress = {});

// The FRH preset (the table from FRH10.ini) as a transfer on the register
// path: the unit's 28 registers kept in `backupDir` first, the preset
// written, read back and compared, then the reset. Refused with nothing sent
// when the table lacks a value or holds one that is not two hexadecimal
// digits. `allWritten` tells that every write was acknowledged.
ApplyResult ApplyFrhPresetVerified(CommControl &comm, ReplyTimer &timer,
                                   const QString &backupDir, const QString &port,
                                   const TransferProgress &progress = {});

// A backup's name: the time, the port, the process and the attempt, so that
// processes never meet and one process makes up to BackupAttempts a second.
QString BackupPath(const QString &backupDir, const QString &port, const QDateTime &when,
                   int attempt);
constexpr int BackupAttempts = 64;
