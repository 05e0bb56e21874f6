#pragma once
// The wired command path: command texts sent behind "@KZ9", one answer line
// whose fifth character is the reply letter.

#include <QString>
#include <functional>

class CommControl;
class ReplyTimer;

bool SendWiredCommand(CommControl &comm, ReplyTimer &timer, const QString &text);
bool WaitWiredReply(CommControl &comm, ReplyTimer &timer, qint16 interval, QString &letter);
bool ParseWiredReply(const QString &line, QString &letter);

// How long the screens wait for a wired reply, in milliseconds.
constexpr qint16 WiredReplyMs = 7000;

// Where a "V" reply's text is shown; the settings screen sets it while open.
void SetVersionHook(std::function<void(const QString &)> hook);
