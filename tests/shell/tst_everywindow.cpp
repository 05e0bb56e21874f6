// Every window on a 1366×768 screen (laptop-screen.json) at the scale and in the language of
// the run (QT_SCALE_FACTOR, QML47210_LANG: tests/CMakeLists.txt runs 1, 1.5 and 2 in both): no
// text cut short, no window off the screen, and what a screen reader is told.

#include "config/FileSafety.h"
#include "config/modFile.h"
#include "records/SiteBook.h"
#include "screens/frmReg.h"
#include "shell/frmCom.h"
#include "shell/frmExit.h"
#include "shell/frmMain.h"
#include "shell/frmVer.h"
#include "shell/modMain.h"
#include "sim/SimPeer.h"
#include "support/GuiSupport.h"
#include "support/TestSupport.h"
#include "widgets/Ui.h"

#include <QAbstractSpinBox>
#include <QAccessible>
#include <QCheckBox>
#include <QHeaderView>
#include <QScreen>
#include <QTableWidget>
#include <QTest>
#include <QTreeView>

// Qt tells assistive technology anything only while a platform bridge says one
// listens; the offscreen platform has none, so its default one is switched on
// as Qt's own accessibility tests do, through Qt's private interface.
class QPlatformAccessibility { public: void setActive(bool active); };
class QPlatformIntegration { public: QPlatformAccessibility *accessibility() const; };
class QGuiApplicationPrivate { public: static QPlatformIntegration *platform_integration; };

namespace {

template <class W, class... A> W *loaded(A &&...args) { auto *w = new W(std::forward<A>(args)...); w->Form_Load(); return w; }

// The program as it starts, with its own texts, a site book of one entry and
// a plan; each window opened as its menu, button or list would, with a long
// message in its message line.
struct Windows {
    FreshState st;
    SimPeer peer;
    ModalWatcher boxes;
    SiteBookPlace place{SiteBookPlace::File, st.path("sitebook.sqlite"), st.path("pending.jsonl")};
    SiteBookEntry entry = SiteBookEntry::begin("write");
    std::unique_ptr<frmMain> main;
    std::unique_ptr<frmSet> settings;
    std::unique_ptr<QWidget> other;
    QString line;

    Windows()
    {
        app().ShippedTextDir = qEnvironmentVariable("QML_DIST") + "/lang/" + qEnvironmentVariable("QML47210_LANG", "ja") + "/";
        ReadMessageIni(), ReadDispNameIni(), InstallTranslation(qEnvironmentVariable("QML47210_LANG"));
        QFile::link(peer.slavePath(), st.dir() + "COM1"), st.usePort(1);
        st.write("plan.ini", "[network]\nformat = 1\nsite = 港北 north pumping station\nband = 2\nchannel = 11\n"
                             "[node pump-house]\ntype = master\nport = COM1\n[node tank-1]\ntype = slave\n");
        line = app().message(FolderMessages::FilesInOwnFolder) + ' ' + st.dir();
        std::tie(entry.site, entry.unit, entry.port, entry.result, entry.planPath, entry.detail) =
            std::tuple("港北 north pumping station", "pump-house", "COM1", "verified", st.path("plan.ini"), line);
        entry.before = {{"band", "1"}}, entry.after = {{"band", "2"}};
        entry.setBackup(st.path("backups/pump-house.ini"), "[unit]\nformat = 1\n\n[record]\nband = 1\n");
        SiteBook(place).record(entry);
        main = std::make_unique<frmMain>();
        main->show(), main->Form_Load();
        SayWhereFilesAre(*main, {st.dir() + "qml47210/", st.dir(), true, TextFolderChoice::FilesInOwnFolder, {}});
        settings.reset(loaded<frmSet>(main->MSComm1(), main->Timer1()));
    }

