// A command sent by hand and the wait for its answer.
#include "protocol/ManualCommand.h"

#include "core/AppState.h"
#include "protocol/TrafficMeaning.h"
#include "protocol/TransferSteps.h"
#include "protocol/modModem.h"
#include "serial/CommControl.h"
#include "serial/DoEvents.h"
#include "serial/Exchange.h"
#include "serial/ReplyTimer.h"
#include "serial/mod232C.h"
#include "serial/modLog.h"

#include <algorithm>

bool IsSendableLine(const QString &line)
{
    return !line.isEmpty() && line.size() <= 256
        && std::all_of(line.begin(), line.end(), [](QChar c) { return c.unicode() >= 0x20 && c.unicode() < 0x7F; });
}

ManualResult SendManualCommand(CommControl &comm, ReplyTimer &timer, const QString &line, QString *answer)
{
    if (!IsSendableLine(line))
        return ManualResult::NotALine;
    const Exchange exchange(comm);
    if (!exchange.started())
        return ManualResult::Busy;
    if (!Transfer::NextCommand(comm))
        return ManualResult::PortClosed;
    const quint64 connection = comm.waitConnection();
    // A record, a register or the reset typed by hand changes the unit as the
    // editor's own writes do: the screens that show it learn of it.
    switch (TrafficMeaningMessage(TrafficEvent{0, TrafficEvent::Sent, line})) {
    case TrafficMessages::WriteRecord:
    case TrafficMessages::WriteRegister:
    case TrafficMessages::Reset:
        comm.noteUnitWritten();
        break;
    default:
        break;
    }
    SendLine(comm, timer, line);
    WaitLimit limit(RegisterReplyMs);
    const PortReader reading;
    ManualResult result = ManualResult::NoAnswer;
    for (;;) {
        if (!comm.isConnection(connection)) {
            result = ManualResult::PortClosed;
            break;
        }
        bool done = false;
        for (QString got; !done && !(got = ReceiveWaitingLine(comm)).isEmpty();) {
            if (IsFinalAnswer(TrafficEvent{0, TrafficEvent::Received, got}, line)) {
                if (answer)
                    *answer = got;
                result = ManualResult::Answered;
                done = true;
            }
        }
        if (done)
            break;
        if (limit.expired() || app().ExitConfirmed) {
            LogNote(QStringLiteral("time-out"));
            break;
        }
        DoEvents(&comm);
    }
    if (result != ManualResult::Answered)
        comm.noteAnswerDue(); // its answer may still come
    app().AwaitingAck = false;
    return result;
}
