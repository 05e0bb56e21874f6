#include "sim/SimUnit.h"

#include <QRegularExpression>

const int SimUnit::ListSizes[7] = {2, 2, 7, 2, 3, 2, 2};

namespace {
// Band codes the unit keeps in register 27, for bands 0..4.
const int BandCodes[5] = {1, 3, 4, 5, 6};

QByteArray line(const QByteArray &text) { return text + "\r\n"; }

bool isTwoDigits(const QByteArray &s) { return s.size() == 2 && isdigit(uchar(s[0])) && isdigit(uchar(s[1])); }

bool isValueText(const QByteArray &s)
{
    static const QRegularExpression re(QStringLiteral("^[0-9A-Fa-f.]{2}$"));
    return re.match(QString::fromLatin1(s)).hasMatch();
}
} // namespace

SimUnit::SimUnit()
{
    for (int n = 0; n < Registers; ++n)
        m_regs[n] = QStringLiteral("%1").arg(n * 7 % 256, 2, 16, QLatin1Char('0')).toUpper();
    m_regs[4] = QStringLiteral("12");
    m_regs[5] = QStringLiteral("34");
    syncRegistersFromRecord();
}

void SimUnit::syncRegistersFromRecord()
{
    m_regs[27] = QStringLiteral("%1").arg(BandCodes[m_record.band], 2, 10, QLatin1Char('0'));
    m_regs[6] = QString::number(0xE0 + m_record.channel, 16).toUpper();
}

void SimUnit::setRecord(const SimRecord &r)
{
    m_record = r;
    syncRegistersFromRecord();
}

void SimUnit::setReg(int n, const QString &value)
{
    m_regs[n] = value;
    // Band and channel live in the record too: keep both views in step.
    if (n == 27) {
        bool ok = false;
        const int code = value.toInt(&ok);
        for (int b = 0; ok && b < 5; ++b)
            if (BandCodes[b] == code)
                m_record.band = b;
    } else if (n == 6) {
        bool ok = false;
        const int ch = value.toInt(&ok, 16) - 0xE0;
        if (ok && ch >= 0 && ch <= 23)
            m_record.channel = ch;
    }
}

QList<QByteArray> SimUnit::feed(const QByteArray &bytes)
{
    QList<QByteArray> out;
    for (const SimExchange &e : feedCommands(bytes))
        out += e.lines;
    return out;
}

QList<SimExchange> SimUnit::feedCommands(const QByteArray &bytes)
{
    QList<SimExchange> out;
    for (char c : bytes) {
        if (c == '\r' || c == '\n') {
            if (m_overflow) {
                m_overflow = false;
                out << SimExchange{{}, {line("N1")}}; // a line too long to be a command
            } else if (!m_line.isEmpty()) {
                out << SimExchange{m_line, answer(m_line)};
            }
            m_line.clear();
        } else if (m_overflow) {
            continue;
        } else if (m_line.size() >= MaxLine) {
            m_overflow = true;
            m_line.clear();
        } else {
            m_line += c;
        }
    }
    return out;
}

QList<QByteArray> SimUnit::answer(const QByteArray &cmd)
{
    QList<QByteArray> out;
    if (echo)
        out << line(cmd);
    if (!answerPoll && cmd == "@KZ9#")
        return out;
    if (!noiseLine.isEmpty())
        out << line(noiseLine);
    if (!replyLine.isEmpty())
        out << line(replyLine);
    else if (cmd.startsWith("@KZ9"))
        out += answerWired(cmd.mid(4));
    else if (cmd.startsWith("@REG") || cmd == "@RST")
        out += answerRegister(cmd);
    else
        out << line("N0");
    return out;
}

QList<QByteArray> SimUnit::answerRegister(const QByteArray &cmd)
{
    if (cmd == "@RST")
        return {line("P0")};
    const QByteArray rest = cmd.mid(4);
    const QByteArray number = rest.left(2);
    if (!isTwoDigits(number))
        return {line("N1")};
    const int n = number.toInt();
    if (n >= Registers)
        return {line("N2")};
    if (rest.size() == 2)
        return {line("P0"), line(m_regs[n].toLatin1() + "H")};
    if (rest.size() != 6 || rest[2] != ':' || rest[5] != 'H' || !isValueText(rest.mid(3, 2)))
        return {line("N3")};
    if (refuseWrites)
        return {line("N4")};
    if (n != stuckRegister)
        setReg(n, QString::fromLatin1(rest.mid(3, 2)));
    return {line("P0")};
}