    QWidget *open(const QString &name)
    {
        other.reset();
        CommControl &comm = main->MSComm1();
        QWidget *w = name == "main"   ? static_cast<QWidget *>(main.get())
            : name == "port"          ? loaded<frmCom>(comm, main.get())
            : name == "exit"          ? loaded<frmExit>(main.get())
            : name == "version"       ? loaded<frmVer>(main.get())
            : name == "settings"      ? settings.get()
            : name == "register"      ? loaded<frmReg>(comm, main->Timer1(), settings.get())
            : name == "traffic"       ? loaded<frmTraffic>(comm, main->Timer1())
            : name == "site book"     ? loaded<frmSiteBook>(place)
            : name == "entry"         ? static_cast<QWidget *>(new frmSiteBookEntry(entry, main.get()))
            : name == "handover"      ? static_cast<QWidget *>(new frmHandover(place, st.path("plan.ini"), line, main.get()))
                                      : loaded<frmNetwork>(comm, qEnvironmentVariable("QML_APP"), main.get());
        other.reset(w != main.get() && w != settings.get() ? w : nullptr);
        if (auto *n = qobject_cast<frmNetwork *>(w); n && n->loadPlan(st.path("plan.ini")))
            for (int row = 0; row < 2; ++row) // as a failed run and a stopped one say it
                n->tblUnits->item(row, frmNetwork::ColResult)->setText((row ? "stopped: " : app().dispName(0) + ": ") + line);
        auto *book = qobject_cast<frmSiteBook *>(w);
        auto *hand = qobject_cast<frmHandover *>(w);
        waitUntil([&] { return (!book || book->settled()) && (!hand || hand->settled()); }, 10000);
        if (auto *message = messageLine(w); message && w != main.get())
            Ui::showLine(message, line);
        w->show(), QTest::qWait(30);
        return w;
    }
    static QLineEdit *messageLine(QWidget *w) { return w->findChild<QLineEdit *>("TextMess"); }
};

Windows *windows = nullptr;

// A widget's text that its room does not hold, or nothing.
QString cutShort(QWidget *w)
{
    const QFontMetrics fm(w->font());
    const QRect room = w->contentsRect();
    if (auto *l = qobject_cast<QLabel *>(w); l && l->textFormat() != Qt::RichText) {
        const bool fits = l->wordWrap() ? l->heightForWidth(room.width()) <= room.height()
                                        : fm.size(0, l->text()).width() + 2 * l->margin() <= room.width();
        return fits ? QString() : l->text();
    }
    if (auto *b = qobject_cast<QAbstractButton *>(w)) {
        QStyleOptionButton opt;
        opt.initFrom(b); // where the style puts the text
        const auto part = qobject_cast<QCheckBox *>(w) ? QStyle::SE_CheckBoxContents : QStyle::SE_PushButtonContents;
        const QSize text = fm.size(Qt::TextShowMnemonic, b->text()), inside = b->style()->subElementRect(part, &opt, b).size();
        return text.width() <= inside.width() && text.height() <= inside.height() ? QString() : b->text();
    }
    if (auto *line = qobject_cast<QLineEdit *>(w); line && line->isReadOnly()) { // scrolls, whole on hover
        const bool fits = fm.horizontalAdvance(line->text()) + 8 <= room.width();
        return fits || line->toolTip().contains(line->text().toHtmlEscaped()) ? QString() : line->text();
    }
    auto *table = qobject_cast<QTableView *>(w);
    auto *tree = qobject_cast<QTreeView *>(w);
    QHeaderView *header = table ? table->horizontalHeader() : tree ? tree->header() : nullptr;
    for (int c = 0; header && c < header->count(); ++c) {
        auto *view = static_cast<QAbstractItemView *>(w);
        if (!header->isHidden() && header->sectionSizeHint(c) > header->sectionSize(c))
            return "header " + view->model()->headerData(c, Qt::Horizontal).toString();
        for (int r = 0; r < view->model()->rowCount(); ++r) {
            const QModelIndex i = view->model()->index(r, c);
            QStyleOptionViewItem opt; // as the view draws the cell
            opt.initFrom(view), opt.font = view->font(), opt.rect = QRect(0, 0, header->sectionSize(c), view->visualRect(i).height());
            opt.features = view->property("wordWrap").toBool() ? QStyleOptionViewItem::WrapText : QStyleOptionViewItem::None;
            const QSize need = view->itemDelegateForIndex(i)->sizeHint(opt, i);
            if (!view->indexWidget(i) && (need.width() > opt.rect.width() || need.height() > opt.rect.height()))
                return i.data().toString();
        }
    }
    return {};
}

// Where Tab stopped, by its object name, else its control's (the line inside a list box).
QString stopName(QWidget *w)
{
    return !w ? "(none)" : w->objectName().isEmpty() || w->objectName().startsWith("qt_") ? stopName(w->parentWidget()) : w->objectName();
}

QObject *listened = nullptr;
bool announced = false;

} // namespace

