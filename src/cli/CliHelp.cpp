// The command line's help and its manual page, both from the tables.
#include "cli/CliTables.h"

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
    for (const Cli::CommandInfo &c : Cli::Commands())
        text += QStringLiteral("  %1%2\n")
                    .arg(QString::fromLatin1(c.synopsis).leftJustified(28),
                         QLatin1String(c.summary));
    return text + QLatin1Char('\n') + optionsHelp() + QLatin1Char('\n') + exitHelp();
}

QString CommandLineManual()
{
    QString out = QStringLiteral(".SH COMMANDS\n");
    for (const Cli::CommandInfo &c : Cli::Commands()) {
        out += QStringLiteral(".TP\n.B ") + roff(QLatin1String(c.synopsis)) + QLatin1Char('\n')
            + roff(QLatin1String(c.summary)) + QLatin1Char('\n');
        if (*c.more)
            out += roff(QString::fromLatin1(c.more).replace(QLatin1Char('\n'), QLatin1Char(' ')))
                + QLatin1Char('\n');
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
