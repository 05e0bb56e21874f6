// The network window's runs of a plan: set-up, compare and refresh, each
// unit by a run of the command line on the port chosen for it, and the
// retry of the units a set-up did not verify.
#include "screens/frmNetwork.h"

#include "config/modFile.h"
#include "core/AppState.h"
#include "records/SiteBookOutcomes.h"
#include "serial/Exchange.h"
#include "serial/mod232C.h"
#include "widgets/BookEntry.h"

#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QTableWidget>

using namespace NetworkWindowMessages;
using namespace NetworkWindowCaptions;

namespace {
const QRegularExpression &comPort()
{
    static const QRegularExpression com(QStringLiteral("^COM([1-9][0-9]{0,2})$"));
    return com;
}
} // namespace

QString frmNetwork::deviceOf(const QString &port) const
{
    const auto m = comPort().match(port);
    const QString device = m.hasMatch() ? m_comm.deviceFor(m.captured(1).toInt()) : port;
    const QString canonical = QFileInfo(device).canonicalFilePath();
    return canonical.isEmpty() ? device : canonical;
}

QString frmNetwork::runPortOf(const QString &port) const
{
    // A run maps COMn by the links in its work folder, this window's own.
    const auto m = comPort().match(port);
    if (!m.hasMatch()
        || QDir(m_comm.linkDir()).absolutePath() == QDir(WorkFolder()).absolutePath())
        return port;
    return m_comm.deviceFor(m.captured(1).toInt());
}

NetworkPlan frmNetwork::planOf(const QList<int> &rows, QList<QString> *ports) const
{
    NetworkPlan plan = *m_plan;
    if (rows.isEmpty()) {
        *ports = chosenPorts();
        return plan;
    }
    plan.units.clear();
    ports->clear();
    for (int row : rows) {
        plan.units << m_plan->units.at(row);
        ports->append(chosenPorts().value(row));
    }
    return plan;
}

bool frmNetwork::beginRun(Run run, const QList<int> &rows)
{
    if (!m_plan)
        return false;
    if (run != Run::SetUp || !chkOneAdapter->isChecked()) {
        QList<QString> ports;
        const QString problem = PlanPortProblem(planOf(rows, &ports), ports,
                                                [this](const QString &port) { return deviceOf(port); });
        if (!problem.isEmpty()) {
            showMessage(problem);
            return false;
        }
    }
    auto gate = std::make_unique<Exchange>(m_comm, this);
    if (!gate->started()) {
        showMessage(app().message(ExchangeBusyMessage));
        return false;
    }
    m_gate = std::move(gate);
    // Each port has one user: the units' runs, not this window's own port.
    m_portWasOpen = m_comm.PortOpen();
    if (m_portWasOpen)
        ClosePort(m_comm);
    m_run = run;
    m_cancelled = false;
    m_retrying = false;
    m_runRows = rows;
    if (rows.isEmpty())
        for (int row = 0; row < m_plan->units.size(); ++row)
            m_runRows << row;
    m_lookedUp = PlanDigest(txtPlan->toPlainText());
    showMessage(app().message(Running));
    enableButtons();
    return true;
}

void frmNetwork::endRun()
{
    if (m_line.PortOpen())
        ClosePort(m_line);
    if (m_portWasOpen) {
        const AppState &s = app();
        ReopenPort(m_comm, s.ComPort, s.ComBaud, s.ComDataBits, s.ComParity, s.ComStopBits);
    }
    m_portWasOpen = false;
    m_gate.reset();
    m_run = Run::None;
    m_adapter = Adapter::Off;
    enableButtons();
}

void frmNetwork::Refresh_Click()
{
    if (!beginRun(Run::Refresh))
        return;
    m_setup.start(txtPlan->toPlainText(), m_planPath, *m_plan, chosenPorts(), true);
}

void frmNetwork::Compare_Click()
{
    if (!beginRun(Run::Compare))
        return;
    m_setup.start(txtPlan->toPlainText(), m_planPath, *m_plan, chosenPorts(), true);
}

