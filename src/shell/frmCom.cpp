// The port dialog: choosing the COM port and the device each one reaches.
#include "shell/frmCom.h"

#include "config/FileSafety.h"
#include "config/TextConvert.h"
#include "config/modFile.h"
#include "core/AppState.h"
#include "serial/CommControl.h"
#include "serial/Exchange.h"
#include "serial/SerialDevices.h"
#include "serial/mod232C.h"
#include "widgets/Accessible.h"
#include "widgets/FocusValidator.h"
#include "widgets/ScreenFit.h"
#include "widgets/Ui.h"

#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTreeWidget>

frmCom::frmCom(CommControl &comm, QWidget *parent) : QDialog(parent), m_comm(comm)
{
    Ui::fixedFrame(this, false);
    setWindowTitle(tr("通信ポート選択"));
    Ui::setClientSize(this, 8400, 5100);
    setFont(Ui::gothic(12));

    Label1 = new QLabel(QStringLiteral("Com Port"), this);
    Ui::place(Label1, 300, 300, 1500, 400);
    cmbCH = new QComboBox(this);
    cmbCH->setEditable(true);
    cmbCH->setInsertPolicy(QComboBox::NoInsert);
    cmbCH->setCompleter(nullptr); // typed text is checked as typed, case included
    for (int n = 1; n <= 9; ++n)
        cmbCH->addItem(QStringLiteral("COM%1").arg(n));
    Ui::place(cmbCH, 1950, 270, 1900, 450);
    lblDevice = new QLabel(this);
    Ui::place(lblDevice, 4000, 300, 4100, 400);

    QFont listFont = font();
    listFont.setBold(false);
    listFont.setPointSizeF(10);
    lblDevices = new QLabel(this);
    lblDevices->setFont(listFont);
    Ui::place(lblDevices, 300, 900, 7800, 400);
    lstDevices = new QTreeWidget(this);
    lstDevices->setFont(listFont);
    lstDevices->setRootIsDecorated(false);
    lstDevices->setColumnCount(5);
    lstDevices->setSelectionMode(QAbstractItemView::SingleSelection);
    Label1->setBuddy(cmbCH);
    Ui::place(lstDevices, 300, 1350, 7800, 2700);

    comSet = new QPushButton(QStringLiteral("Set"), this);
    comSet->setAutoDefault(false);
    Ui::place(comSet, 3600, 4350, 1215, 435);
    Ui::setNames({{cmbCH, "cmbCH"}, {lstDevices, "lstDevices"}, {comSet, "comSet"}});

    m_validator = new FocusValidator(
        cmbCH, [this] { return cmbCH_Validate(); }, [this] { cmbCH->setEditText(QString()); });
    connect(comSet, &QPushButton::clicked, this, &frmCom::comSet_Click);
    connect(cmbCH, &QComboBox::editTextChanged, this, &frmCom::showMapping);
    // Choosing a device works whatever the box holds: it is how the box gets
    // a port, so the box's check does not hold the list back.
    m_validator->exempt(lstDevices);
    connect(lstDevices, &QTreeWidget::itemSelectionChanged, this, [this] {
#ifdef Q_OS_WIN
        // COMn is the port itself: choosing it is choosing the number, where
        // it is one the box can carry (COM1 to COM9).
        static const QRegularExpression oneDigit(QStringLiteral("^COM[1-9]$"));
        if (oneDigit.match(chosenDevice()).hasMatch())
            cmbCH->setEditText(chosenDevice());
#else
        if (!chosenDevice().isEmpty() && !cmbCH_Validate())
            cmbCH->setEditText(QStringLiteral("COM%1").arg(firstFreePort()));
#endif
        showMapping();
    });
    // An adapter plugged in shows up within a second.
    connect(&m_refresh, &QTimer::timeout, this, &frmCom::refreshDevices);
    m_refresh.start(700);
    Ui::enterPressesButtons(this);
    Ui::fitScreen(this);
}

