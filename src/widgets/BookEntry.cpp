// The windows' entries in the site book.
#include "widgets/BookEntry.h"

#include "core/AppState.h"
#include "records/SiteBookMessages.h"
#include "records/SiteBookOutcomes.h"
#include "serial/CommControl.h"

namespace Ui {

BookEntry::BookEntry(const QString &action, const CommControl &comm) : m_entry(SiteBookEntry::begin(action))
{
    SiteBookRecorder::setPort(m_entry, QStringLiteral("COM%1").arg(app().ComPort), comm.openDevice());
}

void BookEntry::record(const QString &result, const QString &detail)
{
    if (m_recorded)
        return;
    m_recorded = true;
    m_entry.result = result;
    if (m_entry.detail.isEmpty())
        m_entry.detail = detail;
    const SiteBookRecorder::Outcome o = SiteBookRecorder::record(m_entry);
    if (o.off || o.recorded)
        return;
    emit BookNotices::instance().notRecorded(
        o.pendingFile.isEmpty() ? app().message(SiteBookMessages::NotKept).arg(o.reason)
                                : app().message(SiteBookMessages::NotRecorded).arg(o.reason, o.pendingFile));
}

BookNotices &BookNotices::instance()
{
    static BookNotices notices;
    return notices;
}

} // namespace Ui
