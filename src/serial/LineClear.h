#pragma once
// No answer is taken for a command it did not answer. The unit's answers
// carry no sequence number, but the unit answers in the order it is asked:
// once a wait has ended without its answer (a time-out, a resend whose twin
// answer is still to come), the line must have been quiet for a while
// before the next command goes out, and what comes meanwhile is dropped.
// The same holds across command-line runs on one device, through a mark in
// the user's runtime folder.

#include <QString>

class CommControl;

// How long the line must stay quiet, in design milliseconds. Resends go out
// one reply wait apart, so their late answers come one wait apart too: a
// spell of one and a half waits with nothing tells that the last has passed.
constexpr int QuietMs = 10500;

// A line that never falls quiet (a unit that talks unasked, noise) is given
// up after this long: the command is not sent, the answer stays due.
constexpr int QuietGiveUpMs = 4 * QuietMs;

// Before a command: when an answer may still be due, waits until the line
// has been quiet for QuietMs, dropping and showing what comes. False when
// the line went away, never fell quiet, or the program is ending meanwhile:
// the command must not go out (the answer stays due).
bool ClearLine(CommControl &comm);

// The mark of a run that ends with an answer due on `device`: when it was
// left and how long the line must yet stay quiet.
void LeaveLineMark(const CommControl &comm, const QString &device);
// At a run's start on `device`: what is left of an earlier run's quiet
// spell is waited out, and its mark removed. Without a mark, nothing.
void WaitOutLineMark(CommControl &comm, const QString &device);
// Where the mark of `device` is kept: $XDG_RUNTIME_DIR/qml47210, else a
// folder of the user's own in the temporary folder (empty: no device).
QString LineMarkPath(const QString &device);
