#include "config/FileSafety.h"
#include "core/AppState.h"
#include "serial/CommControl.h"
#include "serial/ReplyTimer.h"
#include "serial/SerialDevices.h"
#include "serial/mod232C.h"
#include "serial/modLog.h"
#include "support/TestSupport.h"

#include <QElapsedTimer>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QTextStream>
#include <QSignalSpy>
#include <QTest>

#include <grp.h>
#include <sys/stat.h>

#include <unistd.h>

namespace {
QStringList g_boxes;
void recordBox(const QString &title, const QString &text) { g_boxes << title + "|" + text; }

// The driver's port opened on a fresh pseudo-terminal linked as COM1.
struct OpenLine {
    FreshState st;
    Pty pty;
    CommControl comm;
    ReplyTimer timer;
    bool open()
    {
        comm.setLinkDir(st.dir());
        return pty.linkAs(st.dir(), 1) && OpenPort(comm, 1, "9600", "8", "N", "1");
    }
};

// Runs ReceiveLine until the bytes written so far are used up; returns the
// result of every call.
QStringList receiveAll(CommControl &comm, int calls)
{
    QStringList results;
    waitUntil([&] { return comm.InBufferCount() >= calls; }, 2000);
    for (int i = 0; i < calls; ++i)
        results << ReceiveLine(comm);
    return results;
}
} // namespace

class TestSerial : public QObject {
    Q_OBJECT
private slots:
    void init()
    {
        g_boxes.clear();
        SetPortErrorBox(recordBox);
        TimeScale::set(1.0);
    }

    // The settings string as the texts make it, and what the port opened with
    // them holds ("-": it does not open). A pseudo-terminal keeps 8 data bits
    // and no parity whatever it is asked: Qt finds even parity and 7 data bits
    // not taken and refuses the open, so those settings are seen reaching the
    // port by that.
    void settings_data()
    {
        QTest::addColumn<QStringList>("texts"); // baud, data bits, parity, stop bits
        QTest::addColumn<QString>("settings");
        QTest::addColumn<QString>("held"); // what the opened port holds; "-": the open failed
        QTest::newRow("defaults") << QStringList{"9600", "8", "N", "1"} << "9600,N,8,1" << "9600,N,8,1";
        QTest::newRow("blanks around baud, even, 7, 2")
            << QStringList{" 19200 ", "7", "E", "2"} << "19200,E,7,2" << "-";
        QTest::newRow("even parity reaches the port: a pseudo-terminal refuses it") << QStringList{"9600", "8", "E", "1"} << "9600,E,8,1" << "-";
        QTest::newRow("7 data bits reach the port: a pseudo-terminal refuses them") << QStringList{"9600", "7", "N", "1"} << "9600,N,7,1" << "-";
        QTest::newRow("2 stop bits") << QStringList{"4800", "8", "N", "2"} << "4800,N,8,2" << "4800,N,8,2";
        QTest::newRow("odd") << QStringList{"9600", "8", "O", "1"} << "9600,O,8,1" << "9600,O,8,1";
        QTest::newRow("lower-case parity is none") << QStringList{"9600", "8", "e", "1"}
                                                   << "9600,N,8,1" << "9600,N,8,1";
        QTest::newRow("unknown parity is none") << QStringList{"9600", "8", "X", "1"}
                                                << "9600,N,8,1" << "9600,N,8,1";
        QTest::newRow("1.5 stop bits") << QStringList{"9600", "8", "N", "1.5"} << "9600,N,8,1.5" << "9600,N,8,1.5";
        QTest::newRow("1.50 stop bits is 1") << QStringList{"9600", "8", "N", "1.50"}
                                             << "9600,N,8,1" << "9600,N,8,1";
        QTest::newRow("3 stop bits is 1") << QStringList{"9600", "8", "N", "3"} << "9600,N,8,1"
                                          << "9600,N,8,1";
        QTest::newRow("data length rounded") << QStringList{"9600", "7.6", "N", "1"}
                                             << "9600,N,8,1" << "9600,N,8,1";
        QTest::newRow("5 data bits") << QStringList{"2400", "5", "O", "2"} << "2400,O,5,2" << "2400,O,5,2";
        QTest::newRow("4 data bits do not open") << QStringList{"9600", "4", "N", "1"} << "9600,N,4,1" << "-";
        QTest::newRow("115200 bit/s") << QStringList{"115200", "8", "O", "1"} << "115200,O,8,1"
                                      << "115200,O,8,1";
        QTest::newRow("a bit rate of 0 does not open") << QStringList{"0", "8", "N", "1"} << "0,N,8,1" << "-";
        QTest::newRow("empty data length stays empty") << QStringList{"9600", "", "N", "1"}
                                                       << "9600,N,,1" << "-";
    }
    void settings()
    {
        QFETCH(QStringList, texts);
        QFETCH(QString, settings);
        QFETCH(QString, held);
        QCOMPARE(BuildSettings(texts[0], texts[1], texts[2], texts[3]), settings);
        FreshState st;
        Pty pty;
        QVERIFY(pty.linkAs(st.dir(), 1));
        CommControl comm;
        comm.setLinkDir(st.dir());
        const bool opened = OpenPort(comm, 1, texts[0], texts[1], texts[2], texts[3]);
        QCOMPARE(opened, held != "-");
        QCOMPARE(comm.openSettings(), held == "-" ? QString() : held);
    }

