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
    const SiteBookEntry *e = now();
    return !e ? QJsonObject() : e->after.isEmpty() ? e->before : e->after;
}

namespace {

// Each field the plan means that the entry did not read back as meant.
QStringList differencesOf(const HandoverUnit &u)
{
    QStringList out;
    for (const auto &[key, meant] : RecordFields(u.planned.record)) {
        const QString held = u.held().value(key).toVariant().toString();
        if (held != meant)
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
    for (HandoverUnit &u : h.units) {
        if (!u.setUp)
            u.compared.reset(); // never set up from the plan: not set up, whatever a compare read
        judge(u);
    }
    return h;
}

QString HandoverFileName(const QString &site, const QDate &date)
{
    QString name = site.left(50); // in UTF-8, with the rest, within a name's 255 bytes
    if (name.size() == 50 && name.back().isHighSurrogate())
        name.chop(1);
    for (QChar &c : name)
        if (c.unicode() < 0x20 || c == u'\x7f' || QStringLiteral("/\\:*?\"<>|").contains(c))
            c = u'_';
    if (name.isEmpty() || name.startsWith(u'.'))
        name.prepend(u'_'); // never a hidden file, never ".."
    return QStringLiteral("handover-%1-%2.html").arg(name, date.toString(QStringLiteral("yyyyMMdd")));
}
