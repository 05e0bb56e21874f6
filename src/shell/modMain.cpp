// The window program's run, from start-up (one copy per user) to its end.
#include "shell/modMain.h"

#include "config/FileSafety.h"
#include "config/modFile.h"
#include "core/AppState.h"
#include "protocol/modWired.h"
#include "records/SiteBookOutcomes.h"
#include "records/SiteBookPlace.h"
#include "serial/DoEvents.h"
#include "serial/modLog.h"
#include "widgets/BookEntry.h"
#include "widgets/Ui.h"
#include "shell/frmMain.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QStandardPaths>
#include <QTranslator>

#ifdef Q_OS_UNIX
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {
// Who runs the program: the user id where there is one (HOME can be
// inherited from another user, e.g. through sudo).
QString userIdentity()
{
#ifdef Q_OS_UNIX
    return QString::number(::geteuid());
#else
    return qEnvironmentVariable("USERNAME") + QLatin1Char('\n') + QDir::homePath();
#endif
}

#ifdef Q_OS_UNIX
QString passwdHome()
{
    struct passwd entry {};
    struct passwd *found = nullptr;
    char buffer[4096];
    if (::getpwuid_r(::geteuid(), &entry, buffer, sizeof buffer, &found) == 0 && found
        && found->pw_dir && *found->pw_dir)
        return QFile::decodeName(found->pw_dir);
    return {};
}

// When a process started, in clock ticks since boot; -1 when it is gone.
qint64 startTime(const QString &pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray line = stat.readAll();
    // The name in parentheses may hold spaces; the fields after it do not.
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    return fields.size() > 19 ? fields.at(19).toLongLong() : -1;
}

uint effectiveUid(const QString &pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return uint(-1);
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("Uid:"))
            return line.mid(4).simplified().split(' ').value(1).toUInt();
    return uint(-1);
}
#endif
} // namespace

QString InstanceLockFolder()
{
#ifdef Q_OS_UNIX
    // Found from the user id alone, so that every copy of the user's, whatever
    // its environment, looks in the same place: the session's runtime folder
    // where the user has one of their own alone, else a folder of the user's
    // in their home. Never a name in a folder where another user could make
    // it first.
    const QString runtime = QStringLiteral("/run/user/%1").arg(::geteuid());
    if (PrivateFolder(runtime))
        return runtime;
    const QString home = passwdHome();
    if (home.isEmpty())
        return {};
    const QString own = home + QStringLiteral("/.local/share/qml47210-lock");
    return MakePrivateFolder(own) ? own : QString();
#else
    const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (data.isEmpty())
        return {};
    const QString own = data + QStringLiteral("/qml47210-lock");
    return MakePrivateFolder(own) ? own : QString();
#endif
}

QString InstanceLockPath(const QString &programPath)
{
    const QString folder = InstanceLockFolder();
    if (folder.isEmpty())
        return {};
    QString canonical = QFileInfo(programPath).canonicalFilePath();
    if (canonical.isEmpty())
        canonical = QFileInfo(programPath).absoluteFilePath();
    // One copy per program file and per user: two users on one machine each
    // run their own.
    const QByteArray id = QCryptographicHash::hash((canonical + QLatin1Char('\n') + userIdentity()).toUtf8(),
                                                   QCryptographicHash::Sha1)
                              .toHex()
                              .left(16);
    return folder + QStringLiteral("/qml47210-") + QString::fromLatin1(id)
        + QStringLiteral(".lock");
}

