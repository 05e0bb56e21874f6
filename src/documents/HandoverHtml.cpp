// The handover document as one HTML file: its style, the title block with
// the diagram, a section a unit, the labels and the sign-off, each section
// on a page of its own.
#include "documents/Handover.h"
#include "documents/HandoverText.h"
#include "documents/QrSvg.h"

#include "core/AppState.h"

#include <QFileInfo>
#include <QHash>

namespace {

using namespace HandoverMessages;

const char Style[] = R"(@page { size: A4; margin: 14mm 14mm 16mm; }
body { font-family: "DejaVu Sans", "IPAPGothic", "IPAGothic", sans-serif; font-size: 10pt; color: #111; margin: 0; }
section { break-before: page; }
section:first-of-type { break-before: auto; }
h1 { font-size: 19pt; margin: 0 0 4mm; }
h2 { font-size: 13.5pt; margin: 0 0 3mm; padding-bottom: 1mm; border-bottom: 1.5px solid #333; }
h3 { font-size: 11pt; margin: 5mm 0 2mm; }
table { border-collapse: collapse; width: 100%; margin-bottom: 3mm; }
th, td { border: 1px solid #999; padding: 1.2mm 2mm; text-align: left; vertical-align: top; overflow-wrap: anywhere; }
th { background: #eee; width: 32%; }
table.settings th { width: auto; }
td.differ { font-weight: bold; color: #a01616; }
.state { font-weight: bold; padding: 0.4mm 2mm; border-radius: 2mm; white-space: nowrap; }
.verified { background: #e3f2e5; color: #1b5e20; }
.differs { background: #fff0dc; color: #8a4b00; }
.failed { background: #fde4e4; color: #a01616; }
.notsetup { background: #eee; color: #444; }
.diagram svg { width: 100%; height: auto; max-height: 150mm; }
ul.checks { margin: 2mm 0; padding-left: 5mm; }
pre { font: inherit; white-space: pre-wrap; overflow-wrap: anywhere; margin: 0; }
.labels { display: grid; grid-template-columns: 1fr 1fr; gap: 5mm; }
.label { border: 1px dashed #777; padding: 3mm; display: flex; gap: 3mm; align-items: center; break-inside: avoid; }
.label svg { flex: none; }
.label.wide { grid-column: 1 / -1; }
.label > div { flex: 1 1 auto; min-width: 0; }
.label .state { display: inline-block; margin-top: 2mm; }
.label pre { font-size: 9.5pt; overflow-wrap: break-word; }
.label b { font-size: 11pt; }
table.sign td { height: 14mm; }
)";

QString stateClass(HandoverUnit::State s)
{
    static const char *const names[] = {"verified", "differs", "failed", "notsetup"};
    return QLatin1String(names[s]);
}

QString badge(HandoverUnit::State s)
{
    return QStringLiteral("<span class=\"state %1\">%2</span>").arg(stateClass(s), Esc(HandoverStateText(s)));
}

QString row(const QString &head, const QString &cellHtml)
{
    return QStringLiteral("<tr><th>%1</th><td>%2</td></tr>\n").arg(Esc(head), cellHtml);
}

QString titleSection(const Handover &h)
{
    QString out = QStringLiteral("<section id=\"network\">\n<h1>%1</h1>\n<table>\n").arg(Esc(Text(Title)));
    out += row(Text(Site), Esc(h.site));
    out += row(Text(Plan), Esc(QFileInfo(h.planPath).fileName()) + QStringLiteral(" (SHA-256 ")
                               + h.planSha256.left(16) + QStringLiteral("…)"));
    out += row(Text(Made), Esc(WhenText(h.made)));
    out += row(Text(MadeBy), Esc(h.user + QStringLiteral(" @ ") + h.host));
    out += row(Text(Program), Esc(QStringLiteral("qmlsetup ") + h.programVersion));
    out += QStringLiteral("</table>\n<h2>%1</h2>\n<div class=\"diagram\">%2</div>\n<ul class=\"checks\">\n")
               .arg(Esc(Text(Network)), HandoverDiagram(h));
    for (const QString &check : HandoverChecks(h))
        out += QStringLiteral("<li>%1</li>\n").arg(Esc(check));
    out += QStringLiteral("</ul>\n<table>\n<tr><th>%1</th><th>%2</th><th>%3</th></tr>\n")
               .arg(Esc(Text(Unit)), Esc(Text(Role)), Esc(Text(State)));
    for (int i = 0; i < h.units.size(); ++i) {
        const HandoverUnit &u = h.units.at(i);
        out += QStringLiteral("<tr><td><a href=\"#unit-%1\">%2</a></td><td>%3</td><td>%4</td></tr>\n")
                   .arg(i + 1)
                   .arg(Esc(u.planned.name), Esc(RoleText(u.planned.record)), badge(u.state));
    }
    return out + QStringLiteral("</table>\n</section>\n");
}

QString unitSection(const HandoverUnit &u, int index)
{
    QString out = QStringLiteral("<section id=\"unit-%1\">\n<h2>%2 %3</h2>\n<table>\n")
                      .arg(index + 1)
                      .arg(Esc(u.planned.name), badge(u.state));
    out += row(Text(Role), Esc(RoleText(u.planned.record)));
    const SiteBookEntry *now = u.now();
    if (!now)
        return out + QStringLiteral("</table>\n<p>%1</p>\n</section>\n").arg(Esc(Text(NoEntry)));
    const auto orDash = [](const QString &s) { return Esc(s.isEmpty() ? QStringLiteral("-") : s); };
    out += row(Text(Version), orDash(now->version));
    out += row(Text(Adapter), orDash(now->adapter));
    out += row(Text(Port), orDash(now->port));
    out += row(Text(Serial), orDash(SerialText(RecordOfSettings(u.held()))));
    out += row(Text(u.state == HandoverUnit::Verified ? VerifiedAt : LastEntry),
               Esc(QStringLiteral("%1 (%2), %3 @ %4")
                       .arg(WhenText(now->time), Text(u.compared && now == &*u.compared ? Compared : SetUp), now->user,
                            now->host)));
    if (u.setUp && !u.setUp->backupPath.isEmpty())
        out += row(Text(Backup), Esc(QFileInfo(u.setUp->backupPath).fileName()) + QStringLiteral("<br>SHA-256 ")
                                     + Esc(u.setUp->backupSha256));
    out += QStringLiteral("</table>\n<table class=\"settings\">\n<tr><th>%1</th><th>%2</th><th>%3</th></tr>\n")
               .arg(Esc(Text(Setting)), Esc(Text(Meant)), Esc(Text(Held)));
    // Every field of the record; what the plan leaves as the unit has it is
    // meant as "-" and never differs.
    QHash<QString, QString> meantOf;
    for (const auto &[key, value] : RecordFields(u.planned.record))
        meantOf.insert(key, value);
    QStringList keys{QStringLiteral("band"), QStringLiteral("channel")};
    for (int list = 0; list < UnitRecord::Lists; ++list)
        keys << RecordKey(list);
    for (const QString &key : std::as_const(keys)) {
        const QString meant = meantOf.value(key), held = u.held().value(key).toVariant().toString();
        const bool differ = meantOf.contains(key) && !held.isEmpty() && held != meant;
        out += QStringLiteral("<tr><td>%1</td><td>%2</td><td%3>%4</td></tr>\n")
                   .arg(Esc(key), orDash(meant), differ ? QStringLiteral(" class=\"differ\"") : QString(),
                        (differ ? QStringLiteral("≠ ") : QString()) + orDash(held));
    }
    out += QStringLiteral("</table>\n");
    if (!u.differences.isEmpty())
        out += QStringLiteral("<h3>%1</h3>\n<pre>%2</pre>\n").arg(Esc(Text(Differences)), Esc(u.differences.join(u'\n')));
    if (!now->detail.trimmed().isEmpty() && now->detail.trimmed() != u.differences.join(u'\n'))
        out += QStringLiteral("<h3>%1</h3>\n<pre>%2</pre>\n").arg(Esc(Text(ProgramSaid)), Esc(now->detail.trimmed()));
    return out + QStringLiteral("</section>\n");
}

QString labelsSection(const Handover &h)
{
    QString out = QStringLiteral("<section id=\"labels\">\n<h2>%1</h2>\n<div class=\"labels\">\n").arg(Esc(Text(Labels)));
    for (const HandoverUnit &u : h.units) {
        const QString text = HandoverLabelText(h, u);
        // Four CSS pixels a module at print size, as small as a phone reads
        // well; a code too wide for half the page takes the whole width.
        const QString code = QrSvg(text.toUtf8(), 4);
        const bool wide = code.section(u'"', 3, 3).toInt() > 300;
        out += QStringLiteral("<div class=\"label%1\">%2<div><pre><b>%3</b>\n%4</pre>%5</div></div>\n")
                   .arg(wide ? QStringLiteral(" wide") : QString(),
                        code.isEmpty() ? QStringLiteral("<p>%1</p>").arg(Esc(Text(NoQrCode))) : code,
                        Esc(text.section(u'\n', 0, 0)), Esc(text.section(u'\n', 1)), badge(u.state));
    }
    return out + QStringLiteral("</div>\n</section>\n");
}

QString signOffSection()
{
    QString out = QStringLiteral("<section id=\"sign-off\">\n<h2>%1</h2>\n<table class=\"sign\">\n"
                                 "<tr><th></th><th>%2</th><th>%3</th><th>%4</th></tr>\n")
                      .arg(Esc(Text(SignOff)), Esc(Text(Name)), Esc(Text(Date)), Esc(Text(Signature)));
    for (const int who : {CommissionedBy, AcceptedBy})
        out += QStringLiteral("<tr><th>%1</th><td></td><td></td><td></td></tr>\n").arg(Esc(Text(who)));
    return out + QStringLiteral("</table>\n</section>\n");
}

} // namespace

QString HandoverHtml(const Handover &h)
{
    QString out = QStringLiteral("<!DOCTYPE html>\n<html lang=\"%1\">\n<head>\n<meta charset=\"utf-8\">\n"
                                 "<title>%2 - %3</title>\n<style>\n%4</style>\n</head>\n<body>\n")
                      .arg(h.language == QLatin1String("ja") ? QStringLiteral("ja") : QStringLiteral("en"),
                           Esc(Text(Title)), Esc(h.site), QLatin1String(Style));
    out += titleSection(h);
    for (int i = 0; i < h.units.size(); ++i)
        out += unitSection(h.units.at(i), i);
    out += labelsSection(h) + signOffSection();
    return out + QStringLiteral("</body>\n</html>\n");
}

QString HandoverLabelText(const Handover &h, const HandoverUnit &u)
{
    return QStringList{u.planned.name, RoleText(u.planned.record), BandChannelText(h.plan.shared), h.site,
                       h.made.toLocalTime().date().toString(Qt::ISODate)}
        .join(u'\n');
}
