// The radio settings screen against the simulated unit.

#include "sim/SimControl.h"
#include "records/SiteBook.h"
#include "records/SiteBookOutcomes.h"
#include "screens/ScreenRig.h"
#include "widgets/BookEntry.h"
#include "screens/frmReg.h"
#include "shell/frmExit.h"

#include <QApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QLabel>
#include <QMenu>
#include <QSignalSpy>

#include <utility>

namespace {
const QColor Red(255, 0, 0), Green(0, 255, 0);
void click(QWidget *w) { QTest::mouseClick(w, Qt::LeftButton); }
} // namespace

class TestSettingsScreen : public QObject {
    Q_OBJECT
private slots:
    void loadsAndHandshakes()
    {
        ScreenRig rig;
        QTest::mouseClick(rig.main->Cmd_Wireless, Qt::LeftButton);
        frmSet *s = rig.screen();
        QVERIFY(s && s->isVisible());
        QCOMPARE(s->windowTitle(), QString("d13"));
        QCOMPARE(baseColour(s->TextSign), Red);
        QCOMPARE(s->TextMess->text(), QString("m0"));
        QCOMPARE(s->Cmb_B->currentText(), QString("0"));
        QCOMPARE(s->Cmb_C->currentText(), QString("00"));
        QCOMPARE(s->Cmb_bps->currentText(), QString("2400"));
        QCOMPARE(s->Text_B->toolTip(), QString("d18  d19  d20  d21  d22  "));
        // Sizes as designed (twips), faces and colours.
        QCOMPARE(s->size(), Ui::rect(0, 0, 5850, 6030).size());
        QVERIFY(s->windowFlags() & Qt::WindowMinimizeButtonHint);
        QCOMPARE(s->TextSign->size(), Ui::rect(0, 0, 405, 420).size());
        QCOMPARE(s->TextMess->size(), Ui::rect(0, 0, 5025, 420).size());
        QCOMPARE(s->Text_B->width(), Ui::px(2400));
        QCOMPARE(s->Text_B->palette().color(QPalette::Base), QColor(200, 200, 200));
        QCOMPARE(s->TextMess->palette().color(QPalette::Base), QColor(224, 224, 224));
        QCOMPARE(s->Cmb_C->font().pointSizeF(), 14.25);
        QCOMPARE(s->Command_V->font().pointSizeF(), 12.0);
        QCOMPARE(s->Command_V->height(), Ui::px(555));
        QCOMPARE(s->Cmb_B->toolTip(), QString("d18"));
        QCOMPARE(app().WatchMode, qint16(2));
        QVERIFY(rig.idleUntil([&] { return app().WatchMode == 0; }));
        QCOMPARE(baseColour(s->TextSign), Green);
        QCOMPARE(s->TextMess->text(), QString("m1"));
        QVERIFY(s->isEnabled());
        rig.peer.clearReceived();
        QTest::qWait(60); // a dozen poll periods
        QCOMPARE(rig.peer.received(), QByteArray()); // the poll has stopped
    }

    void otherFirstLetterLeavesRed()
    {
        ScreenRig rig;
        ApplySimCommand(rig.peer, "letter A");
        QTest::mouseClick(rig.main->Cmd_Wireless, Qt::LeftButton);
        QVERIFY(rig.idleUntil([&] { return app().WatchMode == 0; }));
        frmSet *s = rig.screen();
        QCOMPARE(baseColour(s->TextSign), Red);
        QCOMPARE(s->TextMess->text(), QString("m0"));
        ApplySimCommand(rig.peer, "letter off"); // later "$" answers go unnoticed
        rig.peer.clearReceived();
        rig.idleUntil([] { return false; }, 200);
        QVERIFY(rig.peer.receivedLines().count("@KZ9#") >= 10); // still polling
        QCOMPARE(baseColour(s->TextSign), Red);
        QVERIFY(rig.main->MSComm1().InBufferCount() < 70); // unread answers do not pile up
    }

    // The operator opens the screen first and powers the unit later, or
    // presses Read before the unit has answered the poll.
    void lateAnswerStillLinks_data()
    {
        QTest::addColumn<bool>("readDuringWatch");
        QTest::newRow("unit answers after the 20 s watch") << false;
        QTest::newRow("a poll answer is never Read's reply") << true;
    }
    void lateAnswerStillLinks()
    {
        QFETCH(bool, readDuringWatch);
        ScreenRig rig;
        if (readDuringWatch)
            TimeScale::set(0.03); // a reply wait of 210 ms, longer than the unit's delay
        ApplySimCommand(rig.peer, readDuringWatch ? "delay 100" : "silent on");
        QTest::mouseClick(rig.main->Cmd_Wireless, Qt::LeftButton);
        frmSet *s = rig.screen();
        QString readMessage;
        bool pressed = false;
        if (readDuringWatch) {
            // Right after a poll has gone out: its delayed answer is the first
            // line the read gets, however loaded the machine is.
            connect(&rig.peer, &SimPeer::lineReceived, s, [&](const QByteArray &line) {
                if (line != "@KZ9#" || std::exchange(pressed, true))
                    return;
                QTimer::singleShot(0, s, [&] {
                    click(s->Command_R);
                    readMessage = s->TextMess->text();
                });
            });
        } else {
            QTimer::singleShot(300, s, [&] { // past 20 s, scaled
                readMessage = baseColour(s->TextSign) == Red ? "red" : "not red";
                ApplySimCommand(rig.peer, "silent off");
            });
        }
        QVERIFY(rig.idleUntil([&] { return baseColour(s->TextSign) == Green; }, 3000));
        QCOMPARE(s->TextMess->text(), QString("m1"));
        QCOMPARE(readMessage, QString(readDuringWatch ? "m27" : "red"));
        ApplySimCommand(rig.peer, "delay 0");
        QTest::qWait(400); // let answers still on their way arrive unread
        click(s->Command_R);
        QCOMPARE(s->TextMess->text(), QString("m27"));
    }

