// The reply timer on QTimer, and the time scale the tests shorten.
#include "serial/ReplyTimer.h"

#include <cmath>

namespace {
double g_scale = 1.0;
}

void TimeScale::set(double factor) { g_scale = factor > 0 ? factor : 1.0; }
double TimeScale::factor() { return g_scale; }
int TimeScale::scaled(int milliseconds)
{
    if (milliseconds <= 0)
        return 0;
    return qMax(1, int(std::lround(milliseconds * g_scale)));
}

ReplyTimer::ReplyTimer(QObject *parent) : QObject(parent)
{
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &ReplyTimer::tick);
}

void ReplyTimer::setInterval(int milliseconds)
{
    m_interval = milliseconds;
    if (m_enabled && m_interval > 0)
        m_timer.start(TimeScale::scaled(m_interval));
}

void ReplyTimer::setEnabled(bool enabled)
{
    m_enabled = enabled;
    if (enabled && m_interval > 0)
        m_timer.start(TimeScale::scaled(m_interval));
    else
        m_timer.stop();
}

void ReplyTimer::arm(int milliseconds)
{
    setEnabled(false);
    m_tag = QStringLiteral("0");
    setInterval(milliseconds);
    setEnabled(true);
}

// The interval ran out: mark the time-out, then stop.
void ReplyTimer::tick()
{
    m_tag = QStringLiteral("1");
    setEnabled(false);
    emit Timer();
}

namespace {
// Owner of the wait limits' timers. A firing timer only wakes the event loop;
// the waiter looks at its deadline itself.
QObject &waker()
{
    static QObject object;
    return object;
}
} // namespace

WaitLimit::WaitLimit(int milliseconds)
{
    // Nothing to stop yet: a timer of another wait must never be taken for ours.
    start(milliseconds);
}

WaitLimit::~WaitLimit()
{
    if (m_wake)
        waker().killTimer(m_wake);
}

void WaitLimit::restart(int milliseconds)
{
    if (m_wake)
        waker().killTimer(m_wake);
    start(milliseconds);
}

void WaitLimit::start(int milliseconds)
{
    const int ms = TimeScale::scaled(qMax(0, milliseconds));
    m_deadline = QDeadlineTimer(ms, Qt::PreciseTimer);
    m_wake = ms > 0 ? waker().startTimer(ms, Qt::PreciseTimer) : 0;
}
