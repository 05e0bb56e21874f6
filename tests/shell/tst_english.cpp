// An English operator's windows: the texts built into them follow the
// language, and the settings lists keep their order on the wire.

#include "core/AppState.h"
#include "protocol/SettingsLists.h"
#include "screens/frmSet.h"
#include "serial/CommControl.h"
#include "serial/ReplyTimer.h"
#include "shell/frmMain.h"
#include "shell/modMain.h"
#include "support/TestSupport.h"

#include <QComboBox>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QTest>

class TestEnglish : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { InstallTranslation("en"); } // before any list is built

    void settingsScreen()
    {
        FreshState st;
        CommControl comm;
        ReplyTimer timer;
        frmSet s(comm, timer);
        QCOMPARE(s.Command_W->text(), QString("Write"));
        QCOMPARE(s.Command_R->text(), QString("Read"));
        QCOMPARE(s.Command_V->text(), QString("Read version"));
        QStringList captions;
        for (QLineEdit *caption : s.Frame1->findChildren<QLineEdit *>())
            if (caption->isReadOnly())
                captions << caption->text();
        QVERIFY2(captions.contains("Band") && captions.contains("Channel") && captions.contains("Flow control"),
                 qPrintable(captions.join(", ")));
        const QStringList type{s.Cmb_type->itemText(0), s.Cmb_type->itemText(1)};
        QCOMPARE(type, (QStringList{"Master", "Slave"}));
        QCOMPARE(s.Cmb_parity->itemText(2), QString("Odd"));
        QCOMPARE(SettingsLists::bitRate().indexOf("9600"), 2); // positions are the record's
    }

    void mainWindowMenu()
    {
        FreshState st;
        frmMain w;
        QCOMPARE(w.menuComSet->text(), QString("Port settings"));
    }
};

QTEST_MAIN(TestEnglish)
#include "tst_english.moc"
