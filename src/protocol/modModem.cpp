// The unit's register commands and their acknowledgement waits.
#include "protocol/modModem.h"

#include "config/TextConvert.h"
#include "core/AppState.h"
#include "serial/CommControl.h"
#include "serial/DoEvents.h"
#include "serial/ReplyTimer.h"
#include "serial/mod232C.h"
#include "serial/modLog.h"

#include <functional>

int ClassifyReply(const QString &line)
{
    const QString head = line.left(2);
    if (head == QLatin1String("P0"))
        return Accepted;
    if (head == QLatin1String("P1"))
        return Recognised;
    if (head.size() == 2 && head[0] == u'N' && head[1] >= u'0' && head[1] <= u'4')
        return Refused;
    if (head == QLatin1String("RX"))
        return line.size() > 6 ? RxLine : Other;
    if (head == QLatin1String("RB"))
        return RbLine;
    return Other;
}

QString ReadRegisterCommand(int regNo)
{
    // Number format "00"; the general conversion only for what no register is.
    if (regNo >= 0 && regNo < 100) {
        QString command = QStringLiteral("@REG00");
        command[4] = QLatin1Char(char('0' + regNo / 10));
        command[5] = QLatin1Char(char('0' + regNo % 10));
        return command;
    }
    return QStringLiteral("@REG") + TextConvert::formatWhole(QString::number(regNo), 2);
}

QString WriteRegisterCommand(int regNo, const QString &value)
{
    return ReadRegisterCommand(regNo) + QLatin1Char(':') + TextConvert::right2(value)
        + QLatin1Char('H');
}

namespace {

// Sends `text` and waits for its acknowledgement. `onLine` acts on each line
// and ends the wait by clearing AwaitingAck. Each send has its own 7000 ms
// window, whatever other lines are sent meanwhile; `resends` more sends follow
// a window that ran out.
void awaitAck(CommControl &comm, ReplyTimer &timer, const QString &text, int resends,
              const std::function<void(const QString &)> &onLine)
{
    AppState &s = app();
    const quint64 connection = comm.waitConnection();
    SendLine(comm, timer, text);
    WaitLimit limit(RegisterReplyMs);
    const PortReader reading;
    int resent = 0;
    while (s.AwaitingAck) {
        if (!comm.isConnection(connection)) {
            // The port is closed or replaced: no reply comes, and none may
            // come from another device.
            s.AwaitingAck = false;
            break;
        }
        // Every line already here before events run again.
        for (QString line; s.AwaitingAck && !(line = ReceiveWaitingLine(comm)).isEmpty();)
            onLine(line);
        if (s.AwaitingAck && s.ExitConfirmed) { // the program is ending
            s.AwaitingAck = false;
            break;
        }
        if (s.AwaitingAck && limit.expired()) {
            if (resent < resends) {
                SendLine(comm, timer, text);
                limit.restart(RegisterReplyMs);
                ++resent;
                DoEvents(&comm);
                continue;
            }
            s.AwaitingAck = false;
            LogNote(QStringLiteral("time-out"));
        }
        if (s.AwaitingAck)
            DoEvents(&comm);
    }
}

} // namespace

bool ReadRegister(CommControl &comm, ReplyTimer &timer, quint8 regNo, QString &value,
                  bool *refused)
{
    bool result = false;
    if (refused)
        *refused = false;
    awaitAck(comm, timer, ReadRegisterCommand(regNo), 2, [&](const QString &line) {
        const int kind = ClassifyReply(line);
        if (kind == Refused) {
            if (refused)
                *refused = true;
            app().AwaitingAck = false;
        } else if (kind != Accepted && line.size() >= 3 && line[2] == u'H') {
            value = line.left(2);
            result = true;
            app().AwaitingAck = false;
        }
    });
    return result;
}

bool WriteRegister(CommControl &comm, ReplyTimer &timer, qint16 regNo, const QString &value,
                   bool *refused)
{
    bool result = false;
    if (refused)
        *refused = false;
    comm.noteUnitWritten();
    awaitAck(comm, timer, WriteRegisterCommand(regNo, value), 2, [&](const QString &line) {
        const int kind = ClassifyReply(line);
        if (kind == Accepted || kind == Refused) {
            result = kind == Accepted;
            if (refused)
                *refused = kind == Refused;
            app().AwaitingAck = false;
        }
    });
    return result;
}

void ResetUnit(CommControl &comm, ReplyTimer &timer)
{
    awaitAck(comm, timer, QStringLiteral("@RST"), 0, [](const QString &line) {
        const int kind = ClassifyReply(line);
        if (kind == Accepted || kind == Refused)
            app().AwaitingAck = false;
    });
}