bool EarlierCopyRuns()
{
#ifdef Q_OS_UNIX
    // Only the user's own processes count, and only those running this very
    // program file as a window (a command takes no lock): nothing another
    // user does can look like one. Of two started together, the earlier goes on.
    struct stat self{};
    if (::stat("/proc/self/exe", &self) != 0)
        return false;
    const QString me = QString::number(QCoreApplication::applicationPid());
    const qint64 myStart = startTime(me);
    const QStringList pids =
        QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &pid : pids) {
        bool number = false;
        pid.toLongLong(&number);
        if (!number || pid == me || effectiveUid(pid) != ::geteuid())
            continue;
        struct stat exe{};
        const QByteArray exePath = QFile::encodeName(QStringLiteral("/proc/%1/exe").arg(pid));
        if (::stat(exePath.constData(), &exe) != 0 || exe.st_dev != self.st_dev
            || exe.st_ino != self.st_ino)
            continue;
        QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(pid));
        if (!cmdline.open(QIODevice::ReadOnly) || cmdline.readAll().count('\0') != 1)
            continue;
        const qint64 start = startTime(pid);
        if (start >= 0
            && (start < myStart || (start == myStart && pid.toLongLong() < me.toLongLong())))
            return true;
    }
#endif
    return false;
}

int Main()
{
    // Tied to the program file's path, so copies in other folders run side by
    // side; a copy that was killed leaves a stale lock that the next start
    // takes. Without a folder of the user's alone, the user's running
    // processes are looked at instead: a file another user made must never
    // keep the program from starting.
    const QString path = InstanceLockPath(QCoreApplication::applicationFilePath());
    if (path.isEmpty())
        return EarlierCopyRuns() ? 0 : StartUp();
    QLockFile lock(path);
    lock.setStaleLockTime(0);
    if (!lock.tryLock(0))
        return 0;
    return StartUp();
}

void SayWhereFilesAre(frmMain &main, const TextFolderChoice &files)
{
    const AppState &s = app();
    const auto say = [&](int message, const QString &folder) {
        Ui::showLine(main.TextMess,
                     s.message(message) + QLatin1Char(' ') + QDir::toNativeSeparators(folder));
    };
    if (files.notice == TextFolderChoice::NothingMade)
        say(FolderMessages::NothingMade, files.problem);
    else if (!files.problem.isEmpty()) // the program goes on with what it has
        say(NotWrittenMessage, files.problem);
    else if (files.notice == TextFolderChoice::FilesInOwnFolder)
        say(FolderMessages::FilesInOwnFolder, files.folder);
    else if (files.notice == TextFolderChoice::MadeInOwnFolder)
        say(FolderMessages::MadeInOwnFolder, files.workFolder);
    else if (files.notice == TextFolderChoice::NotYoursAlone)
        say(FolderMessages::NotYoursAlone, files.workFolder);
}

void IdlePass(frmMain &main)
{
    AppState &s = app();
    if (s.WatchMode == 2) {
        if (WaitLinkAnswer(main.MSComm1(), main.Timer1(), 20000))
            main.linkAnswered();
        else
            s.WatchMode = 0;
    }
    if (!s.ExitConfirmed)
        DoEvents();
}

void InstallTranslation(const QString &language)
{
    static QTranslator english;
    if (language == QLatin1String("en") && english.isEmpty()
        && english.load(QStringLiteral(":/i18n/qmlsetup_en.qm")))
        QCoreApplication::installTranslator(&english);
}

int StartUp()
{
    AppState &s = app();
    const LoadedTextFiles loaded = LoadTextFiles();
    InstallTranslation(loaded.language);
    s.FrhDone = false;
    s.WatchMode = 0;
    s.AwaitingAck = false;
    s.RxLineBuffer.clear();
    s.ReplyBand = QStringLiteral("00");
    s.ReplyChannel = QStringLiteral("00");
    s.ReplyVersion = QStringLiteral("00");
    MakeLogName();
    // The site book the window records into: the environment's, else the
    // default beside backups/. One that cannot be used keeps its entries
    // pending, said in the status bar with the first of them.
    QString unused; // only an argument is refused outright
    SiteBookRecorder::setPlace(
        SiteBookPlaceFor(QString(), qEnvironmentVariable(SiteBookVariable), WorkFolder(), &unused)
            .value_or(SiteBookPlace()));

    frmMain main;
    main.show();
    main.Form_Load();
    SayWhereFilesAre(main, loaded.files);
    while (!s.ExitConfirmed)
        IdlePass(main);
    Ui::FinishBookEntries();
    return 0;
}
