// The network window, driven as an operator would: a plan for four simulated
// units set up at once (each by a run of the command line), one unit
// refusing; three units on one adapter, one after another; and a set-up
// refused while another exchange holds the window's port.

#include "config/modFile.h"
#include "core/AppState.h"
#include "records/SiteBookPlace.h"
#include "screens/frmHandover.h"
#include "screens/frmNetwork.h"
#include "serial/Exchange.h"
#include "serial/mod232C.h"
#include "sim/SimControl.h"
#include "sim/SimPeer.h"
#include "support/GuiSupport.h"
#include "support/TestSupport.h"
#include "widgets/BookEntry.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTest>
#include <memory>

namespace {

void click(QWidget *w) { QTest::mouseClick(w, Qt::LeftButton); }

// English texts, the window's port on a unit of its own.
void englishState(const FreshState &st)
{
    for (const char *name : {"message.ini", "dispname.ini"})
        QFile::copy(qEnvironmentVariable("QML_DIST") + "/lang/en/" + name, st.path(name));
    ReadMessageIni();
    ReadDispNameIni();
    app().Language = "en";
    st.usePort(1);
    // The units' runs are the command line's: its time-outs shortened too,
    // its COMn links and backups in this work folder.
    qputenv("QML_TIME_SCALE", "0.01");
    qputenv("QML47210_FILES", st.dir().toLocal8Bit());
    TimeScale::set(0.01);
}

QString planFor(const QStringList &ports)
{
    QString plan = "[network]\nformat = 1\nsite = Pump/North\nband = 2\nchannel = 11\n";
    const char *names[] = {"pump-house", "tank-1", "tank-2", "tank-3"};
    for (int i = 0; i < ports.size(); ++i)
        plan += QStringLiteral("[node %1]\ntype = %2\n%3").arg(names[i], i ? "slave" : "master",
                                                               ports.at(i).isEmpty() ? QString() : "port = " + ports.at(i) + "\n");
    return plan;
}

QString column(const frmNetwork &w, int column)
{
    QStringList cells;
    for (int row = 0; row < w.tblUnits->rowCount(); ++row)
        cells << w.tblUnits->item(row, column)->text().section(QRegularExpression(" \\d\\d:\\d\\d|:"), 0, 0);
    return cells.join(' ');
}

} // namespace

