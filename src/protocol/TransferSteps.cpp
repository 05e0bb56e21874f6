// The single exchanges of a transfer: a command on the transfer's own
// connection and the answer that fits it, or why none came.
#include "protocol/TransferSteps.h"

#include "core/AppState.h"
#include "protocol/modModem.h"
#include "protocol/modWired.h"
#include "serial/CommControl.h"
#include "serial/Exchange.h"
#include "serial/mod232C.h"

namespace Transfer {

using namespace ConfigMessages;

QString RecordName()
{
    return app().message(Record);
}

bool Connected(const CommControl &comm)
{
    return comm.isConnection(comm.waitConnection());
}

bool NextCommand(CommControl &comm)
{
    return StartExchange(comm) && Connected(comm);
}

int Wired(CommControl &comm, ReplyTimer &timer, const QString &command, const QString &expected,
          const std::function<bool()> &fits, bool *sent)
{
    if (!NextCommand(comm))
        return PortClosed;
    SendWiredCommand(comm, timer, command);
    if (sent)
        *sent = true;
    QString letter;
    const WiredAnswer answer = WaitWiredAnswer(
        comm, timer, WiredReplyMs,
        [&](const QString &l) {
            return l == QLatin1String("N") || (l == expected && (!fits || fits()));
        },
        letter);
    switch (answer) {
    case WiredAnswer::Fitting:
        return letter == expected ? 0 : ConfigMessages::Refused;
    case WiredAnswer::OnlyOthers:
        return OtherAnswer;
    case WiredAnswer::Nothing:
        return NoAnswer;
    case WiredAnswer::Lost:
        break;
    }
    return PortClosed;
}

int ReadRecordStep(CommControl &comm, ReplyTimer &timer, UnitRecord &record)
{
    // Only a whole record answers "R".
    if (const int failed = Wired(comm, timer, QStringLiteral("R"), QStringLiteral("R"), [] {
            return UnitRecord::fromText(app().ReplyRecord).has_value();
        }))
        return failed;
    record = *UnitRecord::fromText(app().ReplyRecord);
    return 0;
}

int ReadRegisterStep(CommControl &comm, ReplyTimer &timer, TransferPath path, int n, QString &value)
{
    if (path == TransferPath::Registers) {
        if (!NextCommand(comm))
            return PortClosed;
        bool refused = false, inDoubt = false;
        if (!ReadRegister(comm, timer, quint8(n), value, &refused, &inDoubt))
            return RegisterFailure(comm, refused, inDoubt);
        return 0;
    }
    const QString nn = QStringLiteral("%1").arg(n, 2, 10, QLatin1Char('0'));
    // An "F" for another register, or cut short, answers another command.
    if (const int failed = Wired(comm, timer, QStringLiteral("F") + nn, QStringLiteral("F"), [&] {
            return app().ReplyRegNo == nn && app().ReplyRegValue.size() == 2;
        }))
        return failed;
    value = app().ReplyRegValue;
    return 0;
}

int WriteRegisterStep(CommControl &comm, ReplyTimer &timer, TransferPath path, int n,
                      const QString &value, bool *sent)
{
    if (path == TransferPath::Registers) {
        if (!NextCommand(comm))
            return PortClosed;
        *sent = true;
        bool refused = false, inDoubt = false;
        return WriteRegister(comm, timer, qint16(n), value, &refused, &inDoubt)
            ? 0
            : RegisterFailure(comm, refused, inDoubt, false);
    }
    return Wired(comm, timer,
                 QStringLiteral("S%1%2").arg(n, 2, 10, QLatin1Char('0')).arg(value),
                 QStringLiteral("A"), {}, sent);
}

} // namespace Transfer

QString RegisterName(int n)
{
    return app().message(ConfigMessages::Register) + QStringLiteral(" %1").arg(n, 2, 10, QLatin1Char('0'));
}

int RegisterFailure(const CommControl &comm, bool refused, bool inDoubt, bool read)
{
    if (!Transfer::Connected(comm))
        return ConfigMessages::PortClosed;
    if (inDoubt)
        return read ? ConfigMessages::ReadsDisagree : ConfigMessages::WriteInDoubt;
    return refused ? ConfigMessages::Refused : ConfigMessages::NoAnswer;
}

TransferPath CurrentTransferPath()
{
    return app().UnitMode == 4 ? TransferPath::Registers : TransferPath::Wired;
}
