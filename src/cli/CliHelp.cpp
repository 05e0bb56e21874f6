// The command line's help and its manual page, both from the tables, and the
// network plan's format in both.
#include "cli/CliPlanHelp.h"
#include "cli/CliTables.h"

#include <QRegularExpression>

namespace {

// `text` in lines of at most `width`, each after `indent` blanks but the first.
QString wrapped(const QString &text, int indent, int width)
{
    QString out, line;
    for (const QString &word : text.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        if (!line.isEmpty() && indent + line.size() + 1 + word.size() > width) {
            out += line + QLatin1Char('\n') + QString(indent, u' ');
            line.clear();
        }
        line += (line.isEmpty() ? QString() : QStringLiteral(" ")) + word;
    }
    return out + line;
}

// `name` and what it does in a column from `at`, below the name when it is long.
QString item(const QString &name, const QString &text, int at)
{
    return (name.size() < at ? name.leftJustified(at) : name + QLatin1Char('\n') + QString(at, u' '))
        + wrapped(text, at, 79) + QLatin1Char('\n');
}

QString optionsHelp()
{
    QString text = QStringLiteral("Options:\n");
    for (const Cli::OptionInfo &o : Cli::Options())
        text += item(QStringLiteral("  ") + QLatin1String(o.names), QLatin1String(o.text), 21);
    return text;
}

QString planHelp()
{
    const Cli::PlanFormat &f = Cli::NetworkPlanFormat();
    QString text = QStringLiteral("Network plan:\n") + wrapped(f.intro, 0, 79) + QStringLiteral("\n\n");
    for (const Cli::PlanKey &k : f.keys) {
        const bool section = k.key.startsWith(QLatin1Char('['));
        text += item(QLatin1String(section ? "  " : "    ") + k.key
                         + (k.values.isEmpty() ? QString() : QStringLiteral(" = ") + k.values),
                     k.text, 28);
    }
    for (const QString &rule : f.rules)
        text += QLatin1Char('\n') + wrapped(rule, 0, 79) + QLatin1Char('\n');
    text += QLatin1Char('\n') + wrapped(f.exampleIntro, 0, 79) + QStringLiteral("\n\n");
    for (const QString &line : f.example.split(QLatin1Char('\n')))
        text += (line.isEmpty() ? QString() : QStringLiteral("    ") + line) + QLatin1Char('\n');
    return text;
}

QString exitHelp()
{
    QString text = QStringLiteral("Exit codes:\n");
    for (const Cli::ExitInfo &e : Cli::Exits())
        text += QStringLiteral("  %1  ").arg(e.code, 3) + wrapped(QLatin1String(e.text), 7, 79)
            + QLatin1Char('\n');
    return text;
}

// Text as roff takes it: a backslash doubled, a minus sign marked as one.
QString roff(const QString &text)
{
    return QString(text).replace(QLatin1Char('\\'), QLatin1String("\\\\"))
        .replace(QLatin1Char('-'), QLatin1String("\\-"));
}

// A line of text as roff, never read as a request.
QString roffLine(const QString &line)
{
    const QString r = roff(line.trimmed());
    return (r.startsWith(QLatin1Char('.')) || r.startsWith(QLatin1Char('\'')) ? QStringLiteral("\\&") : QString())
        + r + QLatin1Char('\n');
}

// Running text as roff, in source lines a reader (and lint) can take.
QString roffText(const QString &text)
{
    QString out;
    for (const QString &line : wrapped(text, 0, 72).split(QLatin1Char('\n')))
        out += roffLine(line);
    return out;
}

// A command's further text as roff: its prose as running text, a blank line
// as a new paragraph, and its list of options ("  --opt X   what it does",
// continued on lines indented further) as a list of its own.
QString manualText(const QString &more)
{
    static const QRegularExpression item(QStringLiteral("^  (\\S.*?)\\s{2,}(\\S.*)$"));
    QString out;
    bool inList = false;
    for (const QString &line : more.split(QLatin1Char('\n'))) {
        const auto m = item.match(line);
        if (m.hasMatch()) {
            out += (inList ? QString() : QStringLiteral(".RS\n")) + QStringLiteral(".TP\n.B ")
                + roff(m.captured(1)) + QLatin1Char('\n') + roffLine(m.captured(2));
            inList = true;
            continue;
        }
        if (inList && line.startsWith(QLatin1String("   "))) { // an item's text, continued
            out += roffLine(line);
            continue;
        }
        // Back in the command's own paragraph, at its indent.
        if (inList && !line.trimmed().isEmpty())
            out += QStringLiteral(".RE\n.IP\n");
        else if (inList || line.trimmed().isEmpty())
            out += (inList ? QStringLiteral(".RE\n") : QString()) + QStringLiteral(".IP\n");
        inList = false;
        if (!line.trimmed().isEmpty())
            out += roffLine(line);
    }
    return out + (inList ? QStringLiteral(".RE\n") : QString());
}

// The plan's format as a section of the manual page: each section's keys
// nested under its heading, the example as it is laid out.
QString planManual()
{
    const Cli::PlanFormat &f = Cli::NetworkPlanFormat();
    // Unhyphenated: a key broken across lines reads as another key.
    QString out = QStringLiteral(".SH NETWORK PLAN\n.nh\n") + roffText(f.intro);
    bool nested = false;
    for (const Cli::PlanKey &k : f.keys) {
        const bool section = k.key.startsWith(QLatin1Char('['));
        out += (section && nested ? QStringLiteral(".RE\n") : QString()) + QStringLiteral(".TP\n.B ")
            + roff(k.key + (k.values.isEmpty() ? QString() : QStringLiteral(" = ") + k.values)) + QLatin1Char('\n')
            + roffText(k.text) + (section ? QStringLiteral(".RS\n") : QString());
        nested = nested || section;
    }
    out += nested ? QStringLiteral(".RE\n") : QString();
    for (const QString &rule : f.rules)
        out += QStringLiteral(".PP\n") + roffText(rule);
    out += QStringLiteral(".PP\n") + roffText(f.exampleIntro) + QStringLiteral(".PP\n.RS 4\n.nf\n");
    for (const QString &line : f.example.split(QLatin1Char('\n')))
        out += roffLine(line);
    return out + QStringLiteral(".fi\n.RE\n.hy\n");
}

} // namespace

