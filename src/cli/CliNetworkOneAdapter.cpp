// One adapter, many units (network --sequential): each unit is set up when
// it answers on the one port, and the next is the first to answer after it.
#include "cli/CliNetworkParts.h"

#include "cli/CliStops.h"
#include "protocol/NetworkSetup.h"
#include "serial/CommControl.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

namespace Cli::NetworkParts {

namespace {

int waitFor(Run &run, bool answering, int limitMs)
{
    QElapsedTimer waited;
    waited.start();
    while (!StopSignal()) {
        if (UnitAnswers(run.comm, run.timer, TimeScale::scaled(1000)) == answering)
            return 0;
        if (!run.comm.PortOpen())
            return ConfigMessages::PortClosed;
        if (waited.hasExpired(limitMs))
            return CliMessages::NoUnitAnswered;
        QEventLoop pause;
        QTimer::singleShot(TimeScale::scaled(500), &pause, &QEventLoop::quit);
        pause.exec();
    }
    return ConfigMessages::Cancelled;
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
    bool stopped = false;
    for (int i = 0; i < total; ++i) {
        const NetworkUnit &unit = run.plan.units.at(i);
        NetworkUnitResult u;
        if (!stopped) {
            Print(stderr, QStringLiteral("%1 (%2/%3): %4\n").arg(unit.name).arg(i + 1).arg(total)
                              .arg(Message(CliMessages::PlugIn)));
            if (const int why = waitFor(line, true, patience)) {
                stopped = true;
                u = resultOf(unit, line.portName, {});
                u.state = NetworkUnitResult::Failed;
                u.exitCode = ExitFor(why == CliMessages::NoUnitAnswered ? ConfigMessages::NoAnswer : why);
                u.message = Message(why);
            } else {
                Output quiet(true);
                quiet.setQuiet(true);
                oneUnitOn(line.comm, line.timer, quiet, line.portName, false, unit, false);
                u = resultOf(unit, line.portName, quiet.document());
                Print(stderr, unitLine(u, false) + QLatin1Char('\n'));
                if (i + 1 < total && !StopSignal()) {
                    Print(stderr, unit.name + QStringLiteral(": ") + Message(CliMessages::Unplug) + QLatin1Char('\n'));
                    stopped = waitFor(line, false, patience) != 0;
                }
            }
        } else {
            u = resultOf(unit, line.portName, {});
            u.state = NetworkUnitResult::Stopped;
            u.exitCode = ExitCode::Failed;
            u.reason = QStringLiteral("cancelled");
            u.message = Message(ConfigMessages::Cancelled);
        }
        stopped = stopped || StopSignal();
        report.units << u;
    }
    report.finished = QDateTime::currentDateTime();
    return finishNetwork(run, report);
}

} // namespace Cli::NetworkParts
