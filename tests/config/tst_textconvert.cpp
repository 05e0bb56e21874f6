#include "config/TextConvert.h"

#include <QTest>

using namespace TextConvert;

class TestTextConvert : public QObject {
    Q_OBJECT
private slots:
    void numeric_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("numeric");
        QTest::addColumn<double>("value");
        QTest::newRow("plain digit") << "4" << true << 4.0;
        QTest::newRow("blanks around") << "  23 " << true << 23.0;
        QTest::newRow("fraction") << "2.5" << true << 2.5;
        QTest::newRow("negative") << "-1" << true << -1.0;
        QTest::newRow("plus sign") << "+3" << true << 3.0;
        QTest::newRow("exponent") << "1E1" << true << 10.0;
        QTest::newRow("D exponent") << "2d2" << true << 200.0;
        QTest::newRow("hex form") << "&H17" << true << 23.0;
        QTest::newRow("lower-case hex form") << "&hff" << true << 255.0;
        QTest::newRow("octal form") << "&O17" << true << 15.0;
        QTest::newRow("lower-case octal form") << "&o7" << true << 7.0;
        QTest::newRow("8 is no octal digit") << "&O8" << false << 0.0;
        QTest::newRow("G is no hexadecimal digit") << "&HG" << false << 0.0;
        QTest::newRow("leading point") << ".5" << true << 0.5;
        QTest::newRow("empty is no number") << "" << false << 0.0;
        QTest::newRow("blanks only") << "   " << false << 0.0;
        QTest::newRow("letter") << "x" << false << 0.0;
        QTest::newRow("digit then letter") << "1A" << false << 0.0;
        QTest::newRow("incomplete exponent") << "1E" << false << 0.0;
        QTest::newRow("sign alone") << "-" << false << 0.0;
        QTest::newRow("hex prefix alone") << "&H" << false << 0.0;
        QTest::newRow("two numbers") << "1 2" << false << 0.0;
    }
    void numeric()
    {
        QFETCH(QString, text);
        QFETCH(bool, numeric);
        QFETCH(double, value);
        QCOMPARE(isNumeric(text), numeric);
        if (numeric)
            QCOMPARE(*parseNumber(text), value);
    }

    void leading_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<double>("value");
        QTest::newRow("blank then digits then letter") << " 05x" << 5.0;
        QTest::newRow("1A is one") << "1A" << 1.0;
        QTest::newRow("0A is zero") << "0A" << 0.0;
        QTest::newRow("3F is three") << "3F" << 3.0;
        QTest::newRow("no number") << "AB" << 0.0;
        QTest::newRow("empty") << "" << 0.0;
        QTest::newRow("null") << QString() << 0.0;
        QTest::newRow("register box text") << "  27" << 27.0;
        QTest::newRow("fraction") << "2.5x" << 2.5;
        QTest::newRow("negative") << "-1" << -1.0;
    }
    void leading()
    {
        QFETCH(QString, text);
        QFETCH(double, value);
        QCOMPARE(leadingNumber(text), value);
    }

    void rounding_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<qint64>("whole");
        QTest::newRow("2.5 to even 2") << 2.5 << qint64(2);
        QTest::newRow("3.5 to even 4") << 3.5 << qint64(4);
        QTest::newRow("-2.5 to even -2") << -2.5 << qint64(-2);
        QTest::newRow("2.6 up") << 2.6 << qint64(3);
        QTest::newRow("0.4 down") << 0.4 << qint64(0);
    }
    void rounding()
    {
        QFETCH(double, value);
        QFETCH(qint64, whole);
        QCOMPARE(roundHalfEven(value), whole);
    }

    void int16_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("converts");
        QTest::addColumn<int>("value");
        QTest::newRow("port 2") << "2" << true << 2;
        QTest::newRow("blanks") << " 3 " << true << 3;
        QTest::newRow("half to even") << "2.5" << true << 2;
        QTest::newRow("port name") << "COM2" << false << 0;
        QTest::newRow("empty") << "" << false << 0;
        QTest::newRow("too large") << "40000" << false << 0;
        QTest::newRow("smallest") << "-32768" << true << -32768;
        QTest::newRow("largest") << "32767" << true << 32767;
        QTest::newRow("one past the largest") << "32768" << false << 0;
        QTest::newRow("one past the smallest") << "-32769" << false << 0;
    }
    void int16()
    {
        QFETCH(QString, text);
        QFETCH(bool, converts);
        QFETCH(int, value);
        const auto v = toInt16(text);
        QCOMPARE(v.has_value(), converts);
        if (converts)
            QCOMPARE(int(*v), value);
    }

    void format_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("digits");
        QTest::addColumn<QString>("formatted");
        QTest::newRow("7 as 00") << "7" << 2 << "07";
        QTest::newRow("7.6 as 0") << "7.6" << 1 << "8";
        QTest::newRow("8 as 0") << "8" << 1 << "8";
        QTest::newRow("half away from zero") << "2.5" << 1 << "3";
        QTest::newRow("no number stays") << "abc" << 1 << "abc";
        QTest::newRow("empty stays empty") << "" << 1 << "";
        QTest::newRow("negative") << "-1" << 2 << "-01";
        QTest::newRow("three digits") << "123" << 2 << "123";
    }
    void format()
    {
        QFETCH(QString, text);
        QFETCH(int, digits);
        QFETCH(QString, formatted);
        QCOMPARE(formatWhole(text, digits), formatted);
    }

    void hexAndRight_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("hexText");
        QTest::addColumn<QString>("right");
        QTest::newRow("channel 23") << 23.0 << "17" << "17";
        QTest::newRow("channel 0") << 0.0 << "0" << "00";
        QTest::newRow("channel 10") << 10.0 << "A" << "0A";
        QTest::newRow("2.5 rounds to even") << 2.5 << "2" << "02";
        QTest::newRow("negative as 32 bits") << -1.0 << "FFFFFFFF" << "FF";
    }
    void hexAndRight()
    {
        QFETCH(double, value);
        QFETCH(QString, hexText);
        QFETCH(QString, right);
        QCOMPARE(hex(value), hexText);
        QCOMPARE(right2(hex(value)), right);
    }
};

QTEST_GUILESS_MAIN(TestTextConvert)
#include "tst_textconvert.moc"
