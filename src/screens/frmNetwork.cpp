// The network window: its layout and what it offers when. The runs, the
// table, the files and the one-adapter set-up are in files of their own
// beside it.
#include "screens/frmNetwork.h"

#include "config/modFile.h"
#include "core/AppState.h"
#include "screens/frmHandover.h"
#include "serial/Exchange.h"
#include "widgets/Accessible.h"
#include "widgets/MessageLine.h"
#include "widgets/ScreenFit.h"
#include "widgets/Ui.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
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
    cmdNew = new QPushButton(this);
    cmdOpen = new QPushButton(this);
    cmdSave = new QPushButton(this);
    cmdSaveAs = new QPushButton(this);
    files->addWidget(lblPlan, 1);
    for (QPushButton *b : {cmdNew, cmdOpen, cmdSave, cmdSaveAs})
        files->addWidget(b);
    top->addLayout(files);

    auto *split = new QSplitter(Qt::Vertical, this);
    tblUnits = new QTableWidget(0, Columns, split);
    tblUnits->verticalHeader()->hide();
    tblUnits->setSelectionBehavior(QAbstractItemView::SelectRows);
    tblUnits->setEditTriggers(QAbstractItemView::NoEditTriggers);
    tblUnits->horizontalHeader()->setSectionResizeMode(ColResult, QHeaderView::Stretch);
    Ui::fitCells(tblUnits); // a long result wraps in its row
    txtPlan = new QPlainTextEdit(split);
    txtPlan->setTabChangesFocus(true);
    Ui::nameAfter(txtPlan, app().dispName(Ui::PlanText));
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
    cmdRetry = new QPushButton(this);
    cmdHandover = new QPushButton(this);
    chkOneAdapter = new QCheckBox(this);
    for (QWidget *w : std::initializer_list<QWidget *>{cmdRefresh, cmdCompare, cmdSetUp, cmdRetry, cmdCancel})
        runs->addWidget(w);
    runs->addStretch(1);
    runs->addWidget(cmdExport);
    runs->addWidget(cmdHandover);
    top->addLayout(runs);

    auto *adapter = new QHBoxLayout;
    cmdThisUnit = new QPushButton(this);
    cmdSkip = new QPushButton(this);
    cmdRedo = new QPushButton(this);
    // The switch beside the buttons it brings, not on the row above: that
    // row fits a screen at 150 %.
    adapter->addWidget(chkOneAdapter);
    for (QPushButton *b : {cmdThisUnit, cmdSkip, cmdRedo})
        adapter->addWidget(b);
    adapter->addStretch(1);
    top->addLayout(adapter);

    TextMess = new MessageLine(this);
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

    connect(cmdNew, &QPushButton::clicked, this, &frmNetwork::New_Click);
    connect(cmdOpen, &QPushButton::clicked, this, &frmNetwork::Open_Click);
    connect(cmdSave, &QPushButton::clicked, this, &frmNetwork::Save_Click);
    connect(cmdSaveAs, &QPushButton::clicked, this, &frmNetwork::SaveAs_Click);
    connect(cmdRefresh, &QPushButton::clicked, this, &frmNetwork::Refresh_Click);
    connect(cmdCompare, &QPushButton::clicked, this, &frmNetwork::Compare_Click);
    connect(cmdSetUp, &QPushButton::clicked, this, &frmNetwork::SetUp_Click);
    connect(cmdCancel, &QPushButton::clicked, this, &frmNetwork::Cancel_Click);
    connect(cmdExport, &QPushButton::clicked, this, &frmNetwork::Export_Click);
    connect(cmdRetry, &QPushButton::clicked, this, &frmNetwork::Retry_Click);
    connect(cmdHandover, &QPushButton::clicked, this, &frmNetwork::Handover_Click);
    connect(cmdThisUnit, &QPushButton::clicked, this, &frmNetwork::ThisUnit_Click);
    connect(cmdSkip, &QPushButton::clicked, this, &frmNetwork::Skip_Click);
    connect(cmdRedo, &QPushButton::clicked, this, &frmNetwork::Redo_Click);
    connect(txtPlan, &QPlainTextEdit::textChanged, this, &frmNetwork::planEdited);
    connect(&m_setup, &NetworkSetup::unitChanged, this, &frmNetwork::unitChanged);
    connect(&m_setup, &NetworkSetup::finished, this, &frmNetwork::runFinished);
    connect(&m_poll, &QTimer::timeout, this, &frmNetwork::adapterPoll);
    connect(chkOneAdapter, &QCheckBox::toggled, this, &frmNetwork::enableButtons);
    m_poll.setSingleShot(true);
    m_setup.setPortResolver([this](const QString &port) { return runPortOf(port); });
    m_line.setLinkDir(WorkFolder());
    resize(Ui::px(13500), Ui::px(9000));
    Ui::setNames({{cmdNew, "cmdNew"}, {cmdOpen, "cmdOpen"}, {cmdSave, "cmdSave"}, {cmdSaveAs, "cmdSaveAs"},
                  {tblUnits, "tblUnits"}, {txtPlan, "txtPlan"}, {cmdRefresh, "cmdRefresh"}, {cmdCompare, "cmdCompare"},
                  {cmdSetUp, "cmdSetUp"}, {cmdCancel, "cmdCancel"}, {cmdExport, "cmdExport"}, {cmdRetry, "cmdRetry"},
                  {cmdHandover, "cmdHandover"}, {chkOneAdapter, "chkOneAdapter"}, {cmdThisUnit, "cmdThisUnit"},
                  {cmdSkip, "cmdSkip"}, {cmdRedo, "cmdRedo"}});
    // As the rows read, left to right.
    Ui::tabInOrder({cmdNew, cmdOpen, cmdSave, cmdSaveAs, tblUnits, txtPlan, cmdRefresh, cmdCompare, cmdSetUp, cmdRetry,
                    cmdCancel, cmdExport, cmdHandover, chkOneAdapter, cmdThisUnit, cmdSkip, cmdRedo, TextMess});
    Ui::fitScreen(this);
}

