#include "support/TestSupport.h"

#include "core/AppState.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QSocketNotifier>
#include <QTest>

#include <cerrno>
#include <cstring>
#include <sched.h>
#include <sys/mount.h>
#include <fcntl.h>
#include <pty.h>
#include <pwd.h>
#include <termios.h>
#include <unistd.h>

FreshState::FreshState()
{
    app() = AppState{};
    app().AppDir = app().WorkDir = dir();
    app().AppDirChecked = true;
}

void FreshState::write(const QString &name, const QByteArray &bytes) const
{
    QFile f(path(name));
    f.open(QIODevice::WriteOnly);
    f.write(bytes);
}

void FreshState::usePort(int port) const
{
    AppState &s = app();
    s.ComPort = qint16(port);
    s.ComBaud = QStringLiteral("9600");
    s.ComDataBits = QStringLiteral("8");
    s.ComParity = QStringLiteral("N");
    s.ComStopBits = QStringLiteral("1");
}

QByteArray FreshState::read(const QString &name) const
{
    QFile f(path(name));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

Pty::Pty()
{
    int master = -1, slave = -1;
    char name[256] = {};
    if (openpty(&master, &slave, name, nullptr, nullptr) != 0)
        return;
    termios tio{};
    tcgetattr(slave, &tio);
    cfmakeraw(&tio);
    tcsetattr(slave, TCSANOW, &tio);
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    // Programs the tests start must not hold the line open themselves.
    fcntl(master, F_SETFD, FD_CLOEXEC);
    fcntl(slave, F_SETFD, FD_CLOEXEC);
    m_master = master;
    m_slaveKeep = slave;
    m_slave = QString::fromLocal8Bit(name);
}

Pty::~Pty() { close(); }

void Pty::close()
{
    // A program a test killed leaves its lock on the line behind; the line's
    // number comes back for later tests, some of which run as another user.
    if (!m_slave.isEmpty())
        QFile::remove(QStringLiteral("/var/lock/LCK..") + m_slave.mid(5).replace(u'/', u'_'));
    if (m_master >= 0)
        ::close(m_master);
    if (m_slaveKeep >= 0)
        ::close(m_slaveKeep);
    m_master = m_slaveKeep = -1;
}

bool Pty::linkAs(const QString &dir, int port) const
{
    const QString link = dir + QStringLiteral("COM%1").arg(port);
    QFile::remove(link);
    return QFile::link(m_slave, link);
}

void Pty::write(const QByteArray &bytes)
{
    if (m_master >= 0)
        [[maybe_unused]] ssize_t n = ::write(m_master, bytes.constData(), size_t(bytes.size()));
}

QByteArray Pty::readAll(int waitMs)
{
    QByteArray out;
    const auto drain = [&] {
        char buf[4096];
        ssize_t n;
        while (m_master >= 0 && (n = ::read(m_master, buf, sizeof buf)) > 0)
            out += QByteArray(buf, int(n));
        return !out.isEmpty();
    };
    if (!drain() && waitMs > 0 && m_master >= 0) {
        QSocketNotifier arrived(m_master, QSocketNotifier::Read);
        waitUntil(drain, waitMs);
    }
    return out;
}

ScriptedPeer::ScriptedPeer(Script script) : m_script(std::move(script))
{
    m_notifier = new QSocketNotifier(m_pty.masterFd(), QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &ScriptedPeer::onReadable);
}

ScriptedPeer::~ScriptedPeer() { m_notifier->setEnabled(false); }

void ScriptedPeer::onReadable()
{
    char buf[4096];
    const ssize_t n = ::read(m_pty.masterFd(), buf, sizeof buf);
    if (n <= 0)
        return;
    m_partial += QByteArray(buf, int(n));
    int end;
    while ((end = m_partial.indexOf("\r\n")) >= 0) {
        const QByteArray line = m_partial.left(end);
        m_partial.remove(0, end + 2);
        lines << line;
        const QByteArray reply = m_script(line);
        if (!reply.isEmpty())
            m_pty.write(reply);
    }
}

QString asNobodyUnavailable(const QString &program)
{
    if (geteuid() != 0)
        return QStringLiteral("not root: cannot become another user");
    if (QStandardPaths::findExecutable(QStringLiteral("setpriv")).isEmpty())
        return QStringLiteral("setpriv (util-linux) is not installed");
    // nobody must reach the program through every folder above it.
    for (QFileInfo f(program); !f.isRoot(); f = QFileInfo(f.absolutePath())) {
        const auto needed = f.isDir() ? QFile::ExeOther : QFile::ReadOther | QFile::ExeOther;
        if ((f.permissions() & needed) != needed)
            return QStringLiteral("nobody cannot reach ") + f.absoluteFilePath();
    }
    return {};
}

void letOthersIn(const QString &path)
{
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner
                                    | QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther
                                    | QFile::ExeOther);
}

