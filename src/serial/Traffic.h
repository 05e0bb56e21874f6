#pragma once
// Every line sent and received, and what else happened on the line, as it
// happens: the one source the debug log and the traffic console both read,
// so that they never disagree. With nobody listening it costs nothing but a
// check.

#include <QDateTime>
#include <QObject>
#include <QString>

struct TrafficEvent {
    // Dropped: a line that came when no command could own it (a late
    // answer); Echo: the adapter repeating the line just sent.
    enum Kind { Sent, Received, Note, Dropped, Echo };
    qint64 msecs = 0; // since the epoch: cheap to take, turned into local time when shown
    Kind kind = Note;
    QString text; // the line as it went or came, without CR LF; a note's words
    QDateTime time() const { return QDateTime::fromMSecsSinceEpoch(msecs); }
};

class TrafficHub : public QObject {
    Q_OBJECT
public:
    static TrafficHub &instance();
    // Somebody listens: only then is an event made.
    bool listened() const { return m_listeners > 0; }
    void publish(const TrafficEvent &event) { emit happened(event); }

signals:
    void happened(const TrafficEvent &event);

protected:
    void connectNotify(const QMetaMethod &signal) override;
    void disconnectNotify(const QMetaMethod &signal) override;

private:
    int m_listeners = 0;
};

// A line as the console shows it: CR, LF and other control characters by
// name, bytes outside printable ASCII as hex, so nothing on the line hides.
QString VisibleLine(const QString &text);
