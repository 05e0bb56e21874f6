// The quiet spell after a wait that ended without its answer, and its mark
// across command-line runs.
#include "serial/LineClear.h"

#include "config/FileSafety.h"
#include "core/AppState.h"
#include "serial/CommControl.h"
#include "serial/DoEvents.h"
#include "serial/ReplyTimer.h"
#include "serial/mod232C.h"
#include "serial/modLog.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QDir>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace {
// The user's runtime folder, else one of the user's own in the temporary
// folder (checked before use: one another user made there is refused).
QString markFolder()
{
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty())
        return runtime + QStringLiteral("/qml47210");
#ifdef Q_OS_UNIX
    return QDir::tempPath() + QStringLiteral("/qml47210-runtime-%1").arg(::geteuid());
#else
    return QDir::tempPath() + QStringLiteral("/qml47210-runtime");
#endif
}
} // namespace

namespace {

// The quiet spell itself: `firstQuietMs` of quiet, QuietMs after anything
// that comes, QuietGiveUpMs at most.
bool quietSpell(CommControl &comm, int firstQuietMs)
{
    comm.noteAnswerDue(); // until the spell is over, also for an earlier run's
    LogNote(QStringLiteral("clearing the line: an earlier command's answer may still come"));
    const quint64 connection = comm.waitConnection();
    WaitLimit quiet(firstQuietMs);
    const WaitLimit giveUp(QuietGiveUpMs);
    const PortReader reading;
    for (;;) {
        if (!comm.isConnection(connection))
            return false;
        if (giveUp.expired()) {
            LogNote(QStringLiteral("the line did not fall quiet: nothing sent"));
            return false;
        }
        if (GetRxCount(comm) > 0) {
            while (GetRxCount(comm) > 0)
                AssembleLine(GetRxByte(comm), true);
            // One more late answer may follow it, one reply wait later.
            quiet.restart(QuietMs);
        }
        if (quiet.expired()) {
            DiscardInput(comm); // a line cut short is no answer either
            comm.clearAnswerDue();
            return true;
        }
        if (app().ExitConfirmed)
            return false;
        DoEvents(&comm);
    }
}

} // namespace

bool ClearLine(CommControl &comm)
{
    return !comm.answerDue() || quietSpell(comm, QuietMs);
}

QString LineMarkPath(const QString &device)
{
    if (device.isEmpty())
        return {};
    const QByteArray id =
        QCryptographicHash::hash(device.toUtf8(), QCryptographicHash::Sha256).toHex().left(32);
    return markFolder() + QStringLiteral("/line-") + QString::fromLatin1(id) + QStringLiteral(".mark");
}

void LeaveLineMark(const CommControl &comm, const QString &device)
{
    if (!comm.answerDue())
        return;
    const QString path = LineMarkPath(device);
    if (path.isEmpty())
        return;
    // The runtime folder is the user's own; the mark's folder is made there
    // and checked like any folder the program writes in.
    const QString folder = CheckedFolder(QFileInfo(path).path(), true);
    if (folder.isEmpty())
        return;
    const qint64 until = QDateTime::currentMSecsSinceEpoch() + TimeScale::scaled(QuietMs);
    // A new file renamed into place: a link at the name is replaced, never followed.
    QSaveFile file(folder + QLatin1Char('/') + QFileInfo(path).fileName());
    if (file.open(QIODevice::WriteOnly)) {
        file.write("until=" + QByteArray::number(until) + "\ndevice=" + device.toUtf8() + '\n');
        file.commit();
    }
}

void WaitOutLineMark(CommControl &comm, const QString &device)
{
    const QString path = LineMarkPath(device);
    // Without a mark, one look and nothing more.
    if (path.isEmpty() || !QFileInfo::exists(path) || CheckedFolder(QFileInfo(path).path()).isEmpty()
        || !OwnRegularFile(path))
        return;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return;
    const QByteArray text = file.read(512);
    file.close();
    qint64 until = 0;
    for (const QByteArray &line : text.split('\n'))
        if (line.startsWith("until="))
            until = line.mid(6).toLongLong();
    // Never longer than a whole spell: a clock set back must not hold a run.
    const qint64 left =
        qMin<qint64>(until - QDateTime::currentMSecsSinceEpoch(), TimeScale::scaled(QuietMs));
    if (left > 0 && !quietSpell(comm, qMax(1, int(double(left) / TimeScale::factor()))))
        return; // the line went away: the mark stays for the next run
    QFile::remove(path);
}
