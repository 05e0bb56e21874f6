#pragma once
// The site book: every read, write and set-up of every unit, kept in a
// database through Qt SQL (SQLite, or PostgreSQL for a team). An entry is
// written once its outcome is known, each in a transaction of its own; when
// the book is away it waits in the pending file and goes in, once, with the
// next run that opens the book. Never a widget here.

#include "records/SiteBookEntry.h"
#include "records/SiteBookPlace.h"

#include <QDate>
#include <QList>
#include <QString>
#include <optional>

class SiteBook {
public:
    // The schema this program writes; a book with a newer one is only read.
    static constexpr int SchemaVersion = 1;

    explicit SiteBook(SiteBookPlace place);
    ~SiteBook();
    SiteBook(const SiteBook &) = delete;
    SiteBook &operator=(const SiteBook &) = delete;

    const SiteBookPlace &place() const { return m_place; }
    // Opens the book, made on first use and its schema brought forward, and
    // moves pending entries in. False with the reason; `forWriting` false
    // opens an existing book to read it only.
    bool open(QString *reason = nullptr, bool forWriting = true);
    bool isOpen() const;

    struct Recorded {
        bool recorded = false;  // in the book now (or already was: `duplicate`)
        bool duplicate = false; // an entry of that id was there
        QString reason;         // why not
        QString pendingFile;    // where it waits instead; empty when it could not be kept
    };
    // Puts `entry` in the book, opening it when needed; when it cannot, keeps
    // it pending and says why.
    Recorded record(const SiteBookEntry &entry);

    // Entries newest first. `text` matches site, unit, adapter, version,
    // user and result as typed (% and _ too); a NUL in it is refused.
    struct Query {
        QString text, site, unit, device;
        QDate since, until; // UTC days, both included
        int limit = 1000;
        // The next page: entries older than this one.
        QDateTime olderThan;
        QString olderThanId;
    };
    // Without before, after and the backup's text unless `whole`.
    std::optional<QList<SiteBookEntry>> entries(const Query &query, QString *error,
                                               bool whole = false);
    // One entry whole; nothing with the reason, or with an empty reason when
    // no entry has that id.
    std::optional<SiteBookEntry> entry(const QString &id, QString *error);
    // The number of entries in the book; -1 when it cannot be read.
    qint64 count();

    // Pending entries moved in now: how many went in; -1 when none could.
    int movePendingIn(QString *reason = nullptr);

    struct Private; // shared by the files that make up the book

private:
    SiteBookPlace m_place;
    Private *d;
};

// The entries waiting in the pending file, read under its lock and left
// there; nothing with the reason when it cannot be read.
std::optional<QList<SiteBookEntry>> PendingEntries(const QString &pendingPath, QString *reason);

// Appends `entry` to the pending file (made new, no link followed, locked
// around the append, synced). False with the reason.
bool KeepPending(const QString &pendingPath, const SiteBookEntry &entry, QString *reason);
