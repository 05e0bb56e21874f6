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
#include "protocol/NetworkReport.h"

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

// A unit answers the link poll ("#", "$") within `ms`; holds the connection's
// exchange gate while it asks.
bool UnitAnswers(CommControl &comm, ReplyTimer &timer, int ms);

namespace NetworkMessages {
constexpr int NoPort = 141;         // no port for the unit
constexpr int SharedPort = 142;     // two units on one port
constexpr int ChildFailed = 143;    // the unit's run ended without a result
} // namespace NetworkMessages
