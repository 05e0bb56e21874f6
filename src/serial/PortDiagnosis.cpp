// Why a port did not open, found out on the spot: a missing device, a
// closed folder on the way, a permission and whom to ask for it, another
// program holding the device, a stale lock.
#include "serial/SerialDevices.h"

#include "config/FileSafety.h"
#include "core/AppState.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSerialPortInfo>

#include <algorithm>
#include <limits>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

// Message-table numbers of the two reasons without a group to join, and the
// word before the user a holder runs as.
constexpr int OwnerOnlyMessage = 104;
constexpr int FolderClosedMessage = 105;
constexpr int UserWordMessage = 126;

#ifdef Q_OS_UNIX
QString programOf(qint64 pid)
{
    QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
    if (!comm.open(QIODevice::ReadOnly))
        return QStringLiteral("?");
    return QString::fromLocal8Bit(comm.readAll()).trimmed();
}

// "name (pid 123)", and the user it runs as when that is another user: the
// one to ask to let go of the device.
QString holder(qint64 pid)
{
    struct stat st{};
    const QByteArray proc = QStringLiteral("/proc/%1").arg(pid).toLatin1();
    if (::stat(proc.constData(), &st) == 0 && st.st_uid != ::geteuid()) {
        const passwd *p = ::getpwuid(st.st_uid);
        return QStringLiteral("%1 (pid %2, %3 %4)")
            .arg(programOf(pid))
            .arg(pid)
            .arg(app().message(UserWordMessage),
                 p ? QString::fromLocal8Bit(p->pw_name) : QString::number(st.st_uid));
    }
    return QStringLiteral("%1 (pid %2)").arg(programOf(pid)).arg(pid);
}

bool alive(qint64 pid)
{
    // A lock file can hold anything; only a real process id is asked about.
    return pid > 0 && pid <= std::numeric_limits<pid_t>::max()
        && (::kill(pid_t(pid), 0) == 0 || errno == EPERM);
}

// The lock files serial programs (Qt's among them) leave for a device: LCK..
// and its name below /dev, '/' as '_', in the system's lock folders.
QStringList lockFilesFor(const QString &device)
{
    QString name = device;
    if (name.startsWith(QLatin1String("/dev/")))
        name = name.mid(5);
    name.replace(QLatin1Char('/'), QLatin1Char('_'));
    QStringList found, seen;
    for (const char *dir : {"/var/lock", "/run/lock", "/etc/locks", "/var/spool/locks",
                            "/var/spool/uucp", "/tmp", "/var/tmp", "/var/lock/lockdev"}) {
        const QString path = QLatin1String(dir) + QStringLiteral("/LCK..") + name;
        const QString real = DeviceBehind(path);
        if (QFileInfo(path).isFile() && !seen.contains(real)) {
            seen << real;
            found << path;
        }
    }
    return found;
}

// The process id a lock file names: text (Qt, UUCP) or a binary integer.
qint64 lockPid(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray bytes = f.read(256);
    bool ok = false;
    const qint64 pid = bytes.split('\n').value(0).trimmed().toLongLong(&ok);
    if (ok)
        return pid;
    if (bytes.size() == int(sizeof(int))) {
        int binary = 0;
        std::memcpy(&binary, bytes.constData(), sizeof binary);
        return binary;
    }
    return -1;
}

// Whether this user could remove the file: a writable folder, and in a sticky
// one (the lock folders are) the file or the folder must be this user's.
bool removable(const QString &path)
{
    const QByteArray dir = QFile::encodeName(QFileInfo(path).absolutePath());
    struct stat d{}, f{};
    if (::stat(dir.constData(), &d) != 0 || ::access(dir.constData(), W_OK | X_OK) != 0)
        return false;
    if (!(d.st_mode & S_ISVTX))
        return true;
    const uid_t me = ::geteuid();
    return me == 0 || d.st_uid == me
        || (::stat(QFile::encodeName(path).constData(), &f) == 0 && f.st_uid == me);
}

