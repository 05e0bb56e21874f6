// The time-stamped trace of the lines sent and received.
#include "serial/modLog.h"

#include "config/FileSafety.h"
#include "config/modFile.h"
#include "core/AppState.h"
#include "serial/Traffic.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

namespace {

// The log of this run, made new at its first entry and kept open: every
// later entry goes to that same file, whatever takes its name meanwhile.
struct OpenLog {
    QString path; // as LogFilePath named it when it was made
    QFile file;
};

OpenLog &openLog()
{
    static OpenLog log;
    return log;
}

bool ensureOpen()
{
    AppState &s = app();
    OpenLog &log = openLog();
    if (log.file.isOpen() && log.path == s.LogFilePath)
        return true;
    log.file.close();
    // Never through a link or into a file that is there: another user may
    // have put one at a name that is easy to foresee. A taken name gets a
    // random part.
    QString path = s.LogFilePath;
    if (path.isEmpty())
        return false;
    bool taken = false;
    for (int attempt = 0; attempt < 16; ++attempt) {
        if (CreateNewFile(log.file, path, 0, nullptr, &taken)) {
            s.LogFilePath = log.path = path;
            return true;
        }
        if (!taken)
            return false;
        const QFileInfo first(s.LogFilePath);
        path = QDir::toNativeSeparators(first.path() + QLatin1Char('/')) + first.completeBaseName()
            + QLatin1Char('-')
            + QString::number(QRandomGenerator::global()->generate(), 16) + QStringLiteral(".log");
    }
    return false;
}

void appendEntry(TrafficEvent::Kind kind, const QString &text)
{
    TrafficHub &hub = TrafficHub::instance();
    if (!app().DebugFlag && !hub.listened())
        return;
    // One time for the log and the console alike.
    const TrafficEvent event{QDateTime::currentMSecsSinceEpoch(), kind, text};
    if (hub.listened())
        hub.publish(event);
    // A log that cannot be written is skipped: the exchange matters more.
    if (!app().DebugFlag || !ensureOpen())
        return;
    static const char *const prefixes[] = {"S>", "R<", "--", "R!", "R="};
    const QString line = QLatin1String(prefixes[kind])
        + event.time().time().toString(QStringLiteral("HH:mm:ss ")) + text
        + QStringLiteral("\r\n");
    QFile &file = openLog().file;
    file.write(line.toLatin1());
    file.flush();
}

} // namespace

QString FileNamePart(QString text)
{
    for (QChar &c : text)
        if (!c.isLetterOrNumber() && c != u'-')
            c = u'_';
    return text;
}

void MakeLogName(const QDateTime &start, const QString &tag)
{
    if (WorkFolder().isEmpty()) { // nowhere to make it: no log
        app().LogFilePath.clear();
        return;
    }
    app().LogFilePath = WorkFolder() + QStringLiteral("Log")
        + start.toString(QStringLiteral("yyyyMMddHHmmss"))
        + (tag.isEmpty() ? QString() : QLatin1Char('-') + FileNamePart(tag)) + QStringLiteral(".log");
}

void LogSend(const QString &text) { appendEntry(TrafficEvent::Sent, text); }
void LogReceive(const QString &text) { appendEntry(TrafficEvent::Received, text); }
void LogNote(const QString &text) { appendEntry(TrafficEvent::Note, text); }
void LogDropped(const QString &text) { appendEntry(TrafficEvent::Dropped, text); }
void LogEcho(const QString &text) { appendEntry(TrafficEvent::Echo, text); }
