#include "config/FieldReader.h"
#include "config/modFile.h"
#include "core/AppState.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QProcess>
#include <QRandomGenerator>
#include <QTextStream>
#include <QThread>
#include <QTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

class TestModFile : public QObject {
    Q_OBJECT
private slots:
    void fields_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("fields");
        QTest::newRow("one per line") << "a\r\nb\r\n" << QStringList{"a", "b"};
        QTest::newRow("comma splits a line") << "a,b\r\n" << QStringList{"a", "b"};
        QTest::newRow("quoted comma stays") << "\"a,b\"\r\n" << QStringList{"a,b"};
        QTest::newRow("quoted fields side by side") << "\"a\",\"b\"\r\n" << QStringList{"a", "b"};
        QTest::newRow("leading spaces skipped, trailing dropped") << "  a  ,  b \r\n"
                                                                   << QStringList{"a", "b"};
        QTest::newRow("quoted keeps inner spaces") << "\" a \"\r\n" << QStringList{" a "};
        QTest::newRow("text after closing quote skipped") << "\"a\"xyz,b\r\n"
                                                          << QStringList{"a", "b"};
        QTest::newRow("empty line is an empty field") << "a\r\n\r\nb\r\n"
                                                      << QStringList{"a", "", "b"};
        QTest::newRow("no final line end") << "a\r\nb" << QStringList{"a", "b"};
        QTest::newRow("unclosed quote runs to the end") << "\"a,b\r\nc" << QStringList{"a,b\r\nc"};
        QTest::newRow("bare LF ends a line") << "a\nb\n" << QStringList{"a", "b"};
        QTest::newRow("empty file has no field") << "" << QStringList{};
    }
    void fields()
    {
        QFETCH(QString, text);
        QFETCH(QStringList, fields);
        FieldReader reader(text);
        QStringList got;
        QString f;
        while (reader.next(f))
            got << f;
        QCOMPARE(got, fields);
        QVERIFY(!reader.next(f));
    }

    void setcom_data()
    {
        QTest::addColumn<QByteArray>("file"); // "-" for no file
        QTest::addColumn<int>("port");
        QTest::addColumn<QStringList>("texts");
        QTest::newRow("absent gives defaults") << QByteArray("-") << 1
                                               << QStringList{"9600", "8", "N", "1"};
        QTest::newRow("three lines repeat the last field")
            << QByteArray("2\r\n19200\r\n7\r\n") << 2 << QStringList{"19200", "7", "7", "7"};
        QTest::newRow("port name instead of number")
            << QByteArray("COM2\r\n9600\r\n8\r\nN\r\n1\r\n") << 0
            << QStringList{"9600", "8", "N", "1"};
        QTest::newRow("empty file") << QByteArray("") << 0 << QStringList{"", "", "", ""};
        QTest::newRow("quoted as written")
            << QByteArray("\"3\"\r\n\"4800\"\r\n\"7\"\r\n\"E\"\r\n\"2\"\r\n") << 3
            << QStringList{"4800", "7", "E", "2"};
    }
    void setcom()
    {
        QFETCH(QByteArray, file);
        QFETCH(int, port);
        QFETCH(QStringList, texts);
        FreshState st;
        if (file != "-")
            st.write("setcom.ini", file);
        ReadSetcomIni();
        const AppState &s = app();
        QCOMPARE(int(s.ComPort), port);
        QCOMPARE((QStringList{s.ComBaud, s.ComDataBits, s.ComParity, s.ComStopBits}), texts);
    }

    void setcomRoundTrip()
    {
        FreshState st;
        st.write("setcom.ini", "1\r\n");
        AppState &s = app();
        s.ComPort = 7;
        s.ComBaud = "19200";
        s.ComDataBits = "7";
        s.ComParity = "E";
        s.ComStopBits = "2";
        WriteSetcomIni();
        QCOMPARE(st.read("setcom.ini"), QByteArray("\"7\"\r\n\"19200\"\r\n\"7\"\r\n\"E\"\r\n\"2\"\r\n"));
        s.ComPort = 0;
        s.ComBaud.clear();
        ReadSetcomIni();
        QCOMPARE(int(s.ComPort), 7);
        QCOMPARE((QStringList{s.ComBaud, s.ComDataBits, s.ComParity, s.ComStopBits}),
                 (QStringList{"19200", "7", "E", "2"}));
    }

    // What the file cannot carry is refused, and the file stays as it was.
    void setcomRefusesWhatCannotRoundTrip_data()
    {
        QTest::addColumn<QString>("baud");
        QTest::newRow("double quote") << "96\"00";
        QTest::newRow("line end") << "9600\r\n";
        QTest::newRow("a CR alone") << "96\r00";
        QTest::newRow("an LF alone") << "96\n00";
        QTest::newRow("outside Shift-JIS") << QString::fromUtf8("9600\xF0\x9F\x98\x80");
    }
    void setcomRefusesWhatCannotRoundTrip()
    {
        QFETCH(QString, baud);
        FreshState st;
        st.write("setcom.ini", "1\r\n");
        st.usePort(2);
        app().ComBaud = baud;
        QVERIFY(!WriteSetcomIni());
        QCOMPARE(st.read("setcom.ini"), QByteArray("1\r\n"));
    }

    // Another user's link in setcom.ini's place: the choice goes to the
    // user's own folder and is read from there, and the file the link points
    // to stays as it was. As an ordinary user in a folder shared with another
    // user, and as root in a folder that an ordinary user owns.
    void plantedSetcomLink_data()
    {
        QTest::addColumn<QString>("user");
        QTest::newRow("nobody, in a folder shared with another user") << "nobody";
        QTest::newRow("root, in a folder nobody owns") << "root";
    }
    void plantedSetcomLink()
    {
        QFETCH(QString, user);
        const bool asNobody = user == "nobody";
        const QString self = QCoreApplication::applicationFilePath();
        if (const QString why = asNobodyUnavailable(self); asNobody && !why.isEmpty())
            QSKIP(qPrintable(why));
        if (!asNobody && ::geteuid() != 0)
            QSKIP("gives the folder to another user, which only root may");
        QTemporaryDir top;
        letOthersIn(top.path());
        const QString shared = top.path() + "/shared/", victim = top.path() + "/victim/",
                      own = top.path() + "/own/";
        for (const QString &dir : {shared, victim, own})
            QVERIFY(QDir().mkpath(dir));
        const QByteArray profile("PATH=/usr/bin\n");
        QFile target(victim + ".profile");
        QVERIFY(target.open(QIODevice::WriteOnly));
        target.write(profile);
        target.close();
        if (asNobody) { // the victim's own file; the folder is everybody's
            QVERIFY(giveTo(victim, "nobody") && giveTo(victim + ".profile", "nobody")
                    && giveTo(own, "nobody"));
            QFile::setPermissions(shared, QFile::Permissions(0x7777));
        } else { // root's file; the folder is nobody's
            QVERIFY(giveTo(shared, "nobody"));
        }
        QVERIFY(QFile::link(victim + ".profile", shared + "setcom.ini"));
        QVERIFY(giveTo(shared + "setcom.ini", asNobody ? "daemon" : "nobody"));

        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QML_SAVE_PORT_IN", shared);
        env.insert("XDG_DATA_HOME", own);
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
        QCOMPARE(QFileInfo(shared + "setcom.ini").symLinkTarget(), victim + ".profile");
        QFile mine(own + "qml47210/setcom.ini");
        QVERIFY(mine.open(QIODevice::ReadOnly));
        QCOMPARE(mine.readAll(), QByteArray("\"2\"\r\n\"9600\"\r\n\"8\"\r\n\"N\"\r\n\"1\"\r\n"));
        QCOMPARE(output, QByteArray("read back: 2\n")); // the next start finds the choice
    }

    // In a folder others may write, a text file another user placed counts
    // as absent, and so does a link in a text file's place, whoever made it
    // (it could be swapped between a look and the read): the program goes on
    // as without the file.
    void othersFilesCountAsAbsent_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("how"); // "nobody's", "a link of root's"
        for (const char *name : {"debug.ini", "FRH10.ini", "message.ini", "setcom.ini"})
            QTest::newRow(qPrintable(QString(name) + ", nobody's")) << name << "nobody's";
        for (const char *name : {"debug.ini", "FRH10.ini"})
            QTest::newRow(qPrintable(QString(name) + ", a link of root's")) << name << "a link of root's";
    }
    void othersFilesCountAsAbsent()
    {
        QFETCH(QString, name);
        QFETCH(QString, how);
        if (::geteuid() != 0)
            QSKIP("gives a file to another user, which only root may");
        FreshState st;
        QDir().mkpath(st.path("lang"));
        st.write("lang/message.ini", "shipped\r\n");
        app().ShippedTextDir = st.path("lang/");
        const QByteArray bytes = name == "debug.ini"   ? QByteArray("DEBUG ON\r\n")
            : name == "FRH10.ini"                      ? QByteArray("AB\r\n").repeated(28)
            : name == "message.ini"                    ? QByteArray("theirs\r\n")
                                                       : QByteArray("\"7\"\r\n\"4800\"\r\n");
        if (how == "nobody's") {
            st.write(name, bytes);
            QVERIFY(giveTo(st.path(name), "nobody"));
        } else {
            st.write("elsewhere.ini", bytes);
            QVERIFY(QFile::link(st.path("elsewhere.ini"), st.path(name)));
        }
        ReadSetcomIni();
        ReadMessageIni();
        ReadFrhIni();
        ReadDebugIni();
        const AppState &s = app();
        QVERIFY(!s.DebugFlag);
        QVERIFY(!FrhPresetComplete());
        QCOMPARE(s.message(0), QString("shipped"));
        QCOMPARE(int(s.ComPort), 1);
        QCOMPARE(s.ComBaud, QString("9600"));
    }

    void setcomNeverCreated()
    {
        FreshState st;
        app().ComPort = 3;
        WriteSetcomIni();
        QVERIFY(!QFile::exists(st.path("setcom.ini")));
    }

    void tables_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<int>("filled"); // entries 0..filled-1 hold "tN" or the expected text
        QTest::addColumn<QString>("entry1");
        QByteArray sixty, many, three;
        for (int i = 0; i < 60; ++i)
            sixty += "t" + QByteArray::number(i) + "\r\n";
        for (int i = 0; i < AppState::TableSize + 10; ++i)
            many += "t" + QByteArray::number(i) + "\r\n";
        for (int i = 0; i < 3; ++i)
            three += "t" + QByteArray::number(i) + "\r\n";
        QTest::newRow("60 lines fill 0..59") << sixty << 60 << "t1";
        QTest::newRow("a longer file fills all but the last entry")
            << many << AppState::TableSize - 1 << "t1";
        QTest::newRow("3 lines fill 0..2") << three << 3 << "t1";
        QTest::newRow("comma makes two entries") << QByteArray("a,b\r\n") << 2 << "b";
        QTest::newRow("quoted comma is one entry") << QByteArray("\"a,b\"\r\nc\r\n") << 2 << "c";
    }
    void tables()
    {
        QFETCH(QByteArray, file);
        QFETCH(int, filled);
        QFETCH(QString, entry1);
        FreshState st;
        st.write("message.ini", file);
        st.write("dispname.ini", file);
        ReadMessageIni();
        ReadDispNameIni();
        for (const QStringList &t : {app().MessageTable, app().DispNameTable}) {
            QCOMPARE(t.size(), AppState::TableSize);
            QCOMPARE(t.at(1), entry1);
            for (int k = filled; k < AppState::TableSize; ++k)
                QVERIFY2(t.at(k).isEmpty(), qPrintable(QString::number(k)));
            for (int k = 0; k < filled; ++k)
                QVERIFY(!t.at(k).isEmpty());
        }
    }

    void textEncodings_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("entry0");
        QTest::newRow("Shift-JIS") << QByteArray("\x83\x65\x83\x58\x83\x67\r\n") << "テスト";
        QTest::newRow("half-width kana") << QByteArray("\xCF\xBD\xC0\x2D\r\n") << "ﾏｽﾀ-";
        QTest::newRow("UTF-8 with mark") << QByteArray("\xEF\xBB\xBF\xE3\x83\x86\xE3\x82\xB9\xE3\x83\x88\r\n")
                                         << "テスト";
    }
    void textEncodings()
    {
        QFETCH(QByteArray, file);
        QFETCH(QString, entry0);
        FreshState st;
        st.write("message.ini", file);
        ReadMessageIni();
        QCOMPARE(app().message(0), entry0);
    }

    void frh_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QStringList>("first");
        QTest::addColumn<bool>("complete");
        QTest::newRow("normalised values") << QByteArray("5\r\n1A\r\n123\r\n\r\nff\r\n")
                                           << QStringList{"05", "1A", "23", "00", "ff"} << false;
        QByteArray thirty;
        for (int i = 0; i < 30; ++i)
            thirty += QByteArray::number(i) + "\r\n";
        QTest::newRow("30 values fill 28") << thirty << QStringList{"00", "01", "02"} << true;
        const QByteArray rest = QByteArray("01\r\n").repeated(27);
        QTest::newRow("G1 among 28") << "G1\r\n" + rest << QStringList{"G1", "01"} << false;
        QTest::newRow("1G among 28") << "1G\r\n" + rest << QStringList{"1G", "01"} << false;
    }
    void frh()
    {
        QFETCH(QByteArray, file);
        QFETCH(QStringList, first);
        QFETCH(bool, complete);
        FreshState st;
        st.write("FRH10.ini", file);
        ReadFrhIni();
        const QStringList &t = app().FrhTable;
        QCOMPARE(t.size(), 29);
        QCOMPARE(t.mid(0, first.size()), first);
        QVERIFY(t.at(28).isEmpty());
        QCOMPARE(FrhPresetComplete(), complete);
        if (complete)
            QCOMPARE(t.at(27), QString("27"));
    }

    void frhAbsentIsIncomplete()
    {
        FreshState st;
        ReadFrhIni();
        QVERIFY(!FrhPresetComplete());
    }

    void debug_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<bool>("on");
        QTest::newRow("exact") << QByteArray("DEBUG ON\r\n") << true;
        QTest::newRow("later lines ignored") << QByteArray("DEBUG ON\r\nxyz\r\n") << true;
        QTest::newRow("followed by comma") << QByteArray("DEBUG ON,more\r\n") << true;
        QTest::newRow("lower case") << QByteArray("debug on\r\n") << false;
        QTest::newRow("two spaces") << QByteArray("DEBUG  ON\r\n") << false;
        QTest::newRow("empty file") << QByteArray("") << false;
        QTest::newRow("off") << QByteArray("DEBUG OFF\r\n") << false;
    }
    void debug()
    {
        QFETCH(QByteArray, file);
        QFETCH(bool, on);
        FreshState st;
        st.write("debug.ini", file);
        ReadDebugIni();
        QCOMPARE(app().DebugFlag, on);
    }

    // Only regular files are read; anything else in a file's place counts as
    // absent at once (a FIFO would block the open for good).
    void noFilesGiveDefaults_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("absent") << "";
        QTest::newRow("directories") << "dir";
        QTest::newRow("FIFOs") << "fifo";
        QTest::newRow("dangling links") << "link";
    }
    void noFilesGiveDefaults()
    {
        QFETCH(QString, kind);
        FreshState st;
        const QStringList names{"setcom.ini", "dispname.ini", "message.ini", "FRH10.ini",
                                "debug.ini"};
        for (const QString &name : names) {
            const QByteArray path = QFile::encodeName(st.path(name));
            if (kind == "dir")
                QVERIFY(QDir().mkdir(st.path(name)));
            else if (kind == "fifo")
                QCOMPARE(::mkfifo(path.constData(), 0600), 0);
            else if (kind == "link")
                QVERIFY(QFile::link(st.path("nothing"), st.path(name)));
        }
        QThread *reading = QThread::create([] {
            ReadSetcomIni();
            ReadDispNameIni();
            ReadMessageIni();
            ReadFrhIni();
            ReadDebugIni();
        });
        reading->start();
        const bool done = reading->wait(QDeadlineTimer(2000));
        while (!reading->wait(QDeadlineTimer(20))) // let readers stuck in FIFOs go, then fail
            for (const QString &name : names)
                ::close(::open(QFile::encodeName(st.path(name)).constData(), O_WRONLY | O_NONBLOCK));
        delete reading;
        QVERIFY2(done, "a reader blocked on a file that is no regular file");
        const AppState &s = app();
        QCOMPARE(int(s.ComPort), 1);
        QCOMPARE(s.ComBaud, QString("9600"));
        QVERIFY(!s.DebugFlag);
        for (int k = -2; k < AppState::TableSize + 2; ++k) // numbers outside the tables too
            QVERIFY(s.message(k).isEmpty() && s.dispName(k).isEmpty());
        for (const QString &v : s.FrhTable)
            QVERIFY(v.isEmpty());
    }

    // Binary junk in every file: the readers take what they can and never crash.
    void junkNeverCrashes()
    {
        QRandomGenerator rng(4711);
        for (int round = 0; round < 200; ++round) {
            FreshState st;
            for (const char *name :
                 {"setcom.ini", "dispname.ini", "message.ini", "FRH10.ini", "debug.ini"}) {
                QByteArray junk(int(rng.bounded(0, 3000)), Qt::Uninitialized);
                for (char &c : junk)
                    c = char(rng.bounded(256));
                st.write(name, junk);
            }
            ReadSetcomIni();
            ReadDispNameIni();
            ReadMessageIni();
            ReadFrhIni();
            ReadDebugIni();
            QCOMPARE(app().MessageTable.size(), AppState::TableSize);
            QCOMPARE(app().FrhTable.size(), 29);
            for (int n = 0; n < 28; ++n)
                QVERIFY(app().FrhTable.at(n).size() <= 3);
        }
    }
};

// Run by plantedSetcomLink as the user of its row: saves port 2 with the
// text folder given (as QML47210_FILES names it), reads the choice back and
// prints its port.
int savePortIn(const QString &folder)
{
    app() = AppState{};
    qputenv("QML47210_FILES", folder.toLocal8Bit());
    LoadTextFiles();
    AppState &s = app();
    s.ComPort = 2;
    s.ComBaud = "9600";
    s.ComDataBits = "8";
    s.ComParity = "N";
    s.ComStopBits = "1";
    if (!WriteSetcomIni())
        return 1;
    s.ComPort = 0;
    ReadSetcomIni();
    QTextStream(stdout) << "read back: " << s.ComPort << "\n";
    return 0;
}

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    if (qEnvironmentVariableIsSet("QML_SAVE_PORT_IN"))
        return savePortIn(qEnvironmentVariable("QML_SAVE_PORT_IN"));
    TestModFile test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_modfile.moc"
