// A network set-up against slow simulated units, each unit's run as an
// ordinary user (root opens a port a dead run left exclusive; others cannot):
// cancelled then started at once, started again while under way, a run
// killed after its backup, a port another run holds under another name.
#include "core/AppState.h"
#include "protocol/NetworkSetup.h"
#include "sim/SimControl.h"
#include "sim/SimPeer.h"
#include "support/TestSupport.h"

#include <QElapsedTimer>
#include <QScopeGuard>
#include <QThread>
#include <QTest>
#include <csignal>
#include <memory>

class TestNetworkSetup : public QObject {
    Q_OBJECT
    QTemporaryDir m_files; // the runs' text and work folder
    QString m_program = "setpriv";
    QStringList m_options{"--reuid=nobody", "--regid=nogroup", "--clear-groups", qEnvironmentVariable("QML_APP")};

private slots:
    void initTestCase()
    {
        if (::geteuid() != 0)
            m_program = m_options.takeLast(), m_options.clear();
        else if (const QString why = asNobodyUnavailable(m_options.last()); !why.isEmpty())
            QSKIP(qPrintable(why));
        letOthersIn(m_files.path());
        giveTo(m_files.path(), "nobody");
        qputenv("QML47210_FILES", m_files.path().toLocal8Bit());
        qputenv("QML_TIME_SCALE", "0.01");
        app().WorkDir = m_files.path() + '/';
    }
    void runs_data()
    {
        QTest::addColumn<QString>("act");
        QTest::addColumn<int>("times");
        QTest::addColumn<QString>("first"); // the first run's results; the next verifies every unit
        QTest::newRow("cancelled part way") << "cancel" << 3 << "stopped stopped stopped";
        QTest::newRow("cancelled as the runs begin") << "cancel-early" << 2 << "stopped stopped stopped";
        QTest::newRow("started again while under way") << "start" << 1 << "verified verified verified";
        QTest::newRow("a run killed after its backup") << "kill" << 1 << "failed verified verified";
        QTest::newRow("a port held under another name") << "held" << 1 << "failed verified verified";
        QTest::newRow("dropped under way: its runs stopped at once") << "drop" << 1 << "verified verified verified";
    }
    void runs()
    {
        QFETCH(QString, act);
        QFETCH(int, times);
        QFETCH(QString, first);
        SimPeer units[3];
        QString plan = "[network]\nformat = 1\nband = 2\nchannel = 11\n";
        const QString lock = "/var/lock/LCK.." + units[0].slavePath().mid(5).replace('/', '_');
        for (int i = 0; i < 3; ++i) {
            ApplySimCommand(units[i], "delay 40");
            QFile::setPermissions(units[i].slavePath(), QFile::Permissions(0x6666));
            QFile::remove("/var/lock/LCK.." + units[i].slavePath().mid(5).replace('/', '_')); // an earlier test's
            plan += QStringLiteral("[node u%1]\ntype = %2\nport = %3\n").arg(i).arg(i ? "slave" : "master", units[i].slavePath());
        }
        ConfigFileError error;
        NetworkSetup setup(m_program, m_options), holder(m_program, m_options);
        const auto start = [&](NetworkSetup &s, const QString &text) { s.start(text, "plan.ini", *ParseNetworkPlan(text, &error), {}, false); };
        QStringList got;
        NetworkUnitResult u0; // unit u0 in the first run
        connect(&setup, &NetworkSetup::finished, this, [&] {
            QStringList states;
            for (const NetworkUnitResult &u : setup.report().units)
                states << NetworkUnitResult::stateName(u.state);
            got << states.join(' ');
            u0 = got.size() == 1 ? setup.report().units.first() : u0;
        });
        qint64 killed = 0;
        if (act == "kill") // once it has written its backup; its lock names it
            connect(&units[0], &SimPeer::lineReceived, this, [&](const QByteArray &line) {
                QFile f(lock);
                if (!killed && line.startsWith("@KZ9D") && f.open(QIODevice::ReadOnly) && (killed = f.readLine().trimmed().toLongLong()))
                    ::kill(pid_t(killed), SIGKILL);
            });
        const QString held = m_files.path() + "/held";
        const auto unmount = qScopeGuard([&] { uncover(held); });
        if (act == "held") { // as a container sees the device it was given
            if (const QString why = privateMounts(); !why.isEmpty())
                QSKIP(qPrintable(why));
            QVERIFY(QFile(held).open(QIODevice::WriteOnly) && coverWith(held, units[0].slavePath()));
            start(holder, plan.section("[node u1]", 0, 0).replace(units[0].slavePath(), held));
            QVERIFY(waitUntil([&] { return holder.report().units.first().steps > 0; }, 10000));
        }
        if (act == "drop") { // as when its window closes: each run told to stop at once, not left to go on
            QThread serving; // a unit that answers while the setup waits for its runs to end
            QObject there;
            there.moveToThread(&serving);
            serving.start();
            std::unique_ptr<SimPeer> far;
            const auto inThread = [&](auto f) { QMetaObject::invokeMethod(&there, f, Qt::BlockingQueuedConnection); };
            inThread([&] { far = std::make_unique<SimPeer>(); ApplySimCommand(*far, "delay 40"); });
            QFile::setPermissions(far->slavePath(), QFile::Permissions(0x6666));
            auto dropped = std::make_unique<NetworkSetup>(m_program, m_options);
            start(*dropped, QString(plan).replace(units[0].slavePath(), far->slavePath()));
            QList<QByteArray> sent;
            QVERIFY(waitUntil([&] { inThread([&] { sent = far->receivedLines(); }); return sent.join().contains("@KZ9F05"); }, 10000));
            dropped.reset();
            inThread([&] { sent = far->receivedLines(); far.reset(); });
            serving.quit();
            serving.wait();
            QVERIFY2(!sent.join(' ').contains("@KZ9D"), sent.join(' ').constData()); // stopped in its backup, nothing written
        }
        for (int time = 0; time < times; ++time) {
            got.clear();
            start(setup, plan);
            QVERIFY(act != "cancel" || waitUntil([&] { return setup.report().units.first().steps > 0; }, 10000));
            if (act.startsWith("cancel"))
                setup.cancel();
            if (act.startsWith("cancel") || act == "start")
                start(setup, plan);
            QVERIFY(setup.running());
            QVERIFY(waitUntil([&] { return !setup.running() && !holder.running(); }, 15000, 20));
            if (got.size() == 1 && !QFile::exists(lock)) // nor a killed run's lock left
                start(setup, plan);
            QVERIFY(waitUntil([&] { return !setup.running(); }, 15000, 20));
            QCOMPARE(got, QStringList({first, "verified verified verified"}));
        }
        QCOMPARE(u0.role, QString("master"));
        QVERIFY2(act != "held" || u0.message.contains(": qmlsetup (pid "), qPrintable(u0.message));
        if (act == "kill") { // the backup it made, found by its process id and port
            QVERIFY2(u0.backup.contains(QStringLiteral("-%1-").arg(killed)) && QFile::exists(u0.backup), qPrintable(u0.backup));
            QCOMPARE(u0.backups, QStringList{u0.backup});
        }
    }
};

QTEST_GUILESS_MAIN(TestNetworkSetup)
#include "tst_networksetup.moc"
