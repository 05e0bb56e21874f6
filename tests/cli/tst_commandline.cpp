// The command line, end to end: the built program in a folder of its own,
// started without a display, against simulated units on pseudo-terminals.

#include "cli/CommandLine.h"
#include "sim/SimControl.h"
#include "sim/SimPeer.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTest>

namespace {

// A program folder: the built program, the English texts, setcom.ini on COM1.
struct Folder {
    QTemporaryDir dir;
    QString path(const QString &name) const { return dir.path() + "/" + name; }
    bool make()
    {
        const QString dist = qEnvironmentVariable("QML_DIST");
        if (!QFile::copy(qEnvironmentVariable("QML_APP"), path("qmlsetup")))
            return false;
        QFile::setPermissions(path("qmlsetup"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        for (const char *name : {"message.ini", "dispname.ini"})
            QFile::copy(dist + "/lang/en/" + name, path(name));
        QFile::copy(dist + "/FRH10.ini", path("FRH10.ini"));
        write("setcom.ini", "\"1\"\r\n\"9600\"\r\n\"8\"\r\n\"N\"\r\n\"1\"\r\n");
        return true;
    }
    void write(const QString &name, const QByteArray &bytes) const
    {
        QFile f(path(name));
        f.open(QIODevice::WriteOnly | QIODevice::Truncate);
        f.write(bytes);
    }
    void link(const SimPeer &peer, int com = 1) const
    {
        QFile::remove(path(QStringLiteral("COM%1").arg(com)));
        QFile::link(peer.slavePath(), path(QStringLiteral("COM%1").arg(com)));
    }
};

struct Result {
    int code = -1;
    QByteArray out, err;
    QJsonObject json() const { return QJsonDocument::fromJson(out).object(); }
};

// No display, as over ssh.
QProcessEnvironment withoutDisplay(const char *timeScale = "0.01")
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("DISPLAY");
    env.remove("WAYLAND_DISPLAY");
    env.remove("QT_QPA_PLATFORM");
    env.insert("QML_TIME_SCALE", timeScale);
    return env;
}

// Starts the program without a display.
void start(QProcess &p, const Folder &f, const QStringList &args, const char *timeScale = "0.01")
{
    p.setProcessEnvironment(withoutDisplay(timeScale));
    p.setWorkingDirectory(f.dir.path()); // files named on the command line are found there
    p.start(f.path("qmlsetup"), args);
}

Result finish(QProcess &p)
{
    // The simulated units answer from this process: its events keep running.
    waitUntil([&] { return p.state() == QProcess::NotRunning; }, 30000);
    Result r;
    r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    return r;
}

Result run(const Folder &f, const QStringList &args)
{
    QProcess p;
    start(p, f, args);
    return finish(p);
}

} // namespace

class TestCommandLine : public QObject {
    Q_OBJECT
private slots:
    // Each command once: its exit code and its JSON document.
    void commands_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("fault");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("key");   // a field of the JSON document
        QTest::addColumn<QString>("value"); // its value, as text
        QTest::newRow("ports") << QStringList{"ports"} << "" << 0 << "com" << "";
        QTest::newRow("info") << QStringList{"info"} << "" << 0 << "version" << "VQML47210 R1.2";
        QTest::newRow("read") << QStringList{"read"} << "" << 0 << "record" << "";
        QTest::newRow("write") << QStringList{"write", "band=3", "parity=even"} << "" << 0
                               << "verified" << "true";
        QTest::newRow("write refused") << QStringList{"write", "band=3"} << "refuse on" << 5
                                       << "reason" << "refused by the unit";
        QTest::newRow("reg get") << QStringList{"reg", "get", "05"} << "" << 0 << "value" << "34";
        QTest::newRow("reg set") << QStringList{"reg", "set", "5", "3a"} << "" << 0 << "verified"
                                 << "true";
        QTest::newRow("reg get, no answer") << QStringList{"reg", "get", "05"} << "silent on" << 4
                                            << "reason" << "no answer from the unit";
        QTest::newRow("reg get, other letter") << QStringList{"reg", "get", "05"} << "letter A" << 8
                                               << "reason" << "an answer that does not fit";
        QTest::newRow("save") << QStringList{"save", "unit.ini"} << "" << 0 << "record" << "";
        QTest::newRow("apply") << QStringList{"apply", "site.ini"} << "" << 0 << "verified" << "true";
        QTest::newRow("apply, a difference") << QStringList{"apply", "disagree.ini"} << "" << 6
                                             << "verified" << "false";
        QTest::newRow("apply, bad file") << QStringList{"apply", "bad.ini"} << "" << 7 << "message"
                                         << "The file cannot be used: 4: no such register (00 to 27): 28";
        QTest::newRow("preset") << QStringList{"preset"} << "" << 0 << "ok" << "true";
        QTest::newRow("preset, incomplete file") << QStringList{"preset", "short.ini"} << "" << 7
                                                 << "ok" << "false";
        QTest::newRow("preset, no answer to its backup") << QStringList{"preset"} << "silent on" << 4
                                                        << "ok" << "false";
        QTest::newRow("preset, refused") << QStringList{"preset"} << "refuse on" << 5 << "ok" << "false";
        QTest::newRow("preset, a CR in a value") << QStringList{"preset", "cr.ini"} << "" << 7
                                                 << "ok" << "false";
    }
    void commands()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, fault);
        QFETCH(int, code);
        QFETCH(QString, key);
        QFETCH(QString, value);
        Folder f;
        QVERIFY(f.make());
        SimPeer peer;
        f.link(peer);
        f.write("site.ini", "[unit]\nformat = 1\n[record]\nband = 2\n[registers]\n12 = AB\n");
        f.write("disagree.ini", "[unit]\nformat = 1\n[record]\nband = 2\n[registers]\n27 = 06\n");
        f.write("bad.ini", "[unit]\nformat = 1\n[registers]\n28 = 00\n");
        f.write("short.ini", "01\r\n02\r\n");
        f.write("cr.ini", "\"\r@\"\r\n" + QByteArray("01\r\n").repeated(27)); // would split a line
        if (!fault.isEmpty())
            ApplySimCommand(peer, fault);
        const Result r = run(f, QStringList{"--json"} + args);
        QCOMPARE(r.code, code);
        const QJsonObject doc = r.json();
        QVERIFY2(!doc.isEmpty(), r.out.constData());
        QCOMPARE(doc.value("exit").toInt(), code);
        QVERIFY(doc.contains(key));
        if (!value.isEmpty())
            QCOMPARE(doc.value(key).toVariant().toString(), value);
        if (args.first() == "ports") {
            const QJsonArray com = doc.value("com").toArray();
            QCOMPARE(com.size(), 9);
            QCOMPARE(com.at(0).toObject().value("device").toString(),
                     QFileInfo(peer.slavePath()).canonicalFilePath());
            QVERIFY(com.at(0).toObject().value("present").toBool());
        }
        if (args.first() == "read")
            QCOMPARE(doc.value("record").toObject().value("channel").toInt(), 5);
        if (args.first() == "save")
            QVERIFY(QFile::exists(f.path("unit.ini")));
        if (args.value(1) == "site.ini") {
            QCOMPARE(peer.unit().record().band, 2);
            QCOMPARE(peer.unit().reg(12), QString("AB"));
            QCOMPARE(QDir(f.path("backups")).entryList(QDir::Files).size(), 1);
        }
        if (code == 7)
            QCOMPARE(peer.received(), QByteArray()); // a bad file sends nothing
        if (args.first() == "preset" && code == 0) { // backed up, written, read back, reset
            QCOMPARE(peer.receivedLines().size(), 85);
            QVERIFY(QFile::exists(doc.value("backup").toString()));
        } else if (args.first() == "preset" && code == 5) { // backed up, refused at the first write
            QCOMPARE(peer.receivedLines().size(), 29);
            QCOMPARE(doc.value("written").toArray().size(), 0);
        } else if (args.first() == "preset" && code == 4) {
            QCOMPARE(peer.receivedLines(), QList<QByteArray>(3, "@REG00"));
        } else if (args.first() == "preset") {
            QCOMPARE(peer.received(), QByteArray());
        }
    }

    // A wrong command line: one line naming what was wrong, the usage hint,
    // exit code 2, nothing sent.
    void badUsage_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("says");
        QTest::newRow("unknown command") << QStringList{"frobnicate"} << "unknown command: frobnicate";
        QTest::newRow("unknown option") << QStringList{"--colour", "read"} << "unknown option: colour";
        QTest::newRow("missing value") << QStringList{"read", "--port"} << "a value is missing after: --port";
        QTest::newRow("register 28") << QStringList{"reg", "get", "28"} << "no such register (00 to 27): 28";
        QTest::newRow("value G1") << QStringList{"reg", "set", "05", "G1"} << "a value it cannot take: 05 G1";
        QTest::newRow("band x") << QStringList{"write", "band=x"} << "a value it cannot take: band=x";
        QTest::newRow("no KEY=VALUE") << QStringList{"write", "band"} << "KEY=VALUE needed: band";
        QTest::newRow("extra argument") << QStringList{"read", "now"} << "wrong arguments: now";
        QTest::newRow("port that does not exist") << QStringList{"--port", "/dev/no-such-tty", "read"}
                                                  << "no such port: /dev/no-such-tty";
        QTest::newRow("port that is a regular file") << QStringList{"--port", "FILE", "read"}
                                                     << "The device is not a serial port.";
    }
    void badUsage()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, says);
        Folder f;
        QVERIFY(f.make());
        SimPeer peer;
        f.link(peer);
        f.write("plain.txt", "x");
        args.replaceInStrings("FILE", f.path("plain.txt"));
        const Result r = run(f, args);
        QCOMPARE(r.code, 2);
        const QList<QByteArray> lines = r.err.trimmed().split('\n');
        QCOMPARE(lines.size(), 2);
        QVERIFY2(lines.first().contains(says.toUtf8()), r.err.constData());
        QVERIFY(lines.last().contains("--help"));
        QTest::qWait(20);
        QCOMPARE(peer.received(), QByteArray());
    }

    void help()
    {
        Folder f;
        QVERIFY(f.make());
        const Result all = run(f, {"--help"});
        QCOMPARE(all.code, 0);
        QVERIFY(all.out.contains("Commands:") && all.out.contains("Exit codes:"));
        const Result one = run(f, {"reg", "--help"});
        QCOMPARE(one.code, 0);
        QVERIFY(one.out.startsWith("Usage: qmlsetup [options] reg get NN | reg set NN VV"));
    }

    // The program folder is the user's own but closed to new files (its
    // setcom.ini saved in place): the backup and the log go to the user's
    // own folder, and nothing new appears beside the program. As an
    // ordinary user.
    void closedFolderAsOrdinaryUser()
    {
        Folder f;
        QVERIFY(f.make());
        f.write("debug.ini", "DEBUG ON\r\n");
        f.write("site.ini", "[unit]\nformat = 1\n[registers]\n12 = AB\n");
        QTemporaryDir home;
        QVERIFY(giveTo(home.path(), "nobody"));
        QProcess::execute("chown", {"-R", "nobody", f.dir.path()});
        QFile::setPermissions(f.dir.path(), QFile::ReadOwner | QFile::ExeOwner | QFile::ReadOther
                                                | QFile::ExeOther);
        letOthersIn(f.path("qmlsetup"));
        if (const QString why = asNobodyUnavailable(f.path("qmlsetup")); !why.isEmpty())
            QSKIP(qPrintable(why));
        const QStringList before = QDir(f.dir.path()).entryList(QDir::AllEntries | QDir::System);
        SimPeer peer;
        QFile::setPermissions(peer.slavePath(), QFile::ReadOwner | QFile::WriteOwner
                                                    | QFile::ReadOther | QFile::WriteOther);
        QProcess p;
        QProcessEnvironment env = withoutDisplay();
        env.insert("XDG_DATA_HOME", home.path());
        p.setProcessEnvironment(env);
        p.setWorkingDirectory(f.dir.path());
        p.start("setpriv", {"--reuid=nobody", "--regid=nogroup", "--clear-groups", f.path("qmlsetup"),
                            "apply", "site.ini", "--port", peer.slavePath()});
        const Result r = finish(p);
        QFile::setPermissions(f.dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QVERIFY2(r.code == 0, r.err.constData());
        QCOMPARE(peer.unit().reg(12), QString("AB"));
        const QString own = home.path() + "/qml47210/";
        QCOMPARE(QDir(own + "backups").entryList(QDir::Files).size(), 1);
        QCOMPARE(QDir(own).entryList({"Log*.log"}, QDir::Files).size(), 1);
        QCOMPARE(QDir(f.dir.path()).entryList(QDir::AllEntries | QDir::System), before);
    }

    // Four units at once, each on its own port; and the same port twice:
    // the second run fails at once, naming who holds it. One log per run.
    void parallel()
    {
        Folder f;
        QVERIFY(f.make());
        f.write("debug.ini", "DEBUG ON\r\n");
        f.write("site.ini", "[unit]\nformat = 1\n[record]\nchannel = 9\n[registers]\n03 = 7E\n");
        SimPeer units[4];
        for (int i = 0; i < 4; ++i)
            f.link(units[i], i + 1);
        QProcess runs[4];
        for (int i = 0; i < 4; ++i)
            start(runs[i], f, {"apply", "site.ini", "--port", QStringLiteral("COM%1").arg(i + 1)});
        for (int i = 0; i < 4; ++i) {
            const Result r = finish(runs[i]);
            QVERIFY2(r.code == 0, r.err.constData());
            QCOMPARE(units[i].unit().record().channel, 9);
            QCOMPARE(units[i].unit().reg(3), QString("7E"));
        }
        QCOMPARE(QDir(f.dir.path()).entryList({"Log*.log"}).size(), 4);

        ApplySimCommand(units[0], "delay 40"); // 30 exchanges: the port is held for a second
        units[0].clearReceived();
        QProcess holder;
        start(holder, f, {"save", "held.ini", "--port", "COM1"}, "1"); // no time-out meanwhile
        QVERIFY(waitUntil([&] { return units[0].receivedLines().contains("@KZ9R"); }, 5000));
        const Result second = run(f, {"read", "--port", "COM1"});
        QCOMPARE(second.code, 3);
        QVERIFY2(second.err.contains("in use") && second.err.contains("qmlsetup"), second.err.constData());
        QCOMPARE(finish(holder).code, 0);
    }
};

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_commandline.moc"
