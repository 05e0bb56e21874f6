// The site book's window on a book of the size real ones reach: entries
// with a whole backup (~1.5 KB) and the record and 28 registers before and
// after. Times the window's opening (its first page loaded and shown), a
// search through every entry, a page deep in the book, and the book's bytes
// an entry; prints SQLite's plan for the searches.
//
//   build/bench/bench_sitebook [BOOK [ENTRIES]]
//
// BOOK (default: a temporary one) is filled to ENTRIES (100000) through
// SiteBook::record, as the program fills it, and kept for the next run.

#include "core/AppState.h"
#include "protocol/RegisterMap.h"
#include "protocol/UnitConfig.h"
#include "records/SiteBook.h"
#include "screens/frmSiteBook.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLineEdit>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTableView>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>

namespace {

UnitConfig configOf(int n)
{
    UnitConfig c;
    c.version = QStringLiteral("QML47210 R1.%1").arg(20 + n % 3);
    c.record = *UnitRecord::fromText(QStringLiteral("%1%2%3").arg(n % 4).arg(n % 24, 2, 16, QLatin1Char('0')).arg(
        QStringLiteral("0101210")));
    for (int r = 0; r < UnitConfig::Registers; ++r)
        c.registers[size_t(r)] = QStringLiteral("%1").arg((n * 7 + r * 13) % 256, 2, 16, QLatin1Char('0')).toUpper();
    c.registers[27] = BandRegisterValue(n % 4);
    c.registers[6] = ChannelRegisterValue(n % 24);
    return c;
}

// An entry as a unit's write leaves it: one entry every ten minutes or so,
// 400 units at 20 sites, now and then one that differs or failed.
SiteBookEntry entryOf(int n, const QDateTime &start)
{
    SiteBookEntry e = SiteBookEntry::begin(QStringLiteral("write"));
    e.time = start.addSecs(qint64(n) * 613);
    e.site = QStringLiteral("site-%1").arg(n % 20);
    e.unit = QStringLiteral("unit-%1").arg(n % 400);
    e.port = QStringLiteral("COM%1").arg(1 + n % 4);
    e.device = QStringLiteral("/dev/ttyUSB%1").arg(n % 4);
    e.adapter = QStringLiteral("usb-FTDI_FT232R_USB_UART_A%1-if00-port0").arg(1000 + n % 50);
    const UnitConfig before = configOf(n), after = configOf(n + 1);
    e.version = before.version;
    e.before = SettingsOf(before);
    e.after = SettingsOf(after);
    e.result = n % 50 == 0 ? QStringLiteral("differs") : n % 97 == 0 ? QStringLiteral("failed") : QStringLiteral("verified");
    e.detail = QStringLiteral("Applied and verified: the unit holds the file's values.");
    e.setBackup(QStringLiteral("/home/ops/.local/share/qml47210/backups/backup-COM1-%1.ini").arg(n),
                WriteConfigText(before, e.port, e.time.toLocalTime()).toUtf8());
    return e;
}

double median(QList<double> v)
{
    std::sort(v.begin(), v.end());
    return v.at(v.size() / 2);
}

// The window from its making to its first page shown.
double openWindow(const SiteBookPlace &place)
{
    QElapsedTimer t;
    t.start();
    frmSiteBook w(place);
    w.Form_Load();
    w.show();
    while (!w.settled())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    w.lstEntries->viewport()->repaint();
    const double ms = t.nsecsElapsed() / 1e6;
    if (w.model()->rowCount() != SiteBookModel::Page)
        std::fprintf(stderr, "the window shows %d entries\n", w.model()->rowCount());
    return ms;
}

void plan(QSqlDatabase &db, const char *what, const QString &sql)
{
    QSqlQuery q(db);
    q.exec(QStringLiteral("EXPLAIN QUERY PLAN ") + sql);
    std::printf("  plan, %s:\n", what);
    while (q.next())
        std::printf("    %s\n", qPrintable(q.value(3).toString()));
}

} // namespace

