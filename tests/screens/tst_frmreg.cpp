// The register editor, opened as the operator opens it: five clicks on the
// settings screen's message box, against the simulated unit.

#include "screens/ScreenRig.h"
#include "screens/frmReg.h"
#include "sim/SimControl.h"

#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>

namespace {
void click(QWidget *w) { QTest::mouseClick(w, Qt::LeftButton); }

// Opens the editor from the settings screen and runs `drive` on it while it
// is shown modally; the editor closes afterwards.
void withEditor(frmSet *s, const std::function<void(frmReg *)> &drive)
{
    bool ran = false;
    ModalWatcher watcher([&](QDialog *d) {
        auto *reg = qobject_cast<frmReg *>(d);
        if (!reg)
            return;
        ran = true;
        drive(reg);
        reg->reject();
    });
    for (int i = 0; i < 5; ++i)
        click(s->TextMess);
    QVERIFY(ran);
}
} // namespace

class TestRegisterEditor : public QObject {
    Q_OBJECT
private slots:
    void opensEmpty()
    {
        ScreenRig rig;
        frmSet *s = rig.openLinked();
        withEditor(s, [](frmReg *r) {
            QCOMPARE(r->windowTitle(), QString("d17"));
            QVERIFY(!(r->windowFlags() & Qt::WindowMinimizeButtonHint)); // a fixed dialog box, as the ports'
            QCOMPARE(r->Cmb_C->currentText(), QString("  00"));
            QCOMPARE(r->Text1->text(), QString("00"));
            QCOMPARE(r->TextMess->text(), QString());
            QCOMPARE(r->Cmb_C->count(), 28);
            QCOMPARE(r->Cmb_C->itemText(27), QString("  27"));
        });
    }

    void valueKeyFilter_data()
    {
        QTest::addColumn<QString>("keys");
        QTest::addColumn<QString>("text");
        QTest::newRow("lower case made upper") << "a" << "A";
        QTest::newRow("g discarded") << "g" << "";
        QTest::newRow("point accepted") << "." << ".";
        QTest::newRow("digits and F") << "9F" << "9F";
        QTest::newRow("at most two") << "123" << "12";
        QTest::newRow("space and sign discarded") << " -+e" << "E";
    }
    void valueKeyFilter()
    {
        QFETCH(QString, keys);
        QFETCH(QString, text);
        FreshState st;
        CommControl comm;
        ReplyTimer timer;
        frmReg r(comm, timer);
        r.Form_Load();
        r.Text1->clear();
        QTest::keyClicks(r.Text1, keys);
        QCOMPARE(r.Text1->text(), text);
        QTest::keyClick(r.Text1, Qt::Key_Backspace);
        QCOMPARE(r.Text1->text(), text.left(text.size() - 1));
    }

