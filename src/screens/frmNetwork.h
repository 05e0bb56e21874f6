#pragma once
// The network window: a plan's units as a table, the plan's text to edit and
// save, and its set-up (each unit on its own port at once, or one after
// another on one adapter), compare and refresh, with the last report.

#include "protocol/NetworkPlan.h"
#include "protocol/NetworkSetup.h"
#include "serial/CommControl.h"
#include "serial/ReplyTimer.h"
#include "widgets/MessageLine.h"

#include <QElapsedTimer>
#include <QHash>
#include <QPointer>
#include <QSet>
#include <QTimer>
#include <QWidget>
#include <memory>

class Exchange;
class frmHandover;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTableWidget;

class frmNetwork : public QWidget {
    Q_OBJECT
public:
    // `comm`: the main window's port, closed while the units are set up;
    // `program`: the command line's program file, one run of it per unit.
    frmNetwork(CommControl &comm, const QString &program, QWidget *parent = nullptr);
    ~frmNetwork() override;

    void Form_Load();
    bool loadPlan(const QString &path);
    bool busy() const;

    enum Column { ColName, ColRole, ColPort, ColNow, ColProgress, ColResult, Columns };

    MessageLine *TextMess = nullptr;
    QLabel *lblPlan = nullptr;
    QLabel *lblReport = nullptr;
    QLabel *lblAcross = nullptr;
    QTableWidget *tblUnits = nullptr;
    QPlainTextEdit *txtPlan = nullptr;
    QPushButton *cmdNew = nullptr, *cmdOpen = nullptr, *cmdSave = nullptr, *cmdSaveAs = nullptr;
    QPushButton *cmdRefresh = nullptr, *cmdCompare = nullptr, *cmdSetUp = nullptr,
                *cmdCancel = nullptr, *cmdExport = nullptr, *cmdRetry = nullptr, *cmdHandover = nullptr;
    QCheckBox *chkOneAdapter = nullptr;
    QPushButton *cmdThisUnit = nullptr, *cmdSkip = nullptr, *cmdRedo = nullptr;

    // The one-adapter set-up: what the window waits for.
    enum class Adapter { Off, WaitForUnit, UnitAnswers, Applying, WaitForUnplug };
    Adapter adapterState() const { return m_adapter; }
    int adapterUnit() const { return m_adapterUnit; }

    void New_Click();
    void Open_Click();
    void Save_Click();
    void SaveAs_Click();
    void Refresh_Click();
    void Compare_Click();
    void SetUp_Click();
    void Cancel_Click();
    void Export_Click();
    // The units the report shown did not verify, once more: a new report
    // that completes it, the others carried forward.
    void Retry_Click();
    void ThisUnit_Click();
    void Skip_Click();
    void Redo_Click();
    // The handover document of the plan's file, as saved.
    void Handover_Click();
    frmHandover *handover() const;

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    enum class Run { None, Refresh, Compare, SetUp };
    void planEdited();
    void showPlan();
    void fitColumns();
    void fillPorts();
    QList<QString> chosenPorts() const;
    void portChosen(int row);
    void showMessage(const QString &text);
    // The window's port closed and the gate held for the units' runs; false
    // (said) while another exchange runs or the plan cannot be used.
    bool beginRun(Run run, const QList<int> &rows = {});
    void endRun();
    // The plan's units in `rows` (all when empty) and the ports chosen for them.
    NetworkPlan planOf(const QList<int> &rows, QList<QString> *ports) const;
    void unitChanged(int index);
    void runFinished();
    void showUnit(int row, const NetworkUnitResult &u);
    // What a run of this window found the unit holding, or that it may
    // hold anything else now that a set-up is under way.
    void unitRead(int row, const NetworkUnitResult &u);
    // Every row's result from the report shown, and what its unit was read holding.
    void showResults();
    // Once the plan in the editor is another than the report shown's: that
    // plan's newest report, else none.
    void findPlanReport();
    bool reportIsThisPlans() const;
    bool mayPutPlanAside();
    void showReport(const NetworkReport &report);
    void keepReport();
    void enableButtons();
    // One adapter
    // The adapter's port opened for the polls; false (the run ended) when it cannot be.
    bool adapterOpen();
    void adapterStart(const QList<int> &rows);
    void adapterPoll();
    void adapterHeard(bool answers);
    // The unit plugged in holds the record a run wrote to `row`; false
    // also when it cannot be read or nothing was written.
    bool holdsRecordOf(int row);
    void adapterNext(int unit);
    // The next unit of the run after `row` not yet set up or skipped, or -1.
    int nextAfter(int row) const;
    void adapterApply();
    void adapterApplied();
    void adapterGone();
    // The units not yet done stopped for `reason`; the run ends.
    void adapterLeave(const QString &reason, const QString &message);
    void adapterFinish();
    void adapterSay(const QString &text);
    QString adapterPort() const;
    // The adapter's port again, as it was opened.
    void reopenLine();
    // The device a port reaches, by this window's COMn mapping.
    QString deviceOf(const QString &port) const;
    // The port a unit's run is handed: as chosen, checked there as the
    // command line checks it; COMn as this window maps it.
    QString runPortOf(const QString &port) const;

