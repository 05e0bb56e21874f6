// The site book's filter on any text: every entry that holds the text as
// typed (a quote, % and _ are letters there, never a pattern), no entry that
// does not, whatever its length; a text with a NUL is refused with an error.
// Never a crash, never an SQL error.

#include "Fuzz.h"
#include "config/modFile.h"
#include "core/AppState.h"
#include "records/SiteBook.h"
#include "records/SiteBookMessages.h"

#include <QSet>
#include <QTemporaryDir>
#include <memory>

namespace {

// What the text is looked for in.
bool holds(const SiteBookEntry &e, const QString &text, Qt::CaseSensitivity cs)
{
    for (const QString *field : {&e.site, &e.unit, &e.adapter, &e.version, &e.user, &e.result})
        if (field->contains(text, cs))
            return true;
    return false;
}

// A small book of SQLite's, made once, whose entries hold what a filter
// could mistake for its own syntax.
struct Book {
    QTemporaryDir dir;
    QList<SiteBookEntry> written;
    std::unique_ptr<SiteBook> book;

    Book()
    {
        // The book's refusals are texts of the message table.
        app().AppDir = dir.path() + QLatin1Char('/');
        app().ShippedTextDir = QStringLiteral(QML_DIST "lang/en/");
        ReadMessageIni();
        FUZZ_CHECK(!SiteBookText(SiteBookMessages::NulInFilter).isEmpty());
        QString error;
        const auto place = SiteBookPlaceFor(QString(), QString(), dir.path(), &error);
        FUZZ_CHECK(place && place->kind == SiteBookPlace::File);
        book = std::make_unique<SiteBook>(*place);
        FUZZ_CHECK(book->open(&error));
        const QStringList fields[] = {
            {"O'Brien's \"yard\"", "pump-1", "usb-FTDI_FT232R_A1", "QML47210 V1.20", "read", "sato"},
            {"50% hill", "tank_1", "", "QML47210 V1.21", "verified", "o'neil"},
            {"back\\slash", "%_%", "usb-Prolific_2303", "", "differs", "tech_2"},
            {"北の井戸", "ポンプ", "", "", "written", "大野"},
            {"a''b%%c__d", "Tank_1", "[x]*?", "", "may have been written", "100%"},
            {"", "", "", "", "failed", ""},
        };
        for (const QStringList &f : fields) {
            SiteBookEntry e = SiteBookEntry::begin(QStringLiteral("read"));
            e.site = f[0];
            e.unit = f[1];
            e.adapter = f[2];
            e.version = f[3];
            e.result = f[4];
            e.user = f[5];
            FUZZ_CHECK(book->record(e).recorded);
            written << e;
        }
    }
};

void check(const QString &text)
{
    static Book b;
    SiteBook::Query query;
    query.text = text;
    QString error;
    const auto found = b.book->entries(query, &error);
    if (text.contains(QChar(0))) {
        FUZZ_CHECK(!found);
        FUZZ_CHECK(!error.isEmpty());
        return;
    }
    if (!found)
        std::fprintf(stderr, "%s\n", qPrintable(error));
    FUZZ_CHECK(found.has_value());
    // Letter case aside, which a database may fold.
    QSet<QString> ids;
    for (const SiteBookEntry &e : *found) {
        FUZZ_CHECK(holds(e, text, Qt::CaseInsensitive));
        ids.insert(e.id);
    }
    for (const SiteBookEntry &e : b.written)
        if (holds(e, text, Qt::CaseSensitive))
            FUZZ_CHECK(ids.contains(e.id));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // A megabyte once, longer than any pattern a database takes whole.
    static const bool megabyte = [] {
        check(QString(1 << 20, QLatin1Char('x')) + QStringLiteral("'%_"));
        check(QStringLiteral("tank") + QString(1 << 20, QLatin1Char('%')));
        return true;
    }();
    (void)megabyte;
    check(QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size)));
    return 0;
}
