// The main window: what each of its buttons and menu items starts, and its
// own lines (the message line and the port's status).
#include "shell/frmMain.h"

#include "config/FileSafety.h"
#include "config/modFile.h"
#include "core/AppState.h"
#include "protocol/UnitTransfer.h"
#include "protocol/modModem.h"
#include "records/SiteBookOutcomes.h"
#include "screens/frmSet.h"
#include "serial/DoEvents.h"
#include "serial/Exchange.h"
#include "serial/SerialDevices.h"
#include "serial/mod232C.h"
#include "widgets/BookEntry.h"
#include "widgets/MessageLine.h"
#include "widgets/Accessible.h"
#include "widgets/ScreenFit.h"
#include "widgets/Ui.h"
#include "shell/frmCom.h"
#include "shell/frmExit.h"
#include "shell/frmVer.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QLayout>
#include <QLineEdit>
#include <QMenuBar>
#include <QProgressDialog>
#include <QPushButton>
#include <QSettings>
#include <QShortcut>
#include <QStatusBar>
#include <QLabel>

namespace {

// Message-table numbers of the port's state in the status line.
constexpr int PortOpenWord = 122;
constexpr int PortClosedWord = 123;

} // namespace

frmMain::frmMain(QWidget *parent) : QMainWindow(parent)
{
    Ui::fixedFrame(this, true);
    auto *client = new QWidget(this);
    Ui::setClientSize(client, 5940, 4410);
    setCentralWidget(client);
    layout()->setSizeConstraint(QLayout::SetFixedSize); // a fixed frame, as designed

    TextMess = new MessageLine(client);
    TextMess->setFont(Ui::gothic(14.25));
    Ui::setBackground(TextMess, Ui::colour(Ui::LightGrey));
    Ui::place(TextMess, 540, 150, 4785, 480);

    auto button = [client](const QString &caption, int top) {
        auto *b = new QPushButton(caption, client);
        b->setFont(Ui::gothic(14.25));
        Ui::place(b, 1230, top, 3375, 555);
        return b;
    };
    Cmd_Wireless = button(QStringLiteral("QML-47210"), 825);
    Cmd_Wired = button(QStringLiteral("QML-5130"), 1485);
    Cmd_Sim = button(QStringLiteral("Simulation"), 2145);
    Cmd_FRH = button(QStringLiteral("FRH"), 2805);
    Command1 = new QPushButton(QStringLiteral("Exit"), client);
    Command1->setFont(Ui::gothic(12));
    Ui::place(Command1, 3390, 3615, 1215, 435);
    Ui::setNames({{Cmd_Wireless, "Cmd_Wireless"}, {Cmd_Wired, "Cmd_Wired"},
        {Cmd_Sim, "Cmd_Sim"}, {Cmd_FRH, "Cmd_FRH"}, {Command1, "Command1"}});

    QMenu *menuSystem = menuBar()->addMenu(QStringLiteral("System"));
    menuComSet = menuSystem->addAction(tr("通信設定"));
    menuSaveConfig = menuSystem->addAction(QString());
    menuApplyConfig = menuSystem->addAction(QString());
    menuNetwork = menuSystem->addAction(QString());
    menuTraffic = menuSystem->addAction(QString());
    menuSiteBook = menuSystem->addAction(QString());
    menuEnd = menuSystem->addAction(tr("終了"));
    QMenu *menuVer = menuBar()->addMenu(QStringLiteral("Version"));
    menuVersion = menuVer->addAction(tr("バージョン情報"));

    connect(Cmd_Wireless, &QPushButton::clicked, this, &frmMain::Cmd_Wireless_Click);
    connect(Cmd_Wired, &QPushButton::clicked, this, &frmMain::Cmd_Wireless_Click);
    connect(Cmd_FRH, &QPushButton::clicked, this, &frmMain::Cmd_FRH_Click);
    connect(Command1, &QPushButton::clicked, this, &QWidget::close);
    connect(menuEnd, &QAction::triggered, this, &QWidget::close);
    connect(menuComSet, &QAction::triggered, this, &frmMain::menuComSet_Click);
    connect(menuSaveConfig, &QAction::triggered, this, &frmMain::menuSaveConfig_Click);
    connect(menuApplyConfig, &QAction::triggered, this, &frmMain::menuApplyConfig_Click);
    connect(menuVersion, &QAction::triggered, this, &frmMain::menuVersion_Click);
    connect(menuNetwork, &QAction::triggered, this, &frmMain::menuNetwork_Click);
    connect(menuTraffic, &QAction::triggered, this, &frmMain::menuTraffic_Click);
    connect(menuSiteBook, &QAction::triggered, this, &frmMain::menuSiteBook_Click);

    // F10 opens the menu bar, as on the platform the operators come from.
    auto *f10 = new QShortcut(QKeySequence(Qt::Key_F10), this);
    connect(f10, &QShortcut::activated, this,
            [this] { menuBar()->setActiveAction(menuBar()->actions().constFirst()); });
    Ui::enterPressesButtons(this);

    m_comm.setLinkDir(WorkFolder());
    Ui::installPortErrorBox();
    connect(&m_comm, &CommControl::lineLost, this, &frmMain::portLost);
    connect(&m_comm, &CommControl::exchangeRunningChanged, this, &frmMain::gateChanged);
    // Which port is open, and on which device, is always in view.
    lblPort = new QLabel(this);
    statusBar()->addWidget(lblPort, 1);
    statusBar()->setSizeGripEnabled(false);
    connect(&m_comm, &CommControl::portChanged, this, &frmMain::showPort);
    // An entry the site book could not take: said where the operator looks.
    connect(&Ui::BookNotices::instance(), &Ui::BookNotices::notRecorded, this,
            [this](const QString &text) { statusBar()->showMessage(text); });
    connect(&m_reopen, &QTimer::timeout, this, &frmMain::tryReopen);
    Ui::fitScreen(this);
}

