// The windows' entries in the site book, written on a thread of their own:
// a locked book or a server that does not answer never holds up the window.
#include "widgets/BookEntry.h"

#include "core/AppState.h"
#include "records/SiteBook.h"
#include "records/SiteBookMessages.h"
#include "records/SiteBookOutcomes.h"
#include "serial/CommControl.h"

#include <QDateTime>
#include <QThread>
#include <atomic>
#include <memory>

namespace Ui {
namespace {

// One writer thread, entries in the order they came; its book opened there
// (a database connection belongs to the thread that made it).
struct Writer {
    QThread thread;
    QObject *inbox = nullptr;
    std::unique_ptr<SiteBook> book; // the writer thread's alone
    QString place;                  // what `book` was opened on
    // Once the program is ending: entries still queued after this time wait
    // in the pending file instead of for a slow book (ms since the epoch).
    std::atomic<qint64> giveUpAt{0};

    void start()
    {
        if (inbox)
            return;
        inbox = new QObject;
        inbox->moveToThread(&thread);
        QObject::connect(&thread, &QThread::finished, inbox, &QObject::deleteLater);
        thread.start();
    }
    ~Writer()
    {
        // Finished properly by FinishBookEntries(); at exit Qt SQL may be gone.
        (void)book.release();
        if (inbox) {
            thread.quit();
            thread.wait();
        }
    }
};

Writer &writer()
{
    static Writer w;
    return w;
}

QString placeKey(const SiteBookPlace &p)
{
    return p.shown() + QLatin1Char('\n') + p.pendingPath;
}

} // namespace

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
    const SiteBookPlace place = SiteBookRecorder::place();
    if (place.kind == SiteBookPlace::Off)
        return;
    Writer &w = writer();
    w.start();
    QMetaObject::invokeMethod(
        w.inbox,
        [&w, place, entry = m_entry] {
            if (const qint64 end = w.giveUpAt; end && QDateTime::currentMSecsSinceEpoch() > end) {
                QString why;
                KeepPending(place.pendingPath, entry, &why);
                return;
            }
            if (!w.book || w.place != placeKey(place)) {
                w.book = std::make_unique<SiteBook>(place);
                w.place = placeKey(place);
            }
            const SiteBook::Recorded r = w.book->record(entry);
            if (r.recorded)
                return;
            const QString text = NotRecordedText(r.reason, r.pendingFile);
            QMetaObject::invokeMethod(
                &BookNotices::instance(), [text] { emit BookNotices::instance().notRecorded(text); },
                Qt::QueuedConnection);
        },
        Qt::QueuedConnection);
}

void FinishBookEntries()
{
    Writer &w = writer();
    if (!w.inbox)
        return;
    // Whatever is queued is written first, or kept pending once that takes
    // longer than an operator waits for a window to close.
    w.giveUpAt = QDateTime::currentMSecsSinceEpoch() + 3000;
    QMetaObject::invokeMethod(w.inbox, [&w] { w.book.reset(); }, Qt::BlockingQueuedConnection);
    w.giveUpAt = 0;
    w.thread.quit();
    w.thread.wait();
    w.inbox = nullptr;
}

BookNotices &BookNotices::instance()
{
    static BookNotices notices;
    return notices;
}

} // namespace Ui
