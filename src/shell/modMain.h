#pragma once
// Start-up and the idle loop that lives as long as the program.

#include "config/TextFolder.h"

#include <QString>

class frmMain;

// Entry routine: ends at once, silently, when this user runs another copy from
// the same program file; otherwise starts up. Returns the exit code.
int Main();

// Reads the text files, shows the main window and runs the idle loop until
// the exit is confirmed.
int StartUp();

// The windows' own texts in English where `language` is "en"; Japanese,
// their source, otherwise.
void InstallTranslation(const QString &language);

// One pass of the idle loop: the link watch when asked for, then one
// pass of window events.
void IdlePass(frmMain &main);

// Says once, in the main window's message line, where the user's files are
// kept, or that nothing can be written.
void SayWhereFilesAre(frmMain &main, const TextFolderChoice &files);

// The folder for the single-copy lock, found from the user id alone: only
// this user may write it. Empty when there is none.
QString InstanceLockFolder();

// Name of the lock that marks this user's running copy of the program at
// `programPath`, in InstanceLockFolder(); empty when there is no such folder.
QString InstanceLockPath(const QString &programPath);

// Without a lock folder: true when the user runs this program file as a
// window already, in a process started earlier than this one.
bool EarlierCopyRuns();
