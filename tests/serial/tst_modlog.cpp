#include "core/AppState.h"
#include "serial/modLog.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QTest>

class TestLog : public QObject {
    Q_OBJECT
private slots:
    void fileName_data()
    {
        QTest::addColumn<QDateTime>("start");
        QTest::addColumn<QString>("name");
        QTest::newRow("morning") << QDateTime(QDate(2004, 3, 16), QTime(9, 30, 15))
                                 << "Log20040316093015.log";
        QTest::newRow("afternoon, 24-hour clock") << QDateTime(QDate(2026, 12, 7), QTime(23, 5, 9))
                                                  << "Log20261207230509.log";
    }
    void fileName()
    {
        QFETCH(QDateTime, start);
        QFETCH(QString, name);
        FreshState st;
        MakeLogName(start);
        QCOMPARE(app().LogFilePath, st.dir() + name);
    }

    void offWritesNothing()
    {
        FreshState st;
        MakeLogName();
        LogSend("@RST");
        LogReceive("P0");
        QCOMPARE(QDir(st.dir()).entryList(QDir::Files), QStringList());
    }

    void entriesAppendInOrder()
    {
        FreshState st;
        app().DebugFlag = true;
        MakeLogName();
        LogSend("@REG05");
        LogReceive("");
        LogReceive("3AH");
        const QStringList lines =
            QString::fromLatin1(st.read(QFileInfo(app().LogFilePath).fileName())).split("\r\n");
        QCOMPARE(lines.size(), 4);
        QVERIFY(lines[0].startsWith("S>") && lines[0].endsWith(" @REG05") && lines[0].size() == 17);
        QCOMPARE(lines[1].size(), 11); // "R<" + "hh:mm:ss "
        QVERIFY(lines[1].startsWith("R<") && lines[1].endsWith(' '));
        QVERIFY(lines[2].endsWith(" 3AH"));
    }

    void unwritableLogIsSkipped()
    {
        FreshState st;
        app().DebugFlag = true;
        app().LogFilePath = st.dir() + "no-such-folder/Log.log";
        LogSend("@RST"); // must neither crash nor create anything
        LogReceive("P0");
        QVERIFY(!QFile::exists(app().LogFilePath));
    }
};

QTEST_GUILESS_MAIN(TestLog)
#include "tst_modlog.moc"
