// Entries that could not go into the book wait in a file of JSON lines
// beside the default book: appended under a lock and synced, moved in by the
// next run that opens the book, each once, and never dropped.
#include "records/SiteBookMessages.h"
#include "records/SiteBookPrivate.h"

#include <QJsonDocument>
#include <QFile>

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

// The file made new, or this user's own regular file that is there; never
// through a link.
int openPending(const QString &path, bool create, QString *reason)
{
    const QByteArray name = QFile::encodeName(path);
    int fd = create ? ::open(name.constData(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600) : -1;
    if (fd < 0 && (!create || errno == EEXIST))
        fd = ::open(name.constData(), O_RDWR | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        if (errno != ENOENT || create)
            *reason = SiteBookText(SiteBookMessages::PendingNotOwn) + QStringLiteral(": ") + path + QStringLiteral(" (")
                + systemError() + QLatin1Char(')');
        return -1;
    }
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != geteuid() || st.st_nlink != 1) {
        ::close(fd);
        *reason = SiteBookText(SiteBookMessages::PendingNotOwn) + QStringLiteral(": ") + path;
        return -1;
    }
    if (flock(fd, LOCK_EX) != 0) {
        *reason = systemError();
        ::close(fd);
        return -1;
    }
    return fd;
}

bool writeAll(int fd, const QByteArray &bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
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
    const bool ok = writeAll(fd, line) && fsync(fd) == 0;
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
    // Written over the lines moved in, in place, under the same lock: an
    // appender waiting for it appends to this file, not a replaced one.
    const bool ok = pwrite(m_fd, bytes.constData(), size_t(bytes.size()), 0) == ssize_t(bytes.size())
        && ftruncate(m_fd, off_t(bytes.size())) == 0 && fsync(m_fd) == 0;
    if (!ok)
        *reason = systemError();
    ::close(m_fd);
    m_fd = -1;
    return ok;
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
    bool bookAway = false;
    QSqlDatabase db = d->db();
    for (const QByteArray &line : file.lines()) {
        const auto entry = SiteBookEntry::fromJson(QJsonDocument::fromJson(line).object());
        // A line that is no entry stays, for people to look at.
        if (!entry || bookAway) {
            kept << line;
            continue;
        }
        QString error;
        const bool in = SiteBookSql::begin(db, d->server, &error) && SiteBookSql::insert(db, *entry, &error) >= 0
            && SiteBookSql::commit(db, &error);
        if (in) {
            ++moved;
        } else {
            SiteBookSql::rollback(db);
            *reason = error;
            bookAway = true;
            kept << line;
        }
    }
    if (file.lines().isEmpty())
        return 0;
    if (!file.keepOnly(kept, reason))
        return -1;
    return moved;
}
