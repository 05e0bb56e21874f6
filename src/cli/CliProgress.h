#pragma once
// A transfer's progress for people, on standard error: on a terminal a line
// a running unit, rewritten in place; elsewhere, and only with --progress, a
// plain line a stage, so that what scripts read there stays as it was.
// Standard output is never written.

#include "cli/CommandLine.h"

#include <QElapsedTimer>
#include <QList>
#include <QString>

namespace Cli {

class ProgressBoard {
public:
    enum Style { None, Lines, Live };
    explicit ProgressBoard(Style style) : m_style(style) {}
    Style style() const { return m_style; }

    // Unit `key` (the caller's number for it), shown as `name`, begins
    // exchange n of `total` in `stage` (a message number).
    void update(int key, const QString &name, int stage, int n, int total);
    // The unit's line leaves the live ones; `line`, when there is one, is
    // printed above what remains.
    void finish(int key, const QString &line);
    // Other output (a traced row) above the live lines.
    void print(const QString &line);

private:
    struct Unit {
        int key = 0;
        QString name;
        int stage = 0, n = 0, total = 0, first = 0;
        QElapsedTimer since; // from the start of exchange `first`
        qint64 basis = 0;    // ... to the start of exchange n
    };
    // "35 s": the time the exchanges so far took, spread over those to
    // come; empty while none has ended.
    static QString timeLeft(const Unit &u);
    QString text(const Unit &u) const;
    void draw(const QString &above);

    Style m_style;
    QList<Unit> m_units;
    int m_drawn = 0; // live lines on the terminal, the cursor below them
};

// How a unit's own run shows progress: on a terminal in place, unless
// --trace prints its rows there too (then a line a stage among them).
ProgressBoard::Style UnitProgressStyle(const CliRequest &r);

// A single unit's transfer on a board of its own, the unit called `name`;
// nothing with ProgressBoard::None.
TransferProgress UnitProgress(ProgressBoard::Style style, const QString &name);

} // namespace Cli
