// Where the text files live and which captions and messages are read: on
// real folders with real permissions, as an ordinary user where that matters.

#include "config/TextFolder.h"
#include "config/modFile.h"
#include "core/AppState.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QProcess>
#include <QTest>
#include <QTextStream>

namespace {
void put(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    f.open(QIODevice::WriteOnly | QIODevice::Truncate);
    f.write(bytes);
}
} // namespace

class TestTextFolder : public QObject {
    Q_OBJECT
private slots:
    // The folder for this user's files: beside the program where the user can
    // keep the port choice there, else the user's own, seeded once.
    void choice_data()
    {
        QTest::addColumn<QString>("programFolder"); // "mine", "installed"
        QTest::addColumn<QString>("home");          // "writable", "read-only"
        QTest::addColumn<QString>("expect");        // "program", "user", "program+problem"
        QTest::newRow("a folder the user owns: beside the program") << "mine" << "writable" << "program";
        QTest::newRow("installed: the user's own, seeded") << "installed" << "writable" << "user";
        QTest::newRow("installed, read-only home: the program's, said once")
            << "installed" << "read-only" << "program+problem";
    }
    void choice()
    {
        QFETCH(QString, programFolder);
        QFETCH(QString, home);
        QFETCH(QString, expect);
        const QString self = QCoreApplication::applicationFilePath();
        if (const QString why = asNobodyUnavailable(self); !why.isEmpty())
            QSKIP(qPrintable(why));
        QTemporaryDir top;
        letOthersIn(top.path());
        const QString program = top.path() + "/program/", user = top.path() + "/home/";
        QDir().mkpath(program);
        QDir().mkpath(user);
        for (const char *name : {"setcom.ini", "FRH10.ini", "debug.ini"})
            put(program + name, QByteArray("shipped ") + name);
        QDir().mkpath(program + "lang/en");
        put(program + "lang/en/message.ini", "shipped message");
        if (programFolder == "mine") // the portable archive unpacked by this user
            QProcess::execute("chown", {"-R", "nobody", program});
        if (home == "writable")
            QProcess::execute("chown", {"-R", "nobody", user});

        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QML_CHOOSE", program);
        env.insert("HOME", user);
        env.insert("XDG_DATA_HOME", user + ".local/share");
        QByteArray first, second;
        QCOMPARE(runAsNobody(self, {}, env, &first), 0);
        const QString mine = user + ".local/share/qml47210/";
        if (expect == "program") {
            QCOMPARE(first, (program + "|\n").toUtf8());
            QVERIFY(!QFileInfo::exists(mine));
        } else if (expect == "user") {
            QCOMPARE(first, (mine + "|\n").toUtf8());
            for (const char *name : {"setcom.ini", "FRH10.ini", "debug.ini"})
                QCOMPARE(QFile(mine + name).exists(), true);
            QVERIFY(!QFileInfo::exists(mine + "message.ini")); // the language stays free
            // The user's own files are never overwritten by a later start.
            put(mine + "setcom.ini", "\"3\"\r\n");
            QCOMPARE(runAsNobody(self, {}, env, &second), 0);
            QCOMPARE(second, first);
            QFile f(mine + "setcom.ini");
            f.open(QIODevice::ReadOnly);
            QCOMPARE(f.readAll(), QByteArray("\"3\"\r\n"));
        } else {
            QCOMPARE(first, (program + "|" + mine + "\n").toUtf8());
        }
    }

    // The operator's own dispname.ini or message.ini wins; without it, the
    // shipped set of the language; Japanese under a Japanese locale only.
    void textSets_data()
    {
        QTest::addColumn<bool>("own");
        QTest::addColumn<QString>("lang"); // LANG of the process
        QTest::addColumn<QString>("forced");
        QTest::addColumn<QString>("expect");
        QTest::newRow("own file") << true << "ja_JP.UTF-8" << "" << "own";
        QTest::newRow("Japanese locale") << false << "ja_JP.UTF-8" << "" << "ja";
        QTest::newRow("English locale") << false << "en_GB.UTF-8" << "" << "en";
        QTest::newRow("another locale") << false << "de_DE.UTF-8" << "" << "en";
        QTest::newRow("forced English") << false << "ja_JP.UTF-8" << "en" << "en";
    }
    void textSets()
    {
        QFETCH(bool, own);
        QFETCH(QString, lang);
        QFETCH(QString, forced);
        QFETCH(QString, expect);
        QTemporaryDir dir;
        const QString program = dir.path() + "/";
        for (const char *l : {"ja", "en"}) {
            QDir().mkpath(program + "lang/" + l);
            put(program + "lang/" + l + "/message.ini", QByteArray(l) + "\r\n");
        }
        if (own)
            put(program + "message.ini", "own\r\n");
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QML_READ_MESSAGES", program);
        env.insert("LANG", lang);
        env.remove("LC_ALL");
        env.remove("LC_MESSAGES");
        env.insert("QML47210_LANG", forced);
        QProcess p;
        p.setProcessEnvironment(env);
        p.start(QCoreApplication::applicationFilePath(), {});
        QVERIFY(p.waitForFinished());
        QCOMPARE(QString::fromUtf8(p.readAllStandardOutput()).trimmed(), expect);
    }
};

// Run by the rows above in a process of its own (a user, a locale): the
// folder chosen and its problem; or message 0 as read.
int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    if (qEnvironmentVariableIsSet("QML_CHOOSE")) {
        const TextFolderChoice c = ChooseTextFolder(qEnvironmentVariable("QML_CHOOSE"), QString());
        QTextStream(stdout) << c.folder << "|" << c.problem << "\n";
        return 0;
    }
    if (qEnvironmentVariableIsSet("QML_READ_MESSAGES")) {
        const QString program = qEnvironmentVariable("QML_READ_MESSAGES");
        app().AppDir = program;
        app().ShippedTextDir =
            ShippedTextFolder(program, ChooseLanguage(qEnvironmentVariable("QML47210_LANG")));
        ReadMessageIni();
        QTextStream(stdout) << app().message(0) << "\n";
        return 0;
    }
    TestTextFolder test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_textfolder.moc"
