#pragma once
// A stand-in for the radio modem: what it receives and what it answers,
// written from the unit's side of the line. It shares no code with the
// program's protocol, so a fault on either side shows up as a failed exchange.

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// One command line as received and the whole answer it gets.
struct SimExchange {
    QByteArray command;
    QList<QByteArray> lines; // each with its CR LF
};

struct SimRecord {
    int band = 1;     // 0..4
    int channel = 5;  // 0..23
    int positions[7] = {0, 0, 2, 1, 0, 0, 0}; // type, antenna, bps, dlen, parity, stop, flow
};

class SimUnit {
public:
    static constexpr int Registers = 28;
    static constexpr int MaxLine = 512;
    static constexpr const char *Header = "KZ90";
    static constexpr const char *Version = "QML47210 R1.20"; // 14 characters

    SimUnit();

    // Bytes from the program; returns the reply lines they complete, each
    // with its CR LF, in order.
    QList<QByteArray> feed(const QByteArray &bytes);
    // The same, kept by command, so that each answer can be timed as one.
    QList<SimExchange> feedCommands(const QByteArray &bytes);
    // One complete command line (without terminator).
    QList<QByteArray> answer(const QByteArray &line);

    QString reg(int n) const { return m_regs[n]; }
    void setReg(int n, const QString &value);
    const SimRecord &record() const { return m_record; }
    void setRecord(const SimRecord &r);

    // Faults that shape the answers themselves.
    bool refuseWrites = false;
    QByteArray noiseLine; // sent before every answer when not empty
    bool echo = false;    // repeat each command line before the answer
    QChar wrongLetter;    // replaces the letter of every wired reply
    QByteArray replyLine; // when set, the one answer to every command
    int stuckRegister = -1; // a register whose writes are acknowledged, not kept
    QByteArray version = Version; // what "V" answers after its letter
    bool answerPoll = true; // false: the link poll goes unanswered (an echo aside)

    QString toText() const;
    bool fromText(const QString &text);

    // Sizes of the seven lists the record's positions index.
    static const int ListSizes[7];

private:
    QList<QByteArray> answerRegister(const QByteArray &cmd);
    QList<QByteArray> answerWired(const QByteArray &text);
    QByteArray wired(const QByteArray &body) const;
    void syncRegistersFromRecord();

    QString m_regs[Registers];
    SimRecord m_record;
    QByteArray m_line;
    bool m_overflow = false;
};
