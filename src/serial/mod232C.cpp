// The line to the unit: open, close, send a line, take received bytes as lines.
#include "serial/mod232C.h"

#include "config/TextConvert.h"
#include "core/AppState.h"
#include "serial/CommControl.h"
#include "serial/LineClear.h"
#include "serial/ReplyTimer.h"
#include "serial/SerialDevices.h"
#include "serial/modLog.h"

namespace {
PortErrorBox g_errorBox = nullptr;

void showBox(const QString &title, const QString &text)
{
    if (g_errorBox)
        g_errorBox(title, text);
}
} // namespace

void SetPortErrorBox(PortErrorBox box) { g_errorBox = box; }

QString BuildSettings(const QString &baud, const QString &dataBits, const QString &parity,
                      const QString &stopBits)
{
    QString s = baud.trimmed() + QLatin1Char(',');
    if (parity == QLatin1String("E"))
        s += QStringLiteral("E,");
    else if (parity == QLatin1String("O"))
        s += QStringLiteral("O,");
    else
        s += QStringLiteral("N,");
    s += TextConvert::formatWhole(dataBits, 1) + QLatin1Char(',');
    if (stopBits == QLatin1String("1.5") || stopBits == QLatin1String("2"))
        s += stopBits;
    else
        s += QLatin1Char('1');
    return s;
}

bool ReopenPort(CommControl &comm, qint16 port, const QString &baud, const QString &dataBits,
                const QString &parity, const QString &stopBits)
{
    return comm.setSettings(BuildSettings(baud, dataBits, parity, stopBits))
        && comm.setCommPort(port) && comm.setPortOpen(true) && comm.setDTREnable(true)
        && comm.setRTSEnable(true) && comm.setInputMode(1);
}

bool OpenPort(CommControl &comm, qint16 port, const QString &baud, const QString &dataBits,
              const QString &parity, const QString &stopBits)
{
    const bool ok = ReopenPort(comm, port, baud, dataBits, parity, stopBits);
    if (!ok) {
        const AppState &s = app();
        QString text =
            s.PortOpenErrLine1 + QLatin1Char('\n') + s.PortOpenErrLine2 + QLatin1Char('\n');
        // The device it was, and why, when the device itself refused.
        if (const QString why = OpenFailureText(comm); !why.isEmpty())
            text += why + QLatin1Char('\n');
        showBox(s.PortOpenErrTitle, text);
    }
    return ok;
}

QString OpenFailureText(const CommControl &comm)
{
    if (comm.failedDevice().isEmpty() || comm.PortOpen())
        return {};
    return DescribeOpenFailure(comm.failedDevice(),
                               DiagnoseOpen(comm.failedDevice(), comm.failedError(),
                                            comm.failedErrorText()));
}

bool ClosePort(CommControl &comm)
{
    if (!comm.setPortOpen(false)) {
        showBox(app().PortCloseErrTitle, app().PortCloseErrText + QLatin1Char('\n'));
        return false;
    }
    return true;
}

void DiscardInput(CommControl &comm)
{
    AppState &s = app();
    // What is dropped is shown as dropped, never lost from sight.
    const QByteArray waiting = comm.waitingInput();
    if (!waiting.isEmpty() || !s.RxLineBuffer.isEmpty())
        for (const char byte : waiting + '\r') // the CR: a line cut short shows too
            AssembleLine(quint8(byte), true);
    comm.clearInBuffer();
    s.RxLineBuffer.clear();
    s.RxDiscarding = false;
}

bool StartExchange(CommControl &comm)
{
    DiscardInput(comm);
    const bool clear = ClearLine(comm);
    ++app().ExchangesStarted;
    return clear && comm.PortOpen();
}

PortReader::PortReader() { ++app().PortReaders; }
PortReader::~PortReader() { --app().PortReaders; }
bool PortReader::anyReading() { return app().PortReaders > 0; }

qint32 GetRxCount(CommControl &comm) { return comm.InBufferCount(); }

quint8 GetRxByte(CommControl &comm)
{
    comm.setInputLen(1);
    const QByteArray bytes = comm.Input();
    return bytes.isEmpty() ? 0 : quint8(bytes.at(0));
}

void SendLine(CommControl &comm, ReplyTimer &timer, const QString &text)
{
    AppState &s = app();
    // Never on behalf of an exchange whose port was closed or replaced; the
    // log and the console show only what went on the wire.
    if (comm.isConnection(comm.waitConnection())) {
        LogSend(text);
        QByteArray line = text.toLatin1();
        line += "\r\n";
        comm.setOutput(line);
        // Commands begin with "@" and no reply does: a line typed by hand
        // that looks like a reply is never taken for its echo.
        s.LastCommandSent = text.startsWith(QLatin1Char('@')) ? text : QString();
    } else {
        LogNote(QStringLiteral("not sent: the port is closed: ") + text);
    }
    s.AwaitingAck = true;
    timer.arm(7000);
}

QString ReceiveLine(CommControl &comm)
{
    if (const qint64 dropped = comm.takeDroppedInput()) {
        LogNote(QStringLiteral("input overflow: %1 bytes dropped").arg(dropped));
        app().RxLineBuffer.clear();
        app().RxDiscarding = true;
    }
    if (qint16(qMin(GetRxCount(comm), 32767)) <= 0)
        return {};
    return AssembleLine(GetRxByte(comm));
}

QString ReceiveWaitingLine(CommControl &comm)
{
    while (GetRxCount(comm) > 0) {
        const QString line = ReceiveLine(comm);
        if (!line.isEmpty())
            return line;
    }
    return {};
}

QString AssembleLine(quint8 byte, bool dropping)
{
    AppState &s = app();
    QString &buffer = s.RxLineBuffer;
    if (byte == 10 || byte == 13) {
        const bool complete = byte == 13 && !s.RxDiscarding;
        s.RxDiscarding = false;
        QString line = complete ? buffer : QString();
        buffer.clear();
        if (!complete)
            return {};
        if (!line.isEmpty() && line == s.LastCommandSent) {
            LogEcho(line);
            return {};
        }
        if (dropping) {
            if (!line.isEmpty())
                LogDropped(line);
            return {};
        }
        LogReceive(line);
        return line;
    }
    if (s.RxDiscarding)
        return {};
    if (buffer.size() >= RxLineLimit) {
        buffer.clear();
        s.RxDiscarding = true;
        LogNote(QStringLiteral("over-long line dropped"));
        return {};
    }
    buffer += QChar(byte);
    return {};
}