void frmNetwork::SetUp_Click()
{
    if (!beginRun(Run::SetUp))
        return;
    lblAcross->clear();
    if (!chkOneAdapter->isChecked()) {
        m_setup.start(txtPlan->toPlainText(), m_planPath, *m_plan, chosenPorts(), false);
        return;
    }
    // One adapter: every unit waits its turn; the report grows unit by unit.
    if (!adapterOpen())
        return;
    m_shown = NetworkReport();
    m_shownPath.clear();
    m_shown.plan = m_planPath;
    m_shown.planSha256 = m_lookedUp;
    m_shown.started = QDateTime::currentDateTime();
    for (int row = 0; row < m_plan->units.size(); ++row) {
        NetworkUnitResult u;
        u.name = m_plan->units.at(row).name;
        u.port = adapterPort();
        u.role = tblUnits->item(row, ColRole)->text();
        m_shown.units << u;
        showUnit(row, u);
    }
    m_lastSetUp = -1;
    adapterStart(m_runRows);
}

void frmNetwork::Retry_Click()
{
    if (busy() || !m_plan || !reportIsThisPlans())
        return;
    // The report to come: this plan's units in its order, each as the
    // report shown has it.
    NetworkReport next;
    next.plan = m_planPath;
    next.planSha256 = m_shown.planSha256;
    next.completes = m_shownPath;
    next.started = QDateTime::currentDateTime();
    QList<int> rows;
    for (int row = 0; row < m_plan->units.size(); ++row) {
        const int i = m_shown.indexOf(m_plan->units.at(row).name);
        NetworkUnitResult u = i < 0 ? NetworkUnitResult() : m_shown.units.at(i);
        if (i < 0) {
            u.name = m_plan->units.at(row).name;
            u.role = tblUnits->item(row, ColRole)->text();
        }
        if (u.state != NetworkUnitResult::Verified)
            rows << row;
        next.units << u;
    }
    if (rows.isEmpty()) {
        showMessage(app().message(NothingToRetry));
        return;
    }
    if (!beginRun(Run::SetUp, rows) || (chkOneAdapter->isChecked() && !adapterOpen()))
        return;
    m_retrying = true;
    m_shown = next;
    m_shownPath.clear();
    lblAcross->clear();
    if (chkOneAdapter->isChecked()) {
        for (int row : rows)
            m_shown.units[row].port = adapterPort();
        adapterStart(rows);
        return;
    }
    QList<QString> ports;
    const NetworkPlan plan = planOf(rows, &ports);
    m_setup.start(txtPlan->toPlainText(), m_planPath, plan, ports, false);
}

void frmNetwork::Cancel_Click()
{
    m_cancelled = true;
    if (m_adapter != Adapter::Off && m_adapter != Adapter::Applying) {
        adapterLeave(QStringLiteral("cancelled"), app().message(ConfigMessages::Cancelled));
        return;
    }
    showMessage(app().message(Stopping));
    m_setup.cancel();
}

void frmNetwork::runFinished()
{
    // Each unit's run recorded itself: what the book could not take is said
    // where the main window says it.
    for (const NetworkUnitResult &u : m_setup.report().units)
        if (u.siteBook.value(QStringLiteral("recorded")) == false)
            emit Ui::BookNotices::instance().notRecorded(
                u.name + QStringLiteral(": ")
                + NotRecordedText(u.siteBook.value(QStringLiteral("reason")).toString(),
                                  u.siteBook.value(QStringLiteral("pending")).toString()));
    if (m_adapter == Adapter::Applying) {
        adapterApplied();
        return;
    }
    const Run run = m_run;
    const NetworkReport report = m_setup.report();
    if (run == Run::SetUp && m_retrying) {
        // A retry: each unit's new result completes its last one.
        for (int i = 0; i < report.units.size(); ++i)
            m_shown.units[m_runRows.at(i)].redoneAs(report.units.at(i));
    } else if (run != Run::Refresh) {
        m_shown = report;
        m_shownPath.clear();
        m_shown.planSha256 = m_lookedUp;
    }
    endRun();
    showResults();
    fitColumns();
    if (run == Run::Refresh) {
        showMessage(app().message(Read));
        return;
    }
    if (run == Run::SetUp)
        keepReport();
    showReport(m_shown);
}
