// The program as an operator starts it: a copy of the built program file in
// a folder of its own, run as a separate process.

#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
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

bool startAndStay(QProcess &p, const QString &program, int stayMs = 1500)
{
    p.start(program, {});
    if (!p.waitForStarted(5000))
        return false;
    return !p.waitForFinished(stayMs);
}

// CPU time (user + system) of a process, in clock ticks.
qint64 cpuTicks(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray s = stat.readAll();
    const QList<QByteArray> f = s.mid(s.lastIndexOf(')') + 2).split(' ');
    return f.value(11).toLongLong() + f.value(12).toLongLong();
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
        QVERIFY(startAndStay(first, copy.program()));
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

    void copiesInOtherFoldersRunSideBySide()
    {
        ProgramCopy a, b;
        QVERIFY(a.make());
        QVERIFY(b.make());
        QProcess pa, pb;
        QVERIFY(startAndStay(pa, a.program()));
        QVERIFY(startAndStay(pb, b.program()));
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
        QVERIFY(startAndStay(first, copy.program()));
        ::kill(pid_t(first.processId()), SIGKILL);
        first.waitForFinished();
        QProcess next;
        QVERIFY(startAndStay(next, copy.program()));
        next.kill();
        next.waitForFinished();
    }

    // The idle loop blocks between events: an idle program uses well under 1%.
    void idleUsesNoCore()
    {
        ProgramCopy copy;
        QVERIFY(copy.make());
        QProcess p;
        QVERIFY(startAndStay(p, copy.program(), 1000));
        const qint64 before = cpuTicks(p.processId());
        QTest::qSleep(3000);
        const qint64 after = cpuTicks(p.processId());
        p.kill();
        p.waitForFinished();
        QVERIFY(before >= 0 && after >= 0);
        const double share = double(after - before) / sysconf(_SC_CLK_TCK) / 3.0;
        QVERIFY2(share < 0.01, qPrintable(QString("idle share of a core: %1").arg(share)));
    }
};

QTEST_GUILESS_MAIN(TestStartUp)
#include "tst_startup.moc"
