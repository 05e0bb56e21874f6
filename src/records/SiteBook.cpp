// The site book's database: opened only where nothing another user placed
// can stand in for it, made on first use, its schema brought forward, and
// each entry in one transaction of its own.
#include "records/SiteBookMessages.h"
#include "records/SiteBookPrivate.h"

#include "config/FileSafety.h"

#include <QFile>
#include <QFileInfo>
#include <QSqlError>
#include "serial/ReplyTimer.h"

#include <QUuid>

#ifndef Q_OS_WIN
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

// Each schema version's statements, oldest first: a book is brought forward
// through every one it lacks, never back.
QStringList migration(int toVersion, bool server)
{
    if (toVersion != 1)
        return {};
    const QString integer = server ? QStringLiteral("bigint") : QStringLiteral("INTEGER");
    return {
        // What a list and a filter read, small; the large texts apart, so
        // that a search never pages through backups.
        QStringLiteral("CREATE TABLE site_book_entries (id TEXT PRIMARY KEY, time TEXT NOT NULL, "
                       "user_name TEXT NOT NULL, host TEXT NOT NULL, program TEXT NOT NULL, "
                       "action TEXT NOT NULL, site TEXT NOT NULL, plan TEXT NOT NULL, "
                       "plan_sha256 TEXT NOT NULL, unit TEXT NOT NULL, port TEXT NOT NULL, "
                       "device TEXT NOT NULL, adapter TEXT NOT NULL, version TEXT NOT NULL, "
                       "result TEXT NOT NULL, exit_code %1 NOT NULL, backup TEXT NOT NULL, "
                       "backup_sha256 TEXT NOT NULL, source TEXT NOT NULL, search TEXT NOT NULL)")
            .arg(integer),
        QStringLiteral("CREATE TABLE site_book_details (id TEXT PRIMARY KEY REFERENCES "
                       "site_book_entries(id), detail TEXT NOT NULL, before TEXT NOT NULL, "
                       "after TEXT NOT NULL, backup_text TEXT NOT NULL)"),
        // Newest first, and a search through every entry, from the index alone.
        QStringLiteral("CREATE INDEX site_book_entries_time ON site_book_entries (time, id, search)"),
    };
}

QString sqliteFileProblem(const QString &path, bool forWriting)
{
    using namespace SiteBookMessages;
    const Entry at = LookAt(path);
    if (at.kind == Entry::Link)
        return SiteBookText(LinkInPlace) + QStringLiteral(": ") + path;
    if (at.kind == Entry::Folder)
        return SiteBookText(IsAFolder) + QStringLiteral(": ") + path;
    if (at.kind == Entry::Other)
        return SiteBookText(NotASiteBook) + QStringLiteral(": ") + path;
    // SQLite makes its -wal and -shm files beside the book: only where
    // nobody else can place a link under those names.
    if (CheckedFolder(QFileInfo(path).absolutePath()).isEmpty())
        return SiteBookText(FolderNotOwn) + QStringLiteral(": ") + QFileInfo(path).absolutePath();
    if (at.kind == Entry::Absent)
        return forWriting ? QString() : SiteBookText(NoBookYet) + QStringLiteral(": ") + path;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return SiteBookText(CannotOpen) + QStringLiteral(": ") + f.errorString();
    const QByteArray head = f.read(16);
    if (!head.isEmpty() && head != QByteArray("SQLite format 3\0", 16))
        return SiteBookText(NotASiteBook) + QStringLiteral(": ") + path;
    return QString();
}

#ifndef Q_OS_WIN
// The book made new, the owner's alone; never through a link.
bool makeBookFile(const QString &path, QString *reason)
{
    const int fd = ::open(QFile::encodeName(path).constData(),
                          O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0 && errno != EEXIST) {
        *reason = SiteBookText(SiteBookMessages::CannotOpen) + QStringLiteral(": ")
            + QString::fromLocal8Bit(strerror(errno));
        return false;
    }
    if (fd >= 0)
        ::close(fd);
    return true;
}
#endif

// Held by whoever makes or brings forward a team's book, until its
// transaction ends: the first units of a network run start at once.
const QString MakersLock = QStringLiteral("SELECT pg_advisory_xact_lock(47210)");

// A file that is no database is no site book; anything else (a full disk,
// an I/O error) is a book that cannot be opened now.
QString firstReadProblem(const QSqlQuery &q)
{
    constexpr int NotADatabase = 26; // SQLITE_NOTADB
    return SiteBookText(q.lastError().nativeErrorCode().toInt() == NotADatabase ? SiteBookMessages::NotASiteBook
                                                                                   : SiteBookMessages::CannotOpen)
        + QStringLiteral(" (") + SiteBook::Private::errorOf(q) + QLatin1Char(')');
}

QPair<qulonglong, qulonglong> fileIdentity(const QString &path)
{
#ifndef Q_OS_WIN
    struct stat st;
    if (!path.isEmpty() && ::stat(QFile::encodeName(path).constData(), &st) == 0)
        return {qulonglong(st.st_dev), qulonglong(st.st_ino)};
#endif
    return {0, 0};
}

