#pragma once
// Setting up (or comparing) a network plan's units, each on its own port at
// once: one child process of the command line per unit,
//
//   qmlsetup network - --unit NAME --port PORT --json     (the plan on its input)
//
// so that every port has one process, one serial control and one exchange
// at a time, and no state is shared between ports. The windows and the
// command line both run it; its report is kept beside the backups.

#include "protocol/NetworkPlan.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QPair>
#include <QStringList>
#include <functional>
#include <optional>

class CommControl;
class QProcess;
class ReplyTimer;

struct NetworkUnitResult {
    enum State { Waiting, Running, Verified, Differs, Failed, Stopped };
    QString name, port, role;
    State state = Waiting;
    int exitCode = -1;
    QString device, version, backup;
    QString message; // why it failed or stopped, for people
    QString reason;  // the same as a word: refused, no-answer, line-lost, cancelled...
    QJsonObject before, after; // the records as the command line prints them
    QJsonArray differences, writes;
    int stage = 0, step = 0, steps = 0; // progress while it runs
    bool done() const { return state >= Verified; }
    // From the JSON document a unit's own run prints.
    void takeResult(const QJsonObject &result);
    static QString stateName(State state);
};

struct NetworkReport {
    QDateTime started, finished;
    QString plan; // the plan's file
    bool compare = false;
    QList<NetworkUnitResult> units;
    // Across the verified units: one band, one channel, one master; message numbers.
    QList<int> disagreements;
    void checkAcrossUnits();
    // 0 when every unit is verified (matches) and they agree; else the exit
    // code of the first unit in the plan's order that was not.
    int exitCode() const;
    QByteArray toJson() const;
    QByteArray toCsv() const;
    static std::optional<NetworkReport> fromJson(const QByteArray &json);
};

// Keeps the report as network-TIME-PID.json and .csv in `folder` (the
// backups'); the JSON's path, or nothing with the reason in `error`.
std::optional<QString> KeepNetworkReport(const NetworkReport &report, const QString &folder,
                                         QString *error);
// The newest report kept in `folder`, if any.
std::optional<NetworkReport> LastNetworkReport(const QString &folder, QString *path = nullptr);
// Writes the report to `path`: CSV when it ends in .csv, else JSON.
bool ExportNetworkReport(const NetworkReport &report, const QString &path, QString *error);

class NetworkSetup : public QObject {
    Q_OBJECT
public:
    // `program`: the command line's program file; `options`: what each run
    // is given besides (the serial settings, --trace).
    NetworkSetup(const QString &program, const QStringList &options, QObject *parent = nullptr);
    ~NetworkSetup() override;

    // Each unit of the plan on the port given for it (`ports`, by unit,
    // else the plan's own). Units without a port, or two on one device, are
    // the caller's to refuse first (PlanPortProblem).
    void start(const QString &planText, const QString &planPath, const NetworkPlan &plan,
               const QList<QString> &ports, bool compare);
    // What each unit's run is handed as its port (a COMn the caller maps
    // itself, as its device); the report keeps the port's own name.
    void setPortResolver(const std::function<QString(const QString &)> &resolve) { m_resolve = resolve; }
    // Each unit stops after the exchange under way and reports what it holds.
    void cancel();
    bool running() const { return m_running > 0 || !m_queue.isEmpty(); }
    const NetworkReport &report() const { return m_report; }

    // At most this many units at once; the rest wait their turn.
    static constexpr int MaxAtOnce = 64;

signals:
    void unitChanged(int index);
    // A row of the unit's --trace, as its run wrote it.
    void traced(int index, const QString &row);
    void finished();

private:
    void launch(int index);
    void readProgress(int index);
    void ended(int index);

    QString m_program;
    QStringList m_options;
    QByteArray m_planText;
    QList<QProcess *> m_processes;
    QList<int> m_queue;
    int m_running = 0;
    NetworkReport m_report;
    std::function<QString(const QString &)> m_resolve;
};

// Why the plan cannot be set up on these ports: a unit without one (message
// and its name), or two units on one device; empty when it can. `resolve`
// gives the device a port reaches.
QString PlanPortProblem(const NetworkPlan &plan, const QList<QString> &ports,
                        const std::function<QString(const QString &)> &resolve);

// A unit's run (its JSON result) stopped part way: cancelled, or its line
// lost mid-apply. A refusal or no answer is a failure with its reason.
bool StoppedPartWay(const QJsonObject &result);

// A unit answers the link poll ("#", "$") within `ms`; holds the connection's
// exchange gate while it asks.
bool UnitAnswers(CommControl &comm, ReplyTimer &timer, int ms);

namespace NetworkMessages {
constexpr int BandsDiffer = 138;    // the verified units do not share one band
constexpr int ChannelsDiffer = 139; // ... one channel
constexpr int NotOneMaster = 140;   // ... exactly one master
constexpr int NoPort = 141;         // no port for the unit
constexpr int SharedPort = 142;     // two units on one port
constexpr int ChildFailed = 143;    // the unit's run ended without a result
} // namespace NetworkMessages