    void registerModeHasNoHandshake()
    {
        ScreenRig rig;
        frmSet *s = rig.openRegisterMode();
        QVERIFY(s && s->isVisible());
        QCOMPARE(app().UnitMode, qint16(4));
        QCOMPARE(baseColour(s->TextSign), Red);
        QCOMPARE(s->TextMess->text(), QString());
        QTest::qWait(50);
        QCOMPARE(rig.peer.received(), QByteArray());
    }

    void writeAndReadBack()
    {
        ScreenRig rig;
        frmSet *s = rig.openLinked();
        s->Cmb_B->setEditText("1");
        s->Cmb_C->setEditText("12");
        s->Cmb_type->setCurrentIndex(1);
        s->Cmb_ante->setCurrentIndex(1);
        s->Cmb_bps->setCurrentIndex(2);
        s->Cmb_dlen->setCurrentIndex(1);
        s->Cmb_parity->setCurrentIndex(1);
        s->Cmb_stop->setCurrentIndex(0);
        s->Cmb_flow->setCurrentIndex(1);
        ModalWatcher watcher;
        watcher.answer = QMessageBox::Yes; // nothing was read: the screen asks first
        click(s->Command_W);
        QCOMPARE(watcher.boxes, QStringList{"d13|m39"});
        QCOMPARE(rig.peer.received(), QByteArray("@KZ9D10C1121101\r\n"));
        QCOMPARE(s->TextMess->text(), QString("m30"));
        QVERIFY(s->isEnabled());

        // Read back into a freshly loaded screen.
        s->close();
        rig.openLinked();
        QCOMPARE(s->Cmb_C->currentText(), QString("00"));
        click(s->Command_R);
        QCOMPARE(rig.peer.received(), QByteArray("@KZ9R\r\n"));
        QCOMPARE(s->TextMess->text(), QString("m27"));
        QCOMPARE(s->Cmb_B->currentText(), QString("1"));
        QCOMPARE(s->Cmb_C->currentText(), QString("12"));
        QCOMPARE(s->Cmb_type->currentText(), QString("ｽﾚｰﾌﾞ"));
        QCOMPARE(s->Cmb_ante->currentText(), QString("ﾀﾞｲﾊﾞｰｼﾃｨ"));
        QCOMPARE(s->Cmb_bps->currentText(), QString("9600"));
        QCOMPARE(s->Cmb_dlen->currentText(), QString("8"));
        QCOMPARE(s->Cmb_parity->currentText(), QString("偶数"));
        QCOMPARE(s->Cmb_stop->currentText(), QString("1ﾋﾞｯﾄ"));
        QCOMPARE(s->Cmb_flow->currentText(), QString("RTS/CTS"));
    }

    void writeRecord_data()
    {
        QTest::addColumn<QString>("band");
        QTest::addColumn<QString>("channel");
        QTest::addColumn<QByteArray>("sent"); // empty: nothing sent
        QTest::addColumn<int>("readFirst");  // 0: the question is answered No; 2: read, screen reopened
        QTest::newRow("band 4") << "4" << "0" << QByteArray("@KZ9D4000021000") << 1;
        QTest::newRow("band +4") << "+4" << "0" << QByteArray("@KZ9D4000021000") << 1;
        QTest::newRow("band 4.") << "4." << "0" << QByteArray("@KZ9D4000021000") << 1;
        QTest::newRow("band &H4") << "&H4" << "0" << QByteArray("@KZ9D4000021000") << 1;
        QTest::newRow("channel 23 as 17") << "0" << "23" << QByteArray("@KZ9D0170021000") << 1;
        QTest::newRow("channel 10 as 0A") << "0" << "10" << QByteArray("@KZ9D00A0021000") << 1;
        QTest::newRow("band from a register read") << "  02" << "  05"
                                                   << QByteArray("@KZ9D2050021000") << 1;
        QTest::newRow("band with leading zero") << "03" << "5" << QByteArray("@KZ9D3050021000")
                                                << 1;
        QTest::newRow("band 2.5 refused") << "2.5" << "5" << QByteArray() << 1;
        QTest::newRow("empty band refused") << "" << "5" << QByteArray() << 1;
        QTest::newRow("band 5 refused") << "5" << "5" << QByteArray() << 1;
        QTest::newRow("channel 24 refused") << "1" << "24" << QByteArray() << 1;
        QTest::newRow("start values, not written") << "1" << "5" << QByteArray() << 0;
        QTest::newRow("read, then the screen reopened: start values again") << "1" << "5" << QByteArray() << 2;
    }
    void writeRecord()
    {
        QFETCH(QString, band);
        QFETCH(QString, channel);
        QFETCH(QByteArray, sent);
        QFETCH(int, readFirst);
        ScreenRig rig;
        frmSet *s = rig.openLinked();
        if (readFirst) {
            click(s->Command_R);
            QCOMPARE(s->TextMess->text(), QString("m27"));
            if (readFirst == 2) {
                s->close();
                rig.openLinked();
            }
            rig.peer.clearReceived();
        }
        s->Cmb_B->setEditText(band);
        s->Cmb_C->setEditText(channel);
        s->Cmb_bps->setCurrentIndex(2);
        s->Cmb_dlen->setCurrentIndex(1);
        ModalWatcher watcher;
        watcher.answer = QMessageBox::No;
        s->Command_W_Click();
        QTest::qWait(20);
        if (readFirst != 1) {
            QCOMPARE(watcher.boxes, QStringList{"d13|m39"});
            QCOMPARE(s->TextMess->text(), QString("m1"));
            QCOMPARE(rig.peer.received(), QByteArray());
        } else if (sent.isEmpty()) {
            QCOMPARE(s->TextMess->text(), QString("m38"));
            QCOMPARE(rig.peer.received(), QByteArray());
        } else {
            QCOMPARE(rig.peer.received(), sent + "\r\n");
            QCOMPARE(s->TextMess->text(), QString("m30"));
        }
        QVERIFY(s->Command_W->isEnabled());
    }