    // Editing keys work as in any text box; pasting passes the same filter.
    void valueBoxEditing()
    {
        FreshState st;
        CommControl comm;
        ReplyTimer timer;
        frmReg r(comm, timer);
        r.Text1->setText("3A");
        r.Text1->setFocus();
        QTest::keyClick(r.Text1, Qt::Key_Home);
        QKeyEvent del(QEvent::KeyPress, Qt::Key_Delete, Qt::NoModifier, QStringLiteral("\x7f"));
        QApplication::sendEvent(r.Text1, &del); // Delete, as X11 hands it over
        QCOMPARE(r.Text1->text(), QString("A"));
        r.Text1->setText("G5"); // as a wired read may leave it
        QTest::keyClick(r.Text1, Qt::Key_Backspace);
        QCOMPARE(r.Text1->text(), QString("G"));
        r.Text1->clear();
        QApplication::clipboard()->setText("g1x");
        QTest::keyClick(r.Text1, Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(r.Text1->text(), QString("1"));
        r.Text1->clear();
        QApplication::clipboard()->setText("b1");
        QTest::keyClick(r.Text1, Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(r.Text1->text(), QString("B1"));
    }

    void registerCheck_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("28") << "28" << false;
        QTest::newRow("-1") << "-1" << false;
        QTest::newRow("x") << "x" << false;
        QTest::newRow("empty") << "" << false;
        QTest::newRow("  27") << "  27" << true;
        QTest::newRow("5") << "5" << true;
    }
    void registerCheck()
    {
        QFETCH(QString, typed);
        QFETCH(bool, accepted);
        ScreenRig rig;
        frmSet *s = rig.openRegisterMode();
        withEditor(s, [&](frmReg *r) {
            QVERIFY(QTest::qWaitForWindowActive(r));
            r->Cmb_C->setFocus();
            r->Cmb_C->setEditText(typed);
            click(r->Cmd_R);
            if (accepted) {
                QCOMPARE(r->Cmb_C->currentText(), typed);
                QCOMPARE(r->TextMess->text(), QString("m33"));
            } else {
                QCOMPARE(r->Cmb_C->currentText(), QString());
                QCOMPARE(r->focusWidget(), r->Cmb_C);
                QCOMPARE(r->TextMess->text(), QString()); // the button never acted
                QCOMPARE(rig.peer.received(), QByteArray());
            }
        });
    }

    void registerModeWriteResets()
    {
        ScreenRig rig;
        frmSet *s = rig.openRegisterMode();
        withEditor(s, [&](frmReg *r) {
            r->Cmb_C->setEditText("  03");
            r->Text1->setText("7");
            click(r->Cmd_W);
            QCOMPARE(rig.peer.receivedLines(), (QList<QByteArray>{"@REG03:07H", "@RST"}));
            QCOMPARE(r->TextMess->text(), QString("m36"));
            QVERIFY(r->isEnabled());
        });
        QCOMPARE(rig.peer.unit().reg(3), QString("07"));
    }

    // Escape and the close box wait for the editor's exchange: closed
    // mid-exchange, the settings screen's buttons would start a second one
    // inside it and cut its write short of the reset.
    void closeWaitsForTheExchange_data()
    {
        QTest::addColumn<bool>("escape"); // else the close box
        QTest::newRow("Escape") << true;
        QTest::newRow("close box") << false;
    }
    void closeWaitsForTheExchange()
    {
        QFETCH(bool, escape);
        ScreenRig rig;
        frmSet *s = rig.openRegisterMode();
        ApplySimCommand(rig.peer, "delay 20");
        bool stayed = false;
        withEditor(s, [&](frmReg *r) {
            r->Cmb_C->setEditText("  03");
            r->Text1->setText("7");
            QTimer::singleShot(5, r, [&] {
                if (escape)
                    QTest::keyClick(r, Qt::Key_Escape);
                else
                    r->close();
                stayed = r->isVisible();
                click(s->Command_R); // the screen below must not start a read
            });
            click(r->Cmd_W);
            QCOMPARE(r->TextMess->text(), QString("m36"));
        });
        QVERIFY(stayed);
        QCOMPARE(rig.peer.receivedLines(), (QList<QByteArray>{"@REG03:07H", "@RST"}));
    }

    void registerModeWriteRefused()
    {
        ScreenRig rig;
        frmSet *s = rig.openRegisterMode();
        ApplySimCommand(rig.peer, "refuse on");
        withEditor(s, [&](frmReg *r) {
            r->Cmb_C->setEditText("  03");
            click(r->Cmd_W);
            QCOMPARE(rig.peer.receivedLines(), (QList<QByteArray>{"@REG03:00H"})); // no reset
            QCOMPARE(r->TextMess->text(), QString("m37"));
        });
    }

    void registerModeRead_data()
    {
        QTest::addColumn<bool>("silent");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("message");
        QTest::newRow("value read") << false << "3A" << "m33";
        QTest::newRow("no answer") << true << "00" << "m34";
    }
    void registerModeRead()
    {
        QFETCH(bool, silent);
        QFETCH(QString, value);
        QFETCH(QString, message);
        ScreenRig rig;
        frmSet *s = rig.openRegisterMode();
        rig.peer.unit().setReg(5, "3A");
        rig.peer.silent = silent;
        withEditor(s, [&](frmReg *r) {
            r->Cmb_C->setEditText("  05");
            click(r->Cmd_R);
            QCOMPARE(r->Text1->text(), value);
            QCOMPARE(r->TextMess->text(), message);
            QCOMPARE(rig.peer.receivedLines().first(), QByteArray("@REG05"));
        });
    }

    void wiredRead()
    {
        ScreenRig rig;
        frmSet *s = rig.openLinked();
        rig.peer.unit().setReg(5, "3A");
        withEditor(s, [&](frmReg *r) {
            r->Cmb_C->setEditText("5");
            click(r->Cmd_R);
            QCOMPARE(rig.peer.received(), QByteArray("@KZ9F05\r\n"));
            QCOMPARE(r->Cmb_C->currentText(), QString("  05"));
            QCOMPARE(r->Text1->text(), QString("3A"));
            QCOMPARE(r->TextMess->text(), QString("m17"));
        });
    }

    // A read reply that names no register or lacks its value leaves the
    // boxes as they were: a write must not go back to register 00 or 35.
    void readReplies_data()
    {
        QTest::addColumn<QString>("reply"); // the unit's line
        QTest::addColumn<bool>("registerPath");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("reg");   // the boxes afterwards
        QTest::addColumn<QString>("value");
        QTest::newRow("F05 3A") << "KZ90F053A" << false << "m17" << "  05" << "3A";
        QTest::newRow("register 35") << "KZ90F35AA" << false << "m99" << "  07" << "00";
        QTest::newRow("cut short") << "KZ90F0" << false << "m99" << "  07" << "00";
        QTest::newRow("value G1") << "KZ90F07G1" << false << "m99" << "  07" << "00";
        QTest::newRow("register path, value G1") << "G1H" << true << "m99" << "  07" << "00";
    }
    void readReplies()
    {
        QFETCH(QString, reply);
        QFETCH(bool, registerPath);
        QFETCH(QString, message);
        QFETCH(QString, reg);
        QFETCH(QString, value);
        ScreenRig rig;
        frmSet *s = registerPath ? rig.openRegisterMode() : rig.openLinked();
        ApplySimCommand(rig.peer, "reply " + reply);
        withEditor(s, [&](frmReg *r) {
            r->Cmb_C->setEditText("  07");
            click(r->Cmd_R);
            QCOMPARE(r->TextMess->text(), message);
            QCOMPARE(r->Cmb_C->currentText(), reg);
            QCOMPARE(r->Text1->text(), value);
        });
    }

    void wiredWrite_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("message");
        QTest::newRow("accepted") << "" << "m14";
        QTest::newRow("refused") << "refuse on" << "m15";
        QTest::newRow("answered with R") << "letter R" << "m25";
        QTest::newRow("no answer") << "silent on" << "m24";
    }
    void wiredWrite()
    {
        QFETCH(QString, fault);
        QFETCH(QString, message);
        ScreenRig rig;
        frmSet *s = rig.openLinked();
        if (!fault.isEmpty())
            ApplySimCommand(rig.peer, fault);
        withEditor(s, [&](frmReg *r) {
            r->Cmb_C->setEditText("  05");
            r->Text1->setText("3A");
            click(r->Cmd_W);
            QCOMPARE(rig.peer.received(), QByteArray("@KZ9S053A\r\n"));
            QCOMPARE(r->TextMess->text(), message);
            QCOMPARE(r->Text1->text(), QString("3A"));
        });
        if (fault.isEmpty())
            QCOMPARE(rig.peer.unit().reg(5), QString("3A"));
    }

    void noUnitModeDoesNothing()
    {
        ScreenRig rig;
        frmSet *s = rig.openLinked();
        withEditor(s, [&](frmReg *r) {
            app().UnitMode = 0;
            r->TextMess->setText("before");
            click(r->Cmd_R);
            click(r->Cmd_W);
            QTest::qWait(30);
            QCOMPARE(rig.peer.received(), QByteArray());
            QCOMPARE(r->TextMess->text(), QString("before"));
            QVERIFY(r->isEnabled());
        });
    }

    void derivedTexts_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("digits");
        QTest::addColumn<int>("number");
        QTest::newRow("list item") << "  05" << "05" << 5;
        QTest::newRow("one digit") << "7" << "07" << 7;
        QTest::newRow("empty") << "" << "00" << 0;
        QTest::newRow("half to even") << "2.5" << ".5" << 2;
    }
    void derivedTexts()
    {
        QFETCH(QString, text);
        QFETCH(QString, digits);
        QFETCH(int, number);
        QCOMPARE(frmReg::digitsOf(text), digits);
        QCOMPARE(frmReg::registerNumber(text), number);
    }
};

QTEST_MAIN(TestRegisterEditor)
#include "tst_frmreg.moc"
