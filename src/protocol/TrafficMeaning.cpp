// Classifying the traffic: by the same rules the exchanges read replies
// with, without their side effects.
#include "protocol/TrafficMeaning.h"

#include "core/AppState.h"
#include "protocol/modModem.h"

#include <QRegularExpression>

namespace TM = TrafficMessages;

namespace {

constexpr int HeaderSize = 4; // "@KZ9" sent, "KZ90" received

bool wired(const QString &line, QChar *letter)
{
    if (line.size() <= HeaderSize || !line.startsWith(QLatin1String("KZ9")))
        return false;
    *letter = line.at(HeaderSize);
    return true;
}

int sentMeaning(const QString &line, QString *detail)
{
    static const QRegularExpression reg(QStringLiteral("^@REG(\\d\\d)(:(..)H)?$"));
    if (line.startsWith(QLatin1String("@KZ9")) && line.size() > HeaderSize) {
        const QString rest = line.mid(HeaderSize + 1);
        switch (line.at(HeaderSize).unicode()) {
        case '#': return TM::LinkPoll;
        case 'V': return TM::ReadVersion;
        case 'R': return TM::ReadRecord;
        case 'D': *detail = rest; return TM::WriteRecord;
        case 'F': *detail = rest.left(2); return TM::ReadRegister;
        case 'S': *detail = rest.left(2) + QLatin1Char(' ') + rest.mid(2); return TM::WriteRegister;
        default: return TM::UnknownCommand;
        }
    }
    if (const auto m = reg.match(line); m.hasMatch()) {
        *detail = m.captured(1) + (m.captured(3).isEmpty() ? QString() : QLatin1Char(' ') + m.captured(3));
        return m.captured(3).isEmpty() ? TM::ReadRegister : TM::WriteRegister;
    }
    if (line == QLatin1String("@RST"))
        return TM::Reset;
    return TM::UnknownCommand;
}

int receivedMeaning(const QString &line, QString *detail)
{
    static const QRegularExpression value(QStringLiteral("^[0-9A-Fa-f]{2}H$"));
    QChar letter;
    if (wired(line, &letter)) {
        const QString rest = line.mid(HeaderSize + 1);
        switch (letter.unicode()) {
        case '$': return TM::LinkAnswer;
        case 'A': return TM::Acknowledged;
        case 'N': return TM::Refusal;
        case 'R': *detail = rest; return TM::Record;
        case 'V': *detail = line.mid(HeaderSize + 1); return TM::Version;
        case 'F': *detail = rest.left(2) + QStringLiteral(" = ") + rest.mid(2, 2); return TM::RegisterValue;
        default: *detail = letter; return TM::UnknownLetter;
        }
    }
    switch (ClassifyReply(line)) {
    case Accepted: return TM::Acknowledged;
    case ::Recognised: return TM::Recognised;
    case Refused: *detail = line.left(2); return TM::Refusal;
    default: break;
    }
    if (value.match(line).hasMatch()) {
        *detail = line.left(2);
        return TM::RegisterValue;
    }
    return TM::Noise;
}

int noteMeaning(const QString &text)
{
    const struct { const char *start; int message; } notes[] = {
        {"port opened", TM::PortOpened}, {"port closed", TM::PortClosed}, {"line lost", TM::LineLost},
        {"time-out", TM::TimeOut},       {"over-long line", TM::OverLong}, {"input overflow", TM::Overflow},
        {"not sent", TM::NotSent},       {"clearing the line", TM::Clearing},
    };
    for (const auto &n : notes)
        if (text.startsWith(QLatin1String(n.start)))
            return n.message;
    return TM::Note;
}

int meaning(const TrafficEvent &event, QString *detail)
{
    switch (event.kind) {
    case TrafficEvent::Sent: return sentMeaning(event.text, detail);
    case TrafficEvent::Received: return receivedMeaning(event.text, detail);
    case TrafficEvent::Dropped: { // and what it would have been
        QString what;
        const int m = receivedMeaning(event.text, &what);
        *detail = what.isEmpty() ? app().message(m) : app().message(m) + QLatin1Char(' ') + what;
        return TM::Dropped;
    }
    case TrafficEvent::Echo: return TM::Echo;
    case TrafficEvent::Note: break;
    }
    return noteMeaning(event.text);
}

} // namespace

int TrafficMeaningMessage(const TrafficEvent &event)
{
    QString detail;
    return meaning(event, &detail);
}

QString TrafficMeaning(const TrafficEvent &event)
{
    QString detail;
    const int m = meaning(event, &detail);
    return detail.isEmpty() ? app().message(m) : app().message(m) + QLatin1Char(' ') + detail;
}

bool IsLinkPollTraffic(const TrafficEvent &event)
{
    // Asked of every row as it comes: by its fixed form, nothing parsed.
    const QString &t = event.text;
    if (event.kind == TrafficEvent::Sent)
        return t == QLatin1String("@KZ9#");
    if (event.kind == TrafficEvent::Note) // the poll while the port is closed
        return t.endsWith(QLatin1String(": @KZ9#")) && t.startsWith(QLatin1String("not sent"));
    return event.kind == TrafficEvent::Received && t.size() > HeaderSize && t.at(HeaderSize) == u'$'
        && t.startsWith(QLatin1String("KZ9"));
}

bool IsFinalAnswer(const TrafficEvent &event, const QString &command)
{
    if (event.kind != TrafficEvent::Received)
        return false;
    QString detail;
    const int asked = sentMeaning(command, &detail);
    switch (TrafficMeaningMessage(event)) {
    case TM::Acknowledged: // a register read's acknowledgement comes before its value
        return event.text.startsWith(QLatin1String("KZ9")) || asked != TM::ReadRegister
            || command.startsWith(QLatin1String("@KZ9"));
    case TM::Refusal: case TM::Record: case TM::Version: case TM::RegisterValue: case TM::UnknownLetter:
        return true;
    case TM::LinkAnswer:
        return asked == TM::LinkPoll;
    default:
        return false;
    }
}
