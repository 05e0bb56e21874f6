// An exchange sequence's outcome as an entry, and the one book a process
// records into.
#include "records/SiteBookOutcomes.h"

#include "core/AppState.h"
#include "records/SiteBook.h"
#include "records/SiteBookMessages.h"
#include "serial/SerialDevices.h"

#include <QFile>
#include <memory>

QString SiteBookText(int n)
{
    return app().message(n);
}

QString NotRecordedText(const QString &reason, const QString &pendingFile)
{
    return pendingFile.isEmpty() ? SiteBookText(SiteBookMessages::NotKept).arg(reason)
                                 : SiteBookText(SiteBookMessages::NotRecorded).arg(reason, pendingFile);
}

void EntryRead(SiteBookEntry &entry, const UnitConfig &config)
{
    entry.result = QStringLiteral("read");
    entry.version = config.version;
    entry.before = SettingsOf(config);
}

void EntryFailed(SiteBookEntry &entry, int reason, const QString &what)
{
    entry.result = QStringLiteral("failed");
    entry.detail = what + QStringLiteral(": ") + app().message(reason);
}

namespace {

QString resultWord(const ApplyResult &result)
{
    switch (result.outcome) {
    case ApplyResult::Verified:
        return QStringLiteral("verified");
    case ApplyResult::Differ:
        return QStringLiteral("differs");
    case ApplyResult::Stopped:
    case ApplyResult::NotStarted:
        break;
    }
    bool written = false;
    for (const WriteOutcome &w : result.writes) {
        if (w.state == WriteOutcome::MayHaveBeenWritten)
            return QStringLiteral("may have been written");
        written = written || w.state != WriteOutcome::NotWritten;
    }
    return written ? QStringLiteral("written") : QStringLiteral("not written");
}

} // namespace

void EntryApplied(SiteBookEntry &entry, const ApplyResult &result, const UnitConfig &written, bool preset)
{
    entry.result = resultWord(result);
    entry.detail = preset ? result.describePreset() : result.describe();
    entry.version = result.before.version;
    entry.before = SettingsOf(result.before);
    // After: the record as read back, and each register as verified or as
    // the unit was found to hold it.
    UnitConfig after;
    if (result.after)
        after.record = *result.after;
    QJsonObject afterSettings = SettingsOf(after);
    for (int n = 0; n < UnitConfig::Registers; ++n) {
        const QString name = RegisterName(n);
        for (const WriteOutcome &w : result.writes)
            if (w.what == name && w.state == WriteOutcome::Verified && written.registers[size_t(n)])
                afterSettings.insert(QStringLiteral("register %1").arg(n, 2, 10, QLatin1Char('0')),
                                     *written.registers[size_t(n)]);
    }
    for (const Difference &d : result.differences)
        if (d.what.startsWith(QLatin1String("register ")))
            afterSettings.insert(d.what, d.holds);
    entry.after = afterSettings;
    if (!result.backupPath.isEmpty()) {
        QFile backup(result.backupPath);
        entry.setBackup(result.backupPath, backup.open(QIODevice::ReadOnly) ? backup.readAll() : QByteArray());
    }
}

namespace SiteBookRecorder {
namespace {

struct State {
    SiteBookPlace place;
    QString site, planPath, planSha256, unit;
    std::unique_ptr<SiteBook> book;
    // Qt SQL's drivers may be gone by now: a book still open is let go.
    ~State() { (void)book.release(); }
};

State &state()
{
    static State s;
    return s;
}

} // namespace

void setPlace(const SiteBookPlace &place)
{
    state().book.reset();
    state().place = place;
}

const SiteBookPlace &place()
{
    return state().place;
}

void setPlan(const QString &site, const QString &path, const QString &sha256, const QString &unit)
{
    State &s = state();
    s.site = site;
    s.planPath = path;
    s.planSha256 = sha256;
    s.unit = unit;
}

void setPort(SiteBookEntry &entry, const QString &port, const QString &device)
{
    const State &s = state();
    entry.port = port;
    entry.device = device;
    entry.adapter = StableDeviceName(device);
    entry.site = s.site;
    entry.planPath = s.planPath;
    entry.planSha256 = s.planSha256;
    entry.unit = s.unit;
}

SiteBook *book()
{
    State &s = state();
    if (s.place.kind == SiteBookPlace::Off)
        return nullptr;
    if (!s.book)
        s.book = std::make_unique<SiteBook>(s.place);
    return s.book.get();
}

void close()
{
    state().book.reset();
}

Outcome record(const SiteBookEntry &entry)
{
    Outcome out;
    SiteBook *b = book();
    if (!b)
        return out;
    out.off = false;
    const SiteBook::Recorded r = b->record(entry);
    out.recorded = r.recorded;
    out.reason = r.reason;
    out.pendingFile = r.pendingFile;
    return out;
}

} // namespace SiteBookRecorder
