#pragma once
// Where the text files live, and which set of captions and messages is read.
//
// The text files (setcom.ini, FRH10.ini, debug.ini, the operator's own
// dispname.ini and message.ini), the COMn links, the log and the backups
// live in one folder: beside the program where this user can write its
// setcom.ini (the build folder, the portable archive, a shared folder set up
// so), else in a folder of the user's own, seeded on first start. The
// QML47210_FILES environment variable names another folder.

#include <QString>

struct TextFolderChoice {
    QString folder;  // ending in the platform's separator
    bool perUser = false;
    QString problem; // a folder or file that could not be written, or empty
};

// The user's own folder for the text files (the platform's data location).
QString PerUserFolder();

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
