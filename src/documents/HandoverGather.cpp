// The handover's facts from the site book: for each unit of the plan its
// latest set-up and any later compare, and what that says of it now.
#include "documents/Handover.h"

#include "config/TextFolder.h"
#include "core/AppState.h"
#include "protocol/NetworkReport.h"
#include "records/SiteBook.h"

#include <QFileInfo>
#include <QHash>

const SiteBookEntry *HandoverUnit::now() const
{
    return compared ? &*compared : setUp ? &*setUp : nullptr;
}

QJsonObject HandoverUnit::held() const
{
    // A set-up that failed before reading back knows nothing of what the
    // unit holds now: what it held before may have been written over.
    const SiteBookEntry *e = now();
    return !e ? QJsonObject() : e->action == QLatin1String("compare") ? e->before : e->after;
}

namespace {

// Each field the plan means that the entry did not read back as meant.
QStringList differencesOf(const HandoverUnit &u)
{
    QStringList out;
    for (const auto &[key, meant] : RecordFields(u.planned.record)) {
        const QString held = u.held().value(key).toVariant().toString();
        if (!held.isEmpty() && held != meant) // what was not read is not known to differ
            out << QStringLiteral("%1: %2 %3, %4 %5")
                       .arg(key, app().message(ConfigMessages::Meant), meant, app().message(ConfigMessages::Holds),
                            held.isEmpty() ? QStringLiteral("-") : held);
    }
    return out;
}

void judge(HandoverUnit &u)
{
    const SiteBookEntry *now = u.now();
    if (!now)
        return; // not set up
    u.differences = differencesOf(u);
    if (now->result == QLatin1String("verified"))
        u.state = u.differences.isEmpty() ? HandoverUnit::Verified : HandoverUnit::Differs;
    else
        u.state = now->result == QLatin1String("differs") ? HandoverUnit::Differs : HandoverUnit::Failed;
}

} // namespace

std::optional<Handover> GatherHandover(SiteBook &book, const NetworkPlan &plan, const QString &planPath,
                                       const QString &planText, QString *error)
{
    Handover h;
    h.planPath = QFileInfo(planPath).absoluteFilePath();
    // As the plan's units file their entries.
    h.site = plan.site.isEmpty() ? QFileInfo(planPath).fileName() : plan.site;
    h.planSha256 = PlanDigest(planText);
    h.language = ChooseLanguage(qEnvironmentVariable("QML47210_LANG"));
    const SiteBookEntry me = SiteBookEntry::begin(QString());
    h.made = me.time;
    h.user = me.user;
    h.host = me.host;
    h.programVersion = me.programVersion;
    h.plan = plan;
    QHash<QString, int> byName;
    for (const NetworkUnit &u : plan.units) {
        byName.insert(NetworkNameKey(u.name), int(h.units.size()));
        h.units.append(HandoverUnit{u, HandoverUnit::NotSetUp, {}, {}, {}});
    }
    // Newest first, page by page, until every unit's set-up is found: a
    // compare met before it is later than it.
    SiteBook::Query query;
    query.site = h.site;
    int waiting = int(h.units.size());
    for (;;) {
        const auto page = book.entries(query, error);
        if (!page)
            return std::nullopt;
        for (const SiteBookEntry &e : *page) {
            const int i = byName.value(NetworkNameKey(e.unit), -1);
            if (i < 0 || e.site != h.site || h.units[i].setUp) // the filter matches without regard to case
                continue;
            HandoverUnit &u = h.units[i];
            const bool setUp = e.action == QLatin1String("network");
            if (!setUp && (e.action != QLatin1String("compare") || u.compared))
                continue;
            auto whole = book.entry(e.id, error);
            if (!whole)
                return std::nullopt;
            (setUp ? u.setUp : u.compared) = whole;
            waiting -= setUp;
        }
        if (waiting == 0 || page->size() < query.limit)
            break;
        query.olderThan = page->last().time;
        query.olderThanId = page->last().id;
    }
    // Entries still waiting to go in are as true as those in: a compare made
    // while the book was away may be the latest word on a unit.
    const auto pending = PendingEntries(book.place().pendingPath, error);
    if (!pending)
        return std::nullopt;
    for (const SiteBookEntry &e : *pending) {
        const int i = byName.value(NetworkNameKey(e.unit), -1);
        const bool setUp = e.action == QLatin1String("network");
        if (i < 0 || e.site != h.site || (!setUp && e.action != QLatin1String("compare")))
            continue;
        std::optional<SiteBookEntry> &latest = setUp ? h.units[i].setUp : h.units[i].compared;
        if (!latest || e.time > latest->time)
            latest = e;
    }
    for (HandoverUnit &u : h.units) {
        // Never set up from the plan: not set up, whatever a compare read.
        if (!u.setUp || (u.compared && u.compared->time <= u.setUp->time))
            u.compared.reset();
        judge(u);
    }
    return h;
}

QString SiteFileName(const QString &kind, const QString &site, const QDate &date, const QString &extension)
{
    QString cut = site.left(50); // in UTF-8, with the rest, within a name's 255 bytes
    if (cut.size() == 50 && cut.back().isHighSurrogate())
        cut.chop(1);
    // What a terminal or a file manager would act on (controls, direction
    // overrides, line separators) is no part of a name either.
    QString name;
    for (const char32_t c : cut.toUcs4())
        name += !QChar::isPrint(c) || (QChar::isSpace(c) && c != U' ')
                    || (c < 0x80 && QByteArrayView("/\\:*?\"<>|").contains(char(c)))
            ? QStringLiteral("_")
            : QString::fromUcs4(&c, 1);
    if (name.isEmpty() || name.startsWith(u'.'))
        name.prepend(u'_'); // never a hidden file, never ".."
    return QStringLiteral("%1-%2-%3.%4").arg(kind, name, date.toString(QStringLiteral("yyyyMMdd")), extension);
}

QString HandoverFileName(const QString &site, const QDate &date)
{
    return SiteFileName(QStringLiteral("handover"), site, date, QStringLiteral("html"));
}
