#pragma once
// The windows' entries in the site book: begun with an exchange sequence and
// recorded once its outcome is shown, what the window said as the detail,
// written on a thread of their own.
// An entry the book could not take is said once, to whoever listens.

#include "records/SiteBookEntry.h"

#include <QObject>

class CommControl;

namespace Ui {

class BookEntry {
public:
    // The unit on `comm`'s open port: the port as the program names it, its
    // device and the adapter's stable name.
    BookEntry(const QString &action, const CommControl &comm);
    // One that never came to an outcome (a refusal before anything was sent)
    // is not recorded.
    ~BookEntry() = default;
    BookEntry(const BookEntry &) = delete;
    BookEntry &operator=(const BookEntry &) = delete;

    SiteBookEntry &entry() { return m_entry; }
    // Records with `result` ("read", "written", "failed", ...) and the text
    // the window showed; once.
    void record(const QString &result, const QString &detail);

private:
    SiteBookEntry m_entry;
    bool m_recorded = false;
};

// Writes what is still queued and ends the writer: before the application
// object goes, whose database drivers it uses.
void FinishBookEntries();

// Where an entry could not go in: the main window shows it in its status bar.
class BookNotices : public QObject {
    Q_OBJECT
public:
    static BookNotices &instance();
signals:
    void notRecorded(const QString &text);
};

} // namespace Ui
