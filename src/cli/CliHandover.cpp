// handover PLAN: the plan's handover document, made from the site book and
// written whole as one new file (or over one with --force). No port.
#include "cli/CliHistory.h"

#include "config/FileSafety.h"
#include "documents/Handover.h"
#include "records/SiteBook.h"
#include "records/SiteBookOutcomes.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>

namespace Cli {

int handover(Run &run)
{
    ConfigFileError planError;
    const auto text = ReadConfigFileText(run.r.file, &planError);
    const auto plan = text ? ParseNetworkPlan(*text, &planError) : std::nullopt;
    if (!plan)
        return run.out.finish(ExitCode::BadFile, planError.describe());
    const SiteBookPlace &place = SiteBookRecorder::place();
    run.out.insert(QStringLiteral("book"), place.shown());
    const QString hint = QLatin1Char('\n') + Message(HandoverMessages::MakeBookHint);
    if (place.kind == SiteBookPlace::Off) {
        run.out.insert(QStringLiteral("reason"), QStringLiteral("off"));
        return run.out.finish(ExitCode::Failed, Message(HandoverMessages::BookOff) + hint);
    }
    // Only read: a document never makes a book nor brings one's schema forward.
    SiteBook book(place);
    QString reason;
    if (!book.open(&reason, false))
        return CannotUseBook(run, reason + (place.kind == SiteBookPlace::File && !QFileInfo::exists(place.path) ? hint : QString()));
    const auto h = GatherHandover(book, *plan, run.r.file, *text, &reason);
    if (!h)
        return CannotUseBook(run, reason);
    const QString file = run.r.out.isEmpty() ? HandoverFileName(h->site, h->made.toLocalTime().date()) : run.r.out;
    const QFileInfo target(file);
    const QString shown = Printable(QDir::toNativeSeparators(file));
    if (target.isDir())
        return run.out.finish(ExitCode::Failed, shown + QLatin1Char(' ') + Message(HandoverMessages::OutIsFolder));
    if (!CanCreateIn(target.absolutePath()))
        return run.out.finish(ExitCode::Failed, shown + QStringLiteral(": ") + Message(ConfigMessages::CannotWrite));
    // --force never puts the document over what it was made from.
    for (const QString &source : {place.path, place.path + QStringLiteral("-wal"), place.path + QStringLiteral("-shm"),
                                  place.path + QStringLiteral("-journal"), place.pendingPath, run.r.file})
        if (target.exists() && !source.isEmpty() && QFileInfo(source).exists()
            && QFileInfo(source).canonicalFilePath() == target.canonicalFilePath())
            return run.out.finish(ExitCode::Failed, shown + QLatin1Char(' ') + Message(HandoverMessages::OutIsSource));
    if ((target.exists() || target.isSymLink()) && !run.r.force)
        return run.out.finish(ExitCode::Failed, shown + QStringLiteral(": ") + Message(CliMessages::FileExists));
    QString error;
    bool taken = false;
    if (!WriteHandoverFile(file, HandoverHtml(*h), run.r.force, &error, &taken))
        return run.out.finish(ExitCode::Failed,
                              shown + QStringLiteral(": ") + (taken ? Message(CliMessages::FileExists) : error));
    static const char *const states[] = {"verified", "differs", "failed", "not-set-up"};
    QJsonArray units;
    QStringList lines;
    for (const HandoverUnit &u : h->units) {
        units.append(QJsonObject{{QStringLiteral("name"), u.planned.name},
                                 {QStringLiteral("state"), QLatin1String(states[u.state])}});
        lines << Printable(u.planned.name) + QStringLiteral(": ") + HandoverStateText(u.state);
    }
    run.out.insert(QStringLiteral("site"), h->site);
    run.out.insert(QStringLiteral("units"), units);
    run.out.insert(QStringLiteral("file"), QDir::toNativeSeparators(target.absoluteFilePath()));
    lines << Message(HandoverMessages::WrittenTo) + QLatin1Char(' ') + shown;
    return run.out.finish(ExitCode::Done, lines.join(QLatin1Char('\n')));
}

} // namespace Cli
