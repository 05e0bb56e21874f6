// The simulated unit is the reference peer of the whole suite: a fault here
// would hide faults everywhere, so it is held to the unit's side of the line.

#include "serial/CommControl.h"
#include "sim/SimControl.h"
#include "sim/SimPeer.h"
#include "sim/SimUnit.h"
#include "support/TestSupport.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QRandomGenerator>
#include <QTest>

namespace {
QByteArray answers(SimUnit &unit, const QByteArray &line)
{
    QByteArray out;
    for (const QByteArray &l : unit.feed(line + "\r\n"))
        out += l;
    return out;
}

// The program's side of the line: the serial control on the peer's slave.
struct Line {
    QTemporaryDir dir;
    CommControl comm;
    bool open(const SimPeer &peer)
    {
        QFile::link(peer.slavePath(), dir.path() + "/COM1");
        comm.setLinkDir(dir.path() + "/");
        return comm.setCommPort(1) && comm.setPortOpen(true);
    }
    // Sends a line and collects what comes back: `expected` bytes, or, when
    // nothing is expected, all that comes within `ms`.
    QByteArray ask(const QByteArray &line, qsizetype expected, int ms = 2000)
    {
        comm.setOutput(line + "\r\n");
        return collect(expected > 0 ? ms : qMin(ms, 100), expected);
    }
    // What arrives until `bytes` are in (0: until `ms` have passed); the
    // wait blocks in the event loop between arrivals.
    QByteArray collect(int ms, qsizetype bytes = 0)
    {
        QByteArray got;
        waitUntil(
            [&] {
                comm.setInputLen(0);
                got += comm.Input();
                return bytes > 0 && got.size() >= bytes;
            },
            ms);
        return got;
    }
    // Everything until the line has been quiet for `quietMs`.
    QByteArray drain(int quietMs)
    {
        QByteArray all;
        for (QByteArray got; !(got = collect(quietMs, 1)).isEmpty();)
            all += got;
        return all;
    }
};
} // namespace

class TestSimUnit : public QObject {
    Q_OBJECT
    QTemporaryDir m_units;
private slots:
    void commands_data()
    {
        QTest::addColumn<QByteArray>("command");
        QTest::addColumn<QByteArray>("reply");
        QTest::newRow("read register 5") << QByteArray("@REG05") << QByteArray("P0\r\n34H\r\n");
        QTest::newRow("write register 3") << QByteArray("@REG03:07H") << QByteArray("P0\r\n");
        QTest::newRow("register 28 refused") << QByteArray("@REG28") << QByteArray("N2\r\n");
        QTest::newRow("one digit refused") << QByteArray("@REG5") << QByteArray("N1\r\n");
        QTest::newRow("write without H refused") << QByteArray("@REG03:07") << QByteArray("N3\r\n");
        QTest::newRow("write of junk value refused") << QByteArray("@REG03:ZZH")
                                                     << QByteArray("N3\r\n");
        QTest::newRow("reset") << QByteArray("@RST") << QByteArray("P0\r\n");
        QTest::newRow("unknown line") << QByteArray("hello") << QByteArray("N0\r\n");
        QTest::newRow("link poll") << QByteArray("@KZ9#") << QByteArray("KZ90$\r\n");
        QTest::newRow("settings") << QByteArray("@KZ9R") << QByteArray("KZ90R1050021000\r\n");
        QTest::newRow("version") << QByteArray("@KZ9V") << QByteArray("KZ90VQML47210 R1.20\r\n");
        QTest::newRow("wired read of register 5") << QByteArray("@KZ9F05")
                                                  << QByteArray("KZ90F0534\r\n");
        QTest::newRow("wired read of register 28") << QByteArray("@KZ9F28")
                                                   << QByteArray("KZ90N\r\n");
        QTest::newRow("wired write") << QByteArray("@KZ9S053A") << QByteArray("KZ90A\r\n");
        QTest::newRow("wired write, bad value") << QByteArray("@KZ9S05G1")
                                                << QByteArray("KZ90N\r\n");
        QTest::newRow("record written") << QByteArray("@KZ9D10C1121101") << QByteArray("KZ90A\r\n");
        QTest::newRow("record with blanks refused") << QByteArray("@KZ9D  020C1121101")
                                                    << QByteArray("KZ90N\r\n");
        QTest::newRow("record with band 2.5 refused") << QByteArray("@KZ9D2.50C1121101")
                                                      << QByteArray("KZ90N\r\n");
        QTest::newRow("record, channel 24 refused") << QByteArray("@KZ9D1181121101")
                                                    << QByteArray("KZ90N\r\n");
        QTest::newRow("record, parity 3 refused") << QByteArray("@KZ9D10C1123101")
                                                  << QByteArray("KZ90N\r\n");
        QTest::newRow("unknown wired command") << QByteArray("@KZ9Q") << QByteArray("KZ90N\r\n");
    }
    void commands()
    {
        QFETCH(QByteArray, command);
        QFETCH(QByteArray, reply);
        SimUnit unit;
        QCOMPARE(answers(unit, command), reply);
    }

