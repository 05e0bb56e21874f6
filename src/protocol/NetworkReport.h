#pragma once
// A network run's report: each plan unit's result (what it held before and
// holds after, its backups, why it failed), the check across the units, the
// run's one outcome, and the files it is kept in. It belongs to its plan by
// the plan's digest, so that another plan's results are never shown as this
// one's.

#include "protocol/UnitConfig.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

struct NetworkUnitResult {
    enum State { Waiting, Running, Verified, Differs, Failed, Stopped };
    QString name, port, role;
    State state = Waiting;
    int exitCode = -1;
    QString device, version;
    QString backup;      // the unit as found: its first backup
    QStringList backups; // every backup made of it, in order
    QString message; // why it failed or stopped, for people
    QString reason;  // the same as a word: refused, no-answer, line-lost, cancelled...
    QJsonObject siteBook; // whether its run's site book entry went in, and if not why
    QJsonObject before, after; // the records as the command line prints them
    QJsonArray differences, writes;
    QDateTime at; // when its result came
    int stage = 0, step = 0, steps = 0; // progress while it runs
    bool done() const { return state >= Verified; }
    // From the JSON document a unit's own run prints.
    void takeResult(const QJsonObject &result);
    // This unit set up once more: the later run's result, the first backup
    // and what the unit held before kept, the backups added to.
    void redoneAs(NetworkUnitResult later);
    // The unit set up as this one was then set up as `other`: what this
    // result said of it is no longer true of any unit.
    void overwrittenBy(const QString &other);
    static QString stateName(State state);
};

struct NetworkReport {
    QDateTime started, finished;
    QString plan;       // the plan's file
    QString planSha256; // PlanDigest of the plan's text
    QString completes;  // the report this one completes (a retry, a unit by hand)
    bool compare = false;
    QList<NetworkUnitResult> units;
    // Across the units that answered: one band, one channel, one master;
    // message numbers, and the units that make it so.
    QList<int> disagreements;
    QStringList disagreementDetails;
    void checkAcrossUnits();
    // The most serious outcome over all units (see ExitSeverity).
    int exitCode() const;
    // "4 units: 3 verified, 1 no answer", in the message table's words.
    QString summary() const;
    QByteArray toJson() const;
    QByteArray toCsv() const;
    static std::optional<NetworkReport> fromJson(const QByteArray &json);
    // The unit of that name (NetworkNameKey), or -1.
    int indexOf(const QString &name) const;
};

// A unit's run (its JSON result) stopped part way: cancelled, or its line
// lost mid-apply. A refusal or no answer is a failure with its reason.
bool StoppedPartWay(const QJsonObject &result);

// The unit read now holds exactly the record another unit's run read back
// after writing it (`after`): it may be that unit, still on the line.
bool HoldsRecordOf(const UnitRecord &holds, const QJsonObject &after);

// Orders exit codes by how serious they are: a lower rank is worse.
// 2, 3, 4, 8, 5, 1, 6, 130, 143, 0; anything else ranks as 1.
int ExitSeverity(int code);

// The SHA-256 (hex) of the plan's lines, each ended by a line feed, without
// its "port =" lines: choosing a port does not make it another plan.
QString PlanDigest(const QString &planText);

// Keeps the report as network-TIME-PID.json and .csv in `folder` (the
// backups'); the JSON's path, or nothing with the reason in `error`.
std::optional<QString> KeepNetworkReport(const NetworkReport &report, const QString &folder,
                                         QString *error);
// The newest report kept in `folder` (of the plan with that digest, when
// one is given), if any.
std::optional<NetworkReport> LastNetworkReport(const QString &folder, QString *path = nullptr,
                                               const QString &planSha256 = QString());
// Writes the report to `path`: CSV when it ends in .csv, else JSON; as
// WriteConfigFile writes with `mode`.
bool ExportNetworkReport(const NetworkReport &report, const QString &path, QString *error,
                         WriteMode mode = WriteMode::Replace, bool *taken = nullptr);

namespace NetworkMessages {
constexpr int BandsDiffer = 236;    // the units that answered do not share one band
constexpr int ChannelsDiffer = 237; // ... one channel
constexpr int NotOneMaster = 238;   // ... exactly one master
constexpr int Units = 218;          // "%1 units:", the summary's head
constexpr int VerifiedWord = 219;   // the summary's words, then differ, port not
                                    // opened, no answer, answers that do not fit,
                                    // refused, failed, stopped, match (227)
constexpr int Completes = 239;      // completes the report
constexpr int OtherPlansReport = 234; // the report is another plan's
constexpr int NothingToRetry = 235;   // every unit in the report is verified
constexpr int AlreadyHolds = 228;   // already holds what was just written to %1: set it up as %2?
constexpr int TakenForSame = 229;   // ... so taken for the same unit; still waiting
constexpr int AdapterGone = 230;    // the adapter is gone; waiting for it to come back
constexpr int SetUpComplete = 232;  // every unit of the plan is verified
constexpr int Remaining = 233;      // units remaining:
constexpr int SetUpAgainAs = 243;   // the unit set up as this one was then set up as %1
constexpr int NotAReport = 244;     // cannot be read as a network report:
constexpr int WaitingCaption = 67;  // "waiting", of the network window's captions
} // namespace NetworkMessages

// One cell of a CSV file: quoted where it must be, and a leading ' before
// what a spreadsheet would run as a formula (=, +, -, @, tab, CR).
QString CsvField(QString text);
