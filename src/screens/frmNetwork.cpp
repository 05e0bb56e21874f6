// The network window: its layout, the runs of a plan (set-up, compare,
// refresh) and their progress. The table, the files and the one-adapter
// set-up are in files of their own beside it.
#include "screens/frmNetwork.h"

#include "config/modFile.h"
#include "core/AppState.h"
#include "serial/Exchange.h"
#include "serial/SerialDevices.h"
#include "serial/mod232C.h"
#include "widgets/Ui.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QDir>
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
using namespace NetworkWindowCaptions;

QString NetworkWindowCaptions::caption(int n)
{
    return app().dispName(n);
}

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

void frmNetwork::showMessage(const QString &text)
{
    Ui::showLine(TextMess, text);
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

// One adapter --------------------------------------------------------------

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
