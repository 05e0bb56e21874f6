// The command line's help and its manual page, both from the tables.
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

QString optionsHelp()
{
    QString text = QStringLiteral("Options:\n");
    for (const Cli::OptionInfo &o : Cli::Options()) {
        const QString names = QStringLiteral("  ") + QLatin1String(o.names);
        text += names.size() < 21 ? names.leftJustified(21) : names + QStringLiteral("\n") + QString(21, u' ');
        text += wrapped(QLatin1String(o.text), 21, 79) + QLatin1Char('\n');
    }
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

// A command's further text as roff: its prose as running text, a blank line
// as a new paragraph, and its list of options ("  --opt X   what it does",
// continued on lines indented further) as a list of its own.
QString manualText(const QString &more)
{
    static const QRegularExpression item(QStringLiteral("^  (\\S.*?)\\s{2,}(\\S.*)$"));
    QString out;
    bool inList = false;
    const auto text = [](const QString &line) { // never read as a request
        const QString r = roff(line.trimmed());
        return (r.startsWith(QLatin1Char('.')) || r.startsWith(QLatin1Char('\'')) ? QStringLiteral("\\&") : QString())
            + r + QLatin1Char('\n');
    };
    for (const QString &line : more.split(QLatin1Char('\n'))) {
        const auto m = item.match(line);
        if (m.hasMatch()) {
            out += (inList ? QString() : QStringLiteral(".RS\n")) + QStringLiteral(".TP\n.B ")
                + roff(m.captured(1)) + QLatin1Char('\n') + text(m.captured(2));
            inList = true;
            continue;
        }
        if (inList && line.startsWith(QLatin1String("   "))) { // an item's text, continued
            out += text(line);
            continue;
        }
        // Back in the command's own paragraph, at its indent.
        if (inList && !line.trimmed().isEmpty())
            out += QStringLiteral(".RE\n.IP\n");
        else if (inList || line.trimmed().isEmpty())
            out += (inList ? QStringLiteral(".RE\n") : QString()) + QStringLiteral(".IP\n");
        inList = false;
        if (!line.trimmed().isEmpty())
            out += text(line);
    }
    return out + (inList ? QStringLiteral(".RE\n") : QString());
}

} // namespace

QString CommandLineHelp(const QString &command)
{
    if (const Cli::CommandInfo *c = Cli::FindCommand(command))
        return QStringLiteral("Usage: qmlsetup [options] %1\n\n%2\n%3\n\n%4\n%5")
            .arg(QLatin1String(c->synopsis), QLatin1String(c->summary), QLatin1String(c->more),
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
            + roff(QLatin1String(c.summary)) + QLatin1Char('\n');
        if (*c.more)
            out += manualText(QString::fromLatin1(c.more));
    }
    out += QStringLiteral(".SH OPTIONS\n");
    for (const Cli::OptionInfo &o : Cli::Options())
        out += QStringLiteral(".TP\n.B ") + roff(QLatin1String(o.names)) + QLatin1Char('\n')
            + roff(QLatin1String(o.text)) + QLatin1Char('\n');
    out += QStringLiteral(".SH EXIT STATUS\n");
    for (const Cli::ExitInfo &e : Cli::Exits())
        out += QStringLiteral(".TP\n.B %1\n").arg(e.code) + roff(QLatin1String(e.text)) + QLatin1Char('\n');
    return out;
}
