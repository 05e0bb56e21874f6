// The site book's list: a page of entries at a time, asked for as the view
// reaches the end of what it has (keyset paging: older than the last read).
#include "screens/frmSiteBook.h"

#include <QDir>

using namespace SiteBookWindow;

SiteBookModel::SiteBookModel(SiteBookReader *reader, QObject *parent)
    : QAbstractTableModel(parent), m_reader(reader)
{
    connect(reader, &SiteBookReader::replied, this, &SiteBookModel::replied);
}

int SiteBookModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

int SiteBookModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : Columns;
}

QVariant SiteBookModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_rows.size())
        return {};
    const SiteBookEntry &e = m_rows.at(index.row());
    if (role == Qt::ToolTipRole && index.column() == ColPort)
        return QDir::toNativeSeparators(e.device);
    if (role != Qt::DisplayRole)
        return {};
    switch (index.column()) {
    case ColTime: return e.time.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    case ColSite: return e.site;
    case ColUnit: return e.unit;
    case ColPort:
        if (e.adapter.isEmpty() || e.adapter == e.port)
            return e.port;
        return e.port.isEmpty() ? e.adapter : e.port + QStringLiteral(" (") + e.adapter + QLatin1Char(')');
    case ColAction: return e.action;
    case ColResult: return e.result;
    default: return {};
    }
}

QVariant SiteBookModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    const int captions[] = {TimeCaption, Site, UnitCaption, PortAdapter, Action, ResultCaption};
    return section >= 0 && section < Columns ? caption(captions[section]) : QVariant();
}

SiteBook::Query SiteBookModel::query() const
{
    SiteBook::Query q;
    q.text = m_text;
    q.limit = Page;
    m_days.widen(q);
    return q;
}

void SiteBookModel::search(const QString &text, const LocalDays &days)
{
    beginResetModel();
    m_rows.clear();
    m_text = text;
    m_days = days;
    m_searching = true;
    m_more = true;
    m_asked = 0;
    m_lastTime = QDateTime();
    m_lastId.clear();
    endResetModel();
    ask();
}

bool SiteBookModel::canFetchMore(const QModelIndex &parent) const
{
    return !parent.isValid() && m_searching && m_more && m_asked == 0;
}

void SiteBookModel::fetchMore(const QModelIndex &parent)
{
    if (canFetchMore(parent))
        ask();
}

void SiteBookModel::ask()
{
    SiteBook::Query q = query();
    q.olderThan = m_lastTime;
    q.olderThanId = m_lastId;
    m_asked = m_reader->page(q);
}

void SiteBookModel::replied(const SiteBookReply &reply)
{
    if (reply.ticket != m_asked || m_asked == 0)
        return; // another request's, or a search since replaced
    m_asked = 0;
    if (!reply.ok) {
        m_more = false;
        emit failed(reply.error);
        return;
    }
    m_more = reply.more;
    if (!reply.entries.isEmpty()) {
        m_lastTime = reply.entries.constLast().time;
        m_lastId = reply.entries.constLast().id;
    }
    QList<SiteBookEntry> shown;
    for (const SiteBookEntry &e : reply.entries)
        if (m_days.holds(e.time))
            shown << e;
    if (!shown.isEmpty()) {
        beginInsertRows({}, int(m_rows.size()), int(m_rows.size() + shown.size()) - 1);
        m_rows.append(shown);
        endInsertRows();
    } else if (m_more) {
        // A page wholly outside the local days adds no row for the view to
        // scroll to: the next one at once.
        ask();
        return;
    }
    emit pageRead();
}