bool giveTo(const QString &path, const char *user)
{
    const passwd *entry = ::getpwnam(user);
    return entry
        && ::lchown(QFile::encodeName(path).constData(), entry->pw_uid, entry->pw_gid) == 0;
}

int runAsNobody(const QString &program, const QStringList &args, const QProcessEnvironment &env,
                QByteArray *output)
{
    QProcess p;
    p.setProcessEnvironment(env);
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p.start(QStringLiteral("setpriv"),
            QStringList{"--reuid=nobody", "--regid=nogroup", "--clear-groups", program} + args);
    if (!p.waitForFinished(60000)) {
        p.kill();
        p.waitForFinished();
        return -1;
    }
    if (output)
        *output = p.readAllStandardOutput();
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

QString privateMounts()
{
    if (::geteuid() != 0)
        return QStringLiteral("not root: cannot make mounts of its own");
    if (::unshare(CLONE_NEWNS) != 0)
        return QStringLiteral("no mount namespace: ") + QString::fromLocal8Bit(std::strerror(errno));
    // What is mounted from here on stays in this process and its children.
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        return QStringLiteral("mounts not made private: ") + QString::fromLocal8Bit(std::strerror(errno));
    return {};
}

bool coverWithEmptyFolder(const QString &path, bool readOnly, int mode)
{
    const QByteArray options = "mode=" + QByteArray::number(mode, 8);
    return ::mount("none", QFile::encodeName(path).constData(), "tmpfs",
                   readOnly ? MS_RDONLY : 0, options.constData())
        == 0;
}

bool coverWithFullDisk(const QString &path)
{
    if (::mount("none", QFile::encodeName(path).constData(), "tmpfs", 0, "size=4k,mode=0700") != 0)
        return false;
    QFile filler(path + QStringLiteral("/filler"));
    if (!filler.open(QIODevice::WriteOnly))
        return false;
    filler.write(QByteArray(64 * 1024, 'x')); // as much as fits
    return true;
}

void uncover(const QString &path)
{
    ::umount2(QFile::encodeName(path).constData(), MNT_DETACH);
}

bool coverWith(const QString &path, const QString &what)
{
    return ::mount(QFile::encodeName(what).constData(), QFile::encodeName(path).constData(),
                   nullptr, MS_BIND, nullptr)
        == 0;
}

bool waitUntil(const std::function<bool()> &done, int timeoutMs, int checkEveryMs)
{
    QDeadlineTimer deadline(timeoutMs, Qt::PreciseTimer);
    QTimer wake; // the last blocking pass ends at the deadline
    wake.setSingleShot(true);
    wake.setTimerType(Qt::PreciseTimer);
    QTimer look; // for what changes without an event of this process
    if (checkEveryMs > 0)
        look.start(checkEveryMs);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        if (!wake.isActive())
            wake.start(int(qMax<qint64>(1, deadline.remainingTime())));
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    return true;
}
