// The main window, its exit and version dialogs and the port dialog, driven
// as an operator would on the offscreen platform.

#include "config/FieldReader.h"
#include "config/FileSafety.h"
#include "config/modFile.h"
#include "sim/SimControl.h"
#include "sim/SimPeer.h"
#include "core/AppState.h"
#include "serial/DoEvents.h"
#include "serial/ReplyTimer.h"
#include "widgets/Ui.h"
#include "shell/frmCom.h"
#include "shell/frmExit.h"
#include "shell/frmMain.h"
#include "shell/frmVer.h"
#include "screens/frmReg.h"
#include "screens/frmSet.h"
#include "shell/modMain.h"
#include "support/GuiSupport.h"
#include "support/TestSupport.h"

#include <QComboBox>
#include <QFontDatabase>
#include <QFontInfo>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QFileDialog>
#include <QStatusBar>
#include <QSettings>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QTest>
#include <QWindow>
#include <QTextStream>

#include <unistd.h>

namespace {
QByteArray sjisLines(const QStringList &lines)
{
    return EncodeIniText(lines.join("\r\n") + "\r\n");
}

QStringList numbered(const QString &prefix, int count)
{
    QStringList l;
    for (int i = 0; i < count; ++i)
        l << prefix + QString::number(i);
    return l;
}

void click(QWidget *w) { QTest::mouseClick(w, Qt::LeftButton); }
} // namespace

class TestMainWindow : public QObject {
    Q_OBJECT
private slots:
    void init()
    {
        TimeScale::set(1.0);
        Ui::installPortErrorBox();
    }

    void captions_data()
    {
        QTest::addColumn<bool>("withFile");
        QTest::newRow("from dispname.ini") << true;
        QTest::newRow("no dispname.ini: empty captions") << false;
    }
    void captions()
    {
        QFETCH(bool, withFile);
        FreshState st;
        Pty pty;
        pty.linkAs(st.dir(), 1);
        st.usePort(1);
        if (withFile)
            for (int i = 0; i < 51; ++i)
                app().DispNameTable[i] = QStringLiteral("名前%1").arg(i);
        frmMain w;
        w.show();
        w.Form_Load();
        const QString n = withFile ? "名前%1" : "";
        auto name = [&](int i) { return withFile ? n.arg(i) : QString(); };
        QCOMPARE(w.windowTitle(), name(0));
        // What the window system shows: a zero-width space, not the program's name, for none.
        QCOMPARE(w.windowHandle()->title(), withFile ? name(0) : QString(u'\u200B'));
        QCOMPARE(w.Cmd_Wireless->text(), name(2));
        QCOMPARE(w.Cmd_Wired->text(), name(3));
        QCOMPARE(w.Cmd_Sim->text(), name(4));
        QCOMPARE(w.Cmd_FRH->text(), name(5));
        QCOMPARE(w.menuComSet->text(), name(6));
        QCOMPARE(w.menuEnd->text(), name(7));
        QCOMPARE(w.menuVersion->text(), name(8));
        QCOMPARE(w.menuSaveConfig->text(), name(34));
        QCOMPARE(w.menuApplyConfig->text(), name(35));
        QCOMPARE(w.Command1->text(), QString("Exit"));
        const QList<QAction *> menus = w.menuBar()->actions();
        QCOMPARE(menus.size(), 2);
        QCOMPARE(menus[0]->text(), QString("System"));
        QCOMPARE(menus[1]->text(), QString("Version"));
        QVERIFY(w.MSComm1().PortOpen());
        // MS P Gothic is not on Debian; the IPA face with its metrics stands in.
        if (QFontDatabase::hasFamily("IPAPGothic"))
            QCOMPARE(QFontInfo(w.Cmd_FRH->font()).family(), QString("IPAPGothic"));
        QVERIFY(QFontInfo(w.Cmd_FRH->font()).bold());
    }

    // The other windows' captions, each from its own entry, title first (the
    // port dialog's: portDialogListsAndAssigns).
    void dialogCaptions_data()
    {
        QTest::addColumn<QString>("window");
        QTest::addColumn<QList<int>>("entries");
        QTest::newRow("settings: band tips") << "settings" << QList<int>{13, 18, 18, 19, 20, 21, 22};
        QTest::newRow("registers") << "registers" << QList<int>{17};
        QTest::newRow("version") << "version" << QList<int>{12, 1};
        QTest::newRow("exit") << "exit" << QList<int>{1};
    }
    void dialogCaptions()
    {
        QFETCH(QString, window);
        QFETCH(QList<int>, entries);
        FreshState st;
        for (int i = 0; i < 51; ++i)
            app().DispNameTable[i] = QStringLiteral("名前%1").arg(i);
        CommControl comm;
        ReplyTimer timer;
        QStringList shown;
        if (window == "settings") {
            frmSet d(comm, timer);
            d.Form_Load();
            shown = QStringList{d.windowTitle(), d.Cmb_B->toolTip()};
            shown += d.Text_B->toolTip().split("  ", Qt::SkipEmptyParts);
        } else if (window == "registers") {
            frmReg d(comm, timer);
            d.Form_Load();
            shown = QStringList{d.windowTitle()};
        } else if (window == "version") {
            frmVer d;
            d.Form_Load();
            shown = QStringList{d.windowTitle(), d.lblTitle->text()};
        } else {
            frmExit d;
            d.Form_Load();
            shown = QStringList{d.windowTitle()};
        }
        QStringList expected;
        for (int n : entries)
            expected << QStringLiteral("名前%1").arg(n);
        QCOMPARE(shown, expected);
    }

