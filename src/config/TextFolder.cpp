// Choosing the folder of the text files and the language of the captions and
// messages, and seeding a user's own folder.
#include "config/TextFolder.h"

#include "config/FieldReader.h"
#include "config/FileSafety.h"
#include "core/AppState.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QStandardPaths>

#ifdef Q_OS_UNIX
#include <pwd.h>
#include <unistd.h>
#endif

namespace {

// The running user's home as the password database has it: what HOME says
// may be another user's, passed on by sudo.
QString passwdHome()
{
#ifdef Q_OS_UNIX
    struct passwd entry {};
    struct passwd *found = nullptr;
    char buffer[4096];
    if (::getpwuid_r(::geteuid(), &entry, buffer, sizeof buffer, &found) == 0 && found
        && found->pw_dir && *found->pw_dir)
        return QFile::decodeName(found->pw_dir);
#endif
    return {};
}

// The program folder is the user's to keep files in: a real folder of the
// user's own, and no installed one (root owns that one too, yet it is the
// package's).
bool usersOwn(const QString &dir)
{
    const Entry folder = LookAt(dir);
    return folder.kind == Entry::Folder && folder.mine()
        && !LookAt(dir + QLatin1String(InstalledMark)).exists();
}

// What the program makes goes to the text folder when nobody else can
// change it and it takes new files; else to the user's own folder, which the
// main window names. A text folder that passed the check keeps its
// setcom.ini rewritten in place even where it is closed to new files.
void workIn(TextFolderChoice &choice)
{
    const QString checked = CheckedFolder(choice.folder);
    if (!checked.isEmpty()) {
        choice.folder = FolderPath(checked);
        choice.folderChecked = true;
        if (CanCreateIn(checked)) {
            choice.workFolder = choice.folder;
            return;
        }
    }
    QString tried;
    const QString own = MakeUserFolder(&tried);
    if (!own.isEmpty()) {
        choice.workFolder = FolderPath(own);
        choice.notice = choice.folderChecked ? TextFolderChoice::MadeInOwnFolder
                                             : TextFolderChoice::NotYoursAlone;
    } else {
        choice.notice = choice.folderChecked ? TextFolderChoice::NoNotice
                                             : TextFolderChoice::NothingMade;
        choice.problem = FolderPath(tried);
    }
}

// Copies the shipped files the user lacks from the program folder's
// defaults/, which the program never writes and nobody edits as their own
// settings (the files beside the program may hold its owner's port choice).
// Only regular files of the program folder's owner, root or the user are
// copied, never what a link there points to, and never over anything the
// user has.
void seed(TextFolderChoice &choice, const QString &program, const QString &user)
{
    const QString defaults = program + QStringLiteral("defaults") + QDir::separator();
    const uint programOwner = LookAt(program).owner;
    const auto shipped = [&](uint owner) { return owner == programOwner || TrustedOwner(owner); };
    const Entry folder = LookAt(defaults);
    if (folder.kind != Entry::Folder || !shipped(folder.owner))
        return;
    for (const char *name : {"setcom.ini", "FRH10.ini", "debug.ini"}) {
        const QString mine = user + QLatin1String(name);
        if (LookAt(mine).exists())
            continue;
        uint owner = 0;
        const auto bytes =
            ReadRegularFile(defaults + QLatin1String(name), 1 << 20, FileTrust::NoLink, &owner);
        if (!bytes || !shipped(owner))
            continue;
        QFile file;
        if (!CreateNewFile(file, mine, InOwnFolder | OwnerOnly, nullptr)
            || file.write(*bytes) != bytes->size() || !file.flush()) {
            if (choice.problem.isEmpty())
                choice.problem = mine;
            // Not left empty or cut short, where the next start would take it
            // for the user's own and never seed it again.
            if (file.isOpen()) { // made here by this start: opened by descriptor, so removed by name
                file.close();
                QFile::remove(mine);
            }
        }
    }
}

} // namespace

QString MakeUserFolder(QString *tried)
{
    QStringList bases;
    const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (!data.isEmpty())
        bases << data;
    if (const QString home = passwdHome(); !home.isEmpty())
        bases << home + QStringLiteral("/.local/share");
    for (const QString &base : bases) {
        const QString folder = QDir::cleanPath(base + QStringLiteral("/qml47210"));
        if (tried)
            *tried = folder;
        // A link in the folder's own place is not followed, whoever made it.
        const Entry there = LookAt(folder);
        if (there.exists() && there.kind != Entry::Folder)
            continue;
        if (const QString made = CheckedFolder(folder, true); !made.isEmpty())
            return made;
    }
    return {};
}

TextFolderChoice ChooseTextFolder(const QString &programDir, const QString &named)
{
    TextFolderChoice choice;
    const QString program = FolderPath(programDir);
    if (!named.isEmpty()) {
        choice.folder = FolderPath(named);
        if (!QFileInfo(choice.folder).isDir()) {
            choice.problem = choice.folder;
            if (const QString own = MakeUserFolder(); !own.isEmpty())
                choice.workFolder = FolderPath(own);
            return choice;
        }
        workIn(choice);
        return choice;
    }
    if (usersOwn(program)) {
        choice.folder = program;
        workIn(choice);
        return choice;
    }
    QString tried;
    const QString user = MakeUserFolder(&tried);
    if (user.isEmpty()) {
        // Nowhere of the user's own: the program folder's files are read, and
        // nothing is made or rewritten, there or anywhere else.
        choice.folder = program;
        choice.notice = TextFolderChoice::NothingMade;
        choice.problem = FolderPath(tried);
        return choice;
    }
    choice.folder = choice.workFolder = FolderPath(user);
    choice.folderChecked = true;
    choice.notice = TextFolderChoice::FilesInOwnFolder;
    seed(choice, program, choice.folder);
    return choice;
}

QString ChooseLanguage(const QString &forced)
{
    if (forced == QLatin1String("ja") || forced == QLatin1String("en"))
        return forced;
    return QLocale::system().language() == QLocale::Japanese ? QStringLiteral("ja")
                                                             : QStringLiteral("en");
}

QString ShippedTextFolder(const QString &programDir, const QString &language)
{
    return FolderPath(FolderPath(programDir) + QStringLiteral("lang") + QDir::separator()
                         + language);
}
