// Making and rewriting files safely: new files never over another's, whole
// replacements, folders of the user's own, everything on the disk before it
// is said to be written.
#include "config/FileSafety.h"

#include "config/FileParts.h"

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
#include <sys/stat.h>
#include <unistd.h>
#endif


using namespace FileParts;

namespace {

#ifdef Q_OS_UNIX
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
    if (ok && !(ok = ::ftruncate(fd, 0) == 0 && WriteAllTo(fd, bytes)) && error)
        *error = reason(errno);
    ::close(fd);
    return ok;
}
#endif

} // namespace

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

bool WriteAllTo(int fd, const QByteArray &bytes)
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

bool SyncToDisk(const QString &path, QString *error)
{
#ifdef Q_OS_UNIX
    // By its name in the folder held open: never through a link, never
    // waiting on a FIFO, and only a file of this user's, as it was made.
    Place place;
    if (!place.open(path, 0)) {
        if (error)
            *error = reason(errno);
        return false;
    }
    const int fd = ::openat(place.dir, place.name.constData(),
                            O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    struct stat st{};
    const bool mine = fd >= 0 && ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)
        && st.st_uid == ::geteuid();
    const bool ok = mine && ::fsync(fd) == 0 && ::fsync(place.dir) == 0;
    const int e = errno;
    if (fd >= 0)
        ::close(fd);
    if (!ok && error)
        *error = fd >= 0 && !mine ? notYours() : reason(e);
    return ok;
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
    bool ok = WriteAllTo(fd, bytes);
    int e = errno;
    ok = ::close(fd) == 0 && ok;
    if (ok && ::renameat(place.dir, aside.constData(), place.dir, place.name.constData()) != 0) {
        ok = false;
        e = errno;
    } else if (ok && ::fsync(place.dir) != 0) {
        // Renamed, but the name may not outlive a power cut: not said written.
        if (error)
            *error = reason(errno);
        return false;
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

