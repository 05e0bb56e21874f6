// The network window's table: a row a plan unit, with its role, the port
// chosen for it among the devices present, and what it holds now.
#include "screens/frmNetwork.h"

#include "config/modFile.h"
#include "core/AppState.h"
#include "serial/Exchange.h"
#include "serial/SerialDevices.h"
#include "serial/mod232C.h"
#include "widgets/Accessible.h"
#include "widgets/Ui.h"

#include <QComboBox>
#include <QPlainTextEdit>
#include <QTableWidget>

using namespace NetworkWindowMessages;
using namespace NetworkWindowCaptions;

namespace {

// The record as the table shows what a unit holds: band, channel, role.
QString heldText(const NetworkUnitResult &u)
{
    if (u.after.isEmpty()) // unknown, unless the unit did not answer
        return u.reason == QLatin1String("no-answer") || u.reason == QLatin1String("line-lost")
            ? caption(Unreachable)
            : QString();
    return QStringLiteral("%1  band %2  ch %3  %4")
        .arg(u.version, u.after.value(QStringLiteral("band")).toVariant().toString(),
             u.after.value(QStringLiteral("channel")).toVariant().toString(),
             u.after.value(QStringLiteral("type")).toString())
        .trimmed();
}

// When a result came: the time of day, with its date unless it is today's.
QString timeText(const QDateTime &at)
{
    return at.toString(at.date() == QDate::currentDate() ? QStringLiteral("HH:mm")
                                                          : QStringLiteral("yyyy-MM-dd HH:mm"));
}

// The exit code of a run whose port did not open: its reason follows the first line.
constexpr int PortNotOpened = 3;

} // namespace

// The table from the plan's text; a plan that cannot be used says why.
void frmNetwork::showPlan()
{
    ConfigFileError error;
    m_plan = txtPlan->toPlainText().trimmed().isEmpty()
        ? std::nullopt
        : ParseNetworkPlan(txtPlan->toPlainText(), &error);
    if (!m_plan && !txtPlan->toPlainText().trimmed().isEmpty())
        showMessage(error.describe());
    else if (m_plan)
        showMessage(QString());
    const int rows = m_plan ? int(m_plan->units.size()) : 0;
    tblUnits->setRowCount(rows);
    for (int row = 0; row < rows; ++row) {
        const NetworkUnit &unit = m_plan->units.at(row);
        const bool master = unit.record.lists[0] == QLatin1Char('0');
        tblUnits->setItem(row, ColName, new QTableWidgetItem(unit.name));
        tblUnits->setItem(row, ColRole, new QTableWidgetItem(master ? QStringLiteral("master")
                                                                    : QStringLiteral("slave")));
        for (int c = ColNow; c < Columns; ++c)
            if (!tblUnits->item(row, c))
                tblUnits->setItem(row, c, new QTableWidgetItem);
    }
    fillPorts();
    findPlanReport();
    showResults();
    fitColumns();
    enableButtons();
}

void frmNetwork::fitColumns()
{
    for (int c = ColName; c < ColResult; ++c)
        tblUnits->resizeColumnToContents(c);
    // Room for what comes while a unit runs, so that it is not cut short.
    tblUnits->setColumnWidth(ColNow, qMax(tblUnits->columnWidth(ColNow), Ui::px(4200)));
    tblUnits->setColumnWidth(ColProgress, qMax(tblUnits->columnWidth(ColProgress), Ui::px(3300)));
}

// Each unit's port chosen from the devices present, COM1 to COM9, or typed.
void frmNetwork::fillPorts()
{
    QStringList choices{QString()};
    for (const SerialDevice &d : ListSerialDevices(m_comm.linkDir()))
        choices << (d.stableName.isEmpty() ? d.path : d.stableName);
    for (int n = 1; n <= 9; ++n)
        choices << QStringLiteral("COM%1").arg(n);
    m_filling = true;
    QList<QWidget *> boxes;
    for (int row = 0; row < tblUnits->rowCount(); ++row) {
        auto *box = new QComboBox(tblUnits);
        box->setEditable(true);
        box->setInsertPolicy(QComboBox::NoInsert);
        box->addItems(choices);
        const QString port = m_plan->units.at(row).port;
        if (box->findText(port) < 0)
            box->addItem(port);
        box->setCurrentText(port);
        connect(box, &QComboBox::currentTextChanged, this, [this, row] { portChosen(row); });
        tblUnits->setCellWidget(row, ColPort, box);
        box->setObjectName(QStringLiteral("port%1").arg(row));
        Ui::nameAfter(box, app().dispName(Ui::PortOfUnit).arg(m_plan->units.at(row).name));
        boxes << box;
    }
    // Each unit's port read with its row, before the plan's text.
    Ui::tabInOrder(QList<QWidget *>{tblUnits} + boxes + QList<QWidget *>{txtPlan});
    m_filling = false;
}

