#pragma once
// The simulated unit on a pseudo-terminal: it keeps the master side and the
// program opens the slave, as it would a serial port.

#include "sim/SimSchedule.h"
#include "sim/SimUnit.h"

#include <QByteArray>
#include <QObject>
#include <QString>

class QSocketNotifier;
class QTimer;

class SimPeer : public QObject {
    Q_OBJECT
public:
    explicit SimPeer(QObject *parent = nullptr);
    ~SimPeer() override;

    bool isOpen() const { return m_master >= 0; }
    QString slavePath() const { return m_slavePath; }
    SimUnit &unit() { return m_unit; }
    SimSchedule &schedule() { return *m_schedule; } // delays and their order

    // Faults of the line itself.
    bool silent = false;
    void setBitRate(int bitsPerSecond); // 0: no wire time
    // Act like an unplugged cable: the master side goes away.
    void dropLine();

    // Everything received so far, and the command lines among it.
    QByteArray received() const { return m_received; }
    QList<QByteArray> receivedLines() const;
    void clearReceived() { m_received.clear(); }
    int pendingBytes() const { return int(m_pending.size()); }
    qint64 sentBytes() const { return m_sent; } // answers put on the line so far

    // Raw bytes to the program, as a unit's noise or a test's own line.
    void sendRaw(const QByteArray &bytes);

    // File the state is saved to after every change (empty: none).
    void setStateFile(const QString &path) { m_stateFile = path; }
    bool loadState(const QString &path);
    bool saveState() const;
    // Another unit on the line: this one's state back to its file, then
    // the state in `path` (a fresh unit where there is no file yet), saved
    // there from now on. The line's faults stay. False: nothing changed.
    bool swapUnit(const QString &path);

signals:
    void lineReceived(const QByteArray &line);

private:
    void onReadable();
    void queue(const QByteArray &bytes);
    void pump();

    int m_master = -1;
    int m_slaveKeep = -1;
    QString m_slavePath;
    QSocketNotifier *m_notifier = nullptr;
    QTimer *m_pace = nullptr;
    SimSchedule *m_schedule = nullptr;
    SimUnit m_unit;
    QByteArray m_received;
    QByteArray m_pending; // bytes not yet on the wire
    int m_bitRate = 0;
    qint64 m_paceStartMs = 0;
    qint64 m_pacedBytes = 0;
    qint64 m_sent = 0;
    QString m_stateFile;
    mutable QString m_lastSaved;

    static constexpr int MaxReceived = 1 << 20;
    static constexpr int MaxPending = 1 << 16;
};
