#pragma once
// The only code that touches the line to the unit: open, close, send one line,
// assemble received bytes into lines.

#include <QString>

class CommControl;
class ReplyTimer;

// Received characters kept without a CR or LF. A longer line is noise: it is
// dropped whole, up to and including its CR or LF.
constexpr int RxLineLimit = 4096;

QString BuildSettings(const QString &baud, const QString &dataBits, const QString &parity,
                      const QString &stopBits);

bool OpenPort(CommControl &comm, qint16 port, const QString &baud, const QString &dataBits,
              const QString &parity, const QString &stopBits);
// OpenPort without its failure box, for reopening a port whose line was lost.
bool ReopenPort(CommControl &comm, qint16 port, const QString &baud, const QString &dataBits,
                const QString &parity, const QString &stopBits);
// The device a failed open tried and why it refused, or empty when the
// device was never tried.
QString OpenFailureText(const CommControl &comm);
bool ClosePort(CommControl &comm);
qint32 GetRxCount(CommControl &comm);
quint8 GetRxByte(CommControl &comm);
void SendLine(CommControl &comm, ReplyTimer &timer, const QString &text);
QString ReceiveLine(CommControl &comm);
// The next line out of what has already arrived: ReceiveLine while bytes
// wait, so that a wait lets events run once a line, not once a byte.
QString ReceiveWaitingLine(CommControl &comm);
// One received byte into the line being collected: the completed line at a
// CR, else the empty string. A line that repeats the command just sent is
// the adapter's echo and none; `dropping`: completed lines are shown as dropped
// and none is returned.
QString AssembleLine(quint8 byte, bool dropping = false);


// Drops every byte received so far and the line being collected, showing
// the lines among them as dropped.
void DiscardInput(CommControl &comm);

// The next command of an exchange: what arrived before it (a late reply, an
// unread poll answer) must never be taken as its reply. True when the port
// is open. The exchange itself holds the gate (serial/Exchange).
bool StartExchange(CommControl &comm);

// Held by every wait while it reads the port.
class PortReader {
public:
    PortReader();
    ~PortReader();
    PortReader(const PortReader &) = delete;
    PortReader &operator=(const PortReader &) = delete;
    static bool anyReading();
};

// Messages about the port itself, for every window that talks to the unit.
constexpr int PortLostMessage = 47;    // the line went away
constexpr int PortClosedMessage = 48;  // an exchange found the port closed
constexpr int PortReopenedMessage = 49; // the lost line is back

// How the driver shows its failure boxes; windows install a real one.
using PortErrorBox = void (*)(const QString &title, const QString &text);
void SetPortErrorBox(PortErrorBox box);