    // A port that fails: the driver's box, then "<COM5> " and message 8.
    void portFailureWarning()
    {
        FreshState st;
        st.write("message.ini", sjisLines(numbered("m", 12)));
        QVERIFY(QFile::link(st.dir() + "nothing-here", st.dir() + "COM5"));
        st.usePort(5);
        extern void ReadMessageIni();
        ReadMessageIni();
        ModalWatcher watcher;
        frmMain w;
        w.show();
        w.Form_Load();
        QCOMPARE(watcher.boxes, (QStringList{"m3|m4\nm5\n" + st.dir() + "COM5: \n", "|<COM5> m8"}));
        QCOMPARE(watcher.icons, (QStringList{QString::number(QMessageBox::Critical),
                                             QString::number(QMessageBox::Warning)}));
        QVERIFY(!w.MSComm1().PortOpen());
        QVERIFY(w.isVisible());
    }

    void exitAnswers_data()
    {
        QTest::addColumn<bool>("yes");
        QTest::addColumn<int>("how"); // 0 Exit button, 1 end menu item, 2 close box
        QTest::newRow("No with the Exit button") << false << 0;
        QTest::newRow("No with the end item") << false << 1;
        QTest::newRow("No with the close box") << false << 2;
        QTest::newRow("Yes with the Exit button") << true << 0;
        QTest::newRow("Yes with the close box") << true << 2;
        QTest::newRow("No, asked again during the pause: one question") << false << 3;
    }
    void exitAnswers()
    {
        QFETCH(bool, yes);
        QFETCH(int, how);
        FreshState st;
        TimeScale::set(0.1); // the one-second pause takes 100 ms
        Pty pty;
        pty.linkAs(st.dir(), 1);
        st.usePort(1);
        app().MessageTable[10] = "Exit?";
        app().DispNameTable[1] = "Product";
        frmMain w;
        w.show();
        w.Form_Load();
        app().UnitMode = 2;
        QVERIFY(w.MSComm1().PortOpen());

        QString question, title;
        bool portOpenWhileAsked = false;
        int asked = 0;
        ModalWatcher watcher([&](QDialog *d) {
            auto *exit = qobject_cast<frmExit *>(d);
            QVERIFY(exit);
            ++asked;
            question = exit->Lbl_exit->text();
            title = exit->windowTitle();
            portOpenWhileAsked = w.MSComm1().PortOpen();
            click(yes ? exit->Cmd_OK : exit->Cmd_Can);
            if (how == 3) // the close box again while the first request pauses
                QTimer::singleShot(30, &w, [&] { w.close(); });
        });
        QElapsedTimer t;
        t.start();
        if (how == 0)
            click(w.Command1);
        else if (how == 1)
            w.menuEnd->trigger();
        else
            w.close();
        const qint64 elapsed = t.elapsed();
        QTest::qWait(60);
        QCOMPARE(asked, 1);
        QCOMPARE(question, QString("Exit?"));
        QCOMPARE(title, QString("Product"));
        QVERIFY(portOpenWhileAsked);
        QVERIFY2(elapsed >= 100, qPrintable(QString::number(elapsed)));
        QVERIFY(!w.MSComm1().PortOpen());
        QCOMPARE(app().UnitMode, qint16(0));
        QCOMPARE(app().ExitConfirmed, yes);
        QCOMPARE(w.isVisible(), !yes);
        if (yes) {
            // The idle loop ends at its next pass.
            IdlePass(w);
            QVERIFY(app().ExitConfirmed);
        } else { // after No the window can be closed again: it asks again
            w.close();
            QCOMPARE(asked, 2);
        }
    }

