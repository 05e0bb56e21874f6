#pragma once
#include <QDialog>

class CommControl;
class FocusValidator;
class QComboBox;
class QLabel;
class QPushButton;

// Choice of the serial port COM1..COM9; applied at once, saved when it opens.
class frmCom : public QDialog {
    Q_OBJECT
public:
    frmCom(CommControl &comm, QWidget *parent = nullptr);
    void Form_Load();

    QComboBox *cmbCH = nullptr;
    QPushButton *comSet = nullptr;
    QLabel *Label1 = nullptr;

private:
    bool cmbCH_Validate();
    void comSet_Click();

    CommControl &m_comm;
    FocusValidator *m_validator = nullptr;
};
