// An apply's result as an operator reads it: what was written, verified,
// perhaps written or not, and the differences found.
#include "protocol/UnitTransfer.h"

#include "config/modFile.h"
#include "core/AppState.h"

#include <QDir>

namespace {

// "register 00–11" for a run of registers; other names as they stand.
QString names(const QStringList &list)
{
    const QString reg = app().message(ConfigMessages::Register) + QLatin1Char(' ');
    const auto number = [&](const QString &name) {
        bool ok = false;
        const int n = name.startsWith(reg) ? name.mid(reg.size()).toInt(&ok) : -1;
        return ok ? n : -1;
    };
    QStringList out;
    for (int i = 0; i < list.size();) {
        int j = i;
        while (number(list.at(i)) >= 0 && j + 1 < list.size()
               && number(list.at(j + 1)) == number(list.at(j)) + 1)
            ++j;
        out << (j > i ? list.at(i) + QStringLiteral("\u2013") + list.at(j).mid(reg.size())
                      : list.at(i));
        i = j + 1;
    }
    return out.join(QStringLiteral(", "));
}

} // namespace

QString ApplyResult::describe() const
{
    const AppState &s = app();
    QStringList lines;
    const auto because = [&](const TransferFailure &f) {
        return f.what + QStringLiteral(": ") + s.message(f.reason);
    };
    const auto differencesIn = [&](QStringList &into) {
        for (const Difference &d : differences)
            into << QStringLiteral("  %1: %2 %3, %4 %5")
                        .arg(d.what, s.message(ConfigMessages::Meant), d.meant,
                             s.message(ConfigMessages::Holds), d.holds);
    };
    const auto withState = [&](WriteOutcome::State state) {
        QStringList found;
        for (const WriteOutcome &w : writes)
            if (w.state == state)
                found << w.what;
        return found;
    };
    switch (outcome) {
    case Verified:
        lines << s.message(ConfigMessages::Verified);
        break;
    case Differ:
        lines << s.message(ConfigMessages::Differ);
        differencesIn(lines);
        break;
    case Stopped: {
        lines << s.message(ConfigMessages::Stopped) + QLatin1Char(' ') + because(failure);
        // What the unit holds now, write by write: nothing claimed that is
        // not so, nothing found lost.
        const QStringList perhaps = withState(WriteOutcome::MayHaveBeenWritten);
        const QStringList notWritten = withState(WriteOutcome::NotWritten);
        if (written.isEmpty() && perhaps.isEmpty()) {
            lines << s.message(ConfigMessages::NothingWritten);
        } else {
            if (!written.isEmpty())
                lines << s.message(ConfigMessages::WrittenBefore) + QLatin1Char(' ') + names(written);
            if (!perhaps.isEmpty())
                lines << s.message(ConfigMessages::MayHaveBeenWritten) + QLatin1Char(' ')
                        + names(perhaps);
            if (!notWritten.isEmpty())
                lines << s.message(ConfigMessages::NotWrittenList) + QLatin1Char(' ')
                        + names(notWritten);
        }
        const QStringList verified = withState(WriteOutcome::Verified);
        if (!verified.isEmpty())
            lines << s.message(ConfigMessages::VerifiedList) + QLatin1Char(' ') + names(verified);
        const QStringList unread = withState(WriteOutcome::Written);
        if (allWritten && !unread.isEmpty())
            lines << s.message(ConfigMessages::NotReadBack) + QLatin1Char(' ') + names(unread);
        if (!differences.isEmpty()) {
            lines << s.message(ConfigMessages::DiffersFound);
            differencesIn(lines);
        }
        break;
    }
    case NotStarted:
        if (refusal)
            lines << s.message(refusal) + (detail.isEmpty() ? QString() : QLatin1Char(' ') + detail);
        else
            lines << s.message(ConfigMessages::ReadFailed) + QLatin1Char(' ') + because(failure);
        lines << s.message(ConfigMessages::NothingWritten);
        break;
    }
    if (!backupPath.isEmpty())
        lines << s.message(ConfigMessages::Backup) + QLatin1Char(' ') + QDir::toNativeSeparators(backupPath);
    return lines.join(QLatin1Char('\n'));
}

QString ApplyResult::describePreset() const
{
    const AppState &s = app();
    QStringList lines = describe().split(QLatin1Char('\n'));
    if (outcome == Verified)
        lines.first() = s.message(ConfigMessages::PresetVerified);
    else if (outcome == Differ)
        lines.first() = s.message(ConfigMessages::PresetDiffers);
    else
        lines.prepend(s.message(allWritten ? ConfigMessages::PresetUnverified : PresetFailedMessage));
    if (allWritten && !resetSent) // stopped on purpose, or the line lost
        lines.insert(1, s.message(resetStopped ? ConfigMessages::ResetStopped : ConfigMessages::NotReset));
    return lines.join(QLatin1Char('\n'));
}
