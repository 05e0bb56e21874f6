// One pass of the event loop for the waits, blocking only when nothing is ready.
#include "serial/DoEvents.h"

#include "serial/CommControl.h"
#include "serial/ReplyTimer.h"

#include <QCoreApplication>
#include <QEventLoop>

void DoEvents(const CommControl *reading)
{
    if (reading && reading->InBufferCount() > 0)
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    else
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}

void LetEventsRun()
{
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void PauseWithEvents(int milliseconds)
{
    WaitLimit limit(milliseconds);
    while (!limit.expired())
        DoEvents();
}
