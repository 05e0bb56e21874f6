#include "shell/frmCom.h"

#include "config/TextConvert.h"
#include "config/modFile.h"
#include "core/AppState.h"
#include "serial/CommControl.h"
#include "serial/mod232C.h"
#include "shell/FocusValidator.h"
#include "shell/Ui.h"

#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

frmCom::frmCom(CommControl &comm, QWidget *parent) : QDialog(parent), m_comm(comm)
{
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    setWindowTitle(QStringLiteral("通信ポート選択"));
    Ui::setClientSize(this, 4200, 1800);
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
    comSet = new QPushButton(QStringLiteral("Set"), this);
    comSet->setAutoDefault(false);
    Ui::place(comSet, 1500, 1050, 1215, 435);

    m_validator = new FocusValidator(
        cmbCH, [this] { return cmbCH_Validate(); }, [this] { cmbCH->setEditText(QString()); });
    connect(comSet, &QPushButton::clicked, this, &frmCom::comSet_Click);
    Ui::enterPressesButtons(this);
}

void frmCom::Form_Load()
{
    const AppState &s = app();
    Ui::setTitle(this, s.dispName(9));
    comSet->setText(s.dispName(11));
    Label1->setText(s.dispName(10));
    cmbCH->setEditText(QStringLiteral("COM")
                       + TextConvert::formatWhole(QString::number(s.ComPort), 1));
    cmbCH->setFocus();
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
    const QString text = cmbCH->currentText();
    s.ComPort = qint16(text.back().digitValue());
    if (m_comm.PortOpen())
        ClosePort(m_comm);
    if (OpenPort(m_comm, s.ComPort, s.ComBaud, s.ComDataBits, s.ComParity, s.ComStopBits)) {
        // The port is open either way; the dialog closes only when the choice
        // is saved too, so nobody is told it is kept when it is not.
        if (WriteSetcomIni()) {
            accept();
            return;
        }
        Ui::messageBox(this, QMessageBox::Warning, QString(),
                       s.message(9) + QLatin1Char('\n') + s.message(40)
                           + QLatin1Char('\n') + QDir::toNativeSeparators(s.AppDir)
                           + QStringLiteral("setcom.ini"));
    } else {
        Ui::messageBox(this, QMessageBox::Warning, QString(),
                       QLatin1Char('<') + text + QStringLiteral("> ") + s.message(8));
    }
}
