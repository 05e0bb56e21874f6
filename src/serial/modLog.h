#pragma once
// Time-stamped trace of every line sent and received, while DebugFlag is set.

#include <QDateTime>
#include <QString>

// The log is named by its start time, in the work folder; the command line
// adds a `tag` (its port and its process id), so runs started in the same
// second never share a file. It is made new at its first entry (never
// through a link, never into a file already there: a taken name gets a
// random part, and LogFilePath names the file made) and kept open, so every
// later entry goes to that same file. With no work folder there is no log.
void MakeLogName(const QDateTime &start = QDateTime::currentDateTime(), const QString &tag = {});
// `text` fit to be part of a file name: letters, digits and '-' kept, the rest '_'.
QString FileNamePart(QString text);
void LogSend(const QString &text);
void LogReceive(const QString &text);
// What happened on the line that is neither sent nor received, e.g. dropped input.
void LogNote(const QString &text);
// A line received and dropped unread: it could answer no command waiting.
void LogDropped(const QString &text);
// A line received that repeats one just sent: the adapter's echo.
void LogEcho(const QString &text);
