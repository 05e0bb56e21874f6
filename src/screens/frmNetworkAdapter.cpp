// The network window's one-adapter set-up: each unit set up when it answers
// on the one adapter, then unplugged for the next; Enter, Skip and Redo.
// Which unit is on the line is told by what answers and what it holds: a
// unit still holding the record just written to another is not taken for
// the next one unasked.
#include "screens/frmNetwork.h"

#include "core/AppState.h"
#include "protocol/NetworkSetup.h"
#include "protocol/UnitTransfer.h"
#include "serial/ReplyTimer.h"
#include "serial/mod232C.h"
#include "widgets/Ui.h"

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTableWidget>

using namespace NetworkWindowMessages;
using namespace NetworkWindowCaptions;

namespace {
// What a run wrote to the unit and read back: a unit found holding it is
// likely that unit.
bool wroteRecord(const NetworkUnitResult &u)
{
    return (u.state == NetworkUnitResult::Verified || u.state == NetworkUnitResult::Differs) && !u.after.isEmpty();
}

// A unit counts as unplugged after this long without an answer: a poll or
// two lost to a loose plug is not one.
constexpr int UnplugMs = 3000;
// How long a vanished adapter is waited for.
constexpr int AdapterPatienceMs = 10 * 60 * 1000;
} // namespace

// The one adapter's port: the first unit's that has one, else the window's.
QString frmNetwork::adapterPort() const
{
    for (const QString &p : chosenPorts())
        if (!p.isEmpty())
            return p;
    return QStringLiteral("COM%1").arg(app().ComPort);
}

bool frmNetwork::adapterOpen()
{
    const AppState &s = app();
    const QString port = adapterPort();
    if (port.startsWith(QLatin1String("COM"))) {
        m_line.setDevicePath(QString());
        m_line.setCommPort(port.mid(3).toInt());
    } else {
        m_line.setDevicePath(port);
    }
    if (!OpenPort(m_line, qint16(qBound(1, port.startsWith(QLatin1String("COM")) ? port.mid(3).toInt() : s.ComPort, 255)),
                  s.ComBaud, s.ComDataBits, s.ComParity, s.ComStopBits)) {
        endRun();
        return false;
    }
    return true;
}

void frmNetwork::adapterStart(const QList<int> &rows)
{
    m_todo = rows;
    m_passDone.clear();
    m_redoable = m_quiet = m_gone = false;
    adapterNext(nextAfter(-1));
}

int frmNetwork::nextAfter(int row) const
{
    for (int r : m_todo)
        if (r > row && !m_passDone.contains(r))
            return r;
    return -1;
}

void frmNetwork::adapterSay(const QString &text)
{
    m_saying = text;
    if (!m_gone)
        showMessage(text);
}

void frmNetwork::adapterNext(int unit)
{
    if (unit < 0) {
        adapterFinish();
        return;
    }
    m_adapterUnit = unit;
    m_adapter = Adapter::WaitForUnit;
    m_redoable = false;
    tblUnits->selectRow(unit);
    adapterSay(app().message(PlugInNext) + QLatin1Char(' ') + m_shown.units.at(unit).name);
    enableButtons();
    m_poll.start(0);
}

void frmNetwork::reopenLine()
{
    const AppState &s = app();
    ReopenPort(m_line, m_line.commPort() ? qint16(m_line.commPort()) : s.ComPort, s.ComBaud,
               s.ComDataBits, s.ComParity, s.ComStopBits);
}