int main(int argc, char *argv[])
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    app().MessageTable[SiteBookWindow::Shown] = QStringLiteral("%1");
    QTemporaryDir dir;
    const QString path = argc > 1 ? QFileInfo(QString::fromLocal8Bit(argv[1])).absoluteFilePath()
                                  : dir.filePath(QStringLiteral("sitebook.sqlite"));
    const int wanted = argc > 2 ? atoi(argv[2]) : 100000;
    SiteBookPlace place;
    place.kind = SiteBookPlace::File;
    place.path = path;

    {
        SiteBook book(place);
        QString reason;
        if (!book.open(&reason)) {
            std::fprintf(stderr, "%s\n", qPrintable(reason));
            return 1;
        }
        const qint64 had = book.count();
        const QDateTime start = QDateTime::currentDateTimeUtc().addSecs(-qint64(wanted) * 613);
        QElapsedTimer t;
        t.start();
        for (qint64 n = had; n < wanted; ++n)
            if (!book.record(entryOf(int(n), start)).recorded) {
                std::fprintf(stderr, "entry %lld not recorded\n", static_cast<long long>(n));
                return 1;
            }
        if (had < wanted)
            std::printf("recorded %lld entries in %.1f s (%.2f ms each, one transaction each)\n",
                        static_cast<long long>(wanted - had), t.nsecsElapsed() / 1e9,
                        t.nsecsElapsed() / 1e6 / double(wanted - had));
        std::printf("book: %lld entries, backup text %lld bytes\n", static_cast<long long>(book.count()),
                    static_cast<long long>(entryOf(0, start).backupText.toUtf8().size()));
    }
    {
        // Everything written so far folded into the book itself.
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("size"));
        db.setDatabaseName(path);
        db.open();
        QSqlQuery(db).exec(QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)"));
        QSqlQuery q(db);
        q.exec(QStringLiteral("SELECT count(*) FROM site_book_entries"));
        const qint64 entries = q.next() ? q.value(0).toLongLong() : 0;
        const qint64 bytes = QFileInfo(path).size() + QFileInfo(path + QStringLiteral("-wal")).size();
        std::printf("bytes an entry: %.0f (%.1f MB for %lld entries)\n", double(bytes) / double(qMax<qint64>(entries, 1)),
                    bytes / 1e6, static_cast<long long>(entries));
        const QString like = QStringLiteral(" LIKE '%zzz%' ESCAPE '\\'");
        QStringList any;
        for (const char *c : {"e.site", "e.unit", "e.adapter", "e.version", "e.user_name", "e.result"})
            any << QLatin1String(c) + like;
        const QString columns = QStringLiteral("SELECT e.id, e.time, e.site, e.unit FROM site_book_entries e");
        plan(db, "the first page", columns + QStringLiteral(" ORDER BY e.time DESC, e.id DESC LIMIT 1000"));
        plan(db, "a search", columns + QStringLiteral(" WHERE (") + any.join(QStringLiteral(" OR "))
                                 + QStringLiteral(") ORDER BY e.time DESC, e.id DESC LIMIT 1000"));
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("size"));

    QList<double> opening;
    for (int i = 0; i < 7; ++i)
        opening << openWindow(place);
    std::printf("window opened, first %d entries shown: first %.1f ms, median of 7 %.1f ms (target 300)\n",
                SiteBookModel::Page, opening.first(), median(opening));

    SiteBook book(place);
    QString error;
    const auto timed = [&](const SiteBook::Query &q, int *found) {
        QList<double> runs;
        for (int i = 0; i < 5; ++i) {
            QElapsedTimer t;
            t.start();
            const auto got = book.entries(q, &error);
            runs << t.nsecsElapsed() / 1e6;
            *found = got ? int(got->size()) : -1;
        }
        return median(runs);
    };
    int found = 0;
    struct Search {
        const char *what, *text;
    };
    for (const Search &s : {Search{"a search that finds nothing (every entry read)", "zzz"},
                            Search{"a search for one unit (every 400th)", "unit-123"},
                            Search{"a search for a result (1 in 97)", "failed"},
                            Search{"a search for a site (every 20th)", "site-7"}}) {
        SiteBook::Query q;
        q.text = QString::fromLatin1(s.text);
        const double ms = timed(q, &found);
        std::printf("%-50s %7.1f ms, %d found (target 100)\n", s.what, ms, found);
    }
    SiteBook::Query deep;
    const auto middle = book.entries([&] {
        SiteBook::Query q;
        q.limit = 1;
        q.olderThan = QDateTime::currentDateTimeUtc().addSecs(-qint64(wanted) * 613 / 2);
        q.olderThanId = QStringLiteral("~");
        return q;
    }(), &error);
    if (middle && !middle->isEmpty()) {
        deep.olderThan = middle->constFirst().time;
        deep.olderThanId = middle->constFirst().id;
        const double ms = timed(deep, &found);
        std::printf("%-50s %7.1f ms, %d found\n", "a page halfway down the book (keyset)", ms, found);
    }

    // The search as the operator sees it: typed, the pause, the list shown.
    frmSiteBook w(place);
    w.Form_Load();
    w.show();
    while (!w.settled())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    QList<double> typed;
    for (const char *text : {"zzz", "zzzz", "zzz", "zzzz", "zzz"}) {
        QElapsedTimer t;
        t.start();
        w.txtFind->setText(QString::fromLatin1(text));
        while (!w.settled())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
        typed << t.nsecsElapsed() / 1e6;
    }
    std::printf("%-50s first %.1f ms, median of 5 %.1f ms (250 ms of it the typing pause)\n",
                "the window: a search typed to the list shown", typed.first(), median(typed));
    return 0;
}
