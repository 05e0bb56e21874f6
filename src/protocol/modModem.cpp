// The unit's register commands and their acknowledgement waits.
#include "protocol/modModem.h"

#include "config/TextConvert.h"
#include "core/AppState.h"
#include "serial/CommControl.h"
#include "serial/DoEvents.h"
#include "serial/LineClear.h"
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
// a window that ran out. True when the wait had no time-out: after one, the
// answer taken may be either send's and another may still come.
bool awaitAck(CommControl &comm, ReplyTimer &timer, const QString &text, int resends,
              const std::function<void(const QString &)> &onLine)
{
    AppState &s = app();
    // Nothing of an earlier command's may answer this one.
    if (!ClearLine(comm)) {
        s.AwaitingAck = false;
        return false;
    }
    const quint64 connection = comm.waitConnection();
    SendLine(comm, timer, text);
    WaitLimit limit(RegisterReplyMs);
    const PortReader reading;
    int resent = 0;
    bool answered = true;
    while (s.AwaitingAck) {
        if (!comm.isConnection(connection)) {
            // The port is closed or replaced: no reply comes, and none may
            // come from another device.
            s.AwaitingAck = false;
            answered = false;
            break;
        }
        // Every line already here before events run again.
        for (QString line; s.AwaitingAck && !(line = ReceiveWaitingLine(comm)).isEmpty();)
            onLine(line);
        if (s.AwaitingAck && s.ExitConfirmed) { // the program is ending
            s.AwaitingAck = false;
            answered = false;
            break;
        }
        if (s.AwaitingAck && limit.expired()) {
            answered = false;
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
    if (!answered)
        comm.noteAnswerDue();
    return answered;
}

} // namespace

namespace {

// One read: true with the value when a value line came; `clean`: no time-out.
bool readOnce(CommControl &comm, ReplyTimer &timer, quint8 regNo, QString &value, bool &refused,
              bool &clean)
{
    bool result = false;
    refused = false;
    clean = awaitAck(comm, timer, ReadRegisterCommand(regNo), 2, [&](const QString &line) {
        const int kind = ClassifyReply(line);
        if (kind == Refused) {
            refused = true;
            app().AwaitingAck = false;
        } else if (kind != Accepted && line.size() >= 3 && line[2] == u'H') {
            value = line.left(2);
            result = true;
            app().AwaitingAck = false;
        }
    });
    return result;
}

} // namespace

bool ReadRegister(CommControl &comm, ReplyTimer &timer, quint8 regNo, QString &value,
                  bool *refused, bool *inDoubt)
{
    bool wasRefused = false, clean = true;
    QString first;
    bool ok = readOnce(comm, timer, regNo, first, wasRefused, clean);
    bool disagree = false;
    if (ok && !clean) {
        // Taken after a time-out: read again once the line is clear; only
        // two reads that agree are the unit's value.
        QString second;
        ok = readOnce(comm, timer, regNo, second, wasRefused, clean);
        disagree = ok && second != first;
        ok = ok && !disagree;
    }
    if (refused)
        *refused = wasRefused;
    if (inDoubt)
        *inDoubt = disagree;
    if (ok)
        value = first;
    return ok;
}

bool WriteRegister(CommControl &comm, ReplyTimer &timer, qint16 regNo, const QString &value,
                   bool *refused, bool *inDoubt)
{
    bool result = false;
    bool wasRefused = false;
    comm.noteUnitWritten();
    const bool clean =
        awaitAck(comm, timer, WriteRegisterCommand(regNo, value), 2, [&](const QString &line) {
            const int kind = ClassifyReply(line);
            if (kind == Accepted || kind == Refused) {
                result = kind == Accepted;
                wasRefused = kind == Refused;
                app().AwaitingAck = false;
            }
        });
    // A refusal after a resend may answer the resend alone: the first send
    // may have been taken.
    const bool doubt = wasRefused && !clean;
    if (refused)
        *refused = wasRefused && !doubt;
    if (inDoubt)
        *inDoubt = doubt;
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
