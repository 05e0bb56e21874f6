#include "protocol/UnitTransfer.h"

#include "config/FileSafety.h"
#include "core/AppState.h"
#include "protocol/RegisterMap.h"
#include "protocol/modModem.h"
#include "protocol/modWired.h"
#include "config/modFile.h"
#include "serial/CommControl.h"
#include "serial/Exchange.h"
#include "serial/mod232C.h"
#include "serial/modLog.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>

namespace {

using namespace ConfigMessages;

QString recordName()
{
    return app().message(Record);
}

// The transfer's connection stands: its port is open and was not replaced.
bool connected(const CommControl &comm)
{
    return comm.isConnection(comm.waitConnection());
}

// The next command of a transfer, on the connection it began on.
bool nextCommand(CommControl &comm)
{
    return StartExchange(comm) && connected(comm);
}

// One wired exchange: the command, then the reply that answers it (its
// letter, or "N"; `fits` checks what else it must carry). 0 when it came,
// else why not (a message number). `sent` tells that the command went out.
int wired(CommControl &comm, ReplyTimer &timer, const QString &command, const QString &expected,
          const std::function<bool()> &fits = {}, bool *sent = nullptr)
{
    if (!nextCommand(comm))
        return PortClosed;
    SendWiredCommand(comm, timer, command);
    if (sent)
        *sent = true;
    QString letter;
    const WiredAnswer answer = WaitWiredAnswer(
        comm, timer, WiredReplyMs,
        [&](const QString &l) {
            return l == QLatin1String("N") || (l == expected && (!fits || fits()));
        },
        letter);
    switch (answer) {
    case WiredAnswer::Fitting:
        return letter == expected ? 0 : ConfigMessages::Refused;
    case WiredAnswer::OnlyOthers:
        return OtherAnswer;
    case WiredAnswer::Nothing:
        return NoAnswer;
    case WiredAnswer::Lost:
        break;
    }
    return PortClosed;
}

// Counts the exchanges and asks the caller whether to go on.
struct Steps {
    const TransferProgress &progress;
    int total;
    int done = 0;
    bool next(int stage)
    {
        ++done;
        return !progress || progress(stage, done, total);
    }
};

int readRecord(CommControl &comm, ReplyTimer &timer, UnitRecord &record)
{
    // Only a whole record answers "R".
    if (const int failed = wired(comm, timer, QStringLiteral("R"), QStringLiteral("R"), [] {
            return UnitRecord::fromText(app().ReplyRecord).has_value();
        }))
        return failed;
    record = *UnitRecord::fromText(app().ReplyRecord);
    return 0;
}

// A register's value exactly as the unit gives it.
int readRegister(CommControl &comm, ReplyTimer &timer, TransferPath path, int n, QString &value)
{
    if (path == TransferPath::Registers) {
        if (!nextCommand(comm))
            return PortClosed;
        bool refused = false;
        if (!ReadRegister(comm, timer, quint8(n), value, &refused))
            return RegisterFailure(comm, refused);
        return 0;
    }
    const QString nn = QStringLiteral("%1").arg(n, 2, 10, QLatin1Char('0'));
    // An "F" for another register, or cut short, answers another command.
    if (const int failed = wired(comm, timer, QStringLiteral("F") + nn, QStringLiteral("F"), [&] {
            return app().ReplyRegNo == nn && app().ReplyRegValue.size() == 2;
        }))
        return failed;
    value = app().ReplyRegValue;
    return 0;
}

int writeRegister(CommControl &comm, ReplyTimer &timer, TransferPath path, int n,
                  const QString &value, bool *sent)
{
    if (path == TransferPath::Registers) {
        if (!nextCommand(comm))
            return PortClosed;
        *sent = true;
        bool refused = false;
        return WriteRegister(comm, timer, qint16(n), value, &refused)
            ? 0
            : RegisterFailure(comm, refused);
    }
    return wired(comm, timer,
                 QStringLiteral("S%1%2").arg(n, 2, 10, QLatin1Char('0')).arg(value),
                 QStringLiteral("A"), {}, sent);
}

ReadResult readAll(CommControl &comm, ReplyTimer &timer, TransferPath path, Steps &steps)
{
    ReadResult result;
    const auto stop = [&](int reason, const QString &what) {
        result.failure = {reason, what};
        return result;
    };
    UnitConfig &c = result.config;
    if (path == TransferPath::Wired) {
        if (!steps.next(Reading))
            return stop(Cancelled, app().message(Version));
        if (const int failed = wired(comm, timer, QStringLiteral("V"), QStringLiteral("V")))
            return stop(failed, app().message(Version));
        c.version = app().ReplyVersion;
        if (!steps.next(Reading))
            return stop(Cancelled, recordName());
        if (const int failed = readRecord(comm, timer, c.record))
            return stop(failed, recordName());
    }
    for (int n = 0; n < UnitConfig::Registers; ++n) {
        if (!steps.next(Reading))
            return stop(Cancelled, RegisterName(n));
        QString value;
        if (const int failed = readRegister(comm, timer, path, n, value))
            return stop(failed, RegisterName(n));
        c.registers[size_t(n)] = value;
    }
    result.ok = true;
    return result;
}

} // namespace