void frmNetwork::adapterPoll()
{
    if (m_adapter != Adapter::WaitForUnit && m_adapter != Adapter::UnitAnswers
        && m_adapter != Adapter::WaitForUnplug)
        return;
    if (!m_line.PortOpen()) // the adapter itself was pulled: it comes back by itself
        reopenLine();
    if (!m_line.PortOpen()) {
        adapterGone();
        return;
    }
    if (m_gone) { // back: what was on it is told afresh
        m_gone = false;
        m_quiet = true;
        m_lastAnswer.restart();
        showMessage(m_saying);
    }
    const bool answers = UnitAnswers(m_line, m_lineTimer, PollAnswerMs);
    if (m_adapter == Adapter::Off)
        return; // cancelled while it asked
    if (m_line.PortOpen())
        adapterHeard(answers);
    if (m_adapter == Adapter::WaitForUnit || m_adapter == Adapter::UnitAnswers
        || m_adapter == Adapter::WaitForUnplug)
        m_poll.start(TimeScale::scaled(PollMs));
}

void frmNetwork::adapterGone()
{
    if (!m_gone) {
        m_gone = true;
        m_goneFor.start();
        showMessage(app().message(AdapterGone));
        if (m_adapter == Adapter::UnitAnswers) {
            m_adapter = Adapter::WaitForUnit;
            m_saying = app().message(PlugInNext) + QLatin1Char(' ') + m_shown.units.at(m_adapterUnit).name;
        }
        enableButtons();
    } else if (m_goneFor.hasExpired(TimeScale::scaled(AdapterPatienceMs))) {
        adapterLeave(QStringLiteral("line-lost"), app().message(AdapterLost));
        return;
    }
    m_poll.start(TimeScale::scaled(PollMs));
}

bool frmNetwork::holdsRecordOf(int row)
{
    if (row < 0 || row >= m_shown.units.size() || !wroteRecord(m_shown.units.at(row)))
        return false;
    UnitRecord holds;
    return ReadRecord(m_line, m_lineTimer, holds) == 0 && HoldsRecordOf(holds, m_shown.units.at(row).after);
}

void frmNetwork::adapterHeard(bool answers)
{
    const bool afterQuiet = m_quiet;
    m_quiet = !answers;
    if (answers)
        m_lastAnswer.restart();
    const QString next = m_shown.units.at(m_adapterUnit).name;
    switch (m_adapter) {
    case Adapter::WaitForUnit:
        if (!answers)
            return;
        if (m_lastSetUp >= 0 && m_lastSetUp != m_adapterUnit && holdsRecordOf(m_lastSetUp)) {
            const QString last = m_shown.units.at(m_lastSetUp).name;
            if (!Ui::ask(this, caption(Title), app().message(PluggedIn) + QLatin1Char(' ')
                                                   + app().message(SameRecord).arg(last, next))) {
                m_adapterUnit = m_lastSetUp; // the same unit: its unplugging waited for
                m_adapter = Adapter::WaitForUnplug;
                adapterSay(app().message(PluggedIn) + QLatin1Char(' ') + app().message(TakenForSame).arg(last, next));
                enableButtons();
                return;
            }
            m_setUpAgain = m_lastSetUp; // its result stands until this one is set up
        }
        break;
    case Adapter::UnitAnswers:
        if (!answers) { // pulled out before it was set up
            m_setUpAgain = -1;
            m_adapter = Adapter::WaitForUnit;
            adapterSay(app().message(PlugInNext) + QLatin1Char(' ') + next);
            enableButtons();
        }
        return;
    case Adapter::WaitForUnplug:
        if (!answers) {
            if (m_lastAnswer.hasExpired(TimeScale::scaled(UnplugMs)))
                adapterNext(nextAfter(m_adapterUnit));
            else
                enableButtons();
            return;
        }
        // Answering again after a pause: the same unit, or one plugged in meanwhile.
        if (!afterQuiet || !wroteRecord(m_shown.units.at(m_adapterUnit)) || holdsRecordOf(m_adapterUnit)) {
            enableButtons();
            return;
        }
        m_redoable = false;
        m_adapterUnit = nextAfter(m_adapterUnit);
        if (m_adapterUnit < 0) {
            adapterFinish();
            return;
        }
        break;
    default:
        return;
    }
    m_adapter = Adapter::UnitAnswers;
    tblUnits->selectRow(m_adapterUnit);
    adapterSay(app().message(Answering) + QLatin1Char(' ') + m_shown.units.at(m_adapterUnit).name);
    enableButtons();
    cmdThisUnit->setFocus();
}

