// A command-line run's entry in the site book: begun once the port is open,
// recorded once the outcome is known, before anything is printed.
#include "cli/CliNetworkShared.h"
#include "cli/CliRun.h"
#include "cli/CliStops.h"

#include "config/modFile.h"
#include "records/SiteBookMessages.h"
#include "records/SiteBookOutcomes.h"
#include "records/SiteBookPlace.h"

#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>

namespace Cli {

bool ChooseSiteBook(const CliRequest &request, QString *error)
{
    const auto place = SiteBookPlaceFor(request.siteBook, qEnvironmentVariable(SiteBookVariable),
                                        WorkFolder(), error);
    if (!place)
        return false;
    SiteBookRecorder::setPlace(*place);
    // A network set-up's units record in their own runs, into this book.
    if (!request.siteBook.isEmpty())
        qputenv(SiteBookVariable, request.siteBook.toUtf8());
    return true;
}

namespace NetworkShared {

void SiteBookPlan(const Run &run)
{
    // A unit's own run takes the plan on standard input, its path from the set-up.
    const QString path = run.r.file == QLatin1String("-") ? qEnvironmentVariable("QML47210_PLAN_PATH")
                                                           : QFileInfo(run.r.file).absoluteFilePath();
    SiteBookRecorder::setPlan(run.plan.site.isEmpty() ? QFileInfo(path).fileName() : run.plan.site, path,
                              PlanDigest(run.planText), QString());
}

} // namespace NetworkShared

void Run::beginEntry(const QString &action)
{
    entry = SiteBookEntry::begin(action);
    SiteBookRecorder::setPort(*entry, portName, device);
    out.setRecorder([this](int code, const QString &text, QJsonObject &doc) {
        RecordOutcome(*entry, code, text, doc);
    });
}

void RecordOutcome(SiteBookEntry e, int code, const QString &text, QJsonObject &doc)
{
    e.exitCode = code;
    if (e.result.isEmpty())
        e.result = code == ExitCode::Done ? QStringLiteral("read") : QStringLiteral("failed");
    if (e.detail.isEmpty())
        e.detail = text;
    // A second signal while this waits for the book ends the run at once:
    // the entry is then kept pending, not lost.
    KeepEntryAtOnce(SiteBookRecorder::place().pendingPath,
                    QJsonDocument(e.toJson()).toJson(QJsonDocument::Compact) + '\n');
    const SiteBookRecorder::Outcome o = SiteBookRecorder::record(e);
    ForgetEntryAtOnce();
    if (o.off)
        return;
    if (o.recorded) {
        doc.insert(QStringLiteral("site_book"),
                   QJsonObject{{QStringLiteral("recorded"), true}, {QStringLiteral("id"), e.id}});
        return;
    }
    QJsonObject said{{QStringLiteral("recorded"), false}, {QStringLiteral("reason"), o.reason}};
    if (!o.pendingFile.isEmpty())
        said.insert(QStringLiteral("pending"), o.pendingFile);
    doc.insert(QStringLiteral("site_book"), said);
    Print(stderr, NotRecordedText(o.reason, o.pendingFile) + QLatin1Char('\n'));
}


} // namespace Cli
