#pragma once
// Readers of the five text files beside the program, and the setcom.ini writer.
// None of them reports an error: what they cannot read keeps its default.

#include "config/TextFolder.h"
#include "core/AppState.h"

#include <QString>

void ReadSetcomIni();
void ReadDispNameIni();
void ReadMessageIni();
void ReadFrhIni();
void ReadDebugIni();
// False when the port choice could not be saved; an absent setcom.ini is
// never created, and that is no failure. setcom.ini is rewritten where it is
// only when the text folder was found at start-up to be one nobody else can
// change and the file is this user's own regular file; otherwise the choice
// goes to setcom.ini in the work folder (the user's own), which is read from
// then on, and with no work folder it is not saved. `file`: the file it was
// saved in, or would have been (empty: there was nowhere to save it).
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
// captions and messages (QML47210_LANG, else the locale) for the program in
// `programDir`, then reads the five text files from them.
struct LoadedTextFiles {
    TextFolderChoice files;
    QString language; // "ja" or "en"
};
LoadedTextFiles LoadTextFiles(const QString &programDir = ProgramDir());

// The program could not write this folder or file: message, then the path.
constexpr int NotWrittenMessage = 97;

// The folder where the program makes files (logs, backups/, COMn links),
// checked at start-up; empty when there is none, and then nothing is made.
QString WorkFolder();

// Where backups of units' configurations go: a folder of the user's own in
// the work folder. With no work folder a name with no folder before it,
// which MakeOwnFolder refuses saying so: an apply is then refused rather
// than made without its backup.
QString BackupFolder();
