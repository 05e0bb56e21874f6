// The site book's window on a real SQLite book in a temporary folder, filled
// as the program fills it, in a time zone nine hours east of UTC: the search
// as typed and by local days, paging as the list is scrolled, an entry's
// differing settings, its backup saved as a file apply takes, the export, a
// plan's handover document, and books that cannot be read.

#include "config/modFile.h"
#include "core/AppState.h"
#include "protocol/UnitConfig.h"
#include "records/SiteBook.h"
#include "records/SiteBookOutcomes.h"
#include "screens/frmSiteBook.h"
#include "shell/frmMain.h"
#include "support/GuiSupport.h"
#include "support/TestSupport.h"

#include <QAbstractItemModelTester>
#include <QAction>
#include <QCheckBox>
#include <QDateEdit>
#include <QDesktopServices>
#include <QFileDialog>
#include <QJsonDocument>
#include <QLabel>
#include <QPlainTextEdit>
#include <QScopeGuard>
#include <QSplitter>
#include <QTableView>
#include <QTableWidget>
#include <QTest>

namespace {

const QString Backup = "[unit]\nformat = 1\n\n[record]\nband = 2\nchannel = 11\n\n[registers]\n00 = 3A\n05 = 1F\n";

struct Book {
    FreshState st;
    SiteBookPlace place;
    SiteBook book{place};
    Book() : place{SiteBookPlace::File, st.path("sitebook.sqlite"), st.path("pending.jsonl")}
    {
        for (const char *name : {"message.ini", "dispname.ini"})
            QFile::copy(qEnvironmentVariable("QML_DIST") + "/lang/en/" + name, st.path(name));
        ReadMessageIni();
        ReadDispNameIni();
    }
    // time (UTC), site, unit, adapter, version, user, result
    SiteBookEntry add(const QStringList &f, const QJsonObject &before = {}, const QJsonObject &after = {})
    {
        SiteBookEntry e = SiteBookEntry::begin("write");
        e.time = QDateTime::fromString(f.at(0), Qt::ISODate);
        std::tie(e.site, e.unit, e.adapter, e.version, e.user, e.result) =
            std::tuple(f.at(1), f.at(2), f.at(3), f.at(4), f.at(5), f.at(6));
        e.port = "COM1";
        e.before = before;
        e.after = after;
        e.detail = "written, then read back";
        e.setBackup(st.path("backups/backup.ini"), Backup.toUtf8());
        if (!book.record(e).recorded)
            qFatal("not recorded");
        return e;
    }
};

const QString Plan = "[network]\nformat = 1\nsite = 港北 north\nband = 2\nchannel = 11\n[node pump-house]\n"
                     "type = master\n[node tank-1]\ntype = slave\n[node tank-2]\ntype = slave\n[node tank-3]\ntype = slave\n";

// The plan's units set up from `planPath` as the network set-up records them:
// pump-house read back as meant, tank-1 too but compared since and changed,
// tank-2 failed, tank-3 never.
void addSetUps(Book &b, const QString &planPath)
{
    ConfigFileError error;
    const auto plan = ParseNetworkPlan(Plan, &error);
    const QList<std::tuple<const char *, int, const char *, const char *>> entries{
        {"network", 0, "verified", "11"}, {"network", 1, "verified", "11"}, {"network", 2, "failed", "11"},
        {"compare", 1, "differs", "12"}};
    int second = 0; // one after another
    for (const auto &[action, unit, result, channel] : entries) {
        SiteBookEntry e = SiteBookEntry::begin(action);
        e.time = QDateTime::currentDateTimeUtc().addSecs(++second - 10);
        std::tie(e.site, e.unit, e.planPath, e.result) = std::tuple(plan->site, plan->units.at(unit).name, planPath, result);
        for (const auto &[key, value] : RecordFields(plan->units.at(unit).record))
            e.after.insert(key, key == "channel" ? channel : value);
        if (!b.book.record(e).recorded)
            qFatal("not recorded");
    }
}

// Where "Open in browser" takes the document, in place of a browser.
class Browser : public QObject {
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void open(const QUrl &url) { opened << url; }
};

// A: local 05-10 05:00, B: 05-10 19:00, C: 05-11 01:00, D: 05-11 12:00.
void addSample(Book &b)
{
    b.add({"2024-05-09T20:00:00Z", "pump-house", "alpha", "usb-FTDI_FT1", "QML47210 R1.20", "ops", "verified"});
    b.add({"2024-05-10T10:00:00Z", "tank-field", "tank_1", "usb-Prolific_P2", "QML47210 R1.21", "kato", "differs"});
    b.add({"2024-05-10T16:00:00Z", "tank-field", "tankA1", "", "100% R2", "kato", "failed"});
    b.add({"2024-05-11T03:00:00Z", "north", "beta", "usb-FTDI_FT9", "1000 R2", "admin", "may have been written"});
}

bool settle(frmSiteBook &w) { return waitUntil([&] { return w.settled(); }, 10000); }

QString units(const frmSiteBook &w)
{
    QStringList cells;
    for (int row = 0; row < w.model()->rowCount(); ++row)
        cells << w.model()->index(row, SiteBookModel::ColUnit).data().toString();
    return cells.join(' ');
}

frmSiteBookEntry *openDetails(frmSiteBook &w, int row)
{
    w.lstEntries->setCurrentIndex(w.model()->index(row, 0));
    QTest::mouseClick(w.cmdDetails, Qt::LeftButton);
    waitUntil([&] { return w.details() != nullptr; });
    return w.details();
}

// Answers the next file dialog with `path`.
ModalWatcher *chooseFile(const QString &path, bool *asked)
{
    return new ModalWatcher([path, asked](QDialog *d) {
        if (auto *files = qobject_cast<QFileDialog *>(d)) {
            *asked = true;
            files->setDirectory(QFileInfo(path).absolutePath());
            files->findChild<QLineEdit *>("fileNameEdit")->setText(path); // the whole path, typed
            QMetaObject::invokeMethod(files, "accept");
        }
    });
}

} // namespace

