// The network commands: a plan set up unit by unit (each in a process of its
// own, or one after another on one port), and compare, which writes nothing.
#include "cli/CliNetworkShared.h"

#include "cli/CliProgress.h"
#include "cli/CliStops.h"

#include "config/modFile.h"
#include "core/AppState.h"
#include "protocol/NetworkSetup.h"
#include "records/SiteBookOutcomes.h"
#include "serial/CommControl.h"
#include "serial/mod232C.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QSocketNotifier>

namespace Cli {
namespace NetworkShared {

// The fields `meant` names whose value the unit holds otherwise.
// The device a port reaches, whatever name leads to it.
QString deviceOf(const QString &port)
{
    QString device = port;
    if (port.startsWith(QLatin1String("COM"))) {
        CommControl comm;
        comm.setLinkDir(WorkFolder());
        device = comm.deviceFor(port.mid(3).toInt());
    }
    const QString canonical = QFileInfo(device).canonicalFilePath();
    return canonical.isEmpty() ? device : canonical;
}

// Each unit's port for this run: --ports NAME=PORT, else the plan's.
bool portsFor(Run &run, QList<QString> &ports)
{
    ports = QList<QString>(run.plan.units.size());
    for (const QString &pair : run.r.ports) {
        const QString name = pair.section(QLatin1Char('='), 0, 0).trimmed();
        const QString port = pair.section(QLatin1Char('='), 1).trimmed();
        int found = -1;
        for (int i = 0; i < run.plan.units.size(); ++i)
            if (NetworkNameKey(run.plan.units.at(i).name) == NetworkNameKey(name))
                found = i;
        bool inPlan = found >= 0; // a retry's verified units are not run again
        for (const NetworkUnit &u : std::as_const(run.wholePlan.units))
            inPlan = inPlan || NetworkNameKey(u.name) == NetworkNameKey(name);
        if (found < 0 && inPlan)
            continue;
        if (found < 0) {
            run.out.finish(ExitCode::BadUsage, Message(CliMessages::NoSuchUnit) + QStringLiteral(": ") + name);
            return false;
        }
        ports[found] = port;
    }
    return true;
}

// The units of the plan each in a process of its own, all at once.
int inParallel(Run &run)
{
    QList<QString> ports;
    if (!portsFor(run, ports))
        return ExitCode::BadUsage;
    if (const QString problem = PlanPortProblem(run.plan, ports, deviceOf); !problem.isEmpty())
        return run.out.finish(ExitCode::BadUsage, problem);
    QStringList options;
    const auto pass = [&](const char *name, const QString &value) {
        if (!value.isEmpty())
            options << QLatin1String(name) << value;
    };
    pass("--baud", run.r.baud);
    pass("--data-bits", run.r.dataBits);
    pass("--parity", run.r.parity);
    pass("--stop-bits", run.r.stopBits);
    if (run.r.trace)
        options << QStringLiteral("--trace");
    NetworkSetup setup(QCoreApplication::applicationFilePath(), options);
    // Each running unit's line, from the progress records its run prints.
    ProgressBoard board(IsTerminal(stderr) ? ProgressBoard::Live
                                           : run.r.progress ? ProgressBoard::Lines : ProgressBoard::None);
    QObject::connect(&setup, &NetworkSetup::traced, [&](int index, const QString &row) {
        board.print(setup.report().units.at(index).name + QStringLiteral(": ") + row);
    });
    QEventLoop loop;
    QObject::connect(&setup, &NetworkSetup::finished, &loop, &QEventLoop::quit);
    const bool results = !run.r.json && !run.r.compareOnly && IsTerminal(stderr);
    QObject::connect(&setup, &NetworkSetup::unitChanged, [&](int index) {
        const NetworkUnitResult &u = setup.report().units.at(index);
        if (u.done())
            board.finish(index, results ? u.name + QStringLiteral(": ") + Word(NetworkUnitResult::stateName(u.state))
                                        : QString());
        else if (u.steps > 0)
            board.update(index, u.name, u.stage, u.step, u.steps);
    });
    CatchStops(); // each signal a stop request: every unit's run ends after its exchange
    std::unique_ptr<QSocketNotifier> stop;
    if (StopPipe() >= 0) {
        stop = std::make_unique<QSocketNotifier>(StopPipe(), QSocketNotifier::Read);
        QObject::connect(stop.get(), &QSocketNotifier::activated, &setup, [&] {
            TakeStopByte();
            setup.cancel();
        });
    }
    setup.start(run.planText, run.r.file, run.plan, ports, run.r.compareOnly);
    if (setup.running())
        loop.exec();
    NetworkReport report = setup.report();
    return finishNetwork(run, report);
}

// A unit's result from the document its own run prints.
NetworkUnitResult resultOf(const NetworkUnit &unit, const QString &port, const QJsonObject &o)
{
    NetworkUnitResult u;
    u.name = unit.name;
    u.port = port;
    u.role = unit.record.lists[0] == QLatin1Char('0') ? QStringLiteral("master") : QStringLiteral("slave");
    u.takeResult(o);
    return u;
}

// One unit on the open port: set up (backup, write, verify) or compared.
// The result goes into `out` as a unit's run prints it.
int oneUnitOn(CommControl &comm, ReplyTimer &timer, Output &out, const QString &portName,
              const QString &device, bool compareOnly, const NetworkUnit &unit,
              const TransferProgress &shown)
{
    SiteBookEntry entry = SiteBookEntry::begin(compareOnly ? QStringLiteral("compare") : QStringLiteral("network"));
    SiteBookRecorder::setPort(entry, portName, device);
    entry.unit = unit.name;
    // Recorded as it stands when the outcome is printed, within this call.
    out.setRecorder([&entry](int code, const QString &text, QJsonObject &doc) {
        RecordOutcome(entry, code, text, doc);
    });
    if (compareOnly) {
        QString version;
        if (const int failed = ReadVersion(comm, timer, version))
            return out.exchangeFailed(failed, Message(ConfigMessages::Version));
        UnitRecord holds;
        if (const int failed = ReadRecord(comm, timer, holds))
            return out.exchangeFailed(failed, Message(ConfigMessages::Record));
        QJsonArray differences;
        for (const Difference &d : RecordDifferences(unit.record, holds))
            differences.append(QJsonObject{{QStringLiteral("what"), d.what},
                                           {QStringLiteral("meant"), d.meant},
                                           {QStringLiteral("holds"), d.holds}});
        out.insert(QStringLiteral("version"), version);
        out.insert(QStringLiteral("after"), RecordJson(holds));
        out.insert(QStringLiteral("differences"), differences);
        UnitConfig read;
        read.version = version;
        read.record = holds;
        EntryRead(entry, read);
        entry.result = differences.isEmpty() ? QStringLiteral("verified") : QStringLiteral("differs");
        for (const Difference &d : RecordDifferences(unit.record, holds))
            entry.detail += QStringLiteral("%1: %2 %3, %4 %5\n")
                                .arg(d.what, Message(ConfigMessages::Meant), d.meant, Message(ConfigMessages::Holds),
                                     d.holds);
        return out.finish(differences.isEmpty() ? ExitCode::Done : ExitCode::Differences, QString());
    }
    UnitConfig config;
    config.record = unit.record;
    TransferProgress progress = [&shown](int stage, int n, int total) {
        if (shown)
            shown(stage, n, total);
        return !StopSignal();
    };
    ApplyResult result = ApplyUnitConfig(comm, timer, TransferPath::Wired, config,
                                         BackupFolder(), portName, progress);
    // Stopped part way: what the unit holds now, when it still answers.
    if (!result.after && result.outcome != ApplyResult::NotStarted
        && result.failure.reason != ConfigMessages::PortClosed) {
        UnitRecord holds;
        if (ReadRecord(comm, timer, holds) == 0)
            result.after = holds;
    }
    if (!result.before.version.isEmpty())
        out.insert(QStringLiteral("version"), result.before.version);
    if (result.before.record.isComplete())
        out.insert(QStringLiteral("before"), RecordJson(result.before.record));
    if (result.after)
        out.insert(QStringLiteral("after"), RecordJson(*result.after));
    static const char *const outcomes[] = {"verified", "differ", "stopped", "not-started"};
    out.insert(QStringLiteral("outcome"), QLatin1String(outcomes[result.outcome]));
    EntryApplied(entry, result, config);
    return out.applied(result, true, false);
}

// The set-up's own run (--json): its progress as records the set-up reads,
// beside the traced rows; else as any unit's run shows it.
int oneUnitForSetUp(Run &run, const NetworkUnit &unit, bool records)
{
    const TransferProgress progress = [](int stage, int n, int total) {
        Print(stderr, QStringLiteral("progress %1 %2 %3\n").arg(stage).arg(n).arg(total));
        return true;
    };
    return oneUnitOn(run.comm, run.timer, run.out, run.portName, run.device, run.r.compareOnly, unit,
                     records ? progress : UnitProgress(UnitProgressStyle(run.r), unit.name));
}

} // namespace NetworkShared

using namespace NetworkShared;

int prepareNetwork(Run &run)
{
    ConfigFileError error;
    const auto text = ReadConfigFileText(run.r.file, &error);
    const auto plan = text ? ParseNetworkPlan(*text, &error) : std::nullopt;
    if (!plan)
        return run.out.finish(ExitCode::BadFile, error.describe());
    run.plan = *plan;
    run.planText = *text;
    SiteBookPlan(run);
    if (!run.r.unit.isEmpty()) {
        for (int i = 0; i < plan->units.size(); ++i)
            if (NetworkNameKey(plan->units.at(i).name) == NetworkNameKey(run.r.unit))
                run.unit = i;
        if (run.unit < 0)
            return run.out.finish(ExitCode::BadUsage, Message(CliMessages::NoSuchUnit)
                                                          + QStringLiteral(": ") + run.r.unit);
    }
    if (!run.r.retry.isEmpty()) {
        if (const int why = loadCompleted(run, run.r.retry))
            return run.out.finish(ExitCode::BadUsage, Message(why) + QLatin1Char(' ') + run.r.retry);
        // Only the units the report did not verify run again.
        run.wholePlan = run.plan;
        run.plan.units.clear();
        for (const NetworkUnit &u : std::as_const(run.wholePlan.units)) {
            const int was = run.completes->indexOf(u.name);
            if (was < 0 || run.completes->units.at(was).state != NetworkUnitResult::Verified)
                run.plan.units << u;
        }
        if (run.plan.units.isEmpty())
            return run.out.finish(ExitCode::Done, Message(NetworkMessages::NothingToRetry));
    }
    return -1;
}

int network(Run &run)
{
    if (run.unit >= 0) {
        const NetworkUnit &unit = run.plan.units.at(run.unit);
        CliRequest on = run.r;
        if (on.port.isEmpty())
            on.port = unit.port;
        Run one(on);
        if (const int code = one.openPort(); code >= 0)
            return code;
        CatchStops();
        // The set-up's own runs (the plan on standard input) print the
        // unit's result for it; by hand, the plan's report is completed.
        if (run.r.file == QLatin1String("-")) {
            one.out.insert(QStringLiteral("command"), QStringLiteral("network"));
            one.out.insert(QStringLiteral("unit"), unit.name);
            return oneUnitForSetUp(one, unit, run.r.json);
        }
        Output quiet(true);
        quiet.setQuiet(true);
        oneUnitOn(one.comm, one.timer, quiet, one.portName, one.device, run.r.compareOnly, unit,
                  UnitProgress(UnitProgressStyle(run.r), unit.name));
        QString last;
        if (LastNetworkReport(BackupFolder(), &last, PlanDigest(run.planText)))
            loadCompleted(run, last);
        NetworkReport report;
        report.plan = run.r.file;
        report.compare = run.r.compareOnly;
        report.started = QDateTime::currentDateTime();
        report.units << resultOf(unit, one.portName, quiet.document());
        report.finished = QDateTime::currentDateTime();
        return finishNetwork(run, report);
    }
    return run.r.sequential ? oneAfterAnother(run) : inParallel(run);
}

} // namespace Cli
