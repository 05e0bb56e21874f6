#include "shell/modMain.h"

#include "config/FileSafety.h"
#include "config/modFile.h"
#include "core/AppState.h"
#include "protocol/modWired.h"
#include "serial/DoEvents.h"
#include "serial/modLog.h"
#include "shell/Ui.h"
#include "shell/frmMain.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QLockFile>
#include <QStandardPaths>
#include <QTranslator>

#ifdef Q_OS_UNIX
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
} // namespace

QString InstanceLockFolder()
{
    // The session's runtime folder, where it has one and it is the user's
    // alone; else a folder of the user's own data folder. Never a name in a
    // folder where another user could make it first.
    if (qEnvironmentVariableIsSet("XDG_RUNTIME_DIR")) {
        const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
        if (!runtime.isEmpty()
            && QDir::cleanPath(runtime) == QDir::cleanPath(qEnvironmentVariable("XDG_RUNTIME_DIR"))
            && PrivateFolder(runtime))
            return runtime;
    }
    const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (data.isEmpty())
        return {};
    const QString own = data + QStringLiteral("/qml47210-lock");
    return MakePrivateFolder(own) ? own : QString();
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

int Main()
{
    // Tied to the program file's path, so copies in other folders run side by
    // side; a copy that was killed leaves a stale lock that the next start
    // takes. Without a folder of the user's alone there is no lock: a file
    // another user made must never keep the program from starting.
    const QString path = InstanceLockPath(QCoreApplication::applicationFilePath());
    if (path.isEmpty())
        return StartUp();
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

    frmMain main;
    main.show();
    main.Form_Load();
    SayWhereFilesAre(main, loaded.files);
    while (!s.ExitConfirmed)
        IdlePass(main);
    return 0;
}
