// Unit configuration files, and saving and applying them against simulated
// units on pseudo-terminals.

#include "config/FileSafety.h"
#include "core/AppState.h"
#include "protocol/UnitConfig.h"
#include "protocol/UnitTransfer.h"
#include "serial/CommControl.h"
#include "serial/ReplyTimer.h"
#include "sim/SimControl.h"
#include "sim/SimPeer.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTest>

#include <QScopeGuard>

#include <cstring>
#include <unistd.h>

namespace {

const char *const GoodFile = "# a unit\n"
                             "[unit]\n"
                             "format = 1\n"
                             "[record]\n"
                             "band = 3        # comment\n"
                             "channel = 17\n"
                             "type = slave\n"
                             "bit-rate = raw 9\n"
                             "[registers]\n"
                             "05 = 3a\n";

// The program's line to a simulated unit, and the unit's state as a config.
struct Line {
    FreshState st;
    CommControl comm;
    ReplyTimer timer;
    explicit Line(SimPeer &peer)
    {
        QFile::link(peer.slavePath(), st.dir() + "COM1");
        comm.setLinkDir(st.dir());
        comm.setCommPort(1);
        comm.setPortOpen(true);
    }
};

UnitConfig unitState(SimUnit &unit)
{
    UnitConfig c;
    const SimRecord &r = unit.record();
    QString ten = QString::number(r.band) + QStringLiteral("%1").arg(r.channel, 2, 16, QLatin1Char('0')).toUpper();
    for (int p : r.positions)
        ten += QString::number(p, 16).toUpper();
    c.record = *UnitRecord::fromText(ten);
    for (int n = 0; n < UnitConfig::Registers; ++n)
        c.registers[size_t(n)] = unit.reg(n).toUpper();
    return c;
}

} // namespace

class TestUnitConfig : public QObject {
    Q_OBJECT
private slots:
    void init() { TimeScale::set(0.01); }
    void cleanup() { TimeScale::set(1.0); }

    void readsWhatItWrites()
    {
        FreshState st;
        ConfigFileError error;
        const auto parsed = ParseConfigText(GoodFile, &error);
        QVERIFY2(parsed, qPrintable(error.describe()));
        QCOMPARE(*parsed->record.band, QChar('3'));
        QCOMPARE(*parsed->record.channel, 17);
        QCOMPARE(*parsed->record.lists[0], QChar('1'));
        QCOMPARE(*parsed->record.lists[2], QChar('9')); // a position no item names
        QVERIFY(!parsed->record.lists[1]);
        QCOMPARE(*parsed->registers[5], QString("3a")); // sent as the file has it
        QCOMPARE(parsed->registerCount(), 1);
        const auto again = ParseConfigText(WriteConfigText(*parsed, "COM1", QDateTime()), &error);
        QVERIFY(again);
        QCOMPARE(again->record, parsed->record);
        QCOMPARE(again->registers, parsed->registers);
        UnitConfig recordOnly; // no register section for no register
        recordOnly.record = parsed->record;
        QVERIFY(!WriteConfigText(recordOnly, "COM1", QDateTime()).contains("[registers]"));
        // A control character in a unit text is never written raw, the last of them neither.
        const QString odd = WriteConfigText(recordOnly, "a\x1F", QDateTime());
        QVERIFY2(odd.contains("= \"a\\x1F\"\n"), qPrintable(odd));
        UnitConfig mirrors; // their lines say how they follow the record
        mirrors.registers[6] = "E5";
        mirrors.registers[27] = "03";
        const QString written = WriteConfigText(mirrors, "COM1", QDateTime());
        QVERIFY2(written.contains("\n06 = E5         # mirrors channel: E0 + channel\n"
                                  "27 = 03         # mirrors band: 01 03 04 05 06 for bands 0 to 4\n"), qPrintable(written));
    }

