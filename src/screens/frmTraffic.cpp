// The traffic console: rows from the traffic hub, the link poll hidden on
// demand, pause, clear, copy and save, and a command sent by hand.
#include "screens/frmTraffic.h"

#include "config/modFile.h"
#include "core/AppState.h"
#include "protocol/ManualCommand.h"
#include "protocol/TrafficMeaning.h"
#include "protocol/UnitConfig.h"
#include "serial/CommControl.h"
#include "serial/Exchange.h"
#include "widgets/Accessible.h"
#include "widgets/MessageLine.h"
#include "widgets/ScreenFit.h"
#include "widgets/Ui.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QFontMetrics>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSortFilterProxyModel>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>

namespace {

// Captions of the console (dispname.ini).
enum Caption { Title = 70, HidePoll, Pause, Clear, Copy, SaveText, Send, Time, Direction, Line, Meaning, TextFiles };

QString caption(int n)
{
    return app().dispName(n);
}

// Messages of the console.
constexpr int NotALineMessage = 187;  // control characters or nothing to send
constexpr int NoAnswerMessage = 188;  // no answer within 7 s
constexpr int AnsweredMessage = 189;  // the answer:
constexpr int HistoryLimit = 100;     // lines sent by hand kept for Up
constexpr int PortClosedMessage = 61; // the port is closed

// Sent, received, a note, dropped unread, the adapter's echo.
const char *const Arrows[] = {"→", "←", "·", "↚", "↩"};

// Hides the link poll's rows when asked.
class PollFilter : public QSortFilterProxyModel {
public:
    using QSortFilterProxyModel::QSortFilterProxyModel;
    bool hidePoll = false;
    void setHidePoll(bool hide)
    {
        hidePoll = hide;
        invalidateFilter();
    }

protected:
    bool filterAcceptsRow(int row, const QModelIndex &) const override
    {
        return !hidePoll || !static_cast<TrafficModel *>(sourceModel())->row(row).poll;
    }
};

} // namespace

QVariant TrafficModel::data(const QModelIndex &index, int role) const
{
    if (role != Qt::DisplayRole || !index.isValid())
        return {};
    const Row &r = m_rows.at(index.row());
    switch (index.column()) {
    case ColTime: return r.event.time().time().toString(QStringLiteral("HH:mm:ss.zzz"));
    case ColDirection: return QString::fromUtf8(Arrows[r.event.kind]);
    case ColLine: return r.event.kind == TrafficEvent::Note ? r.event.text : VisibleLine(r.event.text);
    case ColMeaning: return TrafficMeaning(r.event);
    default: return {};
    }
}

QVariant TrafficModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    return caption(Time + section);
}

void TrafficModel::append(const QList<Row> &rows)
{
    if (rows.isEmpty())
        return;
    // The newest Limit rows stay; the oldest drop off first.
    const int incoming = int(qMin<qsizetype>(rows.size(), Limit));
    const int drop = int(qMax<qsizetype>(0, m_rows.size() + incoming - Limit));
    if (drop > 0) {
        beginRemoveRows({}, 0, drop - 1);
        m_rows.remove(0, drop);
        endRemoveRows();
    }
    beginInsertRows({}, int(m_rows.size()), int(m_rows.size()) + incoming - 1);
    m_rows.append(rows.mid(rows.size() - incoming));
    endInsertRows();
}

void TrafficModel::clear()
{
    beginResetModel();
    m_rows.clear();
    m_rows.squeeze();
    endResetModel();
}

QString TrafficModel::rowText(int n) const
{
    QStringList cells;
    for (int c = 0; c < Columns; ++c)
        cells << data(index(n, c), Qt::DisplayRole).toString();
    return cells.join(QLatin1Char('\t'));
}