class TestNetworkWindow : public QObject {
    Q_OBJECT
private slots:
    void setUp_data()
    {
        QTest::addColumn<QString>("fault"); // for the second unit
        QTest::addColumn<QString>("results");
        QTest::newRow("four units") << "" << "verified verified verified verified";
        QTest::newRow("one refuses writes") << "refuse on" << "verified failed verified verified";
        QTest::newRow("cancelled while reading the units") << "cancel" << "stopped stopped stopped stopped";
        QTest::newRow("a link another user made") << "foreign link" << "verified failed verified verified";
        QTest::newRow("the site book away") << "book away" << "verified verified verified verified";
    }
    void setUp()
    {
        QFETCH(QString, fault);
        QFETCH(QString, results);
        FreshState st;
        englishState(st);
        SimPeer own; // the window's own port, closed for the set-up
        QVERIFY(QFile::link(own.slavePath(), st.path("COM1")));
        CommControl comm;
        comm.setLinkDir(st.dir());
        QVERIFY(OpenPort(comm, 1, "9600", "8", "N", "1"));
        SimPeer units[4];
        QStringList ports;
        for (SimPeer &u : units)
            ports << u.slavePath();
        if (fault == "cancel")
            for (SimPeer &u : units)
                ApplySimCommand(u, "delay 40");
        else if (fault == "foreign link") { // handed to the unit's run as it is, which refuses it
            ports[1] = st.path("tank-1");
            QVERIFY(QFile::link(units[1].slavePath(), ports[1]) && giveTo(ports[1], "nobody"));
        } else if (fault == "book away") { // each unit's run finds a folder in the book's place
            QVERIFY(QDir().mkdir(st.path("book")));
            qputenv(SiteBookVariable, st.path("book").toUtf8());
        } else if (!fault.isEmpty())
            ApplySimCommand(units[1], fault);
        const auto bookBack = qScopeGuard([] { qunsetenv(SiteBookVariable); });
        QSignalSpy notRecorded(&Ui::BookNotices::instance(), &Ui::BookNotices::notRecorded);
        frmNetwork w(comm, qEnvironmentVariable("QML_APP"));
        w.Form_Load();
        w.show();
        w.txtPlan->setPlainText(planFor(ports));
        QCOMPARE(w.tblUnits->rowCount(), 4);
        QCOMPARE(qobject_cast<QComboBox *>(w.tblUnits->cellWidget(2, frmNetwork::ColPort))->currentText(),
                 ports.at(2));
        QVERIFY(w.cmdRefresh->isEnabled() && w.cmdCompare->isEnabled() && !w.cmdCancel->isEnabled());
        click(w.cmdSetUp);
        QVERIFY(w.busy());
        QCOMPARE(w.TextMess->text(), QString("Working with the units; this window's port is closed until it ends"));
        QVERIFY(!comm.PortOpen()); // one user a port
        QVERIFY(comm.exchangeRunning());
        QVERIFY(!w.cmdSetUp->isEnabled() && !w.cmdRefresh->isEnabled() && !w.cmdCompare->isEnabled()
                && w.cmdCancel->isEnabled());
        if (fault == "cancel") { // each stops after its exchange under way
            QVERIFY(waitUntil([&] { return column(w, frmNetwork::ColProgress).count("/") == 4; }, 10000));
            click(w.cmdCancel);
        }
        QVERIFY(waitUntil([&] { return !w.busy(); }, 30000));
        QCOMPARE(column(w, frmNetwork::ColResult), results);
        // What the units' runs could not record is said, each unit by name.
        QCOMPARE(notRecorded.size(), fault == "book away" ? 4 : 0);
        for (const QList<QVariant> &said : std::as_const(notRecorded))
            QVERIFY2(said.first().toString().contains(": site book: not recorded (a folder stands in the site book's place"),
                     qPrintable(said.first().toString()));
        QCOMPARE(w.cmdRetry->isEnabled(), results != "verified verified verified verified");
        for (int row = 0; row < 4; ++row) // where the unit was kept, said once
            QCOMPARE(w.tblUnits->item(row, frmNetwork::ColResult)->toolTip().count("Backup of what the unit held before"),
                     fault == "cancel" || fault == "foreign link" && row == 1 ? 0 : 1);
        QVERIFY(QRegularExpression("^\\w+ \\d\\d:\\d\\d").match(w.tblUnits->item(0, frmNetwork::ColResult)->text()).hasMatch());
        if (fault == "foreign link") {
            QVERIFY(w.tblUnits->item(1, frmNetwork::ColResult)->text().endsWith("its owner: nobody"));
            QCOMPARE(w.tblUnits->item(1, frmNetwork::ColNow)->text(), QString()); // not read: unknown, not unreachable
            QCOMPARE(units[1].received(), QByteArray());
        }
        const bool allVerified = results == "verified verified verified verified";
        if (allVerified) // what each unit holds now
            for (int row = 0; row < 4; ++row)
                QVERIFY2(w.tblUnits->item(row, frmNetwork::ColNow)->text().contains("band 2  ch 11"),
                         qPrintable(w.tblUnits->item(row, frmNetwork::ColNow)->text()));
        QVERIFY(comm.PortOpen());
        QVERIFY(!comm.exchangeRunning());
        for (int i = 0; i < 4; ++i)
            QCOMPARE(units[i].unit().record().channel, allVerified || (i != 1 && fault != "cancel") ? 11 : 5);
        QVERIFY2(w.TextMess->text().startsWith(allVerified ? "Every unit verified" : "Not every unit"),
                 qPrintable(w.TextMess->text()));
        // The report, kept beside the backups: every unit with before and after.
        const QStringList kept = QDir(BackupFolder()).entryList({"network-*.json"});
        QVERIFY2(kept.size() == 1, qPrintable(w.lblReport->text()));
        QVERIFY(w.lblReport->text().contains(kept.first()));
        const auto report = LastNetworkReport(BackupFolder());
        QVERIFY(report);
        QCOMPARE(report->units.size(), 4);
        if (fault != "cancel") {
            QCOMPARE(report->units.at(0).before.value("channel").toInt(), 5);
            QCOMPARE(report->units.at(3).after.value("channel").toInt(), 11);
        } else {
            QCOMPARE(report->units.at(2).reason, QString("cancelled"));
        }
        // Opened again, the window shows the plan's last report, ports
        // chosen otherwise, but nothing of the units it has not read.
        frmNetwork again(comm, qEnvironmentVariable("QML_APP"));
        again.Form_Load();
        again.txtPlan->setPlainText(planFor({ports[3], ports[2], ports[1], ports[0]}));
        QCOMPARE(column(again, frmNetwork::ColResult), results);
        QVERIFY(again.lblReport->text().startsWith("The last report:") && again.lblReport->text().contains(kept.first()));
        QCOMPARE(column(again, frmNetwork::ColNow), QString("   "));
        again.txtPlan->setPlainText(planFor(ports).replace("channel = 11", "channel = 12")); // another plan
        QCOMPARE(column(again, frmNetwork::ColResult), QString("   "));
        if (fault.isEmpty()) { // exported beside the plan, named for its site and the day, as JSON chosen
            QVERIFY(QDir().mkdir(st.path("plans")));
            QFile saved(st.path("plans/site.ini"));
            QVERIFY(saved.open(QIODevice::WriteOnly) && saved.write(w.txtPlan->toPlainText().toUtf8()) > 0);
            saved.close();
            QVERIFY(w.loadPlan(saved.fileName()));
            QString proposed;
            auto exporting = std::make_unique<ModalWatcher>([&](QDialog *d) {
                if (auto *files = qobject_cast<QFileDialog *>(d)) {
                    proposed = files->selectedFiles().value(0);
                    files->selectNameFilter(files->nameFilters().value(1));
                    files->findChild<QLineEdit *>("fileNameEdit")->setText("run");
                    QMetaObject::invokeMethod(files, "accept");
                }
            });
            click(w.cmdExport);
            exporting.reset(); // the questions below are the next watcher's to answer
            QCOMPARE(proposed, st.path("plans/network-Pump_North-" + QDate::currentDate().toString("yyyyMMdd") + ".csv"));
            QCOMPARE(w.TextMess->text(), "The report was saved in: " + st.path("plans/run.json"));
            QFile exported(st.path("plans/run.json"));
            QVERIFY(exported.open(QIODevice::ReadOnly));
            QCOMPARE(QJsonDocument::fromJson(exported.readAll())["units"].toArray().size(), 4);
            click(w.cmdCompare); // read back, each as the plan says
            QVERIFY(waitUntil([&] { return !w.busy(); }, 30000));
            QCOMPARE(w.TextMess->text(), QString("Every unit holds what the plan says"));
            // A new plan: edits not saved are put aside only when the operator says so.
            w.txtPlan->appendPlainText("# mine");
            ModalWatcher asked;
            asked.answer = QMessageBox::No;
            click(w.cmdNew);
            QVERIFY(w.txtPlan->toPlainText().endsWith("# mine"));
            asked.answer = QMessageBox::Yes;
            click(w.cmdNew);
            QVERIFY(w.txtPlan->toPlainText().startsWith("# A QML47210 network plan"));
            QCOMPARE(column(w, frmNetwork::ColName), QString("pump-house tank-1 tank-2"));
        }
        if (fault == "refuse on") { // the unit that failed once more, the others left alone
            ApplySimCommand(units[1], "refuse off");
            units[0].clearReceived();
            click(w.cmdRetry);
            QVERIFY(waitUntil([&] { return !w.busy(); }, 30000));
            QCOMPARE(column(w, frmNetwork::ColResult), QString("verified verified verified verified"));
            QCOMPARE(units[0].received(), QByteArray());
            QCOMPARE(LastNetworkReport(BackupFolder())->completes, QDir(BackupFolder()).filePath(kept.first()));
        }
    }

