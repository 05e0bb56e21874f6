#include "config/FileSafety.h"

#include "core/AppState.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSaveFile>

#ifdef Q_OS_WIN
#include <io.h>
#endif
#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

// Without a trailing separator: "name/" would make lstat follow a link there.
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

bool carriesInstalledMark(int dir)
{
    struct stat st{};
    return ::fstatat(dir, InstalledMark, &st, AT_SYMLINK_NOFOLLOW) == 0;
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

// The folder a file is in, held open, so that the file is made in that very
// folder even when its path is changed meanwhile.
struct Place {
    int dir = -1;
    QByteArray name;
    Place() = default;
    Place(const Place &) = delete;
    Place &operator=(const Place &) = delete;
    ~Place()
    {
        if (dir >= 0)
            ::close(dir);
    }
    bool open(const QString &path, int flags)
    {
        const QFileInfo info(bare(path));
        name = QFile::encodeName(info.fileName());
        dir = ::open(QFile::encodeName(info.absolutePath()).constData(),
                     O_RDONLY | O_DIRECTORY | O_CLOEXEC | flags);
        return dir >= 0 && !name.isEmpty();
    }
};

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
    return ::fsync(fd) == 0;
}

// The file itself, opened without following a link or waiting, and
// rewritten only when the opened file is a regular file of this user's with
// no other name: the folder is closed to new files.
bool rewriteInPlace(const Place &place, const QByteArray &bytes, QString *error)
{
    const int fd = ::openat(place.dir, place.name.constData(),
                            O_WRONLY | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (error)
            *error = errno == ELOOP ? notYours() : reason(errno);
        return false;
    }
    struct stat st{};
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid()
        && st.st_nlink == 1;
    if (!ok && error)
        *error = notYours();
    if (ok && !(ok = ::ftruncate(fd, 0) == 0 && writeAll(fd, bytes)) && error)
        *error = reason(errno);
    ::close(fd);
    return ok;
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

bool CreateNewFile(QFile &file, const QString &path, int flags, QString *error, bool *taken)
{
    const bool ownFolderOnly = flags & InOwnFolder;
    if (taken)
        *taken = false;
#ifdef Q_OS_UNIX
    Place place;
    if (!place.open(path, ownFolderOnly ? O_NOFOLLOW : 0)) {
        if (error)
            *error =
                ownFolderOnly && (errno == ELOOP || errno == ENOTDIR) ? notYours() : reason(errno);
        return false;
    }
    struct stat folder{};
    if (ownFolderOnly && (::fstat(place.dir, &folder) != 0 || folder.st_uid != ::geteuid())) {
        if (error)
            *error = notYours();
        return false;
    }
    if (carriesInstalledMark(place.dir)) {
        if (error)
            *error = installed();
        return false;
    }
    const int fd = ::openat(place.dir, place.name.constData(),
                            O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                            flags & OwnerOnly ? 0600 : 0666);
    if (fd < 0) {
        if (taken)
            *taken = errno == EEXIST;
        if (error)
            *error = reason(errno);
        return false;
    }
    if (!file.open(fd, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        if (error)
            *error = file.errorString();
        return false;
    }
    return true;
#else
    Q_UNUSED(ownFolderOnly);
    file.setFileName(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
        if (taken)
            *taken = QFileInfo::exists(path);
        if (error)
            *error = file.errorString();
        return false;
    }
    return true;
#endif
}

bool SyncToDisk(const QString &path, QString *error)
{
#ifdef Q_OS_UNIX
    for (const QString &p : {path, QFileInfo(path).absolutePath()}) {
        const int fd = ::open(QFile::encodeName(p).constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0 || ::fsync(fd) != 0) {
            if (error)
                *error = reason(errno);
            if (fd >= 0)
                ::close(fd);
            return false;
        }
        ::close(fd);
    }
    return true;
#else
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite | QIODevice::ExistingOnly)
        || ::_commit(int(file.handle())) != 0) {
        if (error)
            *error = file.errorString();
        return false;
    }
    return true;
#endif
}

bool ReplaceFile(const QString &path, const QByteArray &bytes, bool inPlace, QString *error)
{
#ifdef Q_OS_UNIX
    Place place;
    if (!place.open(path, 0)) {
        if (error)
            *error = reason(errno);
        return false;
    }
    if (carriesInstalledMark(place.dir)) {
        if (error)
            *error = installed();
        return false;
    }
    struct stat old{};
    const bool mine = ::fstatat(place.dir, place.name.constData(), &old, AT_SYMLINK_NOFOLLOW) == 0
        && S_ISREG(old.st_mode) && old.st_uid == ::geteuid();
    QByteArray aside;
    int fd = -1;
    for (int attempt = 0; attempt < 8 && fd < 0; ++attempt) {
        aside =
            place.name + ".new-" + QByteArray::number(QRandomGenerator::global()->generate(), 16);
        fd = ::openat(place.dir, aside.constData(),
                      O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST)
            break;
    }
    if (fd < 0) {
        const int e = errno;
        if (inPlace && mine && (e == EACCES || e == EPERM))
            return rewriteInPlace(place, bytes, error);
        if (error)
            *error = reason(e);
        return false;
    }
    if (mine) // the file keeps its permissions, as an edit in place would
        ::fchmod(fd, old.st_mode & 0777);
    bool ok = writeAll(fd, bytes);
    int e = errno;
    ok = ::close(fd) == 0 && ok;
    if (ok && ::renameat(place.dir, aside.constData(), place.dir, place.name.constData()) != 0) {
        ok = false;
        e = errno;
    }
    if (!ok) {
        ::unlinkat(place.dir, aside.constData(), 0);
        if (error)
            *error = reason(e);
    }
    return ok;
#else
    QSaveFile file(path);
    file.setDirectWriteFallback(inPlace);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        if (error)
            *error = file.errorString();
        return false;
    }
    return true;
#endif
}

bool MakeOwnFolder(const QString &path, QString *error)
{
    if (!QDir::isAbsolutePath(path)) {
        if (error)
            *error = app().message(FolderMessages::NowhereToMake);
        return false;
    }
#ifdef Q_OS_UNIX
    Place place;
    if (!place.open(path, O_NOFOLLOW)) {
        if (error)
            *error = errno == ELOOP || errno == ENOTDIR ? notYours() : reason(errno);
        return false;
    }
    if (carriesInstalledMark(place.dir)) {
        if (error)
            *error = installed();
        return false;
    }
    if (::mkdirat(place.dir, place.name.constData(), 0700) == 0)
        return true;
    const int e = errno;
    struct stat st{};
    if (e == EEXIST && ::fstatat(place.dir, place.name.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0
        && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid())
        return true;
    if (error)
        *error = e == EEXIST ? notYours() : reason(e);
    return false;
#else
    if (QDir().mkpath(path))
        return true;
    if (error)
        *error = notYours();
    return false;
#endif
}

bool PrivateFolder(const QString &path)
{
#ifdef Q_OS_UNIX
    const QString checked = CheckedFolder(path);
    return !checked.isEmpty() && (LookAt(checked).mode & 0777) == 0700;
#else
    return QFileInfo(path).isDir();
#endif
}

bool MakePrivateFolder(const QString &path)
{
#ifdef Q_OS_UNIX
    const QString made = CheckedFolder(path, true);
    if (made.isEmpty())
        return false;
    if ((LookAt(made).mode & 0777) != 0700)
        ::chmod(QFile::encodeName(made).constData(), 0700);
    return PrivateFolder(made);
#else
    return QDir().mkpath(path);
#endif
}
