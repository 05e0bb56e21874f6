#pragma once
// The reply timer contract (Interval, Enabled, Tag, tick) and the program's
// time scale. Only tests change the scale, to run the long waits quickly.

#include <QDeadlineTimer>
#include <QObject>
#include <QString>
#include <QTimer>

namespace TimeScale {
void set(double factor);
double factor();
// A design interval in milliseconds as it is really timed.
int scaled(int milliseconds);
} // namespace TimeScale

class ReplyTimer : public QObject {
    Q_OBJECT
public:
    explicit ReplyTimer(QObject *parent = nullptr);

    int Interval() const { return m_interval; }
    void setInterval(int milliseconds);
    bool Enabled() const { return m_enabled; }
    void setEnabled(bool enabled);
    QString Tag() const { return m_tag; }
    void setTag(const QString &tag) { m_tag = tag; }

    // Enabled false, Tag 0, Interval, Enabled true.
    void arm(int milliseconds);
    // A waiter's test: the mark set when the interval ran out.
    bool expired() const { return m_tag.trimmed() == QLatin1String("1"); }

signals:
    void Timer();

private:
    void tick();

    QTimer m_timer;
    int m_interval = 0;
    bool m_enabled = false;
    QString m_tag;
};

// One wait's own limit, independent of the shared reply timer: other lines
// sent meanwhile re-arm that timer but never stretch this limit.
class WaitLimit {
public:
    explicit WaitLimit(int milliseconds);
    ~WaitLimit();
    WaitLimit(const WaitLimit &) = delete;
    WaitLimit &operator=(const WaitLimit &) = delete;
    void restart(int milliseconds);
    bool expired() const { return m_deadline.hasExpired(); }

private:
    void start(int milliseconds);
    QDeadlineTimer m_deadline;
    int m_wake = 0; // wakes a wait blocked in the event loop at the deadline
};
