// The command line, end to end: the built program in a folder of its own,
// started without a display, against simulated units on pseudo-terminals.

#include "cli/CommandLine.h"
#include "documents/Handover.h"
#include "protocol/NetworkReport.h"
#include "records/SiteBook.h"
#include "config/FileSafety.h"
#include "config/modFile.h"
#include "protocol/modWired.h"
#include "records/SiteBook.h"
#include "serial/Exchange.h"
#include "serial/LineClear.h"
#include "serial/mod232C.h"
#include "serial/CommControl.h"
#include "sim/SimControl.h"
#include "sim/SimPeer.h"
#include "support/Browser.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTest>

#include <csignal>

namespace {

// A program folder: the built program and its window program, the English texts, setcom.ini on COM1.
struct Folder {
    QTemporaryDir dir;
    QString path(const QString &name) const { return dir.path() + "/" + name; }
    bool make()
    {
        const QString dist = qEnvironmentVariable("QML_DIST");
        const QString app = qEnvironmentVariable("QML_APP");
        if (!QFile::copy(app, path("qmlsetup"))
            || !QFile::copy(QFileInfo(app).dir().filePath("qmlsetup-window"), path("qmlsetup-window")))
            return false;
        for (const char *name : {"qmlsetup", "qmlsetup-window"})
            QFile::setPermissions(path(name), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        for (const char *name : {"message.ini", "dispname.ini"})
            QFile::copy(dist + "/lang/en/" + name, path(name));
        QFile::copy(dist + "/FRH10.ini", path("FRH10.ini"));
        write("setcom.ini", "\"1\"\r\n\"9600\"\r\n\"8\"\r\n\"N\"\r\n\"1\"\r\n");
        return true;
    }
    QByteArray read(const QString &name) const
    {
        QFile file(path(name));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
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

SiteBookPlace fileBook(const QString &path)
{
    SiteBookPlace place;
    place.kind = SiteBookPlace::File;
    place.path = path;
    return place;
}

// What a run that reached the unit left in the site book beside backups/:
// exactly one entry, its action, outcome and backup as the run said them;
// nothing from a run that never reached it.
void checkBookEntry(const Folder &f, QStringList args, const QJsonObject &doc, bool sent)
{
    while (args.first().startsWith("--")) // the options before the command, and their values
        args = args.mid(args.first() == "--json" ? 1 : 2);
    const QString command = args.first() == "reg" ? "reg " + args.at(1) : args.first();
    static const QStringList recorded{"info", "read", "save", "compare", "write", "reg set", "apply", "preset"};
    const int code = doc.value("exit").toInt();
    const bool reached = recorded.contains(command) && sent;
    SiteBook book(fileBook(f.path("sitebook.sqlite")));
    QString error;
    const auto all = book.entries({}, &error, true);
    QCOMPARE(all ? all->size() : 0, reached ? 1 : 0);
    if (!reached)
        return;
    const SiteBookEntry &e = all->first();
    QCOMPARE(doc.value("site_book").toObject().value("id").toString(), e.id);
    QCOMPARE(e.action, command);
    QCOMPARE(e.exitCode, code);
    const bool writes = command != "info" && command != "read" && command != "save" && command != "compare";
    const QString result = code == 6                  ? "differs"
        : code == 0 && writes                         ? "verified"
        : code == 0 && command == "compare"           ? "verified"
        : code == 0 && command == "save"              ? "saved"
        : code == 0                                   ? "read"
        : !writes                                     ? (command == "save" ? "read" : "failed")
        : doc.value("writes").toArray().isEmpty()     ? "not written"
        : doc.value("writes").toArray().at(0).toObject().value("state") == "may-have-been-written"
            ? "may have been written"
            : "not written";
    QCOMPARE(e.result, result);
    const QString backup = doc.value(command == "save" ? "file" : "backup").toString();
    QFile kept(backup);
    QCOMPARE(e.backupText.toUtf8(), kept.open(QIODevice::ReadOnly) ? kept.readAll() : QByteArray());
    QCOMPARE(e.backupPath, backup);
}

Result run(const Folder &f, const QStringList &args, const char *timeScale = "0.01")
{
    QProcess p;
    start(p, f, args, timeScale);
    return finish(p);
}

// Standard error a terminal, read as it comes: a full one would hold the run up.
Result runOnTerminal(const Folder &f, const QStringList &args, const char *timeScale)
{
    Pty terminal;
    QByteArray err;
    QProcess p;
    p.setStandardErrorFile(terminal.slavePath());
    start(p, f, args, timeScale);
    waitUntil([&] { return (err += terminal.readAll()), p.state() == QProcess::NotRunning; }, 30000);
    Result r = finish(p);
    r.err = err + terminal.readAll();
    return r;
}

// A site book of four entries, e0 the oldest; each id "0000000N-..." so a row can name it.
bool seedBook(const QString &path)
{
    SiteBook book(fileBook(path));
    struct Seed {
        const char *time, *site, *unit, *port, *adapter, *action, *result, *detail;
    };
    const Seed seeds[] = {
        {"2024-02-29T23:59:59Z", "no_th", "tank_1", "COM1", "usb-FTDI_A50", "apply", "verified", ""},
        {"2024-03-01T00:00:00Z", "north", "tankX1", "COM2", "usb\x1b]0;x\x07", "read", "read", ""},
        {"2024-03-02T12:00:00Z", "50%", "=HYPERLINK(1)", "COM3", "", "write", "differs", "-2+3"},
        {"2024-03-03T08:00:00Z", "North", "tank_1", "COM1", "", "reg set", "verified", ""}};
    for (int i = 0; i < 4; ++i) {
        SiteBookEntry e = SiteBookEntry::begin(seeds[i].action);
        e.id = QStringLiteral("0000000%1-0000-4000-8000-000000000000").arg(i);
        e.time = QDateTime::fromString(seeds[i].time, Qt::ISODate);
        e.site = seeds[i].site;
        e.unit = seeds[i].unit;
        e.port = seeds[i].port;
        e.adapter = seeds[i].adapter;
        e.result = seeds[i].result;
        e.detail = seeds[i].detail;
        if (i == 0) {
            e.before = QJsonObject{{"band", "1"}, {"channel", "5"}};
            e.after = QJsonObject{{"band", "2"}, {"channel", "5"}};
            e.setBackup("backup-old.ini", "[unit]\nformat = 1\n[record]\nband = 1\n");
        }
        if (!book.record(e).recorded)
            return false;
    }
    return true;
}

} // namespace

class TestCommandLine : public QObject {
    Q_OBJECT
private slots:
    // A plan of four units, each on its own port: one line a unit, the
    // check across them, the report; faults of single units.
    void network_data()
    {
        QTest::addColumn<QString>("plan");   // "two masters": tank-1 a master too; "set up...": run once before
        QTest::addColumn<QStringList>("faults"); // "UNIT fault" for the simulated units 1..4
        QTest::addColumn<QStringList>("args");   // LAST: the newest report kept
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("results"); // each unit's result, in the plan's order
        QTest::addColumn<QString>("said");    // in the JSON document, as text
        const QStringList network{"network", "plan.ini"};
        QTest::newRow("four units") << "" << QStringList() << network << 0
                                    << "verified verified verified verified" << "\"4 units: 4 verified\"";
        QTest::newRow("one refuses writes") << "" << QStringList{"2 refuse on"} << network
                                            << 5 << "verified failed verified verified" << "3 verified, 1 refused";
        QTest::newRow("the worst outcome, not the first") << "" << QStringList{"2 refuse on", "4 silent on"} << network
                                            << 4 << "verified failed verified failed"
                                            << "4 units: 2 verified, 1 refused, 1 no answer";
        QTest::newRow("one unplugged while its record goes out")
            << "" << QStringList{"3 drop-at-D"} << network << 4
            << "verified verified stopped verified" << "";
        QTest::newRow("two masters") << "two masters" << QStringList() << network
                                     << 7 << "" << "more than one unit of the plan is the master: pump-house, tank-1";
        QTest::newRow("micro sign and mu, one name") << "µ-relay μ-RELAY" << QStringList() << network << 7 << ""
                                                     << "line 12";
        QTest::newRow("a ] in a name") << "a]b" << QStringList() << network << 7 << "" << "line 8";
        QTest::newRow("a name a spreadsheet would run") << "=1+2" << QStringList() << network << 0
                                                        << "verified verified verified verified" << "";
        QTest::newRow("a port for this run") << "" << QStringList() << QStringList{"network", "plan.ini",
                                                 "--ports", "pump-house=COM1"}
                                             << 0 << "verified verified verified verified" << "";
        QTest::newRow("a port for a name in another form") << "" << QStringList() << QStringList{"network", "plan.ini",
                                                 "--ports", "ｐｕｍｐ-HOUSE=COM1"}
                                             << 0 << "verified verified verified verified" << "";
        QTest::newRow("two units on one port") << "" << QStringList()
                                               << QStringList{"network", "plan.ini", "--ports", "tank-3=COM1"}
                                               << 2 << "" << "";
        QTest::newRow("traced, one unit's run killed") << "" << QStringList{"3 kill-at-D"}
                                                       << QStringList{"--trace", "network", "plan.ini"} << 1
                                                       << "verified verified failed verified" << "";
        QTest::newRow("compare, all match") << "set up" << QStringList() << QStringList{"compare", "plan.ini"}
                                            << 0 << "verified verified verified verified" << "\"disagreements\": [\n    ]";
        QTest::newRow("compare, one differs") << "" << QStringList() << QStringList{"compare", "plan.ini"}
                                              << 6 << "verified differs differs differs"
                                              << "do not share one channel (11: pump-house; 5: ";
        QTest::newRow("compare, two masters held") << "set up" << QStringList{"2 master"} << QStringList{"compare", "plan.ini"}
                                              << 6 << "verified differs verified verified"
                                              << "exactly one master (pump-house, tank-1)";
        QTest::newRow("echoing adapters") << "" << QStringList{"1 echo on", "2 echo on", "3 echo on", "4 echo on"}
                                          << network << 0 << "verified verified verified verified" << "";
        QTest::newRow("a retry of the refused unit") << "set up, tank-1 refusing" << QStringList()
                                                     << QStringList{"network", "plan.ini", "--retry", "LAST"} << 0
                                                     << "verified verified verified verified" << "\"completes\": \"/";
        QTest::newRow("a retry of another plan's report") << "set up, another plan" << QStringList()
                                                     << QStringList{"network", "plan.ini", "--retry", "LAST"} << 2
                                                     << "" << "belongs to another plan";
        QTest::newRow("a retry naming a unit the plan lacks") << "set up, tank-1 refusing" << QStringList()
                                                              << QStringList{"network", "plan.ini", "--retry", "LAST",
                                                                             "--ports", "no-such=COM1"}
                                                              << 2 << "" << "the plan has no unit of that name: no-such";
        QTest::newRow("a retry of no report") << "" << QStringList()
                                              << QStringList{"network", "plan.ini", "--retry", "plan.ini"} << 2
                                              << "" << "cannot be read as a network report";
        QTest::newRow("a slave by hand, the plan's first run") << "" << QStringList()
                                          << QStringList{"network", "plan.ini", "--unit", "tank-2"} << 0
                                          << "waiting waiting verified waiting" << "4 units: 1 verified, 3 waiting";
        QTest::newRow("--progress: a line a stage of each unit") << "" << QStringList()
                                                                << QStringList{"--progress", "network", "plan.ini"}
                                                                << 0 << "verified verified verified verified" << "";
        QTest::newRow("a terminal: the running units' lines in place")
            << "" << QStringList{"1 delay 10", "2 delay 10", "3 delay 10", "4 delay 10"}
            << QStringList{"network", "plan.ini", "TERMINAL"} << 0 << "verified verified verified verified" << "";
        QTest::newRow("one unit by hand") << "set up" << QStringList()
                                          << QStringList{"network", "plan.ini", "--unit", "TANK-1"} << 0
                                          << "verified verified verified verified" << "\"completes\": \"/";
    }
    void network()
    {
        QFETCH(QString, plan);
        QFETCH(QStringList, faults);
        QFETCH(QStringList, args);
        QFETCH(int, code);
        QFETCH(QString, results);
        QFETCH(QString, said);
        Folder f;
        QVERIFY(f.make());
        // The first unit's device by a stable name, as under /dev/serial/by-id/.
        QTemporaryDir dev;
        SimPeer units[4];
        QVERIFY(QDir(dev.path()).mkpath("serial/by-id"));
        const QString byId = dev.path() + "/serial/by-id/usb-FTDI_FT232R_A50285BI-if00-port0";
        QVERIFY(QFile::link(units[0].slavePath(), byId));
        for (int i = 0; i < 4; ++i)
            f.link(units[i], i + 1);
        QByteArray text = "[network]\nformat = 1\nband = 2\nchannel = 11\n[node pump-house]\ntype = master\nport = "
            + byId.toUtf8() + "\n[node tank-1]\ntype = " + (plan == "two masters" ? "master" : "slave")
            + "\nport = COM2\nbit-rate = 19200\n[node tank-2]\ntype = slave\nport = COM3\n"
              "[node tank-3]\ntype = slave\nport = COM4\n";
        if (!plan.startsWith("set up") && plan != "two masters") // other names for the tanks
            for (const QString &name : plan.split(' ', Qt::SkipEmptyParts))
                text.replace(text.indexOf("tank-"), 6, name.toUtf8());
        f.write("plan.ini", plan == "set up, another plan" ? QByteArray(text).replace("= 11", "= 12") : text);
        // As the unit on the first port already holds it.
        SimRecord master = units[0].unit().record();
        master.band = 2;
        master.channel = 11;
        units[0].unit().setRecord(master);
        if (plan.startsWith("set up")) {
            ApplySimCommand(units[1], plan.endsWith("refusing") ? "refuse on" : "refuse off");
            QCOMPARE(run(f, {"network", "plan.ini"}).code, plan.endsWith("refusing") ? 5 : 0);
            ApplySimCommand(units[1], "refuse off");
            f.write("plan.ini", text);
        }
        const QStringList kept = QDir(f.path("backups")).entryList({"network-*.json"}, QDir::Files, QDir::Time);
        if (args.contains("LAST"))
            args.replace(args.indexOf("LAST"), f.path("backups/" + kept.value(0)));
        for (const QString &fault : faults) {
            SimPeer &unit = units[fault.section(' ', 0, 0).toInt() - 1];
            if (fault.endsWith("drop-at-D"))
                connect(&unit, &SimPeer::lineReceived, &unit, [&unit](const QByteArray &line) {
                    if (line.startsWith("@KZ9D"))
                        unit.dropLine();
                });
            else if (fault.endsWith("kill-at-D")) // that unit's run, by its command line and folder
                connect(&unit, &SimPeer::lineReceived, &unit, [&f](const QByteArray &line) {
                    for (const QString &pid : QDir("/proc").entryList(QDir::Dirs)) {
                        QFile cmdline("/proc/" + pid + "/cmdline");
                        if (line.startsWith("@KZ9D") && cmdline.open(QIODevice::ReadOnly)
                            && cmdline.readAll().contains(QByteArray("--unit\0tank-2\0", 14))
                            && QFileInfo("/proc/" + pid + "/cwd").symLinkTarget() == f.dir.path())
                            ::kill(pid.toInt(), SIGKILL);
                    }
                });
            else if (fault.endsWith("master")) { // holds the master's role
                SimRecord held = unit.unit().record();
                held.positions[0] = 0;
                unit.unit().setRecord(held);
            } else
                ApplySimCommand(unit, fault.section(' ', 1));
        }
        for (SimPeer &unit : units)
            unit.clearReceived();
        const int reports = QDir(f.path("backups")).entryList({"network-*"}).size();
        const SiteBookPlace place = fileBook(f.path("sitebook.sqlite"));
        SiteBook book(place);
        const qint64 entriesBefore = qMax(book.count(), qint64(0));
        const bool terminal = args.removeAll("TERMINAL");
        const QStringList line = QStringList{"--json"} + args + QStringList{"--report", "report.csv"};
        const Result r = terminal ? runOnTerminal(f, line, "0.01") : run(f, line);
        const QJsonObject doc = r.json();
        QVERIFY2(r.code == code, r.out + r.err);
        QCOMPARE(doc.value("exit").toInt(), code);
        QStringList got;
        for (const QJsonValue &u : doc.value("units").toArray())
            got << u.toObject().value("result").toString();
        QCOMPARE(got.join(' '), results);
        QVERIFY2(QString::fromUtf8(r.out).contains(said), r.out.constData());
        // The site book: one entry for each unit this run reached, written by
        // that unit's own run (a run killed wrote none), with the plan's site.
        QStringList reached, recorded;
        for (int i = 0; i < 4; ++i)
            if (!units[i].received().isEmpty() && !faults.contains(QString("%1 kill-at-D").arg(i + 1)))
                reached << doc.value("units").toArray().at(i).toObject().value("name").toString();
        QString error;
        const auto entries = book.entries({}, &error, true);
        QVERIFY2(entries || !QFileInfo::exists(place.path), qPrintable(error));
        for (const SiteBookEntry &e : entries.value_or(QList<SiteBookEntry>()).mid(0, int(book.count() - entriesBefore))) {
            recorded.prepend(e.unit);
            QCOMPARE(e.action, args.first() == "compare" ? QString("compare") : QString("network"));
            QCOMPARE(e.site, QString("plan.ini"));
            QCOMPARE(e.planPath, f.path("plan.ini"));
            QFile backup(e.backupPath);
            QCOMPARE(e.backupText.toUtf8(), backup.open(QIODevice::ReadOnly) ? backup.readAll() : QByteArray());
        }
        recorded.sort();
        reached.sort();
        QCOMPARE(recorded, reached);
        if (results.isEmpty()) { // refused before anything was sent
            for (SimPeer &unit : units)
                QCOMPARE(unit.received(), QByteArray());
            return;
        }
        const QJsonArray list = doc.value("units").toArray();
        if (args.first() == "compare") {
            QCOMPARE(QDir(f.path("backups")).entryList({"network-*"}).size(), reports);
            for (SimPeer &unit : units)
                for (const QByteArray &line : unit.receivedLines())
                    QVERIFY2(!line.startsWith("@KZ9D"), line.constData());
            // band, channel, role and bit rate
            QCOMPARE(list.at(1).toObject().value("differences").toArray().size(), plan == "set up" ? faults.size() : 4);
            return;
        }
        // The report: beside the backups and where asked, every unit with before and after.
        const QStringList csv = QDir(f.path("backups")).entryList({"network-*.csv"}, QDir::Files, QDir::Time);
        QCOMPARE(csv.size(), kept.size() + 1);
        QVERIFY(std::any_of(csv.begin(), csv.end(), [&](const QString &name) {
            return f.read("backups/" + name) == f.read("report.csv");
        }));
        QList<QByteArray> rows; // a message may take lines of its own, quoted
        for (const QByteArray &row : f.read("report.csv").split('\n'))
            if (row.contains(",plan.ini,"))
                rows << row;
        QCOMPARE(rows.size(), 4);
        if (plan == "=1+2") // as text, never a formula
            QVERIFY2(rows.at(1).contains(",'=1+2,"), rows.at(1).constData());
        if (args.contains("--retry")) { // the unit as found first, then the retry's
            const QJsonArray backups = list.at(1).toObject().value("backups").toArray();
            QCOMPARE(backups.size(), 2);
            QCOMPARE(backups.at(0).toString(), list.at(1).toObject().value("backup").toString());
        }
        for (int i = 0; i < 4; ++i) {
            const QJsonObject u = list.at(i).toObject();
            if (u.value("result").toString() == "verified") {
                QCOMPARE(u.value("version").toString(), QString("VQML47210 R1.2"));
                QCOMPARE(u.value("before").toObject().value("channel").toInt(), i ? 5 : 11);
                QCOMPARE(u.value("after").toObject().value("channel").toInt(), 11);
                QCOMPARE(units[i].unit().record().channel, 11);
                QVERIFY(QFile::exists(u.value("backup").toString()));
                QVERIFY2(rows.at(i).contains(",verified,"), rows.at(i).constData());
            }
        }
        if (!results.startsWith("waiting")) { // a unit not run has no device, holds nothing known
            QCOMPARE(list.at(0).toObject().value("device").toString(), QFileInfo(byId).canonicalFilePath());
            // What the refusing unit holds after it stopped, else what it was set to.
            QCOMPARE(list.at(1).toObject().value("after").toObject().value("bit-rate").toInt(),
                     faults.contains("2 refuse on") ? 9600 : 19200);
        }
        QCOMPARE(list.at(0).toObject().value("port").toString(), args.join(' ').contains("=COM1") ? "COM1" : byId);
        if (faults.contains("2 refuse on")) {
            QCOMPARE(list.at(1).toObject().value("reason").toString(), QString("refused"));
            QCOMPARE(units[1].unit().record().channel, 5);
        }
        if (args.contains("--trace")) { // each unit's rows after its name, never in its result
            QCOMPARE(run(f, {"read", "--port", "COM3"}).code, 0); // the killed run's lock taken as stale
            for (const QString name : {"pump-house", "tank-1", "tank-2", "tank-3"})
                QVERIFY2(QRegularExpression("(?m)^" + name + ": \\d\\d:\\d\\d:\\d\\d\\.\\d{3} > @KZ9R  ")
                             .match(QString::fromUtf8(r.err)).hasMatch(), r.err.constData());
            const QString message = list.at(2).toObject().value("message").toString();
            QVERIFY2(message.startsWith("the unit's run ended without a result") && !message.contains("@KZ9"),
                     qPrintable(message));
        }
        if (args.contains("--progress") || terminal) { // from the units' runs, and nothing else of theirs
            const QString err = QString::fromUtf8(r.err);
            for (const QString name : {"pump-house", "tank-1", "tank-2", "tank-3"}) {
                QVERIFY2(err.contains(name + ": Reading the unit's configuration (exchange 1 of 32)"), qPrintable(err));
                QVERIFY2(QRegularExpression(name + ": Verifying \\(exchange 32 of 32, about \\d+ s left\\)")
                             .match(err).hasMatch(), qPrintable(err));
            }
            // Each line a unit's progress; on the terminal the moves between them taken out.
            const QString unitLine = "[-a-z0-9]+: [A-Z][a-z' ]+ \\(exchange \\d+ of 32(, about \\d+ s left)?\\)";
            const QRegularExpression line(terminal ? "^\r" + unitLine + "\x1b\\[K$" : "^" + unitLine + "$");
            for (const QString &l : QString(err).remove(QRegularExpression("\x1b\\[(\\d+A|J)")).split('\n', Qt::SkipEmptyParts))
                QVERIFY2(line.match(l).hasMatch(), qPrintable(l));
            // Several at once, and the last taken off the terminal at the end.
            QVERIFY(!terminal || (err.contains("\x1b[2A") && err.endsWith("\x1b[1A\x1b[J")));
            if (terminal) { // without --json, each unit's result printed above the live lines as it ends
                const QString plain = QString::fromUtf8(runOnTerminal(f, args, "0.01").err);
                QVERIFY2(plain.contains("\rtank-2: verified\x1b[K\n"), qPrintable(plain));
            }
        } else { // without the option, what scripts read there is as it was
            QVERIFY2(!r.err.contains("(exchange "), r.err.constData());
        }
        if (faults.contains("3 drop-at-D")) { // stopped where the record went out: it may hold it or not
            const QJsonObject u = list.at(2).toObject();
            QCOMPARE(u.value("reason").toString(), QString("line-lost"));
            QVERIFY2(u.value("message").toString().contains("Check the cable and the adapter"),
                     qPrintable(u.value("message").toString()));
            QCOMPARE(u.value("writes").toArray().at(0).toObject().value("state").toString(),
                     QString("may-have-been-written"));
        }
    }

    // --trace: each line sent and received on standard error as it happens,
    // noise included, with the time and what the program made of it.
    void trace()
    {
        Folder f;
        QVERIFY(f.make());
        SimPeer peer;
        f.link(peer);
        ApplySimCommand(peer, "noise hello");
        const Result r = run(f, {"--trace", "read"});
        QCOMPARE(r.code, 0); // the noise passed over, the answer taken
        const QList<QByteArray> lines = r.err.split('\n');
        const auto has = [&](const char *pattern) {
            const QRegularExpression re(pattern);
            return std::any_of(lines.begin(), lines.end(), [&](const QByteArray &l) { return re.match(QString::fromUtf8(l)).hasMatch(); });
        };
        QVERIFY2(has("^\\d\\d:\\d\\d:\\d\\d\\.\\d{3} > @KZ9R  read the settings record$"), r.err.constData());
        QVERIFY2(has("^\\d\\d:\\d\\d:\\d\\d\\.\\d{3} < hello  noise"), r.err.constData());
        QVERIFY2(has("^\\d\\d:\\d\\d:\\d\\d\\.\\d{3} < KZ90R.*  settings record"), r.err.constData());
        QVERIFY2(has(" - port opened: "), r.err.constData());
    }

    // One adapter, three units plugged in one after another: each set up
    // once it answers, the next once the last has been quiet for 3 s. The
    // operator here plugs in physical units in turn; each must end up
    // holding its own plan unit's record, none set up twice.
    void networkOneAfterAnother_data()
    {
        QTest::addColumn<QString>("operator_"); // what happens after the first unit's set-up
        QTest::newRow("three units") << "";
        QTest::newRow("a quiet spell is not an unplug") << "quiet spell";
        QTest::newRow("the same unit plugged back") << "same unit back";
        QTest::newRow("the adapter pulled out and back") << "adapter pulled";
        QTest::newRow("the adapter pulled out, its link left, and back") << "adapter pulled, link left";
        QTest::newRow("compared one after another, nothing written") << "compare";
    }
    void networkOneAfterAnother()
    {
        QFETCH(QString, operator_);
        Folder f;
        QVERIFY(f.make());
        auto adapter = std::make_unique<SimPeer>();
        f.link(*adapter, 1);
        f.write("plan.ini", "[network]\nformat = 1\nband = 3\nchannel = 7\n[node a]\ntype = master\n"
                            "[node b]\ntype = slave\n[node c]\ntype = slave\n");
        adapter->silent = true; // nothing plugged in yet
        QProcess p;
        // 3 s is 150 ms here, a quiet spell 80 ms.
        const bool compare = operator_ == "compare";
        start(p, f, QStringList{"--json", "network", "plan.ini", "--sequential", "--port", "COM1"}
                        + (compare ? QStringList{"--compare"} : QStringList()), "0.05");
        const SimRecord fresh = adapter->unit().record();
        QList<SimRecord> bench; // each physical unit as last unplugged
        int onLine = -1;        // the physical unit plugged in
        QByteArray said;
        int handled = 0;        // unplug requests acted on
        QObject scope; // gone before the rest: nothing here is touched after the test ends
        bool twist = !operator_.isEmpty() && !compare, hands = false, sameAgain = false;
        const auto unplug = [&] {
            bench[onLine] = adapter->unit().record();
            onLine = -1;
            adapter->silent = true;
        };
        std::function<void()> react = [&] {
            const qsizetype unplugAsked = said.lastIndexOf("done; unplug it");
            const int unplugs = said.count("done; unplug it") + said.count("taken for the same unit");
            if (onLine >= 0 && unplugs > handled && !hands) {
                handled = unplugs;
                if (said.lastIndexOf("taken for the same") > unplugAsked) {
                    unplug(); // and the right one in, once the run has seen it go
                    hands = true;
                    QTimer::singleShot(300, &scope, [&] { hands = false; bench << fresh; onLine = int(bench.size()) - 1;
                                                      adapter->unit().setRecord(fresh); adapter->silent = false; });
                    return;
                }
                if (!twist)
                    return unplug();
                twist = false;
                hands = true;
                if (operator_ == "quiet spell") { // silent a moment, then unplugged for good
                    adapter->silent = true;
                    QTimer::singleShot(80, &scope, [&] { adapter->silent = false; });
                    QTimer::singleShot(400, &scope, [&] { unplug(); hands = false; react(); });
                } else if (operator_ == "same unit back") { // out, and the same one in again
                    unplug();
                    hands = false;
                    sameAgain = true;
                } else { // the adapter itself, the next unit on it when it is back
                    bench[0] = adapter->unit().record();
                    onLine = -1;
                    adapter->dropLine();
                    if (operator_ == "adapter pulled") // its link gone with it: never the built-in port
                        QFile::remove(f.path("COM1"));
                    QTimer::singleShot(300, &scope, [&] {
                        adapter = std::make_unique<SimPeer>();
                        adapter->silent = true;
                        f.link(*adapter, 1);
                        hands = false;
                        react();
                    });
                }
            } else if (onLine < 0 && !hands && said.lastIndexOf("plug in this unit") > unplugAsked) {
                if (!sameAgain)
                    bench << fresh;
                onLine = sameAgain ? 0 : int(bench.size()) - 1;
                sameAgain = false;
                adapter->unit().setRecord(bench.at(onLine));
                adapter->silent = false;
            }
        };
        connect(&p, &QProcess::readyReadStandardError, &scope, [&] {
            said += p.readAllStandardError();
            react();
        });
        const Result r = finish(p);
        QVERIFY2(r.code == (compare ? 6 : 0), r.out + said);
        QVERIFY2(onLine >= 0 && bench.size() == 3, said.constData());
        bench[onLine] = adapter->unit().record();
        for (int i = 0; i < 3 && compare; ++i) // read, never written
            QCOMPARE(bench.at(i).channel, fresh.channel);
        for (int i = 0; i < 3 && !compare; ++i) {
            QCOMPARE(bench.at(i).band, 3);
            QCOMPARE(bench.at(i).channel, 7);
            QVERIFY2(bench.at(i).positions[0] == (i ? 1 : 0), said.constData()); // the master first
        }
        QCOMPARE(r.json().value("units").toArray().size(), 3);
        QCOMPARE(said.contains("the adapter is gone"), operator_.startsWith("adapter pulled"));
    }

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
        QTest::newRow("info, every option given") << QStringList{"--baud", "9600", "--data-bits", "8", "--parity", "N",
                                                                 "--stop-bits", "1", "--path", "wired", "info"}
                                                  << "" << 0 << "version" << "VQML47210 R1.2";
        QTest::newRow("reg get, register path") << QStringList{"--path", "registers", "reg", "get", "27"} << ""
                                                << 0 << "value" << "03";
        QTest::newRow("apply, no such file") << QStringList{"apply", "nothing.ini"} << "" << 7 << "message"
                                             << "The file cannot be used: cannot be read: nothing.ini";
        QTest::newRow("read") << QStringList{"read"} << "" << 0 << "record" << "";
        QTest::newRow("write") << QStringList{"write", "band=3", "parity=even"} << "" << 0
                               << "verified" << "true";
        QTest::newRow("write refused") << QStringList{"write", "band=3"} << "refuse on" << 5
                                       << "reason" << "refused";
        QTest::newRow("write, where no backup can be made") << QStringList{"write", "band=3"} << "backups a file"
                                                            << 1 << "ok" << "false";
        QTest::newRow("reg get") << QStringList{"reg", "get", "05"} << "" << 0 << "value" << "34";
        QTest::newRow("reg get, the register named") << QStringList{"reg", "get", "09"} << "" << 0
                                                     << "register" << "09";
        QTest::newRow("reg set") << QStringList{"reg", "set", "5", "3a"} << "" << 0 << "verified"
                                 << "true";
        QTest::newRow("reg set, register path: reset") << QStringList{"--path", "registers", "reg", "set", "5", "3a"}
                                                       << "" << 0 << "reset" << "true";
        QTest::newRow("reg set, register path, refused: not reset, not stopped")
            << QStringList{"--path", "registers", "reg", "set", "5", "3a"} << "refuse on" << 5 << "message"
            << "Stopped at register 05: refused by the unit\nNothing was written.";
        QTest::newRow("reg get, no answer") << QStringList{"reg", "get", "05"} << "silent on" << 4
                                            << "reason" << "no-answer";
        QTest::newRow("reg set, noise before each answer") << QStringList{"reg", "set", "05", "4B"}
                                                           << "noise hello" << 0 << "verified" << "true";
        QTest::newRow("reg set, no answer that fits") << QStringList{"reg", "set", "05", "4B"} << "letter Q"
                                                      << 8 << "writes" << "";
        // A two-wire adapter repeats each line sent: never taken for the reply.
        QTest::newRow("info, an echoing adapter") << QStringList{"info"} << "echo on" << 0 << "version"
                                                  << "VQML47210 R1.2";
        QTest::newRow("read, an echoing adapter") << QStringList{"read"} << "echo on" << 0 << "record" << "";
        QTest::newRow("save, an echoing adapter") << QStringList{"save", "unit.ini"} << "echo on" << 0
                                                  << "record" << "";
        QTest::newRow("apply, an echoing adapter") << QStringList{"apply", "site.ini"} << "echo on" << 0
                                                   << "verified" << "true";
        // Register 03's answer after its resend went out, the resend's after
        // register 04's read went out: not register 04's value.
        QTest::newRow("save, register path, a resend's answer late")
            << QStringList{"--path", "registers", "save", "unit.ini"} << "slow @REG03 100" << 0 << "ok"
            << "true";
        QTest::newRow("info, an unknown letter") << QStringList{"info"} << "letter Q" << 8 << "reason"
                                                 << "other-answer";
        QTest::newRow("read, a garbled record") << QStringList{"read"} << "reply KZ90R1" << 8 << "reason"
                                                << "other-answer";
        QTest::newRow("read, a flow control no digit gives") << QStringList{"read"} << "reply KZ90R105002100G"
                                                             << 8 << "reason" << "other-answer";
        QTest::newRow("save, a folder it cannot write") << QStringList{"save", "no-such-folder/unit.ini"}
                                                        << "" << 1 << "ok" << "false";
        QTest::newRow("reg get, other letter") << QStringList{"reg", "get", "05"} << "letter A" << 8
                                               << "reason" << "other-answer";
        QTest::newRow("save") << QStringList{"save", "unit.ini"} << "" << 0 << "record" << "";
        QTest::newRow("save over a file") << QStringList{"save", "site.ini"} << "" << 1 << "message"
                                          << "site.ini: the file is there; --force replaces it";
        QTest::newRow("save over a file, --force") << QStringList{"save", "--force", "site.ini"} << ""
                                                   << 0 << "file" << "";
        QTest::newRow("apply a record, register path") << QStringList{"--path", "registers", "apply", "site.ini"}
                                                       << "" << 7 << "message"
                                                       << "this file holds a settings record, which is "
                                                          "written on the wired path: use --path wired";
        QTest::newRow("apply") << QStringList{"apply", "site.ini"} << "" << 0 << "verified" << "true";
        QTest::newRow("apply, band and register 27 disagree") << QStringList{"apply", "disagree.ini"} << ""
                                                              << 7 << "ok" << "false";
        QTest::newRow("apply, a difference") << QStringList{"apply", "site.ini"} << "stuck 12" << 6
                                             << "verified" << "false";
        QTest::newRow("apply, bad file") << QStringList{"apply", "bad.ini"} << "" << 7 << "message"
                                         << "The file cannot be used: line 4: no such register (00 to 27): 28";
        QTest::newRow("compare, the unit matches") << QStringList{"compare", "match.ini"} << "" << 0
                                                   << "differences" << "";
        QTest::newRow("compare, a difference") << QStringList{"compare", "site.ini"} << "" << 6
                                               << "differences" << "";
        QTest::newRow("preset") << QStringList{"preset"} << "" << 0 << "ok" << "true";
        QTest::newRow("preset, incomplete file") << QStringList{"preset", "short.ini"} << "" << 7
                                                 << "ok" << "false";
        QTest::newRow("preset, no answer to its backup") << QStringList{"preset"} << "silent on" << 4
                                                        << "ok" << "false";
        QTest::newRow("preset, refused") << QStringList{"preset"} << "refuse on" << 5 << "ok" << "false";
        QTest::newRow("preset, a CR in a value") << QStringList{"preset", "cr.ini"} << "" << 7
                                                 << "ok" << "false";
        QTest::newRow("preset, a resend's answer late") << QStringList{"preset"} << "slow @REG03 100" << 0
                                                        << "ok" << "true";
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
        f.write("match.ini", "[unit]\nformat = 1\n[record]\nband = 1\nchannel = 5\n[registers]\n05 = 34\n");
        f.write("short.ini", "01\r\n02\r\n");
        f.write("cr.ini", "\"\r@\"\r\n" + QByteArray("01\r\n").repeated(27)); // would split a line
        if (fault == "backups a file")
            f.write("backups", "");
        else if (!fault.isEmpty())
            ApplySimCommand(peer, fault);
        if (fault.startsWith("slow")) // every answer late enough to come apart
            ApplySimCommand(peer, "delay 50");
        QVERIFY(QFile::link(f.path("FRH10.ini"), f.path("COM2"))); // a file, no device: not listed
        if (args.first() == "read") { // a flow-control position no item names
            SimRecord held = peer.unit().record();
            held.positions[6] = 9;
            peer.unit().setRecord(held);
        }
        const Result r = run(f, QStringList{"--json"} + args);
        QCOMPARE(r.code, code);
        const QJsonObject doc = r.json();
        QVERIFY2(!doc.isEmpty(), r.out.constData());
        QCOMPARE(doc.value("exit").toInt(), code);
        checkBookEntry(f, args, doc, !peer.received().isEmpty());
        QVERIFY(doc.contains(key));
        if (!value.isEmpty())
            QCOMPARE(doc.value(key).toVariant().toString(), value);
        if (args.first() == "ports") {
            const QJsonArray com = doc.value("com").toArray();
            QCOMPARE(com.size(), 9);
            QCOMPARE(com.at(0).toObject().value("device").toString(),
                     QFileInfo(peer.slavePath()).canonicalFilePath());
            QVERIFY(com.at(0).toObject().value("present").toBool());
            QVERIFY(!com.at(1).toObject().value("present").toBool());
            for (const QJsonValue &d : doc.value("devices").toArray())
                QVERIFY(d.toObject().value("path").toString() != f.path("FRH10.ini"));
            const QByteArray text = run(f, args).out;
            QVERIFY2(text.contains(" (present)\nCOM2 -> " + f.path("FRH10.ini").toUtf8() + " (not present)\n"),
                     text.constData());
            const QString device = QFileInfo(peer.slavePath()).canonicalFilePath();
            QVERIFY2(text.contains(device.leftJustified(16).toUtf8() + " COM1\n"), text.constData()); // in columns
        }
        if (args.first() == "read" && code == 0) { // one type a field
            const QJsonObject record = doc.value("record").toObject();
            QCOMPARE(record.value("channel").toInt(-1), 5);
            QCOMPARE(record.value("band").toInt(-1), 1);
            QCOMPARE(record.value("bit-rate").toInt(-1), 9600);
            QCOMPARE(record.value("data-length").toString(), QString("8"));
            QCOMPARE(record.value("raw").toObject().value("flow").toString(), QString("9"));
        }
        // What failed is followed by what to check.
        const QHash<QString, QString> advice{{"no-answer", "Check that the unit has power"},
                                             {"other-answer", "What came was "}};
        if (advice.contains(doc.value("reason").toString()))
            QVERIFY2(doc.value("message").toString().contains(advice.value(doc.value("reason").toString())),
                     qPrintable(doc.value("message").toString()));
        if (args.first() == "write" && code != 5) { // what it changed, kept first as apply keeps it
            QCOMPARE(peer.unit().record().band, code ? 1 : 3);
            QCOMPARE(QFile::exists(doc.value("backup").toString()), code == 0);
            const QString said = code ? doc.value("message").toString()
                                      : QString::fromUtf8(run(f, {"write", "band=4", "parity=even"}).out);
            QCOMPARE(said.section(": /", 0, 0), code ? "The backup could not be written, so nothing was sent"
                                                     : "written and verified\nband: 3 \u2192 4\n"
                                                       "Backup of what the unit held before");
        }
        if (args.contains("site.ini") && code == 1) // nothing read for a file it will not write
            QCOMPARE(peer.received(), QByteArray());
        if (args.contains("save") && code == 0) { // what the unit holds, version included
            const QString saved = QString::fromUtf8(f.read(args.last()));
            QVERIFY2(saved.contains("[registers]\n") && saved.contains("\n04 = 12\n"), qPrintable(saved));
            QVERIFY(args.contains("registers") || saved.contains("VQML47210 R1.2"));
        }
        if (args.value(1) == "site.ini" && code == 0) {
            QCOMPARE(peer.unit().record().band, 2);
            QCOMPARE(peer.unit().reg(12), QString("AB"));
            QCOMPARE(QDir(f.path("backups")).entryList(QDir::Files).size(), 1);
        }
        if (code == 7 || args.first() == "save" && code == 1)
            QCOMPARE(peer.received(), QByteArray()); // a bad file sends nothing
        if (args.first() == "compare") { // read, never written
            for (const QByteArray &line : peer.receivedLines())
                QVERIFY2(!line.startsWith("@KZ9D") && !line.startsWith("@KZ9S"), line.constData());
            const QJsonArray differences = doc.value("differences").toArray();
            QCOMPARE(differences.size(), code ? 2 : 0);
            if (code)
                QCOMPARE(differences.at(1).toObject().value("holds").toString(), QString("54"));
        }
        if (key == "writes") { // a write with no answer that fits may have reached the unit
            QCOMPARE(doc.value("writes").toArray().at(0).toObject().value("state").toString(),
                     QString("may-have-been-written"));
            QVERIFY(doc.value("message").toString().contains("May have been written"));
            QVERIFY(!doc.value("message").toString().contains("Nothing was written"));
        }
        if (key == "reset") { // said as it went out, in the text too
            QVERIFY(peer.receivedLines().contains("@RST"));
            QVERIFY(run(f, args).out.contains("written and verified\nThe reset (@RST) was sent to the unit.\n"));
        }
        if (args.first() == "preset" && code == 0) { // backed up, written, read back, reset
            // One more read where an answer came after its resend: the confirmation.
            QCOMPARE(peer.receivedLines().size(), fault.isEmpty() ? 85 : 87);
            QVERIFY(run(f, args).out.startsWith("FRH preset written and verified: the unit holds")); // said in full
            QFile backup(doc.value("backup").toString());
            QVERIFY(backup.open(QIODevice::ReadOnly));
            QVERIFY(backup.readAll().contains("\n04 = 12\n")); // what the unit held, each in its place
        } else if (args.first() == "preset" && code == 5) { // backed up, refused at the first write
            QCOMPARE(peer.receivedLines().size(), 29);
            QCOMPARE(doc.value("written").toArray().size(), 0);
        } else if (args.first() == "preset" && code == 4) {
            QCOMPARE(peer.receivedLines(), QList<QByteArray>(3, "@REG00"));
        } else if (args.first() == "preset") {
            QCOMPARE(peer.received(), QByteArray());
        }
    }

    // A signal while a command writes: the write under way ends, the next
    // never goes, what went out is read back and said, exit 128 + the
    // signal; a preset is not reset; a second signal ends the run at once.
    void stops_data()
    {
        QTest::addColumn<QStringList>("args");
        // the exchange the signals come during; "book AT": after it, the site book locked
        QTest::addColumn<QString>("at");
        QTest::addColumn<QByteArray>("next"); // never sent
        QTest::addColumn<QList<int>>("kills"); // signals, 100 ms apart
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("says");
        QTest::newRow("SIGINT during apply") << QStringList{"apply", "site.ini"} << "^@KZ9D"
            << QByteArray("@KZ9S12") << QList<int>{SIGINT} << 130
            << "Stopped at register 12: cancelled\nWritten before it stopped: record\nNot written: register 12\n";
        QTest::newRow("SIGTERM during apply") << QStringList{"apply", "site.ini"} << "^@KZ9D"
            << QByteArray("@KZ9S12") << QList<int>{SIGTERM} << 143
            << "Read back after the stop, the unit holds:\n  band        = 2\n";
        QTest::newRow("SIGINT during the preset's last write") << QStringList{"--json", "preset"}
            << "^@REG27:" << QByteArray("@RST") << QList<int>{SIGINT} << 130
            << "The unit was not reset: it stopped before the reset.";
        QTest::newRow("SIGINT during the read-back of reg set, register path")
            << QStringList{"--path", "registers", "reg", "set", "05", "3A"} << "^@REG05$" << QByteArray("@RST")
            << QList<int>{SIGINT} << 130 << "written and verified\nThe unit was not reset: it stopped before the reset.";
        QTest::newRow("a second SIGINT") << QStringList{"apply", "site.ini"} << "^@KZ9D"
            << QByteArray("@KZ9R") << QList<int>{SIGINT, SIGINT} << 130
            << "Stopped at once by a second signal.\nUnder way when it stopped, so it may have been written: record\n";
        QTest::newRow("a second SIGINT after the record went") << QStringList{"apply", "site.ini"} << "^@KZ9S12"
            << QByteArray("@KZ9R") << QList<int>{SIGINT, SIGINT} << 130
            << "Stopped at once by a second signal.\nWritten before it stopped: record\n"
               "Under way when it stopped, so it may have been written: register 12\n";
        // Written, then waiting for a locked book: the entry is kept pending, not lost.
        QTest::newRow("a second SIGINT while the entry waits for the book") << QStringList{"apply", "site.ini"}
            << "book ^@KZ9S12" << QByteArray("@KZ9D") << QList<int>{SIGINT, SIGINT} << 130
            << "Stopped at once by a second signal.\n";
    }
    void stops()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, at);
        QFETCH(QByteArray, next);
        QFETCH(QList<int>, kills);
        QFETCH(int, code);
        QFETCH(QString, says);
        Folder f;
        QVERIFY(f.make());
        SimPeer peer;
        f.link(peer);
        f.write("site.ini", "[unit]\nformat = 1\n[record]\nband = 2\n[registers]\n12 = AB\n");
        const bool bookLocked = at.startsWith("book ");
        QSqlDatabase holder;
        if (bookLocked) {
            at = at.mid(5);
            const SiteBookPlace place = fileBook(f.path("sitebook.sqlite"));
            QVERIFY(SiteBook(place).record(SiteBookEntry::begin("read")).recorded);
            holder = QSqlDatabase::addDatabase("QSQLITE", "holder");
            holder.setDatabaseName(place.path);
            QVERIFY(holder.open() && QSqlQuery(holder).exec("BEGIN EXCLUSIVE"));
            f.write("sitebook-pending.jsonl", "{\"cut short"); // an earlier run's torn line
        }
        QProcess p;
        bool sent = false;
        const auto signalAll = [&] {
            for (int i = 0; i < kills.size(); ++i)
                QTimer::singleShot(100 * i, &p, [&p, s = kills.at(i)] { ::kill(pid_t(p.processId()), s); });
        };
        // The run has the book open once it waits for it: the signals then.
        QTimer bookOpen;
        connect(&bookOpen, &QTimer::timeout, &p, [&] {
            const QString fds = QStringLiteral("/proc/%1/fd").arg(p.processId());
            for (const QFileInfo &fd : QDir(fds).entryInfoList(QDir::Files | QDir::System | QDir::NoDotAndDotDot))
                if (fd.symLinkTarget().endsWith("sitebook.sqlite") && bookOpen.isActive()) {
                    bookOpen.stop();
                    signalAll();
                }
        });
        connect(&peer, &SimPeer::lineReceived, &p, [&](const QByteArray &line) {
            if (sent || !QRegularExpression(at).match(QString::fromLatin1(line)).hasMatch())
                return;
            sent = true;
            if (bookLocked)
                bookOpen.start(10);
            else
                peer.schedule().setSlow(line, 300); // this exchange's answer alone comes late
            if (!bookLocked)
                signalAll();
            peer.clearReceived();
        });
        start(p, f, args, "1");
        const Result r = finish(p);
        QCOMPARE(r.code, code);
        const QByteArray said = args.contains("--json") ? r.json().value("message").toString().toUtf8() : r.err;
        QVERIFY2(said.contains(says.toUtf8()), said.constData());
        for (const QByteArray &line : peer.receivedLines())
            QVERIFY2(!line.startsWith(next), line.constData());
        // Ended at once too, it left no lock that another user could not remove,
        // and left the mark that has the next run wait out the answer cut short.
        QVERIFY(!QFile::exists("/var/lock/LCK.." + peer.slavePath().mid(5).replace('/', '_')));
        QCOMPARE(QFile::remove(LineMarkPath(peer.slavePath())), kills.size() > 1);
        if (args.contains("preset")) { // the registers written, read back
            QCOMPARE(r.json().value("exit").toInt(), code);
            QCOMPARE(r.json().value("holds").toObject().value("registers").toObject().size(), 28);
        }
        if (bookLocked) {
            holder.close();
            holder = QSqlDatabase();
            QSqlDatabase::removeDatabase("holder");
            const QList<QByteArray> waiting = f.read("sitebook-pending.jsonl").split('\n');
            QCOMPARE(waiting.size(), 3);
            const QJsonObject kept = QJsonDocument::fromJson(waiting.at(1)).object();
            QCOMPARE(kept.value("action").toString(), QString("apply"));
            QCOMPARE(kept.value("result").toString(), QString("verified"));
        }
    }

