#pragma once
// The wired command path: command texts sent behind "@KZ9", one answer line
// whose fifth character is the reply letter.

#include <QString>
#include <functional>

class CommControl;
class ReplyTimer;

bool SendWiredCommand(CommControl &comm, ReplyTimer &timer, const QString &text);
bool WaitWiredReply(CommControl &comm, ReplyTimer &timer, qint16 interval, QString &letter);
// The idle loop's watch for the unit's "$" answer to the link poll. The poll
// re-arms the reply timer with every send, so the watch lasts while the poll
// runs and ends when the timer runs out. The unit's first answer of another
// letter ends it; the late reply of an exchange run meanwhile does not.
bool WaitLinkAnswer(CommControl &comm, ReplyTimer &timer, qint16 interval);
bool ParseWiredReply(const QString &line, QString &letter);

// How long the screens wait for a wired reply, in milliseconds.
constexpr qint16 WiredReplyMs = 7000;

// Where a "V" reply's text is shown; the settings screen sets it while open.
void SetVersionHook(std::function<void(const QString &)> hook);
