#pragma once
// What the site book's files share: its connection and the SQL both
// databases take.
#include "records/SiteBook.h"

#include <QSqlDatabase>
#include <QSqlQuery>

struct SiteBook::Private {
    QString connection; // Qt SQL's name for this book's connection
    bool open = false;
    bool forWriting = false;
    bool writable = false;
    bool server = false;
    QString readOnlyReason; // why entries go pending: a newer schema

    QSqlDatabase db() const { return QSqlDatabase::database(connection, false); }
    // The driver's words for what went wrong last.
    static QString errorOf(const QSqlQuery &q);
    static QString errorOf(const QSqlDatabase &db);
};

namespace SiteBookSql {
// Inserts `entry` unless one of its id is there: 1 inserted, 0 there
// already, -1 failed (the reason in `error`). Inside the caller's transaction.
int insert(QSqlDatabase &db, const SiteBookEntry &entry, QString *error);
// BEGIN IMMEDIATE on SQLite: a deferred one that reads first fails under
// WAL without waiting for a writer.
bool begin(QSqlDatabase &db, bool server, QString *error);
bool commit(QSqlDatabase &db, QString *error);
void rollback(QSqlDatabase &db);
} // namespace SiteBookSql

// The pending file's complete lines, taken under its lock; the caller puts
// each in, and what did not go in is written back.
class PendingFile {
public:
    explicit PendingFile(const QString &path) : m_path(path) {}
    ~PendingFile();
    // False with the reason; true with no lines when there is no file.
    bool take(QString *reason);
    QList<QByteArray> lines() const { return m_lines; }
    // Keeps `kept` lines (and a half-written last line) and lets go of the lock.
    bool keepOnly(const QList<QByteArray> &kept, QString *reason);

private:
    QString m_path;
    int m_fd = -1;
    QList<QByteArray> m_lines;
    QByteArray m_partial;
};
