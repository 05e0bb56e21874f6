// The network plan's format for operators. The values come from the tables
// the plan's reader checks against, the example from the commented plan the
// package installs (tst_networkplan reads that one as a plan).
#include "cli/CliPlanHelp.h"

#include "protocol/UnitConfig.h"

namespace Cli {
namespace {

// One of the record's settings, with the names the reader takes.
PlanKey setting(const char *key, const char *text)
{
    const QString k = QLatin1String(key);
    return {k, RecordItemNames(RecordListOfKey(k)).join(QLatin1Char('|')), QLatin1String(text)};
}

// The example's lines without its comments, one blank line between sections.
QString withoutComments(const QString &plan)
{
    QStringList out;
    for (QString line : plan.split(QLatin1Char('\n'))) {
        line = line.trimmed();
        if (line.startsWith(QLatin1Char('#')) || line.startsWith(QLatin1Char(';')))
            continue;
        for (int i = 1; i < line.size(); ++i) {
            if ((line[i] == u'#' || line[i] == u';') && line[i - 1].isSpace()) {
                line = line.left(i).trimmed();
                break;
            }
        }
        if (!line.isEmpty() || (!out.isEmpty() && !out.last().isEmpty()))
            out << line;
    }
    while (!out.isEmpty() && out.last().isEmpty())
        out.removeLast();
    return out.join(QLatin1Char('\n'));
}

const char ExamplePlan[] =
#include "ExamplePlan.inc"
    ;

} // namespace

const PlanFormat &NetworkPlanFormat()
{
    static const PlanFormat format{
        QStringLiteral(
            "PLAN is a text file in UTF-8, like a unit configuration file: a [network] "
            "section with what every unit shares, then a [node NAME] section for each "
            "unit. A line that begins with # or ; is a comment, and so is the rest of a "
            "line from a blank and # or ;. Sections and keys may be written in any case."),
        {
            {QStringLiteral("[network]"), QString(),
             QStringLiteral("what every unit shares. The settings antenna to flow go to "
                            "every unit whose own section does not give them; one given nowhere "
                            "stays as the unit holds it")},
            {QStringLiteral("format"), QStringLiteral("1"), QStringLiteral("required: the plan's format")},
            {QStringLiteral("site"), QStringLiteral("TEXT"),
             QStringLiteral("the site's name: the site book and the handover document file the "
                            "units under it (else under the plan's file name)")},
            {QStringLiteral("band"), QStringLiteral("0-4"), QStringLiteral("required: every unit's band")},
            {QStringLiteral("channel"), QStringLiteral("0-23"), QStringLiteral("required: every unit's channel")},
            setting("antenna", "a single antenna, or diversity reception"),
            setting("bit-rate", "the serial data port's speed, in bit/s"),
            setting("data-length", "its data bits"),
            setting("parity", "its parity"),
            setting("stop-bits", "its stop bits"),
            setting("flow", "its flow control"),
            {QStringLiteral("[node NAME]"), QString(),
             QStringLiteral("one for each unit; NAME is the unit's name in the reports, the site "
                            "book and on its label")},
            {QStringLiteral("type"), QStringLiteral("master|slave"),
             QStringLiteral("required: the unit's role; exactly one unit is the master")},
            {QStringLiteral("port"), QStringLiteral("COMn|PATH"),
             QStringLiteral("where the unit is plugged in: COMn as the port dialog maps it, or a "
                            "device path (best a stable one under /dev/serial/by-id/); left out, "
                            "it is chosen at set-up (--ports, or the network window)")},
            {QStringLiteral("antenna, bit-rate, data-length, parity, stop-bits, flow"), QString(),
             QStringLiteral("this unit's own, over those of [network]; never band or channel")},
        },
        {
            QStringLiteral(
                "A setting may also be raw X (X one of 0-9, A-F), a position the unit holds "
                "that no name stands for, as a saved unit file keeps it. Each key once in a section, each unit once: "
                "two names are one when a person would read them as one (case and width aside, "
                "the micro sign and mu alike). A name cannot hold ]."),
            QStringLiteral(
                "A plan that cannot be used is refused with its line and the reason before "
                "anything is sent (exit code 7): a line that is neither a section nor key = "
                "value, an unknown section or key, a value not listed here, a key or a unit "
                "twice, no format, band or channel, no unit, no master or two (both named), "
                "band or channel under a [node]."),
            QStringLiteral(
                "Choosing another port (the port = lines) leaves the plan the same plan for its "
                "reports and the site book; any other change makes it another plan."),
        },
        QStringLiteral("For example (with comments in /usr/share/doc/qml47210/example-plan.ini "
                       "where the package is installed):"),
        withoutComments(QString::fromUtf8(ExamplePlan)),
    };
    return format;
}

} // namespace Cli
