#include "sim/SimPeer.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QSaveFile>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace {
qint64 nowMs()
{
    static QElapsedTimer clock;
    if (!clock.isValid())
        clock.start();
    return clock.elapsed();
}

QByteArray readHead(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.read(1 << 16) : QByteArray();
}

bool writeText(const QString &path, const QString &text)
{
    QSaveFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(text.toUtf8()) >= 0 && f.commit();
}
} // namespace

SimPeer::SimPeer(QObject *parent)
    : QObject(parent), m_schedule(new SimSchedule([this](const QByteArray &b) { queue(b); }, this))
{
    int master = -1, slave = -1;
    char name[256] = {};
    if (openpty(&master, &slave, name, nullptr, nullptr) != 0)
        return;
    // Raw line: no echo, no CR/LF translation, as a serial line.
    termios tio{};
    if (tcgetattr(slave, &tio) == 0) {
        cfmakeraw(&tio);
        tcsetattr(slave, TCSANOW, &tio);
    }
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    fcntl(master, F_SETFD, FD_CLOEXEC); // a process started from here must not hold the line
    fcntl(slave, F_SETFD, FD_CLOEXEC);
    m_master = master;
    // Held open so the master does not see a hang-up while the program has
    // the port closed.
    m_slaveKeep = slave;
    m_slavePath = QString::fromLocal8Bit(name);
    m_notifier = new QSocketNotifier(m_master, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &SimPeer::onReadable);
    m_pace = new QTimer(this);
    m_pace->setTimerType(Qt::PreciseTimer);
    connect(m_pace, &QTimer::timeout, this, &SimPeer::pump);
}

SimPeer::~SimPeer()
{
    dropLine();
    if (m_slaveKeep >= 0)
        ::close(m_slaveKeep);
}

void SimPeer::dropLine()
{
    if (m_notifier) {
        m_notifier->setEnabled(false);
        delete m_notifier;
        m_notifier = nullptr;
    }
    if (m_master >= 0) {
        ::close(m_master);
        m_master = -1;
    }
    // The slave side stays held: closing the master hangs the line up for the
    // program all the same, and the line's number is not handed to the next
    // pseudo-terminal before the program has given up its lock on the name.
    m_pending.clear();
    m_schedule->clear();
}

void SimPeer::setBitRate(int bitsPerSecond)
{
    m_bitRate = qMax(0, bitsPerSecond);
    m_paceStartMs = nowMs();
    m_pacedBytes = 0;
}

QList<QByteArray> SimPeer::receivedLines() const
{
    QList<QByteArray> lines;
    for (const QByteArray &l : m_received.split('\n')) {
        QByteArray t = l;
        if (t.endsWith('\r'))
            t.chop(1);
        if (!t.isEmpty())
            lines << t;
    }
    return lines;
}

void SimPeer::onReadable()
{
    char buf[4096];
    const ssize_t n = ::read(m_master, buf, sizeof buf);
    if (n <= 0) {
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            return;
        return; // EIO: nobody holds the slave right now
    }
    const QByteArray bytes(buf, int(n));
    if (m_received.size() < MaxReceived)
        m_received += bytes.left(MaxReceived - m_received.size());
    const QList<SimExchange> exchanges = m_unit.feedCommands(bytes);
    for (const QByteArray &l : bytes.split('\n')) {
        QByteArray t = l.trimmed();
        if (!t.isEmpty())
            emit lineReceived(t);
    }
    saveState();
    for (const SimExchange &e : exchanges) {
        QList<QByteArray> lines = e.lines;
        // The adapter's echo comes at once, whatever the unit does.
        if (m_unit.echo && !lines.isEmpty() && lines.first() == e.command + "\r\n")
            queue(lines.takeFirst());
        // An unanswered command holds back no answer after it.
        if (!silent && !lines.isEmpty())
            m_schedule->answer(e.command, lines.join());
    }
}

void SimPeer::sendRaw(const QByteArray &bytes) { queue(bytes); }

void SimPeer::queue(const QByteArray &bytes)
{
    if (m_master < 0)
        return;
    if (m_pending.size() + bytes.size() > MaxPending)
        return; // nobody reads: answers beyond this are lost, as on a full line
    if (m_pending.isEmpty() && m_bitRate > 0) {
        m_paceStartMs = nowMs();
        m_pacedBytes = 0;
    }
    m_pending += bytes;
    pump();
}

// Writes what is due: everything at once, or at 10 bits a byte at the bit rate.
void SimPeer::pump()
{
    if (m_master < 0 || m_pending.isEmpty()) {
        m_pace->stop();
        return;
    }
    qint64 due = m_pending.size();
    if (m_bitRate > 0) {
        // A byte is out once its ten bits have gone over the wire.
        const qint64 allowed = (nowMs() - m_paceStartMs) * m_bitRate / 10000;
        due = qBound<qint64>(0, allowed - m_pacedBytes, m_pending.size());
    }
    if (due > 0) {
        const ssize_t n = ::write(m_master, m_pending.constData(), size_t(due));
        if (n > 0) {
            m_pending.remove(0, int(n));
            m_pacedBytes += n;
            m_sent += n;
        }
    }
    if (!m_pending.isEmpty()) {
        if (!m_pace->isActive())
            m_pace->start(1);
    } else {
        m_pace->stop();
    }
}

bool SimPeer::loadState(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return false;
    const bool ok = m_unit.fromText(QString::fromUtf8(f.read(1 << 16)));
    if (ok)
        m_lastSaved = m_unit.toText();
    return ok;
}

bool SimPeer::swapUnit(const QString &path)
{
    SimUnit next = m_unit;
    if (QFile::exists(path) ? !next.fromText(QString::fromUtf8(readHead(path)))
                            : !next.fromText(SimUnit().toText()))
        return false;
    const QString text = next.toText();
    if ((!m_stateFile.isEmpty() && !saveState()) || !writeText(path, text))
        return false;
    // Answers still due came from the unit taken off the line.
    m_pending.clear();
    m_schedule->clear();
    m_unit = next;
    m_stateFile = path;
    m_lastSaved = text;
    return true;
}

bool SimPeer::saveState() const
{
    if (m_stateFile.isEmpty())
        return false;
    const QString text = m_unit.toText();
    if (text == m_lastSaved)
        return true;
    if (!writeText(m_stateFile, text))
        return false;
    m_lastSaved = text;
    return true;
}
