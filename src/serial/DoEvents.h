#pragma once
// Letting pending window events run once: one pass of the event loop. When
// nothing is pending the pass blocks until something arrives (a received byte,
// a timer, input), so a waiting program does not spin. A wait that reads the
// port passes it, so bytes already received never make it block.

class CommControl;

void DoEvents(const CommControl *reading = nullptr);

// One pass that never blocks, for handlers that only let queued events run.
void LetEventsRun();

// A pause that lets window events run throughout; the clock is monotonic,
// so midnight does not matter.
void PauseWithEvents(int milliseconds);
