#pragma once
// Start-up and the idle loop that lives as long as the program.

#include <QString>

class frmMain;

// Entry routine: ends at once, silently, when another copy runs from the
// same program file; otherwise starts up. Returns the exit code.
int Main();

// Reads the text files, shows the main window and runs the idle loop until
// the exit is confirmed.
int StartUp();

// One pass of the idle loop: the link watch when asked for, then one
// pass of window events.
void IdlePass(frmMain &main);

// Name of the lock that marks a running copy of the program at `programPath`.
QString InstanceLockPath(const QString &programPath);
