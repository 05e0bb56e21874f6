// The site book's thread: the window's requests, one after another, each
// answered with its ticket; the CSV the export writes, and the handover
// document, whose entries can take as long to read as a page.
#include "screens/frmSiteBookReader.h"

#include "protocol/NetworkReport.h"
#include "records/SiteBookMessages.h"

#include <QFileInfo>
#include <QThread>

namespace {
// Entries read a page at a time for the export, never all at once.
constexpr int ExportPage = 1000;

// Nothing recorded yet: the book is made with the first entry.
bool noBookYet(const SiteBookPlace &place)
{
    const QFileInfo file(place.path);
    return place.kind == SiteBookPlace::File && !file.exists() && !file.isSymLink();
}
} // namespace

bool LocalDays::holds(const QDateTime &utc) const
{
    const QDate day = utc.toLocalTime().date();
    return (!from.isValid() || day >= from) && (!to.isValid() || day <= to);
}

void LocalDays::widen(SiteBook::Query &query) const
{
    // No local time lies more than a day from UTC.
    query.since = from.isValid() ? from.addDays(-1) : QDate();
    query.until = to.isValid() ? to.addDays(1) : QDate();
}

QByteArray SiteBookCsvHeader()
{
    return QByteArrayLiteral("time,user,host,program,action,site,plan,unit,port,device,adapter,version,"
                             "result,exit,detail,backup,backup_sha256,id\r\n");
}

QByteArray SiteBookCsvRow(const SiteBookEntry &e)
{
    const QStringList fields{e.time.toUTC().toString(Qt::ISODateWithMs), e.user, e.host, e.programVersion,
                             e.action, e.site, e.planPath, e.unit, e.port, e.device, e.adapter, e.version,
                             e.result, QString::number(e.exitCode), e.detail, e.backupPath, e.backupSha256,
                             e.id};
    QStringList cells;
    for (const QString &f : fields)
        cells << CsvField(f);
    return (cells.join(QLatin1Char(',')) + QStringLiteral("\r\n")).toUtf8();
}

SiteBookReaderWorker::~SiteBookReaderWorker() = default;

SiteBook &SiteBookReaderWorker::book()
{
    if (!m_book)
        m_book = std::make_unique<SiteBook>(m_place);
    return *m_book;
}

SiteBookReader::SiteBookReader(const SiteBookPlace &place, QObject *parent)
    : QObject(parent), m_worker(new SiteBookReaderWorker(place))
{
    qRegisterMetaType<SiteBookReply>();
    auto *thread = new QThread;
    m_worker->moveToThread(thread);
    connect(m_worker, &SiteBookReaderWorker::done, this, &SiteBookReader::replied);
    thread->start();
}

SiteBookReader::~SiteBookReader()
{
    disconnect(m_worker, nullptr, this, nullptr);
    SiteBookReaderWorker *worker = m_worker;
    QThread *thread = worker->thread();
    worker->stopped = true;
    // The book is closed where it was opened, then the thread ends.
    QMetaObject::invokeMethod(
        worker,
        [worker] {
            QThread *own = worker->thread();
            delete worker;
            own->quit();
        },
        Qt::QueuedConnection);
    connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    if (thread->wait(200))
        delete thread;
}

template <typename Work>
quint64 SiteBookReader::post(Work work)
{
    const quint64 ticket = ++m_ticket;
    SiteBookReaderWorker *worker = m_worker;
    QMetaObject::invokeMethod(
        worker,
        [worker, ticket, work] {
            if (worker->stopped)
                return;
            SiteBookReply reply = work(*worker);
            reply.ticket = ticket;
            emit worker->done(reply);
        },
        Qt::QueuedConnection);
    return ticket;
}

quint64 SiteBookReader::open()
{
    return post([](SiteBookReaderWorker &w) {
        SiteBookReply r;
        if (noBookYet(w.book().place())) {
            r.ok = r.noBook = true;
            return r;
        }
        r.ok = w.book().open(&r.error, false);
        if (r.ok) {
            r.count = w.book().count();
            r.ok = r.count >= 0;
            if (!r.ok) // a database without the book's tables
                r.error = SiteBookText(SiteBookMessages::CannotOpen);
        }
        return r;
    });
}

quint64 SiteBookReader::page(const SiteBook::Query &query)
{
    return post([query](SiteBookReaderWorker &w) {
        SiteBookReply r;
        if (const auto entries = w.book().entries(query, &r.error)) {
            r.ok = true;
            r.entries = *entries;
            r.more = query.limit > 0 && entries->size() >= query.limit;
        }
        return r;
    });
}

quint64 SiteBookReader::entry(const QString &id)
{
    return post([id](SiteBookReaderWorker &w) {
        SiteBookReply r;
        if (const auto e = w.book().entry(id, &r.error)) {
            r.ok = true;
            r.entries << *e;
        }
        return r;
    });
}

quint64 SiteBookReader::exportCsv(SiteBook::Query query, const LocalDays &days)
{
    query.limit = ExportPage;
    return post([query, days](SiteBookReaderWorker &w) {
        SiteBook::Query page = query;
        SiteBookReply r;
        r.csv = SiteBookCsvHeader();
        for (;;) {
            if (w.stopped)
                return SiteBookReply();
            const auto entries = w.book().entries(page, &r.error, true);
            if (!entries)
                return r;
            for (const SiteBookEntry &e : *entries)
                if (days.holds(e.time)) {
                    r.csv += SiteBookCsvRow(e);
                    ++r.count;
                }
            if (entries->size() < ExportPage)
                break;
            page.olderThan = entries->constLast().time;
            page.olderThanId = entries->constLast().id;
        }
        r.ok = true;
        return r;
    });
}

quint64 SiteBookReader::handover(const NetworkPlan &plan, const QString &planPath, const QString &planText)
{
    return post([plan, planPath, planText](SiteBookReaderWorker &w) {
        SiteBookReply r;
        // Only read: a document never makes a book.
        r.noBook = noBookYet(w.book().place());
        if (r.noBook || !w.book().open(&r.error, false))
            return r;
        r.handover = GatherHandover(w.book(), plan, planPath, planText, &r.error);
        if (r.handover) {
            r.html = HandoverHtml(*r.handover);
            r.ok = true;
        }
        return r;
    });
}
