#pragma once
// Where the text files live, and which set of captions and messages is read.
//
// The text files (setcom.ini, FRH10.ini, debug.ini, the operator's own
// dispname.ini and message.ini), the COMn links, the log and the backups
// live in one folder: beside the program where the program folder is this
// user's own and not an installed one (the build folder, a portable archive
// the user unpacked), else in a folder of the user's own, seeded on first
// start. The QML47210_FILES environment variable names another folder (one
// several users may share). Where the text folder is closed to new files,
// what the program makes (logs, backups, COMn links) goes to the user's own
// folder. An installed program folder is never written, not even by root.

#include <QString>

struct TextFolderChoice {
    QString folder;     // the text files; ending in the platform's separator
    QString workFolder; // what the program makes: logs, backups/, COMn links
    bool perUser = false;
    // What the main window says once about it.
    enum Notice { NoNotice, FilesInOwnFolder, MadeInOwnFolder };
    Notice notice = NoNotice;
    QString problem; // a folder or file that could not be written, or empty
};

// The user's own folder for the text files (the platform's data location).
QString PerUserFolder();

// The file the install puts into the program folder: that folder is dpkg's
// (or another installer's), and the program never writes it.
inline constexpr const char *InstalledMark = "installed.txt";

// `named`: a folder the operator named, or empty. The per-user folder is
// created and seeded with setcom.ini, FRH10.ini and debug.ini from the
// program folder when it lacks them; nothing there is overwritten.
TextFolderChoice ChooseTextFolder(const QString &programDir, const QString &named,
                                  const QString &userFolder = PerUserFolder());

// "ja" or "en": `forced` when it is one of them, else Japanese under a
// Japanese locale and English otherwise.
QString ChooseLanguage(const QString &forced);

// The shipped set of captions and messages for a language.
QString ShippedTextFolder(const QString &programDir, const QString &language);