QList<QString> frmNetwork::chosenPorts() const
{
    QList<QString> ports;
    for (int row = 0; row < tblUnits->rowCount(); ++row) {
        auto *box = qobject_cast<QComboBox *>(tblUnits->cellWidget(row, ColPort));
        ports << (box ? box->currentText().trimmed() : QString());
    }
    return ports;
}

// A port chosen in the table goes into the plan's text, the rest of it kept.
void frmNetwork::portChosen(int row)
{
    if (m_filling || !m_plan || row >= m_plan->units.size())
        return;
    const QString port = chosenPorts().value(row);
    const QString text = SetUnitPortInPlan(txtPlan->toPlainText(), m_plan->units.at(row).name, port);
    if (text == txtPlan->toPlainText())
        return;
    m_filling = true;
    txtPlan->setPlainText(text);
    m_filling = false;
    m_planSaved = false;
    m_plan->units[row].port = port;
}

void frmNetwork::unitChanged(int index)
{
    const NetworkUnitResult &u = m_setup.report().units.at(index);
    const int row = m_adapter == Adapter::Applying ? m_adapterUnit : m_runRows.value(index, index);
    if (row >= tblUnits->rowCount())
        return;
    showUnit(row, u);
    unitRead(row, u);
}

void frmNetwork::unitRead(int row, const NetworkUnitResult &u)
{
    const QString key = NetworkNameKey(m_plan->units.at(row).name);
    const QString held = u.done() ? heldText(u) : QString();
    if (!held.isEmpty())
        m_now.insert(key, held + QStringLiteral("  (") + timeText(u.at.isValid() ? u.at : QDateTime::currentDateTime())
                              + QLatin1Char(')'));
    else if (u.done() || m_run == Run::SetUp) // a set-up may change it
        m_now.remove(key);
    tblUnits->item(row, ColNow)->setText(m_now.value(key));
}

void frmNetwork::showResults()
{
    for (int row = 0; row < tblUnits->rowCount(); ++row) {
        const QString name = m_plan->units.at(row).name;
        tblUnits->item(row, ColNow)->setText(m_now.value(NetworkNameKey(name)));
        const int i = m_shown.indexOf(name);
        showUnit(row, i < 0 ? NetworkUnitResult() : m_shown.units.at(i));
    }
}

void frmNetwork::showUnit(int row, const NetworkUnitResult &u)
{
    const auto set = [&](int column, const QString &text) {
        if (QTableWidgetItem *item = tblUnits->item(row, column))
            item->setText(text);
    };
    set(ColProgress, u.state == NetworkUnitResult::Running && u.steps
                         ? QStringLiteral("%1 %2/%3").arg(app().message(u.stage)).arg(u.step).arg(u.steps)
                         : QString());
    static const int names[] = {Waiting, Running_, Verified, Differs, Failed, Stopped};
    QString result = caption(names[u.state]);
    if (m_run == Run::Refresh || (m_run == Run::None && u.state == NetworkUnitResult::Waiting)) {
        result.clear();
    } else if (m_shown.compare || m_run == Run::Compare) {
        if (u.state == NetworkUnitResult::Verified)
            result = caption(Matches);
    }
    if (!result.isEmpty() && u.done() && u.at.isValid())
        result += QLatin1Char(' ') + timeText(u.at);
    QStringList more;
    for (const QJsonValue &d : u.differences) {
        const QJsonObject o = d.toObject();
        more << QStringLiteral("%1 %2→%3").arg(o.value(QStringLiteral("what")).toString(),
                                               o.value(QStringLiteral("meant")).toString(),
                                               o.value(QStringLiteral("holds")).toString());
    }
    if ((u.state == NetworkUnitResult::Failed || u.state == NetworkUnitResult::Stopped) && !u.message.isEmpty())
        more << (u.exitCode == PortNotOpened ? u.message.split(QLatin1Char('\n')).join(QLatin1Char(' '))
                                             : u.message.section(QLatin1Char('\n'), 0, 0));
    if (!more.isEmpty() && !result.isEmpty())
        result += QStringLiteral(": ") + more.join(QStringLiteral("; "));
    set(ColResult, result);
    if (QTableWidgetItem *item = tblUnits->item(row, ColResult))
        // A failed unit's message names its backup already.
        item->setToolTip(Ui::plainTip(u.message + (u.backup.isEmpty() || u.message.contains(u.backup)
                                          ? QString()
                                          : QStringLiteral("\n") + app().message(ConfigMessages::Backup)
                                                + QLatin1Char(' ') + u.backup)));
}
