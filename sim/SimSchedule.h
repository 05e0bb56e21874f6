#pragma once
// When the simulated unit's answers leave: after a delay, fixed or drawn,
// and never before an answer to an earlier command, as a real unit answers
// in the order it is asked.

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QRandomGenerator>

#include <functional>

class QTimer;

class SimSchedule : public QObject {
    Q_OBJECT
public:
    using Sink = std::function<void(const QByteArray &)>;
    SimSchedule(Sink sink, QObject *parent = nullptr);

    // Each answer's delay is drawn from minMs..maxMs (equal: fixed).
    void setDelay(int minMs, int maxMs);
    int delayMin() const { return m_min; }
    int delayMax() const { return m_max; }
    void setSeed(quint32 seed) { m_rng.seed(seed); }
    // The next answer to exactly this command line waits ms instead (once).
    void setSlow(const QByteArray &command, int ms);
    // Every answer again ms after it went (negative: off).
    void setTwice(int ms) { m_twiceMs = ms; }

    // One command's whole answer.
    void answer(const QByteArray &command, const QByteArray &bytes);
    void clear();
    int queued() const { return int(m_queue.size()); }

private:
    struct Entry {
        qint64 due;
        QByteArray bytes;
    };
    void insert(qint64 due, const QByteArray &bytes);
    void release();

    Sink m_sink;
    QTimer *m_timer = nullptr;
    QElapsedTimer m_clock;
    QRandomGenerator m_rng;
    QList<Entry> m_queue; // by due time; equal times in arrival order
    qint64 m_lastDue = 0;
    int m_min = 0;
    int m_max = 0;
    int m_twiceMs = -1;
    QByteArray m_slowCommand;
    int m_slowMs = 0;

    static constexpr int MaxQueued = 4096;
};
