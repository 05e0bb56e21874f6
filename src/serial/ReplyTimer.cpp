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

WaitLimit::WaitLimit(int milliseconds)
{
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&m_timer, &QTimer::timeout, [this] { m_expired = true; });
    restart(milliseconds);
}

void WaitLimit::restart(int milliseconds)
{
    m_expired = false;
    m_timer.start(TimeScale::scaled(qMax(0, milliseconds)));
}
