// The command line's output: text or JSON, exit codes and reason codes.
#include "cli/CliOutput.h"

#include "cli/CliStops.h"
#include "cli/CommandLine.h"
#include "core/AppState.h"
#include "serial/Exchange.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>

#ifdef Q_OS_UNIX
#include <unistd.h>
#elif defined(Q_OS_WIN)
#include <io.h>
#endif

namespace Cli {
namespace {
bool g_outputFailed = false;
} // namespace

void Print(FILE *stream, const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    const bool written = std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream)
            == size_t(bytes.size())
        && std::fflush(stream) == 0;
    if (!written && stream == stdout)
        g_outputFailed = true;
}

bool OutputFailed()
{
    return g_outputFailed;
}

bool IsTerminal(FILE *stream)
{
#ifdef Q_OS_UNIX
    return ::isatty(fileno(stream));
#elif defined(Q_OS_WIN)
    return ::_isatty(::_fileno(stream));
#else
    return false;
#endif
}

QString Message(int n)
{
    return app().message(n);
}

int ExitFor(int reason)
{
    switch (reason) {
    case ConfigMessages::Refused:
        return ExitCode::Refused;
    case ConfigMessages::NoAnswer:
    case ConfigMessages::PortClosed:
        return ExitCode::NoAnswer;
    case ConfigMessages::OtherAnswer:
    case ConfigMessages::ReadsDisagree: // answers came, none to be trusted
    case ConfigMessages::WriteInDoubt:
        return ExitCode::OtherAnswer;
    default:
        return ExitCode::Failed;
    }
}

QString ReasonCode(int reason)
{
    switch (reason) {
    case ConfigMessages::Refused:
        return QStringLiteral("refused");
    case ConfigMessages::NoAnswer:
        return QStringLiteral("no-answer");
    case ConfigMessages::OtherAnswer:
        return QStringLiteral("other-answer");
    case ConfigMessages::ReadsDisagree:
    case ConfigMessages::WriteInDoubt:
        return QStringLiteral("in-doubt");
    case ConfigMessages::PortClosed:
        return QStringLiteral("line-lost");
    case ConfigMessages::Cancelled:
        return QStringLiteral("cancelled");
    case ExchangeBusyMessage:
        return QStringLiteral("busy");
    default:
        return QStringLiteral("other");
    }
}

QJsonObject RecordJson(const UnitRecord &record)
{
    QJsonObject o, raw;
    for (const auto &[key, value] : RecordFields(record)) {
        bool number = false;
        const int n = value.toInt(&number);
        if (value.startsWith(QLatin1String("raw "))) // a position no item names
            raw.insert(key, value.mid(4));
        else if (key == QLatin1String("band") || key == QLatin1String("channel")
                 || key == QLatin1String("bit-rate"))
            o.insert(key, n);
        else
            o.insert(key, value);
    }
    if (!raw.isEmpty())
        o.insert(QStringLiteral("raw"), raw);
    return o;
}

QString RecordText(const UnitRecord &record)
{
    QStringList lines;
    for (const auto &[key, value] : RecordFields(record))
        lines << key.leftJustified(12) + QStringLiteral("= ") + value;
    return lines.join(QLatin1Char('\n'));
}

int Output::finish(int code, const QString &given)
{
    QStringList parts{m_lead, given, m_tail};
    parts.removeAll(QString());
    const QString text = parts.join(QLatin1Char('\n'));
    if (m_stopCode)
        code = m_stopCode;
    m_doc.insert(QStringLiteral("exit"), code);
    m_doc.insert(QStringLiteral("ok"), code == ExitCode::Done);
    if (m_recorder)
        std::exchange(m_recorder, nullptr)(code, text, m_doc);
    if (m_quiet) {
        if (code != ExitCode::Done)
            m_doc.insert(QStringLiteral("message"), text);
    } else if (m_json) {
        if (code != ExitCode::Done)
            m_doc.insert(QStringLiteral("message"), text);
        Print(stdout, QString::fromUtf8(QJsonDocument(m_doc).toJson(QJsonDocument::Indented)));
    } else if (!text.isEmpty()) {
        Print(code == ExitCode::Done ? stdout : stderr, text + QLatin1Char('\n'));
    }
    return code;
}

int Output::badPort(const QString &code, const QString &text)
{
    insert(QStringLiteral("reason"), code);
    return finish(ExitCode::BadUsage, text);
}

namespace {

QString withAdvice(const QString &text, int reason)
{
    const QString advice = FailureAdvice(reason);
    return advice.isEmpty() ? text : text + QLatin1Char('\n') + advice;
}

} // namespace

