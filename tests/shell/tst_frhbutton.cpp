// The main window's FRH button against the simulated unit.

#include "config/modFile.h"
#include "core/AppState.h"
#include "screens/frmSet.h"
#include "serial/ReplyTimer.h"
#include "widgets/Ui.h"
#include "shell/frmMain.h"
#include "sim/SimControl.h"
#include "sim/SimPeer.h"
#include "support/GuiSupport.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

namespace {
struct Rig {
    FreshState st;
    SimPeer peer;
    std::unique_ptr<frmMain> w;
    explicit Rig(bool fullPreset = true)
    {
        TimeScale::set(0.01);
        QFile::link(peer.slavePath(), st.dir() + "COM1");
        AppState &s = app();
        st.usePort(1);
        s.MessageTable[11] = "preset failed";
        s.MessageTable[12] = "preset incomplete";
        s.MessageTable[101] = "preset verified";
        s.DispNameTable[24] = "writing preset";
        if (fullPreset)
            for (int n = 0; n < 28; ++n)
                s.FrhTable[n] = QStringLiteral("%1").arg(n, 2, 10, QLatin1Char('0'));
        w = std::make_unique<frmMain>();
        w->show();
        ModalWatcher portFailure; // a port that fails to open fails the test, not hangs it
        w->Form_Load();
    }
    ~Rig() { TimeScale::set(1.0); }
};
} // namespace

class TestFrhButton : public QObject {
    Q_OBJECT
private slots:
    void init() { Ui::installPortErrorBox(); }

    void presetOnceThenRegisterMode()
    {
        Rig rig;
        QString shownDuring;
        QObject::connect(&rig.peer, &SimPeer::lineReceived, rig.w.get(), [&] {
            if (shownDuring.isEmpty())
                shownDuring = rig.w->TextMess->text();
        });
        QTest::mouseClick(rig.w->Cmd_FRH, Qt::LeftButton);
        QCOMPARE(shownDuring, QString("writing preset"));
        // Backed up, written, read back, reset.
        const QList<QByteArray> lines = rig.peer.receivedLines();
        QCOMPARE(lines.size(), 85);
        QCOMPARE(lines.first(), QByteArray("@REG00"));
        QCOMPARE(lines[28], QByteArray("@REG00:00H"));
        QCOMPARE(lines[55], QByteArray("@REG27:27H"));
        QCOMPARE(lines.last(), QByteArray("@RST"));
        QVERIFY(app().FrhDone);
        QCOMPARE(app().UnitMode, qint16(4));
        QVERIFY(rig.w->TextMess->text().startsWith("preset verified"));
        const QStringList backups = QDir(rig.st.path("backups")).entryList(QDir::Files);
        QCOMPARE(backups.size(), 1);
        QVERIFY(rig.w->TextMess->toolTip().contains(backups.first()));
        QVERIFY(rig.w->settingsScreen() && rig.w->settingsScreen()->isVisible());

        rig.peer.clearReceived();
        QTest::mouseClick(rig.w->Cmd_FRH, Qt::LeftButton);
        QTest::qWait(50);
        QCOMPARE(rig.peer.received(), QByteArray()); // no second preset
        QVERIFY(rig.w->settingsScreen()->isVisible());
    }

    void noUnitFails()
    {
        Rig rig;
        rig.peer.silent = true;
        QTest::mouseClick(rig.w->Cmd_FRH, Qt::LeftButton);
        QVERIFY(rig.w->TextMess->text().startsWith("preset failed"));
        QVERIFY(!app().FrhDone);
        QCOMPARE(app().UnitMode, qint16(0));
        QVERIFY(!rig.w->settingsScreen());
        QCOMPARE(rig.peer.receivedLines(), QList<QByteArray>(3, "@REG00")); // its backup's first read
    }

    void incompletePresetRefused()
    {
        Rig rig(false);
        app().FrhTable[0] = "01";
        QTest::mouseClick(rig.w->Cmd_FRH, Qt::LeftButton);
        QTest::qWait(50);
        QCOMPARE(rig.w->TextMess->text(), QString("preset incomplete"));
        QCOMPARE(rig.peer.received(), QByteArray());
        QVERIFY(!app().FrhDone);
        QVERIFY(!rig.w->settingsScreen());
    }

    // Presses during the preset are ignored: a second preset never starts
    // inside the first, and no unit button cuts in.
    void pressesDuringPresetIgnored()
    {
        Rig rig;
        ApplySimCommand(rig.peer, "delay 5");
        QTimer::singleShot(30, rig.w.get(), [&] { QTest::mouseClick(rig.w->Cmd_FRH, Qt::LeftButton); });
        QTimer::singleShot(60, rig.w.get(), [&] { QTest::mouseClick(rig.w->Cmd_Wireless, Qt::LeftButton); });
        QTest::mouseClick(rig.w->Cmd_FRH, Qt::LeftButton);
        QTest::qWait(50);
        // One preset (each register written once, one reset) and no unit button's line; a
        // read retried when a slow build misses its time-out may add a line.
        const QByteArray all = rig.peer.receivedLines().join(' ');
        QVERIFY2(all.count("@REG00:") == 1 && all.count("@REG27:") == 1 && all.count("@RST") == 1 && !all.contains("@KZ9")
                     && rig.peer.receivedLines().size() >= 85, all.constData());
        QCOMPARE(app().UnitMode, qint16(4));
    }

    void unitButtonsAreAlike_data()
    {
        QTest::addColumn<bool>("wired");
        QTest::newRow("wireless") << false;
        QTest::newRow("wired") << true;
    }
    void unitButtonsAreAlike()
    {
        QFETCH(bool, wired);
        Rig rig;
        rig.peer.sendRaw("stale bytes"); // discarded by the press
        QVERIFY(waitUntil([&] { return rig.w->MSComm1().InBufferCount() >= 11; }, 2000));
        QTest::mouseClick(wired ? rig.w->Cmd_Wired : rig.w->Cmd_Wireless, Qt::LeftButton);
        QCOMPARE(app().UnitMode, qint16(2));
        QCOMPARE(app().WatchMode, qint16(2));
        QVERIFY(rig.w->settingsScreen()->isVisible());
        QCOMPARE(rig.w->MSComm1().InBufferCount(), 0);
    }
};

QTEST_MAIN(TestFrhButton)
#include "tst_frhbutton.moc"
