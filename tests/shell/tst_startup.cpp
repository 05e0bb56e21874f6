// The program as an operator starts it: a copy of the built program file in
// a folder of its own, run as a separate process.

#include "config/TextFolder.h"
#include "config/modFile.h"
#include "core/AppState.h"
#include "serial/CommControl.h"
#include "shell/frmCom.h"
#include "sim/SimPeer.h"
#include "support/GuiSupport.h"
#include "support/TestSupport.h"

#include <QComboBox>
#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QPushButton>
#include <QScopeGuard>
#include <QTest>
#include <QTreeWidget>

#include <csignal>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct ProgramCopy {
    QTemporaryDir dir;
    Pty pty;
    QString program() const { return dir.path() + "/qmlsetup"; }
    bool make()
    {
        const QString built = qEnvironmentVariable("QML_APP");
        if (built.isEmpty() || !QFile::copy(built, program()))
            return false;
        QFile::setPermissions(program(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QFile setcom(dir.path() + "/setcom.ini");
        setcom.open(QIODevice::WriteOnly);
        setcom.write("\"1\"\r\n\"9600\"\r\n\"8\"\r\n\"N\"\r\n\"1\"\r\n");
        return pty.linkAs(dir.path() + "/", 1);
    }
};

// Waits until the started program has opened `port`, which it does as its
// window loads, right before the idle loop: true when it got there and
// still runs.
bool reachIdle(QProcess &p, const QString &device)
{
    if (!p.waitForStarted(5000))
        return false;
    const QString port = QFileInfo(device).canonicalFilePath();
    const auto portOpen = [&] {
        const QDir fds(QStringLiteral("/proc/%1/fd").arg(p.processId()));
        for (const QFileInfo &fd : fds.entryInfoList(QDir::Files | QDir::System))
            if (fd.symLinkTarget() == port)
                return true;
        return false;
    };
    return waitUntil([&] { return p.state() != QProcess::Running || portOpen(); }, 10000, 10)
        && p.state() == QProcess::Running;
}

bool startAndReachIdle(QProcess &p, const ProgramCopy &copy)
{
    p.start(copy.program(), {});
    return reachIdle(p, copy.pty.slavePath());
}

// Everything in a folder, as found: kind, mode, owner, and the bytes of a
// file or the target of a link.
QStringList snapshot(const QString &folder)
{
    QStringList found;
    QDirIterator it(folder, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        struct stat st{};
        ::lstat(QFile::encodeName(path).constData(), &st);
        QString entry = QStringLiteral("%1 %2 %3 ").arg(path.mid(folder.size())).arg(st.st_mode, 0, 8).arg(st.st_uid);
        if (S_ISLNK(st.st_mode)) {
            entry += QFileInfo(path).symLinkTarget();
        } else if (S_ISREG(st.st_mode)) {
            QFile f(path);
            f.open(QIODevice::ReadOnly);
            entry += QString::fromLatin1(QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256).toHex());
        }
        found << entry;
    }
    found.sort();
    return found;
}

// CPU time the process has used, in nanoseconds.
qint64 cpuNs(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/schedstat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    return stat.readAll().split(' ').value(0).toLongLong();
}

} // namespace

class TestStartUp : public QObject {
    Q_OBJECT
private slots:
    void secondCopyEndsAtOnce()
    {
        ProgramCopy copy;
        QVERIFY(copy.make());
        QProcess first, second;
        QVERIFY(startAndReachIdle(first, copy));
        second.start(copy.program(), {});
        QVERIFY(second.waitForFinished(5000));
        QCOMPARE(second.exitCode(), 0);
        const bool firstRuns = first.state() == QProcess::Running;
        first.kill();
        first.waitForFinished();
        QVERIFY(firstRuns);
        // No copy touched a file: no log, no rewritten settings.
        QCOMPARE(QDir(copy.dir.path()).entryList(QDir::Files, QDir::Name),
                 (QStringList{"COM1", "qmlsetup", "setcom.ini"}));
    }

    // The single-copy lock is per user too: two users on one machine each
    // run their own copy of the same program file.
    void anotherUserRunsItsOwnCopy()
    {
        ProgramCopy copy;
        QVERIFY(copy.make());
        letOthersIn(copy.dir.path());
        letOthersIn(copy.program());
        QFile::setPermissions(copy.pty.slavePath(), QFile::ReadOwner | QFile::WriteOwner
                                                        | QFile::ReadOther | QFile::WriteOther);
        if (const QString why = asNobodyUnavailable(copy.program()); !why.isEmpty())
            QSKIP(qPrintable(why));
        QProcess mine, theirs;
        QVERIFY(startAndReachIdle(mine, copy));
        theirs.start("setpriv", {"--reuid=nobody", "--regid=nogroup", "--clear-groups", copy.program()});
        QVERIFY(theirs.waitForStarted(5000));
        const bool ended = theirs.waitForFinished(1500); // a second copy of one user ends at once
        theirs.kill();
        theirs.waitForFinished();
        mine.kill();
        mine.waitForFinished();
        QVERIFY(!ended);
    }

