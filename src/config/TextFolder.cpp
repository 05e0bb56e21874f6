#include "config/TextFolder.h"

#include "core/AppState.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QStandardPaths>

namespace {

// This user may keep the port choice here: its setcom.ini can be written,
// or, where there is none, the folder can.
bool keepsChoices(const QString &dir)
{
    const QFileInfo setcom(dir + QStringLiteral("setcom.ini"));
    if (setcom.exists())
        return setcom.isFile() && setcom.isWritable();
    const QFileInfo folder(dir);
    return folder.isDir() && folder.isWritable();
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
    if (!named.isEmpty()) {
        choice.folder = FolderPath(named);
        if (!QFileInfo(choice.folder).isDir())
            choice.problem = choice.folder;
        return choice;
    }
    if (keepsChoices(program)) {
        choice.folder = program;
        return choice;
    }
    const QString user = FolderPath(userFolder);
    if (!QDir().mkpath(user) || !QFileInfo(user).isWritable()) {
        // Nowhere to keep anything: read what the program folder has.
        choice.folder = program;
        choice.problem = user;
        return choice;
    }
    choice.folder = user;
    choice.perUser = true;
    for (const char *name : {"setcom.ini", "FRH10.ini", "debug.ini"}) {
        const QString mine = user + QLatin1String(name);
        const QString shipped = program + QLatin1String(name);
        if (QFileInfo::exists(mine) || !QFileInfo(shipped).isFile())
            continue;
        if (!QFile::copy(shipped, mine) && choice.problem.isEmpty())
            choice.problem = mine;
        else
            QFile::setPermissions(mine, QFile::ReadOwner | QFile::WriteOwner);
    }
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
