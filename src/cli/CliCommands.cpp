// What each command does with the unit, one runner each, and their table.
#include "cli/CliHistory.h"
#include "cli/CliProgress.h"
#include "cli/CliRun.h"

#include "config/FileSafety.h"
#include "config/TextFolder.h"
#include "config/modFile.h"
#include "core/AppState.h"
#include "protocol/modModem.h"
#include "records/SiteBookOutcomes.h"
#include "serial/SerialDevices.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>

namespace Cli {
namespace {

int ports(Run &run)
{
    QJsonArray devices, mapping;
    QStringList lines;
    for (const SerialDevice &d : ListSerialDevices(WorkFolder())) {
        QStringList coms;
        for (int n : d.comLinks)
            coms << QStringLiteral("COM%1").arg(n);
        devices.append(QJsonObject{{QStringLiteral("path"), d.path},
                                   {QStringLiteral("description"), d.description},
                                   {QStringLiteral("manufacturer"), d.manufacturer},
                                   {QStringLiteral("serialNumber"), d.serialNumber},
                                   {QStringLiteral("com"), QJsonArray::fromStringList(coms)}});
        lines << QStringLiteral("%1 %2 %3 %4 %5")
                     .arg(d.path.leftJustified(16), coms.join(u' ').leftJustified(6),
                          d.description, d.manufacturer, d.serialNumber)
                     .trimmed();
    }
    run.comm.setLinkDir(WorkFolder());
    lines << QString();
    for (int n = 1; n <= 9; ++n) {
        const QString device = run.comm.deviceFor(n);
        const bool present = DevicePresent(device);
        mapping.append(QJsonObject{{QStringLiteral("port"), QStringLiteral("COM%1").arg(n)},
                                   {QStringLiteral("device"), device},
                                   {QStringLiteral("present"), present}});
        lines << QStringLiteral("COM%1 -> %2 (%3)").arg(n).arg(device, app().dispName(present ? 25 : 26));
    }
    run.out.insert(QStringLiteral("devices"), devices);
    run.out.insert(QStringLiteral("com"), mapping);
    return run.out.finish(ExitCode::Done, lines.join(QLatin1Char('\n')));
}

int info(Run &run)
{
    QString version;
    if (const int failed = ReadVersion(run.comm, run.timer, version))
        return run.out.exchangeFailed(failed, Message(ConfigMessages::Version));
    UnitRecord record;
    if (const int failed = ReadRecord(run.comm, run.timer, record))
        return run.out.exchangeFailed(failed, Message(ConfigMessages::Record));
    run.out.insert(QStringLiteral("version"), version);
    run.out.insert(QStringLiteral("record"), RecordJson(record));
    UnitConfig read;
    read.version = version;
    read.record = record;
    EntryRead(*run.entry, read);
    return run.out.finish(ExitCode::Done, QStringLiteral("version     = ") + version
                                              + QLatin1Char('\n') + RecordText(record));
}

int read(Run &run)
{
    UnitRecord record;
    if (const int failed = ReadRecord(run.comm, run.timer, record))
        return run.out.exchangeFailed(failed, Message(ConfigMessages::Record));
    run.out.insert(QStringLiteral("record"), RecordJson(record));
    UnitConfig read;
    read.record = record;
    EntryRead(*run.entry, read);
    return run.out.finish(ExitCode::Done, RecordText(record));
}

// The unit by its port; the last line stays, the result printed below it.
TransferProgress progress(const Run &run)
{
    return UnitProgress(UnitProgressStyle(run.r), run.portName);
}

int write(Run &run)
{
    UnitConfig change;
    change.record = run.r.changes;
    StoppableWrites writes(run, change, TransferPath::Wired, progress(run));
    // Kept first, as apply keeps it: a write that cannot be undone is refused.
    return writes.finish(ApplyUnitConfig(run.comm, run.timer, TransferPath::Wired, change,
                                         BackupFolder(), run.portName, writes.progress()),
                         false, false);
}

int regGet(Run &run)
{
    const int n = run.r.reg;
    QString value;
    if (const int failed = ReadOneRegister(run.comm, run.timer, run.r.path, n, value))
        return run.out.exchangeFailed(failed, RegisterName(n));
    run.out.insert(QStringLiteral("register"), QStringLiteral("%1").arg(n, 2, 10, QLatin1Char('0')));
    run.out.insert(QStringLiteral("value"), value);
    return run.out.finish(ExitCode::Done, QStringLiteral("%1 = %2").arg(n, 2, 10, QLatin1Char('0')).arg(value));
}

int regSet(Run &run)
{
    UnitConfig change;
    change.registers[size_t(run.r.reg)] = run.r.value;
    StoppableWrites writes(run, change, run.r.path, progress(run));
    return writes.finish(ApplyUnitConfig(run.comm, run.timer, run.r.path, change, QString(),
                                         run.portName, writes.progress()),
                         false, false);
}

// Found out before the unit is read for nothing.
int prepareSave(Run &run)
{
    const QFileInfo target(run.r.file);
    if (target.isDir() || !CanCreateIn(target.absolutePath()))
        return run.out.finish(ExitCode::Failed,
                              run.r.file + QStringLiteral(": ") + Message(ConfigMessages::CannotWrite));
    // A unit's earlier configuration is not replaced by surprise.
    if ((target.exists() || target.isSymLink()) && !run.r.force)
        return run.out.finish(ExitCode::Failed,
                              run.r.file + QStringLiteral(": ") + Message(CliMessages::FileExists));
    return -1;
}

int save(Run &run)
{
    const ReadResult read = ReadUnitConfig(run.comm, run.timer, run.r.path, progress(run));
    if (!read.ok)
        return run.out.exchangeFailed(read.failure.reason, read.failure.what);
    EntryRead(*run.entry, read.config);
    QString error;
    const QString text = WriteConfigText(read.config, run.portName, QDateTime::currentDateTime());
    // On the disk, its name too, before it is said to be saved.
    if (!WriteConfigFile(run.r.file, text,
                         run.r.force ? WriteMode::Replace : WriteMode::New, &error)
        || !SyncToDisk(run.r.file, &error))
        return run.out.finish(ExitCode::Failed, run.r.file + QStringLiteral(": ") + error);
    run.out.insert(QStringLiteral("file"),
                   QDir::toNativeSeparators(QFileInfo(run.r.file).absoluteFilePath()));
    run.out.insert(QStringLiteral("version"), read.config.version);
    run.out.insert(QStringLiteral("record"), RecordJson(read.config.record));
    run.entry->result = QStringLiteral("saved");
    run.entry->setBackup(QFileInfo(run.r.file).absoluteFilePath(), text.toUtf8());
    return run.out.finish(ExitCode::Done, Message(ConfigMessages::Saved) + QLatin1Char(' ')
                                              + QDir::toNativeSeparators(run.r.file));
}

// A wrong file sends nothing.
int prepareApply(Run &run)
{
    ConfigFileError error;
    const auto parsed = ReadConfigFile(run.r.file, &error);
    if (!parsed)
        return run.out.finish(ExitCode::BadFile, error.describe());
    // An edit of band or channel that the file's registers would undo.
    if (const auto conflict = MirrorConflict(*parsed))
        return run.out.finish(ExitCode::BadFile, conflict->describe());
    if (run.r.path == TransferPath::Registers && !parsed->record.isEmpty())
        return run.out.finish(ExitCode::BadFile, Message(CliMessages::RecordNeedsWiredPath));
    run.file = *parsed;
    return -1;
}

int apply(Run &run)
{
    StoppableWrites writes(run, run.file, run.r.path, progress(run));
    return writes.finish(ApplyUnitConfig(run.comm, run.timer, run.r.path, run.file,
                                         BackupFolder(), run.portName, writes.progress()),
                         true, false);
}

int preparePreset(Run &run)
{
    if (!run.r.file.isEmpty() && !ReadFrhFile(run.r.file))
        return run.out.finish(ExitCode::BadFile, Message(ConfigMessages::CannotRead)
                                                     + QStringLiteral(": ") + run.r.file);
    if (!FrhPresetComplete())
        return run.out.finish(ExitCode::BadFile, Message(CliMessages::PresetIncomplete));
    return -1;
}

int preset(Run &run)
{
    UnitConfig table;
    for (int n = 0; n < UnitConfig::Registers; ++n)
        table.registers[size_t(n)] = app().FrhTable.at(n);
    StoppableWrites writes(run, table, TransferPath::Registers, progress(run));
    return writes.finish(
        ApplyFrhPresetVerified(run.comm, run.timer, BackupFolder(), run.portName, writes.progress()),
        true, true);
}

const Runner Runners[] = {
    {CliRequest::Ports, "ports", false, nullptr, ports},
    {CliRequest::Info, "info", true, nullptr, info},
    {CliRequest::Read, "read", true, nullptr, read},
    {CliRequest::Write, "write", true, nullptr, write},
    {CliRequest::RegGet, "reg get", true, nullptr, regGet},
    {CliRequest::RegSet, "reg set", true, nullptr, regSet},
    {CliRequest::Save, "save", true, prepareSave, save},
    {CliRequest::Apply, "apply", true, prepareApply, apply},
    {CliRequest::Preset, "preset", true, preparePreset, preset},
    {CliRequest::Network, "network", false, prepareNetwork, network},
    {CliRequest::Compare, "compare", false, prepareCompare, compare},
    {CliRequest::History, "history", false, nullptr, history},
    {CliRequest::Handover, "handover", false, nullptr, handover},
};

} // namespace

const Runner *FindRunner(CliRequest::Command command)
{
    for (const Runner &r : Runners)
        if (r.command == command)
            return &r;
    return nullptr;
}

} // namespace Cli
