// The serial communications control on QSerialPort: one connection to a port.
#include "serial/CommControl.h"

#include "serial/modLog.h"

#include "config/FileSafety.h"

#include <QFileInfo>
#include <QSet>

#include <array>
#include <utility>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <poll.h>
#include <unistd.h>
#endif

namespace {
QSet<const CommControl *> &liveControls()
{
    static QSet<const CommControl *> set;
    return set;
}
} // namespace

CommControl::CommControl(QObject *parent) : QObject(parent)
{
    liveControls().insert(this);
    connect(&m_port, &QSerialPort::errorOccurred, this, &CommControl::onError);
    connect(&m_port, &QSerialPort::readyRead, this, &CommControl::takeArrived);
    m_port.setReadBufferSize(InputLimit);
}

CommControl::~CommControl()
{
    liveControls().remove(this);
    if (m_port.isOpen())
        m_port.close();
}

bool CommControl::anyInputWaiting()
{
    for (const CommControl *c : liveControls())
        if (c->InBufferCount() > 0)
            return true;
    return false;
}

// "baud,P,data,stop", as the old control took it; anything else is refused.
bool CommControl::setSettings(const QString &settings)
{
    m_failedDevice.clear(); // the first step of every open
    const QStringList parts = settings.split(QLatin1Char(','));
    if (parts.size() != 4)
        return false;
    bool ok = false;
    const qint32 baud = parts[0].toInt(&ok);
    if (!ok || baud <= 0)
        return false;
    // The settings string gives N, E or O (BuildSettings); nothing else.
    QSerialPort::Parity parity;
    const QString p = parts[1];
    if (p == QLatin1String("N"))
        parity = QSerialPort::NoParity;
    else if (p == QLatin1String("E"))
        parity = QSerialPort::EvenParity;
    else if (p == QLatin1String("O"))
        parity = QSerialPort::OddParity;
    else
        return false;
    const int data = parts[2].toInt(&ok);
    if (!ok || data < 5 || data > 8)
        return false;
    QSerialPort::StopBits stop;
    if (parts[3] == QLatin1String("1"))
        stop = QSerialPort::OneStop;
    else if (parts[3] == QLatin1String("1.5"))
        stop = QSerialPort::OneAndHalfStop;
    else if (parts[3] == QLatin1String("2"))
        stop = QSerialPort::TwoStop;
    else
        return false;

    m_baud = baud;
    m_parity = parity;
    m_dataBits = QSerialPort::DataBits(data);
    m_stopBits = stop;
    return !m_port.isOpen() || applySettings();
}

QString CommControl::openSettings() const
{
    if (!m_port.isOpen())
        return {};
    const QString parity = m_port.parity() == QSerialPort::EvenParity ? QStringLiteral("E")
        : m_port.parity() == QSerialPort::OddParity                    ? QStringLiteral("O")
                                                                        : QStringLiteral("N");
    const QString stop = m_port.stopBits() == QSerialPort::TwoStop ? QStringLiteral("2")
        : m_port.stopBits() == QSerialPort::OneAndHalfStop         ? QStringLiteral("1.5")
                                                                   : QStringLiteral("1");
    return QStringLiteral("%1,%2,%3,%4")
        .arg(m_port.baudRate())
        .arg(parity)
        .arg(int(m_port.dataBits()))
        .arg(stop);
}

bool CommControl::setCommPort(int port)
{
    if (port < 1 || port > 255 || m_port.isOpen())
        return false;
    m_commPort = port;
    return true;
}

QString CommControl::deviceFor(int port) const
{
#ifdef Q_OS_WIN
    return QStringLiteral("COM%1").arg(port);
#else
    // A link COMn in the link folder names the device of port n. The
    // device itself is opened, so its lock file guards it whatever name a
    // second opener used. A link another user made, COMn or one it leads
    // through, is not followed: the open refuses it, naming its owner.
    if (!m_linkDir.isEmpty()) {
        const QString link =
            QFileInfo(m_linkDir + QStringLiteral("COM%1").arg(port)).absoluteFilePath();
        if (LookAt(link).exists()) {
            const Way way = FollowTrustedLinks(link);
            if (!way.foreignLink.isEmpty())
                return way.foreignLink;
            if (!way.target.isEmpty())
                return way.target;
            return link; // dangling: the open fails on it
        }
    }
    return QStringLiteral("/dev/ttyS%1").arg(port - 1);
#endif
}

bool CommControl::applySettings()
{
    return m_port.setBaudRate(m_baud) && m_port.setParity(m_parity)
        && m_port.setDataBits(m_dataBits) && m_port.setStopBits(m_stopBits)
        && m_port.setFlowControl(QSerialPort::NoFlowControl);
}

bool CommControl::setPortOpen(bool open)
{
    m_failedDevice.clear();
    if (!open) {
        m_lineLost = false;
        if (m_port.isOpen()) {
            m_port.close();
            ++m_connection;
            LogNote(QStringLiteral("port closed: ") + m_openDevice);
            emit portChanged(false);
        }
        clearInBuffer();
        return true;
    }
    if (m_port.isOpen())
        return false; // already open
    const QString device = m_devicePath.isEmpty() ? deviceFor(m_commPort) : m_devicePath;
    // Opened where the links lead, checked once here: no link is looked up
    // again by its name.
    const Way way = FollowTrustedLinks(device);
    if (!way.foreignLink.isEmpty()) {
        m_failedDevice = way.foreignLink;
        m_failedError = QSerialPort::PermissionError;
        m_failedErrorText.clear();
        return false;
    }
    m_port.setPortName(way.target.isEmpty() ? device : way.target);
    if (!m_port.open(QIODevice::ReadWrite)) {
        m_failedDevice = device;
        m_failedError = m_port.error();
        m_failedErrorText = m_port.errorString();
        return false;
    }
    if (!applySettings()) {
        m_failedDevice = device;
        m_failedError = m_port.error();
        m_failedErrorText = m_port.errorString();
        m_port.close();
        return false;
    }
    m_lineLost = false;
    m_openDevice = device;
    ++m_connection;
    LogNote(QStringLiteral("port opened: ") + device);
    emit portChanged(true);
    return true;
}