bool exec(QSqlDatabase &db, const QString &sql, QString *error)
{
    QSqlQuery q(db);
    if (q.exec(sql))
        return true;
    *error = SiteBook::Private::errorOf(q);
    return false;
}

} // namespace

QString SiteBook::Private::errorOf(const QSqlQuery &q)
{
    const QSqlError e = q.lastError();
    return e.databaseText().isEmpty() ? e.text() : e.databaseText();
}

QString SiteBook::Private::errorOf(const QSqlDatabase &db)
{
    const QSqlError e = db.lastError();
    return (e.databaseText().isEmpty() ? e.text() : e.databaseText()).trimmed();
}

SiteBook::SiteBook(SiteBookPlace place) : m_place(std::move(place)), d(new Private)
{
    d->connection = QStringLiteral("sitebook-") + QUuid::createUuid().toString(QUuid::WithoutBraces);
}

SiteBook::~SiteBook()
{
    if (QSqlDatabase::contains(d->connection)) {
        QSqlDatabase::database(d->connection, false).close();
        QSqlDatabase::removeDatabase(d->connection);
    }
    delete d;
}

bool SiteBook::isOpen() const
{
    return d->open;
}

namespace {

// The schema's version, made or brought forward when `forWriting`; -1 with
// the reason when the database is no site book.
int schemaOf(QSqlDatabase &db, bool server, bool forWriting, QString *reason)
{
    QString error;
    QSqlQuery q(db);
    int version = 0;
    bool hasTables = false;
    if (server) {
        // Looked at first: a role that may only record cannot create tables,
        // not even one that is there.
        if (q.exec(QStringLiteral("SELECT version FROM site_book_schema"))) {
            if (q.next())
                version = q.value(0).toInt();
        } else if (!forWriting
                   || !(SiteBookSql::begin(db, server, &error) && exec(db, MakersLock, &error)
                        && exec(db, QStringLiteral("CREATE TABLE IF NOT EXISTS site_book_schema (version integer NOT NULL)"),
                                &error)
                        && SiteBookSql::commit(db, &error))) {
            SiteBookSql::rollback(db);
            *reason = forWriting ? error : SiteBookText(SiteBookMessages::NoBookYet);
            return -1;
        }
        hasTables = version > 0;
    } else {
        // The tables first: a first writer makes them and stamps the version
        // in one transaction, so a version read after them is never older.
        if (!q.exec(QStringLiteral("SELECT count(*) FROM sqlite_master"))) {
            *reason = firstReadProblem(q);
            return -1;
        }
        hasTables = q.next() && q.value(0).toInt() > 0;
        if (q.exec(QStringLiteral("PRAGMA user_version")) && q.next())
            version = q.value(0).toInt();
        // Another program's database is never changed into a book.
        if (hasTables && version == 0) {
            *reason = SiteBookText(SiteBookMessages::NotASiteBook);
            return -1;
        }
    }
    // A read left open holds its lock: a writer waiting for it and this
    // connection waiting for that writer would fail at once, not wait.
    q.finish();
    if (!forWriting || version >= SiteBook::SchemaVersion)
        return version;
    // Two entries' details to a page rather than one: a smaller book. Only a
    // new, empty file takes it.
    if (!server && !hasTables)
        exec(db, QStringLiteral("PRAGMA page_size = 8192"), &error);
    if (!SiteBookSql::begin(db, server, &error)) {
        *reason = error;
        return -1;
    }
    // Two first users at once: the second finds the schema made.
    if (server) {
        exec(db, MakersLock, &error);
        if (q.exec(QStringLiteral("SELECT version FROM site_book_schema")) && q.next())
            version = q.value(0).toInt();
    } else if (q.exec(QStringLiteral("PRAGMA user_version")) && q.next()) {
        version = q.value(0).toInt();
    }
    for (int v = version + 1; v <= SiteBook::SchemaVersion; ++v)
        for (const QString &statement : migration(v, server))
            if (!exec(db, statement, &error)) {
                SiteBookSql::rollback(db);
                *reason = error;
                return -1;
            }
    const bool stamped = server ? exec(db, QStringLiteral("DELETE FROM site_book_schema"), &error)
                                      && exec(db, QStringLiteral("INSERT INTO site_book_schema VALUES (%1)")
                                                      .arg(SiteBook::SchemaVersion), &error)
                                : exec(db, QStringLiteral("PRAGMA user_version = %1").arg(SiteBook::SchemaVersion),
                                       &error);
    if (!stamped || !SiteBookSql::commit(db, &error)) {
        SiteBookSql::rollback(db);
        *reason = error;
        return -1;
    }
    return SiteBook::SchemaVersion;
}

} // namespace

