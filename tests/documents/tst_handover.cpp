// What the handover document says of each unit, from a real SQLite site
// book holding entries as runs leave them, and the words it is written with.
#include "config/modFile.h"
#include "documents/Handover.h"
#include "documents/HandoverText.h"
#include "records/SiteBook.h"
#include "support/TestSupport.h"

#include <QTemporaryDir>
#include <QTest>

namespace {

const QString PlanText = "[network]\nformat = 1\nsite = North\nband = 2\nchannel = 11\n[node pump]\ntype = master\n"
                         "[node tank-1]\ntype = slave\nbit-rate = 19200\n";

// "UNIT ACTION RESULT CHANNEL [site=S] [pending]": a compare keeps what it
// read as before, a set-up what it read back as after (one that failed, what
// the unit held before it); CHANNEL "-" when nothing was read.
SiteBookEntry entryOf(const QString &row, int second)
{
    const QStringList w = row.split(' ');
    SiteBookEntry e = SiteBookEntry::begin(w.at(1));
    e.time = QDateTime(QDate(2026, 3, 1), QTime(8, 0)).addSecs(second);
    e.unit = w.at(0);
    e.site = row.contains("site=") ? row.section("site=", 1).section(' ', 0, 0) : "North";
    e.result = w.at(2);
    if (e.result == "failed")
        e.detail = "no answer from the unit";
    if (e.action == "network" && e.result == "verified")
        e.setBackup("/backups/backup-tank.ini", "[unit]\nformat = 1\n");
    const bool master = w.at(0) == "pump";
    const QJsonObject read{{"band", "2"}, {"channel", w.at(3)}, {"type", master ? "master" : "slave"},
                           {"bit-rate", master ? "9600" : "19200"}};
    if (w.at(3) != "-")
        (e.action == "compare" || e.result == "failed" ? e.before : e.after) = read;
    return e;
}

} // namespace