    // A file that does not parse completely is refused with its line.
    void badFiles_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<int>("message");
        QTest::addColumn<int>("line");
        const QByteArray head("[unit]\nformat = 1\n");
        QTest::newRow("empty") << QByteArray() << int(ConfigMessages::NoFormat) << 0;
        QTest::newRow("binary junk") << QByteArray("\x01\xff\xfe\x00junk", 8)
                                     << int(ConfigMessages::NotText) << 0;
        QTest::newRow("10 MB") << QByteArray(10 << 20, 'x') << int(ConfigMessages::TooLarge) << 0;
        QTest::newRow("exactly the limit: read") << QByteArray(ConfigFileLimit, 'x') << int(ConfigMessages::NotKeyValue) << 1;
        QTest::newRow("a byte over") << QByteArray(ConfigFileLimit + 1, 'x') << int(ConfigMessages::TooLarge) << 0;
        QTest::newRow("unknown key") << head + "[record]\ncolour = red\n"
                                     << int(ConfigMessages::UnknownKey) << 4;
        QTest::newRow("register 28") << head + "[registers]\n28 = 00\n"
                                     << int(ConfigMessages::NoRegister) << 4;
        QTest::newRow("value G1") << head + "[registers]\n05 = G1\n"
                                  << int(ConfigMessages::BadValue) << 4;
        QTest::newRow("band 9") << head + "[record]\nband = 9\n" << int(ConfigMessages::BadValue) << 4;
        QTest::newRow("duplicate key") << head + "[registers]\n05 = 01\n05 = 02\n"
                                       << int(ConfigMessages::Twice) << 5;
        QTest::newRow("no format version") << QByteArray("[registers]\n05 = 01\n")
                                           << int(ConfigMessages::NoFormat) << 0;
        QTest::newRow("another format") << QByteArray("[unit]\nformat = 2\n")
                                        << int(ConfigMessages::BadValue) << 2;
        QTest::newRow("before any section") << QByteArray("band = 1\n")
                                            << int(ConfigMessages::OutsideSection) << 1;
        QTest::newRow("a byte order mark, then the file") << QByteArray("\xEF\xBB\xBF[unit]\nformat = 2\n")
                                                       << int(ConfigMessages::BadValue) << 2;
    }

    // Every value at its bounds: taken just inside, refused just outside.
    void bounds_data()
    {
        QTest::addColumn<QString>("line"); // under its section
        QTest::addColumn<bool>("taken");
        QTest::newRow("band 0") << "[record]\nband = 0" << true;
        QTest::newRow("band 4") << "[record]\nband = 4" << true;
        QTest::newRow("band 5") << "[record]\nband = 5" << false;
        QTest::newRow("channel 0") << "[record]\nchannel = 0" << true;
        QTest::newRow("channel 23") << "[record]\nchannel = 23" << true;
        QTest::newRow("channel 24") << "[record]\nchannel = 24" << false;
        QTest::newRow("channel -1") << "[record]\nchannel = -1" << false;
        QTest::newRow("channel +5") << "[record]\nchannel = +5" << false;
        QTest::newRow("register 00") << "[registers]\n00 = 3A" << true;
        QTest::newRow("register 27") << "[registers]\n27 = 3a" << true;
        QTest::newRow("register 28") << "[registers]\n28 = 3A" << false;
        QTest::newRow("register 5, one digit") << "[registers]\n5 = 3A" << false;
        QTest::newRow("value FF") << "[registers]\n05 = FF" << true;
        QTest::newRow("value of one digit") << "[registers]\n05 = F" << false;
        QTest::newRow("value ..") << "[registers]\n05 = .." << false;
        QTest::newRow("raw NUL and 1") << "[registers]\n05 = raw \"\\x001\"" << true;
        QTest::newRow("raw CR") << "[registers]\n05 = raw \"\\x0D1\"" << false;
        QTest::newRow("raw of three") << "[registers]\n05 = raw \"G12\"" << false;
        QTest::newRow("raw bad escape") << "[registers]\n05 = raw \"\\q1\"" << false;
        QTest::newRow("raw ending in an escaped backslash") << "[registers]\n05 = raw \"1\\\\\"" << true;
        QTest::newRow("list position raw F") << "[record]\nbit-rate = raw F" << true;
        QTest::newRow("list position raw 0") << "[record]\nbit-rate = raw 0" << true;
        QTest::newRow("list position raw A") << "[record]\nbit-rate = raw A" << true;
        QTest::newRow("list position raw G") << "[record]\nbit-rate = raw G" << false;
        QTest::newRow("quoted version") << "[unit]\nversion = \"V\\x00Q\"" << true;
        QTest::newRow("band 1 beside register 27 = 03") << "[record]\nband = 1\n[registers]\n27 = 03" << true;
        QTest::newRow("band 1 beside register 27 = 02, no band") << "[record]\nband = 1\n[registers]\n27 = 02"
                                                                << false;
        QTest::newRow("band 1 beside register 27 = raw +3, no band")
            << "[record]\nband = 1\n[registers]\n27 = raw \"+3\"" << false;
        QTest::newRow("channel 5 beside register 06 = 05, no channel")
            << "[record]\nchannel = 5\n[registers]\n06 = 05" << false;
        QTest::newRow("a unit's own disagreeing mirrors, said so")
            << "[unit]\nmirrors = as held\n[record]\nband = 1\n[registers]\n27 = 02\n" << true;
        QTest::newRow("version with an unclosed quote") << "[unit]\nversion = \"VQ" << false;
    }
    void bounds()
    {
        QFETCH(QString, line);
        QFETCH(bool, taken);
        const QString text = line.startsWith("[unit]") ? "[unit]\nformat = 1\n" + line.mid(7)
                                                       : "[unit]\nformat = 1\n" + line + "\n";
        ConfigFileError error;
        const auto config = ParseConfigText(text, &error);
        QCOMPARE(config && !MirrorConflict(*config), taken);
        // A record of band 0 or channel 23 is a record.
        if (line.contains("band = 0"))
            QVERIFY(UnitRecord::fromText("0170021000").has_value());
    }
    void badFiles()
    {
        QFETCH(QByteArray, file);
        QFETCH(int, message);
        QFETCH(int, line);
        FreshState st;
        st.write("unit.ini", file);
        ConfigFileError error;
        QVERIFY(!ReadConfigFile(st.path("unit.ini"), &error));
        QCOMPARE(error.message, message);
        QCOMPARE(error.line, line);
    }

    // Against simulated units: the outcome, what reached the unit, the backup.
    void apply_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<bool>("registerPath");
        QTest::addColumn<int>("outcome");
        QTest::newRow("another unit's configuration") << "" << false << int(ApplyResult::Verified);
        QTest::newRow("register path, one reset at the end") << "" << true << int(ApplyResult::Verified);
        QTest::newRow("record and register 27 disagree: refused") << "disagree" << false
                                                                  << int(ApplyResult::NotStarted);
        QTest::newRow("a value that does not stick") << "stuck 12" << false << int(ApplyResult::Differ);
        QTest::newRow("writes refused") << "refuse on" << false << int(ApplyResult::Stopped);
        QTest::newRow("unplugged halfway") << "drop" << false << int(ApplyResult::Stopped);
        QTest::newRow("unplugged while verifying: a difference found kept")
            << "drop verifying" << false << int(ApplyResult::Stopped);
        QTest::newRow("silent unit") << "silent on" << false << int(ApplyResult::NotStarted);
        QTest::newRow("backup cannot be written") << "no backup" << false << int(ApplyResult::NotStarted);
        QTest::newRow("other letters") << "letter Q" << false << int(ApplyResult::NotStarted);
        // Two-wire adapters repeat each line sent: never a reply.
        QTest::newRow("an adapter that echoes") << "echo on" << false << int(ApplyResult::Verified);
        QTest::newRow("an adapter that echoes, register path") << "echo on" << true
                                                               << int(ApplyResult::Verified);
        // Register 03's answer after its resend went out, the resend's after
        // that: neither may become register 04's, in the backup or the check.
        QTest::newRow("a resend's answer after the next read, register path")
            << "slow @REG03 100;delay 40" << true << int(ApplyResult::Verified);
        QTest::newRow("a unit that ignores the link poll, register path, a quiet spell")
            << "poll off;slow @REG03 100;delay 40" << true << int(ApplyResult::Verified);
    }
    void apply()
    {
        QFETCH(QString, fault);
        QFETCH(bool, registerPath);
        QFETCH(int, outcome);
        // The configuration of a first unit, saved and read back from its file.
        SimPeer first;
        first.unit().setRecord(SimRecord{3, 17, {1, 1, 6, 0, 2, 1, 1}});
        first.unit().setReg(12, "5A");
        UnitConfig saved;
        {
            Line line(first);
            int step = 0, steps = -1;
            const ReadResult read = ReadUnitConfig(line.comm, line.timer, TransferPath::Wired,
                                                   [&](int, int n, int total) { step = n, steps = total; return true; });
            QVERIFY(read.ok);
            QCOMPARE(step, steps); // the progress ends full, never past it
            QCOMPARE(read.config.version, QString("VQML47210 R1.2")); // 14 characters, the letter included
            line.st.write("first.ini", WriteConfigText(read.config, "COM1", QDateTime::currentDateTime()).toUtf8());
            ConfigFileError error;
            const auto parsed = ReadConfigFile(line.st.path("first.ini"), &error);
            QVERIFY2(parsed, qPrintable(error.describe()));
            saved = *parsed;
        }
        if (registerPath)
            saved.record = UnitRecord();
        if (fault == "disagree")
            saved.registers[27] = "06"; // band 4, where the record says band 3

        SimPeer second;
        const UnitConfig before = unitState(second.unit());
        if (fault == "drop verifying")
            ApplySimCommand(second, "stuck 12");
        else if (fault != "disagree" && fault != "drop" && fault != "no backup" && !fault.isEmpty())
            for (const QString &command : fault.split(';'))
                ApplySimCommand(second, command);
        Line line(second);
        for (int n = 0; n < AppState::TableSize - 1; ++n)
            app().MessageTable[n] = QStringLiteral("m%1").arg(n);
        if (fault == "no backup")
            line.st.write("backups", "a file where the folder would be");
        second.clearReceived();
        int exchanges = 0;
        const ApplyResult result = ApplyUnitConfig(
            line.comm, line.timer, registerPath ? TransferPath::Registers : TransferPath::Wired,
            saved, line.st.path("backups"), "COM1", [&](int stage, int, int) {
                if (fault == "drop" && stage == ConfigMessages::Writing && ++exchanges == 10)
                    second.dropLine();
                // The record and registers 00 to 13 read back, 12 differing.
                if (fault == "drop verifying" && stage == ConfigMessages::Verifying && ++exchanges == 16)
                    second.dropLine();
                return true;
            });
        QCOMPARE(int(result.outcome), outcome);
        const QStringList backups = QDir(line.st.path("backups")).entryList(QDir::Files);
        if (outcome == ApplyResult::NotStarted) {
            if (fault == "disagree") { // refused before anything was read or sent
                QCOMPARE(result.refusal, int(ConfigMessages::Disagree));
                QVERIFY(result.detail.contains("band = 3"));
                QCOMPARE(second.received(), QByteArray());
            }
            if (fault == "no backup") { // read, then nothing written
                QCOMPARE(result.refusal, int(ConfigMessages::BackupFailed));
                const auto lines = second.receivedLines();
                QVERIFY(std::none_of(lines.begin(), lines.end(), [](const QByteArray &l) {
                    return l.startsWith("@KZ9D") || l.startsWith("@KZ9S");
                }));
                QVERIFY(QFileInfo(line.st.path("backups")).isFile());
                QCOMPARE(unitState(second.unit()).registers, before.registers);
                return;
            }
            QVERIFY(result.written.isEmpty());
            QVERIFY(backups.isEmpty());
            QCOMPARE(unitState(second.unit()).registers, before.registers);
            return;
        }
        QCOMPARE(backups.size(), 1);
        QCOMPARE(line.st.path("backups/") + backups.first(), result.backupPath);
        // Named by the time, the port, the process and the attempt.
        QVERIFY2(QRegularExpression(QStringLiteral("^backup-\\d{8}-\\d{6}-COM1-%1-0000\\.ini$")
                                        .arg(QCoreApplication::applicationPid()))
                     .match(backups.first())
                     .hasMatch(),
                 qPrintable(backups.first()));
        QVERIFY(result.describe().contains(QDir::toNativeSeparators(result.backupPath)));
        const UnitConfig after = unitState(second.unit());
        if (outcome == ApplyResult::Verified) {
            if (!registerPath) // what the backup keeps of the unit
                QCOMPARE(result.before.version, QString("VQML47210 R1.2"));
            QCOMPARE(after.registers, saved.registers);
            if (!registerPath)
                QCOMPARE(after.record, saved.record);
            const auto lines = second.receivedLines();
            QCOMPARE(lines.count("@RST"), registerPath ? 1 : 0);
            if (registerPath) // after the read-back: a reset may restart the unit
                QCOMPARE(lines.indexOf("@RST"), lines.size() - 1);
            // The backup restores what the unit held.
            ConfigFileError error;
            const auto backup = ReadConfigFile(result.backupPath, &error);
            QVERIFY(backup);
            QCOMPARE(ApplyUnitConfig(line.comm, line.timer, TransferPath::Wired, *backup,
                                     line.st.path("backups"), "COM1")
                         .outcome,
                     ApplyResult::Verified);
            QCOMPARE(unitState(second.unit()).registers, before.registers);
            QCOMPARE(unitState(second.unit()).record, before.record);
        } else if (outcome == ApplyResult::Differ) {
            QCOMPARE(result.differences.size(), 1);
            QCOMPARE(result.differences.first().what, RegisterName(12));
            QCOMPARE(result.differences.first().meant, QString("5A"));
            QCOMPARE(result.differences.first().holds, before.registers[12].value_or("-"));
        } else if (fault == "refuse on") {
            QVERIFY(result.written.isEmpty());
            QCOMPARE(result.failure.reason, int(ConfigMessages::Refused));
            QCOMPARE(after.registers, before.registers);
        } else if (fault == "drop verifying") {
            QVERIFY(result.allWritten);
            QCOMPARE(result.differences.size(), 1);
            QCOMPARE(result.differences.first().what, RegisterName(12));
            const QString text = result.describe();
            QVERIFY2(text.contains("m117\n  m84 12: m66 5A, m67 " + before.registers[12].value_or("-")),
                     qPrintable(text));
            QVERIFY2(text.contains("m116 m84 14\u201327"), qPrintable(text));
        } else {
            QCOMPARE(result.failure.reason, int(ConfigMessages::PortClosed));
            QCOMPARE(result.written.size(), 9); // the record and registers 00 to 07
            // What the unit holds now, said whole: what went, what did not.
            const QString text = result.describe();
            QVERIFY2(text.contains("m54 m83, m84 00\u201307"), qPrintable(text));
            QVERIFY2(text.contains("m114 m84 08\u201327"), qPrintable(text));
        }
    }

    // Whatever a unit holds, the file saved from it reads back the same (the
    // backup of an apply included), and a value that two hexadecimal digits
    // cannot carry goes back to a unit exactly as it came.
    void unitRepliesReadBack_data()
    {
        QTest::addColumn<QByteArray>("version"); // after the letter V
        QTest::addColumn<QByteArrayList>("registers"); // "" keeps the unit's own
        const auto regs = [](std::initializer_list<std::pair<int, QByteArray>> set) {
            QByteArrayList l(28);
            for (const auto &[n, v] : set)
                l[n] = v;
            return l;
        };
        QTest::newRow("G1 in register 05") << QByteArray("QML47210 R1.20") << regs({{5, "G1"}});
        QTest::newRow("NUL, a tab and blanks in the version")
            << QByteArray("\0QML\t R1.20  ", 14) << regs({});
        QTest::newRow("quote, #, ; and blanks") << QByteArray("\"QML # R1;") << regs(
            {{1, "\"#"}, {2, " ;"}, {3, "\\x"}, {4, "; "}, {8, "  "}});
        QTest::newRow("bytes past ASCII") << QByteArray("\xff\xa0QML\x85") << regs(
            {{6, "\xa0\x85"}, {7, "\x7f\x01"}, {9, QByteArray("\0\0", 2)}});
        QTest::newRow("lower-case hexadecimal") << QByteArray("QML47210 R1.20") << regs({{5, "3a"}});
        QRandomGenerator random(20); // arbitrary units, the same every run
        for (int i = 0; i < 12; ++i) {
            const auto bytes = [&](int n) {
                QByteArray b;
                while (b.size() < n)
                    if (const char c = char(random.bounded(1, 256)); c != '\r' && c != '\n')
                        b += c;
                return b;
            };
            QByteArrayList l(28);
            for (int n = 0; n < 28; ++n)
                if (random.bounded(3) == 0)
                    l[n] = bytes(2);
            QTest::newRow(qPrintable(QStringLiteral("arbitrary unit %1").arg(i)))
                << bytes(random.bounded(15)) << l;
        }
    }
    void unitRepliesReadBack()
    {
        QFETCH(QByteArray, version);
        QFETCH(QByteArrayList, registers);
        SimPeer peer;
        peer.unit().version = version;
        for (int n = 0; n < 28; ++n)
            if (!registers[n].isEmpty())
                peer.unit().setReg(n, QString::fromLatin1(registers[n]));
        Line line(peer);
        const ReadResult read = ReadUnitConfig(line.comm, line.timer, TransferPath::Wired);
        QVERIFY(read.ok);
        QCOMPARE(read.config.version, ("V" + QString::fromLatin1(version)).left(14));
        for (int n = 0; n < 28; ++n)
            QCOMPARE(*read.config.registers[size_t(n)], peer.unit().reg(n));
        QString error;
        QVERIFY(WriteConfigFile(line.st.path("unit.ini"),
                                WriteConfigText(read.config, "COM1", QDateTime::currentDateTime()),
                                WriteMode::Replace, &error));
        ConfigFileError fileError;
        const auto back = ReadConfigFile(line.st.path("unit.ini"), &fileError);
        QVERIFY2(back, qPrintable(fileError.describe()));
        QVERIFY(*back == read.config);
        // Every byte can be seen in the file: controls, DEL and no-break blanks are written \xHH.
        for (const QChar c : QString::fromUtf8(line.st.read("unit.ini")))
            QVERIFY2(c == u'\n' || (c >= u' ' && c < u'\x7f') || c > u'\xa0',
                     qPrintable(QString::number(c.unicode(), 16)));

        // An apply's backup of this unit reads back the same.
        UnitConfig change;
        change.registers[0] = "5A";
        const ApplyResult applied = ApplyUnitConfig(line.comm, line.timer, TransferPath::Wired,
                                                    change, line.st.path("backups"), "COM1");
        QCOMPARE(int(applied.outcome), int(ApplyResult::Verified));
        const auto backup = ReadConfigFile(applied.backupPath, &fileError);
        QVERIFY2(backup, qPrintable(fileError.describe()));
        QVERIFY(*backup == read.config);
        // And applies: a unit's own backup is never refused for what it held.
        const ApplyResult restored =
            ApplyUnitConfig(line.comm, line.timer, TransferPath::Wired, *backup, QString(), "COM1");
        QVERIFY2(restored.outcome != ApplyResult::NotStarted, qPrintable(restored.describe()));

        // Sent back exactly as it came, whatever the unit then makes of it.
        const auto raw = std::find_if(back->registers.begin(), back->registers.end(),
                                      [](const auto &v) { return !IsPlainRegisterValue(*v); });
        if (raw != back->registers.end()) {
            const int n = int(raw - back->registers.begin());
            SimPeer other;
            Line toOther(other);
            UnitConfig one;
            one.registers[size_t(n)] = *raw;
            ApplyUnitConfig(toOther.comm, toOther.timer, TransferPath::Wired, one, QString(), "COM1");
            QCOMPARE(other.receivedLines().value(0),
                     QStringLiteral("@KZ9S%1").arg(n, 2, 10, QLatin1Char('0')).toLatin1()
                         + raw->value().toLatin1());
        }
    }

    // A backup is made new, never over a file: a name in use takes the next.
    // Every one of a second's 64 names taken: no backup, nothing sent.
    void backupNeverReplacesAFile_data()
    {
        QTest::addColumn<int>("taken"); // names taken in each second
        QTest::newRow("the first name of a second") << 1;
        QTest::newRow("all 64 names") << 64;
    }
    void backupNeverReplacesAFile()
    {
        QFETCH(int, taken);
        SimPeer peer;
        Line line(peer);
        const QString dir = line.st.path("backups");
        QDir().mkdir(dir);
        const QDateTime now = QDateTime::currentDateTime();
        QStringList planted;
        for (int s = 0; s < 3; ++s) { // this second and the next two
            for (int n = 0; n < taken; ++n) {
                planted << BackupPath(dir, "COM1", now.addSecs(s), n);
                line.st.write("backups/" + QFileInfo(planted.last()).fileName(), "an earlier backup");
            }
        }
        UnitConfig change;
        change.registers[0] = "5A";
        const ApplyResult applied = ApplyUnitConfig(line.comm, line.timer, TransferPath::Wired,
                                                    change, dir, "COM1");
        if (taken == 64) {
            QCOMPARE(int(applied.outcome), int(ApplyResult::NotStarted));
            QCOMPARE(peer.unit().reg(0), QString("00"));
            QCOMPARE(QDir(dir).entryList(QDir::Files).size(), planted.size());
            return;
        }
        QCOMPARE(int(applied.outcome), int(ApplyResult::Verified));
        QVERIFY(!planted.contains(applied.backupPath));
        for (const QString &p : planted) {
            QFile f(p);
            QVERIFY(f.open(QIODevice::ReadOnly));
            QCOMPARE(f.readAll(), QByteArray("an earlier backup"));
        }
    }

    // A full disk: the save fails at once, says why, and leaves nothing.
    void fullDisk()
    {
        if (const QString why = privateMounts(); !why.isEmpty())
            QSKIP(qPrintable(why));
        FreshState st;
        const QString full = st.path("full");
        QVERIFY(QDir().mkdir(full));
        const auto unmount = qScopeGuard([&] { uncover(full); });
        QVERIFY(coverWithFullDisk(full));
        QString error;
        QVERIFY(!WriteConfigFile(full + "/unit.ini", QString(4096, u'x'), WriteMode::Replace, &error));
        QVERIFY2(error.contains(QString::fromLocal8Bit(std::strerror(ENOSPC))), qPrintable(error));
        QCOMPARE(QDir(full).entryList(QDir::Files), QStringList{"filler"});
    }

    // Run by root in a folder that an ordinary user owns and has put things
    // in: a backup is refused where backups/ is a link or another user's
    // folder (the result names it, and nothing is written to the unit); a
    // saved configuration replaces a link at its name, never writing through it.
    void inAnotherUsersFolder_data()
    {
        QTest::addColumn<QString>("planted");
        QTest::newRow("backups/ a link to a folder of root's") << "backups link";
        QTest::newRow("backups/ another user's folder") << "backups folder";
        QTest::newRow("the saved file's name a link to a file of root's") << "saved link";
        QTest::newRow("backups/ to be made in the installed program's folder") << "installed";
    }
    void inAnotherUsersFolder()
    {
        QFETCH(QString, planted);
        if (::geteuid() != 0)
            QSKIP("gives files to another user, which only root may");
        SimPeer peer;
        Line line(peer);
        app().MessageTable[FolderMessages::NotYourFolder] = "not yours";
        app().MessageTable[FolderMessages::InstalledFolder] = "the installed program's";
        QTemporaryDir roots; // root's alone
        const QString secret = roots.path() + "/.profile";
        QFile f(secret);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("PATH=/usr/bin\n");
        f.close();
        QVERIFY(giveTo(line.st.dir(), "nobody"));
        const QString name = line.st.path(planted == "saved link" ? "unit.ini" : "backups");
        if (planted == "installed") // its folder marked as the package marks it; backups/ not there yet
            line.st.write(InstalledMark, "installed\n");
        else if (planted == "backups folder")
            QVERIFY(QDir().mkdir(name));
        else
            QVERIFY(QFile::link(planted == "saved link" ? secret : roots.path(), name));
        QVERIFY(planted == "installed" || giveTo(name, "nobody"));

        if (planted == "saved link") {
            QString error;
            QVERIFY2(WriteConfigFile(name, "[unit]\nformat = 1\n", WriteMode::Replace, &error), qPrintable(error));
            QVERIFY(!QFileInfo(name).isSymLink());
            QCOMPARE(line.st.read("unit.ini"), QByteArray("[unit]\nformat = 1\n"));
        } else {
            UnitConfig file;
            file.registers[12] = "AB";
            const ApplyResult result = ApplyUnitConfig(line.comm, line.timer, TransferPath::Wired,
                                                       file, name, "COM1");
            QCOMPARE(int(result.outcome), int(ApplyResult::NotStarted));
            QCOMPARE(result.refusal, int(ConfigMessages::BackupFailed));
            QCOMPARE(result.detail, name + (planted == "installed" ? ": the installed program's" : ": not yours"));
            QCOMPARE(QFileInfo::exists(name), planted != "installed");
            QVERIFY(peer.unit().reg(12) != "AB");
            if (planted == "backups folder")
                QCOMPARE(QDir(name).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());
        }
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QByteArray("PATH=/usr/bin\n"));
        QCOMPARE(QDir(roots.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
                 QStringList{".profile"});
    }

    void recordNeedsTheWiredPath()
    {
        SimPeer peer;
        Line line(peer);
        peer.clearReceived();
        UnitConfig file;
        file.record.band = QChar('1');
        const ApplyResult result = ApplyUnitConfig(line.comm, line.timer, TransferPath::Registers,
                                                   file, line.st.path("backups"), "COM1");
        QCOMPARE(int(result.outcome), int(ApplyResult::NotStarted));
        QCOMPARE(result.refusal, int(ConfigMessages::RecordNeedsWired));
        QTest::qWait(20);
        QCOMPARE(peer.received(), QByteArray());
    }
};

QTEST_GUILESS_MAIN(TestUnitConfig)
#include "tst_unitconfig.moc"
