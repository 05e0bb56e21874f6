#pragma once
// One command line typed by the operator, sent as it stands: the program adds
// only CR LF. Its answers are shown as they come (the traffic hub); the wait
// ends at the first that answers it (TrafficMeaning's IsFinalAnswer) or
// after 7 s. It holds the connection's exchange gate throughout.

#include <QString>

class CommControl;
class ReplyTimer;

enum class ManualResult { Answered, NoAnswer, NotALine, Busy, PortClosed };

ManualResult SendManualCommand(CommControl &comm, ReplyTimer &timer, const QString &line,
                               QString *answer = nullptr);
// Printable ASCII only: a control character would end or split the line.
bool IsSendableLine(const QString &line);