class TestHandover : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        app().ShippedTextDir = qEnvironmentVariable("QML_DIST") + "/lang/en/";
        ReadMessageIni();
    }

    void states_data()
    {
        QTest::addColumn<QStringList>("entries"); // oldest first
        QTest::addColumn<QString>("states");      // pump's, tank-1's
        QTest::addColumn<QString>("checks");      // the checks across the units; "": not looked at
        QTest::newRow("set up, verified") << QStringList{"pump network verified 11", "tank-1 network verified 11"}
                                          << "verified verified"
                                          << "Exactly one master, as read back: yes (pump)\nOne band and one channel, "
                                             "as read back: yes (band 2 / channel 11)";
        QTest::newRow("a later compare that differs wins")
            << QStringList{"pump network verified 11", "tank-1 network verified 11", "tank-1 compare differs 12"}
            << "verified differs"
            << "Exactly one master, as read back: yes (pump)\nOne band and one channel, as read back: no (band 2 / "
               "channel 11: pump; band 2 / channel 12: tank-1)";
        QTest::newRow("a later compare that matches") << QStringList{"tank-1 network differs 12", "tank-1 compare verified 11"}
                                                      << "not-set-up verified"
                                                      << "Exactly one master, as read back: no (-)\nOne band and one "
                                                         "channel, as read back: yes (band 2 / channel 11)";
        QTest::newRow("an older compare is not the state")
            << QStringList{"tank-1 compare differs 12", "tank-1 network verified 11"} << "not-set-up verified" << "";
        QTest::newRow("a set-up that failed") << QStringList{"tank-1 network failed 5"} << "not-set-up failed"
                                              << "Exactly one master, as read back: no (-)\nOne band and one channel, "
                                                 "as read back: no (-)";
        QTest::newRow("a later compare that could not read")
            << QStringList{"tank-1 network verified 11", "tank-1 compare failed -"} << "not-set-up failed" << "";
        QTest::newRow("verified, but not what the plan means now") << QStringList{"tank-1 network verified 5"}
                                                                   << "not-set-up differs" << "";
        QTest::newRow("a later compare waiting to go in")
            << QStringList{"tank-1 network verified 11", "tank-1 compare differs 12 pending"} << "not-set-up differs" << "";
        QTest::newRow("the plan's first unit set up, waiting to go in")
            << QStringList{"tank-1 read read 11", "pump network verified 11 pending"} << "verified not-set-up" << "";
        QTest::newRow("a compare alone is no set-up") << QStringList{"tank-1 compare verified 11"}
                                                      << "not-set-up not-set-up" << "";
        QTest::newRow("the site in another case") << QStringList{"tank-1 network verified 11 site=north"}
                                                  << "not-set-up not-set-up" << "";
        QTest::newRow("the name in another form") << QStringList{"ＴＡＮＫ-1 network verified 11"}
                                                  << "not-set-up verified" << "";
        QTest::newRow("a read of the unit alone") << QStringList{"tank-1 read read 11"} << "not-set-up not-set-up" << "";
        QStringList many{"pump network verified 11", "tank-1 network verified 11"}; // a page and more back
        for (int i = 0; i < 1001; ++i)
            many << "pump compare differs 12";
        QTest::newRow("the set-up a page back") << many << "differs verified" << "";
    }
    void states()
    {
        QFETCH(QStringList, entries);
        QFETCH(QString, states);
        QFETCH(QString, checks);
        // A thousand synced entries, cheap in memory.
        QTemporaryDir dir((QFileInfo::exists("/dev/shm") ? "/dev/shm" : QDir::tempPath()) + "/handover-XXXXXX");
        SiteBookPlace place;
        place.kind = SiteBookPlace::File;
        place.path = dir.filePath("book.sqlite");
        place.pendingPath = dir.filePath("pending.jsonl");
        SiteBook book(place);
        QString reason;
        for (int i = 0; i < entries.size(); ++i)
            QVERIFY(entries.at(i).endsWith("pending") ? KeepPending(place.pendingPath, entryOf(entries.at(i), i), &reason)
                                                      : book.record(entryOf(entries.at(i), i)).recorded);
        ConfigFileError error;
        const auto plan = ParseNetworkPlan(PlanText, &error);
        QVERIFY(plan);
        const auto h = GatherHandover(book, *plan, "plan.ini", PlanText, &reason);
        QVERIFY2(h, qPrintable(reason));
        static const char *const names[] = {"verified", "differs", "failed", "not-set-up"};
        QStringList got;
        for (const HandoverUnit &u : h->units)
            got << names[u.state];
        QCOMPARE(got.join(' '), states);
        if (!checks.isEmpty())
            QCOMPARE(HandoverChecks(*h).join('\n'), checks);
        QCOMPARE(h->site, QString("North"));
        // A failure said in plain words, under its heading.
        const bool failed = states.contains("failed");
        const QString html = HandoverHtml(*h);
        QCOMPARE(html.contains("What the program said</h3>\n<pre>no answer from the unit"), failed);
        QVERIFY(!html.contains("≠ -")); // what was not read differs from nothing
        // The backup's file name where a set-up taken kept one, and no empty line where none.
        const bool backup = entries.join(' ').contains("network verified") && states != "not-set-up not-set-up";
        QCOMPARE(html.contains("<tr><th>Backup</th><td>backup-tank.ini<br>SHA-256 "), backup);
        QCOMPARE(html.contains("<th>Backup</th>"), backup);
    }

    // The words the document is written with, from the texts it is given.
    void texts_data()
    {
        QTest::addColumn<QString>("what"); // esc, file name, serial (settings as KEY=VALUE)
        QTest::addColumn<QString>("in");
        QTest::addColumn<QString>("out");
        QTest::newRow("markup") << "esc" << "<b a=\"1\">&" << "&lt;b a=&quot;1&quot;&gt;&amp;";
        QTest::newRow("what a page cannot show") << "esc" << "a\x1b[0m\u0085\u202Eb" << "a\uFFFD[0m\uFFFD\uFFFDb";
        QTest::newRow("kept as they are") << "esc" << "tank\u00A01\ttab\nline ü 港" << "tank\u00A01\ttab\nline ü 港";
        QTest::newRow("a site") << "file name" << "Harbour pumps" << "handover-Harbour pumps-20260301.html";
        QTest::newRow("what a name cannot hold") << "file name" << "a/b\\c:d*e?f\"g<h>i|j\x01k\x7f\u202E\u2028l m"
                                                 << "handover-a_b_c_d_e_f_g_h_i_j_k___l m-20260301.html";
        QTest::newRow("no site") << "file name" << "" << "handover-_-20260301.html";
        QTest::newRow("never hidden") << "file name" << ".." << "handover-_..-20260301.html";
        QTest::newRow("a long site") << "file name" << QString(60, QChar(0x6E2F))
                                     << "handover-" + QString(50, QChar(0x6E2F)) + "-20260301.html";
        QTest::newRow("a long site ending between halves of a character")
            << "file name" << QString(49, 'x') + QString::fromUtf8("😀") << "handover-" + QString(49, 'x') + "-20260301.html";
        QTest::newRow("serial settings") << "serial" << "bit-rate=19200 data-length=8 parity=even stop-bits=1 flow=none"
                                         << "19200 bps 8E1";
        QTest::newRow("with flow control") << "serial" << "bit-rate=9600 data-length=7 parity=odd stop-bits=2 flow=rts-cts"
                                           << "9600 bps 7O2 RTS/CTS";
        QTest::newRow("the flow control not known") << "serial" << "bit-rate=2400 data-length=8 parity=none stop-bits=1"
                                                    << "2400 bps 8N1";
        QTest::newRow("the bit rate alone") << "serial" << "bit-rate=4800 parity=even" << "4800 bps";
        QTest::newRow("nothing known") << "serial" << "data-length=8 parity=none stop-bits=1" << "";
    }
    void texts()
    {
        QFETCH(QString, what);
        QFETCH(QString, in);
        QFETCH(QString, out);
        if (what == "esc")
            QCOMPARE(Esc(in), out);
        if (what == "file name")
            QCOMPARE(HandoverFileName(in, QDate(2026, 3, 1)), out);
        if (what == "serial") {
            QJsonObject settings;
            for (const QString &kv : in.split(' '))
                settings.insert(kv.section('=', 0, 0), kv.section('=', 1));
            QCOMPARE(SerialText(RecordOfSettings(settings)), out);
        }
    }
};

QTEST_GUILESS_MAIN(TestHandover)
#include "tst_handover.moc"
