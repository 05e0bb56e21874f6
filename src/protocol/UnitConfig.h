#pragma once
// A unit's configuration: its version text, its settings record and its
// registers 00..27, and the plain-text file that keeps it. An operator reads,
// edits and versions these files; a file may hold the record, the registers
// or both, and applying writes only what it holds.
//
//   [unit]            format = 1 (required), version, saved, port (for people)
//   [record]          band = 0..4, channel = 0..23, type = master|slave, ...
//   [registers]       00 = 3A ... 27 = 06 (two hexadecimal digits)
//
// Comments start with # or ; at the start of a line, and after a blank
// behind a [record] or [registers] value.

#include <QDateTime>
#include <QMap>
#include <QString>
#include <QStringList>
#include <array>
#include <optional>

constexpr int ConfigFormatVersion = 1;

struct UnitRecord {
    static constexpr int Lists = 7; // type, antenna, bit rate, data length, parity, stop bits, flow

    // Each field as its character in the record that "D" takes and "R" gives:
    // the band digit, the channel (0..23), one digit per list setting (its
    // position, raw, so that positions no item names survive).
    std::optional<QChar> band;
    std::optional<int> channel;
    std::array<std::optional<QChar>, Lists> lists;

    bool isEmpty() const;
    bool isComplete() const;
    // The ten characters after "D"; complete records only.
    QString text() const;
    // From the ten characters of an "R" reply; nothing when they are not a record.
    static std::optional<UnitRecord> fromText(const QString &ten);
    // Takes the fields this record lacks from `unit`.
    void fillFrom(const UnitRecord &unit);
    bool operator==(const UnitRecord &o) const
    {
        return band == o.band && channel == o.channel && lists == o.lists;
    }
};

struct UnitConfig {
    static constexpr int Registers = 28;

    QString version; // the "V" text, for people; never written to the unit
    UnitRecord record;
    // Two characters each, exactly as the unit gave them or the file holds them.
    std::array<std::optional<QString>, Registers> registers;
    // Where a file holds each of its keys ("record.band", "registers.06").
    QMap<QString, int> lines;
    // The record and registers 27 and 06 as a unit held them, disagreeing
    // ("mirrors = as held" in [unit]): a backup puts both back as they were.
    bool mirrorsAsHeld = false;

    int registerCount() const;
    bool isEmpty() const { return record.isEmpty() && registerCount() == 0; }
    // The same version, record and registers (where a file held them aside).
    bool operator==(const UnitConfig &o) const
    {
        return version == o.version && record == o.record && registers == o.registers;
    }
};

// Two hexadecimal digits, in either case: a register value the file carries
// as it stands. Anything else a unit holds is written raw "G1", escaped.
bool IsPlainRegisterValue(const QString &value);
QString RegisterValueText(const QString &value);
// Whether a register holds what was meant: hexadecimal digits without regard
// to case, anything else exactly.
bool SameRegisterValue(const QString &a, const QString &b);

// Names of the list settings' items in files, in list order; a position past
// the end is written "raw N".
QString RecordKey(int list);
QString RecordItemName(int list, QChar position);
const QStringList &RecordItemNames(int list);
// The list a file's key names ("parity"), or -1.
int RecordListOfKey(const QString &key);
// A list position as the record carries it, 0-9 and A-F; -1 for anything else.
int RecordPosition(QChar c);
// The record's fields as the file names them: band, channel, type, ... and
// their values; fields it lacks are left out.
QList<QPair<QString, QString>> RecordFields(const UnitRecord &record);

// Why a file cannot be used: the line (0: the file as a whole), a message-table
// number and the text at fault.
struct ConfigFileError {
    int line = 0;
    int message = 0;
    QString detail;
    QString describe() const;
};

// A file whose record and registers 27 or 06 say different things: applying
// it would undo an edit of one with the other. Both lines, or nothing. A file
// that says the unit held them so (a unit's own backup) has no conflict.
std::optional<ConfigFileError> MirrorConflict(const UnitConfig &config);
// The record and registers 27 and 06 disagree (a register value that stands
// for no band or channel counts).
bool MirrorsDisagree(const UnitConfig &config);