    // One adapter: each unit is set up after it answers and Enter is
    // pressed; the next once the last has not answered for 3 s. What befalls
    // the first unit's unplugging, or a later unit:
    void oneAdapter_data()
    {
        QTest::addColumn<QString>("event");
        QTest::newRow("three units") << "";
        QTest::newRow("the second skipped, Redo pressed first") << "skip";
        QTest::newRow("a quiet spell under 3 s is no unplug") << "quiet";
        QTest::newRow("another unit answers: no Redo for the first") << "swap";
        QTest::newRow("the first answers again: asked, and No") << "same";
        QTest::newRow("the adapter dropped and back") << "drop";
        QTest::newRow("Redo keeps the first backup") << "redo";
        QTest::newRow("the last fails, then retried") << "last fails";
    }
    void oneAdapter()
    {
        QFETCH(QString, event);
        using A = frmNetwork::Adapter;
        FreshState st;
        englishState(st);
        TimeScale::set(0.1); // the window's polls slower than the runs: 3 s well apart from two polls
        auto adapter = std::make_unique<SimPeer>();
        QVERIFY(QFile::link(adapter->slavePath(), st.path("COM1")));
        CommControl comm;
        comm.setLinkDir(st.dir());
        ModalWatcher asked;
        asked.answer = QMessageBox::No;
        frmNetwork w(comm, qEnvironmentVariable("QML_APP"));
        w.Form_Load();
        w.show();
        w.txtPlan->setPlainText(planFor({"COM1", "", ""}));
        w.chkOneAdapter->setChecked(true);
        adapter->silent = true; // nothing plugged in yet
        const SimRecord fresh = adapter->unit().record();
        const auto state = [&](A s, int unit) {
            return waitUntil([&] { return w.adapterState() == s; }, 10000) && w.adapterUnit() == unit;
        };
        // The unit leaves `n` polls unanswered, then answers as `then` leaves it.
        const auto miss = [&](int n, const std::function<void()> &then) {
            int polls = 0;
            adapter->silent = true;
            const auto c = connect(adapter.get(), &SimPeer::lineReceived, [&](const QByteArray &line) {
                if (line.endsWith("#") && ++polls > n) {
                    then();
                    adapter->silent = false;
                }
            });
            const bool answered = waitUntil([&] { return polls > n; }, 10000);
            disconnect(c);
            return answered;
        };
        click(w.cmdSetUp);
        QList<SimRecord> setUp;
        for (int unit = 0; unit < 3; ++unit) {
            QVERIFY(waitUntil([&] { return w.adapterState() == A::WaitForUnit || w.adapterState() == A::UnitAnswers; }, 10000));
            QCOMPARE(w.adapterUnit(), unit);
            adapter->unit().setRecord(fresh); // plugged in
            adapter->silent = false;
            if (event == "last fails" && unit == 2)
                ApplySimCommand(*adapter, "refuse on");
            QVERIFY(state(A::UnitAnswers, unit) && w.cmdThisUnit->isEnabled());
            if (event == "skip" && unit == 1) {
                click(w.cmdRedo); // the unit set up before is not this one
                click(w.cmdSkip);
                adapter->silent = true;
                QCOMPARE(column(w, frmNetwork::ColResult), QString("verified stopped waiting"));
                setUp << fresh;
                continue;
            }
            for (int run = 0; run < (event == "redo" && unit == 0 ? 2 : 1); ++run) {
                run ? click(w.cmdRedo) : QTest::keyClick(&w, Qt::Key_Return); // the one key
                QVERIFY(waitUntil([&] { return w.adapterState() != A::Applying; }, 30000));
            }
            QVERIFY2(w.tblUnits->item(unit, frmNetwork::ColResult)->text().startsWith(event == "last fails" && unit == 2 ? "failed " : "verified "), qPrintable(w.tblUnits->item(unit, frmNetwork::ColResult)->text()));
            setUp << adapter->unit().record();
            if (unit == 0 && event == "quiet") {
                QVERIFY(miss(2, [] {}));
                QVERIFY(state(A::WaitForUnplug, 0) && w.cmdRedo->isEnabled());
            } else if (unit == 0 && event == "swap") {
                QVERIFY(miss(1, [&] { adapter->unit().setRecord(fresh); }));
                QVERIFY(state(A::UnitAnswers, 1) && !w.cmdRedo->isEnabled());
            } else if (unit == 0 && event == "same") {
                adapter->silent = true;
                QVERIFY(state(A::WaitForUnit, 1));
                adapter->silent = false; // back, still holding what was written to it
                QVERIFY(state(A::WaitForUnplug, 0));
                QCOMPARE(asked.boxes, QStringList("Network set-up|The unit plugged in already holds the settings "
                                                  "just written to pump-house: set it up as tank-1?"));
                QVERIFY(w.TextMess->text().contains("so it is taken for the same unit"));
                w.activateWindow(); // after the question, for Enter
            } else if (unit == 0 && event == "drop") {
                adapter->dropLine();
                QVERIFY(waitUntil([&] { return w.TextMess->text() == app().message(230); }));
                QTest::qWait(TimeScale::scaled(4000));
                QVERIFY(state(A::WaitForUnplug, 0)); // waited out, no unplug
                adapter = std::make_unique<SimPeer>(); // back, the unit unplugged meanwhile
                QVERIFY(QFile::remove(st.path("COM1")) && QFile::link(adapter->slavePath(), st.path("COM1")));
            }
            adapter->silent = true; // unplugged
        }
        QVERIFY(waitUntil([&] { return !w.busy(); }, 10000));
        if (event == "last fails") {
            QCOMPARE(w.TextMess->text(), QString("units remaining: tank-2"));
            QString failed;
            QVERIFY(LastNetworkReport(BackupFolder(), &failed));
            ApplySimCommand(*adapter, "refuse off");
            adapter->silent = false; // still plugged in
            click(w.cmdRetry);
            QVERIFY(state(A::UnitAnswers, 2));
            QTest::keyClick(&w, Qt::Key_Return);
            QVERIFY(waitUntil([&] { return !w.busy(); }, 30000));
            setUp[2] = adapter->unit().record();
            QCOMPARE(w.TextMess->text(), app().message(232));
            QCOMPARE(LastNetworkReport(BackupFolder())->completes, failed);
        }
        for (int i = 0; i < 3; ++i) {
            if (event == "skip" && i == 1)
                continue;
            QCOMPARE(setUp.at(i).channel, 11);
            QCOMPARE(setUp.at(i).positions[0], i ? 1 : 0);
        }
        QCOMPARE(asked.boxes.size(), event == "same" ? 1 : 0);
        const auto report = LastNetworkReport(BackupFolder());
        QCOMPARE(report->units.size(), 3);
        const QStringList backups = report->units.at(0).backups;
        QCOMPARE(backups.size(), event == "redo" ? 2 : 1);
        QCOMPARE(report->units.at(0).backup, backups.first());
    }

