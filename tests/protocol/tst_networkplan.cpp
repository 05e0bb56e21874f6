// Network plans: what each unit is to hold, and every plan refused with its
// line and reason before anything could be sent.

#include "config/modFile.h"
#include "protocol/NetworkPlan.h"
#include "protocol/NetworkSetup.h"
#include "support/TestSupport.h"

#include <QRegularExpression>
#include <QTest>

class TestNetworkPlan : public QObject {
    Q_OBJECT
private slots:
    void plans_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("read"); // each unit's name, port and fields; or "line N: message detail"
        const QString head = "[network]\nformat = 1\nband = 2\nchannel = 11\nbit-rate = 19200\n";
        QTest::newRow("a master and a slave, one override")
            << head + "[node pump-house]\ntype = master\nport = COM1\n"
                      "[node tank-1]   # the first tank\ntype = slave\nport = /dev/serial/by-id/usb-X\nbit-rate = 9600\n"
            << "pump-house COM1 band=2 channel=11 type=master bit-rate=19200; "
               "tank-1 /dev/serial/by-id/usb-X band=2 channel=11 type=slave bit-rate=9600";
        QTest::newRow("comments after a blank, # and ; inside a value") << head + "[node a]\ntype = master ; the hub\n"
                                                                    "port = /dev/serial/by-id/usb-A#1;2\t# tab\n"
            << "a /dev/serial/by-id/usb-A#1;2 band=2 channel=11 type=master bit-rate=19200";
        QTest::newRow("a unit without a port") << head + "[node a]\ntype = master\n"
                                               << "a - band=2 channel=11 type=master bit-rate=19200";
        QTest::newRow("no master") << head + "[node a]\ntype = slave\n[node b]\ntype = slave\n"
                                   << "line 0: 133 ";
        QTest::newRow("two masters") << head + "[node a]\ntype = master\n[node b]\ntype = master\n"
                                     << "line 0: 134 a, b";
        QTest::newRow("a unit's own channel") << head + "[node a]\ntype = master\nchannel = 3\n"
                                              << "line 8: 135 channel";
        QTest::newRow("a unit's own band") << head + "[node a]\ntype = master\nband = 1\n"
                                           << "line 8: 135 band";
        QTest::newRow("no unit") << head << "line 0: 136 ";
        QTest::newRow("no channel for the network") << "[network]\nformat = 1\nband = 2\n[node a]\ntype = master\n"
                                                    << "line 0: 137 ";
        QTest::newRow("a unit without a role") << head + "[node a]\nport = COM1\n" << "line 6: 77 type";
        QTest::newRow("a role for the whole network") << head + "type = master\n" << "line 6: 77 type";
        QTest::newRow("channel 24") << "[network]\nformat = 1\nchannel = 24\n[node a]\ntype = master\n"
                                    << "line 3: 79 channel = 24";
        QTest::newRow("no format") << "[network]\nband = 1\n[node a]\ntype = master\n" << "line 0: 74 ";
        QTest::newRow("a unit named twice") << head + "[node a]\ntype = master\n[node A]\ntype = slave\n"
                                            << "line 8: 78 [node A]";
        QTest::newRow("micro sign and mu, one name") << head + "[node µ-relay]\ntype = master\n[node μ-RELAY]\ntype = slave\n"
                                                     << "line 8: 78 [node μ-RELAY]";
        QTest::newRow("a ] in a name") << head + "[node a]b]\ntype = master\n" << "line 6: 231 [node a]b]";
        QTest::newRow("a key twice") << head + "[node a]\ntype = master\ntype = slave\n" << "line 8: 78 type";
        QTest::newRow("a node without a name") << head + "[node]\ntype = master\n" << "line 6: 75 [node]";
        QTest::newRow("a key before any section") << "band = 1\n" + head << "line 1: 76 band = 1";
        const QString all = "band=2 channel=11 type=%1 antenna=single bit-rate=%2 data-length=8 parity=none "
                            "stop-bits=1 flow=none";
        for (const char *name : {"example-plan.ini", "example-plan.ja.ini"}) { // the same plan, commented in each language
            QFile example(qEnvironmentVariable("QML_DIST") + "/../packaging/" + name);
            QTest::newRow(name) << (example.open(QIODevice::ReadOnly) ? QString::fromUtf8(example.readAll()) : QString())
                                << "pump-house COM1 " + all.arg("master", "19200") + "; tank-1 /dev/ttyUSB1 "
                                       + all.arg("slave", "9600") + "; tank-2 - " + all.arg("slave", "19200");
        }
    }
    void plans()
    {
        QFETCH(QString, text);
        QFETCH(QString, read);
        FreshState st;
        ConfigFileError error;
        const auto plan = ParseNetworkPlan(text, &error);
        QString got;
        if (!plan) {
            got = QStringLiteral("line %1: %2 %3").arg(error.line).arg(error.message).arg(error.detail);
        } else {
            QStringList units;
            for (const NetworkUnit &u : plan->units) {
                QStringList fields{u.name, u.port.isEmpty() ? "-" : u.port};
                for (const auto &[key, value] : RecordFields(u.record))
                    fields << key + "=" + value;
                units << fields.join(' ');
            }
            got = units.join("; ");
        }
        QCOMPARE(got, read);
    }

    // A port chosen in the window goes into the plan's text; every other
    // line, comments included, stays.
    void portInPlan_data()
    {
        QTest::addColumn<QString>("unit");
        QTest::addColumn<QString>("port");
        QTest::addColumn<QString>("text"); // the plan after, its lines joined by |
        QTest::newRow("replaced") << "a" << "COM3" << "[node a]|type = master|port = COM3|# b|[node b]|port = COM2";
        QTest::newRow("added") << "b" << "COM4" << "[node a]|type = master|port = COM1|# b|[node b]|port = COM4";
        QTest::newRow("taken out") << "A" << "" << "[node a]|type = master|# b|[node b]|port = COM2";
        QTest::newRow("added to the plan's first section") << "a" << "COM7" << "[node a]|port = COM7|type = master|# b|[node b]|port = COM2";
        QTest::newRow("its name in another form") << "Ａ" << "COM3" << "[node a]|type = master|port = COM3|# b|[node b]|port = COM2";
        QTest::newRow("no such unit") << "c" << "COM5" << "[node a]|type = master|port = COM1|# b|[node b]|port = COM2";
    }
    void portInPlan()
    {
        QFETCH(QString, unit);
        QFETCH(QString, port);
        QFETCH(QString, text);
        QString plan = "[node a]\ntype = master\nport = COM1\n# b\n[node b]\nport = COM2";
        if (unit == "b") // b without a port of its own
            plan.chop(QString("\nport = COM2").size());
        if (port == "COM7") // nor a
            plan.remove("port = COM1\n");
        QCOMPARE(SetUnitPortInPlan(plan, unit, port).replace('\n', '|'), text);
        // Still the same plan: its report stays its own.
        QCOMPARE(PlanDigest(SetUnitPortInPlan(plan, unit, port)), PlanDigest(plan));
    }

    // A run's outcome from its units: the exit code of the first unit in the
    // plan's order that was not verified, and the check across verified units.
    void report_data()
    {
        QTest::addColumn<QStringList>("units"); // "exit band channel type" each, in the plan's order
        QTest::addColumn<int>("code");
        QTest::addColumn<QList<int>>("across");
        QTest::addColumn<QString>("summary");
        QTest::newRow("all verified") << QStringList{"0 2 11 master", "0 2 11 slave"} << 0 << QList<int>() << "2 units: 2 verified";
        QTest::newRow("no answer over a refusal") << QStringList{"0 2 11 master", "5 - - -", "4 - - -"} << 4
                                                  << QList<int>() << "3 units: 1 verified, 1 refused, 1 no answer";
        QTest::newRow("a refusal over a difference") << QStringList{"0 2 11 master", "6 2 11 slave", "5 - - -"} << 5
                                                     << QList<int>() << "3 units: 1 verified, 1 differ, 1 refused";
        QTest::newRow("a stop is the least") << QStringList{"0 2 11 master", "130 - - -", "6 2 11 slave"} << 6
                                             << QList<int>() << "3 units: 1 verified, 1 stopped, 1 differ";
        QTest::newRow("an answer that does not fit") << QStringList{"0 2 11 master", "8 - - -"} << 8 << QList<int>()
                                                     << "2 units: 1 verified, 1 answers that do not fit";
        QTest::newRow("a unit skipped") << QStringList{"0 2 11 master", "skipped - - -"} << 130 << QList<int>()
                                        << "2 units: 1 verified, 1 stopped";
        QTest::newRow("the master's unit set up again as a slave") << QStringList{"X 2 11 master", "0 2 11 slave"} << 1
                                                                   << QList<int>{NetworkMessages::NotOneMaster} << "2 units: 1 verified, 1 failed";
        QTest::newRow("a failed unit that holds master too") << QStringList{"0 2 11 master", "5 2 11 master"} << 5
                                                             << QList<int>{NetworkMessages::NotOneMaster} << "2 units: 1 verified, 1 refused";
        QTest::newRow("the master failed") << QStringList{"5 - - -", "0 2 11 slave"} << 5
                                           << QList<int>{NetworkMessages::NotOneMaster} << "2 units: 1 verified, 1 refused";
        QTest::newRow("verified units that disagree") << QStringList{"0 2 11 master", "0 3 10 slave"} << 6
                                                      << QList<int>{NetworkMessages::BandsDiffer,
                                                                    NetworkMessages::ChannelsDiffer} << "2 units: 2 verified";
        QTest::newRow("two masters verified") << QStringList{"0 2 11 master", "0 2 11 master"} << 6
                                              << QList<int>{NetworkMessages::NotOneMaster} << "2 units: 2 verified";
    }
    void report()
    {
        QFETCH(QStringList, units);
        QFETCH(int, code);
        QFETCH(QList<int>, across);
        QFETCH(QString, summary);
        FreshState st;
        QVERIFY(QFile::copy(qEnvironmentVariable("QML_DIST") + "/lang/en/message.ini", st.path("message.ini")));
        ReadMessageIni();
        NetworkReport r;
        for (const QString &u : units) {
            const QStringList f = u.split(' ');
            NetworkUnitResult result;
            result.name = "unit, \"quoted\"";
            result.takeResult(QJsonObject{{"exit", f[0].toInt()}, {"message", "first\rsecond"}});
            result.port = "@COM1";
            if (f[0] == "skipped") { // as the one-adapter window marks it
                result.state = NetworkUnitResult::Stopped;
                result.exitCode = 1;
                result.reason = "skipped";
            }
            if (f[1] != "-")
                result.after = QJsonObject{{"band", f[1].toInt()}, {"channel", f[2].toInt()}, {"type", f[3]}};
            if (f[0] == "X") // verified, then its unit set up as another
                result.overwrittenBy("b");
            r.units << result;
        }
        r.checkAcrossUnits();
        QCOMPARE(r.exitCode(), code);
        QCOMPARE(r.disagreements, across);
        QCOMPARE(r.summary(), summary);
        // Read back as kept, and as a spreadsheet reads it: one row a unit.
        const auto again = NetworkReport::fromJson(r.toJson());
        QVERIFY(again);
        QCOMPARE(again->exitCode(), code);
        QCOMPARE(again->units.size(), units.size());
        QCOMPARE(r.toCsv().count("\"unit, \"\"quoted\"\"\""), units.size());
        QCOMPARE(r.toCsv().count(",'@COM1,"), units.size()); // text to a spreadsheet, never a formula
        QCOMPARE(r.toCsv().count(",\"first\rsecond\","), units.size() - units.filter(QRegularExpression("^X")).size());
    }
};

QTEST_MAIN(TestNetworkPlan)
#include "tst_networkplan.moc"
