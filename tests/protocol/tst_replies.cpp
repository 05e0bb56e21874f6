#include "core/AppState.h"
#include "protocol/SettingsLists.h"
#include "protocol/modModem.h"
#include "protocol/modWired.h"

#include <QTest>

class TestReplies : public QObject {
    Q_OBJECT
private slots:
    void classify_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<int>("kind");
        QTest::newRow("P0") << "P0" << 1;
        QTest::newRow("P0 with text after") << "P0 OK" << 1;
        QTest::newRow("lower-case p0") << "p0" << 0;
        QTest::newRow("P1") << "P1" << 2;
        QTest::newRow("N0") << "N0" << 3;
        QTest::newRow("N3") << "N3" << 3;
        QTest::newRow("N4") << "N4" << 3;
        QTest::newRow("N5 is other") << "N5" << 0;
        QTest::newRow("RX of six characters is other") << "RX1234" << 0;
        QTest::newRow("RX of seven characters") << "RX12345" << 4;
        QTest::newRow("RB") << "RB" << 5;
        QTest::newRow("one character") << "P" << 0;
        QTest::newRow("register value line") << "3AH" << 0;
        QTest::newRow("wired reply") << "KZ90A" << 0;
    }
    void classify()
    {
        QFETCH(QString, line);
        QFETCH(int, kind);
        QCOMPARE(ClassifyReply(line), kind);
    }

    void commands_data()
    {
        QTest::addColumn<int>("reg");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("write");
        QTest::newRow("register 5") << 5 << "3A" << "@REG05:3AH";
        QTest::newRow("empty value") << 0 << "" << "@REG00:00H";
        QTest::newRow("value 123") << 0 << "123" << "@REG00:23H";
        QTest::newRow("one character") << 27 << "A" << "@REG27:0AH";
    }
    void commands()
    {
        QFETCH(int, reg);
        QFETCH(QString, value);
        QFETCH(QString, write);
        QCOMPARE(WriteRegisterCommand(reg, value), write);
        QCOMPARE(ReadRegisterCommand(reg), write.left(6));
    }

    void parse_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<bool>("result");
        QTest::addColumn<QString>("letter");
        QTest::addColumn<QStringList>("values"); // what the reply variables hold afterwards
        const QStringList untouched{"00", "00", "", "", "", "", "", "", "", "00", "", ""};
        QTest::newRow("link answer") << "xxxx$" << true << "$" << untouched;
        QTest::newRow("accepted") << "xxxxA" << true << "A" << untouched;
        QTest::newRow("refused") << "xxxxN" << true << "N" << untouched;
        QTest::newRow("unknown letter") << "xxxxZ" << false << "Z" << untouched;
        QTest::newRow("four characters") << "xxxx" << false << "" << untouched;
        QTest::newRow("shorter") << "xx" << false << "" << untouched;
        QTest::newRow("lower-case letter") << "xxxxa" << false << "a" << untouched;
        QTest::newRow("register") << "xxxxF053A" << true << "F"
                                  << QStringList{"00", "00", "", "", "", "", "", "", "", "00", "05", "3A"};
        QTest::newRow("settings record")
            << "xxxxR2170110011" << true << "R"
            << QStringList{"2", "23", "ﾏｽﾀ-", "ﾀﾞｲﾊﾞｰｼﾃｨ", "4800", "7", "なし", "2ﾋﾞｯﾄ", "RTS/CTS", "00", "", ""};
        QTest::newRow("record, channel 05")
            << "xxxxR1050061201" << true << "R"
            << QStringList{"1", "05", "ﾏｽﾀ-", "ｼﾝｸﾞﾙ", "115200", "8", "奇数", "1ﾋﾞｯﾄ", "RTS/CTS", "00", "", ""};
        QTest::newRow("record, no hex digits count as 0")
            << "xxxxR3ZZZZZZZZZ" << true << "R"
            << QStringList{"3", "00", "ﾏｽﾀ-", "ｼﾝｸﾞﾙ", "2400", "7", "なし", "1ﾋﾞｯﾄ", "なし", "00", "", ""};
        QTest::newRow("record, position past the list shows no item")
            << "xxxxR10500F0000" << true << "R"
            << QStringList{"1", "05", "ﾏｽﾀ-", "ｼﾝｸﾞﾙ", "", "7", "なし", "1ﾋﾞｯﾄ", "なし", "00", "", ""};
        QTest::newRow("short record") << "xxxxR1" << true << "R"
                                      << QStringList{"1", "00", "ﾏｽﾀ-", "ｼﾝｸﾞﾙ", "2400", "7", "なし", "1ﾋﾞｯﾄ", "なし", "00", "", ""};
        QTest::newRow("version") << "xxxxVQML47210 R1.20" << true << "V"
                                 << QStringList{"00", "00", "", "", "", "", "", "", "", "VQML47210 R1.2", "", ""};
    }
    void parse()
    {
        QFETCH(QString, line);
        QFETCH(bool, result);
        QFETCH(QString, letter);
        QFETCH(QStringList, values);
        app() = AppState{};
        app().WatchMode = 2;
        QString shown;
        SetVersionHook([&](const QString &t) { shown = t; });
        QString got = "unchanged";
        QCOMPARE(ParseWiredReply(line, got), result);
        SetVersionHook(nullptr);
        QCOMPARE(got, letter);
        QCOMPARE(app().WatchMode, qint16(0)); // every line ends the watch
        const AppState &s = app();
        QCOMPARE((QStringList{s.ReplyBand, s.ReplyChannel, s.ReplyType, s.ReplyAntenna,
                              s.ReplyBitRate, s.ReplyDataLength, s.ReplyParity, s.ReplyStopBits,
                              s.ReplyFlow, s.ReplyVersion, s.ReplyRegNo, s.ReplyRegValue}),
                 values);
        QCOMPARE(shown, letter == "V" ? s.ReplyVersion : QString());
    }

    void listsInRecordOrder()
    {
        const auto lists = SettingsLists::recordLists();
        QCOMPARE(lists.size(), 7);
        QCOMPARE(lists[2]->size(), 7);
        QCOMPARE(lists[2]->last(), QString("115200"));
        QCOMPARE(SettingsLists::channel().size(), 24);
        QCOMPARE(SettingsLists::channel().at(23), QString("23"));
    }
};

QTEST_GUILESS_MAIN(TestReplies)
#include "tst_replies.moc"