    // Every control where the design puts it, in twips, with its face and
    // colour: the operators' manuals show these windows.
    void layout_data()
    {
        QTest::addColumn<QString>("window");
        QTest::addColumn<QString>("control");
        QTest::addColumn<QRect>("twips"); // left, top, width, height
        QTest::addColumn<double>("points"); // 0: not looked at
        const auto row = [](const char *w, const char *c, int l, int t, int wd, int h, double pt) {
            QTest::newRow(qPrintable(QStringLiteral("%1 %2").arg(w, c)))
                << QString(w) << QString(c) << QRect(l, t, wd, h) << pt;
        };
        row("main", "TextMess", 540, 150, 4785, 480, 14.25);
        row("main", "Cmd_Wireless", 1230, 825, 3375, 555, 14.25);
        row("main", "Cmd_Wired", 1230, 1485, 3375, 555, 14.25);
        row("main", "Cmd_Sim", 1230, 2145, 3375, 555, 14.25);
        row("main", "Cmd_FRH", 1230, 2805, 3375, 555, 14.25);
        row("main", "Command1", 3390, 3615, 1215, 435, 12);
        row("exit", "Lbl_exit", 600, 510, 3195, 465, 14.25);
        row("exit", "Cmd_OK", 780, 1260, 1215, 435, 12);
        row("exit", "Cmd_Can", 2310, 1260, 1215, 435, 12);
        row("version", "lblTitle", 150, 180, 5565, 375, 14.25);
        row("version", "lblVer", 150, 660, 5565, 375, 14.25);
        row("version", "Command1", 2370, 1530, 1215, 435, 12);
        row("editor", "TextMess", 300, 120, 4785, 420, 14.25);
        row("editor", "Frame1", 345, 735, 4725, 1110, 0);
        row("editor", "Text_C", 450, 360, 1635, 465, 14.25);
        row("editor", "Cmb_C", 2100, 360, 1065, 465, 14.25);
        row("editor", "Text1", 3360, 360, 975, 465, 14.25);
        row("editor", "Cmd_W", 810, 2070, 1215, 435, 12);
        row("editor", "Cmd_R", 2145, 2070, 1215, 435, 12);
    }
    void layout()
    {
        QFETCH(QString, window);
        QFETCH(QString, control);
        QFETCH(QRect, twips);
        QFETCH(double, points);
        FreshState st;
        frmMain main;
        frmExit exit;
        frmVer version;
        frmReg editor(main.MSComm1(), main.Timer1());
        const QHash<QString, QWidget *> windows{
            {"main", main.centralWidget()}, {"exit", &exit}, {"version", &version}, {"editor", &editor}};
        const QHash<QString, QWidget *> controls{
            {"main TextMess", main.TextMess}, {"main Cmd_Wireless", main.Cmd_Wireless},
            {"main Cmd_Wired", main.Cmd_Wired}, {"main Cmd_Sim", main.Cmd_Sim},
            {"main Cmd_FRH", main.Cmd_FRH}, {"main Command1", main.Command1},
            {"exit Lbl_exit", exit.Lbl_exit}, {"exit Cmd_OK", exit.Cmd_OK},
            {"exit Cmd_Can", exit.Cmd_Can}, {"version lblTitle", version.lblTitle},
            {"version lblVer", version.lblVer}, {"version Command1", version.Command1},
            {"editor TextMess", editor.TextMess}, {"editor Frame1", editor.Frame1},
            {"editor Text_C", editor.Text_C}, {"editor Cmb_C", editor.Cmb_C},
            {"editor Text1", editor.Text1}, {"editor Cmd_W", editor.Cmd_W},
            {"editor Cmd_R", editor.Cmd_R}};
        QWidget *w = controls.value(window + " " + control);
        QVERIFY(w && windows.value(window));
        QCOMPARE(w->geometry(), Ui::rect(twips.left(), twips.top(), twips.width(), twips.height()));
        if (points > 0) {
            QCOMPARE(w->font().pointSizeF(), points);
            QVERIFY(w->font().bold());
        }
        // Client areas, colours.
        QCOMPARE(main.centralWidget()->size(), Ui::rect(0, 0, 5940, 4410).size());
        QCOMPARE(exit.size(), Ui::rect(0, 0, 4395, 2145).size());
        QCOMPARE(version.size(), Ui::rect(0, 0, 5880, 2205).size());
        QCOMPARE(editor.size(), Ui::rect(0, 0, 5430, 2775).size());
        QCOMPARE(main.TextMess->palette().color(QPalette::Base), QColor(224, 224, 224));
        QCOMPARE(editor.TextMess->palette().color(QPalette::Base), QColor(224, 224, 224));
        QCOMPARE(exit.palette().color(QPalette::Window), QColor(255, 255, 128));
        QCOMPARE(exit.Lbl_exit->palette().color(QPalette::WindowText), QColor(Qt::red));
        QCOMPARE(version.lblVer->palette().color(QPalette::WindowText), QColor(Qt::blue));
    }

    void exitDialogCloseBoxIsNo()
    {
        FreshState st;
        frmExit d;
        d.Form_Load();
        d.show();
        d.close();
        QVERIFY(!app().ExitConfirmed);
    }

    void versionDialog()
    {
        FreshState st;
        app().DispNameTable[0] = "Main title";
        app().DispNameTable[1] = "Product";
        app().DispNameTable[12] = "About";
        frmVer d;
        d.Form_Load();
        QCOMPARE(d.lblVer->text(), QString("2004/03/16  Ver 1.00"));
        QCOMPARE(d.lblTitle->text(), QString("Product"));
        QCOMPARE(d.windowTitle(), QString("About"));
        d.show();
        click(d.Command1);
        QVERIFY(!d.isVisible());
    }

