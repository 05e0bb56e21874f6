#pragma once
// Where the site book is: a file of SQLite's (by default sitebook.sqlite
// beside backups/), a team's PostgreSQL server, or nowhere ("off"). Entries
// that cannot go in wait in sitebook-pending.jsonl beside the default book.

#include <QString>
#include <optional>

struct SiteBookPlace {
    enum Kind { Off, File, Server };
    Kind kind = Off;
    QString path;        // File: the database file
    QString pendingPath; // where entries wait; empty when there is no folder for it
    // Server: postgresql://[user@]host[:port]/database[?host=/socket/folder]
    QString host, user, database;
    int port = 0;
    QString password; // only from the environment's URL; never shown
    // Server: the environment named one that cannot be used; entries wait
    // pending, saying this, until it is put right.
    QString problem;
    // For messages: the path, or the URL without any password.
    QString shown() const;
};

// The place `argument` (--site-book, empty when not given) or else
// `environment` (QML47210_SITE_BOOK) names; by default the file in
// `workFolder`, the folder that holds backups/ (empty: no book). Nothing,
// with the reason, for an argument whose URL cannot be used or holds a
// password, where `ps` would show it; an environment's URL that cannot be
// used is a place with that `problem`.
std::optional<SiteBookPlace> SiteBookPlaceFor(const QString &argument, const QString &environment,
                                              const QString &workFolder, QString *error);

constexpr const char *SiteBookVariable = "QML47210_SITE_BOOK";
constexpr const char *SiteBookFileName = "sitebook.sqlite";
constexpr const char *SiteBookPendingName = "sitebook-pending.jsonl";