    // A list position past the list's end shows as no item, and such a
    // record is never written back.
    void reportedPositionOutOfRange()
    {
        ScreenRig rig;
        frmSet *s = rig.openLinked();
        SimRecord record = rig.peer.unit().record();
        record.positions[2] = 9; // bit rate
        rig.peer.unit().setRecord(record);
        s->Cmb_bps->setCurrentIndex(5);
        click(s->Command_R);
        QCOMPARE(s->TextMess->text(), QString("m27"));
        QCOMPARE(s->Cmb_bps->currentText(), QString());
        rig.peer.clearReceived();
        click(s->Command_W);
        QCOMPARE(s->TextMess->text(), QString("m38"));
        QCOMPARE(rig.peer.received(), QByteArray());
    }

    // A read takes only a whole record, and what it shows is checked as
    // typed text is: a channel past 23 shows in full and is never written.
    void readReplies_data()
    {
        QTest::addColumn<QString>("reply");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("channel"); // shown afterwards
        QTest::addColumn<QByteArray>("sent"); // by Write after it; empty: refused or asked
        QTest::newRow("cut short: no read, start values still") << "KZ90R1" << "m99" << "00" << QByteArray();
        QTest::newRow("a position no hex digit: no read") << "KZ90R10502Z1000" << "m99" << "00" << QByteArray();
        QTest::newRow("channel 0x18 shows as 24, refused") << "KZ90R1180021000" << "m27" << "24" << QByteArray();
        QTest::newRow("channel 0x73 shows as 115, refused") << "KZ90R1730021000" << "m27" << "115" << QByteArray();
        QTest::newRow("channel 0x17 is 23") << "KZ90R1170021000" << "m27" << "23"
                                            << QByteArray("@KZ9D1170021000\r\n");
    }
    void readReplies()
    {
        QFETCH(QString, reply);
        QFETCH(QString, message);
        QFETCH(QString, channel);
        QFETCH(QByteArray, sent);
        ScreenRig rig;
        frmSet *s = rig.openLinked();
        ApplySimCommand(rig.peer, "reply " + reply);
        click(s->Command_R);
        QCOMPARE(s->TextMess->text(), message);
        QCOMPARE(s->Cmb_B->currentText(), QString(message == "m99" ? "0" : "1")); // untouched when no read
        QCOMPARE(s->Cmb_C->currentText(), channel);
        ApplySimCommand(rig.peer, "reply off");
        rig.peer.clearReceived();
        ModalWatcher watcher;
        watcher.answer = QMessageBox::No;
        click(s->Command_W);
        QTest::qWait(20);
        QCOMPARE(rig.peer.received(), sent);
        if (message == "m99") // nothing was read: the start values are not the unit's
            QCOMPARE(watcher.boxes, QStringList{"d13|m39"});
        else if (sent.isEmpty())
            QCOMPARE(s->TextMess->text(), QString("m38"));
    }

