#pragma once
// The site book as the window reads it: in a thread of its own, so that a
// server that does not answer, or a search through every entry, never holds
// up the window. Each request is answered once, under its ticket.

#include "documents/Handover.h"
#include "records/SiteBook.h"

#include <QDate>
#include <QObject>
#include <atomic>
#include <memory>

struct SiteBookReply {
    quint64 ticket = 0;
    bool ok = false;
    QString error;                // why not, when not ok
    bool noBook = false;          // open: there is no book there yet
    qint64 count = 0;             // open: the entries in the book; export: those written
    QList<SiteBookEntry> entries; // a page, newest first; an entry whole
    bool more = false;            // a page: older entries may follow
    QByteArray csv;               // export
    std::optional<Handover> handover; // the handover document's facts
    QString html;                     // ... and the document made of them
};
Q_DECLARE_METATYPE(SiteBookReply)

// Local days, both included; an invalid date leaves that end open.
struct LocalDays {
    QDate from, to;
    bool holds(const QDateTime &utc) const;
    // The book's query for these days: its UTC days reach one day further
    // either side, and holds() takes away what lies beyond the local ones.
    void widen(SiteBook::Query &query) const;
};

// Entries as CSV: a header row, then a row an entry, every cell neutralised.
QByteArray SiteBookCsvHeader();
QByteArray SiteBookCsvRow(const SiteBookEntry &entry);

// The book itself, made, used and closed in the reader's thread, where its
// connection belongs.
class SiteBookReaderWorker : public QObject {
    Q_OBJECT
public:
    explicit SiteBookReaderWorker(const SiteBookPlace &place) : m_place(place) {}
    ~SiteBookReaderWorker() override;
    SiteBook &book();
    std::atomic<bool> stopped{false};

signals:
    void done(const SiteBookReply &reply);

private:
    SiteBookPlace m_place;
    std::unique_ptr<SiteBook> m_book;
};

class SiteBookReader : public QObject {
    Q_OBJECT
public:
    explicit SiteBookReader(const SiteBookPlace &place, QObject *parent = nullptr);
    // Waits a moment at most: a request still under way (a server that does
    // not answer) ends the thread when it returns.
    ~SiteBookReader() override;

    quint64 open();
    // One page of `query`: entries without detail, before, after and backup.
    quint64 page(const SiteBook::Query &query);
    quint64 entry(const QString &id);
    // Every entry of `query` within `days`, as CSV.
    quint64 exportCsv(SiteBook::Query query, const LocalDays &days);
    // The plan's handover document, from the book as it is now; noBook
    // when there is none to read.
    quint64 handover(const NetworkPlan &plan, const QString &planPath, const QString &planText);

signals:
    void replied(const SiteBookReply &reply);

private:
    template <typename Work>
    quint64 post(Work work);
    quint64 m_ticket = 0;
    SiteBookReaderWorker *m_worker = nullptr;
};
