// The program as an operator starts it: a copy of the built program file in
// a folder of its own, run as a separate process.

#include "support/TestSupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTest>

#include <csignal>
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

// Starts the program and waits until it has opened its port, which it does
// as its window loads, right before the idle loop: true when it got there
// and still runs.
bool startAndReachIdle(QProcess &p, const ProgramCopy &copy)
{
    p.start(copy.program(), {});
    if (!p.waitForStarted(5000))
        return false;
    const QString port = QFileInfo(copy.pty.slavePath()).canonicalFilePath();
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

QTEST_GUILESS_MAIN(TestStartUp)
#include "tst_startup.moc"