    // The failure box: its two lines, then the device and why it did not open.
    void openFailures_data()
    {
        QTest::addColumn<int>("port");
        QTest::addColumn<QString>("dataBits");
        QTest::addColumn<QString>("device"); // what COM1 links to
        QTest::addColumn<QString>("reason"); // the added line after "<device>: "; "-" none
        QTest::newRow("port 0") << 0 << "8" << "pty" << "-";
        QTest::newRow("empty data length") << 1 << "" << "pty" << "-";
        QTest::newRow("no such device") << 1 << "8" << "missing" << "r41";
        QTest::newRow("a regular file") << 1 << "8" << "file" << "r44";
        QTest::newRow("a directory") << 1 << "8" << "dir" << "r44";
        QTest::newRow("in use by another program") << 1 << "8" << "held" << "r42 sleep (pid %1)";
        QTest::newRow("in use, its lock file in the older binary form") << 1 << "8" << "held, binary" << "r42 sleep (pid %1)";
        QTest::newRow("in use by another user's program: the user named")
            << 1 << "8" << "held by nobody" << "r42 sleep (pid %1, r126 nobody)";
        QTest::newRow("COM1 a link another user made: not followed, nothing sent")
            << 1 << "8" << "foreign" << QString("r%1 nobody").arg(FolderMessages::ForeignLink);
        QTest::newRow("COM1 root's, through a link another user made: that link named, nothing sent")
            << 1 << "8" << "through foreign" << QString("r%1 nobody").arg(FolderMessages::ForeignLink);
    }
    void openFailures()
    {
        QFETCH(int, port);
        QFETCH(QString, dataBits);
        QFETCH(QString, device);
        QFETCH(QString, reason);
        FreshState st;
        app().PortOpenErrTitle = "T";
        app().PortOpenErrLine1 = "L1";
        app().PortOpenErrLine2 = "L2";
        for (int n : {41, 42, 43, 44, 45, 46, 126, FolderMessages::ForeignLink})
            app().MessageTable[n] = QStringLiteral("r%1").arg(n);
        Pty pty;
        QString target = pty.slavePath();
        QProcess holder;
        QString lock;
        if (device == "missing") {
            target = st.path("missing-device");
        } else if (device == "file") {
            st.write("plain", "x");
            target = st.path("plain");
        } else if (device == "dir") {
            QDir().mkdir(st.path("folder"));
            target = st.path("folder");
        } else if (device.startsWith("held")) {
            if (::geteuid() != 0)
                QSKIP("writes a lock file into /var/lock, which only root may");
            // Another program holds the device by its lock file, as serial
            // programs do; Qt's own open reads it as a permission error.
            if (device == "held by nobody")
                holder.start("setpriv", {"--reuid=nobody", "--regid=nogroup", "--clear-groups",
                                         "sleep", "30"});
            else
                holder.start("sleep", {"30"});
            QVERIFY(holder.waitForStarted());
            // Qt takes a lock of a process by another name for a stale one:
            // the holder must be sleep itself by now, not setpriv.
            QVERIFY(waitUntil([&] {
                QFile comm(QStringLiteral("/proc/%1/comm").arg(holder.processId()));
                return comm.open(QIODevice::ReadOnly) && comm.readAll().trimmed() == "sleep";
            }, 2000, 5));
            lock = "/var/lock/LCK.." + target.mid(5).replace('/', '_');
            QFile f(lock);
            QVERIFY(f.open(QIODevice::WriteOnly));
            const int pid = int(holder.processId());
            f.write(device == "held, binary" ? QByteArray(reinterpret_cast<const char *>(&pid), sizeof pid)
                                             : QByteArray::number(pid) + "\nsleep\n"
                                                   + QSysInfo::machineHostName().toUtf8() + "\n");
            reason = reason.arg(holder.processId());
        } else if (device.endsWith("foreign") && ::geteuid() != 0) {
            QSKIP("gives the link to another user, which only root may");
        } else if (device == "through foreign") { // nobody's link on the way
            QVERIFY(QFile::link(target, st.path("hop")));
            QVERIFY(giveTo(st.path("hop"), "nobody"));
            target = st.path("hop");
        }
        QVERIFY(QFile::link(target, st.dir() + "COM1"));
        if (device == "foreign") // made by nobody, who would read the unit's traffic
            QVERIFY(giveTo(st.dir() + "COM1", "nobody"));
        CommControl comm;
        comm.setLinkDir(st.dir());
        const bool opened = OpenPort(comm, qint16(port), "9600", dataBits, "N", "1");
        comm.setOutput("@RST\r\n");
        if (!lock.isEmpty())
            QFile::remove(lock);
        holder.kill();
        holder.waitForFinished();
        QVERIFY(!opened);
        QVERIFY(!comm.PortOpen());
        QCOMPARE(pty.readAll(20), QByteArray());
        const QString shown = device == "missing" || device == "foreign" ? st.dir() + "COM1" : target;
        QCOMPARE(g_boxes, QStringList{reason == "-" ? QString("T|L1\nL2\n")
                                                    : "T|L1\nL2\n" + shown + ": " + reason + "\n"});
    }