frmTraffic::frmTraffic(CommControl &comm, ReplyTimer &timer, QWidget *parent)
    : QWidget(parent, Qt::Window), m_comm(comm), m_timer(timer)
{
    setFont(Ui::gothic(10));
    auto *top = new QVBoxLayout(this);
    auto *switches = new QHBoxLayout;
    chkHidePoll = new QCheckBox(this);
    chkPause = new QCheckBox(this);
    cmdClear = new QPushButton(this);
    cmdCopy = new QPushButton(this);
    cmdSave = new QPushButton(this);
    switches->addWidget(chkHidePoll);
    switches->addWidget(chkPause);
    switches->addStretch(1);
    for (QPushButton *b : {cmdClear, cmdCopy, cmdSave})
        switches->addWidget(b);
    top->addLayout(switches);

    m_model = new TrafficModel(this);
    m_filter = new PollFilter(this);
    m_filter->setSourceModel(m_model);
    lstRows = new QTableView(this);
    lstRows->setModel(m_filter);
    lstRows->verticalHeader()->hide();
    lstRows->setSelectionBehavior(QAbstractItemView::SelectRows);
    lstRows->horizontalHeader()->setStretchLastSection(true);
    QFont mono(QStringLiteral("monospace"));
    mono.setStyleHint(QFont::Monospace);
    mono.setBold(false);
    lstRows->setFont(mono);
    // Room for a time, an arrow and a reply line; the meaning takes the rest.
    const QFontMetrics metrics(mono);
    lstRows->setColumnWidth(TrafficModel::ColTime, metrics.horizontalAdvance(QStringLiteral("00:00:00.000")) + 16);
    lstRows->setColumnWidth(TrafficModel::ColDirection, metrics.horizontalAdvance(QStringLiteral("MM")) + 16);
    lstRows->setColumnWidth(TrafficModel::ColLine, metrics.horizontalAdvance(QString(26, u'M')));
    lstRows->verticalHeader()->setDefaultSectionSize(metrics.height() + 6);
    lstRows->setTabKeyNavigation(false); // Tab on to the send box, not along the rows
    Ui::nameAfter(lstRows, app().dispName(Ui::TrafficTable));
    top->addWidget(lstRows, 1);

    auto *send = new QHBoxLayout;
    txtCommand = new QLineEdit(this);
    txtCommand->setFont(mono);
    txtCommand->setPlaceholderText(QStringLiteral("@KZ9V"));
    cmdSend = new QPushButton(this);
    send->addWidget(txtCommand, 1);
    send->addWidget(cmdSend);
    top->addLayout(send);
    Ui::nameAfter(txtCommand, app().dispName(Ui::CommandToSend));
    TextMess = new MessageLine(this);
    top->addWidget(TextMess);

    connect(chkHidePoll, &QCheckBox::toggled, this,
            [this](bool on) { static_cast<PollFilter *>(m_filter)->setHidePoll(on); });
    connect(chkPause, &QCheckBox::toggled, this, [this](bool on) {
        if (!on)
            flush();
    });
    connect(cmdClear, &QPushButton::clicked, this, &frmTraffic::Clear_Click);
    connect(cmdCopy, &QPushButton::clicked, this, &frmTraffic::Copy_Click);
    connect(cmdSave, &QPushButton::clicked, this, &frmTraffic::Save_Click);
    connect(cmdSend, &QPushButton::clicked, this, &frmTraffic::Send_Click);
    connect(txtCommand, &QLineEdit::returnPressed, this, &frmTraffic::Send_Click);
    txtCommand->installEventFilter(this);
    connect(&TrafficHub::instance(), &TrafficHub::happened, this, &frmTraffic::happened);
    resize(Ui::px(12000), Ui::px(8000));
    Ui::setNames({{chkHidePoll, "chkHidePoll"}, {chkPause, "chkPause"}, {cmdClear, "cmdClear"}, {cmdCopy, "cmdCopy"},
                  {cmdSave, "cmdSave"}, {lstRows, "lstRows"}, {txtCommand, "txtCommand"}, {cmdSend, "cmdSend"}});
    Ui::fitScreen(this);
}

frmTraffic::~frmTraffic() = default;

void frmTraffic::Form_Load()
{
    Ui::setTitle(this, caption(Title));
    chkHidePoll->setText(caption(HidePoll));
    chkPause->setText(caption(Pause));
    cmdClear->setText(caption(Clear));
    cmdCopy->setText(caption(Copy));
    cmdSave->setText(caption(SaveText));
    cmdSend->setText(caption(Send));
}

void frmTraffic::happened(const TrafficEvent &event)
{
    const TrafficModel::Row row{event, IsLinkPollTraffic(event)};
    // Collected in batches, shown at the next pass of the event loop; while
    // paused, kept (the newest Limit of them) until the pause ends.
    if (m_pending.size() >= TrafficModel::Limit)
        m_pending.removeFirst();
    m_pending << row;
    if (!chkPause->isChecked() && m_pending.size() == 1)
        QTimer::singleShot(0, this, &frmTraffic::flush);
}

