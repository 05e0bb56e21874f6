#pragma once
// The port dialog: the COM port to use, the device each one reaches, a new link.
#include <QDialog>
#include <QTimer>

class CommControl;
class FocusValidator;
class QComboBox;
class QLabel;
class QPushButton;
class QTreeWidget;

// Choice of the serial port COM1..COM9; applied at once, saved when it opens.
// Beside it the device each COMn reaches, and the serial devices present; a
// device chosen there is assigned to the COM number when the choice is applied.
class frmCom : public QDialog {
    Q_OBJECT
public:
    frmCom(CommControl &comm, QWidget *parent = nullptr);
    void Form_Load();

    QComboBox *cmbCH = nullptr;
    QPushButton *comSet = nullptr;
    QLabel *Label1 = nullptr;
    QLabel *lblDevice = nullptr;   // what the chosen COMn reaches, and whether it is there
    QLabel *lblDevices = nullptr;
    QTreeWidget *lstDevices = nullptr; // the serial devices present, refreshed while open

    // The device chosen in the list, or empty.
    QString chosenDevice() const;

private:
    bool cmbCH_Validate();
    int firstFreePort() const;
    void comSet_Click();
    void refreshDevices();
    void showMapping();
    void showDevice(const QString &text);

    CommControl &m_comm;
    FocusValidator *m_validator = nullptr;
    QTimer m_refresh;
    QList<QStringList> m_rows; // what the list shows
};
