// The history: the site book's entries as lines, CSV or JSON, one entry
// whole, and an entry's backup written back as a configuration file.
#include "cli/CliHistory.h"

#include "config/FileSafety.h"
#include "protocol/NetworkReport.h"
#include "records/SiteBook.h"
#include "records/SiteBookOutcomes.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>

namespace Cli {

QString Printable(const QString &text)
{
    QString out = text;
    for (QChar &c : out)
        if (!c.isPrint())
            c = QChar::ReplacementCharacter;
    return out;
}

namespace {

// What the history says of an entry, in the order it says it.
QList<QPair<QString, QString>> fields(const SiteBookEntry &e)
{
    return {{QStringLiteral("id"), e.id},
            {QStringLiteral("time"), e.time.toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz 'UTC'"))},
            {QStringLiteral("user"), e.user},
            {QStringLiteral("host"), e.host},
            {QStringLiteral("program"), e.programVersion},
            {QStringLiteral("action"), e.action},
            {QStringLiteral("site"), e.site},
            {QStringLiteral("plan"), e.planPath},
            {QStringLiteral("plan_sha256"), e.planSha256},
            {QStringLiteral("unit"), e.unit},
            {QStringLiteral("port"), e.port},
            {QStringLiteral("device"), e.device},
            {QStringLiteral("adapter"), e.adapter},
            {QStringLiteral("version"), e.version},
            {QStringLiteral("result"), e.result},
            {QStringLiteral("exit"), QString::number(e.exitCode)},
            {QStringLiteral("detail"), e.detail},
            {QStringLiteral("backup"), e.backupPath},
            {QStringLiteral("backup_sha256"), e.backupSha256},
            {QStringLiteral("source"), e.source}};
}

// The keys every entry of the JSON carries, empty where the book has nothing.
QJsonObject entryJson(const SiteBookEntry &e)
{
    QJsonObject o = e.toJson();
    for (const char *key : {"id", "time", "user", "site", "unit", "port", "device", "adapter",
                            "action", "result", "version", "backup"})
        if (!o.contains(QLatin1String(key)))
            o.insert(QLatin1String(key), QString());
    return o;
}

} // namespace

int CannotUseBook(Run &run, const QString &reason)
{
    run.out.insert(QStringLiteral("reason"), QStringLiteral("unusable"));
    // Said once where the book's own reason names it.
    const QString shown = SiteBookRecorder::place().shown();
    return run.out.finish(ExitCode::Failed, Message(HistoryMessages::CannotUse) + QLatin1Char(' ')
                                                + (reason.contains(shown) ? reason : shown + QStringLiteral(": ") + reason));
}

namespace {

int list(Run &run, SiteBook &book)
{
    const CliRequest &r = run.r;
    SiteBook::Query query;
    query.site = r.site;
    query.unit = r.name;
    query.device = r.device;
    query.since = r.since;
    query.until = r.until;
    query.limit = qMin(r.limit, std::numeric_limits<int>::max() - 1) + 1; // one more: are there older?
    QString error;
    // The CSV carries what the program said of each (its detail), kept with the whole entry.
    auto found = book.entries(query, &error, r.csv);
    if (!found)
        return CannotUseBook(run, error);
    const bool more = found->size() > r.limit;
    if (more)
        found->removeLast();
    const QString older = Message(HistoryMessages::OlderNotShown);
    if (r.json) {
        QJsonArray entries;
        for (const SiteBookEntry &e : std::as_const(*found))
            entries.append(entryJson(e));
        run.out.insert(QStringLiteral("entries"), entries);
        run.out.insert(QStringLiteral("more"), more);
        return run.out.finish(ExitCode::Done, QString());
    }
    if (more) // said apart from the lines, which a program may read
        Print(stderr, QStringLiteral("qmlsetup: ") + older + QLatin1Char('\n'));
    if (r.csv) {
        QStringList rows{QStringLiteral("id,time,user,host,site,unit,port,device,adapter,action,result,"
                                        "exit,version,plan,backup,detail")};
        for (const SiteBookEntry &e : std::as_const(*found)) {
            QStringList cells;
            for (const QString &cell :
                 {e.id, e.time.toUTC().toString(Qt::ISODateWithMs), e.user, e.host, e.site, e.unit,
                  e.port, e.device, e.adapter, e.action, e.result, QString::number(e.exitCode),
                  e.version, e.planPath, e.backupPath, e.detail})
                cells << CsvField(cell);
            rows << cells.join(QLatin1Char(','));
        }
        Print(stdout, rows.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n"));
        return run.out.finish(ExitCode::Done, QString());
    }
    if (found->isEmpty())
        return run.out.finish(ExitCode::Done, Message(HistoryMessages::NoEntries));
    QList<QStringList> rows{{Word(QStringLiteral("time (UTC)")), Word(QStringLiteral("site")),
                             Word(QStringLiteral("unit")), Word(QStringLiteral("port")),
                             Word(QStringLiteral("action")), Word(QStringLiteral("result")), Word(QStringLiteral("id"))}};
    for (const SiteBookEntry &e : std::as_const(*found))
        rows << QStringList{e.time.toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")), e.site, e.unit,
                            e.adapter.isEmpty() ? e.port : e.adapter, Word(e.action), Word(e.result), e.id};
    QList<int> widths(rows.first().size(), 0);
    for (QStringList &row : rows)
        for (int i = 0; i < row.size(); ++i) {
            // One line an entry, whatever a name holds.
            row[i] = row[i].isEmpty() ? QStringLiteral("-") : Printable(row[i]);
            widths[i] = qMax(widths[i], TerminalColumns(row[i]));
        }
    QStringList lines;
    for (const QStringList &row : std::as_const(rows)) {
        QString line;
        for (int i = 0; i < row.size(); ++i)
            line += i + 1 < row.size() ? Padded(row[i], widths[i] + 2) : row[i];
        lines << line;
    }
    return run.out.finish(ExitCode::Done, lines.join(QLatin1Char('\n')));
}

// The entry of the id asked for; nothing, the run finished in `code`,
// when the book does not hold it (bad usage) or cannot say.
std::optional<SiteBookEntry> find(Run &run, SiteBook &book, int *code)
{
    QString error;
    auto e = book.entry(run.r.entryId, &error);
    if (e)
        return e;
    if (!error.isEmpty()) {
        *code = CannotUseBook(run, error);
    } else {
        run.out.insert(QStringLiteral("reason"), QStringLiteral("no-such-entry"));
        *code = run.out.finish(ExitCode::BadUsage, Message(HistoryMessages::NoSuchEntry) + QLatin1Char(' ')
                                                       + Printable(run.r.entryId));
    }
    return std::nullopt;
}

// The settings before and after side by side, the record's in its order,
// the registers after; a setting read both times that changed marked *.
QString settingsTable(const QJsonObject &before, const QJsonObject &after)
{
    QStringList keys{QStringLiteral("band"), QStringLiteral("channel")};
    for (int i = 0; i < UnitRecord::Lists; ++i)
        keys << RecordKey(i);
    QStringList rest = before.keys() + after.keys();
    rest.sort();
    rest.removeDuplicates();
    for (const QString &k : std::as_const(rest))
        if (!keys.contains(k))
            keys << k;
    const auto value = [](const QJsonObject &o, const QString &k) {
        return o.contains(k) ? Printable(o.value(k).toVariant().toString()) : QStringLiteral("-");
    };
    QStringList lines{Padded(Word(QStringLiteral("setting")), 14) + Padded(Word(QStringLiteral("before")), 12)
                      + Word(QStringLiteral("after"))};
    for (const QString &k : std::as_const(keys)) {
        if (!before.contains(k) && !after.contains(k))
            continue;
        const bool changed = before.contains(k) && after.contains(k) && before.value(k) != after.value(k);
        lines << QStringLiteral("%1%2%3%4")
                     .arg(Printable(k).leftJustified(14), value(before, k).leftJustified(12),
                          value(after, k).leftJustified(changed ? 12 : 0),
                          changed ? QStringLiteral("*") : QString());
    }
    return lines.join(QLatin1Char('\n'));
}

int show(Run &run, SiteBook &book)
{
    int code = ExitCode::Done;
    const auto e = find(run, book, &code);
    if (!e)
        return code;
    run.out.insert(QStringLiteral("entry"), entryJson(*e));
    QStringList lines;
    for (const auto &[key, value] : fields(*e)) {
        // A detail of several lines stays under its name.
        const QStringList parts = value.split(QLatin1Char('\n'));
        lines << Padded(Word(key), 14) + (value.isEmpty() ? QStringLiteral("-") : Printable(parts.first()));
        for (int i = 1; i < parts.size(); ++i)
            lines << QString(14, u' ') + Printable(parts.at(i));
    }
    if (!e->before.isEmpty() || !e->after.isEmpty())
        lines << QString() << settingsTable(e->before, e->after);
    if (!e->backupText.isEmpty()) {
        lines << QString() << Word(QStringLiteral("backup text:"));
        for (const QString &line : e->backupText.split(QLatin1Char('\n')))
            lines << Printable(line);
        if (lines.last().isEmpty())
            lines.removeLast();
    }
    return run.out.finish(ExitCode::Done, lines.join(QLatin1Char('\n')));
}

int backup(Run &run, SiteBook &book)
{
    int code = ExitCode::Done;
    const auto e = find(run, book, &code);
    if (!e)
        return code;
    const QString &file = run.r.file;
    if (e->backupText.isEmpty()) {
        run.out.insert(QStringLiteral("reason"), QStringLiteral("no-backup"));
        return run.out.finish(ExitCode::Failed, Message(HistoryMessages::NoBackup));
    }
    // What the book holds is what was kept, or it is not handed out as a unit's backup.
    if (!e->backupSha256.isEmpty() && Sha256Hex(e->backupText.toUtf8()) != e->backupSha256) {
        run.out.insert(QStringLiteral("reason"), QStringLiteral("altered"));
        return run.out.finish(ExitCode::Failed, Message(HistoryMessages::BackupAltered));
    }
    ConfigFileError parseError;
    if (!ParseConfigText(e->backupText, &parseError))
        return run.out.finish(ExitCode::Failed, parseError.describe());
    const QFileInfo target(file);
    if (target.isDir() || !CanCreateIn(target.absolutePath()))
        return run.out.finish(ExitCode::Failed, file + QStringLiteral(": ") + Message(ConfigMessages::CannotWrite));
    if ((target.exists() || target.isSymLink()) && !run.r.force)
        return run.out.finish(ExitCode::Failed, file + QStringLiteral(": ") + Message(CliMessages::FileExists));
    QString error;
    // On the disk, its name too, before it is said to be written.
    if (!WriteConfigFile(file, e->backupText, run.r.force ? WriteMode::Replace : WriteMode::New, &error)
        || !SyncToDisk(file, &error))
        return run.out.finish(ExitCode::Failed, file + QStringLiteral(": ") + error);
    run.out.insert(QStringLiteral("file"), QDir::toNativeSeparators(target.absoluteFilePath()));
    return run.out.finish(ExitCode::Done, Message(HistoryMessages::BackupWritten) + QLatin1Char(' ')
                                              + QDir::toNativeSeparators(file));
}

} // namespace

int history(Run &run)
{
    const SiteBookPlace &place = SiteBookRecorder::place();
    run.out.insert(QStringLiteral("book"), place.shown());
    if (place.kind == SiteBookPlace::Off) {
        run.out.insert(QStringLiteral("reason"), QStringLiteral("off"));
        return run.out.finish(ExitCode::Failed, Message(HistoryMessages::Off));
    }
    // A book of its own, opened only to read unless it takes files in: the
    // history never makes a book, nor brings an older one's schema forward.
    SiteBook book(place);
    QString reason;
    if (!book.open(&reason, run.r.historyVerb == CliRequest::Import))
        return CannotUseBook(run, reason);
    switch (run.r.historyVerb) {
    case CliRequest::List:
        return list(run, book);
    case CliRequest::Show:
        return show(run, book);
    case CliRequest::Backup:
        return backup(run, book);
    case CliRequest::Import:
        return historyImport(run, book);
    }
    return ExitCode::Failed;
}

} // namespace Cli