    // The words alone, read without a port or a file: what each becomes.
    void parsing_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("parsed"); // "error N: detail", or the request
        const auto row = [](const char *name, const QStringList &args, const char *parsed) {
            QTest::newRow(name) << args << QString(parsed);
        };
        row("--json=off", {"--json=off", "read"}, "read");
        row("--json=no", {"--json=no", "read"}, "read");
        row("--json=ON", {"--json=ON", "read"}, "read json");
        row("COM255", {"--port", "COM255", "info"}, "info port=COM255");
        row("COM256", {"--port", "COM256", "info"}, "error 89: COM256");
        row("COM0", {"--port", "COM0", "info"}, "error 89: COM0");
        row("a device path", {"--port", "/dev/ttyS3", "info"}, "info port=/dev/ttyS3");
        row("help for a command", {"help", "reg"}, "help reg");
        row("help for no such command", {"help", "nothing"}, "error 86: nothing");
        row("--help alone", {"--help"}, "help");
        row("no command", {"--json"}, "error 86: ");
        row("--path registers", {"--path", "registers", "reg", "get", "27"}, "reg-get registers reg=27");
        row("register 00, one digit", {"reg", "get", "0"}, "reg-get reg=0");
        row("--baud -1", {"--baud", "-1", "read"}, "error 79: --baud -1");
        row("--baud 1", {"--baud", "1", "read"}, "read baud=1");
        row("--site-book for any command", {"--site-book", "/srv/book.sqlite", "read"}, "read book=/srv/book.sqlite");
        row("--site-book, a server", {"history", "--site-book", "postgresql://op@db:5433/site?host=/run/pg"},
            "history list book=postgresql://op@db:5433/site?host=/run/pg");
        row("--site-book, empty", {"--site-book", "", "read"}, "error 79: --site-book ''");
        row("history, every filter", {"history", "--site", "n_rth", "--name", "t%", "--device", "COM1", "--since",
                                      "2024-02-29", "--until", "2024-03-01", "--limit", "5", "--csv"},
            "history list site=n_rth name=t% device=COM1 2024-02-29..2024-03-01 limit=5 csv");
        row("history show", {"history", "show", "ab-12"}, "history show id=ab-12");
        row("history backup", {"history", "backup", "ab-12", "unit.ini", "--force"},
            "history backup id=ab-12 file=unit.ini");
        row("history import", {"history", "import", "backups"}, "history import file=backups");
        row("history show, no id", {"history", "show"}, "error 90: show");
        row("history, an unknown verb", {"history", "list"}, "error 90: list");
        row("--since, no such day", {"history", "--since", "2023-02-29"}, "error 79: --since 2023-02-29");
        row("--since with a time, never dropped", {"history", "--since", "2024-03-01T10:00"},
            "error 79: --since 2024-03-01T10:00");
        row("--since after --until", {"history", "--since", "2024-03-02", "--until", "2024-03-01"},
            "error 79: --since 2024-03-02 --until 2024-03-01");
        row("--limit 0", {"history", "--limit", "0"}, "error 79: --limit 0");
        row("--csv and --json", {"history", "--csv", "--json"}, "error 147: --csv --json");
        row("a filter for show", {"history", "show", "ab-12", "--site", "x"}, "error 147: --site");
        row("--csv for read", {"--csv", "read"}, "error 147: --csv");
        row("history show, two ids", {"history", "show", "ab", "cd"}, "error 90: show ab cd");
        row("handover", {"handover", "plan.ini", "--out", "site.html", "--force"}, "handover file=plan.ini out=site.html");
        row("handover, no plan", {"handover"}, "error 90: ");
        row("handover, two plans", {"handover", "a.ini", "b.ini"}, "error 90: a.ini b.ini");
        row("handover --out ''", {"handover", "plan.ini", "--out", ""}, "error 79: --out ''");
        row("--out for another command", {"read", "--out", "x.html"}, "error 147: --out");
    }
    void parsing()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, parsed);
        FreshState st;
        CliError error;
        const auto r = ParseCommandLine(args, &error);
        QString got;
        if (!r) {
            got = QStringLiteral("error %1: %2").arg(error.message).arg(error.detail.section(" (", 0, 0));
        } else {
            static const char *names[] = {"help", "ports", "info", "read", "write", "reg-get", "reg-set",
                                          "save", "apply", "preset", "network", "compare", "history", "handover"};
            static const char *verbs[] = {"list", "show", "backup", "import"};
            QStringList parts{names[r->command]};
            if (r->command == CliRequest::History)
                parts << verbs[r->historyVerb];
            for (const auto &[key, value] : {std::pair{"id=", r->entryId}, {"file=", r->file}, {"site=", r->site},
                                             {"name=", r->name}, {"device=", r->device}, {"book=", r->siteBook},
                                             {"out=", r->out}})
                if (!value.isEmpty())
                    parts << key + value;
            if (r->since.isValid())
                parts << r->since.toString(Qt::ISODate) + ".." + r->until.toString(Qt::ISODate);
            if (r->limit != 100)
                parts << QStringLiteral("limit=%1").arg(r->limit);
            if (r->csv)
                parts << "csv";
            if (!r->helpFor.isEmpty())
                parts << r->helpFor;
            if (r->json)
                parts << "json";
            if (r->path == TransferPath::Registers)
                parts << "registers";
            if (!r->port.isEmpty())
                parts << "port=" + r->port;
            if (!r->baud.isEmpty())
                parts << "baud=" + r->baud;
            if (r->reg >= 0)
                parts << QStringLiteral("reg=%1").arg(r->reg);
            got = parts.join(' ');
        }
        QCOMPARE(got, parsed);
    }

    // A wrong command line: one line naming what was wrong, the usage hint
    // (for a port, where to look instead), exit code 2, nothing sent.
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
        QTest::newRow("a password in --site-book")
            << QStringList{"--site-book", "postgresql://kim:s3cret@db/sites", "read"}
            << "a password in --site-book would show in the list of processes";
        QTest::newRow("a site book URL with no database") << QStringList{"--site-book", "postgresql://kim@db/", "read"}
                                                          << "not a site book URL";
        QTest::newRow("port that does not exist") << QStringList{"--port", "/dev/no-such-tty", "read"}
                                                  << "no such port: /dev/no-such-tty";
        QTest::newRow("port that is a regular file") << QStringList{"--port", "FILE", "read"}
                                                     << "The device is not a serial port.";
        QTest::newRow("port that is a device, not a serial port") << QStringList{"--port", "/dev/null", "read"}
                                                                  << "The device is not a serial port.";
        QTest::newRow("value of two dots") << QStringList{"reg", "set", "05", ".."} << "a value it cannot take: 05 ..";
        QTest::newRow("--baud 0") << QStringList{"--baud", "0", "read"} << "a value it cannot take: --baud 0";
        QTest::newRow("--baud x") << QStringList{"--baud", "x", "read"} << "a value it cannot take: --baud x";
        QTest::newRow("--parity e") << QStringList{"--parity", "e", "read"} << "a value it cannot take: --parity e";
        QTest::newRow("--data-bits 9") << QStringList{"--data-bits", "9", "read"}
                                       << "a value it cannot take: --data-bits 9";
        QTest::newRow("--stop-bits 3") << QStringList{"--stop-bits", "3", "read"}
                                       << "a value it cannot take: --stop-bits 3";
        QTest::newRow("a network option for another command") << QStringList{"--sequential", "read"}
                                                              << "this option does not belong to this command: --sequential";
        QTest::newRow("--path serial") << QStringList{"--path", "serial", "read"}
                                       << "the path is wired or registers: serial";
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
        // A port that is none: where to look, not how the command is written.
        const bool port = says.startsWith("no such port") || says.startsWith("The device");
        QCOMPARE(lines.size(), says.startsWith("no such port") ? 1 : 2);
        QVERIFY2(lines.first().contains(says.toUtf8()), r.err.constData());
        QVERIFY(!r.err.contains("s3cret"));
        QVERIFY2(port ? lines.last().endsWith("see: qmlsetup ports") && !r.err.contains("--help")
                      : lines.last().contains("--help"),
                 r.err.constData());
        QTest::qWait(20);
        QCOMPARE(peer.received(), QByteArray());
    }

    // Each message number the code names shows the text meant for it in the
    // shipped English set: an entry added in the middle would shift them.
    void messageNumbers_data()
    {
        QTest::addColumn<int>("number");
        QTest::addColumn<QString>("text"); // how it begins
        QTest::newRow("ConfigMessages::Saved") << ConfigMessages::Saved << "The unit's configuration was saved in:";
        QTest::newRow("ConfigMessages::Verified") << ConfigMessages::Verified << "Applied and verified: the unit holds the";
        QTest::newRow("ConfigMessages::Differ") << ConfigMessages::Differ << "Applied, but the unit holds other values:";
        QTest::newRow("ConfigMessages::Stopped") << ConfigMessages::Stopped << "Stopped at";
        QTest::newRow("ConfigMessages::WrittenBefore") << ConfigMessages::WrittenBefore << "Written before it stopped:";
        QTest::newRow("ConfigMessages::NothingWritten") << ConfigMessages::NothingWritten << "Nothing was written.";
        QTest::newRow("ConfigMessages::Backup") << ConfigMessages::Backup << "Backup of what the unit held before:";
        QTest::newRow("ConfigMessages::BadFile") << ConfigMessages::BadFile << "The file cannot be used:";
        QTest::newRow("ConfigMessages::Refused") << ConfigMessages::Refused << "refused by the unit";
        QTest::newRow("ConfigMessages::NoAnswer") << ConfigMessages::NoAnswer << "no answer from the unit";
        QTest::newRow("ConfigMessages::OtherAnswer") << ConfigMessages::OtherAnswer << "an answer that does not fit";
        QTest::newRow("ConfigMessages::PortClosed") << ConfigMessages::PortClosed << "the serial port is closed";
        QTest::newRow("ConfigMessages::Cancelled") << ConfigMessages::Cancelled << "cancelled";
        QTest::newRow("ConfigMessages::BackupFailed") << ConfigMessages::BackupFailed << "The backup could not be written, so nothing";
        QTest::newRow("ConfigMessages::RecordNeedsWired") << ConfigMessages::RecordNeedsWired << "This file holds a settings record, which is";
        QTest::newRow("ConfigMessages::NothingToApply") << ConfigMessages::NothingToApply << "The file holds nothing to apply.";
        QTest::newRow("ConfigMessages::Meant") << ConfigMessages::Meant << "meant";
        QTest::newRow("ConfigMessages::Holds") << ConfigMessages::Holds << "the unit holds";
        QTest::newRow("ConfigMessages::Reading") << ConfigMessages::Reading << "Reading the unit's configuration";
        QTest::newRow("ConfigMessages::Writing") << ConfigMessages::Writing << "Writing to the unit";
        QTest::newRow("ConfigMessages::Verifying") << ConfigMessages::Verifying << "Verifying";
        QTest::newRow("ConfigMessages::ReadFailed") << ConfigMessages::ReadFailed << "Reading the unit's configuration failed:";
        QTest::newRow("ConfigMessages::NotText") << ConfigMessages::NotText << "not a text file";
        QTest::newRow("ConfigMessages::TooLarge") << ConfigMessages::TooLarge << "too large";
        QTest::newRow("ConfigMessages::NoFormat") << ConfigMessages::NoFormat << "no format version: [unit] needs format = 1";
        QTest::newRow("ConfigMessages::UnknownSection") << ConfigMessages::UnknownSection << "unknown section";
        QTest::newRow("ConfigMessages::OutsideSection") << ConfigMessages::OutsideSection << "outside a section";
        QTest::newRow("ConfigMessages::UnknownKey") << ConfigMessages::UnknownKey << "unknown key";
        QTest::newRow("ConfigMessages::Twice") << ConfigMessages::Twice << "appears twice";
        QTest::newRow("ConfigMessages::BadValue") << ConfigMessages::BadValue << "a value it cannot take";
        QTest::newRow("ConfigMessages::NoRegister") << ConfigMessages::NoRegister << "no such register (00 to 27)";
        QTest::newRow("ConfigMessages::NotKeyValue") << ConfigMessages::NotKeyValue << "not of the form key = value";
        QTest::newRow("ConfigMessages::CannotRead") << ConfigMessages::CannotRead << "cannot be read";
        QTest::newRow("ConfigMessages::CannotWrite") << ConfigMessages::CannotWrite << "cannot be written";
        QTest::newRow("ConfigMessages::Record") << ConfigMessages::Record << "record";
        QTest::newRow("ConfigMessages::Register") << ConfigMessages::Register << "register";
        QTest::newRow("ConfigMessages::Version") << ConfigMessages::Version << "version";
        QTest::newRow("ConfigMessages::PresetVerified") << ConfigMessages::PresetVerified << "FRH preset written and verified: the unit";
        QTest::newRow("ConfigMessages::PresetDiffers") << ConfigMessages::PresetDiffers << "FRH preset written, but the unit holds";
        QTest::newRow("ConfigMessages::PresetUnverified") << ConfigMessages::PresetUnverified << "FRH preset written, but reading it back";
        QTest::newRow("ConfigMessages::Disagree") << ConfigMessages::Disagree << "the record and the register that mirrors it";
        QTest::newRow("ConfigMessages::Line") << ConfigMessages::Line << "line";
        QTest::newRow("ConfigMessages::MayHaveBeenWritten") << ConfigMessages::MayHaveBeenWritten << "May have been written (sent, but no answer";
        QTest::newRow("ConfigMessages::NotWrittenList") << ConfigMessages::NotWrittenList << "Not written:";
        QTest::newRow("ConfigMessages::VerifiedList") << ConfigMessages::VerifiedList << "Written and verified:";
        QTest::newRow("ConfigMessages::NotReadBack") << ConfigMessages::NotReadBack << "Written, but not read back:";
        QTest::newRow("ConfigMessages::DiffersFound") << ConfigMessages::DiffersFound << "The unit holds other values:";
        QTest::newRow("ConfigMessages::BackupUnreadable") << ConfigMessages::BackupUnreadable << "the backup does not read back as it was";
        QTest::newRow("ConfigMessages::NotReset") << ConfigMessages::NotReset << "The unit was not reset: the line was lost";
        QTest::newRow("CliMessages::UnknownCommand") << CliMessages::UnknownCommand << "unknown command";
        QTest::newRow("CliMessages::UnknownOption") << CliMessages::UnknownOption << "unknown option";
        QTest::newRow("CliMessages::MissingValue") << CliMessages::MissingValue << "a value is missing after";
        QTest::newRow("CliMessages::NoSuchPort") << CliMessages::NoSuchPort << "no such port";
        QTest::newRow("CliMessages::WrongArguments") << CliMessages::WrongArguments << "wrong arguments";
        QTest::newRow("CliMessages::UsageHint") << CliMessages::UsageHint << "usage: qmlsetup --help, or COMMAND --help";
        QTest::newRow("CliMessages::WrittenVerified") << CliMessages::WrittenVerified << "written and verified";
        QTest::newRow("CliMessages::NotKeyValue") << CliMessages::NotKeyValue << "KEY=VALUE needed";
        QTest::newRow("CliMessages::BadPath") << CliMessages::BadPath << "the path is wired or registers";
        QTest::newRow("CliMessages::PresetIncomplete") << CliMessages::PresetIncomplete << "the FRH preset does not hold 28 values of";
        QTest::newRow("CliMessages::OutputFailed") << CliMessages::OutputFailed << "the output could not be written";
        QTest::newRow("CliMessages::NotSerialPort") << CliMessages::NotSerialPort << "The device is not a serial port.";
        QTest::newRow("CliMessages::RecordNeedsWiredPath") << CliMessages::RecordNeedsWiredPath << "this file holds a settings record, which is";
        QTest::newRow("CliMessages::ReportKept") << CliMessages::ReportKept << "the report is in$";
        QTest::newRow("CliMessages::PortsDiffer") << CliMessages::PortsDiffer << "the units name different ports";
        QTest::newRow("CliMessages::Unplug") << CliMessages::Unplug << "done; unplug it and plug in the next";
        QTest::newRow("CliMessages::NoUnitAnswered") << CliMessages::NoUnitAnswered << "no unit answered on the port in time";
        QTest::newRow("CliMessages::AllMatch") << CliMessages::AllMatch << "the unit holds what the file says";
        QTest::newRow("CliMessages::StoppedBySignal") << CliMessages::StoppedBySignal << "Stopped by a signal once the exchange";
        QTest::newRow("CliMessages::CheckUnit") << CliMessages::CheckUnit << "Nothing came back.";
        QTest::newRow("CliMessages::CheckCable") << CliMessages::CheckCable << "The line was lost:";
        QTest::newRow("CliMessages::SeeTrace") << CliMessages::SeeTrace << "Run it again with --trace";
        QTest::newRow("CliMessages::AlreadyHeld") << CliMessages::AlreadyHeld << "the unit already held these values";
        QTest::newRow("CliMessages::SeePorts") << CliMessages::SeePorts << "see: qmlsetup ports";
        QTest::newRow("CliMessages::FileExists") << CliMessages::FileExists << "the file is there; --force replaces it";
        QTest::newRow("CliMessages::ResetUnderWay") << CliMessages::ResetUnderWay << "The reset was under way when it stopped:";
        QTest::newRow("CliMessages::NotReadAfterStop") << CliMessages::NotReadAfterStop << "Could not be read back after the stop:";
        QTest::newRow("FolderMessages::ForeignLink") << FolderMessages::ForeignLink << "is a link that another user made, so it is";
        QTest::newRow("FolderMessages::FilesInOwnFolder") << FolderMessages::FilesInOwnFolder << "Your files (the port choice, logs and";
        QTest::newRow("FolderMessages::MadeInOwnFolder") << FolderMessages::MadeInOwnFolder << "This folder is closed to new files;";
        QTest::newRow("FolderMessages::ChoiceSavedIn") << FolderMessages::ChoiceSavedIn << "The port choice was saved in your own";
        QTest::newRow("FolderMessages::NotYourFolder") << FolderMessages::NotYourFolder << "is not a folder of this user's own (a link,";
        QTest::newRow("FolderMessages::NothingMade") << FolderMessages::NothingMade << "No folder of your own could be used, so";
        QTest::newRow("FolderMessages::NowhereToMake") << FolderMessages::NowhereToMake << "nothing is written: there is no folder of";
        QTest::newRow("FolderMessages::NotYoursAlone") << FolderMessages::NotYoursAlone << "Other users may change this folder;";
        QTest::newRow("FolderMessages::InstalledFolder") << FolderMessages::InstalledFolder << "the installed program's folder is never";
        QTest::newRow("PresetFailedMessage") << PresetFailedMessage << "Writing the FRH preset failed";
        QTest::newRow("PresetIncompleteMessage") << PresetIncompleteMessage << "FRH10.ini does not hold 28 values of two";
        QTest::newRow("NotWrittenMessage") << NotWrittenMessage << "Could not write (going on with what there";
        QTest::newRow("IncompleteReplyMessage") << IncompleteReplyMessage << "The unit's reply was incomplete or held a";
        QTest::newRow("ExchangeBusyMessage") << ExchangeBusyMessage << "An exchange with the unit is under way; try";
        QTest::newRow("PortLostMessage") << PortLostMessage << "Serial port lost (unplugged?)";
        QTest::newRow("PortClosedMessage") << PortClosedMessage << "Port closed: open it in Port settings";
        QTest::newRow("PortReopenedMessage") << PortReopenedMessage << "Serial port open again";
        // The handover document's words, each whole ($).
        using namespace HandoverMessages;
        const std::pair<int, const char *> handover[] = {
            {Title, "Handover document"}, {Site, "Site"}, {Plan, "Plan"}, {Made, "Made"}, {MadeBy, "Made by"},
            {Program, "Program"}, {Network, "The network"}, {FirstState, "verified"}, {FirstState + 3, "not set up"},
            {OneMaster, "Exactly one master, as read back:"}, {OneBandChannel, "One band and one channel, as read back:"},
            {Yes, "yes"}, {No, "no"}, {Unit, "Unit"}, {Role, "Role"}, {Master, "master"}, {Slave, "slave"},
            {Setting, "Setting"}, {Meant, "Meant (the plan)"}, {Held, "Held (read back)"}, {Version, "Version"},
            {Adapter, "Adapter"}, {Port, "Port"}, {VerifiedAt, "Verified"}, {LastEntry, "Last entry"}, {Backup, "Backup"},
            {Labels, "Labels"}, {SignOff, "Sign-off"}, {Name, "Name"}, {Date, "Date"}, {Signature, "Signature"},
            {CommissionedBy, "Commissioned by"}, {AcceptedBy, "Accepted by"}, {NoEntry, "The site book holds no set-up"},
            {Band, "band"}, {Channel, "channel"}, {Serial, "Serial settings"}, {State, "State"}, {ProgramSaid, "What the program said"},
            {SetUp, "set up"}, {Compared, "compared"}, {Differences, "Differences from the plan"},
            {WrittenTo, "The handover document was written to:"}};
        for (const auto &[number, text] : handover)
            QTest::addRow("handover %d", number) << number << QString(text) + (number == NoEntry ? "" : "$");
    }
    void messageNumbers()
    {
        QFETCH(int, number);
        QFETCH(QString, text);
        FreshState st;
        QVERIFY(QFile::copy(qEnvironmentVariable("QML_DIST") + "/lang/en/message.ini", st.path("message.ini")));
        ReadMessageIni();
        const QString said = app().message(number);
        QVERIFY2(text.endsWith('$') ? said == text.chopped(1) : said.startsWith(text), qPrintable(said));
    }

    // The site book's history: filters as typed, newest first, CSV a
    // spreadsheet only reads, one entry whole, its backup as a file.
    void history_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("ids");  // the entries listed (--json), newest first; "-": not a list
        QTest::addColumn<QString>("says"); // in what is printed (standard error when it fails)
        const QString nope = "-";
        QTest::newRow("all, newest first") << QStringList{} << 0 << "3 2 1 0" << "";
        QTest::newRow("--site, case aside") << QStringList{"--site", "north"} << 0 << "3 1" << "";
        QTest::newRow("--site, _ itself") << QStringList{"--site", "no_th"} << 0 << "0" << "";
        QTest::newRow("--site 50%") << QStringList{"--site", "50%"} << 0 << "2" << "";
        QTest::newRow("--name, _ itself") << QStringList{"--name", "tank_1"} << 0 << "3 0" << "";
        QTest::newRow("--device, an adapter") << QStringList{"--device", "usb-ftdi_a50"} << 0 << "0" << "";
        QTest::newRow("--since, from the day's first second") << QStringList{"--since", "2024-03-01"} << 0
                                                              << "3 2 1" << "";
        QTest::newRow("--until, to the day's last second") << QStringList{"--until", "2024-02-29"} << 0 << "0" << "";
        QTest::newRow("one day") << QStringList{"--since", "2024-03-02", "--until", "2024-03-02"} << 0 << "2" << "";
        QTest::newRow("--limit, older ones said to be there") << QStringList{"--limit", "2"} << 0 << "3 2" << "";
        QTest::newRow("text, one line an entry") << QStringList{"--name", "tank_1"} << 0 << nope
                                                 << "2024-03-03 08:00:00  North  tank_1  COM1          reg set  "
                                                    "verified  00000003-0000-4000-8000-000000000000\n2024-02-29 "
                                                    "23:59:59  no_th  tank_1  usb-FTDI_A50  apply";
        QTest::newRow("--csv, no formula") << QStringList{"--csv", "--site", "50%"} << 0 << nope
                                           << "id,time,user,host,site,unit,port,device,adapter,action,result,exit,"
                                              "version,plan,backup,detail\r\n00000002-0000-4000-8000-000000000000,"
                                              "2024-03-02T12:00:00.000Z,";
        QTest::newRow("show") << QStringList{"show", "00000000-0000-4000-8000-000000000000"} << 0 << nope
                              << "setting       before      after\nband          1           2           *\nchannel       5           5\n";
        QTest::newRow("show, nothing a terminal would act on") << QStringList{"show", "00000001-0000-4000-8000-000000000000"}
                                                               << 0 << nope << "\nadapter       usb\uFFFD]0;x\uFFFD\n";
        QTest::newRow("show, an id the book does not hold") << QStringList{"show", "00000009-0000-4000-8000-000000000000"}
                                                            << 2 << nope << "no entry of that id";
        QTest::newRow("backup") << QStringList{"backup", "00000000-0000-4000-8000-000000000000", "old.ini"} << 0 << nope
                                << "backup was written to: old.ini";
        QTest::newRow("backup over a file") << QStringList{"backup", "00000000-0000-4000-8000-000000000000", "taken.ini"}
                                            << 1 << nope << "--force replaces it";
        QTest::newRow("backup of an entry without one") << QStringList{"backup", "00000001-0000-4000-8000-000000000000",
                                                                       "old.ini"} << 1 << nope << "holds no backup";
        QTest::newRow("the book off") << QStringList{"--site-book", "off"} << 1 << nope << "the site book is off";
        QTest::newRow("a book that cannot be read") << QStringList{"--site-book", "taken.ini"} << 1 << nope
                                                    << "cannot be used";
    }
    void history()
    {
        QFETCH(QStringList, args);
        QFETCH(int, code);
        QFETCH(QString, ids);
        QFETCH(QString, says);
        Folder f;
        QVERIFY(f.make());
        QVERIFY(seedBook(f.path("book.sqlite")));
        f.write("taken.ini", "not a book");
        args = QStringList{"--site-book", f.path("book.sqlite"), "history"} + args;
        if (ids != "-") {
            const Result r = run(f, args + QStringList{"--json"});
            QCOMPARE(r.code, code);
            QStringList got;
            for (const QJsonValue &v : r.json().value("entries").toArray()) {
                for (const char *key : {"id", "time", "user", "site", "unit", "port", "device", "action", "result",
                                        "version", "backup"})
                    QVERIFY2(v.toObject().contains(key), key);
                got << v.toObject().value("id").toString().left(8).right(1);
            }
            QCOMPARE(got.join(' '), ids);
            QCOMPARE(r.json().value("more").toBool(), args.contains("--limit"));
            QCOMPARE(r.json().value("command").toString(), QString("history"));
        }
        const Result r = run(f, args);
        QCOMPARE(r.code, code);
        QVERIFY2((code ? r.err : r.out).contains(says.toUtf8()), (r.out + r.err).constData());
        if (args.contains("--csv")) // a cell a spreadsheet would run begins with '
            QVERIFY2(r.out.contains(",'=HYPERLINK(1),COM3,") && r.out.endsWith(",'-2+3\r\n"), r.out.constData());
        if (args.contains("--limit"))
            QVERIFY2(r.err.contains("older entries are not shown"), r.err.constData());
        if (args.contains("backup") && code == 0)
            QCOMPARE(f.read("old.ini"), QByteArray("[unit]\nformat = 1\n[record]\nband = 1\n"));
    }

    // The handover document as the customer gets it: printed by a real
    // browser, each unit's name and state on its page, and every label's QR
    // code read back to the label's own text, byte for byte.
    void handover_data()
    {
        QTest::addColumn<QString>("lang");
        QTest::addColumn<QString>("plan"); // "": four units set up, tank-2 changed and compared since
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("states"); // each unit's; when refused, the reason in the JSON
        const QString four = "verified verified differs verified";
        QTest::newRow("four units, one changed since") << "en" << "" << 0 << four;
        QTest::newRow("in Japanese") << "ja" << "" << 0 << four;
        QTest::newRow("a unit never set up, markup in its name") << "en" << "a fifth" << 0 << four + " not-set-up";
        QTest::newRow("no book") << "en" << "no book" << 1 << "unusable";
        QTest::newRow("the book off") << "en" << "book off" << 1 << "off";
        QTest::newRow("the plan refused") << "en" << "two masters" << 7 << "";
    }
    void handover()
    {
        QFETCH(QString, lang);
        QFETCH(QString, plan);
        QFETCH(int, code);
        QFETCH(QString, states);
        Folder f;
        QVERIFY(f.make());
        if (lang == "ja")
            for (const char *name : {"message.ini", "dispname.ini"}) {
                QFile::remove(f.path(name));
                QFile::copy(qEnvironmentVariable("QML_DIST") + "/lang/ja/" + name, f.path(name));
            }
        qputenv("QML47210_LANG", lang.toUtf8());
        const auto language = qScopeGuard([] { qunsetenv("QML47210_LANG"); });
        SimPeer units[4];
        for (int i = 0; i < 4; ++i)
            f.link(units[i], i + 1);
        QByteArray text = "[network]\nformat = 1\nsite = 港北 north\nband = 2\nchannel = 11\n"
                          "[node pump-house]\ntype = master\nport = COM1\n[node tank-1]\ntype = slave\nport = COM2\n"
                          "[node tank-2]\ntype = slave\nport = COM3\n[node tank-3]\ntype = slave\nport = COM4\n";
        f.write("plan.ini", text);
        if (plan.isEmpty() || plan == "a fifth") {
            const Result setUp = run(f, {"network", "plan.ini"});
            QCOMPARE(setUp.code, 0);
            SimRecord changed = units[2].unit().record();
            changed.channel = 12;
            units[2].unit().setRecord(changed);
            const Result compared = run(f, {"compare", "plan.ini"});
            QCOMPARE(compared.code, 6);
            // Words for people in the operator's language, the JSON's in English (below).
            const bool ja = lang == "ja";
            QVERIFY2(setUp.out.startsWith(ja ? "pump-house       COM1         検証済み\n" : "pump-house       COM1         verified\n"),
                     setUp.out.constData());
            QVERIFY2(compared.out.contains(ja ? "COM2         一致\n" : "COM2         matches\n"), compared.out.constData());
            QVERIFY2(compared.out.contains(ja ? "COM3         相違あり\n" : "COM3         differs\n"), compared.out.constData());
            const QByteArray history = run(f, {"history"}).out;
            QVERIFY2(history.startsWith(ja ? "時刻 (UTC)           サイト" : "time (UTC)           site"), history.constData());
            QVERIFY2(history.contains(ja ? "比較          相違あり" : "compare  differs"), history.constData());
        }
        QStringList names{"pump-house", "tank-1", "tank-2", "tank-3"};
        if (plan == "a fifth") {
            names << "<b onmouseover=\"x()\">tank-4</b>";
            f.write("plan.ini", text + "[node " + names.last().toUtf8() + "]\ntype = slave\n");
        }
        if (plan == "two masters")
            f.write("plan.ini", text.replace("type = slave", "type = master"));
        const QString today = QDate::currentDate().toString("yyyyMMdd");
        const QStringList off{"--site-book", "off"};
        const Result r = run(f, (plan == "book off" ? off : QStringList()) + QStringList{"--json", "handover", "plan.ini"});
        QVERIFY2(r.code == code, r.out + r.err);
        if (code) { // nothing half made
            QCOMPARE(r.json().value("reason").toString(), states);
            QCOMPARE(QDir(f.dir.path()).entryList({"handover-*"}), QStringList());
            return;
        }
        QStringList got;
        for (const QJsonValue &u : r.json().value("units").toArray())
            got << u.toObject().value("state").toString();
        QCOMPARE(got.join(' '), states);
        const QString file = r.json().value("file").toString();
        QCOMPARE(file, f.path("handover-港北 north-" + today + ".html"));
        QFile in(file);
        QVERIFY(in.open(QIODevice::ReadOnly));
        const QString html = QString::fromUtf8(in.readAll());
        // Self-contained: nothing fetched, nothing run, links only within the page.
        for (const char *never : {"<script", "src=", "url(", "@import", "<link", "<b onmouseover"})
            QVERIFY2(!html.contains(never, Qt::CaseInsensitive), never);
        for (auto m = QRegularExpression("href\\s*=\\s*\"([^\"]*)\"").globalMatch(html); m.hasNext();) {
            const QString target = m.next().captured(1);
            QVERIFY2(target.startsWith('#') && html.contains("id=\"" + target.mid(1) + "\""), qPrintable(target));
        }
        const Result there = run(f, {"handover", "plan.ini"});
        QVERIFY2(there.code == 1 && there.err.contains("--force"), there.err.constData());
        QCOMPARE(run(f, {"handover", "plan.ini", "--force", "--out", "again.html"}).code, 0);
        const Result folder = run(f, {"handover", "plan.ini", "--force", "--out", "."});
        QVERIFY2(folder.code == 1 && (lang != "en" || folder.err.contains(". is a folder")), folder.err.constData());
        // Never over what it is made from, --force or not.
        QCOMPARE(run(f, {"handover", "plan.ini", "--force", "--out", "sitebook.sqlite"}).code, 1);
        QVERIFY(f.read("sitebook.sqlite").startsWith("SQLite format 3"));
        QVERIFY(PrintToPdf(file, f.path("handover.pdf")).isEmpty());
        const QStringList pages = PdfText(f.path("handover.pdf")).split('\f');
        QHash<QString, QString> words{{"verified", "verified"}, {"differs", "differs"}, {"not-set-up", "not set up"},
                                      {"meant", "meant 11"}, {"when verified", "\nVerified\n"}, {"program", "Program"}};
        if (lang == "ja")
            words = {{"verified", "検証済み"}, {"differs", "相違あり"}, {"not-set-up", "未設定"}, {"meant", "指定 11"},
                     {"when verified", "\n検証\n"}, {"program", "プログラム"}};
        QVERIFY2(pages.first().contains("港北 north") && pages.first().contains(words["program"])
                     && pages.first().contains(ProgramVersion()),
                 qPrintable(pages.first()));
        for (int i = 0; i < names.size(); ++i) // a page a unit, after the network's: when verified, if it is
            QVERIFY2(pages.value(1 + i).contains(names.at(i)) && pages.value(1 + i).contains(words[got.at(i)])
                         && pages.value(1 + i).contains(words["when verified"]) == (got.at(i) == "verified"),
                     qPrintable(pages.value(1 + i)));
        // What the program said of tank-2 is its difference: said once.
        QCOMPARE(pages.value(3).count(words["meant"]), 1);
        const QStringList role{lang == "ja" ? "マスター" : "master", lang == "ja" ? "スレーブ" : "slave"};
        // The codes come one after another in no set order: each label's text
        // once, and nothing else.
        QByteArray read; // the labels' pages: after the units', before the sign-off's (the text ends in a form feed)
        for (int page = 2 + int(names.size()); page < pages.size() - 1; ++page)
            read += QrCodesOnPage(f.path("handover.pdf"), page);
        for (int i = 0; i < names.size(); ++i) {
            const QByteArray meant = QStringList{names.at(i), role.at(i ? 1 : 0),
                                                 lang == "ja" ? "バンド 2 / チャンネル 11" : "band 2 / channel 11",
                                                 "港北 north", QDate::currentDate().toString(Qt::ISODate)}
                                         .join('\n').toUtf8();
            QVERIFY2(read.contains(meant), meant + "\nnot in:\n" + read);
            read.remove(read.indexOf(meant), meant.size());
        }
        QCOMPARE(read, QByteArray());
    }

    // Backups and a network report from before the book: taken in once
    // however often imported, and a backup taken in puts the unit back.
    void historyImport()
    {
        Folder f;
        QVERIFY(f.make());
        SimPeer peer;
        f.link(peer);
        const QString held = peer.unit().reg(12);
        f.write("site.ini", "[unit]\nformat = 1\n[record]\nband = 2\n[registers]\n12 = AB\n");
        f.write("site2.ini", "[unit]\nformat = 1\n[record]\nband = 3\n[registers]\n12 = CD\n");
        QCOMPARE(run(f, {"--site-book", "off", "apply", "site.ini"}).code, 0);
        const QStringList backups = QDir(f.path("backups")).entryList({"backup-*.ini"});
        QCOMPARE(backups.size(), 1);
        // A later apply's backup is in the book already, with its entry.
        const QStringList book{"--site-book", f.path("book.sqlite")};
        const QString applied = run(f, book + QStringList{"--json", "apply", "site2.ini"})
                                    .json().value("site_book").toObject().value("id").toString();
        QVERIFY(!applied.isEmpty());
        NetworkReport report;
        report.finished = QDateTime::currentDateTimeUtc();
        report.plan = "/gone/pump-house.ini"; // the plan's file name, its site no longer known
        report.units.resize(2);
        report.units[0].name = "pump";
        report.units[0].state = NetworkUnitResult::Verified;
        report.units[0].after = QJsonObject{{"band", 2}};
        // A set-up's backup is its unit's entry, not one of its own.
        report.units[0].backup = f.path("backups/" + backups.first());
        report.units[1].name = "tank"; // never come to: no entry
        f.write("backups/network-20240301-100000-1.json", report.toJson());
        // A report whose plan is still there as it ran: filed under the plan's site.
        const QByteArray plan = "[network]\nformat = 1\nsite = North\nband = 2\nchannel = 11\n[node pump]\ntype = master\n";
        f.write("plan.ini", plan);
        report.plan = f.path("plan.ini");
        report.planSha256 = PlanDigest(QString::fromUtf8(plan));
        report.units.resize(1);
        report.units[0].backup.clear();
        f.write("backups/network-20240302-100000-1.json", report.toJson());
        // Its unit's run recorded itself a minute after the report's end, the latest that counts as during it.
        SiteBookEntry live = SiteBookEntry::begin("network");
        live.time = report.finished.addSecs(60);
        live.site = "North";
        live.unit = "pump";
        live.planSha256 = report.planSha256;
        QVERIFY(SiteBook(fileBook(f.path("book.sqlite"))).record(live).recorded);
        const QStringList import = book + QStringList{"history", "import", "backups"};
        Result r = run(f, import);
        QCOMPARE(r.code, 0);
        QCOMPARE(r.out, QByteArray("Entries taken into the site book: 1; already there: 3\n"));
        r = run(f, import);
        QCOMPARE(r.out, QByteArray("Entries taken into the site book: 0; already there: 4\n"));
        f.write("backups/backup-zz.ini", "[unit]\nformat = 9\n");
        // A byte too many, though what fits would read as a file.
        f.write("backups/backup-zzz.ini", "[unit]\nformat = 1\n#" + QByteArray(ConfigFileLimit, ' '));
        r = run(f, import);
        QCOMPARE(r.code, 1);
        QVERIFY2(r.err.contains("backup-zz.ini: not taken in: ") && r.err.contains("backup-zzz.ini: not taken in: too large")
                     && r.err.endsWith("Entries taken into the site book: 0; already there: 4\n"),
                 r.err.constData());

        const QJsonArray entries = run(f, book + QStringList{"history", "--json"})
                                       .json().value("entries").toArray();
        QCOMPARE(entries.size(), 3);
        QJsonObject taken;
        QStringList sites;
        for (const QJsonValue &e : entries)
            if (e.toObject().value("action") == "network") {
                sites << e.toObject().value("site").toString();
                if (!e.toObject().value("backup").toString().isEmpty())
                    taken = e.toObject();
            }
        sites.sort();
        QCOMPARE(sites, QStringList({"North", "pump-house.ini"}));
        QCOMPARE(taken.value("backup").toString(), f.path("backups/" + backups.first()));
        // Each backup as a file apply takes: the unit as each run found it.
        for (const auto &[id, band, reg] : {std::tuple{applied, 2, QString("AB")}, {taken.value("id").toString(), 1, held}}) {
            QCOMPARE(run(f, book + QStringList{"history", "backup", "--force", id, "restore.ini"}).code, 0);
            QCOMPARE(run(f, {"--site-book", "off", "apply", "restore.ini"}).code, 0);
            QCOMPARE(peer.unit().record().band, band);
            QCOMPARE(peer.unit().reg(12), reg);
        }
    }

    void help()
    {
        Folder f;
        QVERIFY(f.make());
        const Result all = run(f, {"--help"});
        QCOMPARE(all.code, 0);
        QVERIFY(all.out.contains("Commands:") && all.out.contains("Exit codes:"));
        // Each command's summary in one column.
        QVERIFY2(QRegularExpression("\n  info {24}\\S").match(QString::fromUtf8(all.out)).hasMatch(),
                 all.out.constData());
        const Result one = run(f, {"reg", "--help"});
        QCOMPARE(one.code, 0);
        QVERIFY(one.out.startsWith("Usage: qmlsetup [options] reg get NN | reg set NN VV"));
        // The plan's example as a plan is written, its comments left out, a blank line between sections.
        const Result network = run(f, {"network", "--help"});
        QVERIFY2(network.out.contains("\n    format = 1\n") && network.out.contains("\n    flow = none\n\n    [node pump-house]\n"),
                 network.out.constData());
        // A synopsis too long for its column: the summary in the column below it.
        QVERIFY2(all.out.contains("\n  history [show ID | backup ID FILE | import FOLDER]\n" + QByteArray(30, ' ') + "Lists"),
                 all.out.constData());
        // A command's own options in the manual page as a list, its text after them in its paragraph.
        const Result manual = run(f, {"--manual"});
        QVERIFY2(manual.out.contains(".B write KEY=VALUE...\nChanges fields of the settings record, writes and verifies it.\n.IP\nThe fields not named"),
                 manual.out.constData());
        QVERIFY2(manual.out.contains("\n.RS\n.TP\n.B \\-\\-site S, \\-\\-name N\nentries of that site, of that unit\n"
                                     ".TP\n.B \\-\\-device P\n")
                     && manual.out.contains("begins with '\n.RE\n.IP\nThe filters match"),
                 manual.out.constData());
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

        ApplySimCommand(units[0], "delay 150"); // 30 exchanges: the port is held for 4 s
        units[0].clearReceived();
        QProcess holder;
        start(holder, f, {"save", "held.ini", "--port", "COM1"}, "1"); // no time-out meanwhile
        QVERIFY(waitUntil([&] { return units[0].receivedLines().contains("@KZ9R"); }, 5000));
        const Result second = run(f, {"read", "--port", "COM1"});
        QCOMPARE(second.code, 3);
        QVERIFY2(second.err.contains("in use") && second.err.contains("qmlsetup"), second.err.constData());
        // The same device under another name is the same device.
        QVERIFY(QFile::link(units[0].slavePath(), f.path("alias")));
        const Result third = run(f, {"read", "--port", f.path("alias")});
        QCOMPARE(third.code, 3);
        QVERIFY2(third.err.contains("in use") && third.err.contains("qmlsetup"), third.err.constData());
        QCOMPARE(finish(holder).code, 0);
    }

    // What is printed is all there or the run failed; --json in every form
    // and for every outcome; Qt's own window options open the window.
    void outputAndOptions_data()
    {
        QTest::addColumn<QStringList>("args");
        // "full": standard output a full disk; "alone": no window program; "book away": a folder
        // in the site book's place
        QTest::addColumn<QString>("out");
        QTest::addColumn<int>("code");    // -1: the window opened (still running)
        QTest::addColumn<QString>("json"); // a key of the one JSON document, or none
        QTest::newRow("output on a full disk") << QStringList{"--json", "info"} << "full" << 1 << "";
        QTest::newRow("--json=1") << QStringList{"--json=1", "read"} << "" << 0 << "record";
        QTest::newRow("the site book away") << QStringList{"--json", "read"} << "book away" << 0 << "site_book";
        QTest::newRow("--json=true") << QStringList{"--json=true", "read"} << "" << 0 << "record";
        QTest::newRow("--json and --help") << QStringList{"--json", "--help"} << "" << 0 << "help";
        QTest::newRow("--json, a bad command") << QStringList{"--json", "frobnicate"} << "" << 2 << "message";
        QTest::newRow("a slow unit's apply, a terminal") << QStringList{"apply", "site.ini"} << "terminal" << 0 << "";
        QTest::newRow("--progress, no terminal") << QStringList{"--progress", "apply", "site.ini"} << "slow" << 0 << "";
        QTest::newRow("no --progress, no terminal") << QStringList{"apply", "site.ini"} << "slow" << 0 << "";
        QTest::newRow("-platform: the window") << QStringList{"-platform", "offscreen"} << "" << -1 << "";
        QTest::newRow("no window program beside it") << QStringList{} << "alone" << 1 << "";
        QTest::newRow("-style and -session: the window")
            << QStringList{"-platform", "offscreen", "-style=fusion", "-session", "1234_5"} << "" << -1 << "";
        QTest::newRow("-stylesheet=FILE: the window")
            << QStringList{"-platform", "offscreen", "-stylesheet=plain.qss"} << "" << -1 << "";
    }
    void outputAndOptions()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, out);
        QFETCH(int, code);
        QFETCH(QString, json);
        Folder f;
        QVERIFY(f.make());
        SimPeer peer;
        f.link(peer);
        QProcess p;
        if (out == "full")
            p.setStandardOutputFile("/dev/full");
        if (out == "alone")
            QVERIFY(QFile::remove(f.path("qmlsetup-window")));
        if (out == "book away")
            QVERIFY(QDir().mkdir(f.path("sitebook.sqlite")));
        f.write("site.ini", "[unit]\nformat = 1\n[record]\nband = 2\n[registers]\n12 = AB\n");
        if (out == "terminal" || out == "slow") { // 34 exchanges, each 30 ms
            ApplySimCommand(peer, "delay 30");
            // Time-outs of 700 ms: at 70 ms a busy machine makes a 30 ms answer late.
            const Result r = out == "terminal" ? runOnTerminal(f, args, "0.1") : run(f, args, "0.1");
            QCOMPARE(r.code, code);
            QVERIFY2(r.out.startsWith("Applied and verified"), r.out.constData());
            const QString err = QString::fromUtf8(r.err).replace(QRegularExpression("about \\d+ s left"), "T");
            const QString first = "COM1: Reading the unit's configuration (exchange 1 of 34)"; // nothing known of time
            if (out == "terminal")
                QVERIFY2(err.startsWith("\r" + first + "\x1b[K\n\x1b[J\x1b[1A\rCOM1: Reading the unit's "
                                        "configuration (exchange 2 of 34, T)\x1b[K\n")
                             && err.endsWith("\x1b[1A\rCOM1: Verifying (exchange 34 of 34, T)\x1b[K\n\x1b[J"),
                         qPrintable(err));
            else
                QCOMPARE(err, args.contains("--progress") ? first + "\nCOM1: Writing to the unit (exchange 31 of 34, T)"
                                                          "\nCOM1: Verifying (exchange 33 of 34, T)\n"
                                                        : QString());
            return;
        }
        start(p, f, args);
        if (code == -1) { // a window waits for its operator
            QVERIFY(!waitUntil([&] { return p.state() == QProcess::NotRunning; }, 1500));
            p.kill();
            p.waitForFinished();
            QVERIFY2(!p.readAllStandardError().contains("unknown option"), "taken for a command line");
            return;
        }
        const Result r = finish(p);
        QCOMPARE(r.code, code);
        if (out == "alone") // said in the operator's language, naming the file
            QVERIFY2(r.err.startsWith("qmlsetup: The window program cannot be started: "
                                      + f.path("qmlsetup-window").toUtf8() + ": "),
                     r.err.constData());
        if (!json.isEmpty()) {
            QJsonParseError error;
            const QJsonObject doc = QJsonDocument::fromJson(r.out, &error).object();
            QCOMPARE(error.error, QJsonParseError::NoError);
            QVERIFY(doc.contains(json));
            QCOMPARE(doc.value("exit").toInt(), code);
        }
        if (out == "book away") { // the run stands; the entry waits, and says where
            const QString pending = f.path("sitebook-pending.jsonl");
            QVERIFY2(r.err.startsWith("site book: not recorded (a folder stands in the site book's place: "),
                     r.err.constData());
            QVERIFY2(r.err.endsWith("; kept for later in " + pending.toUtf8() + "\n"), r.err.constData());
            QCOMPARE(QJsonDocument::fromJson(r.out).object().value("site_book").toObject().value("recorded"),
                     QJsonValue(false));
            QCOMPARE(f.read("sitebook-pending.jsonl").count('\n'), 1);
        }
    }

    // A port that does not open: the reason as a code beside the message, for
    // programs; a port that is not there points to the list of ports.
    void portFailures_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("reason"); // the JSON's reason
        QTest::newRow("no such port") << "missing" << 2 << "missing";
        QTest::newRow("no serial port") << "/dev/null" << 2 << "not-serial";
        QTest::newRow("in use") << "in use" << 3 << "in-use";
    }
    void portFailures()
    {
        QFETCH(QString, how);
        QFETCH(int, code);
        QFETCH(QString, reason);
        Folder f;
        QVERIFY(f.make());
        SimPeer peer;
        f.link(peer);
        CommControl holder; // another program has the device
        if (how == "in use") {
            holder.setDevicePath(peer.slavePath());
            QVERIFY(holder.setPortOpen(true));
        }
        const QString port = how == "missing" ? "/dev/no-such-tty" : how == "in use" ? "COM1" : how;
        const Result r = run(f, {"--json", "--port", port, "read"});
        QCOMPARE(r.code, code);
        const QJsonObject doc = r.json();
        QCOMPARE(doc.value("reason").toString(), reason);
        if (how != "in use") // where to look, and no usage line: the command was right
            QVERIFY2(doc.value("message").toString().endsWith("see: qmlsetup ports"), r.out.constData());
        else // said as the window says it, then why
            QVERIFY2(doc.value("message").toString().startsWith("The serial port could not be opened.\n"), r.out.constData());
    }

    // A disk that takes no more: the backup cannot be written, nothing is
    // sent, and no empty backup file is left behind.
    void fullDiskLeavesNoBackup()
    {
        Folder f;
        QVERIFY(f.make());
        SimPeer peer;
        f.link(peer);
        f.write("site.ini", "[unit]\nformat = 1\n[registers]\n12 = AB\n");
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove("DISPLAY");
        env.insert("QML_TIME_SCALE", "0.01");
        p.setProcessEnvironment(env);
        p.setWorkingDirectory(f.dir.path());
        // No file may grow past 1 KiB (the port's lock file is smaller, a backup
        // larger); the signal that would end the run
        // instead is ignored, so writes fail as on a full disk.
        p.start("bash", {"-c", "trap '' XFSZ; ulimit -f 1; exec ./qmlsetup apply site.ini"});
        const Result r = finish(p);
        QCOMPARE(r.code, 1);
        QVERIFY2(r.err.contains("File too large"), r.err.constData()); // the system's own reason
        QCOMPARE(QDir(f.path("backups")).entryList(QDir::Files), QStringList());
        const auto lines = peer.receivedLines();
        QVERIFY(!lines.isEmpty() && !lines.contains("@KZ9S12AB"));
    }

    // A command runs on Qt Core and Serial Port alone; without one, the same
    // process becomes the window.
    void windowLibrariesOnlyInTheWindow_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<bool>("window");
        QTest::newRow("info waiting for the unit") << QStringList{"info"} << false;
        QTest::newRow("reg get waiting for the unit") << QStringList{"reg", "get", "05"} << false;
        QTest::newRow("no command: the window") << QStringList{} << true;
        QTest::newRow("Qt's options: the window") << QStringList{"-style", "fusion"} << true;
    }
    void windowLibrariesOnlyInTheWindow()
    {
        QFETCH(QStringList, args);
        QFETCH(bool, window);
        Folder f;
        QVERIFY(f.make());
        Pty unit; // a unit that never answers
        QVERIFY(unit.linkAs(f.dir.path() + "/", 1));
        QProcess p;
        QProcessEnvironment env = withoutDisplay("1");
        if (window)
            env.insert("QT_QPA_PLATFORM", "offscreen");
        p.setProcessEnvironment(env);
        p.setWorkingDirectory(f.dir.path());
        p.start(f.path("qmlsetup"), args);
        QVERIFY(p.waitForStarted());
        // The process and every process it started.
        const auto maps = [&] {
            QByteArray all;
            QList<qint64> pids{p.processId()};
            while (!pids.isEmpty()) {
                const qint64 pid = pids.takeFirst();
                QFile m(QStringLiteral("/proc/%1/maps").arg(pid));
                if (m.open(QIODevice::ReadOnly))
                    all += m.readAll();
                for (const QString &task : QDir(QStringLiteral("/proc/%1/task").arg(pid)).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
                    QFile c(QStringLiteral("/proc/%1/task/%2/children").arg(pid).arg(task));
                    if (c.open(QIODevice::ReadOnly))
                        for (const QByteArray &child : c.readAll().split(' '))
                            if (child.trimmed().toLongLong() > 0)
                                pids << child.trimmed().toLongLong();
                }
            }
            return all;
        };
        if (window) {
            QVERIFY(waitUntil([&] { return maps().contains("libQt6Widgets"); }, 10000, 50));
            // Its command line is the window program's and the words given, nothing more.
            QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(p.processId()));
            QVERIFY(cmdline.open(QIODevice::ReadOnly));
            const QStringList words = QStringList{QFileInfo(f.path("qmlsetup-window")).canonicalFilePath()} + args;
            QCOMPARE(cmdline.readAll(), words.join(QChar(0)).toUtf8() + '\0');
        } else {
            QVERIFY(!unit.readAll(5000).isEmpty()); // sent, now waiting for the answer
            const QByteArray m = maps();
            QVERIFY(m.contains("libQt6SerialPort"));
            for (const char *library : {"libQt6Widgets", "libQt6Gui", "libX11", "libxcb", "libfontconfig",
                                        "libharfbuzz", "libfreetype"})
                QVERIFY2(!m.contains(library), library);
        }
        QCOMPARE(p.state(), QProcess::Running);
        p.kill();
        p.waitForFinished();
    }

    // A unit that answers after a run has given up: the answer is not the
    // next run's.
    void lateAnswerIsNotTheNextRuns()
    {
        Folder f;
        QVERIFY(f.make());
        SimPeer peer;
        f.link(peer);
        ApplySimCommand(peer, "delay 150"); // past the run's 70 ms
        const Result first = run(f, {"info"});
        QCOMPARE(first.code, 4);
        QVERIFY(waitUntil([&] { return peer.sentBytes() > 0; }, 2000)); // the late answer is on the line
        ApplySimCommand(peer, "silent on");
        const Result second = run(f, {"info"});
        QCOMPARE(second.code, 4);
    }
};

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_commandline.moc"
