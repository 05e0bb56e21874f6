#pragma once
// The site book's window: every read, write and set-up of a unit, newest
// first, searched as the operator types; older entries load as the list is
// scrolled down. An entry opens whole in a window of its own.

#include "screens/frmHandover.h"
#include "screens/frmSiteBookEntry.h"
#include "screens/frmSiteBookReader.h"
#include "widgets/MessageLine.h"

#include <QAbstractTableModel>
#include <QPointer>
#include <QTimer>
#include <QWidget>

class QCheckBox;
class QDateEdit;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableView;

// The entries found so far, a page at a time as the view asks for more.
class SiteBookModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { ColTime, ColSite, ColUnit, ColPort, ColAction, ColResult, Columns };
    static constexpr int Page = 1000;

    explicit SiteBookModel(SiteBookReader *reader, QObject *parent = nullptr);
    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    bool canFetchMore(const QModelIndex &parent) const override;
    void fetchMore(const QModelIndex &parent) override;

    // Emptied, and the first page of what `text` and `days` find asked for.
    void search(const QString &text, const LocalDays &days);
    const SiteBookEntry &entry(int row) const { return m_rows.at(row); }
    bool loading() const { return m_asked != 0; }
    bool complete() const { return !m_more; }
    // The search shown, as the book's query (its UTC days widened).
    SiteBook::Query query() const;
    const LocalDays &days() const { return m_days; }

signals:
    // A page came in (its rows added), or could not be read.
    void pageRead();
    void failed(const QString &error);

private:
    void replied(const SiteBookReply &reply);
    void ask();

    SiteBookReader *m_reader;
    QString m_text;
    LocalDays m_days;
    QList<SiteBookEntry> m_rows;
    bool m_searching = false; // search() was called
    bool m_more = false;      // older entries may follow
    quint64 m_asked = 0;      // the page asked for, while it is
    QDateTime m_lastTime;     // the oldest entry read, shown or not
    QString m_lastId;
};

class frmSiteBook : public QWidget {
    Q_OBJECT
public:
    explicit frmSiteBook(const SiteBookPlace &place, QWidget *parent = nullptr);
    ~frmSiteBook() override;

    void Form_Load();

    QLineEdit *txtFind = nullptr;
    QCheckBox *chkFrom = nullptr, *chkTo = nullptr;
    QDateEdit *dtFrom = nullptr, *dtTo = nullptr;
    QTableView *lstEntries = nullptr;
    QLabel *lblState = nullptr; // what the list cannot show, and what to do
    QPushButton *cmdDetails = nullptr, *cmdExport = nullptr, *cmdHandover = nullptr;
    MessageLine *TextMess = nullptr;

    SiteBookModel *model() const { return m_model; }
    // The book opened and its first entries shown, or why not said.
    bool settled() const { return m_opened && !m_model->loading() && !m_typing.isActive(); }
    frmSiteBookEntry *details() const { return m_details; }
    frmHandover *handover() const { return m_handover; }

    void Details_Click();
    void Export_Click();
    // For the selected entry's plan, or a plan file asked for.
    void Handover_Click();

private:
    void opened(const SiteBookReply &reply);
    void replied(const SiteBookReply &reply);
    void searchChanged();
    void search();
    void showCount();
    void showState(const QString &text);
    void enableButtons();

    SiteBookPlace m_place;
    SiteBookReader *m_reader = nullptr;
    SiteBookModel *m_model = nullptr;
    QTimer m_typing; // the search waits for a pause in typing
    bool m_opened = false;
    bool m_usable = false;
    bool m_noEntries = false;
    quint64 m_openTicket = 0, m_entryTicket = 0, m_exportTicket = 0;
    QString m_exportPath;
    QPointer<frmSiteBookEntry> m_details;
    QPointer<frmHandover> m_handover;
};

// Captions (dispname.ini) and messages of the site book's windows.
namespace SiteBookWindow {
enum Caption {
    Title = 83, MenuItem, Find, From, To, Export, Site, PortAdapter, Action, Details, EntryTitle,
    Setting, Before, After, SaveAs, CsvFiles, Close
};
constexpr int TimeCaption = 77, UnitCaption = 52, ResultCaption = 57, PlanCaption = 58,
              DeviceCaption = 28, ConfigFiles = 37, PlanFiles = 59;
enum Message {
    CannotRead = 270, OffWhat, FileWhat, ServerWhat, NoEntries, NoMatch, Shown, MoreOnScroll,
    Reading, Exported, DetailHeading, BackupHeading, NoBackup, BackupAltered, NameTaken
};
QString text(int message);
QString caption(int n);
// The book at `place` could not be read for `error`, and what to do about it.
QString cannotRead(const SiteBookPlace &place, const QString &error);
} // namespace SiteBookWindow
