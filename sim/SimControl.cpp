#include "sim/SimControl.h"

#include "sim/SimPeer.h"

#include <QCoreApplication>
#include <QRegularExpression>
#include <QStringList>

namespace {
// "MIN-MAX", milliseconds.
bool parseRange(const QString &arg, int &min, int &max)
{
    static const QRegularExpression re(QStringLiteral("^(\\d{1,7})-(\\d{1,7})$"));
    const QRegularExpressionMatch m = re.match(arg);
    min = m.captured(1).toInt();
    max = m.captured(2).toInt();
    return m.hasMatch() && min <= max;
}

// "TEXT MS": a command line (no blanks) and its delay.
bool parseSlow(const QString &arg, QByteArray &text, int &ms)
{
    const QStringList f = arg.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    bool ok = false;
    if (f.size() == 2)
        ms = f[1].toInt(&ok);
    text = f.value(0).toLatin1();
    return ok && ms >= 0;
}
} // namespace

QString SimCommandHelp()
{
    return QStringLiteral(
        "silent on|off        answer nothing\n"
        "delay MS             answer after MS milliseconds (0: at once)\n"
        "delay MIN-MAX        answer after MIN to MAX ms, drawn anew for each answer;\n"
        "                     answers always leave in the order they were asked\n"
        "seed N               draw the delays from seed N (repeatable runs)\n"
        "slow TEXT MS         answer the next command line TEXT after MS ms, once\n"
        "slow off             forget a slow command not yet received\n"
        "twice MS|off         send every answer again MS ms after it went\n"
        "poll on|off          off: leave the link poll @KZ9# unanswered (an echo aside)\n"
        "refuse on|off        refuse every write (N4 / N)\n"
        "noise TEXT|off       send the line TEXT before every answer\n"
        "echo on|off          repeat each command line before the answer\n"
        "letter X|off         give every wired reply the letter X\n"
        "reply TEXT|off       answer every command with the line TEXT alone\n"
        "stuck NN|off         acknowledge writes to register NN but keep its value\n"
        "baud N|off           pace the answers at N bit/s, 10 bits a byte\n"
        "drop                 close the line, like an unplugged cable\n"
        "unit FILE            put another unit on the line: this one's registers and\n"
        "                     record go back to its state file (if any), FILE's are\n"
        "                     loaded (a fresh unit if FILE is missing) and kept there\n"
        "                     from now on; the line's faults (silent, refuse, ...) stay\n"
        "state                print registers and record\n"
        "quit                 end\n");
}

QString ApplySimCommand(SimPeer &peer, const QString &command)
{
    const QString trimmed = command.trimmed();
    const int space = trimmed.indexOf(QLatin1Char(' '));
    const QString verb = (space < 0 ? trimmed : trimmed.left(space)).toLower();
    const QString arg = space < 0 ? QString() : trimmed.mid(space + 1).trimmed();
    const bool on = arg == QLatin1String("on");
    const bool off = arg == QLatin1String("off");
    SimUnit &unit = peer.unit();
    SimSchedule &schedule = peer.schedule();
    bool ok = true;
    int min = 0, max = 0;
    QByteArray text;

    if (verb.isEmpty())
        return {};
    if (verb == QLatin1String("silent") && (on || off))
        peer.silent = on;
    else if (verb == QLatin1String("delay") && (arg.toInt(&ok), ok))
        schedule.setDelay(qMax(0, arg.toInt()), qMax(0, arg.toInt()));
    else if (verb == QLatin1String("delay") && parseRange(arg, min, max))
        schedule.setDelay(min, max);
    else if (verb == QLatin1String("seed") && (arg.toUInt(&ok), ok))
        schedule.setSeed(arg.toUInt());
    else if (verb == QLatin1String("slow") && off)
        schedule.setSlow({}, 0);
    else if (verb == QLatin1String("slow") && parseSlow(arg, text, min))
        schedule.setSlow(text, min);
    else if (verb == QLatin1String("twice") && off)
        schedule.setTwice(-1);
    else if (verb == QLatin1String("twice") && (arg.toInt(&ok), ok) && arg.toInt() >= 0)
        schedule.setTwice(arg.toInt());
    else if (verb == QLatin1String("poll") && (on || off))
        unit.answerPoll = on;
    else if (verb == QLatin1String("refuse") && (on || off))
        unit.refuseWrites = on;
    else if (verb == QLatin1String("noise") && !arg.isEmpty())
        unit.noiseLine = off ? QByteArray() : arg.toLatin1();
    else if (verb == QLatin1String("echo") && (on || off))
        unit.echo = on;
    else if (verb == QLatin1String("letter") && arg.size() == 1)
        unit.wrongLetter = arg[0];
    else if (verb == QLatin1String("letter") && off)
        unit.wrongLetter = QChar();
    else if (verb == QLatin1String("reply") && !arg.isEmpty())
        unit.replyLine = off ? QByteArray() : arg.toLatin1();
    else if (verb == QLatin1String("stuck") && off)
        unit.stuckRegister = -1;
    else if (verb == QLatin1String("stuck") && (arg.toInt(&ok), ok) && arg.toInt() >= 0
             && arg.toInt() < SimUnit::Registers)
        unit.stuckRegister = arg.toInt();
    else if (verb == QLatin1String("baud") && off)
        peer.setBitRate(0);
    else if (verb == QLatin1String("baud") && arg.toInt() > 0)
        peer.setBitRate(arg.toInt());
    else if (verb == QLatin1String("drop"))
        peer.dropLine();
    else if (verb == QLatin1String("unit") && !arg.isEmpty())
        return peer.swapUnit(arg) ? QStringLiteral("ok")
                                  : QStringLiteral("? cannot put the unit of ") + arg
                + QStringLiteral(" on the line");
    else if (verb == QLatin1String("state"))
        return unit.toText().trimmed();
    else if (verb == QLatin1String("quit"))
        QCoreApplication::quit();
    else if (verb == QLatin1String("help"))
        return SimCommandHelp().trimmed();
    else
        return QStringLiteral("? unknown command: ") + trimmed;
    return QStringLiteral("ok");
}
