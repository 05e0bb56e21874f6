// Where the text files live and which captions and messages are read: on
// real folders with real permissions, as an ordinary user where that matters.

#include "config/FileSafety.h"
#include "config/TextFolder.h"
#include "config/modFile.h"
#include "core/AppState.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTextStream>

#include <pwd.h>

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
    // The longest target a link can hold (4095 bytes) is followed whole.
    void longestLinkTarget()
    {
        QTemporaryDir dir;
        const QString file = QFileInfo(dir.path()).canonicalFilePath() + "/unit.ini";
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.close();
        QString target = file;
        target.insert(file.lastIndexOf('/'), QString(4095 - file.size(), u'/')); // "//...//unit.ini"
        QCOMPARE(QFile::encodeName(target).size(), 4095);
        QVERIFY(QFile::link(target, dir.path() + "/COM1"));
        QCOMPARE(FollowTrustedLinks(dir.path() + "/COM1").target, file);
    }

    // The folder for this user's files: beside the program where the program
    // folder is the user's own and no installed one, else the user's own,
    // seeded once from the program's defaults/. What the program makes goes
    // only to a folder nobody else can change: the text folder where it is
    // one and takes new files, else the user's own; with neither, nowhere.
    // A line the chooser prints: folder|work folder|problem|notice|checked,
    // with P the program folder, N the named one, U the user's own under
    // the data folder given, R root's own under its home, H nobody's own
    // under its home; then what the text folder's three files hold.
    void choice_data()
    {
        QTest::addColumn<QString>("user");          // who runs it: "nobody", "root"
        QTest::addColumn<QString>("programFolder"); // "mine", "mine, closed", "installed", "theirs"
        QTest::addColumn<QString>("home");   // "writable", "read-only", "another user's", ...
        QTest::addColumn<QString>("named");  // QML47210_FILES: "", "theirs", "installed", ...
        QTest::addColumn<QString>("expect"); // the chooser's line
        QTest::addColumn<QString>("files");  // "edited", "shipped", "shipped debug.ini only"
        QTest::newRow("a folder the user owns: beside the program")
            << "nobody" << "mine" << "writable" << "" << "{P}|{P}||0|1" << "edited";
        QTest::newRow("installed: the user's own, seeded from defaults/")
            << "nobody" << "installed" << "writable" << "" << "{U}|{U}||1|1" << "shipped";
        QTest::newRow("installed, read-only home: the program's, nothing made, said once")
            << "nobody" << "installed" << "read-only" << "" << "{P}||{H}|4|0" << "edited";
        QTest::newRow("the user's folder, closed to new files: what is made goes to the user's own")
            << "nobody" << "mine, closed" << "writable" << "" << "{P}|{U}||2|1" << "edited";
        QTest::newRow("another user's folder with a setcom.ini anyone may write: the user's own")
            << "nobody" << "theirs" << "writable" << "" << "{U}|{U}||1|1" << "shipped";
        QTest::newRow("seeding: a link and a third user's file in defaults/ are not copied")
            << "nobody" << "installed, defaults planted" << "writable" << ""
            << "{U}|{U}||1|1" << "shipped debug.ini only";
        QTest::newRow("installed, run by root: root's own, seeded")
            << "root" << "installed" << "writable" << "" << "{U}|{U}||1|1" << "shipped";
        QTest::newRow("installed, run by root, its own folder on a full disk: said, no file left half made")
            << "root" << "installed" << "full" << "" << "{U}|{U}|{U}setcom.ini|1|1" << "none";
        QTest::newRow("root's build folder, run by root: beside the program")
            << "root" << "mine" << "writable" << "" << "{P}|{P}||0|1" << "edited";
        QTest::newRow("root, HOME another user's who ran it before: root's own home")
            << "root" << "installed" << "another user's" << "" << "{R}|{R}||1|1" << "shipped";
        QTest::newRow("root, HOME another user's, whose folder links to the installed one: root's own home")
            << "root" << "installed" << "another user's, a link to the program" << ""
            << "{R}|{R}||1|1" << "shipped";
        QTest::newRow("root, its own home read-only: the installed program's, nothing made")
            << "root" << "installed" << "root's read-only" << "" << "{P}||{R}|4|0" << "edited";
        QTest::newRow("named, another user's folder: read there, made in the user's own")
            << "nobody" << "mine" << "writable" << "theirs" << "{N}|{U}||3|0" << "edited";
        QTest::newRow("named by root, an ordinary user's folder: made in root's own")
            << "root" << "mine" << "writable" << "theirs" << "{N}|{U}||3|0" << "edited";
        QTest::newRow("named by root, its own folder inside an ordinary user's: made in root's own")
            << "root" << "mine" << "writable" << "root's, in theirs" << "{N}|{U}||3|0" << "edited";
        QTest::newRow("named by root, the installed program folder: made in root's own")
            << "root" << "installed" << "writable" << "the program" << "{P}|{U}||3|0" << "edited";
        QTest::newRow("named by nobody, its own folder: made there")
            << "nobody" << "installed" << "writable" << "mine" << "{N}|{N}||0|1" << "edited";
    }
    void choice()
    {
        QFETCH(QString, user);
        QFETCH(QString, programFolder);
        QFETCH(QString, home);
        QFETCH(QString, named);
        QFETCH(QString, expect);
        QFETCH(QString, files);
        const QString self = QCoreApplication::applicationFilePath();
        const bool asNobody = user == "nobody";
        if (const QString why = asNobodyUnavailable(self); !why.isEmpty())
            QSKIP(qPrintable(why));
        QTemporaryDir top;
        letOthersIn(top.path());
        const QString program = top.path() + "/program/", userHome = top.path() + "/home/",
                      theirs = top.path() + "/theirs/";
        QDir().mkpath(program);
        QDir().mkpath(userHome);
        QDir().mkpath(program + "defaults");
        // The files beside the program are its owner's, who may have edited
        // them; defaults/ holds them as shipped.
        for (const char *name : {"setcom.ini", "FRH10.ini", "debug.ini"}) {
            put(program + name, QByteArray("edited ") + name);
            put(program + "defaults/" + name, QByteArray("shipped ") + name);
        }
        QDir().mkpath(program + "lang/en");
        put(program + "lang/en/message.ini", "shipped message");
        if (programFolder.startsWith("installed"))
            put(program + InstalledMark, "installed\n");
        if (programFolder == "installed, defaults planted") {
            QFile::remove(program + "defaults/setcom.ini");
            QVERIFY(QFile::link(program + "setcom.ini", program + "defaults/setcom.ini"));
            QVERIFY(giveTo(program + "defaults/FRH10.ini", "daemon"));
        }
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
        // Another user's home, as sudo may pass it on to root: they ran the
        // program before, so their folder is there.
        const QString otherUsers = userHome + ".local/share/qml47210/";
        if (home.startsWith("another user's")) {
            env.remove("XDG_DATA_HOME");
            QDir().mkpath(userHome + ".local/share");
            if (home.endsWith("a link to the program"))
                QVERIFY(QFile::link(program, otherUsers.chopped(1)));
            else
                QVERIFY(QDir().mkpath(otherUsers));
            QProcess::execute("chown", {"-hR", "nobody", userHome});
        }
        if (home.startsWith("root's")) { // nowhere of root's to make a folder in
            env.remove("XDG_DATA_HOME");
            env.insert("HOME", "/root");
        }
        if (home == "full")
            env.insert("QML_FULL", userHome + ".local/share");
        if (home.startsWith("another user's") || home.startsWith("root's"))
            env.insert("QML_COVER_ROOT", home == "root's read-only" ? "read-only" : "empty");
        QString namedFolder;
        if (named == "theirs" || named == "root's, in theirs") {
            QDir().mkpath(theirs);
            QVERIFY(giveTo(theirs, asNobody ? "daemon" : "nobody"));
            namedFolder = theirs;
            if (named == "root's, in theirs") { // the owner of theirs/ can swap it for anything
                namedFolder = theirs + "shared/";
                QVERIFY(QDir().mkpath(namedFolder));
            }
        } else if (named == "the program") {
            namedFolder = program;
        } else if (named == "mine") {
            namedFolder = top.path() + "/mine/";
            QDir().mkpath(namedFolder);
            QVERIFY(giveTo(namedFolder, "nobody"));
        }
        if (!namedFolder.isEmpty()) {
            for (const char *name : {"setcom.ini", "FRH10.ini", "debug.ini"})
                put(namedFolder + name, QByteArray("edited ") + name);
            env.insert("QML47210_FILES", namedFolder);
            if (named == "the program")
                namedFolder.clear(); // the chooser names it P
        }
        const QStringList programBefore =
            QDir(program).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System);
        const auto otherFolder = [&] {
            return home.startsWith("another user's")
                ? QDir(otherUsers).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System)
                : QStringList();
        };
        const QStringList otherBefore = otherFolder();
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
        if (first.startsWith("SKIP "))
            QSKIP(first.mid(5).constData());
        const QString mine = userHome + ".local/share/qml47210/";
        const passwd *nobody = ::getpwnam("nobody");
        const QString line = QString(expect)
                                 .replace("{P}", program)
                                 .replace("{N}", namedFolder)
                                 .replace("{U}", mine)
                                 .replace("{R}", QStringLiteral("/root/.local/share/qml47210/"))
                                 .replace("{H}", QString::fromLocal8Bit(nobody->pw_dir)
                                                   + "/.local/share/qml47210/");
        QByteArray held;
        for (const char *name : {"setcom.ini", "FRH10.ini", "debug.ini"})
            held += QByteArray(name) + "="
                + (files == "edited" || files == "none" || (files == "shipped debug.ini only" && name != QByteArray("debug.ini"))
                       ? (files == "edited" ? QByteArray("edited ") + name : QByteArray("-"))
                       : QByteArray("shipped ") + name)
                + ";";
        QCOMPARE(QString::fromUtf8(first), line + "\n" + QString::fromLatin1(held) + "\n");
        if (expect.startsWith("{U}|{U}||")) {
            QVERIFY(!QFileInfo::exists(mine + "message.ini")); // the language stays free
            // The user's own files are never overwritten by a later start.
            put(mine + "setcom.ini", "\"3\"\r\n");
            QCOMPARE(choose(&second), 0);
            QCOMPARE(second.split('\n').value(0), first.split('\n').value(0));
            QFile f(mine + "setcom.ini");
            f.open(QIODevice::ReadOnly);
            QCOMPARE(f.readAll(), QByteArray("\"3\"\r\n"));
        }
        if (!expect.contains("{U}") && !home.startsWith("another user's"))
            QVERIFY(!QFileInfo::exists(mine));
        QFile shipped(program + "setcom.ini"); // the program folder is never written
        QVERIFY(shipped.open(QIODevice::ReadOnly));
        QCOMPARE(shipped.readAll(), QByteArray("edited setcom.ini"));
        QCOMPARE(QDir(program).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System),
                 programBefore);
        // Nothing is made in another user's folder.
        QCOMPARE(otherFolder(), otherBefore);
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
// folder chosen and what it holds; or message 0 as read.
int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    if (qEnvironmentVariableIsSet("QML_CHOOSE")) {
        if (qEnvironmentVariableIsSet("QML_COVER_ROOT")) { // root's home as an empty folder
            const QString why = privateMounts();
            if (!why.isEmpty() || !coverWithEmptyFolder("/root", qEnvironmentVariable("QML_COVER_ROOT") == "read-only")) {
                QTextStream(stdout) << "SKIP " << (why.isEmpty() ? QString("cannot cover /root") : why);
                return 0;
            }
        }
        if (const QString full = qEnvironmentVariable("QML_FULL"); !full.isEmpty()
            && (!privateMounts().isEmpty() || !QDir().mkpath(full) || !coverWithFullDisk(full))) {
            QTextStream(stdout) << "SKIP cannot mount a small file system";
            return 0;
        }
        const TextFolderChoice c =
            ChooseTextFolder(qEnvironmentVariable("QML_CHOOSE"), qEnvironmentVariable("QML47210_FILES"));
        QTextStream out(stdout);
        out << c.folder << "|" << c.workFolder << "|" << c.problem << "|" << int(c.notice) << "|"
            << int(c.folderChecked) << "\n";
        for (const char *name : {"setcom.ini", "FRH10.ini", "debug.ini"}) {
            QFile f(c.folder + name);
            out << name << "=" << (f.open(QIODevice::ReadOnly) ? QString::fromLatin1(f.readAll()) : "-") << ";";
        }
        out << "\n";
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
