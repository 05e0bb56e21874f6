// The serial devices present and the COMn links that name them: listing
// them, and relinking a COMn to another device without a moment of none.
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

// Port number n of a link named COMn, or 0.
[[maybe_unused]] int comNumber(const QString &name)
{
    if (!name.startsWith(QLatin1String("COM")))
        return 0;
    bool ok = false;
    const int n = name.mid(3).toInt(&ok);
    return ok && n >= 1 && n <= 255 ? n : 0;
}

#ifdef Q_OS_UNIX
bool isCharDevice(const QString &path)
{
    struct stat st{};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 && S_ISCHR(st.st_mode);
}
#endif

} // namespace

QString DeviceBehind(const QString &path)
{
    const QString c = QFileInfo(path).canonicalFilePath();
    return c.isEmpty() ? path : c;
}

QString StableDeviceName(const QString &device)
{
#ifdef Q_OS_WIN
    Q_UNUSED(device);
    return QString();
#else
    const QString target = QFileInfo(device).canonicalFilePath();
    if (target.isEmpty())
        return QString();
    const QFileInfoList names = QDir(app().SerialByIdDir).entryInfoList(QDir::System | QDir::Files, QDir::Name);
    for (const QFileInfo &name : names)
        if (name.isSymLink() && FollowTrustedLinks(name.filePath()).target == target)
            return name.filePath();
    return QString();
#endif
}

QList<SerialDevice> ListSerialDevices(const QString &linkDir)
{
    QList<SerialDevice> devices;
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts()) {
        SerialDevice d;
#ifdef Q_OS_WIN
        d.path = info.portName();
#else
        d.path = info.systemLocation();
#endif
        d.description = info.description();
        d.manufacturer = info.manufacturer();
        d.serialNumber = info.serialNumber();
        devices << d;
    }
#ifndef Q_OS_WIN
    if (!linkDir.isEmpty()) {
        const QFileInfoList links =
            QDir(linkDir).entryInfoList({QStringLiteral("COM*")}, QDir::Files | QDir::System);
        for (const QFileInfo &link : links) {
            const int n = comNumber(link.fileName());
            if (!n)
                continue;
            const QString target = FollowTrustedLinks(link.filePath()).target;
            if (target.isEmpty() || !DevicePresent(target))
                continue;
            auto it = std::find_if(devices.begin(), devices.end(), [&](const SerialDevice &d) {
                return DeviceBehind(d.path) == target;
            });
            if (it == devices.end()) {
                SerialDevice d;
                d.path = target;
                devices << d;
                it = devices.end() - 1;
            }
            it->comLinks << n;
        }
    }
#endif
    for (SerialDevice &d : devices) {
        std::sort(d.comLinks.begin(), d.comLinks.end());
        d.stableName = StableDeviceName(d.path);
    }
    std::sort(devices.begin(), devices.end(),
              [](const SerialDevice &a, const SerialDevice &b) { return a.path < b.path; });
    return devices;
}

bool DevicePresent(const QString &device)
{
#ifdef Q_OS_WIN
    const auto ports = QSerialPortInfo::availablePorts();
    return std::any_of(ports.begin(), ports.end(),
                       [&](const QSerialPortInfo &p) { return p.portName() == device; });
#else
    return ForeignLinkOwner(device).isEmpty() && isCharDevice(device);
#endif
}

namespace {
[[maybe_unused]] QString asideLink(const QString &linkDir, int port)
{
    return QDir(linkDir).filePath(QStringLiteral(".COM%1.new").arg(port));
}
} // namespace

bool PrepareComLink(const QString &linkDir, int port, const QString &device, QString *error)
{
#ifdef Q_OS_WIN
    Q_UNUSED(linkDir);
    Q_UNUSED(device);
    if (error)
        *error = QStringLiteral("COM%1 is the port itself").arg(port);
    return false;
#else
    if (linkDir.isEmpty()) { // no folder of the user's own to make it in
        if (error)
            *error = app().message(FolderMessages::NowhereToMake);
        return false;
    }
    const QString fresh = asideLink(linkDir, port);
    QFile::remove(fresh);
    if (::symlink(QFile::encodeName(device).constData(), QFile::encodeName(fresh).constData()) != 0) {
        if (error)
            *error = QString::fromLocal8Bit(std::strerror(errno)) + QStringLiteral(": ") + fresh;
        return false;
    }
    return true;
#endif
}

bool CommitComLink(const QString &linkDir, int port, QString *error)
{
#ifdef Q_OS_WIN
    Q_UNUSED(linkDir);
    Q_UNUSED(port);
    Q_UNUSED(error);
    return false;
#else
    const QString link = QDir(linkDir).filePath(QStringLiteral("COM%1").arg(port));
    if (::rename(QFile::encodeName(asideLink(linkDir, port)).constData(),
                 QFile::encodeName(link).constData())
        != 0) {
        if (error)
            *error = QString::fromLocal8Bit(std::strerror(errno)) + QStringLiteral(": ") + link;
        DiscardComLink(linkDir, port);
        return false;
    }
    return true;
#endif
}

void DiscardComLink(const QString &linkDir, int port)
{
#ifdef Q_OS_WIN
    Q_UNUSED(linkDir);
    Q_UNUSED(port);
#else
    QFile::remove(asideLink(linkDir, port));
#endif
}
