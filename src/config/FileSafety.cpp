// Whose a path is and where it leads: owners, trusted links, folders
// nobody else can change, the installed program's folder.
#include "config/FileSafety.h"

#include "config/FileParts.h"
#include "core/AppState.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace FileParts {

QString bare(QString path)
{
    while (path.size() > 1 && (path.endsWith(QLatin1Char('/')) || path.endsWith(QDir::separator())))
        path.chop(1);
    return path;
}

QString notYours()
{
    return app().message(FolderMessages::NotYourFolder);
}

QString installed()
{
    return app().message(FolderMessages::InstalledFolder);
}

#ifdef Q_OS_UNIX
QByteArray native(const QString &path)
{
    return QFile::encodeName(bare(path));
}

QString reason(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

bool carriesInstalledMark(int dir)
{
    struct stat st{};
    return ::fstatat(dir, InstalledMark, &st, AT_SYMLINK_NOFOLLOW) == 0;
}
#endif

} // namespace FileParts

using namespace FileParts;

namespace {

#ifdef Q_OS_UNIX
QString userName(uid_t uid)
{
    struct passwd entry {};
    struct passwd *found = nullptr;
    char buffer[2048];
    if (::getpwuid_r(uid, &entry, buffer, sizeof buffer, &found) == 0 && found)
        return QString::fromLocal8Bit(entry.pw_name);
    return QString::number(uid);
}

bool lookAt(const QString &path, struct stat &st)
{
    return ::lstat(native(path).constData(), &st) == 0;
}

// A folder on the way to one the program makes files in: nobody but the
// user and root may rename or replace what is in it.
bool steadyFolder(const struct stat &st)
{
    return S_ISDIR(st.st_mode) && TrustedOwner(st.st_uid)
        && ((st.st_mode & (S_IWGRP | S_IWOTH)) == 0 || (st.st_mode & S_ISVTX));
}

QByteArrayList names(const QByteArray &path)
{
    QByteArrayList parts = path.split('/');
    parts.removeAll(QByteArray());
    parts.removeAll(QByteArray("."));
    return parts;
}

// `path` resolved one name at a time, as the system would: a link is
// followed only when it is trusted. With `folders`, every folder met must be
// steady too, and what is missing is made when `make` asks for it.
struct Walk {
    bool ok = false;
    QByteArray real;    // the path walked, no link left in it
    QByteArray foreign; // the first link another user made
    uid_t foreignOwner = 0;
};

Walk walk(const QString &path, bool folders, bool make)
{
    Walk w;
    QByteArray start = QFile::encodeName(path);
    if (!start.startsWith('/'))
        start = QFile::encodeName(QDir::currentPath()) + '/' + start;
    QByteArrayList todo = names(start);
    QByteArray real; // "" is the root
    struct stat st{};
    if (folders && (::lstat("/", &st) != 0 || !steadyFolder(st)))
        return w;
    int links = 0;
    while (!todo.isEmpty()) {
        const QByteArray name = todo.takeFirst();
        if (name == "..") {
            real.truncate(qMax<qsizetype>(0, real.lastIndexOf('/')));
            continue;
        }
        const QByteArray next = real + '/' + name;
        if (::lstat(next.constData(), &st) != 0) {
            if (errno != ENOENT || !folders || !make || ::mkdir(next.constData(), 0700) != 0
                || ::lstat(next.constData(), &st) != 0)
                return w;
        }
        if (S_ISLNK(st.st_mode)) {
            if (!TrustedOwner(st.st_uid)) {
                w.foreign = next;
                w.foreignOwner = st.st_uid;
                return w;
            }
            char buffer[4096];
            const ssize_t n = ::readlink(next.constData(), buffer, sizeof buffer);
            if (n <= 0 || size_t(n) >= sizeof buffer || ++links > 40)
                return w;
            const QByteArray target(buffer, n);
            if (target.startsWith('/'))
                real.clear();
            todo = names(target) + todo;
            continue;
        }
        if (S_ISDIR(st.st_mode)) {
            if (folders && !steadyFolder(st))
                return w;
        } else if (folders || !todo.isEmpty()) {
            return w; // only the last name may be something else than a folder
        }
        real = next;
    }
    w.ok = true;
    w.real = real.isEmpty() ? QByteArray("/") : real;
    return w;
}

#endif

} // namespace