bool SiteBook::open(QString *reason, bool forWriting)
{
    QString why;
    if (!reason)
        reason = &why;
    if (d->open)
        return true;
    if (m_place.kind == SiteBookPlace::Off) {
        *reason = SiteBookText(SiteBookMessages::Off);
        return false;
    }
    if (!m_place.problem.isEmpty()) {
        *reason = m_place.problem;
        return false;
    }
    d->server = m_place.kind == SiteBookPlace::Server;
    if (QSqlDatabase::contains(d->connection)) // a server's connection lost earlier
        QSqlDatabase::removeDatabase(d->connection);
    QSqlDatabase db;
    if (d->server) {
        db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), d->connection);
        db.setHostName(m_place.host);
        if (m_place.port)
            db.setPort(m_place.port);
        db.setUserName(m_place.user);
        // Otherwise libpq takes PGPASSWORD or ~/.pgpass itself.
        if (!m_place.password.isEmpty())
            db.setPassword(m_place.password);
        db.setDatabaseName(m_place.database);
        // A server that stops answering mid-entry is given up on too, not
        // only one that never answers: the entry then waits in the pending file.
        db.setConnectOptions(QStringLiteral("connect_timeout=5;application_name=qmlsetup;keepalives_idle=5;"
                                            "keepalives_interval=2;keepalives_count=3;tcp_user_timeout=10000;"
                                            "options='-c statement_timeout=10000 -c lock_timeout=5000'"));
    } else {
        if (const QString problem = sqliteFileProblem(m_place.path, forWriting); !problem.isEmpty()) {
            *reason = problem;
            return false;
        }
#ifndef Q_OS_WIN
        if (forWriting && !makeBookFile(m_place.path, reason))
            return false;
#endif
        db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), d->connection);
        db.setDatabaseName(m_place.path);
        // Writers wait their turn rather than fail: 64 units recording at once.
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(TimeScale::scaled(20000)));
    }
    if (!db.isValid()) {
        *reason = SiteBookText(SiteBookMessages::CannotOpen) + QStringLiteral(": ") + Private::errorOf(db);
        return false;
    }
    if (!db.open()) {
        *reason = SiteBookText(SiteBookMessages::CannotOpen) + QStringLiteral(": ") + Private::errorOf(db);
        return false;
    }
    QString error;
    if (!d->server) {
        // The journal mode asks nothing of a book that is there: a file that
        // is not one fails on the first read, below, unchanged.
        QSqlQuery q(db);
        if (!q.exec(QStringLiteral("PRAGMA journal_mode")) || !q.next()) {
            *reason = firstReadProblem(q);
            db.close();
            return false;
        }
    }
    const int version = schemaOf(db, d->server, forWriting, reason);
    if (version < 0) {
        db.close();
        return false;
    }
    if (!d->server && version == SchemaVersion) {
        // Many writers at once, and a commit that survives a power cut; a
        // newer program's book is left as it keeps it.
        exec(db, QStringLiteral("PRAGMA journal_mode = WAL"), &error);
        exec(db, QStringLiteral("PRAGMA synchronous = FULL"), &error);
    }
    d->open = true;
    d->forWriting = forWriting;
    d->file = fileIdentity(m_place.path);
    d->writable = version == SchemaVersion;
    if (version > SchemaVersion)
        d->readOnlyReason = SiteBookText(SiteBookMessages::NewerSchema).arg(version).arg(SchemaVersion);
    if (forWriting && d->writable)
        movePendingIn();
    return true;
}

SiteBook::Recorded SiteBook::record(const SiteBookEntry &entry)
{
    Recorded r;
    // Opened to read: made and brought forward now. Moved or replaced since
    // it was opened (a long-running window): the book at its path now.
    if (d->open && (!d->forWriting || (!d->server && fileIdentity(m_place.path) != d->file))) {
        d->db().close();
        d->open = false;
    }
    if (open(&r.reason)) {
        QSqlDatabase db = d->db();
        QString error;
        if (!d->writable) {
            r.reason = d->readOnlyReason;
        } else if (SiteBookSql::begin(db, d->server, &error)) {
            const int inserted = SiteBookSql::insert(db, entry, &error);
            if (inserted >= 0 && SiteBookSql::commit(db, &error)) {
                r.recorded = true;
                r.duplicate = inserted == 0;
                return r;
            }
            SiteBookSql::rollback(db);
            r.reason = SiteBookText(SiteBookMessages::CannotWrite) + QStringLiteral(": ") + error;
        } else {
            r.reason = SiteBookText(SiteBookMessages::CannotWrite) + QStringLiteral(": ") + error;
        }
        // A server gone away: the next entry tries a new connection.
        if (d->server) {
            db.close();
            d->open = false;
        }
    }
    QString kept;
    if (m_place.pendingPath.isEmpty()) {
        r.reason += QStringLiteral("; ") + SiteBookText(SiteBookMessages::CannotOpen);
    } else if (KeepPending(m_place.pendingPath, entry, &kept)) {
        r.pendingFile = m_place.pendingPath;
    } else {
        r.reason += QStringLiteral("; ") + kept;
    }
    return r;
}