void frmNetwork::ThisUnit_Click()
{
    if (m_adapter != Adapter::UnitAnswers || m_gone)
        return;
    // The unit set up before is set up again under another name: what its
    // row said is true of no unit now.
    if (m_setUpAgain >= 0 && m_setUpAgain < m_shown.units.size()) {
        m_shown.units[m_setUpAgain].overwrittenBy(m_shown.units.at(m_adapterUnit).name);
        showUnit(m_setUpAgain, m_shown.units.at(m_setUpAgain));
    }
    m_setUpAgain = -1;
    adapterApply();
}

void frmNetwork::Redo_Click()
{
    if (m_adapter == Adapter::WaitForUnplug && m_redoable && !m_quiet && !m_gone)
        adapterApply();
}

void frmNetwork::adapterApply()
{
    m_poll.stop();
    m_adapter = Adapter::Applying;
    enableButtons();
    // The unit's run opens the port itself: one user at a time.
    ClosePort(m_line);
    NetworkPlan one = *m_plan;
    one.units = {m_plan->units.at(m_adapterUnit)};
    m_setup.start(txtPlan->toPlainText(), m_planPath, one, {adapterPort()}, false);
}

void frmNetwork::adapterApplied()
{
    const int row = m_adapterUnit;
    NetworkUnitResult &u = m_shown.units[row];
    u.redoneAs(m_setup.report().units.value(0)); // a redo keeps what was found first
    showUnit(row, u);
    m_passDone << row;
    m_lastSetUp = row;
    reopenLine();
    m_adapter = Adapter::WaitForUnplug;
    if (m_cancelled) {
        Cancel_Click();
        return;
    }
    if (nextAfter(row) < 0) {
        adapterFinish();
        return;
    }
    m_redoable = true;
    m_quiet = false;
    m_lastAnswer.restart();
    adapterSay(u.name + QStringLiteral(": ") + caption(u.state == NetworkUnitResult::Verified ? Verified : Failed)
               + QStringLiteral("; ") + app().message(Unplug));
    enableButtons();
    m_poll.start(TimeScale::scaled(PollMs));
}

void frmNetwork::Skip_Click()
{
    if (m_adapter != Adapter::WaitForUnit && m_adapter != Adapter::UnitAnswers)
        return;
    NetworkUnitResult &u = m_shown.units[m_adapterUnit];
    if (u.state != NetworkUnitResult::Verified) { // what a unit was found verified stays so
        u.state = NetworkUnitResult::Stopped;
        u.exitCode = 1;
        u.reason = QStringLiteral("skipped");
        u.message = caption(Skip);
        u.at = QDateTime::currentDateTime();
        showUnit(m_adapterUnit, u);
    }
    m_passDone << m_adapterUnit;
    adapterNext(nextAfter(m_adapterUnit));
}

void frmNetwork::adapterLeave(const QString &reason, const QString &message)
{
    m_poll.stop();
    for (int row : std::as_const(m_todo)) {
        if (m_passDone.contains(row))
            continue;
        NetworkUnitResult &u = m_shown.units[row];
        u.state = NetworkUnitResult::Stopped;
        u.exitCode = 1;
        u.reason = reason;
        u.message = message;
        u.at = QDateTime::currentDateTime();
        showUnit(row, u);
    }
    adapterFinish();
}

void frmNetwork::adapterFinish()
{
    m_poll.stop();
    m_gone = false;
    keepReport();
    endRun();
    showReport(m_shown);
    QStringList remaining;
    for (const NetworkUnitResult &u : std::as_const(m_shown.units))
        if (u.state != NetworkUnitResult::Verified)
            remaining << u.name;
    showMessage(remaining.isEmpty() ? app().message(Complete)
                                    : app().message(Remaining) + QLatin1Char(' ') + remaining.join(QStringLiteral(", ")));
}
