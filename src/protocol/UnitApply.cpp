// Applying a configuration or the FRH preset: backup, writes, read-back and
// comparison, each write's outcome kept.
#include "protocol/TransferSteps.h"

#include "config/modFile.h"
#include "core/AppState.h"
#include "protocol/RegisterMap.h"
#include "protocol/TrafficMeaning.h"
#include "protocol/modModem.h"
#include "serial/CommControl.h"
#include "serial/Exchange.h"
#include "serial/mod232C.h"

#include <QDir>

using namespace ConfigMessages;
using namespace Transfer;

namespace {

ApplyResult applyHeld(CommControl &comm, ReplyTimer &timer, TransferPath path,
                      const UnitConfig &file, const QString &backupDir, const QString &port,
                      const TransferProgress &progress)
{
    ApplyResult result;
    const bool withRecord = !file.record.isEmpty();
    const bool withBackup = !backupDir.isEmpty();
    const int writes = file.registerCount() + (withRecord ? 1 : 0);
    const int reads = withBackup ? ReadExchanges(path) : (withRecord ? 1 : 0);
    Steps steps{progress, reads + 2 * writes};

    // What the unit holds now: the backup, and the fields a record lacks.
    ReadResult before;
    if (withBackup) {
        before = ReadAll(comm, timer, path, steps);
    } else if (withRecord) {
        before.ok = steps.next(Reading);
        if (!before.ok)
            before.failure = {Cancelled, RecordName()};
        else if (const int failed = ReadRecordStep(comm, timer, before.config.record))
            before = ReadResult{false, {}, {failed, RecordName()}};
    } else {
        before.ok = true;
    }
    if (!before.ok) {
        result.failure = before.failure;
        return result;
    }
    result.before = before.config;
    if (withBackup) {
        QString error;
        const auto backup = WriteBackup(before.config, backupDir, port, &error);
        if (!backup) {
            result.refusal = BackupFailed;
            result.detail = QDir::toNativeSeparators(backupDir) + QStringLiteral(": ") + error;
            return result;
        }
        result.backupPath = *backup;
    }

    const auto halt = [&](int reason, const QString &what) {
        result.outcome = ApplyResult::Stopped;
        result.failure = {reason, what};
        return false;
    };
    const auto stop = [&](int reason, const QString &what) {
        halt(reason, what);
        return result;
    };
    // Every write the file asks for, in order: each ends verified, differing,
    // written but not read back, perhaps written, or not written.
    auto &outcomes = result.writes;
    if (withRecord)
        outcomes << WriteOutcome{RecordName()};
    for (int n = 0; n < UnitConfig::Registers; ++n)
        if (file.registers[size_t(n)])
            outcomes << WriteOutcome{RegisterName(n)};
    int next = 0;
    // A write that went out and got no answer that fits it may have reached
    // the unit all the same; only a refusal says it did not.
    const auto written = [&](int failed, bool sent) {
        WriteOutcome &w = outcomes[next++];
        if (!failed) {
            w.state = WriteOutcome::Written;
            result.written << w.what;
            return true;
        }
        w.state = sent && failed != ConfigMessages::Refused ? WriteOutcome::MayHaveBeenWritten
                                                            : WriteOutcome::NotWritten;
        w.reason = failed;
        return halt(failed, w.what);
    };
    UnitRecord record = file.record;
    if (withRecord) {
        // A band or channel the record leaves out comes from the file's own
        // register 27 or 06 where it holds one, else from the unit: the
        // register, written after the record, would undo any other.
        if (!record.band)
            if (const auto band = BandOfRegister(file.registers[BandRegister].value_or(QString())))
                record.band = QChar(u'0' + *band);
        if (!record.channel)
            record.channel = ChannelOfRegister(file.registers[ChannelRegister].value_or(QString()));
        record.fillFrom(before.config.record);
        if (!steps.next(Writing))
            return stop(Cancelled, RecordName());
        bool sent = false;
        const int failed =
            Wired(comm, timer, QStringLiteral("D") + record.text(), QStringLiteral("A"), {}, &sent);
        if (!written(failed, sent))
            return result;
    }
    for (int n = 0; n < UnitConfig::Registers; ++n) {
        const auto &value = file.registers[size_t(n)];
        if (!value)
            continue;
        if (!steps.next(Writing))
            return stop(Cancelled, RegisterName(n));
        bool sent = false;
        const int failed = WriteRegisterStep(comm, timer, path, n, *value, &sent);
        if (!written(failed, sent))
            return result;
    }
    result.allWritten = true;

    // Everything written, read back; on the register path the reset comes
    // last, as the register editor sends it after its writes: it may restart
    // the unit, which then answers nothing for a while.
    const auto verify = [&] {
        int at = 0;
        const auto found = [&](bool same) {
            outcomes[at++].state = same ? WriteOutcome::Verified : WriteOutcome::Differs;
        };
        if (withRecord) {
            if (!steps.next(Verifying))
                return halt(Cancelled, RecordName());
            UnitRecord holds;
            if (const int failed = ReadRecordStep(comm, timer, holds))
                return halt(failed, RecordName());
            result.after = holds;
            // Both are whole records, so their fields pair up one to one.
            const auto wanted = RecordFields(record);
            const auto held = RecordFields(holds);
            const qsizetype had = result.differences.size();
            for (int i = 0; i < wanted.size(); ++i)
                if (wanted.at(i).second != held.at(i).second)
                    result.differences << Difference{wanted.at(i).first, wanted.at(i).second,
                                                     held.at(i).second};
            found(result.differences.size() == had);
        }
        for (int n = 0; n < UnitConfig::Registers; ++n) {
            const auto &value = file.registers[size_t(n)];
            if (!value)
                continue;
            if (!steps.next(Verifying))
                return halt(Cancelled, RegisterName(n));
            QString holds;
            if (const int failed = ReadRegisterStep(comm, timer, path, n, holds))
                return halt(failed, RegisterName(n));
            const bool same = SameRegisterValue(holds, *value);
            if (!same)
                result.differences << Difference{RegisterName(n), *value, holds};
            found(same);
        }
        return true;
    };
    const bool verified = verify();
    // A stop asked for during the last read-back counts as well: the reset
    // is one more exchange, and a stopped transfer leaves the unit unreset.
    if (path == TransferPath::Registers) {
        result.resetStopped = result.failure.reason == Cancelled
            || (progress && !progress(TrafficMessages::Reset, steps.done, steps.total));
        if (!result.resetStopped && Connected(comm) && StartExchange(comm)) {
            ResetUnit(comm, timer);
            result.resetSent = true;
        }
    }
    if (verified)
        result.outcome = result.differences.isEmpty() ? ApplyResult::Verified : ApplyResult::Differ;
    return result;
}

} // namespace

