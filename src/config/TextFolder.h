#pragma once
// Where the text files live, and which set of captions and messages is read.
//
// The text files (setcom.ini, FRH10.ini, debug.ini, the operator's own
// dispname.ini and message.ini), the COMn links, the log and the backups
// live in one folder: beside the program where the program folder is this
// user's own and not an installed one (the build folder, a portable archive
// the user unpacked), else in a folder of the user's own, seeded on first
// start. The QML47210_FILES environment variable names another folder (one
// several users may share). What the program makes (logs, backups, COMn
// links, and the port choice where the text folder's setcom.ini is not the
// user's to rewrite) goes only to a folder nobody else can change
// (CheckedFolder): the text folder where it is one and takes new files, else
// the user's own folder; with neither, nothing is made. An installed program
// folder is never written, not even by root.

#include <QString>

struct TextFolderChoice {
    QString folder;     // the text files; ending in the platform's separator
    QString workFolder; // what the program makes: logs, backups/, COMn links; empty: nothing
    bool folderChecked = false; // nobody else can change `folder`: its setcom.ini may be rewritten
    // What the main window says once about it.
    enum Notice { NoNotice, FilesInOwnFolder, MadeInOwnFolder, NotYoursAlone, NothingMade };
    Notice notice = NoNotice;
    QString problem; // a folder or file that could not be written, or empty
};

// The user's own folder for the text files, made when absent: under the
// data folder the environment names (XDG_DATA_HOME, else HOME) where every
// folder on that way is the user's or root's, else under the home the
// password database gives the running user, so that root never takes
// another user's folder for its own through a HOME that sudo passed on.
// Checked as CheckedFolder checks; empty when no such folder can be had,
// and then `tried` names the one that was wanted.
QString MakeUserFolder(QString *tried = nullptr);

// `named`: a folder the operator named, or empty. The per-user folder is
// created and seeded with setcom.ini, FRH10.ini and debug.ini from the
// program folder's defaults/ when it lacks them; nothing there is
// overwritten.
TextFolderChoice ChooseTextFolder(const QString &programDir, const QString &named);

// "ja" or "en": `forced` when it is one of them, else Japanese under a
// Japanese locale and English otherwise.
QString ChooseLanguage(const QString &forced);

// The shipped set of captions and messages for a language.
QString ShippedTextFolder(const QString &programDir, const QString &language);
