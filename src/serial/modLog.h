#pragma once
// Time-stamped trace of every line sent and received, while DebugFlag is set.

#include <QDateTime>
#include <QString>

void MakeLogName(const QDateTime &start = QDateTime::currentDateTime());
// The command line's log name: the start time, then `tag` (its port and its
// process id), so runs started in the same second never share a file.
void MakeLogName(const QDateTime &start, const QString &tag);
void LogSend(const QString &text);
void LogReceive(const QString &text);
// What happened on the line that is neither sent nor received, e.g. dropped input.
void LogNote(const QString &text);