void frmTraffic::flush()
{
    if (chkPause->isChecked())
        return;
    // Followed as it grows, unless the operator scrolled back to read.
    const QScrollBar *bar = lstRows->verticalScrollBar();
    const bool atEnd = bar->value() == bar->maximum();
    m_model->append(m_pending);
    m_pending.clear();
    if (atEnd)
        lstRows->scrollToBottom();
}

int frmTraffic::shownRows() const
{
    return m_filter->rowCount();
}

QString frmTraffic::shownRowText(int n) const
{
    return m_model->rowText(m_filter->mapToSource(m_filter->index(n, 0)).row());
}

void frmTraffic::Clear_Click()
{
    m_pending.clear();
    m_model->clear();
}

void frmTraffic::Copy_Click()
{
    QStringList lines;
    QModelIndexList rows = lstRows->selectionModel()->selectedRows();
    std::sort(rows.begin(), rows.end());
    for (const QModelIndex &i : rows)
        lines << m_model->rowText(m_filter->mapToSource(i).row());
    QApplication::clipboard()->setText(lines.join(QLatin1Char('\n')) + QLatin1Char('\n'));
}

void frmTraffic::Save_Click()
{
    const QString path = QFileDialog::getSaveFileName(this, caption(SaveText), WorkFolder(), caption(TextFiles));
    if (path.isEmpty())
        return;
    // The rows' times carry no date and no port: the first line names the
    // port, its device and when the rows were saved.
    const int port = app().ComPort;
    const QString device = m_comm.openDevice().isEmpty() ? m_comm.deviceFor(port) : m_comm.openDevice();
    QStringList lines{QStringLiteral("%1: COM%2 (%3) %4")
                          .arg(caption(Title))
                          .arg(port)
                          .arg(QDir::toNativeSeparators(device),
                               QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss t")))};
    for (int n = 0; n < m_model->rowCount(); ++n)
        lines << m_model->rowText(n);
    QString error;
    if (WriteConfigFile(path, lines.join(QLatin1Char('\n')) + QLatin1Char('\n'), WriteMode::Replace, &error))
        Ui::showLine(TextMess, app().message(ConfigMessages::Saved) + QLatin1Char(' ') + QDir::toNativeSeparators(path));
    else
        Ui::showLine(TextMess, QDir::toNativeSeparators(path) + QStringLiteral(": ") + error);
}

void frmTraffic::Send_Click()
{
    const QString line = txtCommand->text();
    QString answer;
    const ManualResult result = SendManualCommand(m_comm, m_timer, line, &answer);
    switch (result) {
    case ManualResult::Answered:
        Ui::showLine(TextMess, app().message(AnsweredMessage) + QLatin1Char(' ') + VisibleLine(answer));
        break;
    case ManualResult::NoAnswer:
        Ui::showLine(TextMess, app().message(NoAnswerMessage));
        break;
    case ManualResult::NotALine:
        Ui::showLine(TextMess, app().message(NotALineMessage));
        break;
    case ManualResult::Busy:
        Ui::showLine(TextMess, app().message(ExchangeBusyMessage));
        break;
    case ManualResult::PortClosed:
        Ui::showLine(TextMess, app().message(PortClosedMessage));
        break;
    }
    // A line that went out leaves the box empty for the next, kept for Up;
    // one that did not stays to be mended or sent again.
    if (result != ManualResult::Answered && result != ManualResult::NoAnswer)
        return;
    if (m_sent.isEmpty() || m_sent.constLast() != line)
        m_sent << line;
    if (m_sent.size() > HistoryLimit)
        m_sent.removeFirst();
    m_recalled = int(m_sent.size());
    m_typing.clear();
    txtCommand->clear();
}

bool frmTraffic::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != txtCommand || event->type() != QEvent::KeyPress)
        return QWidget::eventFilter(watched, event);
    const int key = static_cast<QKeyEvent *>(event)->key();
    if (key != Qt::Key_Up && key != Qt::Key_Down)
        return false;
    const int to = m_recalled + (key == Qt::Key_Up ? -1 : 1);
    if (to < 0 || to > m_sent.size())
        return true;
    if (m_recalled == m_sent.size())
        m_typing = txtCommand->text();
    m_recalled = to;
    txtCommand->setText(to == m_sent.size() ? m_typing : m_sent.at(to));
    return true;
}
