// The network window: the plan, its units and their set-up, compare and
// refresh; the one-adapter set-up unit by unit; the last report.
#include "screens/frmNetwork.h"

#include "config/modFile.h"
#include "core/AppState.h"
#include "serial/Exchange.h"
#include "serial/SerialDevices.h"
#include "serial/mod232C.h"
#include "widgets/Ui.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QShortcut>
#include <QSplitter>
#include <QTableWidget>
#include <QVBoxLayout>

using namespace NetworkWindowMessages;

namespace {

// Captions of the window (dispname.ini).
enum Caption {
    Title = 39, OpenPlan, SavePlan, SavePlanAs, Refresh, Compare, SetUp, Cancel, OneAdapter,
    ThisUnit, Skip, Redo, Export, Name, Role, Port, UnitNow, Progress, Result, Plan, PlanFiles,
    ReportFiles, Unreachable, Verified, Differs, Failed, Stopped, Matches, Waiting, Running_
};

QString caption(int n)
{
    return app().dispName(n);
}

constexpr int PollMs = 500;

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

} // namespace

frmNetwork::frmNetwork(CommControl &comm, const QString &program, QWidget *parent)
    : QWidget(parent, Qt::Window), m_comm(comm), m_program(program), m_setup(program, {})
{
    setFont(Ui::gothic(10));
    auto *top = new QVBoxLayout(this);

    auto *files = new QHBoxLayout;
    lblPlan = new QLabel(this);
    lblPlan->setTextInteractionFlags(Qt::TextSelectableByMouse);
    cmdOpen = new QPushButton(this);
    cmdSave = new QPushButton(this);
    cmdSaveAs = new QPushButton(this);
    files->addWidget(lblPlan, 1);
    for (QPushButton *b : {cmdOpen, cmdSave, cmdSaveAs})
        files->addWidget(b);
    top->addLayout(files);

    auto *split = new QSplitter(Qt::Vertical, this);
    tblUnits = new QTableWidget(0, Columns, split);
    tblUnits->verticalHeader()->hide();
    tblUnits->setSelectionBehavior(QAbstractItemView::SelectRows);
    tblUnits->setEditTriggers(QAbstractItemView::NoEditTriggers);
    tblUnits->horizontalHeader()->setSectionResizeMode(ColResult, QHeaderView::Stretch);
    txtPlan = new QPlainTextEdit(split);
    txtPlan->setTabChangesFocus(true);
    QFont mono(QStringLiteral("monospace"));
    mono.setStyleHint(QFont::Monospace);
    mono.setBold(false);
    txtPlan->setFont(mono);
    split->setStretchFactor(0, 3);
    split->setStretchFactor(1, 2);
    top->addWidget(split, 1);

    lblAcross = new QLabel(this);
    lblAcross->setWordWrap(true);
    top->addWidget(lblAcross);
    lblReport = new QLabel(this);
    lblReport->setTextInteractionFlags(Qt::TextSelectableByMouse);
    lblReport->setWordWrap(true);
    top->addWidget(lblReport);

    auto *runs = new QHBoxLayout;
    cmdRefresh = new QPushButton(this);
    cmdCompare = new QPushButton(this);
    cmdSetUp = new QPushButton(this);
    cmdCancel = new QPushButton(this);
    cmdExport = new QPushButton(this);
    chkOneAdapter = new QCheckBox(this);
    for (QWidget *w : std::initializer_list<QWidget *>{cmdRefresh, cmdCompare, cmdSetUp, cmdCancel, chkOneAdapter})
        runs->addWidget(w);
    runs->addStretch(1);
    runs->addWidget(cmdExport);
    top->addLayout(runs);

    auto *adapter = new QHBoxLayout;
    cmdThisUnit = new QPushButton(this);
    cmdSkip = new QPushButton(this);
    cmdRedo = new QPushButton(this);
    for (QPushButton *b : {cmdThisUnit, cmdSkip, cmdRedo})
        adapter->addWidget(b);
    adapter->addStretch(1);
    top->addLayout(adapter);

    TextMess = new QLineEdit(this);
    TextMess->setReadOnly(true);
    top->addWidget(TextMess);

    for (QPushButton *b : findChildren<QPushButton *>())
        b->setAutoDefault(false);
    Ui::enterPressesButtons(this);
    // The one key that sets up the unit plugged in.
    auto *enter = new QShortcut(QKeySequence(Qt::Key_Return), this);
    connect(enter, &QShortcut::activated, this, [this] {
        if (m_adapter == Adapter::UnitAnswers)
            ThisUnit_Click();
    });

    connect(cmdOpen, &QPushButton::clicked, this, &frmNetwork::Open_Click);
    connect(cmdSave, &QPushButton::clicked, this, &frmNetwork::Save_Click);
    connect(cmdSaveAs, &QPushButton::clicked, this, &frmNetwork::SaveAs_Click);
    connect(cmdRefresh, &QPushButton::clicked, this, &frmNetwork::Refresh_Click);
    connect(cmdCompare, &QPushButton::clicked, this, &frmNetwork::Compare_Click);
    connect(cmdSetUp, &QPushButton::clicked, this, &frmNetwork::SetUp_Click);
    connect(cmdCancel, &QPushButton::clicked, this, &frmNetwork::Cancel_Click);
    connect(cmdExport, &QPushButton::clicked, this, &frmNetwork::Export_Click);
    connect(cmdThisUnit, &QPushButton::clicked, this, &frmNetwork::ThisUnit_Click);
    connect(cmdSkip, &QPushButton::clicked, this, &frmNetwork::Skip_Click);
    connect(cmdRedo, &QPushButton::clicked, this, &frmNetwork::Redo_Click);
    connect(txtPlan, &QPlainTextEdit::textChanged, this, &frmNetwork::planEdited);
    connect(&m_setup, &NetworkSetup::unitChanged, this, &frmNetwork::unitChanged);
    connect(&m_setup, &NetworkSetup::finished, this, &frmNetwork::runFinished);
    connect(&m_poll, &QTimer::timeout, this, &frmNetwork::adapterPoll);
    connect(chkOneAdapter, &QCheckBox::toggled, this, &frmNetwork::enableButtons);
    m_poll.setSingleShot(true);
    // COMn as this window maps it, whatever the runs' folders hold.
    m_setup.setPortResolver([this](const QString &port) { return deviceOf(port); });
    m_line.setLinkDir(WorkFolder());
    resize(Ui::px(13500), Ui::px(9000));
}

