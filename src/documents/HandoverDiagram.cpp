// The network drawn as SVG: the master in the middle with the band and
// channel the plan gives them all, the slaves on an ellipse around it,
// each box its role and what it held when last read, coloured by its
// state, a legend under it.
#include "documents/Handover.h"
#include "documents/HandoverText.h"

#include <QtMath>

namespace {

constexpr int BoxW = 176, BoxH = 82;

struct Colours {
    const char *fill, *stroke, *dash;
};
const Colours StateColours[] = {{"#e3f2e5", "#2e7d32", "none"},   // verified
                                {"#fff0dc", "#e07b00", "none"},   // differs
                                {"#fde4e4", "#c62828", "none"},   // failed
                                {"#f2f2f2", "#757575", "6 4"}};  // not set up

// A name too long for its box, cut with an ellipsis: the unit's section has
// it whole. A wide (East Asian) character takes two narrow ones' room.
QString fit(const QString &text, int room)
{
    const auto width = [](char32_t c) { return c >= 0x1100 ? 2 : 1; };
    int used = 0;
    const QList<uint> chars = text.toUcs4();
    for (const char32_t c : chars)
        used += width(c);
    if (used <= room)
        return text;
    QString out;
    used = 1; // the ellipsis
    for (const char32_t c : chars) {
        if ((used += width(c)) > room)
            break;
        out += QString::fromUcs4(&c, 1);
    }
    return out + QStringLiteral("…");
}

QString box(const HandoverUnit &u, double cx, double cy)
{
    const Colours &c = StateColours[u.state];
    const double x = cx - BoxW / 2.0, y = cy - BoxH / 2.0;
    QString out = QStringLiteral("<g><rect x=\"%1\" y=\"%2\" width=\"%3\" height=\"%4\" rx=\"6\" fill=\"%5\" "
                                 "stroke=\"%6\" stroke-width=\"2\" stroke-dasharray=\"%7\"/>")
                      .arg(x)
                      .arg(y)
                      .arg(BoxW)
                      .arg(BoxH)
                      .arg(QLatin1String(c.fill), QLatin1String(c.stroke), QLatin1String(c.dash));
    // Its role in the plan; band, channel and serial settings as last read,
    // "-" where nothing was read.
    const UnitRecord shown = RecordOfSettings(u.held());
    const QStringList lines{RoleText(u.planned.record) + QStringLiteral(" · ") + HandoverStateText(u.state),
                            BandChannelText(shown), SerialText(shown)};
    out += QStringLiteral("<text x=\"%1\" y=\"%2\" font-weight=\"bold\" font-size=\"14\">%3</text>")
               .arg(x + 8)
               .arg(y + 19)
               .arg(Esc(fit(u.planned.name, 20)));
    for (int i = 0; i < lines.size(); ++i)
        out += QStringLiteral("<text x=\"%1\" y=\"%2\" font-size=\"11.5\">%3</text>")
                   .arg(x + 8)
                   .arg(y + 38 + 15 * i)
                   .arg(Esc(fit(lines.at(i), 28)));
    return out + QStringLiteral("</g>");
}

} // namespace

QString HandoverDiagram(const Handover &h)
{
    int master = 0;
    QList<int> slaves;
    for (int i = 0; i < h.units.size(); ++i) {
        if (h.units.at(i).planned.record.lists[0] == QLatin1Char('0'))
            master = i;
        else
            slaves << i;
    }
    const int n = int(slaves.size());
    // Room enough on the ellipse for every box beside the next.
    const double rx = qMax(250.0, n * 36.0), ry = qMax(160.0, n * 24.0);
    // The drawing as high as its boxes reach, the legend under it.
    double top = 0, bottom = 0;
    for (int k = 0; k < n; ++k) {
        top = qMin(top, ry * qSin(-M_PI / 2 + 2 * M_PI * k / n));
        bottom = qMax(bottom, ry * qSin(-M_PI / 2 + 2 * M_PI * k / n));
    }
    const double width = 2 * rx + BoxW + 20, height = bottom - top + BoxH + 20 + 34;
    const double cx = width / 2, cy = 10 + BoxH / 2.0 - top;
    QString lines, boxes;
    for (int k = 0; k < n; ++k) {
        const double a = -M_PI / 2 + 2 * M_PI * k / n; // the first at the top
        const double x = cx + rx * qCos(a), y = cy + ry * qSin(a);
        lines += QStringLiteral("<line x1=\"%1\" y1=\"%2\" x2=\"%3\" y2=\"%4\" stroke=\"#888\" stroke-width=\"1.5\"/>")
                     .arg(cx)
                     .arg(cy)
                     .arg(x)
                     .arg(y);
        boxes += box(h.units.at(slaves.at(k)), x, y);
    }
    QString out = QStringLiteral("<svg viewBox=\"0 0 %1 %2\" width=\"%1\" height=\"%2\" role=\"img\" "
                                 "font-family=\"DejaVu Sans, IPAPGothic, IPAGothic, sans-serif\">")
                      .arg(width)
                      .arg(height);
    out += lines;
    // What they all share, over the master.
    out += QStringLiteral("<text x=\"%1\" y=\"%2\" text-anchor=\"middle\" font-size=\"13\" font-weight=\"bold\" "
                          "fill=\"#333\" stroke=\"#fff\" stroke-width=\"4\" paint-order=\"stroke\">%3</text>")
               .arg(cx)
               .arg(cy - BoxH / 2.0 - 8)
               .arg(Esc(BandChannelText(h.plan.shared)));
    if (!h.units.isEmpty())
        out += box(h.units.at(master), cx, cy);
    out += boxes;
    // Colour alone is lost on a grey printout: each box says its state in words too.
    for (int s = HandoverUnit::Verified; s <= HandoverUnit::NotSetUp; ++s) {
        const Colours &c = StateColours[s];
        const double x = 10 + s * 150.0, y = height - 26;
        out += QStringLiteral("<rect x=\"%1\" y=\"%2\" width=\"18\" height=\"14\" fill=\"%3\" stroke=\"%4\" "
                              "stroke-width=\"2\" stroke-dasharray=\"%5\"/><text x=\"%6\" y=\"%7\" font-size=\"12\">%8</text>")
                   .arg(x)
                   .arg(y)
                   .arg(QLatin1String(c.fill), QLatin1String(c.stroke), QLatin1String(c.dash))
                   .arg(x + 24)
                   .arg(y + 12)
                   .arg(Esc(HandoverStateText(HandoverUnit::State(s))));
    }
    return out + QStringLiteral("</svg>");
}
