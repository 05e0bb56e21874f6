// One adapter, many units (network --sequential): each unit is set up when
// it answers on the one port, and the next is the first to answer after it
// was unplugged. A unit that falls quiet for a moment is not unplugged, and
// one that comes back holding what was just written is the same unit until
// the operator says otherwise.
#include "cli/CliNetworkShared.h"

#include "cli/CliProgress.h"
#include "cli/CliStops.h"
#include "protocol/NetworkSetup.h"
#include "protocol/UnitTransfer.h"
#include "serial/CommControl.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <cstdio>
#include <poll.h>
#include <unistd.h>

namespace Cli::NetworkShared {

namespace {

constexpr int UnpluggedAfterMs = 3000; // no answer to any poll for this long
constexpr int PollWaitMs = 1000, PollPauseMs = 500; // the wait is scaled where it is timed

void pause(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// The line, its adapter plugged back in when it went; the operator told once.
bool lineThere(Run &line, bool &gone)
{
    if (line.comm.PortOpen() || line.reopenPort()) {
        gone = false;
        return true;
    }
    if (!gone)
        Print(stderr, Message(NetworkMessages::AdapterGone) + QLatin1Char('\n'));
    gone = true;
    return false;
}

bool answers(Run &line, bool &gone)
{
    return lineThere(line, gone) && UnitAnswers(line.comm, line.timer, PollWaitMs);
}

// 0 once a unit answers; else why not (stopped, no unit in time).
int waitForUnit(Run &line, int limitMs)
{
    QElapsedTimer waited;
    waited.start();
    bool gone = false;
    while (!StopSignal()) {
        if (answers(line, gone))
            return 0;
        if (waited.hasExpired(limitMs))
            return CliMessages::NoUnitAnswered;
        pause(TimeScale::scaled(PollPauseMs));
    }
    return ConfigMessages::Cancelled;
}

// 0 once nothing has answered for UnpluggedAfterMs; an adapter gone is
// waited out like any quiet spell.
int waitForUnplug(Run &line, int limitMs)
{
    QElapsedTimer waited, quiet;
    waited.start();
    quiet.start();
    bool gone = false;
    while (!StopSignal()) {
        if (answers(line, gone))
            quiet.restart();
        else if (quiet.hasExpired(TimeScale::scaled(UnpluggedAfterMs)))
            return 0;
        if (waited.hasExpired(limitMs))
            return CliMessages::NoUnitAnswered;
        pause(TimeScale::scaled(PollPauseMs));
    }
    return ConfigMessages::Cancelled;
}

// The operator's answer on the terminal; a stop while it waits is a no.
bool operatorSaysYes()
{
    pollfd in[2] = {{STDIN_FILENO, POLLIN, 0}, {StopPipe(), POLLIN, 0}};
    while (!StopSignal()) {
        if (::poll(in, StopPipe() >= 0 ? 2 : 1, 200) > 0 && (in[0].revents & (POLLIN | POLLHUP))) {
            char said[64] = {};
            return std::fgets(said, sizeof said, stdin) && (said[0] == 'y' || said[0] == 'Y');
        }
    }
    Print(stderr, QStringLiteral("\n")); // the question's line ended all the same
    return false;
}

// The unit that answers holds exactly what the last unit's run read back:
// set it up as `next` only when an operator at a terminal says so, and then
// the last unit's result is no longer true of any unit.
bool sameUnitAgain(Run &line, NetworkUnitResult &last, const QString &next)
{
    UnitRecord holds;
    if (last.after.isEmpty() || ReadRecord(line.comm, line.timer, holds) != 0 || !HoldsRecordOf(holds, last.after))
        return false;
    if (IsTerminal(stdin) && IsTerminal(stderr)) {
        Print(stderr, next + QStringLiteral(": ") + Message(NetworkMessages::AlreadyHolds).arg(last.name, next)
                          + QStringLiteral(" [y/N] "));
        if (operatorSaysYes()) {
            last.overwrittenBy(next);
            return false;
        }
    }
    Print(stderr, next + QStringLiteral(": ") + Message(NetworkMessages::TakenForSame).arg(last.name, next)
                      + QLatin1Char('\n'));
    return true;
}

NetworkUnitResult notReached(const NetworkUnit &unit, const QString &port, int exitCode, int why,
                             const QString &reason)
{
    NetworkUnitResult u = resultOf(unit, port, {});
    u.state = why == ConfigMessages::Cancelled ? NetworkUnitResult::Stopped : NetworkUnitResult::Failed;
    u.exitCode = exitCode;
    u.reason = reason;
    u.message = Message(why);
    return u;
}

} // namespace

int oneAfterAnother(Run &run)
{
    QList<QString> ports;
    if (!portsFor(run, ports))
        return ExitCode::BadUsage;
    QString port = run.r.port;
    for (int i = 0; i < run.plan.units.size(); ++i) {
        const QString p = ports.value(i).isEmpty() ? run.plan.units.at(i).port : ports.value(i);
        if (run.r.port.isEmpty() && !p.isEmpty() && !port.isEmpty() && deviceOf(p) != deviceOf(port))
            return run.out.finish(ExitCode::BadUsage, Message(CliMessages::PortsDiffer) + QStringLiteral(": ")
                                                          + port + QStringLiteral(", ") + p);
        if (port.isEmpty())
            port = p;
    }
    CliRequest on = run.r;
    on.port = port;
    Run line(on);
    if (const int code = line.openPort(); code >= 0)
        return code;
    CatchStops();
    NetworkReport report;
    report.plan = run.r.file;
    report.started = QDateTime::currentDateTime();
    const int total = int(run.plan.units.size());
    const int patience = TimeScale::scaled(10 * 60 * 1000);
    report.compare = run.r.compareOnly;
    int why = 0; // once a wait failed, the units after it are not reached, for the same reason
    int last = -1; // the last unit whose record was read back
    for (int i = 0; i < total; ++i) {
        const NetworkUnit &unit = run.plan.units.at(i);
        if (!why) {
            Print(stderr, QStringLiteral("%1 (%2/%3): %4\n").arg(unit.name).arg(i + 1).arg(total)
                              .arg(Message(CliMessages::PlugIn)));
            NetworkUnitResult none;
            // Only a unit just written can come back as itself; compared units are alike.
            while (!(why = waitForUnit(line, patience)) && !run.r.compareOnly
                   && sameUnitAgain(line, last < 0 ? none : report.units[last], unit.name))
                if ((why = waitForUnplug(line, patience)))
                    break;
        }
        if (why) {
            const bool stop = why == ConfigMessages::Cancelled;
            report.units << notReached(unit, line.portName,
                                       stop ? ExitCode::Failed : ExitFor(ConfigMessages::NoAnswer), why,
                                       stop ? QStringLiteral("cancelled") : QStringLiteral("no-answer"));
            continue;
        }
        Output quiet(true);
        quiet.setQuiet(true);
        oneUnitOn(line.comm, line.timer, quiet, line.portName, line.device, run.r.compareOnly, unit,
                  UnitProgress(UnitProgressStyle(run.r), unit.name));
        NetworkUnitResult u = resultOf(unit, line.portName, quiet.document());
        Print(stderr, unitLine(u, run.r.compareOnly) + QLatin1Char('\n'));
        report.units << u;
        if (!u.after.isEmpty())
            last = int(report.units.size()) - 1;
        if (i + 1 < total && !StopSignal()) {
            Print(stderr, unit.name + QStringLiteral(": ") + Message(CliMessages::Unplug) + QLatin1Char('\n'));
            why = waitForUnplug(line, patience);
        }
        why = why ? why : (StopSignal() ? int(ConfigMessages::Cancelled) : 0);
    }
    report.finished = QDateTime::currentDateTime();
    return finishNetwork(run, report);
}

} // namespace Cli::NetworkShared