frmNetwork::~frmNetwork() = default;

void frmNetwork::Form_Load()
{
    Ui::setTitle(this, caption(Title));
    cmdOpen->setText(caption(OpenPlan));
    cmdSave->setText(caption(SavePlan));
    cmdSaveAs->setText(caption(SavePlanAs));
    cmdRefresh->setText(caption(Refresh));
    cmdCompare->setText(caption(Compare));
    cmdSetUp->setText(caption(SetUp));
    cmdCancel->setText(caption(Cancel));
    cmdExport->setText(caption(Export));
    chkOneAdapter->setText(caption(OneAdapter));
    cmdThisUnit->setText(caption(ThisUnit));
    cmdSkip->setText(caption(Skip));
    cmdRedo->setText(caption(Redo));
    tblUnits->setHorizontalHeaderLabels({caption(Name), caption(Role), caption(Port), caption(UnitNow),
                                         caption(Progress), caption(Result)});
    lblPlan->setText(caption(Plan) + QStringLiteral(": -"));
    QString path;
    if (const auto last = LastNetworkReport(BackupFolder(), &path)) {
        m_shown = *last;
        lblReport->setText(app().message(LastReport) + QLatin1Char(' ') + QDir::toNativeSeparators(path)
                           + QStringLiteral(" (") + last->finished.toString(QStringLiteral("yyyy-MM-dd HH:mm"))
                           + QLatin1Char(')'));
    }
    showPlan();
    enableButtons();
}

bool frmNetwork::busy() const
{
    return m_run != Run::None || m_adapter != Adapter::Off;
}

bool frmNetwork::loadPlan(const QString &path)
{
    ConfigFileError error;
    const auto text = ReadConfigFileText(path, &error);
    if (!text) {
        showMessage(error.describe());
        return false;
    }
    m_planPath = path;
    txtPlan->setPlainText(*text);
    m_planSaved = true;
    lblPlan->setText(caption(Plan) + QStringLiteral(": ") + QDir::toNativeSeparators(path));
    return true;
}

void frmNetwork::showMessage(const QString &text)
{
    Ui::showLine(TextMess, text);
}

void frmNetwork::planEdited()
{
    if (m_filling)
        return;
    m_planSaved = false;
    showPlan();
}

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
    // The results shown belong to these units when the names match.
    for (int row = 0; row < rows; ++row)
        for (const NetworkUnitResult &u : std::as_const(m_shown.units))
            if (u.name == m_plan->units.at(row).name)
                showUnit(row, u);
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
    }
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