    // A file another user put where the single-copy lock once lived, under
    // the name anyone can work out (SHA-1 of the program's path and the user
    // id), keeps no copy from starting.
    void plantedLockDoesNotStop_data()
    {
        QTest::addColumn<QString>("user");
        QTest::newRow("root; the file is nobody's") << "root";
        QTest::newRow("nobody; the file is daemon's") << "nobody";
    }
    void plantedLockDoesNotStop()
    {
        QFETCH(QString, user);
        const bool asNobody = user == "nobody";
        ProgramCopy copy;
        QVERIFY(copy.make());
        letOthersIn(copy.dir.path());
        letOthersIn(copy.program());
        if (const QString why = asNobodyUnavailable(copy.program()); !why.isEmpty())
            QSKIP(qPrintable(why));
        const uid_t uid = asNobody ? ::getpwnam("nobody")->pw_uid : 0;
        const QString planted = QStringLiteral("/tmp/qml47210-%1.lock")
                                    .arg(QString::fromLatin1(
                                        QCryptographicHash::hash((QFileInfo(copy.program()).canonicalFilePath()
                                                                  + "\n" + QString::number(uid))
                                                                     .toUtf8(),
                                                                 QCryptographicHash::Sha1)
                                            .toHex()
                                            .left(16)));
        QFile::remove(planted);
        QFile lock(planted);
        QVERIFY(lock.open(QIODevice::WriteOnly));
        lock.close();
        QVERIFY(giveTo(planted, asNobody ? "daemon" : "nobody"));
        QTemporaryDir home; // where the program keeps its own lock
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove("XDG_RUNTIME_DIR");
        env.insert("XDG_DATA_HOME", home.path());
        QProcess p;
        p.setProcessEnvironment(env);
        if (asNobody) { // its files in a folder of its own: the unit linked there as COM1
            QFile::setPermissions(copy.pty.slavePath(), QFile::ReadOwner | QFile::WriteOwner
                                                            | QFile::ReadOther | QFile::WriteOther);
            QVERIFY(copy.pty.linkAs(home.path() + "/", 1));
            QFile::copy(copy.dir.path() + "/setcom.ini", home.path() + "/setcom.ini");
            QProcess::execute("chown", {"-R", "nobody", home.path()});
            env.insert("QML47210_FILES", home.path());
            p.setProcessEnvironment(env);
            p.start("setpriv", {"--reuid=nobody", "--regid=nogroup", "--clear-groups", copy.program()});
        } else {
            p.start(copy.program(), {});
        }
        const bool started = reachIdle(p, copy.pty.slavePath());
        p.kill();
        p.waitForFinished();
        QFile::remove(planted);
        QVERIFY(started);
    }

