// The network commands: a plan set up unit by unit (each in a process of its
// own, or one after another on one port), and compare, which writes nothing.
#include "cli/CliNetworkParts.h"

#include "cli/CliStops.h"

#include "config/modFile.h"
#include "core/AppState.h"
#include "protocol/NetworkSetup.h"
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
namespace NetworkParts {

// The fields `meant` names whose value the unit holds otherwise.
QList<Difference> RecordDifferences(const UnitRecord &meant, const UnitRecord &holds)
{
    QList<Difference> differences;
    const auto held = RecordFields(holds);
    for (const auto &[key, value] : RecordFields(meant))
        for (const auto &[heldKey, heldValue] : held)
            if (heldKey == key && heldValue != value)
                differences << Difference{key, value, heldValue};
    return differences;
}

bool isPlanText(const QString &text)
{
    static const QRegularExpression network(QStringLiteral("^\\s*\\[\\s*network\\s*\\]"),
                                            QRegularExpression::MultilineOption
                                                | QRegularExpression::CaseInsensitiveOption);
    return network.match(text).hasMatch();
}

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
        if (found < 0) {
            run.out.finish(ExitCode::BadUsage, Message(CliMessages::NoSuchUnit) + QStringLiteral(": ") + name);
            return false;
        }
        ports[found] = port;
    }
    return true;
}

// One unit's line: its name, port, result and why, its backup.
QString unitLine(const NetworkUnitResult &u, bool compare)
{
    QString state = NetworkUnitResult::stateName(u.state);
    if (compare && u.state == NetworkUnitResult::Verified)
        state = QStringLiteral("matches");
    QString line = QStringLiteral("%1 %2 %3").arg(u.name.leftJustified(16), u.port.leftJustified(12), state);
    for (const QJsonValue &d : u.differences) {
        const QJsonObject o = d.toObject();
        line += QStringLiteral("\n    %1: %2 %3, %4 %5")
                    .arg(o.value(QStringLiteral("what")).toString(), Message(ConfigMessages::Meant),
                         o.value(QStringLiteral("meant")).toString(), Message(ConfigMessages::Holds),
                         o.value(QStringLiteral("holds")).toString());
    }
    if (u.state != NetworkUnitResult::Verified && u.state != NetworkUnitResult::Differs
        && !u.message.isEmpty())
        line += QStringLiteral("\n    ") + QString(u.message).replace(QLatin1Char('\n'), QStringLiteral("\n    "));
    if (!u.backup.isEmpty())
        line += QStringLiteral("\n    ") + Message(ConfigMessages::Backup) + QLatin1Char(' ') + u.backup;
    return line;
}