class TestSiteBookWindow : public QObject {
    Q_OBJECT
private slots:
    void search_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("from"); // local days
        QTest::addColumn<QString>("to");
        QTest::addColumn<QString>("units");
        QTest::newRow("everything, newest first") << "" << "" << "" << "beta tankA1 tank_1 alpha";
        QTest::newRow("site") << "pump" << "" << "" << "alpha";
        QTest::newRow("adapter") << "Prolific" << "" << "" << "tank_1";
        QTest::newRow("user") << "kato" << "" << "" << "tankA1 tank_1";
        QTest::newRow("_ as typed") << "tank_1" << "" << "" << "tank_1";
        QTest::newRow("% as typed") << "100%" << "" << "" << "tankA1";
        QTest::newRow("one local day, not the UTC one") << "" << "2024-05-10" << "2024-05-10" << "tank_1 alpha";
        QTest::newRow("from a local day") << "" << "2024-05-11" << "" << "beta tankA1";
        QTest::newRow("until a local day") << "" << "" << "2024-05-09" << "";
        QTest::newRow("text and days") << "kato" << "" << "2024-05-10" << "tank_1";
        QTest::newRow("nothing found") << "zzz" << "" << "" << "";
    }
    void search()
    {
        QFETCH(QString, text);
        QFETCH(QString, from);
        QFETCH(QString, to);
        QFETCH(QString, units);
        Book b;
        addSample(b);
        frmSiteBook w(b.place);
        w.Form_Load();
        w.show();
        QVERIFY(settle(w));
        QCOMPARE(::units(w), QString("beta tankA1 tank_1 alpha"));
        QCOMPARE(w.model()->index(3, SiteBookModel::ColTime).data().toString(), QString("2024-05-10 05:00:00"));
        QCOMPARE(w.model()->index(1, SiteBookModel::ColPort).data().toString(), QString("COM1"));
        QCOMPARE(w.model()->index(0, SiteBookModel::ColPort).data().toString(), QString("COM1 (usb-FTDI_FT9)"));
        for (auto [check, edit, day] : {std::tuple(w.chkFrom, w.dtFrom, from), std::tuple(w.chkTo, w.dtTo, to)})
            if (!day.isEmpty()) {
                check->setChecked(true);
                edit->setDate(QDate::fromString(day, Qt::ISODate));
            }
        QTest::keyClicks(w.txtFind, text);
        if (!text.isEmpty() || !from.isEmpty() || !to.isEmpty())
            QVERIFY(!w.settled() && !w.model()->loading()); // nothing asked before a pause in the typing
        QVERIFY(settle(w));
        QCOMPARE(::units(w), units);
        QCOMPARE(w.lblState->isVisible(), units.isEmpty());
        if (units.isEmpty())
            QCOMPARE(w.lblState->text(), app().message(SiteBookWindow::NoMatch));
        QCOMPARE(w.TextMess->text(), QString("Entries shown: %1").arg(units.isEmpty() ? 0 : units.count(' ') + 1));
        QCOMPARE(w.cmdExport->isEnabled(), !units.isEmpty());
    }

    // Ten pages' worth of entries would take long to record: 1,234, seven
    // to a time, so that the first page ends among entries of one time. The
    // export takes them all, not only the page shown, and neutralises a cell
    // a spreadsheet would run.
    void pagingAndExport()
    {
        Book b;
        QSet<QString> recorded;
        const QStringList f{"", "north", "", "", "R1", "ops", "verified"};
        for (int i = 0; i < 1234; ++i) {
            QStringList fields = f;
            fields[0] = QDateTime(QDate(2024, 5, 10), QTime(12, 0), Qt::UTC).addSecs(-(i / 7)).toString(Qt::ISODate);
            fields[1] = i == 0 ? "=HYPERLINK(\"x\")" : f[1];
            fields[2] = QString::number(i);
            recorded << b.add(fields).id;
        }
        frmSiteBook w(b.place);
        w.Form_Load();
        w.show();
        QVERIFY(settle(w));
        QCOMPARE(w.model()->rowCount(), SiteBookModel::Page);
        QVERIFY(w.TextMess->text().endsWith("older ones load as you scroll down"));
        bool asked = false;
        std::unique_ptr<ModalWatcher> watcher(chooseFile(b.st.path("book.csv"), &asked));
        QTest::mouseClick(w.cmdExport, Qt::LeftButton);
        QVERIFY(waitUntil([&] { return w.TextMess->text().startsWith("Entries exported"); }));
        const QList<QByteArray> lines = b.st.read("book.csv").split('\n');
        QCOMPARE(lines.size(), 1 + 1234 + 1);
        QCOMPARE(lines.first() + '\n', SiteBookCsvHeader());
        QVERIFY(b.st.read("book.csv").contains(",\"'=HYPERLINK(\"\"x\"\")\","));
        // Qt's own checks of a model's answers, page after page.
        QAbstractItemModelTester checked(w.model(), QAbstractItemModelTester::FailureReportingMode::QtTest);
        w.lstEntries->scrollToBottom();
        QVERIFY(waitUntil([&] { return w.model()->rowCount() == 1234 && w.settled(); }));
        QSet<QString> shown;
        for (int row = 0; row < 1234; ++row) {
            shown << w.model()->entry(row).id;
            if (row > 0)
                QVERIFY(w.model()->entry(row).time <= w.model()->entry(row - 1).time);
        }
        QCOMPARE(shown, recorded);
        QCOMPARE(w.TextMess->text(), QString("Entries shown: 1234"));
    }

    void details_data()
    {
        QTest::addColumn<QString>("before");
        QTest::addColumn<QString>("after");
        QTest::addColumn<QString>("marked");
        QTest::newRow("a record field and a register")
            << R"({"band":"1","channel":"5","parity":"none","register 05":"3A","register 27":"01"})"
            << R"({"band":"2","channel":"5","parity":"none","register 05":"3B","register 27":"01"})"
            << "band register 05";
        QTest::newRow("hexadecimal digits in another case") << R"({"register 05":"3a"})"
                                                            << R"({"register 05":"3A"})" << "";
        QTest::newRow("a side not read") << R"({"band":"1","register 07":"00"})" << R"({"band":"1"})" << "";
    }
    void details()
    {
        QFETCH(QString, before);
        QFETCH(QString, after);
        QFETCH(QString, marked);
        Book b;
        const auto json = [](const QString &s) { return QJsonDocument::fromJson(s.toUtf8()).object(); };
        b.add({"2024-05-10T10:00:00Z", "north", "beta", "", "R1", "ops", "differs"}, json(before), json(after));
        frmSiteBook w(b.place);
        w.Form_Load();
        QVERIFY(settle(w));
        frmSiteBookEntry *d = openDetails(w, 0);
        QVERIFY(d);
        // The settings beside the texts, half each; the backup, the longer text, three times the detail's height.
        const QList<int> halves = d->findChild<QSplitter *>()->sizes();
        QVERIFY2(qAbs(halves.value(0) - halves.value(1)) <= 2, qPrintable(QString::number(halves.value(0))));
        QVERIFY(qAbs(d->txtBackup->height() - 3 * d->txtDetail->height()) <= 6);
        QCOMPARE(d->tblSettings->rowCount(), SettingNames(json(before), json(after)).size());
        QStringList names, shownMarked;
        for (int row = 0; row < d->tblSettings->rowCount(); ++row) {
            const QString name = d->tblSettings->item(row, frmSiteBookEntry::ColSetting)->text();
            names << name;
            const bool mark = !d->tblSettings->item(row, frmSiteBookEntry::ColMark)->text().isEmpty();
            QCOMPARE(d->tblSettings->item(row, frmSiteBookEntry::ColAfter)->font().bold(), mark);
            if (mark)
                shownMarked << name;
            QCOMPARE(d->tblSettings->item(row, frmSiteBookEntry::ColBefore)->text(),
                     json(before).value(name).toString(QString::fromUtf8("\u2014")));
        }
        QCOMPARE(shownMarked.join(' '), marked);
        QCOMPARE(names.first(), QString(json(before).contains("band") ? "band" : "register 05"));
        QCOMPARE(d->txtDetail->toPlainText(), QString("written, then read back"));
    }

    void saveAs_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::newRow("a new file") << "";
        QTest::newRow("a name in use is not replaced") << "taken";
        QTest::newRow("a backup that is not what was kept") << "altered";
    }
    void saveAs()
    {
        QFETCH(QString, fault);
        Book b;
        SiteBookEntry e = b.add({"2024-05-10T10:00:00Z", "north", "beta", "", "R1", "ops", "verified"});
        if (fault == "altered") {
            e.id = SiteBookEntry::begin("write").id;
            e.time = e.time.addSecs(60); // the newest
            e.backupSha256 = Sha256Hex("another text");
            b.book.record(e);
        }
        if (fault == "taken")
            b.st.write("unit.ini", "kept");
        frmSiteBook w(b.place);
        w.Form_Load();
        QVERIFY(settle(w));
        frmSiteBookEntry *d = openDetails(w, 0);
        QVERIFY(d && d->cmdSaveAs->isEnabled());
        QCOMPARE(d->txtBackup->toPlainText(), Backup);
        bool asked = false;
        std::unique_ptr<ModalWatcher> watcher(chooseFile(b.st.path("unit.ini"), &asked));
        QTest::mouseClick(d->cmdSaveAs, Qt::LeftButton);
        QCOMPARE(asked, fault != "altered");
        if (fault.isEmpty()) {
            QCOMPARE(d->TextMess->text(), app().message(ConfigMessages::Saved) + " " + b.st.path("unit.ini"));
            ConfigFileError error;
            const auto config = ReadConfigFile(b.st.path("unit.ini"), &error);
            QVERIFY2(config, qPrintable(error.describe()));
            QCOMPARE(*config, *ParseConfigText(Backup, &error));
            QCOMPARE(config->registers[5], QString("1F"));
        } else {
            QCOMPARE(b.st.read("unit.ini"), QByteArray(fault == "taken" ? "kept" : ""));
            QVERIFY2(d->TextMess->text().endsWith(app().message(fault == "taken" ? SiteBookWindow::NameTaken
                                                                                   : SiteBookWindow::BackupAltered)),
                     qPrintable(d->TextMess->text()));
        }
    }

    void handover_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<QString>("said"); // how the window's line begins
        QTest::newRow("the selected entry's plan, opened in the browser")
            << "open" << "The handover document was written and";
        QTest::newRow("saved as, .html added") << "save" << "The handover document was written to";
        QTest::newRow("the entry's plan gone: one asked for; no browser") << "no browser" << "No browser could";
        QTest::newRow("no folder of this user's own") << "no work folder" << "There is no folder";
        QTest::newRow("the plan refused") << "refused" << "";
    }
    void handover()
    {
        QFETCH(QString, how);
        QFETCH(QString, said);
        Book b;
        b.st.write("plan.ini", (how == "refused" ? QString(Plan).replace("type = slave", "type = master") : Plan).toUtf8());
        addSetUps(b, b.st.path(how == "no browser" ? "gone.ini" : "plan.ini"));
        if (how == "no work folder")
            app().WorkDir.clear();
        Browser browser;
        if (how != "no browser") // else the offscreen platform's, which opens nothing
            QDesktopServices::setUrlHandler("file", &browser, "open");
        const auto unset = qScopeGuard([] { QDesktopServices::unsetUrlHandler("file"); });
        frmSiteBook w(b.place);
        w.Form_Load();
        QVERIFY(settle(w));
        bool asked = false;
        std::unique_ptr<ModalWatcher> watcher(chooseFile(b.st.path(how == "save" ? "doc" : "plan.ini"), &asked));
        QTest::mouseClick(w.cmdHandover, Qt::LeftButton);
        QCOMPARE(asked, how == "no browser");
        QVERIFY(w.handover() && waitUntil([&] { return w.handover()->settled(); }));
        frmHandover &h = *w.handover();
        if (how == "refused") { // why, as the command line says it
            QCOMPARE(h.lblState->text(), app().message(ConfigMessages::BadFile)
                                             + " more than one unit of the plan is the master: pump-house, tank-1, tank-2, tank-3");
            QVERIFY(h.tblUnits->rowCount() == 0 && !h.cmdOpen->isEnabled() && !h.cmdSaveAs->isEnabled());
            return;
        }
        QCOMPARE(h.lblSite->text(), QString("港北 north"));
        QStringList states;
        for (int row = 0; row < h.tblUnits->rowCount(); ++row)
            states << h.tblUnits->item(row, 0)->text() + ": " + h.tblUnits->item(row, 1)->text();
        QCOMPARE(states.join(", "), QString("pump-house: verified, tank-1: differs, tank-2: failed, tank-3: not set up"));
        QTest::mouseClick(how == "save" ? h.cmdSaveAs : h.cmdOpen, Qt::LeftButton);
        const QString file = how == "save"             ? b.st.path("doc.html")
                             : how == "no work folder" ? QString()
                                                       : b.st.path("handover/" + HandoverFileName("港北 north", QDate::currentDate()));
        const int says = how == "save" ? HandoverMessages::WrittenTo
                         : how == "open" ? HandoverWindow::Handed
                         : how == "no browser" ? HandoverWindow::NoBrowser : HandoverWindow::NoOwnFolder;
        QCOMPARE(h.TextMess->text(), app().message(says) + (file.isEmpty() ? "" : " " + file));
        QVERIFY2(h.TextMess->text().startsWith(said), qPrintable(h.TextMess->text()));
        QVERIFY(h.TextMess->isReadOnly()); // what the window says, not a field to type in
        QCOMPARE(browser.opened, how == "open" ? QList<QUrl>{QUrl::fromLocalFile(file)} : QList<QUrl>());
        QCOMPARE(QDir(b.st.dir()).entryList({"handover*", "doc*"}).isEmpty(), file.isEmpty());
        if (!file.isEmpty()) {
            const QString html = QString::fromUtf8(b.st.read(file.mid(b.st.dir().size())));
            QVERIFY2(html.startsWith("<!DOCTYPE html>") && html.contains("港北 north"), qPrintable(html.left(200)));
        }
    }

    // Opened from the main window's menu, on the place this process records to.
    void cannotRead_data()
    {
        QTest::addColumn<QString>("place");
        QTest::addColumn<int>("says");
        QTest::newRow("off") << "off" << int(SiteBookWindow::OffWhat);
        QTest::newRow("a file that is no site book") << "file" << int(SiteBookWindow::FileWhat);
        QTest::newRow("a server that is not there") << "server" << int(SiteBookWindow::ServerWhat);
        QTest::newRow("no book yet") << "absent" << int(SiteBookWindow::NoEntries);
        QTest::newRow("a book of no entries") << "empty" << int(SiteBookWindow::NoEntries);
    }
    void cannotRead()
    {
        QFETCH(QString, place);
        QFETCH(int, says);
        Book b;
        SiteBookPlace p = b.place;
        if (place == "off")
            p = SiteBookPlace();
        else if (place == "file")
            b.st.write("sitebook.sqlite", "a list of units, not a database");
        else if (place == "empty")
            QVERIFY(b.book.open());
        else if (place == "server")
            p = SiteBookPlace{SiteBookPlace::Server, {}, {}, b.st.dir(), "ops", "sites"}; // a socket folder, no server
        SiteBookRecorder::setPlace(p);
        frmMain main;
        QElapsedTimer t;
        t.start();
        main.menuSiteBook->trigger();
        QVERIFY(t.elapsed() < 500);
        frmSiteBook *w = nullptr;
        for (QWidget *top : QApplication::topLevelWidgets())
            if (auto *found = qobject_cast<frmSiteBook *>(top); found && found->isVisible())
                w = found;
        QVERIFY(w);
        QCOMPARE(w->windowTitle(), QString("Site book"));
        QVERIFY(settle(*w));
        QVERIFY2(w->lblState->text().endsWith(app().message(says)), qPrintable(w->lblState->text()));
        QCOMPARE(w->lblState->text().startsWith(app().message(SiteBookWindow::CannotRead)),
                 says != SiteBookWindow::NoEntries);
        QVERIFY(!w->cmdExport->isEnabled() && !w->cmdDetails->isEnabled());
        QCOMPARE(w->txtFind->isEnabled(), place == "empty");
        // Nor a handover document: said why, nothing written.
        b.st.write("plan.ini", Plan.toUtf8());
        bool asked = false;
        std::unique_ptr<ModalWatcher> watcher(chooseFile(b.st.path("plan.ini"), &asked));
        QTest::mouseClick(w->cmdHandover, Qt::LeftButton);
        QVERIFY(asked && w->handover() && waitUntil([&] { return w->handover()->settled(); }));
        QCOMPARE(w->handover()->lblState->text().endsWith(app().message(says)), place != "empty");
        w->handover()->Open_Click();
        QCOMPARE(QDir(b.st.path("handover")).entryList(QDir::Files).size(), int(place == "empty")); // its units not set up
        SiteBookRecorder::setPlace(SiteBookPlace());
    }
};

int main(int argc, char *argv[])
{
    qputenv("TZ", "JST-9"); // local days are not UTC's
    QApplication application(argc, argv);
    TestSiteBookWindow test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_frmsitebook.moc"
