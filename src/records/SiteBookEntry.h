#pragma once
// One entry of the site book: what was done to which unit, when and by whom,
// what it held before and after, the outcome as the program said it, and the
// backup whole, so that the book alone can put a unit back.

#include "protocol/UnitConfig.h"

#include <QDateTime>
#include <QJsonObject>
#include <QString>
#include <optional>

struct SiteBookEntry {
    QString id;          // a UUID, without braces
    QDateTime time;      // UTC
    QString user, host, programVersion;
    QString action;      // the command's name: "read", "reg set", "network", "window write", ...
    QString site, planPath, planSha256, unit; // a network plan's, when there is one
    QString port, device, adapter; // adapter: the device's stable name
    QString version;     // the unit's version text, when it was read
    QJsonObject before, after; // settings as read: "band" = "2", "register 05" = "3A"
    // The outcome as a word ("verified", "differs", "written", "may have been
    // written", "not written", "read", "saved", "failed") and as the program
    // said it to the operator (each difference, the reason).
    QString result, detail;
    int exitCode = 0;
    QString backupPath, backupSha256, backupText;
    QString source; // taken in from an older file: that file's SHA-256

    // A new entry: id, time, user, host and program version filled in.
    static SiteBookEntry begin(const QString &action);
    // The backup kept with the entry: its path, its text and that text's SHA-256.
    void setBackup(const QString &path, const QByteArray &text);

    QJsonObject toJson() const;
    // Nothing when `o` lacks an id or a time.
    static std::optional<SiteBookEntry> fromJson(const QJsonObject &o);
};

// A configuration as an entry's before or after: each record field read and
// each register read, by the names files give them.
QJsonObject SettingsOf(const UnitConfig &config);

// The program's version, as entries carry it.
QString ProgramVersion();

// The SHA-256 of `bytes`, in lower-case hexadecimal.
QString Sha256Hex(const QByteArray &bytes);
