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
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

constexpr uint NoOwner = uint(-1);

uint ownerOf(const QString &path, bool followLink)
{
#ifdef Q_OS_UNIX
    struct stat st{};
    const QByteArray native = QFile::encodeName(QDir::cleanPath(path));
    const int rc = followLink ? ::stat(native.constData(), &st) : ::lstat(native.constData(), &st);
    return rc == 0 ? uint(st.st_uid) : NoOwner;
#else
    Q_UNUSED(path);
    Q_UNUSED(followLink);
    return 0;
#endif
}

uint me()
{
#ifdef Q_OS_UNIX
    return uint(::geteuid());
#else
    return 0;
#endif
}

// The program folder is the user's to keep files in: the user's own, and no
// installed one (root owns that one too, yet it is the package's).
bool usersOwn(const QString &dir)
{
    return !QFileInfo::exists(dir + QLatin1String(InstalledMark)) && ownerOf(dir, true) == me();
}

// The user's own folder, there to be written.
bool makeUserFolder(const QString &user)
{
    return QDir().mkpath(user) && ownerOf(user, true) == me() && CanCreateIn(user);
}

// The text files stay where they are; what the program makes goes to the
// user's own folder.
void makeInUserFolder(TextFolderChoice &choice, const QString &user)
{
    choice.workFolder = user;
    if (makeUserFolder(user))
        choice.notice = TextFolderChoice::MadeInOwnFolder;
    else
        choice.problem = user;
}

// Copies the program folder's shipped files the user lacks. Only regular
// files of the program folder's owner (or root) are copied, never what a
// link there points to, and never over anything the user has.
void seed(TextFolderChoice &choice, const QString &program, const QString &user)
{
    const uint programOwner = ownerOf(program, true);
    for (const char *name : {"setcom.ini", "FRH10.ini", "debug.ini"}) {
        const QString mine = user + QLatin1String(name);
        const QString shipped = program + QLatin1String(name);
        const QFileInfo there(mine);
        if (there.exists() || there.isSymLink())
            continue;
        const QFileInfo source(shipped);
        const uint owner = ownerOf(shipped, false);
        if (!source.isFile() || source.isSymLink()
            || (owner != 0 && owner != programOwner && owner != me()))
            continue;
        const auto bytes = ReadRegularFile(shipped, 1 << 20);
        QFile file;
        if (!bytes || !CreateNewFile(file, mine, OwnerOnly, nullptr)
            || file.write(*bytes) != bytes->size() || !file.flush()) {
            if (choice.problem.isEmpty())
                choice.problem = mine;
        }
    }
}

} // namespace

QString PerUserFolder()
{
    return FolderPath(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)
                         + QStringLiteral("/qml47210"));
}

TextFolderChoice ChooseTextFolder(const QString &programDir, const QString &named,
                                  const QString &userFolder)
{
    TextFolderChoice choice;
    const QString program = FolderPath(programDir);
    const QString user = FolderPath(userFolder);
    if (!named.isEmpty()) {
        choice.folder = choice.workFolder = FolderPath(named);
        if (!QFileInfo(choice.folder).isDir())
            choice.problem = choice.folder;
        else if (!CanCreateIn(choice.folder))
            makeInUserFolder(choice, user);
        return choice;
    }
    if (usersOwn(program)) {
        choice.folder = choice.workFolder = program;
        // Closed to new files: setcom.ini is still saved where it is.
        if (!CanCreateIn(program))
            makeInUserFolder(choice, user);
        return choice;
    }
    if (!makeUserFolder(user)) {
        // Nowhere to keep anything: read what the program folder has, write nothing.
        choice.folder = program;
        choice.workFolder = user;
        choice.problem = user;
        return choice;
    }
    choice.folder = choice.workFolder = user;
    choice.perUser = true;
    choice.notice = TextFolderChoice::FilesInOwnFolder;
    seed(choice, program, user);
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
