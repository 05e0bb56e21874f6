#pragma once
// The main window: unit choice, FRH preset, menu. It owns the serial control
// and the reply timer that every exchange with the unit uses.

#include "serial/CommControl.h"
#include "serial/ReplyTimer.h"
#include "screens/frmNetwork.h"
#include "screens/frmSet.h"
#include "screens/frmSiteBook.h"
#include "screens/frmTraffic.h"
#include "widgets/MessageLine.h"

#include <QMainWindow>
#include <QPointer>
#include <QTimer>

class QAction;
class QLabel;
class QPushButton;


class frmMain : public QMainWindow {
    Q_OBJECT
public:
    explicit frmMain(QWidget *parent = nullptr);
    ~frmMain() override;

    CommControl &MSComm1() { return m_comm; }
    ReplyTimer &Timer1() { return m_timer; }
    frmSet *settingsScreen() const { return m_settings; }

    // The idle loop's watch heard the unit answer the link poll.
    void linkAnswered();

    MessageLine *TextMess = nullptr;
    QLabel *lblPort = nullptr; // the status line: which port, which device, open or not
    QPushButton *Cmd_Wireless = nullptr;
    QPushButton *Cmd_Wired = nullptr;
    QPushButton *Cmd_Sim = nullptr;
    QPushButton *Cmd_FRH = nullptr;
    QPushButton *Command1 = nullptr;
    QAction *menuComSet = nullptr;
    QAction *menuSaveConfig = nullptr;
    QAction *menuApplyConfig = nullptr;
    QAction *menuEnd = nullptr;
    QAction *menuVersion = nullptr;
    QAction *menuNetwork = nullptr;
    QAction *menuTraffic = nullptr;
    QAction *menuSiteBook = nullptr;

    void Form_Load();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void Cmd_Wireless_Click();
    void Cmd_FRH_Click();
    void menuComSet_Click();
    void menuSaveConfig_Click();
    void menuApplyConfig_Click();
    QString unitFilesFolder() const;
    QString chooseUnitFile(bool save, const QString &start);
    // Another exchange holds the gate: said, and nothing started.
    bool refusedWhileBusy();
    void gateChanged(bool running);
    void menuVersion_Click();
    void menuNetwork_Click();
    void menuTraffic_Click();
    void menuSiteBook_Click();
    void presetWithBackup();
    void showSettingsScreen();
    void portLost();
    // "COM1 → /dev/ttyUSB0: open", as the status line and a message say it.
    QString portLine() const;
    void showPort();
    void tryReopen();

    CommControl m_comm;
    ReplyTimer m_timer;
    QTimer m_reopen; // looks for the lost line's device while it is away
    QPointer<frmSet> m_settings;
    QPointer<frmNetwork> m_network;
    QPointer<frmTraffic> m_traffic;
    QPointer<frmSiteBook> m_siteBook;
    bool m_closing = false;
};
