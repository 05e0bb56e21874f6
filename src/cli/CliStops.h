#pragma once
// Ctrl-C (SIGINT) and a terminate (SIGTERM) on the command line. The first
// asks the run to stop once the exchange under way has ended; where a
// command has said what a sudden end would leave (ArmStopAtOnce), the next
// ends the process there and then, printing that, with 128 + its number.

#include <QString>

namespace Cli {

// From here on the two signals are caught; again changes nothing.
void CatchStops();
// The first signal's number; 0 while none came.
int StopSignal();
// 130 or 143: the exit code of a run that a signal stopped.
int StopExitCode();
// "SIGINT" or "SIGTERM", for programs.
QString StopSignalName();
// Readable at each signal (one byte each), for an event loop to wake on; -1
// where there is none.
int StopPipe();
void TakeStopByte();

// What a second signal prints before the process ends at once: `text` on
// standard error, and with --json the document on standard output, `exit`
// then being the signal's code. Until a command arms it, and after
// DisarmStopAtOnce, every signal is one more request to stop.
void ArmStopAtOnce(const QString &text, bool json);
void DisarmStopAtOnce();
// While a site book entry is being recorded: a sudden end appends `line`
// (the entry's JSON and a newline) to the pending file instead.
void KeepEntryAtOnce(const QString &pendingPath, const QByteArray &line);
void ForgetEntryAtOnce();
// What a sudden end on the open port `device` leaves as a close would: its
// lock file goes (another user would find it stale, yet could not remove
// it), and the line's mark is left, for the next run to wait out the answer
// of the exchange cut short.
void PrepareEndAtOnce(const QString &device);

} // namespace Cli
