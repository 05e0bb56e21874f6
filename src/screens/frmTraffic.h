#pragma once
// The traffic console: every line sent and received as it happens, with what
// the program made of it, and one command sent by hand. Modeless; it opens
// and closes at any time and keeps the latest rows.

#include "serial/Traffic.h"
#include "widgets/MessageLine.h"

#include <QAbstractTableModel>
#include <QList>
#include <QWidget>

class CommControl;
class QCheckBox;
class QLineEdit;
class QPushButton;
class QSortFilterProxyModel;
class QTableView;
class ReplyTimer;

// The rows, at most Limit; the oldest drop off.
class TrafficModel : public QAbstractTableModel {
    Q_OBJECT
public:
    static constexpr int Limit = 10000;
    enum Column { ColTime, ColDirection, ColLine, ColMeaning, Columns };
    // The event as it came; what it shows is made when it is shown.
    struct Row {
        TrafficEvent event;
        bool poll = false;
    };

    using QAbstractTableModel::QAbstractTableModel;
    int rowCount(const QModelIndex &parent = {}) const override { return parent.isValid() ? 0 : int(m_rows.size()); }
    int columnCount(const QModelIndex &parent = {}) const override { return parent.isValid() ? 0 : Columns; }
    QVariant data(const QModelIndex &index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    void append(const QList<Row> &rows);
    void clear();
    const Row &row(int n) const { return m_rows.at(n); }
    // One row as text: time, direction, line, meaning, tab-separated.
    QString rowText(int n) const;

private:
    QList<Row> m_rows;
};

class frmTraffic : public QWidget {
    Q_OBJECT
public:
    frmTraffic(CommControl &comm, ReplyTimer &timer, QWidget *parent = nullptr);
    ~frmTraffic() override;

    void Form_Load();

    TrafficModel *model() const { return m_model; }
    int shownRows() const;
    QString shownRowText(int n) const;

    QTableView *lstRows = nullptr;
    QCheckBox *chkHidePoll = nullptr;
    QCheckBox *chkPause = nullptr;
    QPushButton *cmdClear = nullptr, *cmdCopy = nullptr, *cmdSave = nullptr, *cmdSend = nullptr;
    QLineEdit *txtCommand = nullptr;
    MessageLine *TextMess = nullptr;

    void Clear_Click();
    void Copy_Click();
    void Save_Click();
    void Send_Click();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void happened(const TrafficEvent &event);
    void flush();

    CommControl &m_comm;
    ReplyTimer &m_timer;
    TrafficModel *m_model = nullptr;
    QSortFilterProxyModel *m_filter = nullptr;
    QList<TrafficModel::Row> m_pending; // collected while paused, or between repaints
    QStringList m_sent;  // the lines sent by hand, oldest first, for Up and Down
    int m_recalled = 0;  // the line of m_sent in the box; m_sent.size(): the one being typed
    QString m_typing;    // what was typed before Up was first pressed
};
