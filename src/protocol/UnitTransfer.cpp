#include "protocol/UnitTransfer.h"

#include "config/FileSafety.h"
#include "core/AppState.h"
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
#include <QRandomGenerator>

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

// One wired exchange: the command, then the reply whose letter it expects.
// 0 when it came, else why not (a message number).
int wired(CommControl &comm, ReplyTimer &timer, const QString &command, const QString &expected)
{
    if (!nextCommand(comm))
        return PortClosed;
    SendWiredCommand(comm, timer, command);
    QString letter;
    if (!WaitWiredReply(comm, timer, WiredReplyMs, letter))
        return connected(comm) ? NoAnswer : PortClosed;
    if (letter == expected)
        return 0;
    return letter == QLatin1String("N") ? ConfigMessages::Refused : OtherAnswer;
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
    if (const int failed = wired(comm, timer, QStringLiteral("R"), QStringLiteral("R")))
        return failed;
    const auto r = UnitRecord::fromText(app().ReplyRecord);
    if (!r)
        return OtherAnswer;
    record = *r;
    return 0;
}

int readRegister(CommControl &comm, ReplyTimer &timer, TransferPath path, int n, QString &value)
{
    if (path == TransferPath::Registers) {
        if (!nextCommand(comm))
            return PortClosed;
        bool refused = false;
        if (!ReadRegister(comm, timer, quint8(n), value, &refused))
            return RegisterFailure(comm, refused);
        value = value.toUpper();
        return 0;
    }
    const QString nn = QStringLiteral("%1").arg(n, 2, 10, QLatin1Char('0'));
    if (const int failed = wired(comm, timer, QStringLiteral("F") + nn, QStringLiteral("F")))
        return failed;
    if (app().ReplyRegNo != nn || app().ReplyRegValue.size() != 2)
        return OtherAnswer;
    value = app().ReplyRegValue.toUpper();
    return 0;
}

int writeRegister(CommControl &comm, ReplyTimer &timer, TransferPath path, int n,
                  const QString &value)
{
    if (path == TransferPath::Registers) {
        if (!nextCommand(comm))
            return PortClosed;
        bool refused = false;
        return WriteRegister(comm, timer, qint16(n), value, &refused)
            ? 0
            : RegisterFailure(comm, refused);
    }
    return wired(comm, timer,
                 QStringLiteral("S%1%2").arg(n, 2, 10, QLatin1Char('0')).arg(value),
                 QStringLiteral("A"));
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

QString BackupPath(const QString &backupDir, const QString &port)
{
    // "COM1 (/dev/ttyUSB0)" names a backup by its first word.
    const QString safePort = FileNamePart(port.section(QLatin1Char(' '), 0, 0));
    return QDir(backupDir).filePath(
        QStringLiteral("backup-%1-%2-%3-%4.ini")
            .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss")), safePort)
            .arg(QCoreApplication::applicationPid())
            .arg(QRandomGenerator::global()->generate() & 0xFFFF, 4, 16, QLatin1Char('0')));
}

namespace {

// Keeps what the unit held as a new file in `backupDir`; its path, or
// nothing with the reason in `error`.
std::optional<QString> writeBackup(const UnitConfig &config, const QString &backupDir,
                                   const QString &port, QString *error)
{
    // A folder of this user's own: anything else standing there is refused.
    if (!MakeOwnFolder(backupDir, error))
        return std::nullopt;
    for (int attempt = 0; attempt < 5; ++attempt) {
        const QString backup = BackupPath(backupDir, port);
        if (WriteConfigFile(backup, WriteConfigText(config, port, QDateTime::currentDateTime()),
                            true, error))
            return backup;
    }
    return std::nullopt;
}

bool sameValue(const QString &a, const QString &b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0; // FRH10.ini may hold "1a"
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
    UnitRecord record = file.record;
    if (withRecord) {
        record.fillFrom(before.config.record);
        if (!steps.next(Writing))
            return stop(Cancelled, recordName());
        if (const int failed =
                wired(comm, timer, QStringLiteral("D") + record.text(), QStringLiteral("A")))
            return stop(failed, recordName());
        result.written << recordName();
    }
    for (int n = 0; n < UnitConfig::Registers; ++n) {
        const auto &value = file.registers[size_t(n)];
        if (!value)
            continue;
        if (!steps.next(Writing))
            return stop(Cancelled, RegisterName(n));
        if (const int failed = writeRegister(comm, timer, path, n, *value))
            return stop(failed, RegisterName(n));
        result.written << RegisterName(n);
    }
    result.allWritten = true;

    // Everything written, read back; on the register path the reset comes
    // last, as the register editor sends it after its writes: it may restart
    // the unit, which then answers nothing for a while.
    const auto verify = [&] {
        if (withRecord) {
            if (!steps.next(Verifying))
                return halt(Cancelled, recordName());
            UnitRecord holds;
            if (const int failed = readRecord(comm, timer, holds))
                return halt(failed, recordName());
            // Both are whole records, so their fields pair up one to one.
            const auto wanted = RecordFields(record);
            const auto found = RecordFields(holds);
            for (int i = 0; i < wanted.size(); ++i)
                if (wanted.at(i).second != found.at(i).second)
                    result.differences << Difference{wanted.at(i).first, wanted.at(i).second,
                                                     found.at(i).second};
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
            if (!sameValue(holds, *value))
                result.differences << Difference{RegisterName(n), *value, holds};
        }
        return true;
    };
    const bool verified = verify();
    if (path == TransferPath::Registers && connected(comm) && StartExchange(comm))
        ResetUnit(comm, timer);
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

QString ApplyResult::describe() const
{
    const AppState &s = app();
    QStringList lines;
    const auto because = [&](const TransferFailure &f) {
        return f.what + QStringLiteral(": ") + s.message(f.reason);
    };
    switch (outcome) {
    case Verified:
        lines << s.message(ConfigMessages::Verified);
        break;
    case Differ:
        lines << s.message(ConfigMessages::Differ);
        for (const Difference &d : differences)
            lines << QStringLiteral("  %1: %2 %3, %4 %5")
                         .arg(d.what, s.message(ConfigMessages::Meant), d.meant, s.message(ConfigMessages::Holds), d.holds);
        break;
    case Stopped:
        lines << s.message(ConfigMessages::Stopped) + QLatin1Char(' ') + because(failure);
        lines << (written.isEmpty() ? s.message(ConfigMessages::NothingWritten)
                                    : s.message(ConfigMessages::WrittenBefore) + QLatin1Char(' ')
                                          + written.join(QStringLiteral(", ")));
        break;
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
        lines.prepend(s.message(allWritten ? ConfigMessages::PresetUnverified : 11));
    return lines.join(QLatin1Char('\n'));
}
