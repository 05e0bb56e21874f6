#pragma once
// One exchange at a time on a serial connection. The unit answers one command
// line at a time and its answers carry little to tell whose they are, so every
// exchange (a screen's button, the register editor, the preset, a transfer,
// the port dialog, the reopen of a lost line) holds the connection's gate
// while it runs: the link poll pauses, the windows ask the gate before they
// start anything, and a wait whose connection is closed, reopened or replaced
// ends as a lost line. What arrived before an exchange is never its answer.

#include <QtGlobal>

class CommControl;

class Exchange {
public:
    // Takes the gate when it is free. `owner` names who holds it (a window
    // asks whether the exchange under way is its own); none: this exchange.
    explicit Exchange(CommControl &comm, const void *owner = nullptr);
    ~Exchange();
    Exchange(const Exchange &) = delete;
    Exchange &operator=(const Exchange &) = delete;

    // False when another exchange was under way: this one must send nothing.
    bool started() const { return m_started; }
    // The message for a failed exchange: `failed` while its connection
    // stands; else that the line was lost (or the port replaced) during it,
    // or that the port was closed from the start.
    int failureMessage(int failed) const;

private:
    CommControl &m_comm;
    bool m_started = false;
    bool m_openAtStart = false;
    quint64 m_connection = 0;
};

// Message-table number: an exchange with the unit is under way.
constexpr int ExchangeBusyMessage = 100;