    CommControl &m_comm;
    QString m_program;
    QString m_planPath;
    bool m_planSaved = true;
    std::optional<NetworkPlan> m_plan;
    NetworkSetup m_setup;
    NetworkReport m_shown; // what the table's results show
    QString m_shownPath;   // its file, once kept
    QString m_lookedUp;    // the plan digest its report was looked for
    QList<int> m_runRows;  // the plan's row of each unit of the run
    bool m_retrying = false; // the run is of the units a report did not verify
    // What a unit was read holding since the window opened, by NetworkNameKey.
    QHash<QString, QString> m_now;
    Run m_run = Run::None;
    std::unique_ptr<Exchange> m_gate;
    bool m_portWasOpen = false;
    bool m_cancelled = false;
    bool m_filling = false;

    // One adapter: its own serial control while it polls, closed while a unit's run uses the port.
    CommControl m_line;
    ReplyTimer m_lineTimer;
    QTimer m_poll;
    static constexpr int PollMs = 500; // the one-adapter poll
    // A unit answers the poll in milliseconds: several polls fit in the
    // quiet spell that makes an unplug.
    static constexpr int PollAnswerMs = 300;
    Adapter m_adapter = Adapter::Off;
    int m_adapterUnit = 0;
    QList<int> m_todo;     // the rows this run sets up
    QSet<int> m_passDone;  // ... and those set up or skipped so far
    int m_lastSetUp = -1;  // the row last set up
    int m_setUpAgain = -1; // the row whose unit the operator chose to set up as the next
    bool m_redoable = false; // the unit on the line is the one just set up
    bool m_quiet = false;  // a poll went unanswered since the last answer
    bool m_gone = false;   // the adapter's port is gone
    QElapsedTimer m_lastAnswer, m_goneFor;
    QString m_saying;      // the message line's text of the state
    QPointer<frmHandover> m_handover;
};

// Message-table numbers of the network window.
// Captions of the window (dispname.ini), for its files.
namespace NetworkWindowCaptions {
enum Caption {
    Title = 39, OpenPlan, SavePlan, SavePlanAs, Refresh, Compare, SetUp, Cancel, OneAdapter,
    ThisUnit, Skip, Redo, Export, Name, Role, Port, UnitNow, Progress, Result, Plan, PlanFiles,
    ReportFiles, Unreachable, Verified, Differs, Failed, Stopped, Matches, Waiting, Running_
};
constexpr int RetryFailed = 82;
constexpr int CsvFiles = 98, JsonFiles = 105, NewPlan = 106;
QString caption(int n);
} // namespace NetworkWindowCaptions

namespace NetworkWindowMessages {
constexpr int Running = 152;      // set-up running; the window's own port closed
constexpr int AllVerified = 153;  // every unit verified and they agree
constexpr int NotAll = 154;       // not every unit was verified
constexpr int LastReport = 155;   // the last report:
constexpr int Stopping = 156;     // stopping each unit after its exchange
constexpr int Answering = 157;    // a unit answers: Enter sets it up
constexpr int PlugInNext = 158;   // plug in the next unit:
constexpr int Unsaved = 159;      // the plan has changed since it was saved
constexpr int AllMatch = 160;     // every unit holds what the plan says
constexpr int SomeDiffer = 161;   // some units differ or did not answer
constexpr int Read = 162;         // each unit read
constexpr int Unplug = 145;       // done: unplug it, plug in the next
constexpr int ReportKept = 150;   // the report is in
constexpr int SameRecord = 228;   // already holds what was written to %1: set it up as %2?
constexpr int TakenForSame = 229; // ... so it is the same unit; unplug it, plug in %2
constexpr int AdapterGone = 230;  // the adapter is gone; waiting for it
constexpr int Complete = 232;     // the set-up is complete: every unit verified
constexpr int Remaining = 233;    // units remaining:
constexpr int OtherPlans = 234;   // the report belongs to another plan:
constexpr int NothingToRetry = 235; // every unit of the report verified
constexpr int Completes = 239;    // completes the report
constexpr int PluggedIn = 241;    // the unit plugged in
constexpr int AdapterLost = 242;  // the adapter did not come back
constexpr int ReportSaved = 340;  // the report was saved in:
constexpr int NameTaken = 284;    // a file of that name is there already
constexpr int ChangesLost = 341;  // the plan's unsaved changes will be lost: go on?
} // namespace NetworkWindowMessages