// A pseudo-terminal has no modem lines; failing to assert them there is no
// failure of the port.
bool CommControl::setDTREnable(bool on)
{
    if (m_port.isOpen() && !m_port.setDataTerminalReady(on)
        && m_port.error() != QSerialPort::UnsupportedOperationError)
        return false;
    m_port.clearError();
    return true;
}

bool CommControl::setRTSEnable(bool on)
{
    if (m_port.isOpen() && !m_port.setRequestToSend(on)
        && m_port.error() != QSerialPort::UnsupportedOperationError)
        return false;
    m_port.clearError();
    return true;
}

bool CommControl::setInputMode(int mode)
{
    return mode == 0 || mode == 1; // bytes are always taken raw
}

void CommControl::takeArrived() const
{
    auto &port = const_cast<QSerialPort &>(m_port);
    if (!port.isOpen() || port.bytesAvailable() <= 0)
        return;
    m_input += port.readAll();
    qsizetype unread = m_input.size() - m_head;
    if (unread > InputLimit) {
        m_dropped += unread - InputLimit;
        m_head += unread - InputLimit;
        unread = InputLimit;
    }
    // What was read is given back now and then, not byte by byte.
    if (m_head > 4096 && m_head > unread) {
        m_input.remove(0, m_head);
        m_head = 0;
    }
}

// The port hands over what it receives at once (readyRead), so what has
// arrived is already in m_input here.
int CommControl::InBufferCount() const
{
    return m_port.isOpen() ? int(m_input.size() - m_head) : 0;
}

QByteArray CommControl::waitingInput() const
{
    if (!m_port.isOpen())
        return {};
    takeArrived();
    return m_input.mid(m_head);
}

qint64 CommControl::takeDroppedInput()
{
    return std::exchange(m_dropped, 0);
}

void CommControl::clearInBuffer()
{
    m_input.clear();
    m_head = 0;
    m_dropped = 0;
    if (!m_port.isOpen())
        return;
    m_port.readAll();
    m_port.clear(QSerialPort::Input);
}

QByteArray CommControl::Input()
{
    if (!m_port.isOpen())
        return {};
    const qsizetype unread = m_input.size() - m_head;
    const qsizetype n = m_inputLen > 0 ? qMin<qsizetype>(m_inputLen, unread) : unread;
    QByteArray bytes;
    if (n == 1) {
        // One byte a call is how the driver reads: no allocation for it.
        static const auto every = [] {
            std::array<char, 256> all{};
            for (int b = 0; b < 256; ++b)
                all[size_t(b)] = char(b);
            return all;
        }();
        bytes = QByteArray::fromRawData(&every[uchar(m_input.at(m_head))], 1);
    } else {
        bytes = m_input.mid(m_head, n);
    }
    m_head += n;
    if (m_head == m_input.size()) {
        m_input.clear();
        m_head = 0;
    }
    return bytes;
}

bool CommControl::setOutput(const QByteArray &bytes)
{
    if (!m_port.isOpen())
        return false;
    qsizetype done = 0;
#ifdef Q_OS_UNIX
    // A command line is a few bytes and the driver takes them at once: written
    // straight away, it needs no write notifier switched on and off again,
    // which costs the event loop two more wake-ups a line. What the driver
    // does not take now goes the queued way.
    if (m_port.bytesToWrite() == 0) {
        ssize_t n;
        do
            n = ::write(int(m_port.handle()), bytes.constData(), size_t(bytes.size()));
        while (n < 0 && errno == EINTR);
        done = n > 0 ? n : 0;
    }
#endif
    if (done == bytes.size())
        return true;
    if (m_port.write(bytes.constData() + done, bytes.size() - done) != bytes.size() - done)
        return false;
    m_port.flush();
    return true;
}

void CommControl::takeGate(const void *owner)
{
    m_exchangeOwner = owner;
    m_exchangeConnection = m_connection;
    emit exchangeRunningChanged(true);
}

void CommControl::releaseGate()
{
    m_exchangeOwner = nullptr;
    m_exchangeConnection = 0;
    emit exchangeRunningChanged(false);
}

bool CommControl::lineHungUp() const
{
#ifdef Q_OS_UNIX
    pollfd p{int(m_port.handle()), POLLIN | POLLOUT, 0};
    return ::poll(&p, 1, 0) < 0 || (p.revents & (POLLHUP | POLLERR | POLLNVAL));
#else
    return true;
#endif
}

void CommControl::onError(QSerialPort::SerialPortError error)
{
    // Measured: with the far end gone, an open port reports these errors in a
    // tight loop and burns a core until it is closed. A full output buffer
    // reports a resource error too; that line is still there.
    if ((error == QSerialPort::ReadError || error == QSerialPort::ResourceError)
        && m_port.isOpen()) {
        if (!lineHungUp()) {
            m_port.clearError();
            return;
        }
        m_port.close();
        ++m_connection;
        clearInBuffer();
        m_lineLost = true;
        LogNote(QStringLiteral("line lost: ") + m_openDevice);
        emit portChanged(false);
        emit lineLost();
    }
}
