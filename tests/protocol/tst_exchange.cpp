// Register commands, the FRH preset and the wired path end to end: the real
// driver on a pseudo-terminal, the simulated unit (or a scripted peer) on the
// other side, time shortened a hundredfold.

#include "config/modFile.h"
#include "protocol/ManualCommand.h"
#include "core/AppState.h"
#include "protocol/UnitTransfer.h"
#include "protocol/modModem.h"
#include "protocol/modWired.h"
#include "serial/CommControl.h"
#include "serial/DoEvents.h"
#include "serial/Exchange.h"
#include "serial/LineClear.h"
#include "serial/mod232C.h"
#include "serial/ReplyTimer.h"
#include "sim/SimControl.h"
#include "sim/SimPeer.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QTest>

#include <sys/resource.h>

namespace {
constexpr double Scale = 0.01; // 7000 ms become 70 ms

struct Rig {
    FreshState st;
    CommControl comm;
    ReplyTimer timer;
    explicit Rig(const QString &slavePath)
    {
        QFile::link(slavePath, st.dir() + "COM1");
        comm.setLinkDir(st.dir());
        comm.setCommPort(1);
        comm.setPortOpen(true);
    }
};

// Times at which the peer received each line, in ms from `clock`'s start.
struct Arrivals {
    QList<qint64> at;
    QElapsedTimer clock;
    void attach(SimPeer &peer)
    {
        clock.start();
        QObject::connect(&peer, &SimPeer::lineReceived, [this](const QByteArray &) {
            at << clock.elapsed();
        });
    }
};
} // namespace

class TestExchange : public QObject {
    Q_OBJECT
private slots:
    void init() { TimeScale::set(Scale); }
    void cleanup() { TimeScale::set(1.0); }

    void readRegister()
    {
        SimPeer peer;
        peer.unit().setReg(5, "3A");
        Rig rig(peer.slavePath());
        QString value = "--";
        QVERIFY(ReadRegister(rig.comm, rig.timer, 5, value));
        QCOMPARE(value, QString("3A"));
        QCOMPARE(peer.received(), QByteArray("@REG05\r\n"));
        QVERIFY(!app().AwaitingAck);
    }

    void writeRegister()
    {
        SimPeer peer;
        Rig rig(peer.slavePath());
        QVERIFY(WriteRegister(rig.comm, rig.timer, 5, "3A"));
        QCOMPARE(peer.received(), QByteArray("@REG05:3AH\r\n"));
        QCOMPARE(peer.unit().reg(5), QString("3A"));
    }

    void refusalEndsWithoutResend_data()
    {
        QTest::addColumn<bool>("read");
        QTest::newRow("read") << true;
        QTest::newRow("write") << false;
    }
    void refusalEndsWithoutResend()
    {
        QFETCH(bool, read);
        ScriptedPeer peer([](const QByteArray &) { return QByteArray("N2\r\n"); });
        Rig rig(peer.slavePath());
        QString value = "--";
        const bool ok = read ? ReadRegister(rig.comm, rig.timer, 5, value)
                             : WriteRegister(rig.comm, rig.timer, 5, "3A");
        QVERIFY(!ok);
        QCOMPARE(value, QString("--"));
        QTest::qWait(300); // a resend would come 70 ms later
        QCOMPARE(peer.lines.size(), 1);
    }

    // No answer: three sends, each with its own 7000 ms window.
    void silentUnit_data()
    {
        QTest::addColumn<bool>("read");
        QTest::newRow("read") << true;
        QTest::newRow("write") << false;
    }
    void silentUnit()
    {
        QFETCH(bool, read);
        SimPeer peer;
        peer.silent = true;
        Rig rig(peer.slavePath());
        Arrivals arrivals;
        arrivals.attach(peer);
        QString value = "--";
        const bool ok = read ? ReadRegister(rig.comm, rig.timer, 5, value)
                             : WriteRegister(rig.comm, rig.timer, 5, "3A");
        const qint64 total = arrivals.clock.elapsed();
        QVERIFY(!ok);
        QCOMPARE(value, QString("--"));
        QTest::qWait(150);
        const QByteArray one = read ? "@REG05" : "@REG05:3AH";
        QCOMPARE(peer.receivedLines(), (QList<QByteArray>{one, one, one}));
        QCOMPARE(arrivals.at.size(), 3);
        for (int i = 1; i < 3; ++i) {
            const qint64 gap = arrivals.at[i] - arrivals.at[i - 1];
            QVERIFY2(gap >= 65 && gap < 200, qPrintable(QString::number(gap)));
        }
        QVERIFY2(total >= 205 && total < 500, qPrintable(QString::number(total)));
    }