// The first COMn with no link of its own, other than the port in use: a
// device chosen there changes nothing the operator set up.
int frmCom::firstFreePort() const
{
    for (int n = 1; n <= 9; ++n)
        if (n != app().ComPort
            && !QFileInfo(QDir(m_comm.linkDir()).filePath(QStringLiteral("COM%1").arg(n))).isSymLink())
            return n;
    return app().ComPort == 9 ? 8 : 9;
}

QString frmCom::chosenDevice() const
{
    const QList<QTreeWidgetItem *> chosen = lstDevices->selectedItems();
    return chosen.isEmpty() ? QString() : chosen.first()->text(0);
}

void frmCom::refreshDevices()
{
    QList<QStringList> rows;
    for (const SerialDevice &d : ListSerialDevices(m_comm.linkDir())) {
        QStringList coms;
        for (int n : d.comLinks)
            coms << QStringLiteral("COM%1").arg(n);
        // The stable name says which adapter it is, whatever order they were plugged in.
        const QString serial = d.stableName.isEmpty() ? d.serialNumber
            : (d.serialNumber.isEmpty() ? QString() : d.serialNumber + QLatin1Char(' '))
                + QLatin1Char('(') + QFileInfo(d.stableName).fileName() + QLatin1Char(')');
        rows << QStringList{d.path, d.description, d.manufacturer, serial, coms.join(u' ')};
    }
    // Rebuilt only when something changed, so the list keeps its scroll
    // position and the operator's choice.
    if (rows != m_rows) {
        m_rows = rows;
        const QString chosen = chosenDevice();
        lstDevices->clear();
        for (const QStringList &row : rows) {
            auto *item = new QTreeWidgetItem(lstDevices, row);
            if (row.first() == chosen)
                item->setSelected(true);
        }
        // Each column as wide as what it holds: a device's path is its name.
        for (int c = 0; c < lstDevices->columnCount(); ++c)
            lstDevices->resizeColumnToContents(c);
    }
    showMapping();
}

// "→ device (present)": what the COM number in the box reaches now, or the
// device chosen in the list that it is going to reach.
void frmCom::showMapping()
{
    const AppState &s = app();
    const QString text = cmbCH->currentText();
    if (!text.startsWith(QLatin1String("COM")) || text.isEmpty() || !text.back().isDigit()
        || text.back().unicode() > 127) {
        lblDevice->clear();
        return;
    }
    const int port = text.back().digitValue();
    const QString chosen = chosenDevice();
#ifndef Q_OS_WIN
    if (!chosen.isEmpty()) {
        showDevice(QStringLiteral("→ %1 (%2)").arg(chosen, s.dispName(33)));
        return;
    }
#endif
    const QString device = m_comm.deviceFor(port);
    showDevice(QStringLiteral("→ %1 (%2)").arg(device, s.dispName(DevicePresent(device) ? 25 : 26)));
}

void frmCom::Form_Load()
{
    const AppState &s = app();
    Ui::setTitle(this, s.dispName(9));
    comSet->setText(s.dispName(11));
    Label1->setText(s.dispName(10));
    lblDevices->setText(s.dispName(27));
    Ui::nameAfter(cmbCH, Label1->text());
    Ui::nameAfter(lstDevices, lblDevices->text());
    lstDevices->setHeaderLabels(
        {s.dispName(28), s.dispName(29), s.dispName(30), s.dispName(31), s.dispName(32)});
    cmbCH->setEditText(QStringLiteral("COM")
                       + TextConvert::formatWhole(QString::number(s.ComPort), 1));
    cmbCH->setFocus();
    refreshDevices();
}

// A long path is shortened in its middle, whole in the tooltip.
void frmCom::showDevice(const QString &text)
{
    lblDevice->setToolTip(text);
    lblDevice->setText(lblDevice->fontMetrics().elidedText(text, Qt::ElideMiddle, lblDevice->width()));
}

