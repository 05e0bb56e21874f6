// Network plans: what each unit is to hold, and every plan refused with its
// line and reason before anything could be sent.

#include "protocol/NetworkPlan.h"
#include "support/TestSupport.h"

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
        QTest::newRow("a unit without a port") << head + "[node a]\ntype = master\n"
                                               << "a - band=2 channel=11 type=master bit-rate=19200";
        QTest::newRow("no master") << head + "[node a]\ntype = slave\n[node b]\ntype = slave\n"
                                   << "line 0: 133 ";
        QTest::newRow("two masters") << head + "[node a]\ntype = master\n[node b]\ntype = master\n"
                                     << "line 0: 134 ";
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
        QTest::newRow("a key twice") << head + "[node a]\ntype = master\ntype = slave\n" << "line 8: 78 type";
        QTest::newRow("a node without a name") << head + "[node]\ntype = master\n" << "line 6: 75 [node]";
        QTest::newRow("a key before any section") << "band = 1\n" + head << "line 1: 76 band = 1";
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
};

QTEST_MAIN(TestNetworkPlan)
#include "tst_networkplan.moc"