    // A run that gives up with answers still due leaves a mark for its
    // device; the next run waits out the rest of the quiet spell and drops
    // them, so register 04's late "12H" never becomes register 05's value.
    void lateAnswersAcrossRuns_data()
    {
        QTest::addColumn<bool>("due");
        QTest::newRow("answers due: the next run waits them out") << true;
        QTest::newRow("none due: the next run starts at once") << false;
    }
    void lateAnswersAcrossRuns()
    {
        QFETCH(bool, due);
        SimPeer peer;
        peer.schedule().setDelay(due ? 250 : 0, due ? 250 : 0); // past all three 70 ms windows
        const QString device = peer.slavePath();
        QFile::remove(LineMarkPath(device));
        {
            Rig first(device);
            QString value;
            QCOMPARE(ReadRegister(first.comm, first.timer, 4, value), !due);
            LeaveLineMark(first.comm, device);
        }
        QCOMPARE(QFileInfo::exists(LineMarkPath(device)), due);
        Rig second(device);
        QElapsedTimer clock;
        clock.start();
        WaitOutLineMark(second.comm, device);
        const qint64 waited = clock.elapsed();
        peer.schedule().setDelay(0, 0);
        QString value;
        QVERIFY(ReadRegister(second.comm, second.timer, 5, value));
        QCOMPARE(value, QString("34"));
        QVERIFY(!QFileInfo::exists(LineMarkPath(device)));
        QVERIFY2(due ? waited >= 200 : waited < 20, qPrintable(QString::number(waited)));
    }

    // The first send unanswered, the resend answered: the read is confirmed
    // once the line is quiet, and a write refused then may have been taken.
    void answersInDoubt_data()
    {
        QTest::addColumn<bool>("read");
        QTest::addColumn<QByteArray>("second"); // the confirming read's answer
        QTest::newRow("read, the second read agrees") << true << QByteArray("P0\r\n11H\r\n");
        QTest::newRow("read, two reads disagree") << true << QByteArray("P0\r\n22H\r\n");
        QTest::newRow("write refused after its resend") << false << QByteArray();
        QTest::newRow("write never answered: no refusal, no doubt") << false << QByteArray("silent");
    }
    void answersInDoubt()
    {
        QFETCH(bool, read);
        QFETCH(QByteArray, second);
        int sends = 0;
        const bool silent = second == "silent";
        ScriptedPeer peer([&](const QByteArray &) -> QByteArray {
            switch (silent ? 1 : ++sends) {
            case 1: return {};
            case 2: return read ? "P0\r\n11H\r\n" : "N4\r\n";
            default: return second;
            }
        });
        Rig rig(peer.slavePath());
        QString value = "--";
        bool refused = true, inDoubt = false;
        const bool ok = read ? ReadRegister(rig.comm, rig.timer, 5, value, &refused, &inDoubt)
                             : WriteRegister(rig.comm, rig.timer, 5, "3A", &refused, &inDoubt);
        const bool agree = second.contains("11H");
        QCOMPARE(ok, agree);
        QCOMPARE(value, QString(agree ? "11" : "--"));
        QCOMPARE(inDoubt, !agree && !silent);
        QVERIFY(!refused);
        QCOMPARE(peer.lines.size(), read || silent ? 3 : 2);
    }

