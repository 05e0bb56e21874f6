#pragma once
// The serial communications control: exactly the operations the serial
// driver uses, on QSerialPort. A write that the control refuses returns false,
// where the old control raised an error.

#include <QByteArray>
#include <QObject>
#include <QSerialPort>
#include <QString>

class CommControl : public QObject {
    Q_OBJECT
public:
    explicit CommControl(QObject *parent = nullptr);
    ~CommControl() override;

    // Folder where links named COMn select the device of port n (not on Windows).
    void setLinkDir(const QString &dir) { m_linkDir = dir; }

    bool setSettings(const QString &settings);
    // What the open port was set to, in the settings string's form; empty
    // while closed.
    QString openSettings() const;
    bool setCommPort(int port);
    int commPort() const { return m_commPort; }
    bool setPortOpen(bool open);
    bool PortOpen() const { return m_port.isOpen(); }
    bool setDTREnable(bool on);
    bool setRTSEnable(bool on);
    bool setInputMode(int mode);
    int InBufferCount() const;
    void clearInBuffer(); // writing 0 to InBufferCount
    void setInputLen(int len) { m_inputLen = len; }
    QByteArray Input();

    // Unread input kept at most. A reply is a line of some 20 bytes and an
    // exchange has a few; 64 KiB is thousands of them, and more than 5 s of
    // the unit's fastest rate. Past it the oldest bytes are dropped, so a
    // unit that talks unasked, or noise, costs a fixed amount of memory.
    static constexpr int InputLimit = 64 * 1024;
    // Bytes dropped since the last call (0: none): the line being received
    // has lost its beginning.
    qint64 takeDroppedInput();
    bool setOutput(const QByteArray &bytes);

    // The device the open port is on (empty while closed).
    QString openDevice() const { return m_port.isOpen() ? m_openDevice : QString(); }

    // The device that port `n` opens, by this platform's mapping.
    QString deviceFor(int port) const;
    // A device named outright (the command line's --port /dev/ttyUSB0): the
    // next open uses it whatever the port number; empty: the mapping again.
    void setDevicePath(const QString &path) { m_devicePath = path; }
    QString linkDir() const { return m_linkDir; }

    // The last open that failed at the device: which device, and Qt's error.
    QString failedDevice() const { return m_failedDevice; }
    QSerialPort::SerialPortError failedError() const { return m_failedError; }
    QString failedErrorText() const { return m_failedErrorText; }

    // The port closed because the line went away, not because it was asked
    // to; until it opens again or the program closes it on purpose.
    bool lineWasLost() const { return m_lineLost; }
    void forgetLostLine() { m_lineLost = false; }

    // True when any open control holds received bytes not yet read.
    static bool anyInputWaiting();

    // Received bytes not yet read, left where they are.
    QByteArray waitingInput() const;

    // An answer may still be on its way for a command whose wait ended
    // without it (a time-out, a resend, a lost line): until the line has been
    // quiet long enough, nothing that comes may be taken for a later
    // command's answer (serial/LineClear). Kept across a reopen: the unit
    // may answer on the line that comes back.
    bool answerDue() const { return m_answerDue; }
    void noteAnswerDue() { m_answerDue = true; }
    void clearAnswerDue() { m_answerDue = false; }

    // The connection: a new number at every open and every close, so that a
    // wait can tell the port it began on from one closed, reopened or replaced.
    quint64 connection() const { return m_connection; }
    // True while a port is open and still on connection `c`.
    bool isConnection(quint64 c) const { return m_port.isOpen() && m_connection == c; }

    // A command that changes what the unit holds went out; the windows that
    // show the unit learn that it may no longer hold what they show.
    void noteUnitWritten()
    {
        if (isConnection(waitConnection())) // a closed port sends nothing
            emit unitWritten(m_exchangeOwner);
    }

    // The gate: one exchange at a time on this connection (serial/Exchange).
    // Who holds it (null: nobody), and the connection it was taken on.
    bool exchangeRunning() const { return m_exchangeOwner != nullptr; }
    const void *exchangeOwner() const { return m_exchangeOwner; }
    // The connection a wait beginning now belongs to: the exchange's, else the current one.
    quint64 waitConnection() const
    {
        return m_exchangeOwner ? m_exchangeConnection : m_connection;
    }

signals:
    // The line went away (unplugged adapter, far end closed): the port is closed.
    void lineLost();
    // An exchange took the gate, or gave it back.
    void exchangeRunningChanged(bool running);
    // A write command went out, on behalf of `by` (the exchange's owner).
    void unitWritten(const void *by);
    // The port opened or closed (on purpose, or because the line was lost).
    void portChanged(bool open);

private:
    friend class Exchange;
    void takeGate(const void *owner);
    void releaseGate();
    void onError(QSerialPort::SerialPortError error);
    bool applySettings();
    bool lineHungUp() const;

    void takeArrived() const;

    QSerialPort m_port;
    // Received bytes not yet read: m_input from m_head on. Filled whenever
    // the port has data, so the port's own buffer stays small.
    mutable QByteArray m_input;
    mutable qsizetype m_head = 0;
    mutable qint64 m_dropped = 0;
    QString m_linkDir;
    QString m_devicePath;
    QString m_openDevice;
    QString m_failedDevice;
    QSerialPort::SerialPortError m_failedError = QSerialPort::NoError;
    QString m_failedErrorText;
    bool m_lineLost = false;
    bool m_answerDue = false;
    quint64 m_connection = 1;
    const void *m_exchangeOwner = nullptr;
    quint64 m_exchangeConnection = 0;
    int m_commPort = 1;
    int m_inputLen = 0;
    qint32 m_baud = 9600;
    QSerialPort::Parity m_parity = QSerialPort::NoParity;
    QSerialPort::DataBits m_dataBits = QSerialPort::Data8;
    QSerialPort::StopBits m_stopBits = QSerialPort::OneStop;
};