void frmNetwork::enableButtons()
{
    const bool running = busy();
    const bool usable = m_plan.has_value();
    for (QWidget *w : std::initializer_list<QWidget *>{cmdOpen, cmdSaveAs, txtPlan, chkOneAdapter})
        w->setEnabled(!running);
    cmdSave->setEnabled(!running && !m_planPath.isEmpty());
    cmdRefresh->setEnabled(!running && usable && !chkOneAdapter->isChecked());
    cmdCompare->setEnabled(!running && usable && !chkOneAdapter->isChecked());
    cmdSetUp->setEnabled(!running && usable);
    cmdCancel->setEnabled(running);
    cmdExport->setEnabled(!running && !m_shown.units.isEmpty());
    cmdThisUnit->setVisible(chkOneAdapter->isChecked());
    cmdSkip->setVisible(chkOneAdapter->isChecked());
    cmdRedo->setVisible(chkOneAdapter->isChecked());
    cmdThisUnit->setEnabled(m_adapter == Adapter::UnitAnswers);
    cmdSkip->setEnabled(m_adapter == Adapter::WaitForUnit || m_adapter == Adapter::UnitAnswers);
    cmdRedo->setEnabled(m_adapter == Adapter::WaitForUnplug || m_adapter == Adapter::UnitAnswers);
    for (int row = 0; row < tblUnits->rowCount(); ++row)
        if (QWidget *box = tblUnits->cellWidget(row, ColPort))
            box->setEnabled(!running);
}

void frmNetwork::Open_Click()
{
    const QString path = QFileDialog::getOpenFileName(this, caption(OpenPlan),
                                                      m_planPath.isEmpty() ? WorkFolder() : m_planPath,
                                                      caption(PlanFiles));
    if (!path.isEmpty())
        loadPlan(path);
}

void frmNetwork::Save_Click()
{
    if (m_planPath.isEmpty())
        return SaveAs_Click();
    QString error;
    if (!WriteConfigFile(m_planPath, txtPlan->toPlainText(), WriteMode::Replace, &error)) {
        showMessage(QDir::toNativeSeparators(m_planPath) + QStringLiteral(": ") + error);
        return;
    }
    m_planSaved = true;
    showMessage(app().message(ConfigMessages::Saved) + QLatin1Char(' ') + QDir::toNativeSeparators(m_planPath));
}

void frmNetwork::SaveAs_Click()
{
    const QString path = QFileDialog::getSaveFileName(this, caption(SavePlanAs),
                                                      m_planPath.isEmpty() ? WorkFolder() : m_planPath,
                                                      caption(PlanFiles));
    if (path.isEmpty())
        return;
    m_planPath = path;
    lblPlan->setText(caption(Plan) + QStringLiteral(": ") + QDir::toNativeSeparators(path));
    Save_Click();
    enableButtons();
}

QString frmNetwork::deviceOf(const QString &port) const
{
    static const QRegularExpression com(QStringLiteral("^COM([1-9][0-9]{0,2})$"));
    const auto m = com.match(port);
    const QString device = m.hasMatch() ? m_comm.deviceFor(m.captured(1).toInt()) : port;
    const QString canonical = QFileInfo(device).canonicalFilePath();
    return canonical.isEmpty() ? device : canonical;
}