    void versionIsFourteenCharacters()
    {
        QCOMPARE(int(strlen(SimUnit::Version)), 14);
    }

    void recordAndRegistersAgree()
    {
        SimUnit unit;
        QCOMPARE(answers(unit, "@KZ9D4171121101"), QByteArray("KZ90A\r\n"));
        QCOMPARE(answers(unit, "@REG27"), QByteArray("P0\r\n06H\r\n")); // band 4
        QCOMPARE(answers(unit, "@REG06"), QByteArray("P0\r\nF7H\r\n")); // channel 23
        QCOMPARE(answers(unit, "@REG27:03H"), QByteArray("P0\r\n"));     // band 1
        QCOMPARE(answers(unit, "@REG06:E5H"), QByteArray("P0\r\n"));     // channel 5
        QCOMPARE(answers(unit, "@KZ9R"), QByteArray("KZ90R1051121101\r\n"));
        QCOMPARE(answers(unit, "@KZ9S2705"), QByteArray("KZ90A\r\n"));   // band 3
        QCOMPARE(answers(unit, "@KZ9R").mid(5, 1), QByteArray("3"));
    }

    void stateRoundTrip()
    {
        SimUnit a;
        answers(a, "@KZ9D2131110210");
        answers(a, "@REG12:ABH");
        SimUnit b;
        QVERIFY(b.fromText(a.toText()));
        QCOMPARE(b.toText(), a.toText());
        QCOMPARE(answers(b, "@REG12"), QByteArray("P0\r\nABH\r\n"));
        QVERIFY(!b.fromText("junk\n\x01\x02"));
        QCOMPARE(b.toText(), a.toText()); // junk leaves the state alone
    }

    void faults_data()
    {
        QTest::addColumn<QString>("control");
        QTest::addColumn<QByteArray>("command");
        QTest::addColumn<QByteArray>("reply");
        QTest::newRow("refuse register write") << "refuse on" << QByteArray("@REG03:07H")
                                               << QByteArray("N4\r\n");
        QTest::newRow("refuse wired write") << "refuse on" << QByteArray("@KZ9S0307")
                                            << QByteArray("KZ90N\r\n");
        QTest::newRow("refuse leaves reads") << "refuse on" << QByteArray("@REG05")
                                             << QByteArray("P0\r\n34H\r\n");
        QTest::newRow("noise first") << "noise RX?" << QByteArray("@KZ9V")
                                     << QByteArray("RX?\r\nKZ90VQML47210 R1.20\r\n");
        QTest::newRow("echo first") << "echo on" << QByteArray("@RST")
                                    << QByteArray("@RST\r\nP0\r\n");
        QTest::newRow("another letter") << "letter A" << QByteArray("@KZ9#")
                                        << QByteArray("KZ90A\r\n");
        QTest::newRow("silent") << "silent on" << QByteArray("@KZ9#") << QByteArray();
        QTest::newRow("poll ignored") << "poll off" << QByteArray("@KZ9#") << QByteArray();
        QTest::newRow("poll ignored, version still answered")
            << "poll off" << QByteArray("@KZ9V") << QByteArray("KZ90VQML47210 R1.20\r\n");
        QTest::newRow("answer sent twice") << "twice 50" << QByteArray("@RST")
                                           << QByteArray("P0\r\nP0\r\n");
        QFile other(m_units.filePath("other"));
        QVERIFY(other.open(QIODevice::WriteOnly) && other.write("REG 05 5A\n") > 0);
        other.close();
        QTest::newRow("another unit on the line") << "unit " + other.fileName() << QByteArray("@REG05")
                                                  << QByteArray("P0\r\n5AH\r\n");
    }
    void faults()
    {
        QFETCH(QString, control);
        QFETCH(QByteArray, command);
        QFETCH(QByteArray, reply);
        SimPeer peer;
        QVERIFY(peer.isOpen());
        QCOMPARE(ApplySimCommand(peer, control), QString("ok"));
        Line line;
        QVERIFY(line.open(peer));
        QCOMPARE(line.ask(command, reply.size()), reply);
    }

    void delayedAnswer_data()
    {
        QTest::addColumn<QStringList>("controls");
        QTest::addColumn<QByteArray>("commands");
        QTest::addColumn<QByteArray>("reply");
        QTest::newRow("fixed") << QStringList{"delay 300"} << QByteArray("@RST") << QByteArray("P0\r\n");
        // A late answer holds back the answers after it.
        QTest::newRow("one command slow") << QStringList{"slow @REG05 300"}
                                          << QByteArray("@REG05\r\n@RST")
                                          << QByteArray("P0\r\n34H\r\nP0\r\n");
        SimUnit unit;
        QByteArray all, inOrder;
        for (int n = 0; n < SimUnit::Registers; ++n) {
            const QByteArray command = "@KZ9F" + QByteArray::number(n).rightJustified(2, '0');
            all += command + "\r\n";
            inOrder += answers(unit, command);
        }
        QTest::newRow("random delays, answers in order")
            << QStringList{"seed 7", "delay 200-600"} << all << inOrder;
    }
    void delayedAnswer()
    {
        QFETCH(QStringList, controls);
        QFETCH(QByteArray, commands);
        QFETCH(QByteArray, reply);
        SimPeer peer;
        for (const QString &control : controls)
            QCOMPARE(ApplySimCommand(peer, control), QString("ok"));
        Line line;
        QVERIFY(line.open(peer));
        QCOMPARE(line.ask(commands, 0, 150), QByteArray());
        QCOMPARE(line.collect(3000, reply.size()), reply);
    }

