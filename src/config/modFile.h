#pragma once
// Readers of the five text files beside the program, and the setcom.ini writer.
// None of them reports an error: what they cannot read keeps its default.

#include <QString>

void ReadSetcomIni();
void ReadDispNameIni();
void ReadMessageIni();
void ReadFrhIni();
void ReadDebugIni();
// False when an existing setcom.ini could not be rewritten; an absent one is
// never created, and that is no failure.
bool WriteSetcomIni();

// The FRH preset table from another file of FRH10.ini's form; false when
// it cannot be read (the table is then empty).
bool ReadFrhFile(const QString &path);

// True when FRH10.ini supplied a value for every register 00..27.
bool FrhPresetComplete();

// Where backups of units' configurations go: a folder beside the text files.
QString BackupFolder();
