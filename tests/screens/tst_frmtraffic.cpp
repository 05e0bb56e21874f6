// The traffic console beside the settings screen: each read shows its rows
// in order with what the program made of them; noise, an over-long line, a
// time-out and a lost line each their row; a command sent by hand, refused
// while another exchange waits; the latest 10,000 rows kept.

#include "ScreenRig.h"
#include "protocol/TrafficMeaning.h"
#include "screens/frmTraffic.h"
#include "serial/Exchange.h"
#include "serial/mod232C.h"
#include "sim/SimControl.h"

#include <QAction>
#include <QCheckBox>
#include <QFileDialog>
#include <QTableView>

namespace {

void click(QWidget *w) { QTest::mouseClick(w, Qt::LeftButton); }

// The console's rows after `from`: direction, then the line or the meaning's
// message number ("m173") for what matters.
QStringList rowsFrom(const frmTraffic &t, int from)
{
    QStringList rows;
    for (int n = from; n < t.shownRows(); ++n) {
        const QStringList cells = t.shownRowText(n).split('\t');
        rows << cells.value(1) + " " + cells.value(3).section(' ', 0, 0);
    }
    return rows;
}

frmTraffic *trafficWindow()
{
    for (QWidget *w : QApplication::topLevelWidgets())
        if (auto *t = qobject_cast<frmTraffic *>(w))
            return t;
    return nullptr;
}

} // namespace