    // 10 bits a byte: 20 bytes at 1200 bit/s take about 167 ms.
    void wireTime()
    {
        SimPeer peer;
        ApplySimCommand(peer, "baud 1200");
        Line line;
        QVERIFY(line.open(peer));
        QElapsedTimer t;
        t.start();
        QByteArray got = line.ask("@KZ9V", 0, 60);
        QVERIFY2(got.size() < 15, got.constData());
        got += line.collect(2000, 21 - got.size());
        QCOMPARE(got, QByteArray("KZ90VQML47210 R1.20\r\n"));
        QVERIFY2(t.elapsed() >= 150, qPrintable(QString::number(t.elapsed())));
    }

    void dropLineClosesTheProgramsPort()
    {
        SimPeer peer;
        Line line;
        QVERIFY(line.open(peer));
        ApplySimCommand(peer, "drop");
        QVERIFY(waitUntil([&] { return !line.comm.PortOpen(); }, 3000));
    }

    void badInputNeverCrashes()
    {
        SimUnit unit;
        // A megabyte without a line end is answered once, with a refusal.
        const QList<QByteArray> out = unit.feed(QByteArray(1 << 20, 'x') + "\r\n");
        QCOMPARE(out, (QList<QByteArray>{"N1\r\n"}));
        QRandomGenerator rng(99);
        for (int i = 0; i < 2000; ++i) {
            QByteArray junk(int(rng.bounded(1, 600)), Qt::Uninitialized);
            for (char &c : junk)
                c = char(rng.bounded(256));
            for (const QByteArray &reply : unit.feed(junk))
                QVERIFY(reply.endsWith("\r\n") && reply.size() < 64);
        }
        // Still answering after all that.
        unit.feed("\r\n");
        QCOMPARE(answers(unit, "@RST"), QByteArray("P0\r\n"));
    }

    void unreadAnswersAreBounded()
    {
        SimPeer peer;
        Line line;
        QVERIFY(line.open(peer));
        // 10000 questions ask for 210000 bytes of answers that nobody reads yet.
        for (int i = 0; i < 10000; ++i)
            line.comm.setOutput("@KZ9V\r\n");
        qint64 total = 0;
        int mostQueued = 0;
        QTimer watch;
        connect(&watch, &QTimer::timeout, [&] { mostQueued = qMax(mostQueued, peer.pendingBytes()); });
        watch.start(1);
        total = line.drain(300).size();
        QVERIFY(total > 0);
        QVERIFY2(mostQueued <= 65536, qPrintable(QString::number(mostQueued)));
        QCOMPARE(line.ask("@RST", 4), QByteArray("P0\r\n"));
    }

    // The executable: link, control channel, state file, link removed at the end.
    void executable()
    {
        QTemporaryDir dir;
        const QString state = dir.path() + "/state.txt";
        auto start = [&](QProcess &p) {
            p.start(qEnvironmentVariable("QML_SIM"),
                    {"--link-dir", dir.path(), "--com", "2", "--state", state});
            return p.waitForStarted() && p.waitForReadyRead(5000);
        };
        QProcess sim;
        QVERIFY(start(sim));
        const QString slave = QString::fromLocal8Bit(sim.readLine()).trimmed();
        QCOMPARE(QFileInfo(dir.path() + "/COM2").symLinkTarget(), slave);

        Line line;
        QFile::link(slave, line.dir.path() + "/COM1");
        line.comm.setLinkDir(line.dir.path() + "/");
        QVERIFY(line.comm.setPortOpen(true));
        QCOMPARE(line.ask("@REG12:5AH", 4), QByteArray("P0\r\n"));
        sim.write("silent on\n");
        QVERIFY(sim.waitForReadyRead(2000));
        QCOMPARE(sim.readLine().trimmed(), QByteArray("ok"));
        QCOMPARE(line.ask("@RST", 0), QByteArray());
        sim.write("bogus\n");
        QVERIFY(sim.waitForReadyRead(2000));
        QVERIFY(sim.readLine().startsWith('?'));
        line.comm.setPortOpen(false);
        sim.terminate();
        QVERIFY(sim.waitForFinished(5000));
        QVERIFY(!QFileInfo(dir.path() + "/COM2").isSymLink());

        // The next run starts from the saved state.
        QProcess again;
        QVERIFY(start(again));
        again.write("state\n");
        QByteArray printed;
        QVERIFY(waitUntil([&] { printed += again.readAll(); return printed.contains("RECORD"); }));
        QVERIFY2(printed.contains("REG 12 5A"), printed.constData());
        again.terminate();
        QVERIFY(again.waitForFinished(5000));
    }
};

QTEST_GUILESS_MAIN(TestSimUnit)
#include "tst_simunit.moc"
