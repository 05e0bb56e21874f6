// The one program-wide state and the program folder's path.
#include "core/AppState.h"

#include <QCoreApplication>
#include <QDir>

AppState &app()
{
    static AppState state;
    return state;
}

QString FolderPath(QString dir)
{
    dir = QDir::toNativeSeparators(dir);
    if (!dir.endsWith(QDir::separator()))
        dir += QDir::separator();
    return dir;
}

QString ProgramDir() { return FolderPath(QCoreApplication::applicationDirPath()); }
