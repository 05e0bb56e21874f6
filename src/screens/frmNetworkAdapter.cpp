// The network window's one-adapter set-up: each unit set up when it answers
// on the one adapter, then unplugged for the next; Enter, Skip and Redo.
#include "screens/frmNetwork.h"

#include "core/AppState.h"
#include "protocol/NetworkSetup.h"
#include "serial/ReplyTimer.h"
#include "serial/mod232C.h"

#include <QPlainTextEdit>
#include <QTableWidget>


using namespace NetworkWindowMessages;
using namespace NetworkWindowCaptions;

// The one adapter's port: the first unit's that has one, else the window's.
QString frmNetwork::adapterPort() const
{
    for (const QString &p : chosenPorts())
        if (!p.isEmpty())
            return p;
    return QStringLiteral("COM%1").arg(app().ComPort);
}

void frmNetwork::adapterNext(int unit)
{
    m_adapterUnit = unit;
    if (unit >= m_shown.units.size()) {
        keepReport();
        endRun();
        showReport(m_shown);
        return;
    }
    m_adapter = Adapter::WaitForUnit;
    tblUnits->selectRow(unit);
    showMessage(app().message(PlugInNext) + QLatin1Char(' ') + m_shown.units.at(unit).name);
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
    const bool answers = m_line.PortOpen() && UnitAnswers(m_line, m_lineTimer, TimeScale::scaled(1000));
    if (m_adapter == Adapter::Off)
        return; // cancelled while it asked
    if (m_adapter == Adapter::WaitForUnit && answers) {
        m_adapter = Adapter::UnitAnswers;
        showMessage(app().message(Answering) + QLatin1Char(' ') + m_shown.units.at(m_adapterUnit).name);
        enableButtons();
        cmdThisUnit->setFocus();
    } else if (m_adapter == Adapter::UnitAnswers && !answers) {
        m_adapter = Adapter::WaitForUnit; // pulled out before it was set up
        showMessage(app().message(PlugInNext) + QLatin1Char(' ') + m_shown.units.at(m_adapterUnit).name);
        enableButtons();
    } else if (m_adapter == Adapter::WaitForUnplug && !answers && ++m_missed >= 2) {
        adapterNext(m_adapterUnit + 1);
        return;
    } else if (answers) {
        m_missed = 0;
    }
    m_poll.start(TimeScale::scaled(PollMs));
}

void frmNetwork::ThisUnit_Click()
{
    if (m_adapter != Adapter::UnitAnswers)
        return;
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
    NetworkUnitResult u = m_setup.report().units.value(0);
    u.name = m_shown.units.at(m_adapterUnit).name;
    u.role = m_shown.units.at(m_adapterUnit).role;
    m_shown.units[m_adapterUnit] = u;
    showUnit(m_adapterUnit, u);
    reopenLine();
    if (m_cancelled) {
        m_adapter = Adapter::WaitForUnplug;
        Cancel_Click();
        return;
    }
    m_adapter = Adapter::WaitForUnplug;
    m_missed = 0;
    showMessage(u.name + QStringLiteral(": ") + caption(u.state == NetworkUnitResult::Verified ? Verified : Failed)
                + QStringLiteral("; ") + app().message(Unplug));
    enableButtons();
    m_poll.start(TimeScale::scaled(PollMs));
}

void frmNetwork::Skip_Click()
{
    if (m_adapter != Adapter::WaitForUnit && m_adapter != Adapter::UnitAnswers)
        return;
    NetworkUnitResult &u = m_shown.units[m_adapterUnit];
    u.state = NetworkUnitResult::Stopped;
    u.exitCode = 1;
    u.reason = QStringLiteral("skipped");
    u.message = caption(Skip);
    u.at = QDateTime::currentDateTime();
    showUnit(m_adapterUnit, u);
    adapterNext(m_adapterUnit + 1);
}

void frmNetwork::Redo_Click()
{
    // The unit just set up, still plugged in, once more; or the one before
    // this one when it answers now.
    if (m_adapter == Adapter::UnitAnswers && m_adapterUnit > 0)
        --m_adapterUnit;
    else if (m_adapter != Adapter::WaitForUnplug)
        return;
    m_adapter = Adapter::WaitForUnit;
    NetworkUnitResult &u = m_shown.units[m_adapterUnit];
    NetworkUnitResult fresh;
    fresh.name = u.name;
    fresh.port = u.port;
    fresh.role = u.role;
    u = fresh;
    showUnit(m_adapterUnit, u);
    tblUnits->selectRow(m_adapterUnit);
    showMessage(app().message(PlugInNext) + QLatin1Char(' ') + u.name);
    enableButtons();
    m_poll.start(0);
}
