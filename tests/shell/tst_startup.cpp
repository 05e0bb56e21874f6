// The program as an operator starts it: a copy of the built program file in
// a folder of its own, run as a separate process.

#include "config/FileSafety.h"
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
    QString window() const { return dir.path() + "/qmlsetup-window"; }
    bool make()
    {
        // The program and the window program it starts.
        const QString built = qEnvironmentVariable("QML_APP");
        const QString window = QFileInfo(built).dir().filePath("qmlsetup-window");
        if (built.isEmpty() || !QFile::copy(built, program())
            || !QFile::copy(window, this->window()))
            return false;
        for (const QString &f : {program(), this->window()})
            QFile::setPermissions(f, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QFile setcom(dir.path() + "/setcom.ini");
        setcom.open(QIODevice::WriteOnly);
        setcom.write("\"1\"\r\n\"9600\"\r\n\"8\"\r\n\"N\"\r\n\"1\"\r\n");
        return pty.linkAs(dir.path() + "/", 1);
    }
};

// A folder of nobody's, named by QML47210_FILES, with the unit linked as
// COM1: where a copy run as nobody keeps its files.
struct NobodysFiles {
    QTemporaryDir dir;
    bool make(const ProgramCopy &copy)
    {
        letOthersIn(copy.dir.path());
        letOthersIn(copy.program());
        letOthersIn(copy.window());
        QFile::setPermissions(copy.pty.slavePath(), QFile::ReadOwner | QFile::WriteOwner
                                                        | QFile::ReadOther | QFile::WriteOther);
        return copy.pty.linkAs(dir.path() + "/", 1)
            && QFile::copy(copy.dir.path() + "/setcom.ini", dir.path() + "/setcom.ini")
            && QProcess::execute("chown", {"-hR", "nobody", dir.path()}) == 0;
    }
};

void startAsNobody(QProcess &p, const QString &program)
{
    p.start("setpriv", {"--reuid=nobody", "--regid=nogroup", "--clear-groups", program});
}

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