    void replyOutcomes_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<int>("button"); // 0 write, 1 read, 2 version
        QTest::addColumn<QString>("message");
        QTest::newRow("write refused") << "refuse on" << 0 << "m31";
        QTest::newRow("write, no answer") << "silent on" << 0 << "m24";
        QTest::newRow("write, other letter") << "letter R" << 0 << "m25";
        QTest::newRow("read, no answer") << "silent on" << 1 << "m24";
        QTest::newRow("read answered with V") << "letter V" << 1 << "m25";
        QTest::newRow("read, noise first") << "noise hello" << 1 << "m24";
        QTest::newRow("version") << "" << 2 << "VQML47210 R1.2";
        QTest::newRow("version, no answer") << "silent on" << 2 << "m24";
        QTest::newRow("version answered with A") << "letter A" << 2 << "m25";
    }
    void replyOutcomes()
    {
        QFETCH(QString, fault);
        QFETCH(int, button);
        QFETCH(QString, message);
        ScreenRig rig;
        frmSet *s = rig.openLinked();
        if (!fault.isEmpty())
            ApplySimCommand(rig.peer, fault);
        bool busyLooks = false;
        bool editorOpened = false;
        ModalWatcher watcher([&](QDialog *d) {
            editorOpened = true;
            d->reject();
        });
        watcher.answer = QMessageBox::Yes;
        QPushButton *pressed = button == 0 ? s->Command_W : button == 1 ? s->Command_R : s->Command_V;
        bool probed = false;
        QTimer probe; // looks once the exchange has begun
        connect(&probe, &QTimer::timeout, s, [&] {
            if (probed || pressed->isEnabled())
                return;
            probed = true;
            busyLooks = !s->Cmb_B->isEnabled() && s->TextMess->isEnabled()
                && QApplication::overrideCursor();
            for (int i = 0; i < 5; ++i) // no second exchange inside the first
                QTest::mouseClick(s->TextMess, Qt::LeftButton);
        });
        probe.start(2);
        pressed->setFocus();
        click(pressed);
        QCOMPARE(s->TextMess->text(), message);
        QVERIFY(pressed->isEnabled());
        QCOMPARE(s->focusWidget(), pressed);
        QVERIFY(!QApplication::overrideCursor());
        if (fault == "silent on") {
            QVERIFY(busyLooks);
            QVERIFY(!editorOpened);
        }
        QCOMPARE(s->Cmb_C->currentText(), QString("00")); // fields untouched
    }

    void registerModeRead_data()
    {
        QTest::addColumn<QString>("reg27");
        QTest::addColumn<QString>("reg6");
        QTest::addColumn<QString>("band"); // empty: the read fails, fields untouched
        QTest::addColumn<QString>("channel");
        QTest::newRow("band code 1, E0") << "01" << "E0" << "  00" << "  00";
        QTest::newRow("band code 3, E5") << "03" << "E5" << "  01" << "  05";
        QTest::newRow("band code 4, F7") << "04" << "F7" << "  02" << "  23";
        QTest::newRow("band code 6") << "06" << "E1" << "  04" << "  01";
        QTest::newRow("3F reads as 3") << "3F" << "E2" << "  01" << "  02";
        QTest::newRow("band code 2 fails") << "02" << "E5" << "" << "";
        QTest::newRow("band code 0 fails") << "00" << "E5" << "" << "";
        QTest::newRow("band code 7 fails") << "07" << "E5" << "" << "";
        QTest::newRow("0A reads as 0, fails") << "0A" << "E5" << "" << "";
        QTest::newRow("no leading digit fails") << "AB" << "E5" << "" << "";
        QTest::newRow("channel DF fails") << "03" << "DF" << "" << "";
        QTest::newRow("channel F8 fails") << "03" << "F8" << "" << "";
        QTest::newRow("channel 00 fails") << "03" << "00" << "" << "";
    }
    void registerModeRead()
    {
        QFETCH(QString, reg27);
        QFETCH(QString, reg6);
        QFETCH(QString, band);
        QFETCH(QString, channel);
        ScreenRig rig;
        frmSet *s = rig.openRegisterMode();
        rig.peer.unit().setReg(27, reg27);
        rig.peer.unit().setReg(6, reg6);
        click(s->Command_R);
        QCOMPARE(rig.peer.receivedLines(),
                 (QList<QByteArray>{"@REG27", "@REG06", "@REG04", "@REG05"}));
        if (band.isEmpty()) {
            QCOMPARE(s->TextMess->text(), QString("m34"));
            QCOMPARE(s->Cmb_B->currentText(), QString("0"));
            QCOMPARE(s->Cmb_C->currentText(), QString("00"));
        } else {
            QCOMPARE(s->TextMess->text(), QString("m33"));
            QCOMPARE(s->Cmb_B->currentText(), band);
            QCOMPARE(s->Cmb_C->currentText(), channel);
        }
    }

    void registerModeReadWithoutUnit()
    {
        ScreenRig rig;
        frmSet *s = rig.openRegisterMode();
        rig.peer.silent = true;
        click(s->Command_R);
        QCOMPARE(s->TextMess->text(), QString("m34"));
        QCOMPARE(rig.peer.receivedLines().size(), 12); // four reads, three sends each
    }

    void versionInRegisterModeSendsNothing()
    {
        ScreenRig rig;
        frmSet *s = rig.openRegisterMode();
        click(s->Command_V);
        QTest::qWait(30);
        QCOMPARE(rig.peer.received(), QByteArray());
        QCOMPARE(s->TextMess->text(), QString());
    }

    void noUnitModeReadsNothing()
    {
        ScreenRig rig;
        frmSet *s = rig.openLinked();
        app().UnitMode = 0;
        click(s->Command_R);
        click(s->Command_V);
        QTest::qWait(30);
        QCOMPARE(rig.peer.received(), QByteArray());
        QCOMPARE(s->TextMess->text(), QString("m1"));
    }

    void checks_data()
    {
        QTest::addColumn<bool>("bandField");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<QString>("message"); // of the write the click then runs
        QTest::newRow("band 4") << true << "4" << true << "m30";
        QTest::newRow("band 2.5 passes the check, not the write") << true << "2.5" << true << "m38";
        QTest::newRow("band 0") << true << " 0 " << true << "m30";
        QTest::newRow("band 5") << true << "5" << false << "m27";
        QTest::newRow("band -1") << true << "-1" << false << "m27";
        QTest::newRow("band letter") << true << "x" << false << "m27";
        QTest::newRow("band empty") << true << "" << false << "m27";
        QTest::newRow("channel 23") << false << "23" << true << "m30";
        QTest::newRow("channel 24") << false << "24" << false << "m27";
        QTest::newRow("channel 0") << false << "0" << true << "m30";
    }
    void checks()
    {
        QFETCH(bool, bandField);
        QFETCH(QString, typed);
        QFETCH(bool, accepted);
        QFETCH(QString, message);
        ScreenRig rig;
        frmSet *s = rig.openLinked();
        click(s->Command_R);
        rig.peer.clearReceived();
        s->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(s));
        QComboBox *field = bandField ? s->Cmb_B : s->Cmb_C;
        field->setFocus();
        field->setEditText(typed);
        click(s->Command_W); // the focus tries to leave here
        QTest::qWait(20);
        QCOMPARE(s->TextMess->text(), message);
        if (accepted) {
            QCOMPARE(field->currentText(), typed);
        } else {
            QCOMPARE(field->currentText(), QString());
            QCOMPARE(s->focusWidget(), field);
            QCOMPARE(rig.peer.received(), QByteArray()); // the click did nothing
            // Tab is refused as well while the field holds nothing valid.
            QTest::keyClick(field, Qt::Key_Tab);
            QCOMPARE(s->focusWidget(), field);
        }
    }

    void fiveClicksOpenEditor_data()
    {
        QTest::addColumn<int>("clicks");
        QTest::addColumn<int>("doubleClicks");
        QTest::addColumn<int>("opened");
        QTest::addColumn<int>("otherButtons"); // right and middle clicks, which do not count
        QTest::newRow("four clicks") << 4 << 0 << 0 << 0;
        QTest::newRow("five clicks") << 5 << 0 << 1 << 0;
        QTest::newRow("two double-clicks and a click") << 1 << 2 << 1 << 0;
        QTest::newRow("ten clicks") << 10 << 0 << 2 << 0;
        QTest::newRow("four clicks, right and middle ones") << 4 << 0 << 0 << 3;
    }
    void fiveClicksOpenEditor()
    {
        QFETCH(int, clicks);
        QFETCH(int, doubleClicks);
        QFETCH(int, opened);
        QFETCH(int, otherButtons);
        ScreenRig rig;
        frmSet *s = rig.openLinked();
        int seen = 0;
        QString title;
        ModalWatcher watcher([&](QDialog *d) {
            if (auto *reg = qobject_cast<frmReg *>(d)) {
                ++seen;
                title = reg->windowTitle();
                reg->reject();
            }
        });
        // A real double-click reaches a widget as a press and a double-click.
        for (int i = 0; i < doubleClicks; ++i) {
            QTest::mouseClick(s->TextMess, Qt::LeftButton);
            QTest::mouseDClick(s->TextMess, Qt::LeftButton);
        }
        for (int i = 0; i < otherButtons; ++i)
            QTest::mouseClick(s->TextMess, i % 2 ? Qt::MiddleButton : Qt::RightButton);
        for (int i = 0; i < clicks; ++i)
            QTest::mouseClick(s->TextMess, Qt::LeftButton);
        QCOMPARE(seen, opened);
        if (opened)
            QCOMPARE(title, QString("d17"));
        QCOMPARE(app().MessageClickCount, (clicks + 2 * doubleClicks) % 5);
    }

    void closedDuringWatchStaysClosed()
    {
        ScreenRig rig;
        ApplySimCommand(rig.peer, "silent on");
        QTest::mouseClick(rig.main->Cmd_Wireless, Qt::LeftButton);
        frmSet *s = rig.screen();
        QTimer::singleShot(20, s, [&] {
            s->close();
            ApplySimCommand(rig.peer, "silent off");
            rig.peer.sendRaw("KZ90$\r\n");
        });
        QVERIFY(rig.idleUntil([] { return app().WatchMode == 0; }));
        QVERIFY(!s->isVisible());
        QCOMPARE(baseColour(s->TextSign), Red);
    }

    // An adapter pulled out: said at once, exchanges end at once; plugged
    // in again (a new line in its place), the port comes back by itself.
    // A port closed on purpose stays closed.
    void portLostAndBack_data()
    {
        QTest::addColumn<int>("how"); // 0 unplugged, 1 unplugged during a read, 2 then exit "No"
        QTest::newRow("adapter unplugged and back") << 0;
        QTest::newRow("unplugged during a read") << 1;
        QTest::newRow("unplugged, then closed by the exit question") << 2;
    }
    void portLostAndBack()
    {
        QFETCH(int, how);
        ScreenRig rig;
        frmSet *s = rig.openLinked();
        CommControl &comm = rig.main->MSComm1();
        ModalWatcher unexpected;
        QElapsedTimer t;
        TimeScale::set(1.0); // a read would wait 7 s for an answer that never comes
        if (how == 1) {
            ApplySimCommand(rig.peer, "silent on");
            QTimer::singleShot(20, s, [&] { rig.peer.dropLine(); });
            t.start();
            click(s->Command_R);
            QVERIFY2(t.elapsed() < 1000, qPrintable(QString::number(t.elapsed())));
            QCOMPARE(s->TextMess->text(), QString("m47"));
        } else {
            rig.peer.dropLine();
            QVERIFY(waitUntil([&] { return !comm.PortOpen(); }, 2000));
            // The screen knows at once: no link on a lost line.
            QCOMPARE(baseColour(s->TextSign), Red);
            QCOMPARE(s->TextMess->text(), QString("m47"));
        }
        QCOMPARE(rig.main->TextMess->text(), QString("m47"));
        QCOMPARE(rig.main->lblPort->text(), "COM1 \u2192 " + rig.st.dir() + "COM1: m123");
        if (how == 2) {
            ModalWatcher no([](QDialog *d) { static_cast<frmExit *>(d)->Cmd_Can->click(); });
            rig.main->close();
            app().UnitMode = 2;
        }
        t.start();
        click(s->Command_R);
        QVERIFY2(t.elapsed() < 1000, qPrintable(QString::number(t.elapsed())));
        QCOMPARE(s->TextMess->text(), QString("m48"));
        TimeScale::set(0.01);
        SimPeer again; // the adapter back, as a new line under the same name
        QFile::remove(rig.st.dir() + "COM1");
        QVERIFY(QFile::link(again.slavePath(), rig.st.dir() + "COM1"));
        QCOMPARE(waitUntil([&] { return comm.PortOpen(); }, how == 2 ? 1000 : 1500), how != 2);
        QVERIFY(unexpected.boxes.isEmpty());
        if (how == 2)
            return;
        const QString device = QFileInfo(again.slavePath()).canonicalFilePath();
        QCOMPARE(rig.main->TextMess->text(), QString("m49"));
        QCOMPARE(rig.main->lblPort->text(), "COM1 \u2192 " + device + ": m122");
        QVERIFY(s->isVisible());
        QCOMPARE(s->TextMess->text(), QString("m49"));
        QCOMPARE(app().UnitMode, qint16(2));
        // The link is made anew with the unit now on the line.
        QVERIFY(rig.idleUntil([&] { return baseColour(s->TextSign) == Green; }));
        click(s->Command_R);
        QCOMPARE(s->TextMess->text(), QString("m27"));
    }

    // While an exchange runs nothing may change its port, discard its input
    // or start another: the main window's buttons, its port settings and the
    // exit wait for it, and so do the other window's buttons.
    void oneExchangeAtATime_data()
    {
        QTest::addColumn<int>("which"); // 0 settings screen's read, 1 FRH preset, 2 register editor's write
        QTest::newRow("settings screen's read") << 0;
        QTest::newRow("FRH preset") << 1;
        QTest::newRow("register editor's write") << 2;
    }
    void oneExchangeAtATime()
    {
        QFETCH(int, which);
        ScreenRig rig;
        frmSet *s = rig.openLinked();
        ApplySimCommand(rig.peer, "delay 10");
        frmMain &m = *rig.main;
        bool probed = false, menuEnabled = true, buttonsEnabled = true, screenEnabled = true;
        bool mainStayed = false;
        QString mainMessage;
        QStringList dialogs;
        QTimer probe;
        connect(&probe, &QTimer::timeout, s, [&] {
            if (probed || !m.MSComm1().exchangeRunning())
                return;
            probed = true;
            menuEnabled = m.menuComSet->isEnabled() || m.menuApplyConfig->isEnabled();
            buttonsEnabled = m.Cmd_Wireless->isEnabled() || m.Cmd_FRH->isEnabled();
            screenEnabled = s->Command_R->isEnabled();
            emit m.menuComSet->triggered(); // as if the item were chosen all the same
            m.close();
            mainStayed = m.isVisible();
            mainMessage = m.TextMess->text();
        });
        ModalWatcher watcher([&](QDialog *d) {
            if (auto *editor = qobject_cast<frmReg *>(d)) {
                probe.start(2);
                click(editor->Cmd_W);
                QCOMPARE(editor->TextMess->text(), QString("m14"));
            } else {
                dialogs << d->metaObject()->className(); // a port dialog or the exit question
            }
            d->reject();
        });
        if (which == 0) {
            probe.start(2);
            click(s->Command_R);
            QCOMPARE(s->TextMess->text(), QString("m27"));
        } else if (which == 1) {
            probe.start(2);
            click(m.Cmd_FRH);
            QVERIFY(app().FrhDone);
        } else {
            for (int i = 0; i < 5; ++i)
                click(s->TextMess);
        }
        QVERIFY(probed);
        QVERIFY(dialogs.isEmpty());
        QVERIFY(!menuEnabled);
        QVERIFY(!buttonsEnabled);
        if (which == 1) // the preset is the main window's; the screen waits too
            QVERIFY(!screenEnabled);
        QVERIFY(mainStayed);
        QCOMPARE(mainMessage, QString("m100"));
        QVERIFY(m.menuComSet->isEnabled() && m.Cmd_Wireless->isEnabled() && s->Command_R->isEnabled());
    }

    // Written from another window, the unit no longer holds what the screen
    // shows: the screen says so, and Write asks before it puts those values
    // back.
    void writtenElsewhere_data()
    {
        QTest::addColumn<int>("by"); // 0 the register editor, 1 the FRH preset, 2 an apply from the menu
        QTest::newRow("the register editor") << 0;
        QTest::newRow("the FRH preset") << 1;
        QTest::newRow("a configuration applied from the menu") << 2;
        QTest::newRow("its own write: not written from elsewhere") << 3;
    }
    void writtenElsewhere()
    {
        QFETCH(int, by);
        ScreenRig rig;
        frmSet *s = rig.openLinked();
        click(s->Command_R);
        QCOMPARE(s->TextMess->text(), QString("m27"));
        rig.st.write("unit.ini", "[unit]\nformat = 1\n[registers]\n12 = 5A\n");
        auto watcher = std::make_unique<ModalWatcher>([&](QDialog *d) {
            if (auto *editor = qobject_cast<frmReg *>(d)) {
                editor->Cmb_C->setEditText("  12");
                editor->Text1->setText("5A");
                click(editor->Cmd_W);
                editor->reject();
            } else if (auto *files = qobject_cast<QFileDialog *>(d)) {
                files->setDirectory(rig.st.dir());
                files->findChild<QLineEdit *>("fileNameEdit")->setText(rig.st.path("unit.ini"));
                QMetaObject::invokeMethod(files, "accept");
            }
        });
        if (by == 0) {
            for (int i = 0; i < 5; ++i)
                click(s->TextMess);
        } else if (by == 1) {
            click(rig.main->Cmd_FRH);
        } else if (by == 2) {
            rig.main->menuApplyConfig->trigger();
        } else {
            click(s->Command_W);
        }
        watcher.reset();
        rig.peer.clearReceived();
        ModalWatcher asked;
        asked.answer = QMessageBox::No;
        if (by == 3) { // what the screen wrote is still what it shows
            QCOMPARE(s->TextMess->text(), QString("m30"));
            click(s->Command_W);
            QCOMPARE(asked.boxes, QStringList());
            QCOMPARE(rig.peer.receivedLines(), QList<QByteArray>{"@KZ9D1050021000"});
            return;
        }
        QCOMPARE(rig.peer.unit().reg(12), QString(by == 1 ? "12" : "5A"));
        QCOMPARE(s->TextMess->text(), QString("m121"));
        click(s->Command_W);
        QCOMPARE(asked.boxes, QStringList{"d13|m39"});
        QCOMPARE(rig.peer.received(), QByteArray());
    }

    // Each of the windows' exchange sequences leaves one site book entry:
    // its action, its outcome, the unit's port and its backup whole.
    void bookEntries_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<QString>("fault"); // for the simulated unit
        QTest::addColumn<QString>("result");
        QTest::newRow("settings read") << "settings read" << "" << "read";
        QTest::newRow("settings read, no answer") << "settings read" << "silent on" << "failed";
        QTest::newRow("settings read, register path") << "settings read, registers" << "" << "read";
        QTest::newRow("settings write") << "settings write" << "" << "written";
        QTest::newRow("settings write refused") << "settings write" << "refuse on" << "not written";
        QTest::newRow("version") << "version" << "" << "read";
        QTest::newRow("register read") << "register read" << "" << "read";
        QTest::newRow("register write") << "register write" << "" << "written";
        QTest::newRow("register write, no answer") << "register write" << "silent on" << "may have been written";
        QTest::newRow("preset") << "preset" << "" << "verified";
        QTest::newRow("save") << "save" << "" << "saved";
        QTest::newRow("apply") << "apply" << "" << "verified";
        QTest::newRow("apply, a difference") << "apply" << "stuck 12" << "differs";
    }
    void bookEntries()
    {
        QFETCH(QString, action);
        QFETCH(QString, fault);
        QFETCH(QString, result);
        ScreenRig rig;
        SiteBookPlace place;
        place.kind = SiteBookPlace::File;
        place.path = rig.st.path("sitebook.sqlite");
        SiteBookRecorder::setPlace(place);
        frmSet *s = action.endsWith("registers") ? rig.openRegisterMode() : rig.openLinked();
        rig.peer.unit().setReg(27, "03"); // a band and channel the screen shows
        rig.peer.unit().setReg(6, "E5");
        rig.st.write("unit.ini", "[unit]\nformat = 1\n[registers]\n12 = 5A\n");
        if (action == "settings write")
            click(s->Command_R); // the fields from the unit: nothing to ask
        if (!fault.isEmpty())
            ApplySimCommand(rig.peer, fault);
        ModalWatcher watcher([&](QDialog *d) {
            if (auto *editor = qobject_cast<frmReg *>(d)) {
                editor->Cmb_C->setEditText("  12");
                editor->Text1->setText("5A");
                click(action == "register read" ? editor->Cmd_R : editor->Cmd_W);
                editor->reject();
            } else if (auto *files = qobject_cast<QFileDialog *>(d)) {
                files->setDirectory(rig.st.dir());
                files->findChild<QLineEdit *>("fileNameEdit")
                    ->setText(rig.st.path(action == "save" ? "saved.ini" : "unit.ini"));
                QMetaObject::invokeMethod(files, "accept");
            }
        });
        if (action.startsWith("register"))
            for (int i = 0; i < 5; ++i)
                click(s->TextMess);
        else if (action.startsWith("settings read"))
            click(s->Command_R);
        else if (action == "settings write")
            click(s->Command_W);
        else if (action == "version")
            click(s->Command_V);
        else if (action == "preset")
            click(rig.main->Cmd_FRH);
        else if (action == "save")
            rig.main->menuSaveConfig->trigger();
        else
            rig.main->menuApplyConfig->trigger();
        Ui::FinishBookEntries();
        SiteBook book(place);
        QString error;
        QList<SiteBookEntry> mine;
        for (const SiteBookEntry &e : book.entries({}, &error, true).value_or(QList<SiteBookEntry>()))
            if (e.action == action.section(',', 0, 0))
                mine << e;
        QCOMPARE(mine.size(), 1);
        QCOMPARE(mine.first().result, result);
        QCOMPARE(mine.first().port, QString("COM1"));
        QFile backup(mine.first().backupPath);
        QCOMPARE(mine.first().backupText.toUtf8(), backup.open(QIODevice::ReadOnly) ? backup.readAll() : QByteArray());
        QCOMPARE(mine.first().backupPath.isEmpty(), action != "preset" && action != "apply" && action != "save");
        SiteBookRecorder::setPlace(SiteBookPlace());
    }

    // The link poll goes on while the unit has not answered it, and pauses
    // while an exchange runs: its answer would be taken for the reply.
    void pollPausesDuringExchanges()
    {
        ScreenRig rig;
        ApplySimCommand(rig.peer, "letter A"); // the watch ends; the poll goes on
        click(rig.main->Cmd_Wireless);
        QVERIFY(rig.idleUntil([] { return app().WatchMode == 0; }));
        frmSet *s = rig.screen();
        ApplySimCommand(rig.peer, "letter off");
        ApplySimCommand(rig.peer, "delay 60");
        QStringList sentDuring;
        connect(&rig.peer, &SimPeer::lineReceived, s, [&](const QByteArray &line) {
            if (rig.main->MSComm1().exchangeRunning())
                sentDuring << QString::fromLatin1(line);
        });
        click(s->Command_V);
        QCOMPARE(s->TextMess->text(), QString("VQML47210 R1.2"));
        QCOMPARE(sentDuring, QStringList{"@KZ9V"});
        rig.peer.clearReceived();
        QVERIFY(waitUntil([&] { return rig.peer.receivedLines().contains("@KZ9#"); }, 1000));
    }

    // A line begun before the adapter was pulled never continues on the
    // reopened port: the unit plugged in answers the poll as if new.
    void partialLineGoesWithTheLine()
    {
        ScreenRig rig;
        ApplySimCommand(rig.peer, "silent on");
        click(rig.main->Cmd_Wireless);
        frmSet *s = rig.screen();
        SimPeer again;
        QString begun;
        // All while the idle loop watches for the answer to the poll.
        QTimer::singleShot(20, s, [&] { rig.peer.sendRaw("KZ90"); });
        QTimer::singleShot(60, s, [&] {
            begun = app().RxLineBuffer;
            rig.peer.dropLine();
            QFile::remove(rig.st.dir() + "COM1");
            QFile::link(again.slavePath(), rig.st.dir() + "COM1");
        });
        QVERIFY(rig.idleUntil([&] { return baseColour(s->TextSign) == Green; }, 2000));
        QCOMPARE(begun, QString("KZ90"));
    }

    // Enter presses the focused button, Escape closes the screen, F10 opens
    // the menu bar.
    void keyboard()
    {
        ScreenRig rig;
        rig.main->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(rig.main.get()));
        rig.main->Cmd_Wireless->setFocus();
        QTest::keyClick(rig.main->Cmd_Wireless, Qt::Key_Return);
        frmSet *s = rig.screen();
        QVERIFY(s && s->isVisible());
        QVERIFY(rig.idleUntil([] { return app().WatchMode == 0; }));
        s->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(s));
        s->Command_R->setFocus();
        QSignalSpy reads(s->Command_R, &QPushButton::clicked);
        QTest::keyClick(s->Command_R, Qt::Key_Enter);
        QCOMPARE(s->TextMess->text(), QString("m27"));
        QCOMPARE(reads.count(), 1); // once a key, not again as it is let go
        QTest::keyClick(s, Qt::Key_Escape);
        QVERIFY(!s->isVisible());
        rig.main->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(rig.main.get()));
        QTest::keyClick(rig.main.get(), Qt::Key_F10);
        QVERIFY(qobject_cast<QMenu *>(QApplication::activePopupWidget()));
        QApplication::activePopupWidget()->close();
    }

    // Closing waits for the exchange to end: closed mid-exchange, the screen
    // could be opened again and start a second exchange inside the first.
    void closedDuringExchange()
    {
        ScreenRig rig;
        frmSet *s = rig.openLinked();
        ApplySimCommand(rig.peer, "delay 40");
        bool stayed = false;
        QTimer::singleShot(10, s, [&] {
            s->close();
            stayed = s->isVisible();
        });
        click(s->Command_R);
        QVERIFY(stayed);
        QCOMPARE(s->TextMess->text(), QString("m27"));
        s->close();
        QVERIFY(!s->isVisible());
        // Opening it again loads it afresh.
        QTest::mouseClick(rig.main->Cmd_Wireless, Qt::LeftButton);
        QVERIFY(s->isVisible());
        QCOMPARE(s->TextMess->text(), QString("m0"));
    }
};

QTEST_MAIN(TestSettingsScreen)
#include "tst_frmset.moc"
