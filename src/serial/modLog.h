#pragma once
// Time-stamped trace of every line sent and received, while DebugFlag is set.

#include <QDateTime>
#include <QString>

void MakeLogName(const QDateTime &start = QDateTime::currentDateTime());
void LogSend(const QString &text);
void LogReceive(const QString &text);
