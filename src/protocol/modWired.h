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

// The wait of a transfer for the answer to its own command: lines that do not
// answer it (noise, an unknown letter, another command's late reply, an "F"
// of another register) are passed over until one that `fits` (asked with its
// letter, the reply values set), or the interval's end.
enum class WiredAnswer { Fitting, OnlyOthers, Nothing, Lost };
WiredAnswer WaitWiredAnswer(CommControl &comm, ReplyTimer &timer, qint16 interval,
                            const std::function<bool(const QString &letter)> &fits,
                            QString &letter);

// The ten record characters of an "R" reply (ReplyRecord) are all there,
// each a hexadecimal digit: only then is the reply a whole read.
bool RecordReplyComplete(const QString &record);
// The channel an "R" reply carries, as the unit gave it (0x73 is 115).
int RecordReplyChannel(const QString &record);

// Message-table number: a reply that lacks part of what it carries, or
// carries what no field may hold; nothing was changed.
constexpr int IncompleteReplyMessage = 99;

// How long the screens wait for a wired reply, in milliseconds.
constexpr qint16 WiredReplyMs = 7000;

// Where a "V" reply's text is shown; the settings screen sets it while open.
void SetVersionHook(std::function<void(const QString &)> hook);