// Who may be given the device: its group where that helps, else its owner.
void noPermission(OpenDiagnosis &d, const struct stat &st)
{
    const group *g = ::getgrgid(st.st_gid);
    const QString groupName = g ? QString::fromLocal8Bit(g->gr_name) : QString::number(st.st_gid);
    const bool groupMay = (st.st_mode & S_IRGRP) && (st.st_mode & S_IWGRP);
    if (groupMay && groupName != QLatin1String("root") && groupName != QLatin1String("tty")) {
        d.problem = OpenDiagnosis::PermissionDenied;
        d.detail = groupName;
        return;
    }
    const passwd *p = ::getpwuid(st.st_uid);
    d.problem = OpenDiagnosis::OwnerOnly;
    d.detail = p ? QString::fromLocal8Bit(p->pw_name) : QString::number(st.st_uid);
}

// The first folder on the way to `device` this user may not pass, links
// followed as far as they can be read.
QString closedFolderOnTheWay(QString device)
{
    for (int hop = 0; hop < 8; ++hop) {
        const QStringList parts =
            QFileInfo(device).absolutePath().split(QLatin1Char('/'), Qt::SkipEmptyParts);
        QString folder;
        for (const QString &part : parts) {
            folder += QLatin1Char('/') + part;
            if (::access(QFile::encodeName(folder).constData(), X_OK) != 0)
                return folder;
        }
        const QFileInfo link(device);
        if (!link.isSymLink())
            break;
        device = link.symLinkTarget();
    }
    return QFileInfo(device).absolutePath();
}

// Other processes that hold the device open, as far as this user may see;
// by its device number, whatever name each opened it by (a bind mount, the
// name a container gave it).
QStringList openersOf(const QString &device)
{
    QStringList found;
    struct stat dev{};
    if (::stat(QFile::encodeName(device).constData(), &dev) != 0 || !S_ISCHR(dev.st_mode))
        return found;
    const qint64 self = QCoreApplication::applicationPid();
    const QStringList pids = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString &p : pids) {
        bool ok = false;
        const qint64 pid = p.toLongLong(&ok);
        if (!ok || pid == self)
            continue;
        const QString folder = QStringLiteral("/proc/%1/fd/").arg(pid);
        for (const QString &fd : QDir(folder).entryList(QDir::Files | QDir::System)) {
            struct stat st{};
            if (::stat(QFile::encodeName(folder + fd).constData(), &st) == 0 && S_ISCHR(st.st_mode)
                && st.st_rdev == dev.st_rdev) {
                found << holder(pid);
                break;
            }
        }
    }
    return found;
}
#endif

} // namespace

QString LockFileHeldBy(const QString &device, qint64 pid)
{
    for (const QString &lock : lockFilesFor(device))
        if (!QFileInfo(lock).isSymLink() && lockPid(lock) == pid)
            return lock;
    return {};
}