ApplyResult ApplyUnitConfig(CommControl &comm, ReplyTimer &timer, TransferPath path,
                            const UnitConfig &file, const QString &backupDir,
                            const QString &port, const TransferProgress &progress)
{
    ApplyResult result;
    if (file.isEmpty()) {
        result.refusal = NothingToApply;
        return result;
    }
    // The record goes over the wired path only ("D"); the register commands
    // have no whole record to write.
    if (path == TransferPath::Registers && !file.record.isEmpty()) {
        result.refusal = RecordNeedsWired;
        return result;
    }
    // The file's registers would undo an edit of its record, or the other way.
    if (const auto conflict = MirrorConflict(file)) {
        result.refusal = Disagree;
        result.detail = conflict->detail;
        return result;
    }
    const Exchange exchange(comm);
    if (!exchange.started()) {
        result.refusal = ExchangeBusyMessage;
        return result;
    }
    return applyHeld(comm, timer, path, file, backupDir, port, progress);
}

ApplyResult ApplyFrhPresetVerified(CommControl &comm, ReplyTimer &timer,
                                   const QString &backupDir, const QString &port,
                                   const TransferProgress &progress)
{
    ApplyResult result;
    // A value missing would write 00 and wipe the unit's set-up; one that is
    // no pair of hexadecimal digits could split or bend the command line.
    if (!FrhPresetComplete()) {
        result.refusal = PresetIncompleteMessage;
        return result;
    }
    const Exchange exchange(comm);
    if (!exchange.started()) {
        result.refusal = ExchangeBusyMessage;
        return result;
    }
    UnitConfig preset;
    for (int n = 0; n < UnitConfig::Registers; ++n)
        preset.registers[size_t(n)] = app().FrhTable.at(n);
    return applyHeld(comm, timer, TransferPath::Registers, preset, backupDir, port, progress);
}