QString RegisterName(int n)
{
    return app().message(ConfigMessages::Register) + QStringLiteral(" %1").arg(n, 2, 10, QLatin1Char('0'));
}

int RegisterFailure(const CommControl &comm, bool refused)
{
    if (!connected(comm))
        return ConfigMessages::PortClosed;
    return refused ? ConfigMessages::Refused : ConfigMessages::NoAnswer;
}

int ReadVersion(CommControl &comm, ReplyTimer &timer, QString &version)
{
    const Exchange exchange(comm);
    if (!exchange.started())
        return ExchangeBusyMessage;
    if (const int failed = wired(comm, timer, QStringLiteral("V"), QStringLiteral("V")))
        return failed;
    version = app().ReplyVersion;
    return 0;
}

int ReadRecord(CommControl &comm, ReplyTimer &timer, UnitRecord &record)
{
    const Exchange exchange(comm);
    if (!exchange.started())
        return ExchangeBusyMessage;
    return readRecord(comm, timer, record);
}

int ReadOneRegister(CommControl &comm, ReplyTimer &timer, TransferPath path, int n,
                    QString &value)
{
    const Exchange exchange(comm);
    if (!exchange.started())
        return ExchangeBusyMessage;
    return readRegister(comm, timer, path, n, value);
}

TransferPath CurrentTransferPath()
{
    return app().UnitMode == 4 ? TransferPath::Registers : TransferPath::Wired;
}

int ReadExchanges(TransferPath path)
{
    return UnitConfig::Registers + (path == TransferPath::Wired ? 2 : 0);
}

ReadResult ReadUnitConfig(CommControl &comm, ReplyTimer &timer, TransferPath path,
                          const TransferProgress &progress)
{
    const Exchange exchange(comm);
    if (!exchange.started())
        return ReadResult{false, {}, {ExchangeBusyMessage, {}}};
    Steps steps{progress, ReadExchanges(path)};
    return readAll(comm, timer, path, steps);
}

QString BackupPath(const QString &backupDir, const QString &port, const QDateTime &when,
                   int attempt)
{
    // "COM1 (/dev/ttyUSB0)" names a backup by its first word.
    const QString safePort = FileNamePart(port.section(QLatin1Char(' '), 0, 0));
    return QDir(backupDir).filePath(
        QStringLiteral("backup-%1-%2-%3-%4.ini")
            .arg(when.toString(QStringLiteral("yyyyMMdd-HHmmss")), safePort)
            .arg(QCoreApplication::applicationPid())
            .arg(attempt, 4, 16, QLatin1Char('0')));
}