OpenDiagnosis DiagnoseOpen(const QString &device, QSerialPort::SerialPortError qtError,
                           const QString &qtErrorText)
{
    OpenDiagnosis d;
    d.detail = qtErrorText;
#ifndef Q_OS_UNIX
    // Windows says what it knows through Qt: a port in use is "access denied".
    if (qtError == QSerialPort::DeviceNotFoundError)
        d.problem = OpenDiagnosis::Missing;
    else if (qtError == QSerialPort::PermissionError || qtError == QSerialPort::OpenError)
        d.problem = OpenDiagnosis::InUse;
    Q_UNUSED(device);
#else
    Q_UNUSED(qtError);
    // Refused before any open: the link is named, and who made it.
    if (const QString owner = ForeignLinkOwner(device); !owner.isEmpty()) {
        d.problem = OpenDiagnosis::ForeignLink;
        d.detail = owner;
        return d;
    }
    const QByteArray path = QFile::encodeName(device);
    struct stat st{};
    if (::stat(path.constData(), &st) != 0) {
        if (errno == EACCES) { // no device group to name: the way to it is shut
            d.problem = OpenDiagnosis::FolderClosed;
            d.detail = closedFolderOnTheWay(device);
        } else {
            d.problem = OpenDiagnosis::Missing;
            d.detail.clear();
        }
        return d;
    }
    if (!S_ISCHR(st.st_mode)) {
        d.problem = OpenDiagnosis::NotSerial;
        return d;
    }
    for (const QString &lock : lockFilesFor(device)) {
        const qint64 pid = lockPid(lock);
        if (pid == QCoreApplication::applicationPid())
            continue;
        if (alive(pid)) {
            d.problem = OpenDiagnosis::InUse;
            d.detail = holder(pid);
            return d;
        }
        if (!removable(lock)) {
            d.problem = OpenDiagnosis::StaleLock;
            d.detail = lock;
            return d;
        }
    }
    if (::access(path.constData(), R_OK | W_OK) != 0 && (errno == EACCES || errno == EPERM)) {
        noPermission(d, st);
        return d;
    }
    // Ask the device itself; only a serial port others hold is "in use".
    const int fd = ::open(path.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int e = errno;
        if (e == ENOENT || e == ENXIO || e == ENODEV) {
            d.problem = OpenDiagnosis::Missing;
        } else if (e == EBUSY) {
            d.problem = OpenDiagnosis::InUse;
            d.detail = openersOf(device).join(QStringLiteral(", "));
        } else if (e == EACCES || e == EPERM) {
            noPermission(d, st);
        } else {
            d.detail = QString::fromLocal8Bit(std::strerror(e));
        }
        return d;
    }
    const bool serial = ::isatty(fd);
    ::close(fd);
    if (!serial) {
        d.problem = OpenDiagnosis::NotSerial;
        return d;
    }
    const QStringList openers = openersOf(device);
    if (!openers.isEmpty()) {
        d.problem = OpenDiagnosis::InUse;
        d.detail = openers.join(QStringLiteral(", "));
    }
#endif
    return d;
}

QString DescribeOpenFailure(const QString &device, const OpenDiagnosis &diagnosis)
{
    const AppState &s = app();
    QString line = device + QStringLiteral(": ");
    switch (diagnosis.problem) {
    case OpenDiagnosis::Missing:
        return line + s.message(41);
    case OpenDiagnosis::InUse:
        line += s.message(42);
        break;
    case OpenDiagnosis::PermissionDenied:
        line += s.message(43);
#ifdef Q_OS_UNIX
        return line + QStringLiteral(" sudo usermod -aG %1 $USER").arg(diagnosis.detail);
#else
        break;
#endif
    case OpenDiagnosis::OwnerOnly:
        line += s.message(OwnerOnlyMessage);
        break;
    case OpenDiagnosis::FolderClosed:
        line += s.message(FolderClosedMessage);
        break;
    case OpenDiagnosis::NotSerial:
        return line + s.message(44);
    case OpenDiagnosis::StaleLock:
        line += s.message(45);
        break;
    case OpenDiagnosis::ForeignLink:
        line += s.message(FolderMessages::ForeignLink);
        break;
    case OpenDiagnosis::Other:
        line += s.message(46);
        break;
    }
    return diagnosis.detail.isEmpty() ? line : line + QLatin1Char(' ') + diagnosis.detail;
}

QString OpenProblemCode(OpenDiagnosis::Problem problem)
{
    switch (problem) {
    case OpenDiagnosis::Missing:
        return QStringLiteral("missing");
    case OpenDiagnosis::NotSerial:
        return QStringLiteral("not-serial");
    case OpenDiagnosis::InUse:
        return QStringLiteral("in-use");
    case OpenDiagnosis::PermissionDenied:
    case OpenDiagnosis::OwnerOnly:
    case OpenDiagnosis::FolderClosed:
        return QStringLiteral("permission");
    case OpenDiagnosis::StaleLock:
        return QStringLiteral("stale-lock");
    case OpenDiagnosis::ForeignLink:
        return QStringLiteral("foreign-link");
    case OpenDiagnosis::Other:
        break;
    }
    return QStringLiteral("other");
}