frmNetwork::~frmNetwork() = default;

void frmNetwork::Form_Load()
{
    Ui::setTitle(this, caption(Title));
    cmdNew->setText(caption(NewPlan));
    cmdOpen->setText(caption(OpenPlan));
    cmdSave->setText(caption(SavePlan));
    cmdSaveAs->setText(caption(SavePlanAs));
    cmdRefresh->setText(caption(Refresh));
    cmdCompare->setText(caption(Compare));
    cmdSetUp->setText(caption(SetUp));
    cmdCancel->setText(caption(Cancel));
    cmdExport->setText(caption(Export));
    cmdRetry->setText(caption(RetryFailed));
    cmdHandover->setText(caption(HandoverWindow::Button));
    chkOneAdapter->setText(caption(OneAdapter));
    cmdThisUnit->setText(caption(ThisUnit));
    cmdSkip->setText(caption(Skip));
    cmdRedo->setText(caption(Redo));
    tblUnits->setHorizontalHeaderLabels({caption(Name), caption(Role), caption(Port), caption(UnitNow),
                                         caption(Progress), caption(Result)});
    Ui::nameAfter(tblUnits, app().dispName(Ui::UnitsTable));
    lblPlan->setText(caption(Plan) + QStringLiteral(": -"));
    // A report is shown with the plan it belongs to, not before.
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
    for (QWidget *w : std::initializer_list<QWidget *>{cmdNew, cmdOpen, cmdSaveAs, txtPlan, chkOneAdapter})
        w->setEnabled(!running);
    cmdSave->setEnabled(!running && !m_planPath.isEmpty());
    cmdRefresh->setEnabled(!running && usable && !chkOneAdapter->isChecked());
    cmdCompare->setEnabled(!running && usable && !chkOneAdapter->isChecked());
    cmdSetUp->setEnabled(!running && usable);
    cmdCancel->setEnabled(running);
    cmdExport->setEnabled(!running && !m_shown.units.isEmpty());
    cmdHandover->setEnabled(!running); // a run still writes its entries to the book
    cmdThisUnit->setVisible(chkOneAdapter->isChecked());
    cmdSkip->setVisible(chkOneAdapter->isChecked());
    cmdRedo->setVisible(chkOneAdapter->isChecked());
    cmdThisUnit->setEnabled(m_adapter == Adapter::UnitAnswers && !m_gone);
    cmdSkip->setEnabled(m_adapter == Adapter::WaitForUnit || m_adapter == Adapter::UnitAnswers);
    // Only the unit just set up, while it still answers: any other on the
    // line would be set up under its name.
    cmdRedo->setEnabled(m_adapter == Adapter::WaitForUnplug && m_redoable && !m_quiet && !m_gone);
    const auto unverified = [this] {
        for (const NetworkUnitResult &u : std::as_const(m_shown.units))
            if (u.state != NetworkUnitResult::Verified)
                return true;
        return false;
    };
    cmdRetry->setEnabled(!running && usable && reportIsThisPlans() && !m_shown.compare && unverified());
    for (int row = 0; row < tblUnits->rowCount(); ++row)
        if (QWidget *box = tblUnits->cellWidget(row, ColPort))
            box->setEnabled(!running);
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