    void portDialogValidation_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<int>("port");
        QTest::newRow("com3 is rejected (case)") << "com3" << false << 2;
        QTest::newRow("COMX7 is port 7") << "COMX7" << true << 7;
        QTest::newRow("COM10 is port 0") << "COM10" << true << 0;
        QTest::newRow("COM alone is rejected") << "COM" << false << 2;
        QTest::newRow("empty is rejected") << "" << false << 2;
        QTest::newRow("COM4 is port 4") << "COM4" << true << 4;
    }
    void portDialogValidation()
    {
        QFETCH(QString, typed);
        QFETCH(bool, accepted);
        QFETCH(int, port);
        FreshState st;
        app().ComPort = 2;
        CommControl comm;
        comm.setLinkDir(st.dir());
        frmCom d(comm);
        d.Form_Load();
        QCOMPARE(d.cmbCH->currentText(), QString("COM2"));
        d.show();
        QVERIFY(QTest::qWaitForWindowActive(&d));
        d.cmbCH->setFocus();
        d.cmbCH->setEditText(typed);
        ModalWatcher watcher;
        click(d.comSet); // the focus tries to leave the box here
        QCOMPARE(int(app().ComPort), port);
        if (!accepted) {
            QCOMPARE(d.cmbCH->currentText(), QString());
            QCOMPARE(d.focusWidget(), d.cmbCH);
            QVERIFY(watcher.boxes.isEmpty()); // the click never reached the button
            QVERIFY(d.isVisible());
        } else {
            // No device for these ports here: both failure boxes, dialog stays.
            QCOMPARE(watcher.boxes.size(), 2);
            QCOMPARE(watcher.boxes.last(), QString("|<%1> ").arg(typed));
            QVERIFY(d.isVisible());
        }
    }

    void portDialogApply_data()
    {
        QTest::addColumn<bool>("setcomExists");
        QTest::addColumn<bool>("free");
        QTest::newRow("free port, setcom.ini rewritten") << true << true;
        QTest::newRow("free port, setcom.ini not created") << false << true;
        QTest::newRow("port in use, setcom.ini kept") << true << false;
    }
    void portDialogApply()
    {
        QFETCH(bool, setcomExists);
        QFETCH(bool, free);
        FreshState st;
        const QByteArray oldSetcom("\"1\"\r\n\"9600\"\r\n\"8\"\r\n\"N\"\r\n\"1\"\r\n");
        if (setcomExists)
            st.write("setcom.ini", oldSetcom);
        st.usePort(1);
        Pty one, two;
        one.linkAs(st.dir(), 1);
        two.linkAs(st.dir(), 2);
        CommControl comm, other;
        comm.setLinkDir(st.dir());
        other.setLinkDir(st.dir());
        QVERIFY(comm.setCommPort(1) && comm.setPortOpen(true));
        if (!free)
            QVERIFY(other.setCommPort(2) && other.setPortOpen(true)); // another program holds COM2

        frmCom d(comm);
        d.Form_Load();
        d.show();
        QVERIFY(QTest::qWaitForWindowActive(&d));
        d.cmbCH->setFocus();
        d.cmbCH->setEditText("COM2");
        ModalWatcher watcher;
        click(d.comSet);
        QCOMPARE(int(app().ComPort), 2);
        if (free) {
            QVERIFY(comm.PortOpen());
            QCOMPARE(comm.deviceFor(2), QFileInfo(two.slavePath()).canonicalFilePath());
            comm.setOutput("@RST\r\n");
            QCOMPARE(two.readAll(50), QByteArray("@RST\r\n"));
            QVERIFY(!d.isVisible());
            QVERIFY(watcher.boxes.isEmpty());
            if (setcomExists)
                QCOMPARE(st.read("setcom.ini"),
                         QByteArray("\"2\"\r\n\"9600\"\r\n\"8\"\r\n\"N\"\r\n\"1\"\r\n"));
            else
                QVERIFY(!QFile::exists(st.path("setcom.ini")));
        } else {
            QVERIFY(!comm.PortOpen()); // the old port was closed before the try
            QCOMPARE(watcher.boxes.size(), 2);
            QCOMPARE(watcher.boxes.last(), QString("|<COM2> "));
            QVERIFY(d.isVisible());
            QCOMPARE(st.read("setcom.ini"), oldSetcom);
        }
    }

    // The choice is saved where the file allows it: in place in a folder of
    // the user's closed to new files; where setcom.ini is another user's
    // (even one anyone may write), in the user's own folder, and the dialog
    // says where. As an ordinary user.
    void portChoiceSavedAsOrdinaryUser_data()
    {
        QTest::addColumn<QString>("setcom");
        QTest::newRow("the user's own in a folder closed to new files: saved in place") << "own";
        QTest::newRow("the user's own, not writable: the operator is told") << "own, read-only";
        QTest::newRow("the user's own with a second name elsewhere: not rewritten in place, told")
            << "own, linked";
        QTest::newRow("another user's that anyone may write: saved in the user's own folder")
            << "another user's";
        QTest::newRow("another user's, and no folder of the user's own: nothing written, said why")
            << "nowhere";
    }
    void portChoiceSavedAsOrdinaryUser()
    {
        QFETCH(QString, setcom);
        const QString self = QCoreApplication::applicationFilePath();
        if (const QString why = asNobodyUnavailable(self); !why.isEmpty())
            QSKIP(qPrintable(why));
        QTemporaryDir dir, home;
        letOthersIn(dir.path());
        if (setcom != "nowhere") // else root's: nobody has no folder of its own anywhere
            QVERIFY(giveTo(home.path(), "nobody"));
        const QString file = dir.path() + "/setcom.ini";
        const QByteArray old("\"1\"\r\n\"9600\"\r\n\"8\"\r\n\"N\"\r\n\"1\"\r\n");
        const QByteArray chosen = QByteArray(old).replace("\"1\"\r\n\"9600", "\"2\"\r\n\"9600");
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(old);
        f.close();
        if (setcom == "another user's" || setcom == "nowhere") {
            f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther | QFile::WriteOther);
        } else {
            QVERIFY(giveTo(dir.path(), "nobody") && giveTo(file, "nobody"));
            f.setPermissions(QFile::ReadOwner | (setcom == "own, read-only" ? QFile::Permissions() : QFile::WriteOwner)
                             | QFile::ReadOther);
            if (setcom == "own, linked") // rewriting it in place would change the other name too
                QVERIFY(::link(QFile::encodeName(file).constData(),
                               QFile::encodeName(home.path() + "/other.ini").constData()) == 0);
            QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::ExeOwner | QFile::ReadOther
                                                  | QFile::ExeOther);
        }
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QML_APPLY_PORT_IN", dir.path() + "/");
        env.insert("XDG_DATA_HOME", home.path());
        QByteArray output;
        const int rc = runAsNobody(self, {}, env, &output);
        QVERIFY2(rc == 0, output.constData());
        f.open(QIODevice::ReadOnly);
        const QByteArray now = f.readAll();
        const QString own = home.path() + "/qml47210/setcom.ini";
        if (setcom == "own") {
            QCOMPARE(output.trimmed(), QByteArray("closed"));
            QCOMPARE(now, chosen);
        } else if (setcom == "own, read-only" || setcom == "own, linked") {
            QCOMPARE(output.trimmed(), QByteArray("open|m9\nm40\n") + file.toUtf8());
            QCOMPARE(now, old);
        } else if (setcom == "nowhere") {
            QCOMPARE(output.trimmed(), QString("open|m9\nm40\nm%1").arg(FolderMessages::NowhereToMake).toUtf8());
            QCOMPARE(now, old);
            QCOMPARE(QDir(home.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());
        } else {
            QCOMPARE(output.trimmed(), QString("closed|m%1\n%2").arg(FolderMessages::ChoiceSavedIn).arg(own).toUtf8());
            QCOMPARE(now, old);
            QFile mine(own);
            QVERIFY(mine.open(QIODevice::ReadOnly));
            QCOMPARE(mine.readAll(), chosen);
        }
        QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    // The devices present and what COMn reaches; a device chosen in the list
    // is assigned to the COM number and opened.
    void portDialogListsAndAssigns()
    {
        FreshState st;
        st.usePort(1);
        app().DispNameTable[25] = "present";
        app().DispNameTable[26] = "absent";
        app().DispNameTable[33] = "assign";
        Pty one, seven;
        one.linkAs(st.dir(), 1);
        seven.linkAs(st.dir(), 7);
        CommControl comm;
        comm.setLinkDir(st.dir());
        frmCom d(comm);
        d.Form_Load();
        d.show();
        const auto row = [&](const QString &device) -> QTreeWidgetItem * {
            const auto found = d.lstDevices->findItems(QFileInfo(device).canonicalFilePath(),
                                                        Qt::MatchExactly, 0);
            return found.isEmpty() ? nullptr : found.first();
        };
        QVERIFY(row(one.slavePath()));
        QCOMPARE(row(one.slavePath())->text(4), QString("COM1"));
        for (int n : {9, 10, 11, 27, 28, 29, 30, 31, 32})
            app().DispNameTable[n] = QStringLiteral("d%1").arg(n);
        d.Form_Load();
        QCOMPARE(d.windowTitle(), QString("d9"));
        QCOMPARE(d.Label1->text(), QString("d10"));
        QCOMPARE(d.comSet->text(), QString("d11"));
        QCOMPARE(d.lblDevices->text(), QString("d27"));
        QStringList ports;
        for (int i = 0; i < d.cmbCH->count(); ++i)
            ports << d.cmbCH->itemText(i);
        QCOMPARE(ports, (QStringList{"COM1", "COM2", "COM3", "COM4", "COM5", "COM6", "COM7", "COM8", "COM9"}));
        for (int c = 0; c < 5; ++c)
            QCOMPARE(d.lstDevices->headerItem()->text(c), QStringLiteral("d%1").arg(28 + c));
        QCOMPARE(d.lblDevice->text(),
                 "→ " + QFileInfo(one.slavePath()).canonicalFilePath() + " (present)");
        d.cmbCH->setEditText("COM4");
        QCOMPARE(d.lblDevice->text(), QString("→ /dev/ttyS3 (%1)")
                                          .arg(QFileInfo::exists("/dev/ttyS3") ? "present" : "absent"));

        Pty later; // plugged in while the dialog is open
        later.linkAs(st.dir(), 8);
        QVERIFY(waitUntil([&] { return row(later.slavePath()) != nullptr; }, 1500));

        // A folder that does not take the new link says so before the port
        // in use is given up.
        QVERIFY(comm.setCommPort(1) && comm.setPortOpen(true));
        QVERIFY(QDir().mkdir(st.path(".COM2.new")));
        row(seven.slavePath())->setSelected(true);
        d.cmbCH->setEditText("COM2");
        {
            for (int n : {8, 9, 10})
                app().MessageTable[n] = QStringLiteral("m%1").arg(n);
            ModalWatcher refused;
            d.comSet->click();
            QCOMPARE(refused.boxes.size(), 1);
            QVERIFY2(refused.boxes.first().startsWith("|m9\n"), qPrintable(refused.boxes.first()));
        }
        QVERIFY(comm.PortOpen());
        QCOMPARE(comm.commPort(), 1);
        QVERIFY(QDir().rmdir(st.path(".COM2.new")));
        QVERIFY(!QFileInfo(st.path("COM2")).isSymLink());

        // A device that does not open leaves COMn where it pointed.
        CommControl holder; // another program has it
        holder.setDevicePath(later.slavePath());
        QVERIFY(holder.setPortOpen(true));
        d.lstDevices->clearSelection();
        row(later.slavePath())->setSelected(true);
        d.cmbCH->setEditText("COM1");
        {
            ModalWatcher failed;
            d.comSet->click();
            QCOMPARE(failed.boxes.size(), 2);
        }
        QVERIFY(d.isVisible());
        QCOMPARE(comm.deviceFor(1), QFileInfo(one.slavePath()).canonicalFilePath());
        // The device COM1 leads to already, through a link of the user's:
        // chosen again, COM1 is left as the user made it.
        QVERIFY(QFile::remove(st.path("COM1")) && QFile::link(one.slavePath(), st.path("hop"))
                && QFile::link(st.path("hop"), st.path("COM1")));
        d.lstDevices->clearSelection();
        row(one.slavePath())->setSelected(true);
        d.cmbCH->setEditText("COM1");
        {
            ModalWatcher none;
            d.comSet->click();
        }
        QCOMPARE(QFile::symLinkTarget(st.path("COM1")), st.path("hop"));
        d.show();

        d.lstDevices->clearSelection();
        row(seven.slavePath())->setSelected(true);
        d.cmbCH->setEditText("COM2");
        QCOMPARE(d.lblDevice->text(),
                 "→ " + QFileInfo(seven.slavePath()).canonicalFilePath() + " (assign)");
        ModalWatcher watcher;
        d.comSet->click();
        QVERIFY(watcher.boxes.isEmpty());
        QVERIFY(!d.isVisible());
        QCOMPARE(comm.deviceFor(2), QFileInfo(seven.slavePath()).canonicalFilePath());
        QVERIFY(comm.PortOpen());
        comm.setOutput("@RST\r\n");
        QCOMPARE(seven.readAll(500), QByteArray("@RST\r\n"));
    }

    // A device chosen in the list with a COM box that holds no valid port:
    // the click is taken, the box proposes the first free COMn, and Set opens
    // the device there; COM2 then leads to the device by its stable name
    // where it has one, and the list shows that name.
    void portDialogListWithInvalidBox_data()
    {
        QTest::addColumn<bool>("stable");
        QTest::newRow("no stable name") << false;
        QTest::newRow("a stable name under by-id") << true;
    }
    void portDialogListWithInvalidBox()
    {
        QFETCH(bool, stable);
        FreshState st;
        st.usePort(1);
        Pty one, other;
        one.linkAs(st.dir(), 1);
        other.linkAs(st.dir(), 7);
        const QString byId = st.path("by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0");
        app().SerialByIdDir = st.path("by-id");
        if (stable)
            QVERIFY(QDir(st.dir()).mkdir("by-id") && QFile::link(other.slavePath(), byId));
        CommControl comm;
        comm.setLinkDir(st.dir());
        QVERIFY(comm.setCommPort(1) && comm.setPortOpen(true));
        frmCom d(comm);
        d.Form_Load();
        d.show();
        QVERIFY(QTest::qWaitForWindowActive(&d));
        d.cmbCH->setFocus();
        d.cmbCH->setEditText("COMX");
        const auto found = d.lstDevices->findItems(QFileInfo(other.slavePath()).canonicalFilePath(),
                                                   Qt::MatchExactly, 0);
        QVERIFY(!found.isEmpty());
        QCOMPARE(found.first()->text(3).contains("(usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0)"), stable);
        const QRect rect = d.lstDevices->visualItemRect(found.first());
        QTest::mouseClick(d.lstDevices->viewport(), Qt::LeftButton, {}, rect.center());
        QCOMPARE(d.cmbCH->currentText(), QString("COM2"));
        ModalWatcher watcher;
        click(d.comSet);
        QVERIFY(watcher.boxes.isEmpty());
        QVERIFY(!d.isVisible());
        QCOMPARE(comm.openDevice(), QFileInfo(other.slavePath()).canonicalFilePath());
        QCOMPARE(comm.deviceFor(2), QFileInfo(other.slavePath()).canonicalFilePath());
        QCOMPARE(QFile::symLinkTarget(st.path("COM2")), stable ? byId : QFileInfo(other.slavePath()).canonicalFilePath());
    }

    // After a lost line the port dialog decides: a port it applied and could
    // not open stays closed, even when the lost device comes back.
    void portDialogEndsTheLostLine()
    {
        FreshState st;
        st.usePort(1);
        auto unit = std::make_unique<SimPeer>();
        QFile::link(unit->slavePath(), st.path("COM1"));
        TimeScale::set(0.01);
        frmMain w;
        w.show();
        {
            ModalWatcher none;
            w.Form_Load();
        }
        CommControl &comm = w.MSComm1();
        QVERIFY(comm.PortOpen());
        unit->dropLine();
        QVERIFY(waitUntil([&] { return !comm.PortOpen(); }, 2000));
        unit.reset();
        QFile::remove(st.path("COM1"));
        QFile::link(st.path("gone"), st.path("COM1"));
        frmCom d(comm, &w);
        d.Form_Load();
        d.cmbCH->setEditText("COM1");
        {
            ModalWatcher failed;
            d.comSet->click(); // COM1 is not there
            QCOMPARE(failed.boxes.size(), 2);
        }
        SimPeer back;
        QFile::remove(st.path("COM1"));
        QVERIFY(QFile::link(back.slavePath(), st.path("COM1")));
        QTest::qWait(100); // ten tries of the lost line's reopen
        QVERIFY(!comm.PortOpen());
    }

    // Save a unit's configuration from the menu, change the unit, apply the
    // file: verified, and a backup; a bad file sends nothing.
    void unitConfigurationFromTheMenu()
    {
        FreshState st;
        TimeScale::set(0.01);
        SimPeer peer;
        QFile::link(peer.slavePath(), st.dir() + "COM1");
        st.usePort(1);
        for (int n = 0; n < AppState::TableSize - 1; ++n) {
            app().MessageTable[n] = QStringLiteral("m%1").arg(n);
            app().DispNameTable[n] = QStringLiteral("d%1").arg(n);
        }
        app().DispNameTable[37] = "*.ini"; // the file dialog's filter
        frmMain w;
        w.show();
        w.Form_Load();
        QString chosen;
        bool removeAfterChoice = false;
        QStringList startedIn; // where each file dialog opened
        ModalWatcher watcher([&](QDialog *d) {
            if (auto *files = qobject_cast<QFileDialog *>(d)) {
                startedIn << files->directory().absolutePath();
                files->setDirectory(QFileInfo(chosen).absolutePath());
                if (auto *name = files->findChild<QLineEdit *>("fileNameEdit"))
                    name->setText(chosen); // the whole path, typed
                QMetaObject::invokeMethod(files, "accept");
                if (removeAfterChoice) // e.g. the stick pulled while the unit is read
                    QDir(QFileInfo(chosen).absolutePath()).removeRecursively();
            }
        });
        chosen = st.path("unit.ini");
        ApplySimCommand(peer, "delay 40"); // the first answer comes late (within the time-out): the progress shows meanwhile
        bool progressShown = false;
        QTimer look;
        connect(&look, &QTimer::timeout, &w, [&] {
            auto *progress = qobject_cast<QProgressDialog *>(QApplication::activeModalWidget());
            if (!progressShown && progress && progress->isVisible() && progress->value() == 0
                && progress->labelText().endsWith(QString(" 1 / %1").arg(progress->maximum()))) { // the first of N, none done
                progressShown = true;
                ApplySimCommand(peer, "delay 0"); // seen: the rest at full speed
            }
        });
        look.start(5);
        w.menuSaveConfig->trigger();
        look.stop();
        QVERIFY(progressShown);
        QCOMPARE(watcher.boxes.last(), "d36|m50\n" + st.path("unit.ini"));
        // Unit files apart from the text files, in units/, made for them.
        QCOMPARE(startedIn.value(0), QFileInfo(WorkFolder() + "units").absoluteFilePath());
        const QString saved = QString::fromUtf8(st.read("unit.ini"));
        QVERIFY(saved.contains("[record]\nband        = 1"));
        QVERIFY(saved.contains("\n12 = 54\n"));
        QVERIFY(QDir(st.dir()).mkdir("gone"));
        chosen = st.path("gone/unit.ini");
        removeAfterChoice = true;
        w.menuSaveConfig->trigger();
        removeAfterChoice = false;
        QVERIFY2(watcher.boxes.last().startsWith("d36|m98: " + chosen + "\n"),
                 qPrintable(watcher.boxes.last()));

        peer.unit().setRecord(SimRecord{4, 2, {1, 1, 1, 1, 1, 1, 1}});
        peer.unit().setReg(12, "AA");
        chosen = st.path("unit.ini");
        w.menuApplyConfig->trigger();
        // The folder used last (it is gone since: units/ again).
        QCOMPARE(startedIn.value(1), QFileInfo(st.path("unit.ini")).absolutePath());
        QCOMPARE(startedIn.value(2), startedIn.value(0));
        QVERIFY2(watcher.boxes.last().startsWith("d36|m51\nm56 "), qPrintable(watcher.boxes.last()));
        QCOMPARE(peer.unit().record().band, 1);
        QCOMPARE(peer.unit().reg(12), QString("54"));
        QCOMPARE(QDir(BackupFolder()).entryList(QDir::Files).size(), 1);

        st.write("bad.ini", "[unit]\nformat = 1\n[registers]\n28 = 00\n");
        chosen = st.path("bad.ini");
        peer.clearReceived();
        w.menuApplyConfig->trigger();
        QCOMPARE(watcher.boxes.last(), QString("d36|m57 m112 4: m80: 28"));
        QTest::qWait(20);
        QCOMPARE(peer.received(), QByteArray());
        TimeScale::set(1.0);
    }

    // What the main window says once at start-up about where the files are.
    void whereFilesAre_data()
    {
        QTest::addColumn<int>("notice");
        QTest::addColumn<QString>("problem");
        QTest::addColumn<QString>("says"); // message number, then the folder named
        QTest::newRow("beside the program: nothing") << int(TextFolderChoice::NoNotice) << "" << "";
        QTest::newRow("the user's own folder") << int(TextFolderChoice::FilesInOwnFolder) << ""
                                               << QString("m%1 /text/").arg(FolderMessages::FilesInOwnFolder);
        QTest::newRow("closed to new files: made in the user's own")
            << int(TextFolderChoice::MadeInOwnFolder) << ""
            << QString("m%1 /work/").arg(FolderMessages::MadeInOwnFolder);
        QTest::newRow("others may change it: made in the user's own")
            << int(TextFolderChoice::NotYoursAlone) << ""
            << QString("m%1 /work/").arg(FolderMessages::NotYoursAlone);
        QTest::newRow("no folder of the user's own: nothing written")
            << int(TextFolderChoice::NothingMade) << "/own/"
            << QString("m%1 /own/").arg(FolderMessages::NothingMade);
        QTest::newRow("a file that could not be made") << int(TextFolderChoice::FilesInOwnFolder)
                                                       << "/text/FRH10.ini" << "m97 /text/FRH10.ini";
    }
    void whereFilesAre()
    {
        QFETCH(int, notice);
        QFETCH(QString, problem);
        QFETCH(QString, says);
        FreshState st;
        for (int n = 0; n < AppState::TableSize - 1; ++n)
            app().MessageTable[n] = QStringLiteral("m%1").arg(n);
        TextFolderChoice files;
        files.folder = "/text/";
        files.workFolder = notice == TextFolderChoice::NothingMade ? QString() : QString("/work/");
        files.notice = TextFolderChoice::Notice(notice);
        files.problem = problem;
        frmMain w;
        w.show();
        SayWhereFilesAre(w, files);
        QCOMPARE(w.TextMess->text(), says);
    }

    void portDialogFromMenu()
    {
        FreshState st;
        st.usePort(3);
        frmMain w;
        w.show();
        QString shown;
        {
            ModalWatcher watcher([&](QDialog *d) {
                if (auto *com = qobject_cast<frmCom *>(d)) {
                    shown = com->cmbCH->currentText();
                    d->reject();
                }
            });
            w.menuComSet->trigger();
        }
        QCOMPARE(shown, QString("COM3"));

        // A change applied there is confirmed where the port is shown.
        app().MessageTable[122] = "open";
        Pty two;
        QVERIFY(two.linkAs(st.dir(), 2));
        ModalWatcher apply([&](QDialog *d) {
            if (auto *com = qobject_cast<frmCom *>(d)) {
                com->cmbCH->setEditText("COM2");
                com->comSet->click();
            }
        });
        w.menuComSet->trigger();
        const QString line = "COM2 \u2192 " + QFileInfo(two.slavePath()).canonicalFilePath() + ": open";
        QCOMPARE(w.TextMess->text(), line);
        QCOMPARE(w.lblPort->text(), line);
        QVERIFY(!w.statusBar()->isSizeGripEnabled()); // a fixed frame: nothing to drag
    }
};

