#pragma once
// Time-stamped trace of every line sent and received, while DebugFlag is set.

#include <QDateTime>
#include <QString>

void MakeLogName(const QDateTime &start = QDateTime::currentDateTime());
void LogSend(const QString &text);
void LogReceive(const QString &text);
// What happened on the line that is neither sent nor received, e.g. dropped input.
void LogNote(const QString &text);