class TestEveryWindow : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { windows = new Windows; }
    void cleanupTestCase() { delete windows; }

    void fits_data() { accessible_data(); }
    void fits()
    {
        QFETCH(QString, window);
        QWidget *w = windows->open(window);
        const QRect screen = w->screen()->availableGeometry();
        QVERIFY(qAbs(screen.width() * qEnvironmentVariable("QT_SCALE_FACTOR", "1").toDouble() - 1366) < 2); // the screen given
        QVERIFY2(screen.contains(w->frameGeometry()), qPrintable(QStringLiteral("%1,%2 %3×%4").arg(w->x()).arg(w->y()).arg(w->width()).arg(w->height())));
        QStringList cut;
        for (QWidget *child : w->findChildren<QWidget *>())
            if (child->isVisibleTo(w) && !cutShort(child).isEmpty())
                cut << child->metaObject()->className() + QStringLiteral(" ") + child->objectName() + ": " + cutShort(child);
        QVERIFY2(cut.isEmpty(), qPrintable(cut.join("\n")));
    }

    void accessible_data()
    {
        QTest::addColumn<QString>("window");
        QTest::addColumn<QStringList>("tabOrder"); // by object name, from the first control
        const auto row = [](const char *w, const QString &order) { QTest::newRow(w) << w << order.split(' '); };
        row("main", "Cmd_Wireless Cmd_Wired Cmd_Sim Cmd_FRH Command1 TextMess");
        row("port", "cmbCH lstDevices comSet");
        row("exit", "Cmd_OK Cmd_Can");
        row("version", "Command1");
        row("settings", "TextMess Cmb_B Cmb_C Cmb_type Cmb_ante Cmb_bps Cmb_dlen Cmb_parity Cmb_stop Cmb_flow Command_W Command_R Command_V");
        row("register", "Cmb_C Text1 Cmd_W Cmd_R TextMess");
        row("network", "cmdNew cmdOpen cmdSave cmdSaveAs tblUnits port0 port1 txtPlan cmdRefresh cmdCompare cmdSetUp "
                       "cmdHandover chkOneAdapter TextMess");
        row("traffic", "chkHidePoll chkPause cmdClear cmdCopy cmdSave lstRows txtCommand cmdSend TextMess");
        row("site book", "txtFind chkFrom chkTo lstEntries cmdDetails cmdExport cmdHandover TextMess");
        row("entry", "tblSettings txtDetail txtBackup cmdSaveAs cmdClose TextMess");
        row("handover", "tblUnits cmdOpen cmdSaveAs cmdClose TextMess");
    }
    void accessible()
    {
        QFETCH(QString, window);
        QFETCH(QStringList, tabOrder);
        QGuiApplicationPrivate::platform_integration->accessibility()->setActive(true);
        QWidget *w = windows->open(window);
        QStringList faults;
        for (QWidget *c : w->findChildren<QWidget *>()) {
            const auto *line = qobject_cast<QLineEdit *>(c); // a caption too, though Tab passes it by
            if (!c->isVisibleTo(w) || (!(c->focusPolicy() & Qt::TabFocus) && !line))
                continue;
            // A caption and a message line say what they hold; a field holds a value.
            const bool field = qobject_cast<QComboBox *>(c) || qobject_cast<QAbstractSpinBox *>(c) || (line && !line->isReadOnly());
            QAccessibleInterface *a = QAccessible::queryAccessibleInterface(c);
            const QString name = a->text(QAccessible::Name), value = a->text(QAccessible::Value);
            const auto *box = qobject_cast<QComboBox *>(c);
            if (name.isEmpty() || (field && !value.isEmpty() && name == value) || (box && value != box->currentText()))
                faults << c->metaObject()->className() + QStringLiteral(" ") + c->objectName() + " named \"" + name + '"';
            for (int i = 0; qobject_cast<QAbstractItemView *>(c) && i < a->childCount(); ++i)
                if (a->child(i)->role() == QAccessible::ColumnHeader && a->child(i)->text(QAccessible::Name).isEmpty())
                    faults << c->objectName() + " column header " + QString::number(i) + " unnamed";
        }
        QVERIFY2(faults.isEmpty(), qPrintable(faults.join("\n")));
        if (auto *box = w->findChild<QComboBox *>(); box && box->isVisibleTo(w)) { // opened as a screen reader opens it
            QAccessible::queryAccessibleInterface(box)->actionInterface()->doAction(QAccessibleActionInterface::showMenuAction());
            QVERIFY(box->view()->isVisible());
            box->hidePopup();
        }

        if (QLineEdit *message = Windows::messageLine(w)) {
            QAccessibleInterface *a = QAccessible::queryAccessibleInterface(message);
            QCOMPARE(a->role(), QAccessible::StatusBar);
            QCOMPARE(a->text(QAccessible::Description), message->accessibleName()); // the caption, not the tooltip's markup
            listened = message, announced = false;
            QAccessible::installUpdateHandler([](QAccessibleEvent *e) { announced |= e->type() == QAccessible::NameChanged && e->object() == listened; });
            Ui::showLine(message, app().message(1));
            QAccessible::installUpdateHandler(nullptr);
            QVERIFY2(announced, "a new message announced");
            QCOMPARE(a->text(QAccessible::Name), app().message(1));
        }

        w->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(w));
        w->findChild<QWidget *>(tabOrder.first())->setFocus(Qt::TabFocusReason);
        QStringList stops{stopName(QApplication::focusWidget())};
        for (int i = 0; i < tabOrder.size(); ++i)
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab), stops << stopName(QApplication::focusWidget());
        QVERIFY2(stops == tabOrder + QStringList{tabOrder.first()}, qPrintable(stops.join(' ')));
    }
};

QTEST_MAIN(TestEveryWindow)
#include "tst_everywindow.moc"
