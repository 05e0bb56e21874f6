#pragma once
// The serial devices of this machine as an operator needs to see them: which
// are present, what COMn reaches, assigning a device to COMn, and why a
// device did not open.

#include <QList>
#include <QSerialPort>
#include <QString>

struct SerialDevice {
    QString path; // /dev/ttyUSB0; on Windows the port name, COM3
    QString description;
    QString manufacturer;
    QString serialNumber;
    QList<int> comLinks; // the COMn links that lead here
    QString stableName;  // its name under /dev/serial/by-id, when it has one
};

// The name under /dev/serial/by-id (AppState::SerialByIdDir) that leads to
// `device`, when there is one that the system or this user made; else empty.
QString StableDeviceName(const QString &device);

// Devices present now: Qt's enumeration, plus the targets of existing COMn
// links in `linkDir`, which it does not list when they are pseudo-terminals
// (only links of this user's or root's).
QList<SerialDevice> ListSerialDevices(const QString &linkDir);

// True when `device` is there now, as a character device (or, on Windows, a
// port the enumeration lists); never through a link another user made.
bool DevicePresent(const QString &device);
// The device a path leads to, links followed; the path itself where it leads
// nowhere.
QString DeviceBehind(const QString &path);

// Points the link COMn in `linkDir` at `device`, creating or replacing it, in
// two steps: the new link is made aside first, so a folder that does not take
// it says so before anything has changed; then it is renamed over COMn, so
// COMn never points nowhere. Not on Windows, where COMn is the port itself.
// False, with `error`, when the folder does not take it.
bool PrepareComLink(const QString &linkDir, int port, const QString &device, QString *error);
bool CommitComLink(const QString &linkDir, int port, QString *error);
// Drops a link made aside and not committed.
void DiscardComLink(const QString &linkDir, int port);

// Why a device did not open, found from the device itself: Qt reports a lock
// held by another program as a permission error.
// A device this user may not open is open to a group the user can join only
// where that group may read and write it and is neither root nor tty (tty
// grants nothing and is no group to hand out); otherwise it is its owner's
// alone, and an administrator must grant access.
struct OpenDiagnosis {
    enum Problem {
        Missing, InUse, PermissionDenied, NotSerial, StaleLock, ForeignLink, Other, OwnerOnly,
        FolderClosed
    };
    Problem problem = Other;
    // The holder "name (pid 123)", the group to join, the owner, the closed
    // folder, the lock file, the owner of a link another user made, or Qt's
    // error text.
    QString detail;
};
// The lock file (Qt's, UUCP's) in the system's lock folders that names the
// process `pid` as the holder of `device`; empty: none.
QString LockFileHeldBy(const QString &device, qint64 pid);

OpenDiagnosis DiagnoseOpen(const QString &device, QSerialPort::SerialPortError qtError,
                           const QString &qtErrorText);

// The line the port failure box adds: the device, the reason and, where there
// is one, what to do; from the message table.
QString DescribeOpenFailure(const QString &device, const OpenDiagnosis &diagnosis);

// The reason as a word for programs: missing, not-serial, in-use,
// permission, stale-lock, foreign-link or other.
QString OpenProblemCode(OpenDiagnosis::Problem problem);