bool frmNetwork::beginRun(Run run)
{
    if (!m_plan)
        return false;
    if (run != Run::SetUp || !chkOneAdapter->isChecked()) {
        const QString problem = PlanPortProblem(*m_plan, chosenPorts(),
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
    m_shown = NetworkReport();
    m_shown.plan = m_planPath;
    m_shown.started = QDateTime::currentDateTime();
    for (int row = 0; row < m_plan->units.size(); ++row) {
        NetworkUnitResult u;
        u.name = m_plan->units.at(row).name;
        u.port = adapterPort();
        u.role = tblUnits->item(row, ColRole)->text();
        m_shown.units << u;
        showUnit(row, u);
    }
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
        return;
    }
    adapterNext(0);
}

// The one adapter's port: the first unit's that has one, else the window's.
QString frmNetwork::adapterPort() const
{
    for (const QString &p : chosenPorts())
        if (!p.isEmpty())
            return p;
    return QStringLiteral("COM%1").arg(app().ComPort);
}

void frmNetwork::Cancel_Click()
{
    m_cancelled = true;
    if (m_adapter != Adapter::Off && m_adapter != Adapter::Applying) {
        m_poll.stop();
        for (int row = m_adapterUnit; row < m_shown.units.size(); ++row) {
            NetworkUnitResult &u = m_shown.units[row];
            if (u.done())
                continue;
            u.state = NetworkUnitResult::Stopped;
            u.exitCode = 1;
            u.reason = QStringLiteral("cancelled");
            u.message = app().message(ConfigMessages::Cancelled);
            showUnit(row, u);
        }
        keepReport();
        endRun();
        return;
    }
    showMessage(app().message(Stopping));
    m_setup.cancel();
}

void frmNetwork::unitChanged(int index)
{
    const NetworkUnitResult &u = m_setup.report().units.at(index);
    if (m_adapter == Adapter::Applying) {
        NetworkUnitResult shown = u;
        shown.name = m_shown.units.at(m_adapterUnit).name;
        shown.role = m_shown.units.at(m_adapterUnit).role;
        showUnit(m_adapterUnit, shown);
        return;
    }
    if (index < tblUnits->rowCount())
        showUnit(index, u);
}

void frmNetwork::showUnit(int row, const NetworkUnitResult &u)
{
    const auto set = [&](int column, const QString &text) {
        if (QTableWidgetItem *item = tblUnits->item(row, column))
            item->setText(text);
    };
    if (u.done() || u.state == NetworkUnitResult::Waiting)
        set(ColNow, heldText(u));
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
    QStringList more;
    for (const QJsonValue &d : u.differences) {
        const QJsonObject o = d.toObject();
        more << QStringLiteral("%1 %2→%3").arg(o.value(QStringLiteral("what")).toString(),
                                               o.value(QStringLiteral("meant")).toString(),
                                               o.value(QStringLiteral("holds")).toString());
    }
    if ((u.state == NetworkUnitResult::Failed || u.state == NetworkUnitResult::Stopped) && !u.message.isEmpty())
        more << u.message.section(QLatin1Char('\n'), 0, 0);
    if (!more.isEmpty() && !result.isEmpty())
        result += QStringLiteral(": ") + more.join(QStringLiteral("; "));
    set(ColResult, result);
    if (QTableWidgetItem *item = tblUnits->item(row, ColResult))
        item->setToolTip(u.message + (u.backup.isEmpty() ? QString()
                                                         : QStringLiteral("\n") + app().message(ConfigMessages::Backup)
                                                               + QLatin1Char(' ') + u.backup));
}

void frmNetwork::runFinished()
{
    if (m_adapter == Adapter::Applying) {
        adapterApplied();
        return;
    }
    const Run run = m_run;
    NetworkReport report = m_setup.report();
    if (run != Run::Refresh)
        m_shown = report;
    endRun();
    for (int row = 0; row < report.units.size() && row < tblUnits->rowCount(); ++row)
        showUnit(row, report.units.at(row));
    fitColumns();
    if (run == Run::Refresh) {
        showMessage(app().message(Read));
        return;
    }
    showReport(report);
    if (run == Run::SetUp)
        keepReport();
}

void frmNetwork::showReport(const NetworkReport &report)
{
    QStringList across;
    for (int m : report.disagreements)
        across << app().message(m);
    lblAcross->setText(across.join(QLatin1Char('\n')));
    if (report.compare)
        showMessage(app().message(report.exitCode() == 0 ? AllMatch : SomeDiffer));
    else
        showMessage(app().message(report.exitCode() == 0 ? AllVerified : NotAll));
    enableButtons();
}

void frmNetwork::keepReport()
{
    m_shown.finished = QDateTime::currentDateTime();
    m_shown.checkAcrossUnits();
    QString error;
    if (const auto kept = KeepNetworkReport(m_shown, BackupFolder(), &error))
        lblReport->setText(app().message(ReportKept) + QLatin1Char(' ') + QDir::toNativeSeparators(*kept));
    else
        lblReport->setText(app().message(NotWrittenMessage) + QLatin1Char(' ') + BackupFolder() + QStringLiteral(": ") + error);
    enableButtons();
}

void frmNetwork::Export_Click()
{
    const QString path = QFileDialog::getSaveFileName(this, caption(Export), WorkFolder(), caption(ReportFiles));
    if (path.isEmpty())
        return;
    QString error;
    if (ExportNetworkReport(m_shown, path, &error))
        showMessage(app().message(ConfigMessages::Saved) + QLatin1Char(' ') + QDir::toNativeSeparators(path));
    else
        showMessage(QDir::toNativeSeparators(path) + QStringLiteral(": ") + error);
}

// One adapter --------------------------------------------------------------

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

void frmNetwork::closeEvent(QCloseEvent *event)
{
    // Units under way are never left to runs nobody watches.
    if (busy()) {
        showMessage(app().message(ExchangeBusyMessage));
        event->ignore();
        return;
    }
    if (!m_planSaved && !txtPlan->toPlainText().trimmed().isEmpty()
        && !Ui::ask(this, caption(Title), app().message(Unsaved))) {
        event->ignore();
        return;
    }
    event->accept();
}