class TestTrafficConsole : public QObject {
    Q_OBJECT
private slots:
    void rows_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("rows"); // after the read button, the link poll hidden
        QTest::newRow("a read") << "" << "→ m173|← m167";
        // The screen takes the first line for its answer, as it always did.
        QTest::newRow("noise before the answer") << "noise hello" << "→ m173|← m171";
        QTest::newRow("an over-long line") << "long" << "→ m173|· m184|← m167";
        QTest::newRow("no answer") << "silent on" << "→ m173|· m183";
        QTest::newRow("the line lost") << "drop" << "→ m173|· m182";
        QTest::newRow("an adapter that echoes") << "echo on" << "→ m173|↩ m191|← m167";
        // The echo comes at once, the answer later: the screen waits on for it.
        QTest::newRow("an echo before a slow answer") << "echo on;delay 30" << "→ m173|↩ m191|← m167";
        QTest::newRow("a late line dropped before the command") << "late" << "↚ m190|→ m173|← m167";
        // The screen's read finds the port closed and sends nothing: no row
        // for a line that never went out, a note that it did not.
        QTest::newRow("the port closed") << "closed" << "· m181|· m192";
    }
    void rows()
    {
        QFETCH(QString, fault);
        QFETCH(QString, rows);
        ScreenRig rig;
        rig.main->menuTraffic->trigger();
        auto *t = trafficWindow();
        QVERIFY(t && t->isVisible());
        frmSet *s = rig.openLinked();
        t->chkHidePoll->setChecked(true);
        QTest::qWait(20);
        const int from = t->shownRows();
        if (fault == "long") // after the command, before its answer
            connect(&rig.peer, &SimPeer::lineReceived, &rig.peer, [&](const QByteArray &l) {
                if (l == "@KZ9R")
                    rig.peer.sendRaw(QByteArray(RxLineLimit + 10, 'x') + "\r\n");
            });
        else if (fault == "drop")
            QTimer::singleShot(30, &rig.peer, [&] { rig.peer.dropLine(); });
        else if (fault == "late") {
            rig.peer.sendRaw("KZ90A\r\n");
            QTest::qWait(20);
        } else if (fault == "closed")
            rig.main->MSComm1().setPortOpen(false);
        else if (!fault.isEmpty())
            for (const QString &command : fault.split(';'))
                ApplySimCommand(rig.peer, command);
        if (fault == "drop")
            ApplySimCommand(rig.peer, "silent on");
        click(s->Command_R);
        QTest::qWait(30);
        QStringList got = rowsFrom(*t, from);
        // A poll's late answer on a loaded machine is dropped before the read, rightly:
        // one dropped row is left for the late line's own.
        while (!got.isEmpty() && got.first().startsWith("↚") && (fault != "late" || got.value(1).startsWith("↚")))
            got.removeFirst();
        QCOMPARE(got.join('|'), rows);
        // The link poll's rows were there, hidden.
        t->chkHidePoll->setChecked(false);
        QVERIFY(rowsFrom(*t, 0).contains("→ m163"));
    }

    void sendByHand_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("says"); // the message line
        QTest::addColumn<QString>("sent");
        QTest::newRow("the version") << "@KZ9V" << "m189 KZ90VQML47210 R1.20" << "@KZ9V";
        QTest::newRow("a register") << "@REG05" << "m189 34H" << "@REG05";
        QTest::newRow("a register write") << "@REG05:3AH" << "m189 P0" << "@REG05:3AH";
        QTest::newRow("a control character") << "@KZ9V\x01" << "m187" << "";
        QTest::newRow("a blank goes as it stands") << "@KZ9 V" << "m189 KZ90N" << "@KZ9 V"; // refused by the unit
        QTest::newRow("while the settings screen waits") << "@KZ9V" << "m100" << "@KZ9R";
        QTest::newRow("the link poll ends at its answer") << "@KZ9#" << "m189 KZ90$" << "@KZ9#";
        // A record typed by hand changes the unit under the open screen.
        QTest::newRow("a record write") << "@KZ9D3071021000" << "m121" << "@KZ9D3071021000";
    }
    void sendByHand()
    {
        QFETCH(QString, line);
        QFETCH(QString, says);
        QFETCH(QString, sent);
        ScreenRig rig;
        rig.main->menuTraffic->trigger();
        auto *t = trafficWindow();
        QVERIFY(t);
        t->txtCommand->setText(line);
        if (says == "m121") { // the open screen learns that its fields are no longer the unit's
            frmSet *s = rig.openLinked();
            click(s->Command_R);
            click(t->cmdSend);
            QCOMPARE(rig.peer.receivedLines().value(1), sent.toLatin1());
            QCOMPARE(s->TextMess->text(), says);
            return;
        }
        if (says == "m100") { // the screen's read waits for a silent unit
            frmSet *s = rig.openLinked();
            ApplySimCommand(rig.peer, "silent on");
            QTimer::singleShot(20, t, [&] { click(t->cmdSend); });
            click(s->Command_R);
            QCOMPARE(t->TextMess->text(), says);
            QCOMPARE(rig.peer.receivedLines(), QList<QByteArray>{"@KZ9R"}); // nothing of the console's
            return;
        }
        rig.peer.clearReceived();
        click(t->cmdSend);
        QCOMPARE(t->TextMess->text(), says);
        QTest::qWait(20);
        QCOMPARE(QString::fromLatin1(rig.peer.receivedLines().value(0)), sent);
        // What went out leaves the box for the next line and comes back with
        // Up; what did not stays to be mended.
        QCOMPARE(t->txtCommand->text(), sent.isEmpty() ? line : QString());
        t->txtCommand->setText("@RE");
        QTest::keyClick(t->txtCommand, Qt::Key_Up);
        QCOMPARE(t->txtCommand->text(), sent.isEmpty() ? "@RE" : line);
        QTest::keyClick(t->txtCommand, Qt::Key_Up);
        QTest::keyClick(t->txtCommand, Qt::Key_Down);
        QCOMPARE(t->txtCommand->text(), QString("@RE"));
        if (line == "@KZ9V") { // saved, the rows after a line naming the day, the port and its device
            ModalWatcher saving([&](QDialog *d) {
                if (auto *files = qobject_cast<QFileDialog *>(d)) {
                    files->findChild<QLineEdit *>("fileNameEdit")->setText(rig.st.path("traffic.txt"));
                    QMetaObject::invokeMethod(files, "accept");
                }
            });
            click(t->cmdSave);
            QFile saved(rig.st.path("traffic.txt"));
            QVERIFY(saved.open(QIODevice::ReadOnly));
            const QStringList lines = QString::fromUtf8(saved.readAll()).split('\n');
            QCOMPARE(lines.value(0).section(' ', 0, 3),
                     "d70: COM1 (" + QFileInfo(rig.st.path("COM1")).canonicalFilePath() + ") "
                         + QDate::currentDate().toString("yyyy-MM-dd"));
            QVERIFY(lines.value(1).contains("@KZ9V") || lines.value(2).contains("@KZ9V"));
        }
        if (sent.startsWith("@REG")) // the register and its value, not the line again
            QCOMPARE(t->shownRowText(0).section('\t', 3).section(' ', 1), sent.mid(4, 2) + sent.mid(6, 3).replace(':', ' '));
        if (says.startsWith("m189"))
            QVERIFY(rowsFrom(*t, 0).contains(says.endsWith("34H") ? "← m169" : says.endsWith("P0") ? "← m165" : says.endsWith("N") ? "← m166" : says.endsWith("$") ? "← m164" : "← m168"));
    }

    // The register editor blocks its own window, not the console.
    void usableBesideTheRegisterEditor()
    {
        ScreenRig rig;
        rig.main->menuTraffic->trigger();
        frmTraffic *t = trafficWindow();
        frmSet *s = rig.openLinked();
        QVERIFY(t->model()->rowCount() > 0);
        delete new frmTraffic(rig.main->MSComm1(), rig.main->Timer1()); // another listener come and gone
        t->model()->clear();
        click(s->Command_R);
        QVERIFY(rig.idleUntil([&] { return rowsFrom(*t, 0).contains("→ m173"); })); // still heard
        bool cleared = false, editorOpen = false;
        QTimer::singleShot(100, t, [&] {
            editorOpen = QApplication::activeModalWidget() != nullptr;
            // Through the window system, where a modal dialog blocks input.
            const QPoint at = t->cmdClear->mapTo(t, t->cmdClear->rect().center());
            QTest::mouseClick(t->windowHandle(), Qt::LeftButton, {}, at);
            cleared = t->model()->rowCount() == 0;
            if (QWidget *editor = QApplication::activeModalWidget())
                editor->close();
        });
        for (int n = 0; n < 5; ++n)
            QTest::mouseClick(s->TextMess, Qt::LeftButton);
        QVERIFY(editorOpen);
        QVERIFY(cleared);
    }

    // 20,000 lines: the latest 10,000 rows stay, the memory with them.
    void keepsTheLatestRows()
    {
        ScreenRig rig;
        frmTraffic t(rig.main->MSComm1(), rig.main->Timer1());
        for (int n = 0; n < 20000; ++n)
            TrafficHub::instance().publish(
                TrafficEvent{QDateTime::currentMSecsSinceEpoch(), TrafficEvent::Received, QString("KZ90F05%1").arg(n)});
        QTest::qWait(20);
        QCOMPARE(t.model()->rowCount(), TrafficModel::Limit);
        QCOMPARE(t.model()->headerData(3, Qt::Horizontal, Qt::DisplayRole).toString(), QString("d80")); // the meaning's caption
        QVERIFY(t.model()->rowText(TrafficModel::Limit - 1).contains("KZ90F0519999"));
        QVERIFY(t.model()->rowText(0).contains("KZ90F0510000"));
        // Paused, rows are collected; shown when the pause ends.
        t.chkPause->setChecked(true);
        TrafficHub::instance().publish(TrafficEvent{QDateTime::currentMSecsSinceEpoch(), TrafficEvent::Sent, "@KZ9V"});
        QTest::qWait(20);
        QVERIFY(!t.model()->rowText(TrafficModel::Limit - 1).contains("@KZ9V"));
        t.chkPause->setChecked(false);
        QVERIFY(t.model()->rowText(TrafficModel::Limit - 1).contains("@KZ9V"));
    }
};

QTEST_MAIN(TestTrafficConsole)
#include "tst_frmtraffic.moc"
