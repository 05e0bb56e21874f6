// The handover document on the disk: whole under its name or not there.
#include "documents/Handover.h"

#include "config/FileSafety.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

bool WriteHandoverFile(const QString &file, const QString &html, bool replace, QString *error, bool *taken)
{
    if (taken)
        *taken = false;
    if (replace)
        return WriteConfigFile(file, html, WriteMode::Replace, error) && SyncToDisk(file, error);
    // Written aside and synced, then renamed into place, never over a file
    // that appeared meanwhile: the name never holds half a document.
    const QString part = QStringLiteral("%1.%2.part").arg(file).arg(QCoreApplication::applicationPid());
    if (!WriteConfigFile(part, html, WriteMode::New, error))
        return false;
    QFile written(part);
    if (!SyncToDisk(part, error) || !written.rename(file)) {
        if (error->isEmpty())
            *error = written.errorString();
        if (taken)
            *taken = QFileInfo::exists(file);
        QFile::remove(part);
        return false;
    }
    return SyncToDisk(file, error);
}
