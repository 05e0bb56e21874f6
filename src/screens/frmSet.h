#pragma once
// The radio settings screen: the unit's settings record in nine rows, the
// link handshake, and the read, write and version exchanges.

#include "widgets/MessageLine.h"

#include <QWidget>
#include <QTimer>

class CommControl;
class FocusValidator;
class QComboBox;
class QFrame;
class QLineEdit;
class QPushButton;
class ReplyTimer;
namespace Ui {
class ExchangeScope;
}

class frmSet : public QWidget {
    Q_OBJECT
public:
    frmSet(CommControl &comm, ReplyTimer &timer, QWidget *parent = nullptr);
    ~frmSet() override;

    void Form_Load();
    // The unit answered the link poll: green indicator, message 1, poll off.
    void linkAnswered();

    // Band character of the write command, or nothing when the band is not
    // a number 0 to 4 without a fraction, in whatever form it was typed.
    static QString bandDigit(const QString &bandText);
    // Band and channel decoded from registers 27 and 6; nothing when the
    // value is not one the register map knows.
    static QString decodeBandRegister(const QString &value);
    static QString decodeChannelRegister(const QString &value);

    QLineEdit *TextSign = nullptr;
    MessageLine *TextMess = nullptr;
    QFrame *Frame1 = nullptr;
    QLineEdit *Text_B = nullptr;
    QComboBox *Cmb_B = nullptr, *Cmb_C = nullptr, *Cmb_type = nullptr, *Cmb_ante = nullptr,
              *Cmb_bps = nullptr, *Cmb_dlen = nullptr, *Cmb_parity = nullptr,
              *Cmb_stop = nullptr, *Cmb_flow = nullptr;
    QPushButton *Command_W = nullptr;
    QPushButton *Command_R = nullptr;
    QPushButton *Command_V = nullptr;
    QTimer Timer1;
    QTimer Timer2;

    void Command_W_Click();
    void Command_R_Click();
    void Command_V_Click();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void Timer1_Timer();
    void TextMess_Click();
    void showMessage(int n);
    void readWired(const Ui::ExchangeScope &exchange);
    void readRegisters(const Ui::ExchangeScope &exchange);
    // Another window's exchange holds the gate: the buttons wait for it.
    void gateChanged(bool running);
    // The screen follows the unit and its line: written from elsewhere, the
    // fields are no longer the unit's; a lost line shows at once, and when
    // the port opens again the handshake starts anew.
    void unitWritten(const void *by);
    void lineLost();
    void portChanged(bool open);
    void startHandshake();
    static void setListText(QComboBox *box, const QString &text);

    CommControl &m_comm;
    ReplyTimer &m_timer;
    // All nine fields hold what a read in wired-path mode brought from the
    // unit; until then they hold the screen's start values.
    bool m_fieldsFromUnit = false;
    bool m_lostLine = false; // the line went away while the screen was open
    FocusValidator *m_bandCheck = nullptr;
    FocusValidator *m_channelCheck = nullptr;
};