// "COM" and a digit at the end; only that last digit counts.
bool frmCom::cmbCH_Validate()
{
    const QString text = cmbCH->currentText();
    if (!text.startsWith(QLatin1String("COM")) || text.isEmpty() || !text.back().isDigit()
        || text.back().unicode() > 127)
        return false;
    app().ComPort = qint16(text.back().digitValue());
    return true;
}

void frmCom::comSet_Click()
{
    AppState &s = app();
    // Reached without the check (the keyboard): a text without a digit at the
    // end cannot be applied.
    if (!m_validator->validate()) {
        Ui::messageBox(this, QMessageBox::Warning, QString(), s.message(9));
        return;
    }
    // The port never changes under a running exchange.
    const Exchange exchange(m_comm, this);
    if (!exchange.started()) {
        Ui::messageBox(this, QMessageBox::Warning, QString(), s.message(ExchangeBusyMessage));
        return;
    }
    const QString text = cmbCH->currentText();
    s.ComPort = qint16(text.back().digitValue());
    // A device chosen in the list is opened as it stands; COMn is pointed at
    // it only once it has opened, so a failed choice leaves the mapping as it was.
    QString assign;
#ifndef Q_OS_WIN
    // deviceFor has resolved a link of the user's, and names another's.
    const QString chosen = chosenDevice();
    if (!chosen.isEmpty()
        && QFileInfo(chosen).canonicalFilePath() != m_comm.deviceFor(s.ComPort))
        assign = chosen;
#endif
    // A folder that does not take the new link says so while the old port
    // is still open.
    // COMn keeps its adapter when the adapters are plugged in another
    // order: it points at the adapter's stable name where it has one. The
    // device itself is what opens, so its lock guards it under any name.
    const QString stable = assign.isEmpty() ? QString() : StableDeviceName(assign);
    QString error;
    if (!assign.isEmpty()
        && !PrepareComLink(m_comm.linkDir(), s.ComPort, stable.isEmpty() ? assign : stable, &error)) {
        Ui::messageBox(this, QMessageBox::Warning, QString(),
                       s.message(9) + QLatin1Char('\n') + error);
        return;
    }
    if (m_comm.PortOpen())
        ClosePort(m_comm);
    m_comm.forgetLostLine(); // from here on the dialog decides about the port
    m_comm.setDevicePath(assign);
    const bool opened =
        OpenPort(m_comm, s.ComPort, s.ComBaud, s.ComDataBits, s.ComParity, s.ComStopBits);
    m_comm.setDevicePath(QString());
    if (!opened) {
        if (!assign.isEmpty())
            DiscardComLink(m_comm.linkDir(), s.ComPort);
        Ui::messageBox(this, QMessageBox::Warning, QString(),
                       QLatin1Char('<') + text + QStringLiteral("> ") + s.message(8));
        return;
    }
    if (!assign.isEmpty() && !CommitComLink(m_comm.linkDir(), s.ComPort, &error)) {
        // COMn still leads elsewhere: the port stays closed rather than open
        // under a name that does not reach it.
        ClosePort(m_comm);
        Ui::messageBox(this, QMessageBox::Warning, QString(),
                       s.message(9) + QLatin1Char('\n') + error);
        return;
    }
    // The port is open either way; the dialog closes only when the choice is
    // saved too, so nobody is told it is kept when it is not.
    QString saved;
    if (WriteSetcomIni(&saved)) {
        if (saved != s.AppDir + QStringLiteral("setcom.ini")) // the user's own folder's
            Ui::messageBox(this, QMessageBox::Information, QString(),
                           s.message(FolderMessages::ChoiceSavedIn) + QLatin1Char('\n')
                               + QDir::toNativeSeparators(saved));
        accept();
        return;
    }
    Ui::messageBox(this, QMessageBox::Warning, QString(),
                   s.message(9) + QLatin1Char('\n') + s.message(40) + QLatin1Char('\n')
                       + (saved.isEmpty() ? s.message(FolderMessages::NowhereToMake)
                                          : QDir::toNativeSeparators(saved)));
}