namespace {

// Keeps what the unit held as a new file in `backupDir`, read back with the
// same reader and on the disk before anything is written; its path, or
// nothing with the reason in `error` (and no file left behind).
std::optional<QString> writeBackup(const UnitConfig &config, const QString &backupDir,
                                   const QString &port, QString *error)
{
    // A folder of this user's own: anything else standing there is refused.
    if (!MakeOwnFolder(backupDir, error))
        return std::nullopt;
    const QDateTime now = QDateTime::currentDateTime();
    const QString text = WriteConfigText(config, port, now);
    // Made new, never over a file: a name in use (an earlier backup of this
    // process in the same second) takes the next.
    for (int attempt = 0; attempt < BackupAttempts; ++attempt) {
        const QString backup = BackupPath(backupDir, port, now, attempt);
        bool taken = false;
        if (!WriteConfigFile(backup, text, WriteMode::NewInOwnFolder, error, &taken)) {
            if (taken)
                continue; // a name made a moment ago: another one
            return std::nullopt;
        }
        ConfigFileError readError;
        const auto back = ReadConfigFile(backup, &readError);
        if (!back || !(*back == config)) {
            QFile::remove(backup);
            if (error)
                *error = app().message(BackupUnreadable)
                    + (back ? QString() : QStringLiteral(": ") + readError.describe());
            return std::nullopt;
        }
        if (!SyncToDisk(backup, error)) {
            QFile::remove(backup);
            return std::nullopt;
        }
        return backup;
    }
    return std::nullopt;
}

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
        before = readAll(comm, timer, path, steps);
    } else if (withRecord) {
        before.ok = steps.next(Reading);
        if (!before.ok)
            before.failure = {Cancelled, recordName()};
        else if (const int failed = readRecord(comm, timer, before.config.record))
            before = ReadResult{false, {}, {failed, recordName()}};
    } else {
        before.ok = true;
    }
    if (!before.ok) {
        result.failure = before.failure;
        return result;
    }
    if (withBackup) {
        QString error;
        const auto backup = writeBackup(before.config, backupDir, port, &error);
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
        outcomes << WriteOutcome{recordName()};
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
            return stop(Cancelled, recordName());
        bool sent = false;
        const int failed =
            wired(comm, timer, QStringLiteral("D") + record.text(), QStringLiteral("A"), {}, &sent);
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
        const int failed = writeRegister(comm, timer, path, n, *value, &sent);
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
                return halt(Cancelled, recordName());
            UnitRecord holds;
            if (const int failed = readRecord(comm, timer, holds))
                return halt(failed, recordName());
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
            if (const int failed = readRegister(comm, timer, path, n, holds))
                return halt(failed, RegisterName(n));
            const bool same = SameRegisterValue(holds, *value);
            if (!same)
                result.differences << Difference{RegisterName(n), *value, holds};
            found(same);
        }
        return true;
    };
    const bool verified = verify();
    if (path == TransferPath::Registers && connected(comm) && StartExchange(comm)) {
        ResetUnit(comm, timer);
        result.resetSent = true;
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

namespace {

// "register 00–11" for a run of registers; other names as they stand.
QString names(const QStringList &list)
{
    const QString reg = app().message(ConfigMessages::Register) + QLatin1Char(' ');
    const auto number = [&](const QString &name) {
        bool ok = false;
        const int n = name.startsWith(reg) ? name.mid(reg.size()).toInt(&ok) : -1;
        return ok ? n : -1;
    };
    QStringList out;
    for (int i = 0; i < list.size();) {
        int j = i;
        while (number(list.at(i)) >= 0 && j + 1 < list.size()
               && number(list.at(j + 1)) == number(list.at(j)) + 1)
            ++j;
        out << (j > i ? list.at(i) + QStringLiteral("\u2013") + list.at(j).mid(reg.size())
                      : list.at(i));
        i = j + 1;
    }
    return out.join(QStringLiteral(", "));
}

} // namespace

QString ApplyResult::describe() const
{
    const AppState &s = app();
    QStringList lines;
    const auto because = [&](const TransferFailure &f) {
        return f.what + QStringLiteral(": ") + s.message(f.reason);
    };
    const auto differencesIn = [&](QStringList &into) {
        for (const Difference &d : differences)
            into << QStringLiteral("  %1: %2 %3, %4 %5")
                        .arg(d.what, s.message(ConfigMessages::Meant), d.meant,
                             s.message(ConfigMessages::Holds), d.holds);
    };
    const auto withState = [&](WriteOutcome::State state) {
        QStringList found;
        for (const WriteOutcome &w : writes)
            if (w.state == state)
                found << w.what;
        return found;
    };
    switch (outcome) {
    case Verified:
        lines << s.message(ConfigMessages::Verified);
        break;
    case Differ:
        lines << s.message(ConfigMessages::Differ);
        differencesIn(lines);
        break;
    case Stopped: {
        lines << s.message(ConfigMessages::Stopped) + QLatin1Char(' ') + because(failure);
        // What the unit holds now, write by write: nothing claimed that is
        // not so, nothing found lost.
        const QStringList perhaps = withState(WriteOutcome::MayHaveBeenWritten);
        const QStringList notWritten = withState(WriteOutcome::NotWritten);
        if (written.isEmpty() && perhaps.isEmpty()) {
            lines << s.message(ConfigMessages::NothingWritten);
        } else {
            if (!written.isEmpty())
                lines << s.message(ConfigMessages::WrittenBefore) + QLatin1Char(' ') + names(written);
            if (!perhaps.isEmpty())
                lines << s.message(ConfigMessages::MayHaveBeenWritten) + QLatin1Char(' ')
                        + names(perhaps);
            if (!notWritten.isEmpty())
                lines << s.message(ConfigMessages::NotWrittenList) + QLatin1Char(' ')
                        + names(notWritten);
        }
        const QStringList verified = withState(WriteOutcome::Verified);
        if (!verified.isEmpty())
            lines << s.message(ConfigMessages::VerifiedList) + QLatin1Char(' ') + names(verified);
        const QStringList unread = withState(WriteOutcome::Written);
        if (allWritten && !unread.isEmpty())
            lines << s.message(ConfigMessages::NotReadBack) + QLatin1Char(' ') + names(unread);
        if (!differences.isEmpty()) {
            lines << s.message(ConfigMessages::DiffersFound);
            differencesIn(lines);
        }
        break;
    }
    case NotStarted:
        if (refusal)
            lines << s.message(refusal) + (detail.isEmpty() ? QString() : QLatin1Char(' ') + detail);
        else
            lines << s.message(ConfigMessages::ReadFailed) + QLatin1Char(' ') + because(failure);
        lines << s.message(ConfigMessages::NothingWritten);
        break;
    }
    if (!backupPath.isEmpty())
        lines << s.message(ConfigMessages::Backup) + QLatin1Char(' ') + QDir::toNativeSeparators(backupPath);
    return lines.join(QLatin1Char('\n'));
}

QString ApplyResult::describePreset() const
{
    const AppState &s = app();
    QStringList lines = describe().split(QLatin1Char('\n'));
    if (outcome == Verified)
        lines.first() = s.message(ConfigMessages::PresetVerified);
    else if (outcome == Differ)
        lines.first() = s.message(ConfigMessages::PresetDiffers);
    else
        lines.prepend(s.message(allWritten ? ConfigMessages::PresetUnverified : PresetFailedMessage));
    if (allWritten && !resetSent)
        lines.insert(1, s.message(ConfigMessages::NotReset));
    return lines.join(QLatin1Char('\n'));
}