frmMain::~frmMain()
{
    if (m_settings)
        delete m_settings.data();
    if (m_traffic) // not a child: it goes with this window all the same
        delete m_traffic.data();
    if (m_siteBook)
        delete m_siteBook.data();
}

void frmMain::Form_Load()
{
    AppState &s = app();
    Ui::setTitle(this, s.dispName(0));
    for (QPushButton *b : {Cmd_Wireless, Cmd_Wired, Cmd_Sim, Cmd_FRH})
        b->setEnabled(true);
    Cmd_Wireless->setText(s.dispName(2));
    Cmd_Wired->setText(s.dispName(3));
    Cmd_Sim->setText(s.dispName(4));
    Cmd_FRH->setText(s.dispName(5));
    menuComSet->setText(s.dispName(6));
    menuEnd->setText(s.dispName(7));
    menuSaveConfig->setText(s.dispName(34));
    menuApplyConfig->setText(s.dispName(35));
    menuVersion->setText(s.dispName(8));
    menuNetwork->setText(s.dispName(38));
    menuTraffic->setText(s.dispName(69));
    menuSiteBook->setText(s.dispName(SiteBookWindow::MenuItem));

    s.PortOpenErrTitle = s.message(3);
    s.PortOpenErrLine1 = s.message(4);
    s.PortOpenErrLine2 = s.message(5);
    s.PortCloseErrTitle = s.message(6);
    s.PortCloseErrText = s.message(7);

    if (OpenPort(m_comm, s.ComPort, s.ComBaud, s.ComDataBits, s.ComParity, s.ComStopBits))
        Ui::showLine(TextMess, portLine());
    else
        Ui::messageBox(this, QMessageBox::Warning, QString(),
                       QStringLiteral("<COM%1> ").arg(s.ComPort) + s.message(8));
    showPort();
}

QString frmMain::portLine() const
{
    const AppState &s = app();
    const bool open = m_comm.PortOpen();
    const QString device = open ? m_comm.openDevice() : m_comm.deviceFor(s.ComPort);
    return QStringLiteral("COM%1 \u2192 %2: %3")
        .arg(open ? m_comm.commPort() : s.ComPort)
        .arg(QDir::toNativeSeparators(device), s.message(open ? PortOpenWord : PortClosedWord));
}

void frmMain::showPort() { lblPort->setText(portLine()); }

// One exchange at a time on the port: while one runs, what would start
// another, change the port or discard its input waits.
void frmMain::gateChanged(bool running)
{
    for (QPushButton *b : {Cmd_Wireless, Cmd_Wired, Cmd_FRH})
        b->setEnabled(!running);
    // A modal dialog opened in the middle of an exchange would hold it open.
    for (QAction *a : {menuComSet, menuSaveConfig, menuApplyConfig, menuVersion})
        a->setEnabled(!running);
    if (!running && TextMess->text() == app().message(ExchangeBusyMessage))
        TextMess->clear();
}

bool frmMain::refusedWhileBusy()
{
    if (!m_comm.exchangeRunning())
        return false;
    Ui::showLine(TextMess, app().message(ExchangeBusyMessage));
    return true;
}

void frmMain::Cmd_Wireless_Click()
{
    if (refusedWhileBusy())
        return;
    m_comm.clearInBuffer();
    app().UnitMode = 2;
    showSettingsScreen();
}

void frmMain::Cmd_FRH_Click()
{
    // A second preset must never start inside the first.
    if (refusedWhileBusy())
        return;
    AppState &s = app();
    m_comm.clearInBuffer();
    if (!s.FrhDone)
        presetWithBackup();
    if (s.FrhDone && !s.ExitConfirmed) {
        s.UnitMode = 4;
        showSettingsScreen();
    }
}