QString WriteConfigText(const UnitConfig &config, const QString &port, const QDateTime &when);
// The whole text or nothing: a file that does not parse completely is refused.
std::optional<UnitConfig> ParseConfigText(const QString &text, ConfigFileError *error);
// A regular file of at most ConfigFileLimit bytes of UTF-8 text.
std::optional<UnitConfig> ReadConfigFile(const QString &path, ConfigFileError *error);
// The text of a file in this family (UTF-8, at most ConfigFileLimit bytes, a
// regular file), or why it cannot be read.
std::optional<QString> ReadConfigFileText(const QString &path, ConfigFileError *error);
constexpr qint64 ConfigFileLimit = 64 * 1024;
// How a configuration file is written: over what has the name (written aside
// and renamed, so a link there is replaced, never written through); only as
// a new file; or as a new file in a folder of this user's own (a backup).
enum class WriteMode { Replace, New, NewInOwnFolder };
// False, with the reason, when it cannot be written; `taken`: a new file's
// name was in use.
bool WriteConfigFile(const QString &path, const QString &text, WriteMode mode, QString *error,
                     bool *taken = nullptr);

// Message-table numbers of what the configuration files and transfers say.
namespace ConfigMessages {
constexpr int Saved = 50;            // the configuration was saved in
constexpr int Verified = 51;         // applied and verified
constexpr int Differ = 52;           // applied, the unit holds other values
constexpr int Stopped = 53;          // stopped at
constexpr int WrittenBefore = 54;    // written before it stopped
constexpr int NothingWritten = 55;
constexpr int Backup = 56;           // the backup is in
constexpr int BadFile = 57;          // the file cannot be used
constexpr int Refused = 58;
constexpr int NoAnswer = 59;
constexpr int OtherAnswer = 60;
constexpr int PortClosed = 61;
constexpr int Cancelled = 62;
constexpr int BackupFailed = 63;     // nothing was sent
constexpr int RecordNeedsWired = 64;
constexpr int NothingToApply = 65;
constexpr int Meant = 66;
constexpr int Holds = 67;
constexpr int Reading = 68;
constexpr int Writing = 69;
constexpr int Verifying = 70;
constexpr int ReadFailed = 71;       // reading the unit's configuration failed
// Reasons a file is refused
constexpr int NotText = 72;
constexpr int TooLarge = 73;
constexpr int NoFormat = 74;
constexpr int UnknownSection = 75;
constexpr int OutsideSection = 76;
constexpr int UnknownKey = 77;
constexpr int Twice = 78;
constexpr int BadValue = 79;
constexpr int NoRegister = 80;
constexpr int NotKeyValue = 81;
constexpr int CannotRead = 82;
constexpr int CannotWrite = 98;
constexpr int Record = 83;           // "record"
constexpr int Register = 84;         // "register"
constexpr int Version = 85;          // "version"
constexpr int PresetVerified = 101;   // the FRH preset written and verified
constexpr int PresetDiffers = 102;    // written, the unit holds other values
constexpr int PresetUnverified = 103; // written, but reading it back stopped
constexpr int Disagree = 111;         // record and mirrored register disagree
constexpr int Line = 112;             // "line"
constexpr int MayHaveBeenWritten = 113; // sent, no answer that fits it
constexpr int NotWrittenList = 114;   // not written:
constexpr int VerifiedList = 115;     // written and verified:
constexpr int NotReadBack = 116;      // written, not read back:
constexpr int DiffersFound = 117;     // the unit holds other values:
constexpr int BackupUnreadable = 118; // the backup does not read back as written
constexpr int NotReset = 119;         // the line was lost before the reset
// Answers after a time-out that cannot be trusted (modModem's `inDoubt`)
constexpr int ReadsDisagree = 194;    // read again once the line was clear: another value
constexpr int WriteInDoubt = 195;     // refused after its resend: the first may have been taken
constexpr int ResetStopped = 214;     // stopped before the reset, which was not sent
} // namespace ConfigMessages
