#pragma once
// Files the program makes or rewrites in folders that other users may write
// too (a shared text folder, a folder root works in for an ordinary user):
// nothing is written through a link or over what another user placed, and a
// link is followed only when the running user or root made it.

#include <QByteArray>
#include <QString>

class QFile;

// Message-table numbers of what these refusals and the folder choice say.
// Kept here together, so that they can be renumbered in one place.
namespace FolderMessages {
constexpr int ForeignLink = 106;      // a link another user made is not followed; its owner
constexpr int FilesInOwnFolder = 107; // the main window: this user's files are kept in
constexpr int MadeInOwnFolder = 108;  // the folder is closed: backups, links, logs go to
constexpr int ChoiceSavedIn = 109;    // the port dialog: the choice was saved in
constexpr int NotYourFolder = 110;    // a link or another user's folder in the place of one
constexpr int NothingMade = 128;      // the main window: nothing is written, no own folder
constexpr int NowhereToMake = 129;    // a refusal: nothing is written, no own folder
constexpr int NotYoursAlone = 130;    // others may change the folder: what is made goes to
constexpr int InstalledFolder = 131;  // the installed program's folder is never written
} // namespace FolderMessages

// The file the install puts into the program folder: that folder is dpkg's
// (or another installer's), and the program never writes it, not even as root.
inline constexpr const char *InstalledMark = "installed.txt";

// The running user or root: what is trusted in a folder others may write.
bool TrustedOwner(uint uid);

// What stands at a path itself: a link there is looked at, not followed.
struct Entry {
    enum Kind { Absent, Link, Folder, File, Other };
    Kind kind = Absent;
    uint owner = 0;
    uint mode = 0; // permission bits
    bool exists() const { return kind != Absent; }
    bool trusted() const { return exists() && TrustedOwner(owner); }
    bool mine() const;
};
Entry LookAt(const QString &path);

// True when what stands at `path` (a link itself, not what it points to) is
// the running user's or root's.
bool TrustedEntry(const QString &path);

// Where `path` leads, each link on the way (the path itself, or a folder in
// it) followed only when the running user or root made it.
struct Way {
    QString target;      // every link resolved; empty where the way stops
    QString foreignLink; // the first link another user made: the way stops there
    QString owner;       // that link's owner
};
Way FollowTrustedLinks(const QString &path);

// The owner's name of the first link on the way to `path` that neither the
// running user nor root made; empty when there is none.
QString ForeignLinkOwner(const QString &path);

// True when `path` itself (not what a link there points to) is a regular
// file of the running user's.
bool OwnRegularFile(const QString &path);

// True when `path` is a real directory (no link) of the running user's.
bool OwnFolder(const QString &path);

// True when this user may make new files in `dir`.
bool CanCreateIn(const QString &dir);

// `folder` as a place for this user to make files in, checked the way
// OpenSSH's StrictModes checks ~/.ssh: every folder on the way and every link
// the user's or root's, none of those folders writable by group or others
// unless sticky, and the folder itself a real directory of the user's own
// that nobody else may write and no installed program folder. Nobody else
// can then change what its path names. `make`: what is missing on the way is
// made (0700). Its path with every link resolved, or empty.
QString CheckedFolder(const QString &folder, bool make = false);

// Opens `file` for writing on a file made new at `path`: never over what
// stands there, never through a link. False with the reason; `taken` tells
// that something already had the name.
enum NewFileFlag {
    InOwnFolder = 1, // only inside a real directory of the running user's
    OwnerOnly = 2,   // readable by the owner alone
};
bool CreateNewFile(QFile &file, const QString &path, int flags, QString *error,
                   bool *taken = nullptr);

// Replaces what `path` holds with `bytes`: written into a new file beside it
// and renamed over the name, so a link there is replaced, never written
// through, and a full disk never leaves half a file. `inPlace`: where the
// folder is closed to new files, a regular file of this user's (with no
// other name) is rewritten where it is instead.
bool ReplaceFile(const QString &path, const QByteArray &bytes, bool inPlace, QString *error);

// Writes all of `bytes` to the open file `fd`, through interruptions; false
// on an error or a full disk.
bool WriteAllTo(int fd, const QByteArray &bytes);
// `path` and the folder's entry for it on the disk, not only in the cache:
// a power cut after this leaves the file whole. False with the reason.
bool SyncToDisk(const QString &path, QString *error);

// A folder of this user's at `path`: made (0700) when absent; anything else
// there (a link, a file, another user's folder) is refused with a message
// naming it. A path that is not absolute has no folder of the user's before
// it (there was none to be had): refused, saying that nothing is made.
bool MakeOwnFolder(const QString &path, QString *error);

// A folder of this user's that nobody else may enter (mode 0700), on a way
// nobody else can change (CheckedFolder).
bool PrivateFolder(const QString &path);
// The same, made when absent and closed to others when it is the user's;
// false when what stands there cannot be one.
bool MakePrivateFolder(const QString &path);
