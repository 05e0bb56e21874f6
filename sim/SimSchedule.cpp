#include "sim/SimSchedule.h"

#include <QTimer>

#include <algorithm>

SimSchedule::SimSchedule(Sink sink, QObject *parent)
    : QObject(parent), m_sink(std::move(sink)), m_rng(QRandomGenerator::global()->generate())
{
    m_clock.start();
    m_timer = new QTimer(this);
    m_timer->setSingleShot(true);
    m_timer->setTimerType(Qt::PreciseTimer);
    connect(m_timer, &QTimer::timeout, this, &SimSchedule::release);
}

void SimSchedule::setDelay(int minMs, int maxMs)
{
    m_min = qMax(0, minMs);
    m_max = qMax(m_min, maxMs);
}

void SimSchedule::setSlow(const QByteArray &command, int ms)
{
    m_slowCommand = command;
    m_slowMs = qMax(0, ms);
}

void SimSchedule::answer(const QByteArray &command, const QByteArray &bytes)
{
    int delay = m_min == m_max ? m_min : m_min + int(m_rng.bounded(m_max - m_min + 1));
    if (!m_slowCommand.isEmpty() && command == m_slowCommand) {
        delay = m_slowMs;
        m_slowCommand.clear();
    }
    // An answer that is due earlier still waits for the one before it.
    m_lastDue = qMax(m_clock.elapsed() + delay, m_lastDue);
    insert(m_lastDue, bytes);
    if (m_twiceMs >= 0)
        insert(m_lastDue + m_twiceMs, bytes);
    release();
}

void SimSchedule::clear()
{
    m_queue.clear();
    m_lastDue = 0; // nothing queued holds the next answer back
    m_timer->stop();
}

void SimSchedule::insert(qint64 due, const QByteArray &bytes)
{
    if (m_queue.size() >= MaxQueued)
        return; // nobody reads: answers beyond this are lost, as on a full line
    const auto at = std::upper_bound(m_queue.begin(), m_queue.end(), due,
                                     [](qint64 d, const Entry &e) { return d < e.due; });
    m_queue.insert(at, Entry{due, bytes});
}

// Hands on what is due, at once when nothing waits before it.
void SimSchedule::release()
{
    const qint64 now = m_clock.elapsed();
    while (!m_queue.isEmpty() && m_queue.first().due <= now)
        m_sink(m_queue.takeFirst().bytes);
    if (m_queue.isEmpty())
        m_timer->stop();
    else
        m_timer->start(int(m_queue.first().due - now));
}