    // The package's files installed into a staging folder and run from there
    // by root: a start, a port change, an apply with its backup and a debug
    // log leave the program folder byte for byte as installed; root's files
    // are in root's own folder.
    void installedProgramFolderStaysAsInstalled()
    {
        if (::geteuid() != 0)
            QSKIP("run by root, who may write the program folder");
        QTemporaryDir staging, home;
        QProcess install;
        install.start("cmake", {"--install", qEnvironmentVariable("QML_BUILD"), "--prefix", staging.path()});
        QVERIFY(install.waitForFinished(60000));
        QVERIFY2(install.exitCode() == 0, install.readAllStandardError().constData());
        const QString programDir = staging.path() + "/lib/qml47210/";
        const QStringList installed = snapshot(programDir);
        QVERIFY(installed.size() > 5);

        const QString own = home.path() + "/qml47210/";
        // Root's own data folder, here and in the programs started below.
        const auto restore = qScopeGuard([old = qgetenv("XDG_DATA_HOME")] { qputenv("XDG_DATA_HOME", old); });
        qputenv("XDG_DATA_HOME", home.path().toLocal8Bit());
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove("XDG_RUNTIME_DIR");
        env.insert("QML_TIME_SCALE", "0.01");
        SimPeer one, two;
        QVERIFY(QDir().mkpath(own));
        QVERIFY(QFile::link(one.slavePath(), own + "COM1"));
        QFile debug(own + "debug.ini");
        QVERIFY(debug.open(QIODevice::WriteOnly));
        debug.write("DEBUG ON\r\n");
        debug.close();

        // A start: root's folder is seeded, and the port opened.
        QProcess start;
        start.setProcessEnvironment(env);
        start.start(staging.path() + "/bin/qmlsetup", {});
        const bool started = reachIdle(start, one.slavePath());
        start.kill();
        start.waitForFinished();

        // A port change in the port dialog, with the folder the program
        // chooses: the second unit, which a link of root's shows in the list,
        // assigned to COM2.
        QVERIFY(QFile::link(two.slavePath(), own + "COM3"));
        const QString device = QFileInfo(two.slavePath()).canonicalFilePath();
        app() = AppState{};
        app().AppDir = ChooseTextFolder(programDir, QString()).folder;
        ReadSetcomIni();
        QStringList boxes;
        bool changed = false;
        {
            CommControl comm;
            comm.setLinkDir(app().AppDir);
            frmCom d(comm);
            d.Form_Load();
            d.show();
            for (QTreeWidgetItem *row : d.lstDevices->findItems(device, Qt::MatchExactly, 0))
                row->setSelected(true);
            d.cmbCH->setEditText("COM2");
            ModalWatcher watcher;
            d.comSet->click();
            boxes = watcher.boxes;
            changed = comm.PortOpen();
        }

        // An apply with its backup and a debug log, from the command line.
        QFile site(home.path() + "/site.ini");
        QVERIFY(site.open(QIODevice::WriteOnly));
        site.write("[unit]\nformat = 1\n[registers]\n12 = AB\n");
        site.close();
        QProcess apply;
        apply.setProcessEnvironment(env);
        apply.setWorkingDirectory(home.path());
        apply.start(staging.path() + "/bin/qmlsetup", {"apply", "site.ini", "--port", one.slavePath()});
        QVERIFY(waitUntil([&] { return apply.state() == QProcess::NotRunning; }, 30000));

        const QStringList now = snapshot(programDir);
        QStringList differences;
        for (const QString &entry : now)
            if (!installed.contains(entry))
                differences << "now: " + entry;
        for (const QString &entry : installed)
            if (!now.contains(entry))
                differences << "was: " + entry;
        QVERIFY2(differences.isEmpty(), qPrintable(differences.join("; ")));
        QVERIFY(started);
        QCOMPARE(app().AppDir, own);
        QVERIFY2(boxes.isEmpty() && changed, qPrintable(boxes.join('+')));
        QCOMPARE(QFileInfo(own + "COM2").symLinkTarget(), device);
        QFile setcom(own + "setcom.ini");
        QVERIFY(setcom.open(QIODevice::ReadOnly));
        QVERIFY(setcom.readAll().startsWith("\"2\"\r\n"));
        QVERIFY2(apply.exitCode() == 0, apply.readAllStandardError().constData());
        QCOMPARE(one.unit().reg(12), QString("AB"));
        QCOMPARE(QDir(own + "backups").entryList(QDir::Files).size(), 1);
        QCOMPARE(QDir(own).entryList({"Log*.log"}, QDir::Files).size(), 1);
    }

    void copiesInOtherFoldersRunSideBySide()
    {
        ProgramCopy a, b;
        QVERIFY(a.make());
        QVERIFY(b.make());
        QProcess pa, pb;
        QVERIFY(startAndReachIdle(pa, a));
        QVERIFY(startAndReachIdle(pb, b));
        pa.kill();
        pb.kill();
        pa.waitForFinished();
        pb.waitForFinished();
    }

    void killedCopyDoesNotBlockTheNext()
    {
        ProgramCopy copy;
        QVERIFY(copy.make());
        QProcess first;
        QVERIFY(startAndReachIdle(first, copy));
        ::kill(pid_t(first.processId()), SIGKILL);
        first.waitForFinished();
        QProcess next;
        QVERIFY(startAndReachIdle(next, copy));
        next.kill();
        next.waitForFinished();
    }

    // The idle loop blocks between events: an idle program uses well under 1%.
    void idleUsesNoCore()
    {
        ProgramCopy copy;
        QVERIFY(copy.make());
        QProcess p;
        QVERIFY(startAndReachIdle(p, copy));
        // Showing the window takes some CPU after the port is open: wait
        // until a tenth of a second goes by without any.
        qint64 last = cpuNs(p.processId()), quietSince = 0;
        QElapsedTimer clock;
        clock.start();
        QVERIFY(waitUntil(
            [&] {
                const qint64 now = cpuNs(p.processId());
                if (now != last) {
                    last = now;
                    quietSince = clock.elapsed();
                }
                return clock.elapsed() - quietSince >= 100;
            },
            5000, 20));
        const qint64 before = cpuNs(p.processId());
        QTest::qSleep(1000); // the window over which it is measured
        const qint64 after = cpuNs(p.processId());
        p.kill();
        p.waitForFinished();
        QVERIFY(before >= 0 && after >= 0);
        const double share = (after - before) / 1e9;
        QVERIFY2(share < 0.01, qPrintable(QString("idle share of a core: %1").arg(share)));
    }
};

QTEST_MAIN(TestStartUp)
#include "tst_startup.moc"