// Everything in a folder, as found: kind, mode, owner, inode, when it last
// changed, and the bytes of a file or the target of a link.
QStringList snapshot(const QString &folder)
{
    QStringList paths{folder};
    QDirIterator it(folder, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        paths << it.next();
    QStringList found;
    for (const QString &path : paths) {
        struct stat st{};
        ::lstat(QFile::encodeName(path).constData(), &st);
        // The inode and the time of the last change too: a file rewritten
        // with the same bytes, or one made and removed again, was written.
        QString entry = QStringLiteral("%1 %2 %3 %4 %5.%6 ")
                            .arg(path.mid(folder.size()))
                            .arg(st.st_mode, 0, 8)
                            .arg(st.st_uid)
                            .arg(st.st_ino)
                            .arg(st.st_mtim.tv_sec)
                            .arg(st.st_mtim.tv_nsec);
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
    // Why root's home and the runtime folders are not empty folders of this
    // test's own; empty when they are.
    QString m_mounts;

private slots:
    void initTestCase()
    {
        // Root's lock and files land in an empty home of this test's, and a
        // test may make a user's runtime folder, without touching the machine's.
        m_mounts = privateMounts();
        if (m_mounts.isEmpty()
            && !(coverWithEmptyFolder("/root") && coverWithEmptyFolder("/run/user", false, 0755)))
            m_mounts = "cannot cover /root and /run/user";
    }

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
                 (QStringList{"COM1", "qmlsetup", "qmlsetup-window", "setcom.ini"}));
    }

    // One lock for each user, found from the user id alone: a copy started
    // with a runtime folder named and one without, or with another data
    // folder, see the same one; a user with no folder of its own at all is
    // stopped by its own earlier copy among its running processes.
    void oneCopyPerUser_data()
    {
        QTest::addColumn<QString>("user");
        QTest::addColumn<bool>("runtime"); // /run/user/<uid> made for the user
        QTest::addColumn<QString>("second"); // what the second copy's environment names
        QTest::addColumn<bool>("openFolder"); // the lock folder in the home left open to others
        QTest::newRow("nobody, no folder of its own; the second names a runtime folder")
            << "nobody" << false << "XDG_RUNTIME_DIR" << false;
        QTest::newRow("nobody, its runtime folder; the second names none")
            << "nobody" << true << "" << false;
        QTest::newRow("root, its home; the second names another data folder")
            << "root" << false << "XDG_DATA_HOME" << false;
        QTest::newRow("root, its home, the lock folder left open: closed again")
            << "root" << false << "" << true;
        QTest::newRow("root, its runtime folder; the second names none") << "root" << true << "" << false;
    }
    void oneCopyPerUser()
    {
        QFETCH(QString, user);
        QFETCH(bool, runtime);
        QFETCH(QString, second);
        QFETCH(bool, openFolder);
        const QString lockFolder = "/root/.local/share/qml47210-lock";
        if (openFolder) {
            if (!m_mounts.isEmpty())
                QSKIP(qPrintable(m_mounts));
            QDir(lockFolder).removeRecursively(); // earlier copies' locks
            QVERIFY(QDir().mkpath(lockFolder));
            QVERIFY(QFile::setPermissions(lockFolder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner
                                                          | QFile::ReadOther | QFile::ExeOther));
        }
        const bool asNobody = user == "nobody";
        ProgramCopy copy;
        QVERIFY(copy.make());
        NobodysFiles files;
        if (asNobody) {
            QVERIFY(files.make(copy));
            if (const QString why = asNobodyUnavailable(copy.program()); !why.isEmpty())
                QSKIP(qPrintable(why));
        }
        if (runtime && !m_mounts.isEmpty())
            QSKIP(qPrintable(m_mounts));
        const uid_t uid = asNobody ? ::getpwnam("nobody")->pw_uid : 0;
        const QString runtimeDir = QStringLiteral("/run/user/%1").arg(uid);
        if (runtime) { // as the session manager makes it
            QVERIFY(QDir().mkdir(runtimeDir));
            QVERIFY(QFile::setPermissions(runtimeDir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
            QVERIFY(giveTo(runtimeDir, asNobody ? "nobody" : "root"));
        }
        const auto removeRuntime = qScopeGuard([&] {
            if (runtime)
                QDir(runtimeDir).removeRecursively();
        });
        QTemporaryDir other; // the second copy's own runtime or data folder
        if (asNobody)
            QVERIFY(giveTo(other.path(), "nobody"));

        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove("XDG_RUNTIME_DIR");
        if (asNobody)
            env.insert("QML47210_FILES", files.dir.path());
        QProcessEnvironment firstEnv = env, secondEnv = env;
        if (runtime)
            firstEnv.insert("XDG_RUNTIME_DIR", runtimeDir);
        if (!second.isEmpty())
            secondEnv.insert(second, other.path());
        QProcess first, next;
        first.setProcessEnvironment(firstEnv);
        next.setProcessEnvironment(secondEnv);
        if (asNobody)
            startAsNobody(first, copy.program());
        else
            first.start(copy.program(), {});
        QVERIFY(reachIdle(first, copy.pty.slavePath()));
        const QStringList locks = QDir(runtimeDir).entryList({"qml47210-*.lock"}, QDir::Files);
        if (asNobody)
            startAsNobody(next, copy.program());
        else
            next.start(copy.program(), {});
        const bool ended = next.waitForFinished(5000);
        const bool firstRuns = first.state() == QProcess::Running;
        next.kill();
        next.waitForFinished();
        first.kill();
        first.waitForFinished();
        QVERIFY(ended);
        QCOMPARE(next.exitCode(), 0);
        QVERIFY(firstRuns);
        if (runtime) // the lock lives in the runtime folder
            QCOMPARE(locks.size(), 1);
        if (openFolder) { // and here in the home's lock folder, closed to others again
            QCOMPARE(int(QFileInfo(lockFolder).permissions() & 0x0777), 0x0700); // user, group, others
            QCOMPARE(QDir(lockFolder).entryList({"qml47210-*.lock"}, QDir::Files).size(), 1);
            QDir(lockFolder).removeRecursively();
        }
    }

    // The single-copy lock is per user too: two users on one machine each
    // run their own copy of the same program file, whether the second has a
    // folder for its lock or only its own processes to look at (root sees
    // every user's).
    void anotherUserRunsItsOwnCopy_data()
    {
        QTest::addColumn<QString>("second"); // who starts second: "nobody", "root"
        QTest::addColumn<bool>("runtime");   // nobody has /run/user/<uid>
        QTest::newRow("nobody with no folder of its own, after root") << "nobody" << false;
        QTest::newRow("nobody with its runtime folder, after root") << "nobody" << true;
        QTest::newRow("root with no folder of its own, after nobody") << "root" << false;
    }
    void anotherUserRunsItsOwnCopy()
    {
        QFETCH(QString, second);
        QFETCH(bool, runtime);
        ProgramCopy copy;
        QVERIFY(copy.make());
        letOthersIn(copy.dir.path());
        letOthersIn(copy.program());
        letOthersIn(copy.window());
        if (const QString why = asNobodyUnavailable(copy.program()); !why.isEmpty())
            QSKIP(qPrintable(why));
        if ((runtime || second == "root") && !m_mounts.isEmpty())
            QSKIP(qPrintable(m_mounts));
        const QString runtimeDir = QStringLiteral("/run/user/%1").arg(::getpwnam("nobody")->pw_uid);
        if (runtime) {
            QVERIFY(QDir().mkdir(runtimeDir));
            QVERIFY(QFile::setPermissions(runtimeDir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
            QVERIFY(giveTo(runtimeDir, "nobody"));
        }
        const bool rootHasNoFolder = second == "root";
        if (rootHasNoFolder) // nowhere for root's lock: its processes are looked at
            QVERIFY(coverWithEmptyFolder("/root", true));
        const auto restore = qScopeGuard([&] {
            if (runtime)
                QDir(runtimeDir).removeRecursively();
            if (rootHasNoFolder)
                uncover("/root");
        });
        QProcess mine, theirs;
        bool ended = false;
        if (second == "nobody") {
            QVERIFY(startAndReachIdle(mine, copy));
            startAsNobody(theirs, copy.program());
            QVERIFY(theirs.waitForStarted(5000));
            ended = theirs.waitForFinished(1500); // a second copy of one user ends at once
        } else {
            startAsNobody(theirs, copy.program());
            QVERIFY(theirs.waitForStarted(5000));
            ended = !startAndReachIdle(mine, copy);
        }
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
        NobodysFiles files;
        QVERIFY(files.make(copy));
        if (const QString why = asNobodyUnavailable(copy.program()); !why.isEmpty())
            QSKIP(qPrintable(why));
        const uid_t uid = asNobody ? ::getpwnam("nobody")->pw_uid : 0;
        const QString planted = QDir::tempPath() + QStringLiteral("/qml47210-%1.lock")
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
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove("XDG_RUNTIME_DIR");
        QProcess p;
        if (asNobody) { // its files in a folder of its own: the unit linked there as COM1
            env.insert("QML47210_FILES", files.dir.path());
            p.setProcessEnvironment(env);
            startAsNobody(p, copy.program());
        } else {
            p.setProcessEnvironment(env);
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
    // log leave the program folder byte for byte as installed. Root's files
    // are in root's own folder; where root has none (its home read-only),
    // nothing is written anywhere, and the port choice and the apply are
    // refused saying so.
    void installedProgramFolderStaysAsInstalled_data()
    {
        QTest::addColumn<bool>("ownFolder");
        QTest::newRow("root's own folder") << true;
        QTest::newRow("root's home read-only: nothing written") << false;
    }
    void installedProgramFolderStaysAsInstalled()
    {
        QFETCH(bool, ownFolder);
        if (::geteuid() != 0)
            QSKIP("run by root, who may write the program folder");
        if (!ownFolder && !m_mounts.isEmpty())
            QSKIP(qPrintable(m_mounts));
        QTemporaryDir staging, home;
        const QString build = qEnvironmentVariable("QML_BUILD");
        const QString manifest = build + "/install_manifest.txt";
        const bool hadManifest = QFileInfo::exists(manifest);
        QProcess install;
        install.start("cmake", {"--install", build, "--prefix", staging.path()});
        QVERIFY(install.waitForFinished(60000));
        if (!hadManifest) // cmake --install leaves it in the build folder
            QFile::remove(manifest);
        QVERIFY2(install.exitCode() == 0, install.readAllStandardError().constData());
        const QString programDir = staging.path() + "/lib/qml47210/";
        if (!ownFolder) { // an administrator turned the log on for everyone
            QFile debug(programDir + "debug.ini");
            QVERIFY(debug.open(QIODevice::WriteOnly | QIODevice::Truncate));
            debug.write("DEBUG ON\r\n");
        }
        const QStringList installed = snapshot(programDir);
        QVERIFY(installed.size() > 5);

        const QString own = home.path() + "/qml47210/";
        // Root's own data folder, here and in the programs started below; or
        // none at all, with root's home read-only.
        const auto restore = qScopeGuard([data = qgetenv("XDG_DATA_HOME"), homeDir = qgetenv("HOME"), ownFolder] {
            qputenv("XDG_DATA_HOME", data);
            qputenv("HOME", homeDir);
            if (!ownFolder) {
                uncover("/dev/ttyS0");
                uncover("/root");
                uncover("/run/lock");
            }
        });
        SimPeer one, two;
        // Without a folder of root's there are no COMn links: COM1 is
        // /dev/ttyS0, here the first unit.
        const QString first = ownFolder ? one.slavePath() : QString("/dev/ttyS0");
        if (ownFolder) {
            qputenv("XDG_DATA_HOME", home.path().toLocal8Bit());
            QVERIFY(QDir().mkpath(own));
            QVERIFY(QFile::link(one.slavePath(), own + "COM1"));
            QFile debug(own + "debug.ini");
            QVERIFY(debug.open(QIODevice::WriteOnly));
            debug.write("DEBUG ON\r\n");
        } else {
            qunsetenv("XDG_DATA_HOME");
            qputenv("HOME", "/root");
            QVERIFY(coverWithEmptyFolder("/root", true));
            QVERIFY(coverWith("/dev/ttyS0", one.slavePath()));
            // ttyS0's lock file is this test's alone, whatever else on the machine uses that name.
            QVERIFY(coverWithEmptyFolder("/run/lock", false, 01777));
        }
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove("XDG_RUNTIME_DIR");
        env.insert("QML_TIME_SCALE", "0.01");

        // A start: root's folder is seeded, and the port opened.
        QProcess start;
        start.setProcessEnvironment(env);
        start.start(staging.path() + "/bin/qmlsetup", {});
        const bool started = reachIdle(start, first);
        start.kill();
        start.waitForFinished();

        // A port change in the port dialog, with the folders the program
        // chooses: the second unit, which a link of root's shows in the list,
        // assigned to COM2; or, with no folder of root's, COM1 again.
        if (ownFolder)
            QVERIFY(QFile::link(two.slavePath(), own + "COM3"));
        const QString device = QFileInfo(two.slavePath()).canonicalFilePath();
        app() = AppState{};
        LoadTextFiles(programDir);
        QStringList boxes;
        bool changed = false;
        {
            CommControl comm;
            comm.setLinkDir(WorkFolder());
            frmCom d(comm);
            d.Form_Load();
            d.show();
            if (ownFolder)
                for (QTreeWidgetItem *row : d.lstDevices->findItems(device, Qt::MatchExactly, 0))
                    row->setSelected(true);
            d.cmbCH->setEditText(ownFolder ? "COM2" : "COM1");
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
        apply.start(staging.path() + "/bin/qmlsetup",
                    {"apply", "site.ini", "--port", ownFolder ? one.slavePath() : "COM1"});
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
        QVERIFY(changed);
        const QByteArray applied = apply.readAllStandardOutput() + apply.readAllStandardError();
        if (ownFolder) {
            QCOMPARE(app().AppDir, own);
            QVERIFY2(boxes.isEmpty(), qPrintable(boxes.join('+')));
            QCOMPARE(QFileInfo(own + "COM2").symLinkTarget(), device);
            QFile setcom(own + "setcom.ini");
            QVERIFY(setcom.open(QIODevice::ReadOnly));
            QVERIFY(setcom.readAll().startsWith("\"2\"\r\n"));
            QVERIFY2(apply.exitCode() == 0, applied.constData());
            QCOMPARE(one.unit().reg(12), QString("AB"));
            QCOMPARE(QDir(own + "backups").entryList(QDir::Files).size(), 1);
            // The window's (its port's opening is noted) and the apply's.
            QCOMPARE(QDir(own).entryList({"Log*.log"}, QDir::Files).size(), 2);
        } else {
            QCOMPARE(app().AppDir, programDir);
            QCOMPARE(WorkFolder(), QString());
            const QString nowhere = app().message(FolderMessages::NowhereToMake);
            QVERIFY(!nowhere.isEmpty());
            QCOMPARE(boxes, QStringList{"|" + app().message(9) + "\n" + app().message(40) + "\n" + nowhere});
            QVERIFY2(apply.exitCode() != 0 && applied.contains(nowhere.toUtf8()), applied.constData());
            QVERIFY(one.unit().reg(12) != "AB");
            QCOMPARE(QDir(home.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
                     QStringList{"site.ini"});
        }
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
