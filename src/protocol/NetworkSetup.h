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
class QTimer;
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
    // the caller's to refuse first (PlanPortProblem). While a process of the
    // run before is still going (cancelled or not), the new run is queued,
    // never ending one: it begins once the last has ended and that run's
    // finished() has been emitted. A later start() replaces one queued.
    void start(const QString &planText, const QString &planPath, const NetworkPlan &plan,
               const QList<QString> &ports, bool compare);
    // What each unit's run is handed as its port (a COMn the caller maps
    // itself, as its device); the report keeps the port's own name.
    void setPortResolver(const std::function<QString(const QString &)> &resolve) { m_resolve = resolve; }
    // Each unit stops after the exchange under way and reports what it holds:
    // a run is asked once, and not before it listens for the request (asked
    // sooner, it would end at once without its result). A queued run is
    // dropped.
    void cancel();
    // Until every process of the run has ended, and while a run is queued.
    bool running() const { return m_running > 0 || !m_queue.isEmpty() || m_next.has_value(); }
    const NetworkReport &report() const { return m_report; }

    // At most this many units at once; the rest wait their turn.
    static constexpr int MaxAtOnce = 64;

signals:
    void unitChanged(int index);
    // A row of the unit's --trace, as its run wrote it.
    void traced(int index, const QString &row);
    void finished();

private:
    struct Request {
        QString planText, planPath;
        NetworkPlan plan;
        QList<QString> ports;
        bool compare = false;
    };
    // One unit's run. A pseudo-terminal stays exclusive to a run that dies
    // holding it until its other end closes: `keep` holds it open beside
    // the run (-1: not kept), to take that back.
    struct Child {
        QProcess *process = nullptr;
        qint64 pid = 0;
        QString port; // as the run was handed it
        QDateTime started;
        int keep = -1;
        bool stopAsked = false, stopSent = false;
    };
    void begin(const Request &request);
    void launch(int index);
    void readProgress(int index);
    void ended(int index);
    void sendStops();
    void freePort(Child &child, bool died);
    QStringList backupsOf(const Child &child) const;
    void runEnded();

    QString m_program;
    QStringList m_options;
    QByteArray m_planText;
    QList<Child> m_children;
    QList<int> m_queue;
    int m_running = 0;
    std::optional<Request> m_next;
    QTimer *m_stopping = nullptr;
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