// Run as nobody by portChoiceSavedAsOrdinaryUser: applies COM2 in the port
// dialog with the text folder given (as QML47210_FILES names it), and prints whether the dialog closed
// and the boxes it showed.
int applyPortAsUser(const QString &folder)
{
    FreshState st; // the links live in a folder of this user's
    qputenv("QML47210_FILES", folder.toLocal8Bit());
    LoadTextFiles();
    for (int n = 0; n < AppState::TableSize - 1; ++n)
        app().MessageTable[n] = QStringLiteral("m%1").arg(n);
    Pty two;
    two.linkAs(st.dir(), 2);
    CommControl comm;
    comm.setLinkDir(st.dir());
    frmCom d(comm);
    d.Form_Load();
    d.show();
    d.cmbCH->setEditText("COM2");
    ModalWatcher watcher;
    d.comSet->click();
    QTextStream(stdout) << (d.isVisible() ? "open" : "closed")
                        << (watcher.boxes.isEmpty() ? QString() : watcher.boxes.join("+")) << "\n";
    if (!comm.PortOpen())
        QTextStream(stdout) << comm.failedDevice() << ": " << comm.failedErrorText() << "\n";
    return comm.PortOpen() ? 0 : 1;
}

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    if (qEnvironmentVariableIsSet("QML_APPLY_PORT_IN"))
        return applyPortAsUser(qEnvironmentVariable("QML_APPLY_PORT_IN"));
    TestMainWindow test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_frmmain.moc"