    // The window's port is in use by another exchange: nothing starts.
    void refusedWhileAnExchangeRuns()
    {
        FreshState st;
        englishState(st);
        SimPeer unit;
        CommControl comm;
        frmNetwork w(comm, qEnvironmentVariable("QML_APP"));
        w.Form_Load();
        QVERIFY(!w.cmdSave->isEnabled()); // no file yet: Save as
        click(w.cmdHandover);
        QVERIFY(!w.handover() && w.TextMess->text() == app().message(HandoverWindow::SaveFirst));
        st.write("site.ini", planFor({"COM9"}).toUtf8());
        QVERIFY(w.loadPlan(st.path("site.ini")));
        w.txtPlan->setPlainText(planFor({"COM9", "COM8"})); // the document is the file's, not an edit's
        click(w.cmdHandover);
        QVERIFY(w.handover() && w.handover()->tblUnits->rowCount() == 1);
        QCOMPARE(w.handover()->lblNote->text(), app().message(HandoverWindow::PlanUnsaved));
        QVERIFY(w.handover()->lblState->text().startsWith(app().message(HandoverWindow::BookOff))); // in this test
        QVERIFY(w.cmdSave->isEnabled());
        w.txtPlan->setPlainText(planFor({unit.slavePath()}));
        click(w.cmdSave); // the edit kept in its file
        QCOMPARE(QString::fromUtf8(st.read("site.ini")), planFor({unit.slavePath()}));
        const Exchange other(comm);
        QVERIFY(other.started());
        click(w.cmdSetUp);
        QVERIFY(!w.busy());
        QCOMPARE(w.TextMess->text(), app().message(ExchangeBusyMessage));
        QTest::qWait(50);
        QCOMPARE(unit.received(), QByteArray());
    }
};

QTEST_MAIN(TestNetworkWindow)
#include "tst_frmnetwork.moc"
