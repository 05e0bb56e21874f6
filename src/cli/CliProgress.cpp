// Progress lines on standard error: in place on a terminal, a line a stage
// elsewhere.
#include "cli/CliProgress.h"

#include "cli/CliHistory.h"
#include "cli/CliOutput.h"

#include <algorithm>
#include <memory>

#ifdef Q_OS_UNIX
#include <sys/ioctl.h>
#include <unistd.h>
#endif

namespace Cli {
namespace {

namespace ProgressMessages {
constexpr int Exchange = 375;     // STAGE (exchange n of total)
constexpr int ExchangeLeft = 376; // ... and about TIME left
constexpr int Seconds = 377;
constexpr int Minutes = 378;      // m min s s
} // namespace ProgressMessages

// A line longer than the terminal is wide would take two rows, and going
// back up over the live lines would miss.
QString fitted(const QString &line)
{
    int columns = 0;
#ifdef Q_OS_UNIX
    winsize size{};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0)
        columns = size.ws_col;
#endif
    if (columns <= 1)
        return line;
    QString fit = line;
    while (!fit.isEmpty() && TerminalColumns(fit) >= columns)
        fit.chop(1);
    return fit;
}

} // namespace

QString ProgressBoard::timeLeft(const Unit &u)
{
    if (u.n <= u.first || u.total < u.n)
        return QString();
    // The exchanges that ended, each as long as they took on average; the
    // one under way less what it has taken, so that a unit redrawn for
    // another's sake does not seem to slow down.
    const qint64 each = u.basis / (u.n - u.first);
    const qint64 ms = qMax(each * (u.total - u.n), each * (u.total - u.n + 1) - (u.since.elapsed() - u.basis));
    const qint64 seconds = qMax<qint64>(1, (ms + 999) / 1000);
    if (seconds < 60)
        return Message(ProgressMessages::Seconds).arg(seconds);
    return Message(ProgressMessages::Minutes).arg(seconds / 60).arg(seconds % 60);
}

QString ProgressBoard::text(const Unit &u) const
{
    const QString left = timeLeft(u);
    const QString stage = Message(u.stage);
    const QString n = QString::number(u.n), total = QString::number(u.total);
    return Printable(u.name) + QStringLiteral(": ") // a name is never a terminal's command
        + (left.isEmpty() ? Message(ProgressMessages::Exchange).arg(stage, n, total)
                          : Message(ProgressMessages::ExchangeLeft).arg(stage, n, total, left));
}

void ProgressBoard::update(int key, const QString &name, int stage, int n, int total)
{
    if (m_style == None)
        return;
    auto found = std::find_if(m_units.begin(), m_units.end(), [key](const Unit &u) { return u.key == key; });
    if (found == m_units.end()) {
        Unit u;
        u.key = key;
        u.first = n;
        u.since.start();
        // In the caller's order (the plan's), whichever began first.
        found = m_units.insert(std::upper_bound(m_units.begin(), m_units.end(), key,
                                                [](int k, const Unit &v) { return k < v.key; }),
                               u);
    }
    const bool newStage = found->stage != stage;
    found->name = name;
    found->stage = stage;
    found->n = n;
    found->total = total;
    found->basis = found->since.elapsed();
    if (m_style == Live)
        draw(QString());
    else if (newStage)
        Print(stderr, text(*found) + QLatin1Char('\n'));
}

void ProgressBoard::finish(int key, const QString &line)
{
    m_units.erase(std::remove_if(m_units.begin(), m_units.end(), [key](const Unit &u) { return u.key == key; }),
                  m_units.end());
    if (m_style == Live)
        draw(line);
    else if (!line.isEmpty())
        Print(stderr, line + QLatin1Char('\n'));
}

void ProgressBoard::print(const QString &line)
{
    if (m_style == Live)
        draw(line);
    else
        Print(stderr, line + QLatin1Char('\n'));
}

void ProgressBoard::draw(const QString &above)
{
    // Back to the first live line, each line written over to its end, and
    // whatever a longer board left below erased.
    QString out = m_drawn ? QStringLiteral("\x1b[%1A").arg(m_drawn) : QString();
    for (const QString &line : above.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        out += QLatin1Char('\r') + line + QStringLiteral("\x1b[K\n");
    for (const Unit &u : std::as_const(m_units))
        out += QLatin1Char('\r') + fitted(text(u)) + QStringLiteral("\x1b[K\n");
    out += QStringLiteral("\x1b[J");
    m_drawn = int(m_units.size());
    Print(stderr, out);
}

ProgressBoard::Style UnitProgressStyle(const CliRequest &r)
{
    if (IsTerminal(stderr))
        return r.trace ? ProgressBoard::Lines : ProgressBoard::Live;
    return r.progress ? ProgressBoard::Lines : ProgressBoard::None;
}

TransferProgress UnitProgress(ProgressBoard::Style style, const QString &name)
{
    if (style == ProgressBoard::None)
        return {};
    auto board = std::make_shared<ProgressBoard>(style);
    return [board, name](int stage, int n, int total) {
        board->update(0, name, stage, n, total);
        return true;
    };
}

} // namespace Cli