    // What only an ordinary user meets: root may open any device and remove
    // any lock file. Run as nobody. A group is named only where joining it
    // gives access; root and tty are no groups to hand out.
    void openFailuresAsOrdinaryUser_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("0660 to group dialout: join it") << "dialout";
        QTest::newRow("0600: only its owner, an administrator grants access") << "owner";
        QTest::newRow("0620 to group tty: no group to join") << "tty";
        QTest::newRow("0660 to group tty: no group to hand out") << "tty0660";
        QTest::newRow("0660 to group root: no group to join") << "root";
        QTest::newRow("a closed folder on the way") << "folder";
        QTest::newRow("a lock file whose program has ended, not removable") << "lock";
        QTest::newRow("COM1 a link another user made: not followed, nothing sent") << "foreign";
    }
    void openFailuresAsOrdinaryUser()
    {
        QFETCH(QString, how);
        const QString self = QCoreApplication::applicationFilePath();
        if (const QString why = asNobodyUnavailable(self); !why.isEmpty())
            QSKIP(qPrintable(why));
        QTemporaryDir dir;
        letOthersIn(dir.path());
        Pty pty;
        QString expected;
        QString shown = pty.slavePath();
        const QString lock = "/var/lock/LCK.." + pty.slavePath().mid(5).replace('/', '_');
        const QByteArray device = QFile::encodeName(pty.slavePath());
        const auto own = [&](const char *group, mode_t mode) {
            const ::group *g = ::getgrnam(group);
            QVERIFY(g);
            QCOMPARE(::chown(device.constData(), 0, g->gr_gid), 0);
            QCOMPARE(::chmod(device.constData(), mode), 0);
        };
        if (how == "folder") {
            QVERIFY(QDir().mkdir(dir.path() + "/closed")); // 0700, root's
            QFile::setPermissions(dir.path() + "/closed", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
            QVERIFY(QFile::link(pty.slavePath(), dir.path() + "/closed/tty"));
            QVERIFY(QFile::link(dir.path() + "/closed/tty", dir.path() + "/COM1"));
            shown = dir.path() + "/COM1";
            expected = "r105 " + dir.path() + "/closed";
        } else {
            QVERIFY(pty.linkAs(dir.path() + "/", 1));
        }
        if (how == "foreign") { // nobody could use the device; the link is daemon's
            QFile::setPermissions(pty.slavePath(), QFile::ReadOwner | QFile::WriteOwner
                                                       | QFile::ReadOther | QFile::WriteOther);
            QVERIFY(giveTo(dir.path() + "/COM1", "daemon"));
            shown = dir.path() + "/COM1";
            expected = QString("r%1 daemon").arg(FolderMessages::ForeignLink);
        } else if (how == "lock") {
            QFile::setPermissions(pty.slavePath(), QFile::ReadOwner | QFile::WriteOwner
                                                       | QFile::ReadOther | QFile::WriteOther);
            QProcess ended; // a process id nobody holds any more
            ended.start("true", {});
            QVERIFY(ended.waitForFinished());
            QFile f(lock);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(QByteArray::number(ended.processId()) + "\ntrue\n"
                    + QSysInfo::machineHostName().toUtf8() + "\n");
            expected = "r45 " + lock;
        } else if (how == "dialout") {
            own("dialout", 0660);
            expected = "r43 sudo usermod -aG dialout $USER";
        } else if (how == "owner" || how == "tty" || how == "tty0660" || how == "root") {
            own(how == "owner" ? "root" : how == "root" ? "root" : "tty",
                how == "owner" ? 0600 : how == "tty" ? 0620 : 0660);
            expected = "r104 root";
        }
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QML_OPEN_AS_USER", dir.path() + "/");
        QByteArray output;
        const int rc = runAsNobody(self, {}, env, &output);
        QFile::remove(lock);
        QCOMPARE(rc, 0);
        QCOMPARE(QString::fromLocal8Bit(output), "L1\nL2\n" + shown + ": " + expected + "\n");
        QCOMPARE(pty.readAll(20), QByteArray());
    }

    void openPtyAndSecondOpenFails()
    {
        FreshState st;
        Pty pty;
        QVERIFY(pty.linkAs(st.dir(), 3));
        CommControl first, second;
        first.setLinkDir(st.dir());
        second.setLinkDir(st.dir());
        QVERIFY(OpenPort(first, 3, "9600", "8", "N", "1"));
        QVERIFY(first.PortOpen());
        QVERIFY(g_boxes.isEmpty());
        // The same device under its own name is in use too.
        QVERIFY(QFile::link(pty.slavePath(), st.dir() + "COM4"));
        QVERIFY(!OpenPort(second, 4, "9600", "8", "N", "1"));
        QCOMPARE(g_boxes.size(), 1);
        QVERIFY(ClosePort(first));
        QVERIFY(!first.PortOpen());
        QVERIFY(OpenPort(second, 4, "9600", "8", "N", "1"));
    }

    void portMapping()
    {
        FreshState st;
        CommControl comm;
        comm.setLinkDir(st.dir());
        QCOMPARE(comm.deviceFor(1), QString("/dev/ttyS0"));
        QCOMPARE(comm.deviceFor(9), QString("/dev/ttyS8"));
        Pty pty;
        QVERIFY(pty.linkAs(st.dir(), 2));
        QCOMPARE(comm.deviceFor(2), QFileInfo(pty.slavePath()).canonicalFilePath());
    }

    void sendLine()
    {
        OpenLine l;
        QVERIFY(l.open());
        SendLine(l.comm, l.timer, "@RST");
        QCOMPARE(l.pty.readAll(50), QByteArray("@RST\r\n"));
        QVERIFY(app().AwaitingAck);
        QVERIFY(l.timer.Enabled());
        QCOMPARE(l.timer.Interval(), 7000);
        QCOMPARE(l.timer.Tag(), QString("0"));
        SendLine(l.comm, l.timer, "@RST");
        QCOMPARE(l.pty.readAll(50), QByteArray("@RST\r\n"));
    }

    void sendOnClosedPortTimesOut()
    {
        FreshState st;
        CommControl comm;
        ReplyTimer timer;
        TimeScale::set(0.01);
        SendLine(comm, timer, "@REG05");
        QVERIFY(app().AwaitingAck);
        QVERIFY(!timer.expired());
        QVERIFY(waitUntil([&] { return timer.expired(); }, 2000));
        QVERIFY(!timer.Enabled());
    }

    void timerRearmClearsExpiry()
    {
        ReplyTimer timer;
        TimeScale::set(0.01);
        timer.arm(1000);
        QVERIFY(waitUntil([&] { return timer.expired(); }, 2000));
        timer.arm(1000);
        QCOMPARE(timer.Tag(), QString("0"));
        QVERIFY(timer.Enabled());
    }

    void receive_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QStringList>("results");
        QTest::newRow("P0 CR LF takes four calls") << QByteArray("P0\r\n")
                                                   << QStringList{"", "", "P0", ""};
        QTest::newRow("LF drops what came before") << QByteArray("RX\nP0\r")
                                                   << QStringList{"", "", "", "", "", "P0"};
        QTest::newRow("empty line") << QByteArray("\r") << QStringList{""};
        QTest::newRow("two lines") << QByteArray("A\rB\r") << QStringList{"", "A", "", "B"};
        QTest::newRow("high bytes are characters") << QByteArray("\xB1\r")
                                                   << QStringList{"", QString(QChar(0xB1))};
        const QByteArray longest(4096, 'x'); // kept whole, as the README says; a byte more is noise
        QTest::newRow("the longest line") << longest + "\r" << QStringList(4096, "") + QStringList{QString(longest)};
        QTest::newRow("a byte over the longest") << longest + "x\r" << QStringList(4098, "");
    }
    void receive()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QStringList, results);
        OpenLine l;
        QVERIFY(l.open());
        l.pty.write(bytes);
        QCOMPARE(receiveAll(l.comm, results.size()), results);
        QVERIFY(app().RxLineBuffer.isEmpty());
        QCOMPARE(ReceiveLine(l.comm), QString()); // nothing waiting
    }

    void endlessLineIsBounded()
    {
        OpenLine l;
        QVERIFY(l.open());
        const QByteArray junk(3 * RxLineLimit, 'x');
        int maxSeen = 0;
        for (int sent = 0; sent < junk.size(); sent += 1024) {
            l.pty.write(junk.mid(sent, 1024));
            waitUntil([&] { return l.comm.InBufferCount() >= 1024; }, 2000);
            while (l.comm.InBufferCount() > 0) {
                QCOMPARE(ReceiveLine(l.comm), QString());
                maxSeen = qMax(maxSeen, int(app().RxLineBuffer.size()));
            }
        }
        QVERIFY(maxSeen <= RxLineLimit);
        // Noise never turns into an answer: the over-long line is dropped up
        // to its CR; the next line is whole.
        l.pty.write("P0\rP0\r");
        QCOMPARE(receiveAll(l.comm, 6), (QStringList{"", "", "", "", "", "P0"}));
    }

    // A unit that talks unasked, or noise: a flood while nothing reads costs
    // a fixed amount of memory, is noted in the log, and the next exchange works.
    void floodIsBounded()
    {
        OpenLine l;
        QVERIFY(l.open());
        app().DebugFlag = true;
        MakeLogName();
        const auto residentKb = [] {
            QFile f("/proc/self/statm");
            f.open(QIODevice::ReadOnly);
            return f.readAll().split(' ').value(1).toLongLong() * (sysconf(_SC_PAGESIZE) / 1024);
        };
        const qint64 before = residentKb();
        const QByteArray chunk(64 * 1024, 'x');
        qint64 written = 0;
        while (written < 10 * 1024 * 1024) {
            const ssize_t n = ::write(l.pty.masterFd(), chunk.constData(), size_t(chunk.size()));
            if (n > 0)
                written += n;
            QCoreApplication::processEvents(); // the control takes what arrived
        }
        waitUntil([&] { return false; }, 50);
        QCOMPARE(l.comm.InBufferCount(), 64 * 1024); // the newest 64 KiB kept, no more
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define UNDER_ASAN
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define UNDER_ASAN
#endif
#ifndef UNDER_ASAN // ASan keeps freed memory in quarantine: resident size says nothing
        QVERIFY2(residentKb() - before < 2048, qPrintable(QString::number(residentKb() - before)));
#endif
        QCOMPARE(ReceiveLine(l.comm), QString());
        QVERIFY(QString::fromLatin1(l.st.read(QFileInfo(app().LogFilePath).fileName()))
                    .contains("input overflow"));
        DiscardInput(l.comm); // as every exchange starts
        l.pty.write("P0\r");
        QCOMPARE(receiveAll(l.comm, 3), (QStringList{"", "", "P0"}));
    }

    void logged()
    {
        OpenLine l;
        app().DebugFlag = true;
        MakeLogName(QDateTime(QDate(2004, 3, 16), QTime(9, 30, 15)));
        QVERIFY(l.open());
        SendLine(l.comm, l.timer, "@RST");
        l.pty.write("\rP0\r");
        receiveAll(l.comm, 4);
        QStringList lines = QString::fromLatin1(l.st.read("Log20040316093015.log")).split("\r\n");
        // What the traffic console shows, the log has too: the port's opening first.
        QVERIFY2(QRegularExpression("^--\\d\\d:\\d\\d:\\d\\d port opened: /").match(lines.value(0)).hasMatch(),
                 qPrintable(lines.value(0)));
        lines.removeFirst();
        QCOMPARE(lines.size(), 4);
        const QRegularExpression sent("^S>\\d\\d:\\d\\d:\\d\\d @RST$");
        const QRegularExpression empty("^R<\\d\\d:\\d\\d:\\d\\d $");
        const QRegularExpression p0("^R<\\d\\d:\\d\\d:\\d\\d P0$");
        QVERIFY2(sent.match(lines[0]).hasMatch(), qPrintable(lines[0]));
        QVERIFY2(empty.match(lines[1]).hasMatch(), qPrintable(lines[1]));
        QVERIFY2(p0.match(lines[2]).hasMatch(), qPrintable(lines[2]));
        QCOMPARE(lines[3], QString());
    }

    // A COMn link another user made, or one leading through another user's
    // link, reaches nothing: the port dialog does not list its device, the
    // reopen after a lost line finds no device there, and opening it sends
    // nothing.
    void foreignLinksNeitherListedNorReopened_data()
    {
        QTest::addColumn<bool>("through"); // COM1 root's, leading through nobody's link
        QTest::newRow("COM1 another user's link") << false;
        QTest::newRow("COM1 root's, through another user's link") << true;
    }
    void foreignLinksNeitherListedNorReopened()
    {
        QFETCH(bool, through);
        if (::geteuid() != 0)
            QSKIP("gives the link to another user, which only root may");
        FreshState st;
        Pty pty;
        const QString device = QFileInfo(pty.slavePath()).canonicalFilePath();
        const QString foreign = st.path(through ? "hop" : "COM1");
        QVERIFY(QFile::link(pty.slavePath(), foreign));
        QVERIFY(giveTo(foreign, "nobody"));
        if (through)
            QVERIFY(QFile::link(foreign, st.path("COM1")));
        for (const SerialDevice &d : ListSerialDevices(st.dir())) {
            QVERIFY2(d.path != device, qPrintable(d.path));
            QVERIFY(!d.comLinks.contains(1));
        }
        CommControl comm;
        comm.setLinkDir(st.dir());
        QCOMPARE(comm.deviceFor(1), foreign);
        QVERIFY(!DevicePresent(comm.deviceFor(1)));
        QVERIFY(!ReopenPort(comm, 1, "9600", "8", "N", "1"));
        comm.setOutput("@RST\r\n");
        QCOMPARE(pty.readAll(20), QByteArray());
    }

    // With the far end gone the port is closed, quietly: later sends transmit
    // nothing and their waits end by time-out, and no core is burnt meanwhile.
    void lineLostClosesPort()
    {
        FreshState st;
        auto pty = std::make_unique<Pty>();
        QVERIFY(pty->linkAs(st.dir(), 1));
        CommControl comm;
        comm.setLinkDir(st.dir());
        ReplyTimer timer;
        QVERIFY(OpenPort(comm, 1, "9600", "8", "N", "1"));
        QSignalSpy lost(&comm, &CommControl::lineLost);
        pty->write("KZ90$\r\n"); // the old unit's answer, never read
        QVERIFY(waitUntil([&] { return comm.InBufferCount() == 7; }, 2000));
        pty.reset();
        QVERIFY(waitUntil([&] { return !comm.PortOpen(); }, 3000));
        QCOMPARE(lost.count(), 1);
        TimeScale::set(0.01);
        SendLine(comm, timer, "@RST");
        QVERIFY(waitUntil([&] { return timer.expired(); }, 2000));
        QVERIFY(g_boxes.isEmpty());
        // Plugged in again: what the old line brought is gone with it.
        Pty again;
        QFile::remove(st.path("COM1"));
        QVERIFY(again.linkAs(st.dir(), 1));
        QVERIFY(ReopenPort(comm, 1, "9600", "8", "N", "1"));
        QCOMPARE(comm.InBufferCount(), 0);
    }
};

// Run as nobody by openFailuresAsOrdinaryUser: opens COM1 of the folder
// given and prints the failure box's text.
void printBox(const QString &, const QString &text) { QTextStream(stdout) << text; }

int openAsUser(const QString &folder)
{
    app() = AppState{};
    app().PortOpenErrLine1 = "L1";
    app().PortOpenErrLine2 = "L2";
    for (int n : {41, 42, 43, 44, 45, 46, 104, 105, FolderMessages::ForeignLink})
        app().MessageTable[n] = QStringLiteral("r%1").arg(n);
    SetPortErrorBox(printBox);
    CommControl comm;
    comm.setLinkDir(folder);
    const bool opened = OpenPort(comm, 1, "9600", "8", "N", "1");
    comm.setOutput("@RST\r\n"); // what an exchange would send
    return opened ? 1 : 0;
}

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    if (qEnvironmentVariableIsSet("QML_OPEN_AS_USER"))
        return openAsUser(qEnvironmentVariable("QML_OPEN_AS_USER"));
    TestSerial test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_mod232c.moc"
