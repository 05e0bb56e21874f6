// compare: what the unit holds against a configuration file, field by field
// and register by register; a network plan is compared unit by unit as the
// network command's runs do it. Nothing is written.
#include "cli/CliNetworkShared.h"

#include "core/AppState.h"
#include "protocol/UnitConfig.h"
#include "records/SiteBookOutcomes.h"

#include <QJsonArray>
#include <QRegularExpression>

namespace Cli {

using namespace NetworkShared;

namespace {

bool isPlanText(const QString &text)
{
    static const QRegularExpression network(QStringLiteral("^\\s*\\[\\s*network\\s*\\]"),
                                            QRegularExpression::MultilineOption
                                                | QRegularExpression::CaseInsensitiveOption);
    return network.match(text).hasMatch();
}

} // namespace

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
    one.beginEntry(QStringLiteral("compare"));
    UnitConfig read; // what the unit was found to hold, for the site book
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
        read.record = holds;
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
        read.registers[size_t(n)] = holds;
        if (!SameRegisterValue(holds, *meant))
            differ(RegisterName(n), *meant, holds);
    }
    one.out.insert(QStringLiteral("differences"), differences);
    EntryRead(*one.entry, read);
    one.entry->result = differences.isEmpty() ? QStringLiteral("verified") : QStringLiteral("differs");
    one.entry->detail = lines.join(QLatin1Char('\n'));
    if (differences.isEmpty())
        return one.out.finish(ExitCode::Done, Message(CliMessages::AllMatch));
    // The differences are the answer, on standard output.
    if (!run.r.json)
        Print(stdout, lines.join(QLatin1Char('\n')) + QLatin1Char('\n'));
    return one.out.finish(ExitCode::Differences, run.r.json ? lines.join(QLatin1Char('\n')) : QString());
}

} // namespace Cli
