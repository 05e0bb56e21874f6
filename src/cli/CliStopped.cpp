// A writing command stopped by a signal: what a sudden end would leave, kept
// ready before each exchange, and after a stop what the unit holds.
#include "cli/CliRun.h"

#include "cli/CliStops.h"
#include "protocol/TrafficMeaning.h"
#include "records/SiteBookOutcomes.h"

#include <QJsonObject>

namespace Cli {

StoppableWrites::StoppableWrites(Run &run, const UnitConfig &writes, TransferPath path,
                                 TransferProgress shown)
    : m_run(run), m_path(path), m_writes(writes), m_shown(std::move(shown))
{
    // The order the transfer writes in: the record, then the registers.
    if (!writes.record.isEmpty()) {
        m_names << Message(ConfigMessages::Record);
        m_targets << -1;
    }
    for (int n = 0; n < UnitConfig::Registers; ++n)
        if (writes.registers[size_t(n)]) {
            m_names << RegisterName(n);
            m_targets << n;
        }
    CatchStops();
    PrepareEndAtOnce(run.device);
}

TransferProgress StoppableWrites::progress()
{
    return [this](int stage, int n, int total) {
        if (StopSignal())
            return false;
        if (stage == ConfigMessages::Writing)
            ++m_begun;
        armAtOnce(stage);
        return !m_shown || m_shown(stage, n, total);
    };
}

namespace {

// "Written before it stopped: record, register 12"
QString listed(int message, const QStringList &names)
{
    return Message(message) + QLatin1Char(' ') + names.join(QStringLiteral(", "));
}

} // namespace

// Before each exchange: the writes done and the one that goes out now.
void StoppableWrites::armAtOnce(int stage)
{
    QStringList lines{Message(CliMessages::StoppedAtOnce)};
    if (m_begun == 0) {
        lines << Message(ConfigMessages::NothingWritten);
    } else if (stage == ConfigMessages::Writing) {
        if (m_begun > 1)
            lines << listed(ConfigMessages::WrittenBefore, m_names.mid(0, m_begun - 1));
        lines << listed(CliMessages::UnderWay, {m_names.value(m_begun - 1)});
    } else {
        lines << listed(ConfigMessages::WrittenBefore, m_names);
        if (stage == TrafficMessages::Reset)
            lines << Message(CliMessages::ResetUnderWay);
    }
    ArmStopAtOnce(lines.join(QLatin1Char('\n')), m_run.r.json);
}

// Each write that went out and was not read back, as the unit holds it now;
// nothing more once the line fails.
void StoppableWrites::readBack(const ApplyResult &result)
{
    if (result.writes.size() != m_targets.size()
        || result.failure.reason == ConfigMessages::PortClosed)
        return;
    QJsonObject holds, registers;
    QStringList lines;
    for (int i = 0; i < m_targets.size(); ++i) {
        const WriteOutcome &w = result.writes.at(i);
        if (w.state != WriteOutcome::Written && w.state != WriteOutcome::MayHaveBeenWritten)
            continue;
        const int n = m_targets.at(i);
        UnitRecord record;
        QString value;
        const int failed = n < 0 ? ReadRecord(m_run.comm, m_run.timer, record)
                                 : ReadOneRegister(m_run.comm, m_run.timer, m_path, n, value);
        if (failed) {
            holds.insert(QStringLiteral("failed"), w.what);
            holds.insert(QStringLiteral("reason"), ReasonCode(failed));
            m_run.out.addTail(Message(CliMessages::NotReadAfterStop) + QLatin1Char(' ') + w.what
                              + QStringLiteral(": ") + Message(failed));
            break;
        }
        if (n < 0) {
            holds.insert(QStringLiteral("record"), RecordJson(record));
            lines << QStringLiteral("  ")
                    + RecordText(record).replace(QLatin1Char('\n'), QStringLiteral("\n  "));
        } else {
            registers.insert(QStringLiteral("%1").arg(n, 2, 10, QLatin1Char('0')), value);
            lines << QStringLiteral("  %1 = %2").arg(w.what, value);
        }
    }
    if (!registers.isEmpty())
        holds.insert(QStringLiteral("registers"), registers);
    if (!holds.isEmpty())
        m_run.out.insert(QStringLiteral("holds"), holds);
    if (!lines.isEmpty())
        m_run.out.addTail(Message(CliMessages::HoldsAfterStop) + QLatin1Char('\n')
                          + lines.join(QLatin1Char('\n')));
}

int StoppableWrites::finish(const ApplyResult &result, bool describeInFull, bool preset)
{
    if (m_run.entry)
        EntryApplied(*m_run.entry, result, m_writes, preset);
    // From here a sudden end leaves what the result says.
    QStringList lines{Message(CliMessages::StoppedAtOnce)};
    QStringList perhaps;
    for (const WriteOutcome &w : result.writes)
        if (w.state == WriteOutcome::MayHaveBeenWritten)
            perhaps << w.what;
    if (result.written.isEmpty() && perhaps.isEmpty())
        lines << Message(ConfigMessages::NothingWritten);
    if (!result.written.isEmpty())
        lines << listed(ConfigMessages::WrittenBefore, result.written);
    if (!perhaps.isEmpty())
        lines << listed(ConfigMessages::MayHaveBeenWritten, perhaps);
    if (result.resetSent)
        lines << Message(CliMessages::ResetSent);
    ArmStopAtOnce(lines.join(QLatin1Char('\n')), m_run.r.json);

    if (StopSignal()) {
        m_run.out.stoppedBy(StopExitCode(), Message(CliMessages::StoppedBySignal)
                                                + QLatin1Char(' ') + StopSignalName());
        m_run.out.insert(QStringLiteral("signal"), StopSignalName());
        readBack(result);
    }
    const int code =
        m_run.out.applied(result, describeInFull, preset, m_path == TransferPath::Registers);
    DisarmStopAtOnce();
    return code;
}

} // namespace Cli
