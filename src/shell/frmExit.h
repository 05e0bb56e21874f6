#pragma once
// The exit question: Yes ends the program, No or the close box goes back.
#include <QDialog>

class QLabel;
class QPushButton;

// Asks whether the program is to end; "Yes" sets ExitConfirmed.
class frmExit : public QDialog {
    Q_OBJECT
public:
    explicit frmExit(QWidget *parent = nullptr);
    void Form_Load();

    QLabel *Lbl_exit = nullptr;
    QPushButton *Cmd_OK = nullptr;
    QPushButton *Cmd_Can = nullptr;
};