    // An answer due and a unit that talks unasked: the line never falls
    // quiet, and nothing goes out, whichever way the command comes.
    void lineNeverQuietSendsNothing_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("a register read") << "register";
        QTest::newRow("a record read") << "wired";
        QTest::newRow("a command typed by hand") << "hand";
    }
    void lineNeverQuietSendsNothing()
    {
        QFETCH(QString, how);
        SimPeer peer;
        Rig rig(peer.slavePath());
        QTimer chatter; // far more often than the 105 ms of quiet asked for
        QObject::connect(&chatter, &QTimer::timeout, &peer, [&] { peer.sendRaw("RX1234567\r\n"); });
        chatter.start(20);
        rig.comm.noteAnswerDue();
        QElapsedTimer clock;
        clock.start();
        QString value;
        UnitRecord record;
        if (how == "register")
            QVERIFY(ReadOneRegister(rig.comm, rig.timer, TransferPath::Registers, 5, value) != 0);
        else if (how == "wired")
            QVERIFY(ReadRecord(rig.comm, rig.timer, record) != 0);
        else
            QVERIFY(SendManualCommand(rig.comm, rig.timer, "@KZ9V") != ManualResult::Answered);
        QVERIFY2(clock.elapsed() >= 400, qPrintable(QString::number(clock.elapsed()))); // given up at 420 ms
        QVERIFY(rig.comm.answerDue());
        QCOMPARE(peer.received(), QByteArray());
    }

    void writeAnsweredOnlyByP1()
    {
        ScriptedPeer peer([](const QByteArray &) { return QByteArray("P1\r\n"); });
        Rig rig(peer.slavePath());
        QVERIFY(!WriteRegister(rig.comm, rig.timer, 5, "3A"));
        QCOMPARE(peer.lines.size(), 3);
    }

    void readSkipsOtherLinesForTheValue()
    {
        ScriptedPeer peer([](const QByteArray &) { return QByteArray("P0\r\nRX12345\r\nP1\r\n7FH\r\n"); });
        Rig rig(peer.slavePath());
        QString value;
        QVERIFY(ReadRegister(rig.comm, rig.timer, 12, value));
        QCOMPARE(value, QString("7F"));
    }

    void resetIsSentOnce()
    {
        SimPeer peer;
        peer.silent = true;
        Rig rig(peer.slavePath());
        QElapsedTimer t;
        t.start();
        ResetUnit(rig.comm, rig.timer);
        QVERIFY(t.elapsed() >= 65 && t.elapsed() < 200);
        QTest::qWait(150);
        QCOMPARE(peer.receivedLines(), (QList<QByteArray>{"@RST"}));
    }

    // The preset: what the unit held kept in a backup first, the preset
    // written, read back and compared, then the reset. Nothing is written
    // when the backup cannot be made or a value cannot go out as one line.
    void presetTransfer_data()
    {
        QTest::addColumn<QByteArray>("file"); // FRH10.ini; "-": none
        QTest::addColumn<QString>("unit");    // how the scripted unit behaves
        QTest::addColumn<int>("outcome");
        QTest::addColumn<int>("refusal");
        QByteArray full = "5\r\n1a\r\n123\r\n\r\n";
        for (int n = 4; n < 28; ++n)
            full += QByteArray::number(n + 10) + "\r\n";
        const int ns = ApplyResult::NotStarted;
        QTest::newRow("backed up, written, read back, reset") << full << "" << int(ApplyResult::Verified) << 0;
        QTest::newRow("a value that does not stick") << full << "stuck 5" << int(ApplyResult::Differ) << 0;
        QTest::newRow("refused at register 12") << full << "refuse 12" << int(ApplyResult::Stopped) << 0;
        QTest::newRow("no answer to the backup's reads") << full << "silent" << ns << 0;
        QTest::newRow("backup cannot be written") << full << "no backup" << ns
                                                  << int(ConfigMessages::BackupFailed);
        QTest::newRow("no FRH10.ini") << QByteArray("-") << "" << ns << PresetIncompleteMessage;
        QTest::newRow("27 values") << QByteArray("01\r\n").repeated(27) << "" << ns << PresetIncompleteMessage;
        QTest::newRow("a CR in a value") << "\"\r@\"\r\n" + QByteArray("01\r\n").repeated(27) << "" << ns
                                         << PresetIncompleteMessage;
        QTest::newRow("a letter past F") << "1G\r\n" + QByteArray("01\r\n").repeated(27) << "" << ns
                                         << PresetIncompleteMessage;
    }
    void presetTransfer()
    {
        QFETCH(QByteArray, file);
        QFETCH(QString, unit);
        QFETCH(int, outcome);
        QFETCH(int, refusal);
        const int special = unit.section(' ', 1).toInt();
        QMap<int, QByteArray> regs; // what the unit holds
        for (int n = 0; n < 28; ++n)
            regs[n] = QByteArray::number(0xA0 + n, 16).toUpper();
        const QMap<int, QByteArray> before = regs;
        ScriptedPeer peer([&](const QByteArray &line) -> QByteArray {
            if (unit == "silent")
                return {};
            if (line == "@RST")
                return "P0\r\n";
            const int n = line.mid(4, 2).toInt();
            if (line.size() == 6)
                return "P0\r\n" + regs[n] + "H\r\n";
            if (unit == "refuse " + QString::number(n))
                return "N4\r\n";
            if (unit != "stuck " + QString::number(n))
                regs[n] = line.mid(7, 2);
            return "P0\r\n";
        });
        Rig rig(peer.slavePath());
        if (file != "-")
            rig.st.write("FRH10.ini", file);
        ReadFrhIni();
        const QString backups = rig.st.path("backups");
        if (unit == "no backup")
            rig.st.write("backups", "a file where the folder would be");
        const ApplyResult result = ApplyFrhPresetVerified(rig.comm, rig.timer, backups, "COM1");
        QTest::qWait(20);
        QCOMPARE(int(result.outcome), outcome);
        QCOMPARE(result.refusal, refusal);
        const QList<QByteArray> &lines = peer.lines;
        if (refusal == PresetIncompleteMessage) {
            QVERIFY(lines.isEmpty());
            return;
        }
        const auto writes = std::count_if(lines.begin(), lines.end(),
                                          [](const QByteArray &l) { return l.contains(':'); });
        if (outcome == ApplyResult::NotStarted) {
            QCOMPARE(int(writes), 0);
            QVERIFY(!result.allWritten);
            QCOMPARE(regs, before);
            QCOMPARE(lines.size(), unit == "silent" ? 3 : 28); // the first read three times
            QVERIFY(!QFileInfo(backups).isDir() || QDir(backups).isEmpty());
            return;
        }
        // The backup holds what the unit held before, and reads back.
        ConfigFileError error;
        const auto backup = ReadConfigFile(result.backupPath, &error);
        QVERIFY2(backup, qPrintable(error.describe()));
        for (int n = 0; n < 28; ++n)
            QCOMPARE(backup->registers[size_t(n)].value_or("-"), QString(before[n]));
        for (int n = 0; n < 28; ++n)
            QCOMPARE(lines[n], ReadRegisterCommand(n).toLatin1());
        if (outcome == ApplyResult::Stopped) {
            QCOMPARE(int(writes), 13);
            QCOMPARE(result.written.size(), 12);
            QCOMPARE(result.written.last(), RegisterName(11));
            QVERIFY(!lines.contains("@RST"));
            return;
        }
        QVERIFY(result.allWritten);
        QCOMPARE(lines[28], QByteArray("@REG00:05H"));
        QCOMPARE(lines[29], QByteArray("@REG01:1aH")); // sent as the file has it
        QCOMPARE(lines[30], QByteArray("@REG02:23H"));
        QCOMPARE(lines[31], QByteArray("@REG03:00H"));
        QCOMPARE(lines[55], QByteArray("@REG27:37H"));
        for (int n = 0; n < 28; ++n) // read back before the reset
            QCOMPARE(lines[56 + n], ReadRegisterCommand(n).toLatin1());
        QCOMPARE(lines.size(), 85);
        QCOMPARE(lines.last(), QByteArray("@RST"));
        if (outcome == ApplyResult::Verified) {
            QVERIFY(result.differences.isEmpty()); // "1a" read back as "1a" matches
            QCOMPARE(result.describePreset().section('\n', 0, 0), app().message(ConfigMessages::PresetVerified));
        } else {
            QCOMPARE(result.differences.size(), 1);
            QCOMPARE(result.differences[0].what, RegisterName(5));
            QCOMPARE(result.differences[0].meant, QString("15"));
            QCOMPARE(result.differences[0].holds, QString(before[5]));
        }
        // The backup puts back what the unit held.
        QCOMPARE(ApplyUnitConfig(rig.comm, rig.timer, TransferPath::Registers, *backup, QString(), "COM1")
                     .outcome,
                 ApplyResult::Verified);
        QCOMPARE(regs, before);
    }

    // The line lost while the preset is read back: every write went, the
    // reset did not, and the result says both.
    void presetLineLostBeforeReset()
    {
        SimPeer peer;
        Rig rig(peer.slavePath());
        for (int n = 0; n < 28; ++n)
            app().FrhTable[n] = "01";
        app().MessageTable[ConfigMessages::NotReset] = "not reset";
        const ApplyResult result = ApplyFrhPresetVerified(
            rig.comm, rig.timer, rig.st.path("backups"), "COM1", [&](int stage, int n, int) {
                if (stage == ConfigMessages::Verifying && n == 60)
                    peer.dropLine();
                return true;
            });
        QCOMPARE(int(result.outcome), int(ApplyResult::Stopped));
        QVERIFY(result.allWritten);
        QVERIFY(!result.resetSent);
        QVERIFY(!peer.receivedLines().contains("@RST"));
        QCOMPARE(result.describePreset().split('\n').value(1), QString("not reset")); // right under the headline
    }

    // A wait belongs to the connection it began on: with its port closed or
    // replaced by another device it ends at once, and nothing more goes out
    // on its behalf; the other device never hears from it.
    void waitEndsWithItsConnection_data()
    {
        QTest::addColumn<bool>("registerRead"); // else a wired wait
        QTest::addColumn<bool>("replaced");     // else closed
        QTest::newRow("register read, port closed") << true << false;
        QTest::newRow("register read, port replaced") << true << true;
        QTest::newRow("wired wait, port closed") << false << false;
        QTest::newRow("wired wait, port replaced") << false << true;
    }
    void waitEndsWithItsConnection()
    {
        QFETCH(bool, registerRead);
        QFETCH(bool, replaced);
        TimeScale::set(0.1); // windows of 700 ms: room for a loaded machine
        SimPeer first, second;
        first.silent = true;
        Rig rig(first.slavePath());
        const Exchange exchange(rig.comm);
        QTimer::singleShot(50, [&] {
            rig.comm.setPortOpen(false);
            if (!replaced)
                return;
            QFile::remove(rig.st.path("COM1"));
            QFile::link(second.slavePath(), rig.st.path("COM1"));
            rig.comm.setPortOpen(true);
        });
        QElapsedTimer t;
        t.start();
        bool answered;
        if (registerRead) {
            QString value;
            answered = ReadRegister(rig.comm, rig.timer, 5, value);
        } else {
            SendWiredCommand(rig.comm, rig.timer, "V");
            QString letter;
            answered = WaitWiredReply(rig.comm, rig.timer, 7000, letter);
        }
        QVERIFY(!answered);
        QVERIFY2(t.elapsed() < 500, qPrintable(QString::number(t.elapsed())));
        QCOMPARE(first.receivedLines().size(), 1); // never sent again
        QCOMPARE(exchange.failureMessage(24), int(PortLostMessage));
        SendLine(rig.comm, rig.timer, "@RST"); // whatever it would still send
        QTest::qWait(200);
        QCOMPARE(second.received(), QByteArray());
    }

    void wiredFraming()
    {
        SimPeer peer;
        Rig rig(peer.slavePath());
        QVERIFY(SendWiredCommand(rig.comm, rig.timer, "F05"));
        QVERIFY(app().AwaitingAck);
        QString letter;
        QVERIFY(WaitWiredReply(rig.comm, rig.timer, 7000, letter));
        QCOMPARE(peer.received(), QByteArray("@KZ9F05\r\n"));
        QCOMPARE(letter, QString("F"));
        QCOMPARE(app().ReplyRegNo, QString("05"));
        QVERIFY(app().AwaitingAck); // nothing on the wired path clears it
    }

    void noiseFirstEndsWaitWithFalse()
    {
        SimPeer peer;
        ApplySimCommand(peer, "noise RX?");
        Rig rig(peer.slavePath());
        SendWiredCommand(rig.comm, rig.timer, "V");
        QString letter = "unchanged";
        QVERIFY(!WaitWiredReply(rig.comm, rig.timer, 7000, letter));
        QCOMPARE(letter, QString()); // "RX?" has no fifth character
        QCOMPARE(app().ReplyVersion, QString("00"));
    }

    void wiredSilenceEndsAtItsInterval()
    {
        SimPeer peer;
        peer.silent = true;
        Rig rig(peer.slavePath());
        SendWiredCommand(rig.comm, rig.timer, "R");
        QElapsedTimer t;
        t.start();
        QString letter;
        QVERIFY(!WaitWiredReply(rig.comm, rig.timer, 7000, letter));
        QVERIFY2(t.elapsed() >= 65 && t.elapsed() < 200, qPrintable(QString::number(t.elapsed())));
        QTest::qWait(100);
        QCOMPARE(peer.receivedLines().size(), 1); // never repeated
    }

    // A 500 ms poll re-arms the shared reply timer all the time; each wait
    // still ends by its own limit.
    void honestTimeOutsWhilePolling_data()
    {
        QTest::addColumn<int>("which"); // 0 wired 7000, 1 wired 20000, 2 register read
        QTest::addColumn<int>("limitMs");
        QTest::newRow("wired wait of 7000 ms") << 0 << 7000;
        QTest::newRow("watch of 20000 ms") << 1 << 20000;
        QTest::newRow("register read, three windows") << 2 << 21000;
    }
    void honestTimeOutsWhilePolling()
    {
        QFETCH(int, which);
        QFETCH(int, limitMs);
        SimPeer peer;
        peer.silent = true;
        Rig rig(peer.slavePath());
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout,
                         [&] { SendWiredCommand(rig.comm, rig.timer, "#"); });
        poll.start(TimeScale::scaled(500));
        QElapsedTimer t;
        t.start();
        QString out;
        bool ok = true;
        if (which == 2)
            ok = ReadRegister(rig.comm, rig.timer, 5, out);
        else
            ok = WaitWiredReply(rig.comm, rig.timer, qint16(which == 0 ? 7000 : 20000), out);
        const qint64 took = t.elapsed();
        poll.stop();
        QVERIFY(!ok);
        const qint64 limit = qint64(limitMs * Scale);
        QVERIFY2(took >= limit - 5 && took < limit + 150, qPrintable(QString::number(took)));
        QVERIFY(peer.receivedLines().count("@KZ9#") >= 5); // the poll did keep sending
    }

    // Waits nest: the innermost takes the next line; the outer goes on after
    // it, until its own limit.
    void nestedWaits()
    {
        SimPeer peer;
        Rig rig(peer.slavePath());
        QString inner, outer;
        bool innerOk = false;
        qint64 innerDoneAt = -1;
        QElapsedTimer t;
        QTimer::singleShot(20, &rig.comm, [&] {
            SendWiredCommand(rig.comm, rig.timer, "V");
            innerOk = WaitWiredReply(rig.comm, rig.timer, 7000, inner);
            innerDoneAt = t.elapsed();
        });
        t.start();
        const bool outerOk = WaitWiredReply(rig.comm, rig.timer, 20000, outer);
        const qint64 took = t.elapsed();
        QVERIFY(innerOk);
        QCOMPARE(inner, QString("V"));
        QVERIFY(innerDoneAt > 0 && innerDoneAt < 150);
        QVERIFY(!outerOk);
        QVERIFY2(took >= 195 && took < 350, qPrintable(QString::number(took)));
    }

    // Waiting blocks in the event loop instead of spinning.
    void waitingDoesNotSpin()
    {
        TimeScale::set(1.0);
        SimPeer peer;
        peer.silent = true;
        Rig rig(peer.slavePath());
        rusage before{}, after{};
        getrusage(RUSAGE_SELF, &before);
        QString letter;
        QVERIFY(!WaitWiredReply(rig.comm, rig.timer, 1000, letter));
        getrusage(RUSAGE_SELF, &after);
        auto ms = [](const rusage &r) {
            return (r.ru_utime.tv_sec + r.ru_stime.tv_sec) * 1000
                + (r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1000;
        };
        QVERIFY2(ms(after) - ms(before) < 50, qPrintable(QString::number(ms(after) - ms(before))));
    }

    void exitConfirmedEndsWaits()
    {
        SimPeer peer;
        peer.silent = true;
        Rig rig(peer.slavePath());
        QTimer::singleShot(20, &rig.comm, [] { app().ExitConfirmed = true; });
        QElapsedTimer t;
        t.start();
        QString v;
        QVERIFY(!ReadRegister(rig.comm, rig.timer, 5, v));
        QVERIFY(t.elapsed() < 60);
        QVERIFY(!WaitWiredReply(rig.comm, rig.timer, 20000, v));
    }
};

QTEST_GUILESS_MAIN(TestExchange)
#include "tst_exchange.moc"
