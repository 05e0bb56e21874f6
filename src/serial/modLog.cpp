#include "serial/modLog.h"

#include "core/AppState.h"

#include <QFile>

namespace {

void appendEntry(const char *prefix, const QString &text)
{
    if (!app().DebugFlag)
        return;
    // A log that cannot be written is skipped: the exchange matters more.
    QFile file(app().LogFilePath);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append))
        return;
    const QString line = QLatin1String(prefix)
        + QTime::currentTime().toString(QStringLiteral("HH:mm:ss ")) + text
        + QStringLiteral("\r\n");
    file.write(line.toLatin1());
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
    app().LogFilePath = app().AppDir + QStringLiteral("Log")
        + start.toString(QStringLiteral("yyyyMMddHHmmss"))
        + (tag.isEmpty() ? QString() : QLatin1Char('-') + FileNamePart(tag)) + QStringLiteral(".log");
}

void LogSend(const QString &text) { appendEntry("S>", text); }
void LogReceive(const QString &text) { appendEntry("R<", text); }
void LogNote(const QString &text) { appendEntry("--", text); }
