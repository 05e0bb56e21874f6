#include "core/AppState.h"

#include <QCoreApplication>
#include <QDir>

AppState &app()
{
    static AppState state;
    return state;
}

QString ProgramDir()
{
    QString dir = QDir::toNativeSeparators(QCoreApplication::applicationDirPath());
    const QChar sep = QDir::separator();
    if (!dir.endsWith(sep))
        dir += sep;
    return dir;
}
