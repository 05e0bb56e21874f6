// A network report's files: kept beside the backups, the newest found
// again, and exported where an operator asks; each on the disk, its name in
// its folder too, before it is said to be written.
#include "protocol/NetworkReport.h"

#include "config/FileSafety.h"
#include "protocol/UnitConfig.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

std::optional<QString> KeepNetworkReport(const NetworkReport &report, const QString &folder,
                                         QString *error)
{
    if (!MakeOwnFolder(folder, error))
        return std::nullopt;
    const QString stem = QStringLiteral("network-%1-%2")
                             .arg(report.finished.toString(QStringLiteral("yyyyMMdd-HHmmss")))
                             .arg(QCoreApplication::applicationPid());
    for (int attempt = 0; attempt < 64; ++attempt) {
        const QString base = QDir(folder).filePath(
            attempt ? stem + QLatin1Char('-') + QString::number(attempt) : stem);
        bool taken = false;
        if (!WriteConfigFile(base + QStringLiteral(".json"), QString::fromUtf8(report.toJson()),
                             WriteMode::NewInOwnFolder, error, &taken)) {
            if (taken)
                continue;
            return std::nullopt;
        }
        if (!WriteConfigFile(base + QStringLiteral(".csv"), QString::fromUtf8(report.toCsv()),
                             WriteMode::NewInOwnFolder, error)) {
            QFile::remove(base + QStringLiteral(".json")); // both or neither
            return std::nullopt;
        }
        if (!SyncToDisk(base + QStringLiteral(".json"), error) ||
            !SyncToDisk(base + QStringLiteral(".csv"), error)) {
            QFile::remove(base + QStringLiteral(".json"));
            QFile::remove(base + QStringLiteral(".csv"));
            return std::nullopt;
        }
        return base + QStringLiteral(".json");
    }
    if (error)
        *error = QStringLiteral("network-*.json");
    return std::nullopt;
}

std::optional<NetworkReport> LastNetworkReport(const QString &folder, QString *path,
                                               const QString &planSha256)
{
    const QFileInfoList found =
        QDir(folder).entryInfoList({QStringLiteral("network-*.json")}, QDir::Files, QDir::Time);
    for (const QFileInfo &f : found) {
        // Reports are small; something else by that name is none of ours.
        if (f.isSymLink() || f.size() > 16 * 1024 * 1024)
            continue;
        QFile file(f.absoluteFilePath());
        if (!file.open(QIODevice::ReadOnly))
            continue;
        auto report = NetworkReport::fromJson(file.readAll());
        if (report && (planSha256.isEmpty() || report->planSha256 == planSha256)) {
            if (path)
                *path = f.absoluteFilePath();
            return report;
        }
    }
    return std::nullopt;
}

bool ExportNetworkReport(const NetworkReport &report, const QString &path, QString *error, WriteMode mode,
                         bool *taken)
{
    const bool csv = path.endsWith(QLatin1String(".csv"), Qt::CaseInsensitive);
    return WriteConfigFile(path, QString::fromUtf8(csv ? report.toCsv() : report.toJson()), mode, error,
                           taken) &&
           SyncToDisk(path, error);
}