void frmMain::showSettingsScreen()
{
    // The screen lives as long as this window; closing only hides it, so an
    // exchange still under way in it never runs on a deleted window.
    if (!m_settings)
        m_settings = new frmSet(m_comm, m_timer);
    if (!m_settings->isVisible())
        m_settings->Form_Load();
    m_settings->show();
    m_settings->raise();
    m_settings->activateWindow();
}

// The adapter was unplugged, or the far end hung up: say so, and take the
// port back by itself when its device is there again.
void frmMain::portLost()
{
    // A line begun before the loss never continues on the reopened port.
    DiscardInput(m_comm);
    Ui::showLine(TextMess, app().message(PortLostMessage));
    m_reopen.start(TimeScale::scaled(500));
}

void frmMain::tryReopen()
{
    const AppState &s = app();
    // Only a lost line comes back by itself; a port closed on purpose (the
    // exit question, the port dialog) stays closed.
    if (m_comm.PortOpen() || !m_comm.lineWasLost()) {
        m_reopen.stop();
        return;
    }
    if (m_comm.exchangeRunning())
        return; // not under a running exchange: the next try
    // The port that was lost, whatever the port dialog's box shows meanwhile.
    const qint16 port = qint16(m_comm.commPort());
    if (!DevicePresent(m_comm.deviceFor(port)))
        return;
    if (ReopenPort(m_comm, port, s.ComBaud, s.ComDataBits, s.ComParity, s.ComStopBits)) {
        m_reopen.stop();
        Ui::showLine(TextMess, s.message(PortReopenedMessage)); // the status line names the port
    }
}

void frmMain::linkAnswered()
{
    if (m_settings)
        m_settings->linkAnswered();
}

void frmMain::menuComSet_Click()
{
    if (refusedWhileBusy())
        return; // the port must not change under a running exchange
    frmCom dialog(m_comm, this);
    dialog.Form_Load();
    if (dialog.exec() == QDialog::Accepted) // the change confirmed where the port is shown
        Ui::showLine(TextMess, portLine());
}


// One network window, beside the others; its units' runs are the command
// line's, started from this program's folder.
void frmMain::menuNetwork_Click()
{
    if (!m_network) {
        m_network = new frmNetwork(m_comm, QCoreApplication::applicationDirPath() + QStringLiteral("/qmlsetup"), this);
        m_network->setAttribute(Qt::WA_DeleteOnClose);
        m_network->Form_Load();
    }
    m_network->show();
    m_network->raise();
    m_network->activateWindow();
}

// One traffic console, beside the others, on this window's port.
void frmMain::menuTraffic_Click()
{
    // A window of its own, outside this window's family, so that a dialog
    // that blocks the main window leaves it usable.
    if (!m_traffic) {
        m_traffic = new frmTraffic(m_comm, m_timer);
        m_traffic->setAttribute(Qt::WA_DeleteOnClose);
        m_traffic->Form_Load();
    }
    m_traffic->show();
    m_traffic->raise();
    m_traffic->activateWindow();
}

// One site book window, beside the others like the traffic console: it only
// reads, so it stays usable while a transfer's progress blocks this window.
void frmMain::menuSiteBook_Click()
{
    if (!m_siteBook) {
        m_siteBook = new frmSiteBook(SiteBookRecorder::place());
        m_siteBook->setAttribute(Qt::WA_DeleteOnClose);
        m_siteBook->Form_Load();
    }
    m_siteBook->show();
    m_siteBook->raise();
    m_siteBook->activateWindow();
}

void frmMain::menuVersion_Click()
{
    frmVer dialog(this);
    dialog.Form_Load();
    dialog.exec();
}

// The close box, the Exit button and the end item all come here.
void frmMain::closeEvent(QCloseEvent *event)
{
    AppState &s = app();
    if (m_closing) { // asked again during the pause: the first request decides
        event->ignore();
        return;
    }
    // The exit closes the port: not under a running exchange, which ends by
    // its own time limit.
    if (refusedWhileBusy()) {
        event->ignore();
        return;
    }
    m_closing = true;
    {
        frmExit dialog(this);
        dialog.Form_Load();
        dialog.exec();
    }
    const bool confirmed = s.ExitConfirmed;
    s.UnitMode = 0;
    PauseWithEvents(1000);
    if (m_comm.PortOpen())
        ClosePort(m_comm);
    m_comm.forgetLostLine(); // closed on purpose: it stays closed
    m_closing = false;
    if (confirmed) {
        if (m_settings)
            m_settings->close();
        event->accept();
    } else {
        event->ignore();
    }
}