QList<Difference> RecordDifferences(const UnitRecord &meant, const UnitRecord &holds)
{
    QList<Difference> differences;
    const auto held = RecordFields(holds);
    for (const auto &[key, value] : RecordFields(meant))
        for (const auto &[heldKey, heldValue] : held)
            if (heldKey == key && heldValue != value)
                differences << Difference{key, value, heldValue};
    return differences;
}

int Output::exchangeFailed(int reason, const QString &what)
{
    insert(QStringLiteral("failed"), what);
    insert(QStringLiteral("reason"), ReasonCode(reason));
    return finish(ExitFor(reason), withAdvice(what + QStringLiteral(": ") + Message(reason), reason));
}

namespace {

// The reset after the writes on the register path, said where the result's
// first line ends; a stop's reason replaces the line lost that the result
// would give for a reset not sent.
QString withResetNote(const QString &text, const ApplyResult &result)
{
    const bool stopped = result.failure.reason == ConfigMessages::Cancelled || StopSignal();
    if (!result.resetSent && !stopped)
        return text;
    QStringList lines = text.split(QLatin1Char('\n'));
    if (stopped) // said once, here
        lines.removeAll(Message(ConfigMessages::NotReset));
    lines.removeAll(Message(CliMessages::NotResetStopped));
    lines.insert(qMin(1, int(lines.size())),
                 Message(result.resetSent ? CliMessages::ResetSent : CliMessages::NotResetStopped));
    return lines.join(QLatin1Char('\n'));
}

} // namespace

int Output::applied(const ApplyResult &result, bool describeInFull, bool preset, bool registerPath)
{
    QJsonArray written;
    for (const QString &w : result.written)
        written.append(w);
    insert(QStringLiteral("written"), written);
    if (!result.backupPath.isEmpty())
        insert(QStringLiteral("backup"), QDir::toNativeSeparators(result.backupPath));
    QJsonArray differences;
    for (const Difference &d : result.differences)
        differences.append(QJsonObject{{QStringLiteral("what"), d.what},
                                       {QStringLiteral("meant"), d.meant},
                                       {QStringLiteral("holds"), d.holds}});
    insert(QStringLiteral("differences"), differences);
    // Each write and what it left in the unit: the same facts as the text.
    static const char *const states[] = {"not-written", "may-have-been-written", "written",
                                         "verified", "differs"};
    QJsonArray writes;
    for (const WriteOutcome &w : result.writes) {
        QJsonObject o{{QStringLiteral("what"), w.what},
                      {QStringLiteral("state"), QLatin1String(states[w.state])}};
        if (w.reason)
            o.insert(QStringLiteral("reason"), ReasonCode(w.reason));
        writes.append(o);
    }
    insert(QStringLiteral("writes"), writes);
    insert(QStringLiteral("verified"), result.outcome == ApplyResult::Verified);
    QString text = preset ? result.describePreset() : result.describe();
    QString verified = describeInFull ? text : Message(CliMessages::WrittenVerified);
    // A write by keys says what it changed, and where the unit was kept.
    if (!describeInFull && result.after && !result.backupPath.isEmpty()) {
        // What the unit holds now against what it held before.
        QStringList changed;
        for (const Difference &d : RecordDifferences(*result.after, result.before.record))
            changed << QStringLiteral("%1: %2 \u2192 %3").arg(d.what, d.holds, d.meant);
        verified += QLatin1Char('\n') + (changed.isEmpty() ? Message(CliMessages::AlreadyHeld) : changed.join(QLatin1Char('\n')))
            + QLatin1Char('\n') + Message(ConfigMessages::Backup) + QLatin1Char(' ')
            + QDir::toNativeSeparators(result.backupPath);
    }
    if (registerPath) {
        insert(QStringLiteral("reset"), result.resetSent);
        text = withResetNote(text, result);
        verified = withResetNote(verified, result);
    }
    switch (result.outcome) {
    case ApplyResult::Verified:
        return finish(ExitCode::Done, verified);
    case ApplyResult::Differ:
        return finish(ExitCode::Differences, text);
    case ApplyResult::Stopped:
        insert(QStringLiteral("failed"), result.failure.what);
        insert(QStringLiteral("reason"), ReasonCode(result.failure.reason));
        return finish(ExitFor(result.failure.reason), withAdvice(text, result.failure.reason));
    case ApplyResult::NotStarted:
        if (result.refusal == ConfigMessages::RecordNeedsWired) // said for a command line
            return finish(ExitCode::BadFile, Message(CliMessages::RecordNeedsWiredPath));
        if (result.refusal)
            return finish(ExitCode::Failed, text);
        insert(QStringLiteral("failed"), result.failure.what);
        insert(QStringLiteral("reason"), ReasonCode(result.failure.reason));
        return finish(ExitFor(result.failure.reason), withAdvice(text, result.failure.reason));
    }
    return ExitCode::Failed;
}

} // namespace Cli
