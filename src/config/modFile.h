#pragma once
// Readers of the five text files beside the program, and the setcom.ini writer.
// None of them reports an error: what they cannot read keeps its default.

#include "config/TextFolder.h"

#include <QString>

void ReadSetcomIni();
void ReadDispNameIni();
void ReadMessageIni();
void ReadFrhIni();
void ReadDebugIni();
// False when the port choice could not be saved; an absent setcom.ini is
// never created, and that is no failure. setcom.ini is rewritten where it is
// only when it is this user's own regular file; in its place stands another
// user's file (root's, for an ordinary user), a link or anything else, the
// choice goes to setcom.ini in the user's own folder instead, which is read
// from then on. `file`: the file it was saved in, or would have been.
bool WriteSetcomIni(QString *file = nullptr);

// The FRH preset table from another file of FRH10.ini's form; false when
// it cannot be read (the table is then empty).
bool ReadFrhFile(const QString &path);

// True when FRH10.ini supplied a value for every register 00..27, each two
// hexadecimal digits, so that every preset command is one well-formed line.
bool FrhPresetComplete();
// Message-table numbers: writing the preset failed; its table cannot be written.
constexpr int PresetFailedMessage = 11;
constexpr int PresetIncompleteMessage = 12;

// Chooses the text folder (QML47210_FILES names one) and the shipped set of
// captions and messages (QML47210_LANG, else the locale), then reads the five
// text files from them.
struct LoadedTextFiles {
    TextFolderChoice files;
    QString language; // "ja" or "en"
};
LoadedTextFiles LoadTextFiles();

// The program could not write this folder or file: message, then the path.
constexpr int NotWrittenMessage = 97;

// The folder where the program makes files (logs, backups/, COMn links).
QString WorkFolder();

// Where backups of units' configurations go: a folder of the user's own in
// the work folder.
QString BackupFolder();