QByteArray SimUnit::wired(const QByteArray &body) const
{
    QByteArray b = body;
    if (!wrongLetter.isNull() && !b.isEmpty())
        b[0] = char(wrongLetter.toLatin1());
    return line(QByteArray(Header) + b);
}

QList<QByteArray> SimUnit::answerWired(const QByteArray &text)
{
    if (text == "#")
        return {wired("$")};
    if (text == "V")
        return {wired(QByteArray("V") + version)};
    if (text == "R") {
        QByteArray body = "R" + QByteArray::number(m_record.band)
            + QByteArray::number(m_record.channel, 16).rightJustified(2, '0').toUpper();
        for (int p : m_record.positions)
            body += QByteArray::number(p, 16).toUpper();
        return {wired(body)};
    }
    if (text.startsWith('D')) {
        const QByteArray r = text.mid(1);
        bool ok = r.size() == 10 && r[0] >= '0' && r[0] <= '4';
        bool hexOk = false;
        const int channel = r.mid(1, 2).toInt(&hexOk, 16);
        ok = ok && hexOk && channel >= 0 && channel <= 23 && !r.mid(1, 2).contains(' ');
        SimRecord next;
        for (int i = 0; ok && i < 7; ++i) {
            const char c = r[3 + i];
            ok = c >= '0' && c <= '9' && c - '0' < ListSizes[i];
            if (ok)
                next.positions[i] = c - '0';
        }
        if (!ok || refuseWrites)
            return {wired("N")};
        next.band = r[0] - '0';
        next.channel = channel;
        setRecord(next);
        return {wired("A")};
    }
    if (text.startsWith('F')) {
        const QByteArray number = text.mid(1);
        if (!isTwoDigits(number) || number.toInt() >= Registers)
            return {wired("N")};
        return {wired("F" + number + m_regs[number.toInt()].toLatin1())};
    }
    if (text.startsWith('S')) {
        const QByteArray number = text.mid(1, 2);
        const QByteArray value = text.mid(3);
        if (!isTwoDigits(number) || number.toInt() >= Registers || !isValueText(value)
            || refuseWrites)
            return {wired("N")};
        if (number.toInt() != stuckRegister)
            setReg(number.toInt(), QString::fromLatin1(value));
        return {wired("A")};
    }
    return {wired("N")};
}

QString SimUnit::toText() const
{
    QString out;
    for (int n = 0; n < Registers; ++n)
        out += QStringLiteral("REG %1 %2\n").arg(n, 2, 10, QLatin1Char('0')).arg(m_regs[n]);
    out += QStringLiteral("RECORD %1 %2").arg(m_record.band).arg(m_record.channel);
    for (int p : m_record.positions)
        out += QStringLiteral(" %1").arg(p);
    return out + QLatin1Char('\n');
}

bool SimUnit::fromText(const QString &text)
{
    SimUnit loaded;
    bool any = false;
    for (const QString &raw : text.split(QLatin1Char('\n'))) {
        const QStringList f = raw.simplified().split(QLatin1Char(' '), Qt::SkipEmptyParts);
        if (f.size() == 3 && f[0] == QLatin1String("REG")) {
            bool ok = false;
            const int n = f[1].toInt(&ok);
            if (ok && n >= 0 && n < Registers && f[2].size() == 2) {
                loaded.m_regs[n] = f[2];
                any = true;
            }
        } else if (f.size() == 10 && f[0] == QLatin1String("RECORD")) {
            SimRecord r;
            bool ok = true;
            r.band = f[1].toInt(&ok);
            ok = ok && r.band >= 0 && r.band <= 4;
            bool ok2 = false;
            r.channel = f[2].toInt(&ok2);
            ok = ok && ok2 && r.channel >= 0 && r.channel <= 23;
            for (int i = 0; ok && i < 7; ++i) {
                r.positions[i] = f[3 + i].toInt(&ok2);
                ok = ok2 && r.positions[i] >= 0 && r.positions[i] < ListSizes[i];
            }
            if (ok) {
                loaded.m_record = r;
                any = true;
            }
        }
    }
    if (!any)
        return false;
    for (int n = 0; n < Registers; ++n)
        m_regs[n] = loaded.m_regs[n];
    // A unit put on the line has heard no part of a command yet.
    m_line.clear();
    m_overflow = false;
    // The record decides band and channel; its registers follow it.
    setRecord(loaded.m_record);
    return true;
}
