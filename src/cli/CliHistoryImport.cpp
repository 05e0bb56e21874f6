// history import: the backups and network reports made before the site book
// was kept, taken in as entries. Each entry's id comes from its file's
// SHA-256, so a file taken in twice, from anywhere, is one entry.
#include "cli/CliHistory.h"

#include "config/FieldReader.h"
#include "protocol/NetworkPlan.h"
#include "protocol/NetworkReport.h"
#include "records/SiteBook.h"
#include "records/SiteBookMessages.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QRegularExpression>
#include <QSet>
#include <QUuid>

namespace Cli {
namespace {

// The name space of the ids taken-in entries are made in.
const QUuid ImportNamespace(QStringLiteral("{e5e7aee5-fedb-4980-848a-99c44a7997d3}"));

constexpr qint64 ReportLimit = 16 * 1024 * 1024;

QString importedId(const QString &sha256, const QString &part = QString())
{
    return QUuid::createUuidV5(ImportNamespace, part.isEmpty() ? sha256 : sha256 + QLatin1Char('/') + part)
        .toString(QUuid::WithoutBraces);
}

// An older entry: who made the file, and where it came from.
SiteBookEntry takenIn(const QFileInfo &file, const QString &action, const QString &sha256)
{
    SiteBookEntry e;
    e.action = action;
    e.user = file.owner();
    e.source = sha256;
    e.time = file.lastModified().toUTC();
    return e;
}

// A backup as BackupPath names it: the time (local) and the port are in the name.
SiteBookEntry backupEntry(const QFileInfo &file, const QByteArray &bytes, const UnitConfig &config,
                          const QString &sha256)
{
    SiteBookEntry e = takenIn(file, QStringLiteral("backup"), sha256);
    e.id = importedId(sha256);
    static const QRegularExpression name(
        QStringLiteral("^backup-([0-9]{8}-[0-9]{6})-(.*)-[0-9]+-[0-9a-f]{4}\\.ini$"));
    if (const auto m = name.match(file.fileName()); m.hasMatch()) {
        const QDateTime at = QDateTime::fromString(m.captured(1), QStringLiteral("yyyyMMdd-HHmmss"));
        if (at.isValid())
            e.time = at.toUTC();
        e.port = m.captured(2);
    }
    e.version = config.version;
    e.before = SettingsOf(config);
    e.result = QStringLiteral("saved");
    e.setBackup(file.absoluteFilePath(), bytes);
    return e;
}

// A record as a report keeps it (numbers, positions no item names under
// "raw") in the form entries give settings: text, "raw N".
QJsonObject settingsOfRecord(const QJsonObject &record)
{
    QJsonObject o;
    for (auto it = record.begin(); it != record.end(); ++it)
        if (it.key() != QLatin1String("raw"))
            o.insert(it.key(), it.value().toVariant().toString());
    const QJsonObject raw = record.value(QStringLiteral("raw")).toObject();
    for (auto it = raw.begin(); it != raw.end(); ++it)
        o.insert(it.key(), QStringLiteral("raw ") + it.value().toString());
    return o;
}

// The site a run of the time recorded: the plan's own while the plan is still
// the one the report ran, else the plan's file name.
QString siteOf(const NetworkReport &report)
{
    if (const auto text = ReadConfigFileText(report.plan, nullptr); text && PlanDigest(*text) == report.planSha256)
        if (const auto plan = ParseNetworkPlan(*text, nullptr); plan && !plan->site.isEmpty())
            return plan->site;
    return QFileInfo(report.plan).fileName();
}

// One entry a unit that has a result; a unit the run never came to has none.
QList<SiteBookEntry> reportEntries(const QFileInfo &file, const NetworkReport &report, const QString &sha256)
{
    QList<SiteBookEntry> out;
    const QString site = siteOf(report);
    for (const NetworkUnitResult &u : report.units) {
        if (!u.done())
            continue;
        SiteBookEntry e = takenIn(file, report.compare ? QStringLiteral("compare") : QStringLiteral("network"),
                                  sha256);
        e.id = importedId(sha256, u.name);
        if (const QDateTime at = u.at.isValid() ? u.at : report.finished; at.isValid())
            e.time = at.toUTC();
        e.site = site;
        e.planPath = report.plan;
        e.planSha256 = report.planSha256;
        e.unit = u.name;
        e.port = u.port;
        e.device = u.device;
        e.version = u.version;
        e.before = settingsOfRecord(u.before);
        e.after = settingsOfRecord(u.after);
        e.result = NetworkUnitResult::stateName(u.state);
        e.detail = u.message;
        e.exitCode = u.exitCode;
        e.backupPath = u.backup;
        // The backup itself where it is still there as it was made.
        if (const auto bytes = ReadRegularFile(u.backup, ConfigFileLimit + 1, FileTrust::TrustedOnly);
            bytes && bytes->size() <= ConfigFileLimit && ParseConfigText(QString::fromUtf8(*bytes), nullptr))
            e.setBackup(u.backup, *bytes);
        out << e;
    }
    return out;
}

} // namespace

int historyImport(Run &run, SiteBook &book)
{
    const QString folder = run.r.file;
    if (!QFileInfo(folder).isDir())
        return run.out.finish(ExitCode::Failed, folder + QStringLiteral(": ") + Message(ConfigMessages::CannotRead));
    // A backup an entry of a later run already holds (an apply's, a set-up's)
    // is that entry's: taken in again it would be a second one.
    SiteBook::Query all;
    all.limit = 0;
    QString error;
    const auto known = book.entries(all, &error);
    if (!known)
        return run.out.finish(ExitCode::Failed, Message(HistoryMessages::CannotUse) + QLatin1Char(' ') + error);
    QSet<QString> kept;
    for (const SiteBookEntry &e : *known)
        kept << e.backupSha256;
    int taken = 0, already = 0;
    QJsonArray skipped;
    QStringList said;
    const auto skip = [&](const QString &path, const QString &why) {
        skipped.append(QJsonObject{{QStringLiteral("file"), QDir::toNativeSeparators(path)},
                                   {QStringLiteral("reason"), why}});
        said << QDir::toNativeSeparators(path) + QStringLiteral(": ") + Message(HistoryMessages::NotTakenIn)
                + QLatin1Char(' ') + why;
    };
    const auto summary = [&] {
        run.out.insert(QStringLiteral("taken"), taken);
        run.out.insert(QStringLiteral("already"), already);
        run.out.insert(QStringLiteral("skipped"), skipped);
        return Message(HistoryMessages::TakenIn).arg(taken).arg(already);
    };
    const QFileInfoList files = QDir(folder).entryInfoList(
        {QStringLiteral("backup-*.ini"), QStringLiteral("network-*.json")},
        QDir::Files | QDir::System | QDir::Hidden, QDir::Name);
    for (const QFileInfo &file : files) {
        const QString path = file.absoluteFilePath();
        const bool isBackup = file.suffix() == QLatin1String("ini");
        // The program's own files only: another user's, or a link, could be anything.
        const auto bytes = ReadRegularFile(path, (isBackup ? ConfigFileLimit : ReportLimit) + 1,
                                           FileTrust::TrustedOnly);
        if (!bytes || bytes->size() > (isBackup ? ConfigFileLimit : ReportLimit)) {
            skip(path, Message(bytes ? ConfigMessages::TooLarge : ConfigMessages::CannotRead));
            continue;
        }
        const QString sha256 = Sha256Hex(*bytes);
        QList<SiteBookEntry> entries;
        if (isBackup && kept.contains(sha256)) {
            ++already;
            continue;
        }
        if (isBackup) {
            ConfigFileError error;
            const auto config = ParseConfigText(QString::fromUtf8(*bytes), &error);
            if (!config) {
                skip(path, error.describe());
                continue;
            }
            entries << backupEntry(file, *bytes, *config, sha256);
        } else {
            const auto report = NetworkReport::fromJson(*bytes);
            if (!report) {
                skip(path, Message(NetworkMessages::NotAReport));
                continue;
            }
            entries = reportEntries(file, *report, sha256);
        }
        for (const SiteBookEntry &e : std::as_const(entries)) {
            const SiteBook::Recorded recorded = book.record(e);
            if (!recorded.recorded) {
                // The book failed under way: what went in is said, and why the rest did not.
                skip(path, recorded.pendingFile.isEmpty()
                               ? recorded.reason
                               : SiteBookText(SiteBookMessages::NotRecorded).arg(recorded.reason, recorded.pendingFile));
                return run.out.finish(ExitCode::Failed, (said + QStringList{summary()}).join(QLatin1Char('\n')));
            }
            ++(recorded.duplicate ? already : taken);
        }
    }
    if (!said.isEmpty())
        return run.out.finish(ExitCode::Failed, (said + QStringList{summary()}).join(QLatin1Char('\n')));
    return run.out.finish(ExitCode::Done, summary());
}

} // namespace Cli