QString CommandLineHelp(const QString &command)
{
    if (const Cli::CommandInfo *c = Cli::FindCommand(command))
        return QStringLiteral("Usage: qmlsetup [options] %1\n\n%2\n%3\n\n%4%5\n%6")
            .arg(QLatin1String(c->synopsis), QLatin1String(c->summary), QLatin1String(c->more),
                 QLatin1String(c->name) == QLatin1String("network") ? planHelp() + QLatin1Char('\n') : QString(),
                 optionsHelp(), exitHelp());
    QString text = QStringLiteral(
        "Usage: qmlsetup [options] COMMAND [ARGUMENTS]\n"
        "Sets up a QML47210 unit from the command line; without arguments the window opens.\n\n"
        "Commands:\n");
    for (const Cli::CommandInfo &c : Cli::Commands()) {
        const QString synopsis = QLatin1String("  ") + QLatin1String(c.synopsis);
        // A long synopsis on a line of its own, the summary in its column below.
        text += (synopsis.size() < 30 ? synopsis.leftJustified(30) : synopsis + QLatin1Char('\n') + QString(30, u' '))
            + QLatin1String(c.summary) + QLatin1Char('\n');
    }
    return text + QLatin1Char('\n') + optionsHelp() + QLatin1Char('\n') + exitHelp();
}

QString CommandLineManual()
{
    QString out = QStringLiteral(".SH COMMANDS\n");
    for (const Cli::CommandInfo &c : Cli::Commands()) {
        out += QStringLiteral(".TP\n.B ") + roff(QLatin1String(c.synopsis)) + QLatin1Char('\n')
            + roffText(QLatin1String(c.summary));
        // The summary a paragraph of its own, not the start of the rest.
        if (*c.more)
            out += QStringLiteral(".IP\n") + manualText(QString::fromLatin1(c.more));
        if (QLatin1String(c.name) == QLatin1String("network"))
            out += QStringLiteral(".IP\nThe plan's format: see NETWORK PLAN below.\n");
    }
    out += QStringLiteral(".SH OPTIONS\n");
    for (const Cli::OptionInfo &o : Cli::Options())
        out += QStringLiteral(".TP\n.B ") + roff(QLatin1String(o.names)) + QLatin1Char('\n')
            + roffText(QLatin1String(o.text));
    out += QStringLiteral(".SH EXIT STATUS\n");
    for (const Cli::ExitInfo &e : Cli::Exits())
        out += QStringLiteral(".TP\n.B %1\n").arg(e.code) + roffText(QLatin1String(e.text));
    return out + planManual();
}