// The report: kept beside the backups, also where --report says, printed.
int finishNetwork(Run &run, NetworkReport &report)
{
    report.checkAcrossUnits();
    int code = report.exitCode();
    QStringList lines;
    for (const NetworkUnitResult &u : std::as_const(report.units))
        lines << unitLine(u, report.compare);
    for (int m : std::as_const(report.disagreements))
        lines << Message(m);
    QString error;
    if (!report.compare) {
        if (const auto kept = KeepNetworkReport(report, BackupFolder(), &error)) {
            lines << Message(CliMessages::ReportKept) + QLatin1Char(' ') + QDir::toNativeSeparators(*kept);
            run.out.insert(QStringLiteral("report"), QDir::toNativeSeparators(*kept));
        } else {
            lines << Message(NotWrittenMessage) + QLatin1Char(' ') + BackupFolder() + QStringLiteral(": ") + error;
            code = code ? code : ExitCode::Failed;
        }
    }
    if (!run.r.report.isEmpty()) {
        if (ExportNetworkReport(report, run.r.report, &error))
            lines << Message(CliMessages::ReportKept) + QLatin1Char(' ') + QDir::toNativeSeparators(run.r.report);
        else {
            lines << Message(NotWrittenMessage) + QLatin1Char(' ') + run.r.report + QStringLiteral(": ") + error;
            code = code ? code : ExitCode::Failed;
        }
    }
    const QJsonObject doc = QJsonDocument::fromJson(report.toJson()).object();
    for (auto it = doc.begin(); it != doc.end(); ++it)
        if (it.key() != QLatin1String("exit"))
            run.out.insert(it.key(), it.value());
    // Every unit's line goes to standard output, whatever became of it.
    if (!run.r.json) {
        Print(stdout, lines.join(QLatin1Char('\n')) + QLatin1Char('\n'));
        lines.clear();
    }
    return run.out.finish(code, QString());
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
    QObject::connect(&setup, &NetworkSetup::traced, [&](int index, const QString &row) {
        Print(stderr, setup.report().units.at(index).name + QStringLiteral(": ") + row + QLatin1Char('\n'));
    });
    QEventLoop loop;
    QObject::connect(&setup, &NetworkSetup::finished, &loop, &QEventLoop::quit);
    if (!run.r.json && !run.r.compareOnly)
        QObject::connect(&setup, &NetworkSetup::unitChanged, [&](int index) {
            const NetworkUnitResult &u = setup.report().units.at(index);
            if (u.done() && IsTerminal(stderr))
                Print(stderr, u.name + QStringLiteral(": ") + NetworkUnitResult::stateName(u.state)
                                  + QLatin1Char('\n'));
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
              bool compareOnly, const NetworkUnit &unit, bool progressLines)
{
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
        return out.finish(differences.isEmpty() ? ExitCode::Done : ExitCode::Differences, QString());
    }
    UnitConfig config;
    config.record = unit.record;
    TransferProgress progress = [progressLines](int stage, int n, int total) {
        if (progressLines)
            Print(stderr, QStringLiteral("progress %1 %2 %3\n").arg(stage).arg(n).arg(total));
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
    return out.applied(result, true, false);
}

int oneUnit(Run &run, const NetworkUnit &unit, bool progressLines)
{
    return oneUnitOn(run.comm, run.timer, run.out, run.portName, run.r.compareOnly, unit, progressLines);
}

} // namespace NetworkParts

using namespace NetworkParts;

int prepareNetwork(Run &run)
{
    ConfigFileError error;
    const auto text = ReadConfigFileText(run.r.file, &error);
    const auto plan = text ? ParseNetworkPlan(*text, &error) : std::nullopt;
    if (!plan)
        return run.out.finish(ExitCode::BadFile, error.describe());
    run.plan = *plan;
    run.planText = *text;
    if (!run.r.unit.isEmpty()) {
        for (int i = 0; i < plan->units.size(); ++i)
            if (NetworkNameKey(plan->units.at(i).name) == NetworkNameKey(run.r.unit))
                run.unit = i;
        if (run.unit < 0)
            return run.out.finish(ExitCode::BadUsage, Message(CliMessages::NoSuchUnit)
                                                          + QStringLiteral(": ") + run.r.unit);
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
        one.out.insert(QStringLiteral("command"), QStringLiteral("network"));
        one.out.insert(QStringLiteral("unit"), unit.name);
        return oneUnit(one, unit, run.r.json);
    }
    return run.r.sequential ? oneAfterAnother(run) : inParallel(run);
}

int prepareCompare(Run &run)
{
    ConfigFileError error;
    const auto text = ReadConfigFileText(run.r.file, &error);
    if (!text)
        return run.out.finish(ExitCode::BadFile, error.describe());
    if (isPlanText(*text))
        return prepareNetwork(run);
    const auto parsed = ParseConfigText(*text, &error);
    if (!parsed)
        return run.out.finish(ExitCode::BadFile, error.describe());
    if (parsed->isEmpty())
        return run.out.finish(ExitCode::BadFile, Message(ConfigMessages::NothingToApply));
    run.file = *parsed;
    return -1;
}

int compare(Run &run)
{
    if (!run.plan.units.isEmpty())
        return inParallel(run);
    CliRequest on = run.r;
    Run one(on);
    if (const int code = one.openPort(); code >= 0)
        return code;
    one.out.insert(QStringLiteral("command"), QStringLiteral("compare"));
    QJsonArray differences;
    QStringList lines;
    const auto differ = [&](const QString &what, const QString &meant, const QString &holds) {
        differences.append(QJsonObject{{QStringLiteral("what"), what},
                                       {QStringLiteral("meant"), meant},
                                       {QStringLiteral("holds"), holds}});
        lines << QStringLiteral("%1: %2 %3, %4 %5")
                     .arg(what, Message(ConfigMessages::Meant), meant, Message(ConfigMessages::Holds), holds);
    };
    if (!run.file.record.isEmpty()) {
        UnitRecord holds;
        if (const int failed = ReadRecord(one.comm, one.timer, holds))
            return one.out.exchangeFailed(failed, Message(ConfigMessages::Record));
        one.out.insert(QStringLiteral("record"), RecordJson(holds));
        for (const Difference &d : RecordDifferences(run.file.record, holds))
            differ(d.what, d.meant, d.holds);
    }
    for (int n = 0; n < UnitConfig::Registers; ++n) {
        const auto &meant = run.file.registers[size_t(n)];
        if (!meant)
            continue;
        QString holds;
        if (const int failed = ReadOneRegister(one.comm, one.timer, run.r.path, n, holds))
            return one.out.exchangeFailed(failed, RegisterName(n));
        if (!SameRegisterValue(holds, *meant))
            differ(RegisterName(n), *meant, holds);
    }
    one.out.insert(QStringLiteral("differences"), differences);
    if (differences.isEmpty())
        return one.out.finish(ExitCode::Done, Message(CliMessages::AllMatch));
    // The differences are the answer, on standard output.
    if (!run.r.json)
        Print(stdout, lines.join(QLatin1Char('\n')) + QLatin1Char('\n'));
    return one.out.finish(ExitCode::Differences, run.r.json ? lines.join(QLatin1Char('\n')) : QString());
}

} // namespace Cli
