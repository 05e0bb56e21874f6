#include "core/AppState.h"
#include "serial/modLog.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QProcess>
#include <QTest>
#include <QTextStream>

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

    // A link at the log's name that is easy to foresee, or one put in the
    // place of the log while it is written: the file it points to stays as it
    // was, and every entry goes to the one log made. As an ordinary user in a
    // folder shared with another user, and as root in a folder that an
    // ordinary user owns.
    void plantedLink_data()
    {
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("when");
        QTest::newRow("nobody, planted before the first entry") << "nobody" << "before";
        QTest::newRow("nobody, put in the log's place after it") << "nobody" << "after";
        QTest::newRow("root, planted before the first entry") << "root" << "before";
        QTest::newRow("root, put in the log's place after it") << "root" << "after";
    }
    void plantedLink()
    {
        QFETCH(QString, user);
        QFETCH(QString, when);
        const bool asNobody = user == "nobody";
        const QString self = QCoreApplication::applicationFilePath();
        if (const QString why = asNobodyUnavailable(self); !why.isEmpty())
            QSKIP(qPrintable(why));
        QTemporaryDir top;
        letOthersIn(top.path());
        const QString shared = top.path() + "/shared/", victim = top.path() + "/victim/";
        QVERIFY(QDir().mkpath(shared) && QDir().mkpath(victim));
        const QByteArray profile("PATH=/usr/bin\n");
        QFile target(victim + ".profile");
        QVERIFY(target.open(QIODevice::WriteOnly));
        target.write(profile);
        target.close();
        if (asNobody) {
            QVERIFY(giveTo(victim, "nobody") && giveTo(victim + ".profile", "nobody"));
            QFile::setPermissions(shared, QFile::Permissions(0x7777)); // rwx for all: shared
        } else {
            QVERIFY(giveTo(shared, "nobody"));
        }
        const QString name = shared + "Log20261207114002.log";
        if (when == "before") {
            QVERIFY(QFile::link(victim + ".profile", name));
            QVERIFY(giveTo(name, asNobody ? "daemon" : "nobody"));
        }
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QML_LOG_IN", shared);
        env.insert("QML_LOG_SWAP_TO", when == "after" ? victim + ".profile" : QString());
        QByteArray output;
        if (asNobody) {
            QCOMPARE(runAsNobody(self, {}, env, &output), 0);
        } else {
            QProcess p;
            p.setProcessEnvironment(env);
            p.start(self, {});
            QVERIFY(p.waitForFinished());
            QCOMPARE(p.exitCode(), 0);
            output = p.readAllStandardOutput();
        }
        QVERIFY(target.open(QIODevice::ReadOnly));
        QCOMPARE(target.readAll(), profile);
        // The log made at the first entry holds both entries.
        QString made = shared + "moved.log";
        if (when == "before") { // a name of its own beside the link
            made = QString::fromLocal8Bit(output.trimmed());
            QVERIFY2(made.startsWith(shared + "Log20261207114002-") && made.endsWith(".log"),
                     output.constData());
        }
        QFile log(made);
        QVERIFY(log.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = log.readAll().split('\n');
        QCOMPARE(lines.size(), 3);
        QVERIFY(lines[0].endsWith(" @RST\r") && lines[1].endsWith(" P0\r"));
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

// Run by plantedLink as the user of its row: two entries of a log in the
// folder given, the log put aside and a link put in its place between them
// when asked; prints the log's name.
int logIn(const QString &folder, const QString &swapTo)
{
    app() = AppState{};
    app().AppDir = app().WorkDir = folder;
    app().DebugFlag = true;
    MakeLogName(QDateTime(QDate(2026, 12, 7), QTime(11, 40, 2)));
    LogSend("@RST");
    if (!swapTo.isEmpty()) {
        QFile::rename(app().LogFilePath, folder + "moved.log");
        QFile::link(swapTo, app().LogFilePath);
    }
    LogReceive("P0");
    QTextStream(stdout) << app().LogFilePath << "\n";
    return 0;
}

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    if (qEnvironmentVariableIsSet("QML_LOG_IN"))
        return logIn(qEnvironmentVariable("QML_LOG_IN"), qEnvironmentVariable("QML_LOG_SWAP_TO"));
    TestLog test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_modlog.moc"
