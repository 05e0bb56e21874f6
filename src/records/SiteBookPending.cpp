// Entries that could not go into the book wait in a file of JSON lines
// beside the default book: appended under a lock and synced, moved in by the
// next run that opens the book, each once, and never dropped.
#include "config/FileSafety.h"
#include "records/SiteBookMessages.h"
#include "records/SiteBookPrivate.h"

#include "serial/ReplyTimer.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QThread>

#ifndef Q_OS_WIN
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

QString systemError()
{
    return QString::fromLocal8Bit(strerror(errno));
}


// Another run may hold the lock while it moves entries into a slow book:
// waited for up to this long, never for ever.
constexpr int LockPatienceMs = 30000;

// The file made new, or this user's own regular file that is there; never
// through a link. Locked; a file a mover replaced meanwhile is opened again.
int openPending(const QString &path, bool create, QString *reason)
{
    const QByteArray name = QFile::encodeName(path);
    QElapsedTimer waited;
    waited.start();
    for (;;) {
        bool made = false;
        int fd = create ? ::open(name.constData(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600) : -1;
        if (fd >= 0)
            made = true;
        else if (!create || errno == EEXIST)
            fd = ::open(name.constData(), O_RDWR | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0) {
            if (errno != ENOENT || create)
                *reason = SiteBookText(SiteBookMessages::PendingNotOwn) + QStringLiteral(": ") + path
                    + QStringLiteral(" (") + systemError() + QLatin1Char(')');
            return -1;
        }
        if (made)
            SyncToDisk(path, nullptr);
        struct stat st;
        if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != geteuid() || st.st_nlink != 1) {
            ::close(fd);
            *reason = SiteBookText(SiteBookMessages::PendingNotOwn) + QStringLiteral(": ") + path;
            return -1;
        }
        while (flock(fd, LOCK_EX | LOCK_NB) != 0) {
            if ((errno != EWOULDBLOCK && errno != EINTR) || waited.elapsed() > TimeScale::scaled(LockPatienceMs)) {
                *reason = path + QStringLiteral(": ") + systemError();
                ::close(fd);
                return -1;
            }
            QThread::msleep(10);
        }
        // Replaced by a mover while this run waited: the name holds another file now.
        struct stat now;
        if (fstat(fd, &now) == 0 && now.st_nlink > 0)
            return fd;
        ::close(fd);
    }
}


} // namespace

bool KeepPending(const QString &pendingPath, const SiteBookEntry &entry, QString *reason)
{
    const int fd = openPending(pendingPath, true, reason);
    if (fd < 0)
        return false;
    QByteArray line = QJsonDocument(entry.toJson()).toJson(QJsonDocument::Compact) + '\n';
    // A line a crash left half written stays apart from this one.
    const off_t end = lseek(fd, 0, SEEK_END);
    char last = '\n';
    if (end > 0 && pread(fd, &last, 1, end - 1) == 1 && last != '\n')
        line.prepend('\n');
    const bool ok = WriteAllTo(fd, line) && fsync(fd) == 0;
    if (!ok)
        *reason = systemError();
    ::close(fd); // and the lock with it
    return ok;
}

PendingFile::~PendingFile()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool PendingFile::take(QString *reason)
{
    m_fd = openPending(m_path, false, reason);
    if (m_fd < 0)
        return reason->isEmpty(); // none there: nothing pending
    QByteArray all;
    char buffer[65536];
    for (ssize_t n; (n = ::read(m_fd, buffer, sizeof buffer)) != 0;) {
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            *reason = systemError();
            return false;
        }
        all.append(buffer, n);
    }
    const qsizetype lastEnd = all.lastIndexOf('\n') + 1;
    m_partial = all.mid(lastEnd);
    for (const QByteArray &line : all.left(lastEnd).split('\n'))
        if (!line.trimmed().isEmpty())
            m_lines << line;
    return true;
}

bool PendingFile::keepOnly(const QList<QByteArray> &kept, QString *reason)
{
    if (m_fd < 0)
        return true;
    QByteArray bytes;
    for (const QByteArray &line : kept)
        bytes += line + '\n';
    bytes += m_partial;
    bool ok;
    if (bytes.isEmpty()) {
        ok = ftruncate(m_fd, 0) == 0 && fsync(m_fd) == 0;
    } else {
        // What stays goes into a new file that takes the name whole, so a
        // crash leaves either file complete; an appender waiting for the
        // lock notices the old one is gone and opens the new one.
        const QString fresh = m_path + QStringLiteral(".new-") + QString::number(getpid());
        const QByteArray freshName = QFile::encodeName(fresh);
        ::unlink(freshName.constData());
        const int fd = ::open(freshName.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        ok = fd >= 0 && WriteAllTo(fd, bytes) && fsync(fd) == 0;
        if (fd >= 0)
            ::close(fd);
        ok = ok && ::rename(freshName.constData(), QFile::encodeName(m_path).constData()) == 0;
        if (ok)
            SyncToDisk(m_path, nullptr);
        else
            ::unlink(freshName.constData());
    }
    if (!ok)
        *reason = systemError();
    ::close(m_fd);
    m_fd = -1;
    return ok;
}

std::optional<QList<SiteBookEntry>> PendingEntries(const QString &pendingPath, QString *reason)
{
    QList<SiteBookEntry> out;
    if (pendingPath.isEmpty())
        return out;
    PendingFile file(pendingPath);
    if (!file.take(reason))
        return std::nullopt;
    for (const QByteArray &line : file.lines())
        if (const auto entry = SiteBookEntry::fromJson(QJsonDocument::fromJson(line).object()))
            out << *entry;
    return out;
}

int SiteBook::movePendingIn(QString *reason)
{
    QString why;
    if (!reason)
        reason = &why;
    if (m_place.pendingPath.isEmpty() || !d->open || !d->writable)
        return 0;
    PendingFile file(m_place.pendingPath);
    if (!file.take(reason))
        return -1;
    QList<QByteArray> kept;
    int moved = 0;
    // One line the book refuses stays and the next are tried; several in a
    // row mean the book went away, and the rest wait for another run.
    int refusedInARow = 0;
    constexpr int BookAway = 3;
    QSqlDatabase db = d->db();
    for (const QByteArray &line : file.lines()) {
        const auto entry = SiteBookEntry::fromJson(QJsonDocument::fromJson(line).object());
        // A line that is no entry stays, for people to look at.
        if (!entry || refusedInARow >= BookAway) {
            kept << line;
            continue;
        }
        QString error;
        const bool in = SiteBookSql::begin(db, d->server, &error) && SiteBookSql::insert(db, *entry, &error) >= 0
            && SiteBookSql::commit(db, &error);
        if (in) {
            ++moved;
            refusedInARow = 0;
        } else {
            SiteBookSql::rollback(db);
            *reason = error;
            ++refusedInARow;
            kept << line;
        }
    }
    if (file.lines().isEmpty())
        return 0;
    if (!file.keepOnly(kept, reason))
        return -1;
    return moved;
}