bool TrustedOwner(uint uid)
{
#ifdef Q_OS_UNIX
    return uid == 0 || uid == ::geteuid();
#else
    Q_UNUSED(uid);
    return true;
#endif
}

bool Entry::mine() const
{
#ifdef Q_OS_UNIX
    return exists() && owner == ::geteuid();
#else
    return exists();
#endif
}

Entry LookAt(const QString &path)
{
    Entry e;
#ifdef Q_OS_UNIX
    struct stat st{};
    if (!lookAt(path, st))
        return e;
    e.kind = S_ISLNK(st.st_mode)   ? Entry::Link
        : S_ISDIR(st.st_mode)      ? Entry::Folder
        : S_ISREG(st.st_mode)      ? Entry::File
                                   : Entry::Other;
    e.owner = st.st_uid;
    e.mode = st.st_mode & 07777;
#else
    const QFileInfo info(bare(path));
    if (info.isSymLink())
        e.kind = Entry::Link;
    else if (info.isDir())
        e.kind = Entry::Folder;
    else if (info.isFile())
        e.kind = Entry::File;
    else if (info.exists())
        e.kind = Entry::Other;
#endif
    return e;
}

bool TrustedEntry(const QString &path)
{
    return LookAt(path).trusted();
}

Way FollowTrustedLinks(const QString &path)
{
    Way way;
#ifdef Q_OS_UNIX
    const Walk w = walk(path, false, false);
    if (w.ok) {
        way.target = QFile::decodeName(w.real);
    } else if (!w.foreign.isEmpty()) {
        way.foreignLink = QFile::decodeName(w.foreign);
        way.owner = userName(w.foreignOwner);
    }
#else
    way.target = QFileInfo(path).canonicalFilePath();
#endif
    return way;
}

QString ForeignLinkOwner(const QString &path)
{
    return FollowTrustedLinks(path).owner;
}

bool OwnRegularFile(const QString &path)
{
    const Entry e = LookAt(path);
    return e.kind == Entry::File && e.mine();
}

bool OwnFolder(const QString &path)
{
    const Entry e = LookAt(path);
    return e.kind == Entry::Folder && e.mine();
}

QString CheckedFolder(const QString &folder, bool make)
{
#ifdef Q_OS_UNIX
    const Walk w = walk(bare(folder), true, make);
    struct stat st{};
    if (!w.ok || ::lstat(w.real.constData(), &st) != 0 || !S_ISDIR(st.st_mode)
        || st.st_uid != ::geteuid() || (st.st_mode & (S_IWGRP | S_IWOTH)))
        return {};
    const int dir = ::open(w.real.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    const bool installed = dir < 0 || carriesInstalledMark(dir);
    if (dir >= 0)
        ::close(dir);
    return installed ? QString() : QFile::decodeName(w.real);
#else
    if (make)
        QDir().mkpath(folder);
    const QFileInfo info(bare(folder));
    if (!info.isDir()
        || QFileInfo::exists(folder + QLatin1Char('/') + QLatin1String(InstalledMark)))
        return {};
    return info.canonicalFilePath();
#endif
}

bool CanCreateIn(const QString &dir)
{
#ifdef Q_OS_UNIX
    struct stat st{};
    const QByteArray path = native(dir);
    return ::stat(path.constData(), &st) == 0 && S_ISDIR(st.st_mode)
        && ::faccessat(AT_FDCWD, path.constData(), W_OK | X_OK, AT_EACCESS) == 0;
#else
    const QFileInfo info(dir);
    return info.isDir() && info.isWritable();
#endif
}

