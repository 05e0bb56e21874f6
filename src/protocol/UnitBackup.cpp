// Backups: what the unit held, kept as a new file that reads back before
// anything is written to the unit.
#include "protocol/TransferSteps.h"

#include "config/FileSafety.h"
#include "core/AppState.h"
#include "serial/modLog.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>

using namespace ConfigMessages;

QString BackupPath(const QString &backupDir, const QString &port, const QDateTime &when,
                   int attempt)
{
    // "COM1 (/dev/ttyUSB0)" names a backup by its first word.
    const QString safePort = FileNamePart(port.section(QLatin1Char(' '), 0, 0));
    return QDir(backupDir).filePath(
        QStringLiteral("backup-%1-%2-%3-%4.ini")
            .arg(when.toString(QStringLiteral("yyyyMMdd-HHmmss")), safePort)
            .arg(QCoreApplication::applicationPid())
            .arg(attempt, 4, 16, QLatin1Char('0')));
}

namespace Transfer {

std::optional<QString> WriteBackup(const UnitConfig &config, const QString &backupDir,
                                   const QString &port, QString *error)
{
    // A folder of this user's own: anything else standing there is refused.
    if (!MakeOwnFolder(backupDir, error))
        return std::nullopt;
    const QDateTime now = QDateTime::currentDateTime();
    const QString text = WriteConfigText(config, port, now);
    // Made new, never over a file: a name in use (an earlier backup of this
    // process in the same second) takes the next.
    for (int attempt = 0; attempt < BackupAttempts; ++attempt) {
        const QString backup = BackupPath(backupDir, port, now, attempt);
        bool taken = false;
        if (!WriteConfigFile(backup, text, WriteMode::NewInOwnFolder, error, &taken)) {
            if (taken)
                continue; // a name made a moment ago: another one
            return std::nullopt;
        }
        ConfigFileError readError;
        const auto back = ReadConfigFile(backup, &readError);
        if (!back || !(*back == config)) {
            QFile::remove(backup);
            if (error)
                *error = app().message(BackupUnreadable)
                    + (back ? QString() : QStringLiteral(": ") + readError.describe());
            return std::nullopt;
        }
        if (!SyncToDisk(backup, error)) {
            QFile::remove(backup);
            return std::nullopt;
        }
        return backup;
    }
    return std::nullopt;
}

} // namespace Transfer
