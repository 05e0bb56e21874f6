#pragma once
// The register editor: reads or writes one unit register 00..27 at a time.

#include "widgets/MessageLine.h"

#include <QDialog>

class CommControl;
class FocusValidator;
class QComboBox;
class QFrame;
class QLineEdit;
class QPushButton;
class ReplyTimer;

class frmReg : public QDialog {
    Q_OBJECT
public:
    frmReg(CommControl &comm, ReplyTimer &timer, QWidget *parent = nullptr);
    void Form_Load();

    // "  05" -> "05", "7" -> "07": the last two characters of "00" + trimmed text.
    static QString digitsOf(const QString &text);
    // The register box's text as a register number.
    static int registerNumber(const QString &text);

    MessageLine *TextMess = nullptr;
    QFrame *Frame1 = nullptr;
    QLineEdit *Text_C = nullptr;
    QComboBox *Cmb_C = nullptr;
    QLineEdit *Text1 = nullptr;
    QPushButton *Cmd_W = nullptr;
    QPushButton *Cmd_R = nullptr;

    void Cmd_R_Click();
    void Cmd_W_Click();

    // The value box's key filter: the character that goes in for `c`, or
    // none when it is refused.
    static QChar Text1_KeyPress(QChar c);

    // A value as the key filter passes it: every character one the box takes.
    static bool valueFits(const QString &value);

public slots:
    void reject() override;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    // `text` with what the key filter refuses left out.
    static QString filtered(const QString &text);
    void showMessage(int n);

    CommControl &m_comm;
    ReplyTimer &m_timer;
    FocusValidator *m_registerCheck = nullptr;
};
