// The wired command path: commands behind "@KZ9" and the reply letters.
#include "protocol/modWired.h"

#include "config/TextConvert.h"
#include "core/AppState.h"
#include "protocol/SettingsLists.h"
#include "serial/CommControl.h"
#include "serial/DoEvents.h"
#include "serial/LineClear.h"
#include "serial/ReplyTimer.h"
#include "serial/mod232C.h"
#include "serial/modLog.h"

#include <algorithm>

namespace {
std::function<void(const QString &)> g_versionHook;

int hexDigitOrZero(const QString &c)
{
    bool ok = false;
    const int v = c.toInt(&ok, 16);
    return ok && c.size() == 1 ? v : 0;
}
} // namespace

void SetVersionHook(std::function<void(const QString &)> hook) { g_versionHook = std::move(hook); }

bool SendWiredCommand(CommControl &comm, ReplyTimer &timer, const QString &text)
{
    // A record ("D") or a register ("S") changes what the unit holds.
    if (text.startsWith(QLatin1Char('D')) || text.startsWith(QLatin1Char('S')))
        comm.noteUnitWritten();
    // Nothing of an earlier command's may answer this one. The link poll
    // waits for nobody: only "$" answers it, and it pauses for exchanges.
    if (text != QLatin1String("#") && !ClearLine(comm)) {
        app().AwaitingAck = true; // the wait that follows ends without an answer
        return true;
    }
    SendLine(comm, timer, QStringLiteral("@KZ9") + text);
    return true;
}

bool WaitWiredReply(CommControl &comm, ReplyTimer &timer, qint16 interval, QString &letter)
{
    timer.setTag(QStringLiteral("0"));
    timer.setInterval(interval);
    timer.setEnabled(true);
    // This wait's own limit: a poll sent meanwhile re-arms the shared timer
    // but must not keep this wait alive.
    WaitLimit limit(interval);
    const quint64 connection = comm.waitConnection();
    const PortReader reading;
    for (;;) {
        // A closed port (lost, or closed on purpose) brings no answer, and a
        // port replaced meanwhile is another unit's.
        if (!comm.isConnection(connection)) {
            comm.noteAnswerDue();
            return false;
        }
        for (QString line; !(line = ReceiveWaitingLine(comm)).isEmpty();) {
            const bool valid = ParseWiredReply(line, letter);
            // The link poll's answer is never the reply to another command.
            if (!valid || letter != QLatin1String("$")) {
                if (!valid) // the answer itself may still come
                    comm.noteAnswerDue();
                return valid;
            }
        }
        if (limit.expired() || app().ExitConfirmed) {
            if (limit.expired())
                LogNote(QStringLiteral("time-out"));
            comm.noteAnswerDue();
            return false;
        }
        DoEvents(&comm);
    }
}

WiredAnswer WaitWiredAnswer(CommControl &comm, ReplyTimer &timer, qint16 interval,
                            const std::function<bool(const QString &letter)> &fits,
                            QString &letter)
{
    timer.setTag(QStringLiteral("0"));
    timer.setInterval(interval);
    timer.setEnabled(true);
    WaitLimit limit(interval);
    const quint64 connection = comm.waitConnection();
    const PortReader reading;
    bool others = false;
    for (;;) {
        if (!comm.isConnection(connection)) {
            comm.noteAnswerDue();
            return WiredAnswer::Lost;
        }
        for (QString line; !(line = ReceiveWaitingLine(comm)).isEmpty();) {
            if (ParseWiredReply(line, letter) && fits(letter))
                return WiredAnswer::Fitting;
            others = true;
        }
        if (limit.expired() || app().ExitConfirmed) {
            LogNote(others ? QStringLiteral("time-out: no answer that fits") : QStringLiteral("time-out"));
            comm.noteAnswerDue();
            return others ? WiredAnswer::OnlyOthers : WiredAnswer::Nothing;
        }
        DoEvents(&comm);
    }
}

bool WaitLinkAnswer(CommControl &comm, ReplyTimer &timer, qint16 interval)
{
    AppState &s = app();
    timer.setTag(QStringLiteral("0"));
    timer.setInterval(interval);
    timer.setEnabled(true);
    // Each exchange started meanwhile may leave one late reply behind.
    quint32 exchangesSeen = s.ExchangesStarted;
    const PortReader reading;
    for (;;) {
        const QString line = ReceiveWaitingLine(comm);
        if (!line.isEmpty()) {
            QString letter;
            if (ParseWiredReply(line, letter) && letter == QLatin1String("$"))
                return true;
            if (s.ExchangesStarted == exchangesSeen)
                return false;
            ++exchangesSeen;
            s.WatchMode = 2; // that exchange's late reply: go on watching
        }
        if (timer.expired() || s.ExitConfirmed)
            return false;
        DoEvents(&comm);
    }
}

bool RecordReplyComplete(const QString &record)
{
    return record.size() == 10 && std::all_of(record.begin(), record.end(), [](QChar c) {
               return TextConvert::hexDigit(c) >= 0;
           });
}

int RecordReplyChannel(const QString &record)
{
    return int(TextConvert::leadingHex(record.mid(1, 2)));
}

bool ParseWiredReply(const QString &line, QString &letter)
{
    AppState &s = app();
    s.WatchMode = 0;
    const QString body = line.mid(4);
    letter = body.left(1);
    if (letter == QLatin1String("$") || letter == QLatin1String("A")
        || letter == QLatin1String("N"))
        return true;
    if (letter == QLatin1String("R")) {
        s.ReplyRecord = body.mid(1, 10);
        s.ReplyBand = body.mid(1, 1);
        s.ReplyChannel =
            TextConvert::right2(QString::number(TextConvert::leadingHex(body.mid(2, 2))));
        QString *targets[] = {&s.ReplyType,       &s.ReplyAntenna, &s.ReplyBitRate,
                              &s.ReplyDataLength, &s.ReplyParity,  &s.ReplyStopBits,
                              &s.ReplyFlow};
        const auto lists = SettingsLists::recordLists();
        for (int i = 0; i < 7; ++i) {
            const int pos = hexDigitOrZero(body.mid(4 + i, 1));
            // A position past the list's end shows as no item rather than a stale one.
            *targets[i] = pos < lists[i]->size() ? lists[i]->at(pos) : QString();
        }
        return true;
    }
    if (letter == QLatin1String("V")) {
        s.ReplyVersion = body.left(14);
        if (g_versionHook)
            g_versionHook(s.ReplyVersion);
        return true;
    }
    if (letter == QLatin1String("F")) {
        s.ReplyRegNo = body.mid(1, 2);
        s.ReplyRegValue = body.mid(3, 2);
        return true;
    }
    return false;
}
