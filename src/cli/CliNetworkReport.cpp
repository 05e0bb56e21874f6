// The end of a network run: each unit's line, the check across the units,
// the report kept (completing an earlier one: a retry, a unit set up by
// hand), the one summary line and the one exit code.
#include "cli/CliNetworkShared.h"

#include "config/modFile.h"
#include "core/AppState.h"
#include "records/SiteBookOutcomes.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>

namespace Cli::NetworkShared {

namespace {

// The plan's units in order, each the result this run gave it, else the
// one the completed report holds (a retried unit keeps what that report
// found first), else waiting.
void completeFrom(const Run &run, NetworkReport &report)
{
    const NetworkReport *base = run.completes ? &*run.completes : nullptr;
    const NetworkPlan &plan = run.wholePlan.units.isEmpty() ? run.plan : run.wholePlan;
    QList<NetworkUnitResult> all;
    for (const NetworkUnit &unit : plan.units) {
        const int ran = report.indexOf(unit.name);
        const int was = base ? base->indexOf(unit.name) : -1;
        NetworkUnitResult u = was >= 0 ? base->units.at(was) : resultOf(unit, unit.port, {});
        if (ran >= 0 && was >= 0)
            u.redoneAs(report.units.at(ran));
        else if (ran >= 0)
            u = report.units.at(ran);
        if (ran < 0 && was < 0) { // never run, in this report or the one it completes
            u.state = NetworkUnitResult::Waiting;
            u.exitCode = -1;
        }
        all << u;
    }
    report.units = all;
    report.completes = base ? QDir::toNativeSeparators(run.completesPath) : QString();
}

} // namespace

// One unit's line: its name, port, result and why, its backup.
QString unitLine(const NetworkUnitResult &u, bool compare)
{
    const QString state = compare && u.state == NetworkUnitResult::Verified
        ? Word(QStringLiteral("matches"))
        : Word(NetworkUnitResult::stateName(u.state));
    QString line = QStringLiteral("%1 %2 %3").arg(Padded(u.name, 16), Padded(u.port, 12), state);
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
    for (const QString &backup : u.backups)
        if (!line.contains(backup)) // a failed unit's message may name it already
            line += QStringLiteral("\n    ") + Message(ConfigMessages::Backup) + QLatin1Char(' ') + backup;
    return line;
}

int loadCompleted(Run &run, const QString &path)
{
    QFile file(path);
    std::optional<NetworkReport> report;
    if (file.open(QIODevice::ReadOnly) && file.size() < 16 * 1024 * 1024)
        report = NetworkReport::fromJson(file.readAll());
    if (!report)
        return NetworkMessages::NotAReport;
    if (report->planSha256 != PlanDigest(run.planText))
        return NetworkMessages::OtherPlansReport;
    run.completes = report;
    run.completesPath = QFileInfo(path).absoluteFilePath();
    return 0;
}

// The report: kept beside the backups, also where --report says, printed.
int finishNetwork(Run &run, NetworkReport &report)
{
    report.planSha256 = PlanDigest(run.planText);
    NetworkReport ran = report; // what this run did decides its exit code
    if (!report.compare && (run.completes || run.unit >= 0))
        completeFrom(run, report);
    report.checkAcrossUnits();
    // Units never run hold what nobody knows: no disagreement of theirs is this run's.
    bool allRun = true;
    for (const NetworkUnitResult &u : std::as_const(report.units))
        allRun = allRun && u.state != NetworkUnitResult::Waiting;
    if (allRun)
        ran.disagreements = report.disagreements;
    int code = ran.exitCode();
    // Each unit's own run recorded it; in processes of their own, what they
    // said of the book is said here.
    if (!run.r.sequential && run.unit < 0)
        for (const NetworkUnitResult &u : std::as_const(ran.units))
            if (u.siteBook.value(QStringLiteral("recorded")) == false)
                Print(stderr, u.name + QStringLiteral(": ")
                                  + NotRecordedText(u.siteBook.value(QStringLiteral("reason")).toString(),
                                                    u.siteBook.value(QStringLiteral("pending")).toString())
                                  + QLatin1Char('\n'));
    QStringList lines;
    for (const NetworkUnitResult &u : std::as_const(report.units))
        lines << unitLine(u, report.compare);
    for (int i = 0; i < report.disagreements.size(); ++i)
        lines << Message(report.disagreements.at(i))
                + (report.disagreementDetails.value(i).isEmpty()
                       ? QString()
                       : QStringLiteral(" (") + report.disagreementDetails.at(i) + QLatin1Char(')'));
    if (!report.completes.isEmpty())
        lines << Message(NetworkMessages::Completes) + QLatin1Char(' ') + report.completes;
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
    // Every unit's line goes to standard output, whatever became of it; the
    // run's one outcome last.
    lines << report.summary();
    if (!run.r.json) {
        Print(stdout, lines.join(QLatin1Char('\n')) + QLatin1Char('\n'));
        lines.clear();
    }
    return run.out.finish(code, QString());
}

} // namespace Cli::NetworkShared
