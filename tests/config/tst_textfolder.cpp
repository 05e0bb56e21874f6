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
    // The folder for this user's files: beside the program where the program
    // folder is the user's own and no installed one, else the user's own,
    // seeded once; what the program makes goes to the user's own folder
    // where the text folder is closed to new files.
    void choice_data()
    {
        QTest::addColumn<QString>("user");          // who runs it: "nobody", "root"
        QTest::addColumn<QString>("programFolder"); // "mine", "mine, closed", "installed", "theirs"
        QTest::addColumn<QString>("home");          // "writable", "read-only"
        QTest::addColumn<QString>("expect"); // "program", "user", "program+problem", "program, made in user"
        QTest::newRow("a folder the user owns: beside the program")
            << "nobody" << "mine" << "writable" << "program";
        QTest::newRow("installed: the user's own, seeded")
            << "nobody" << "installed" << "writable" << "user";
        QTest::newRow("installed, read-only home: the program's, said once")
            << "nobody" << "installed" << "read-only" << "program+problem";
        QTest::newRow("the user's folder, closed to new files: what is made goes to the user's own")
            << "nobody" << "mine, closed" << "writable" << "program, made in user";
        QTest::newRow("another user's folder with a setcom.ini anyone may write: the user's own")
            << "nobody" << "theirs" << "writable" << "user";
        QTest::newRow("installed, run by root: root's own, seeded")
            << "root" << "installed" << "writable" << "user";
        QTest::newRow("root's build folder, run by root: beside the program")
            << "root" << "mine" << "writable" << "program";
    }
    void choice()
    {
        QFETCH(QString, user);
        QFETCH(QString, programFolder);
        QFETCH(QString, home);
        QFETCH(QString, expect);
        const QString self = QCoreApplication::applicationFilePath();
        const bool asNobody = user == "nobody";
        if (const QString why = asNobodyUnavailable(self); asNobody && !why.isEmpty())
            QSKIP(qPrintable(why));
        QTemporaryDir top;
        letOthersIn(top.path());
        const QString program = top.path() + "/program/", userHome = top.path() + "/home/";
        QDir().mkpath(program);
        QDir().mkpath(userHome);
        for (const char *name : {"setcom.ini", "FRH10.ini", "debug.ini"})
            put(program + name, QByteArray("shipped ") + name);
        QDir().mkpath(program + "lang/en");
        put(program + "lang/en/message.ini", "shipped message");
        if (programFolder == "installed")
            put(program + InstalledMark, "installed\n");
        if (programFolder == "theirs") // issue 9 took this folder for its writable setcom.ini
            QFile::setPermissions(program + "setcom.ini", QFile::ReadOwner | QFile::WriteOwner
                                                              | QFile::ReadOther | QFile::WriteOther);
        if (programFolder.startsWith("mine") && asNobody) // the portable archive unpacked by this user
            QProcess::execute("chown", {"-R", "nobody", program});
        if (programFolder == "mine, closed")
            QFile::setPermissions(program, QFile::ReadOwner | QFile::ExeOwner | QFile::ReadOther
                                               | QFile::ExeOther);
        if (home == "writable" && asNobody)
            QProcess::execute("chown", {"-R", "nobody", userHome});

        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QML_CHOOSE", program);
        env.insert("HOME", userHome);
        env.insert("XDG_DATA_HOME", userHome + ".local/share");
        const auto choose = [&](QByteArray *output) {
            if (asNobody)
                return runAsNobody(self, {}, env, output);
            QProcess p;
            p.setProcessEnvironment(env);
            p.start(self, {});
            p.waitForFinished();
            *output = p.readAllStandardOutput();
            return p.exitCode();
        };
        QByteArray first, second;
        QCOMPARE(choose(&first), 0);
        const QString mine = userHome + ".local/share/qml47210/";
        if (expect == "program") {
            QCOMPARE(first, (program + "|" + program + "||0\n").toUtf8());
            QVERIFY(!QFileInfo::exists(mine));
        } else if (expect == "user") {
            QCOMPARE(first, (mine + "|" + mine + "||1\n").toUtf8());
            for (const char *name : {"setcom.ini", "FRH10.ini", "debug.ini"}) {
                QFile copy(mine + name);
                QVERIFY(copy.open(QIODevice::ReadOnly));
                QCOMPARE(copy.readAll(), QByteArray("shipped ") + name);
            }
            QVERIFY(!QFileInfo::exists(mine + "message.ini")); // the language stays free
            // The user's own files are never overwritten by a later start.
            put(mine + "setcom.ini", "\"3\"\r\n");
            QCOMPARE(choose(&second), 0);
            QCOMPARE(second, first);
            QFile f(mine + "setcom.ini");
            f.open(QIODevice::ReadOnly);
            QCOMPARE(f.readAll(), QByteArray("\"3\"\r\n"));
        } else if (expect == "program, made in user") {
            QCOMPARE(first, (program + "|" + mine + "||2\n").toUtf8());
            QVERIFY(QFileInfo(mine).isDir());
            QVERIFY(!QFileInfo::exists(mine + "setcom.ini")); // the text files stay where they are
        } else {
            QCOMPARE(first, (program + "|" + mine + "|" + mine + "|0\n").toUtf8());
        }
        QFile shipped(program + "setcom.ini"); // the program folder is never written
        QVERIFY(shipped.open(QIODevice::ReadOnly));
        QCOMPARE(shipped.readAll(), QByteArray("shipped setcom.ini"));
        QCOMPARE(QDir(program).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System).size(),
                 programFolder == "installed" ? 5 : 4);
        QFile::setPermissions(program, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
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
        QTextStream(stdout) << c.folder << "|" << c.workFolder << "|" << c.problem << "|"
                            << int(c.notice) << "\n";
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
