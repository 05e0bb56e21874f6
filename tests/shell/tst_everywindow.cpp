// Every window as an operator opens it, on a 1366×768 screen at the scale and
// in the language the run was started with (QT_SCALE_FACTOR, QML47210_LANG;
// tests/CMakeLists.txt runs it at 1, 1.5 and 2 in both): no text cut short,
// no window off the screen, and what a screen reader is told of each control.

#include "config/modFile.h"
#include "core/AppState.h"
#include "records/SiteBook.h"
#include "screens/frmHandover.h"
#include "screens/frmNetwork.h"
#include "screens/frmReg.h"
#include "screens/frmSiteBook.h"
#include "screens/frmSiteBookEntry.h"
#include "screens/frmTraffic.h"
#include "shell/frmCom.h"
#include "shell/frmExit.h"
#include "shell/frmMain.h"
#include "shell/frmVer.h"
#include "shell/modMain.h"
#include "sim/SimPeer.h"
#include "support/GuiSupport.h"
#include "support/TestSupport.h"
#include "widgets/Ui.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAbstractSpinBox>
#include <QCheckBox>
#include <QAccessible>
#include <QHeaderView>
#include <QPlainTextEdit>
#include <QScreen>
#include <QTableWidget>
#include <QTreeView>
#include <QTest>

namespace {

const QString Plan = "[network]\nformat = 1\nsite = 港北 north pumping station\nband = 2\nchannel = 11\n"
                     "[node pump-house]\ntype = master\nport = COM1\n[node tank-1]\ntype = slave\n";

struct Opened {
    QWidget *window = nullptr;
    QWidget *messageLine = nullptr;
};

// The program as it starts, with its own texts, a site book of one entry and
// a plan; each window opened as its menu, button or list would open it.
struct Windows {
    FreshState st;
    SimPeer peer;
    ModalWatcher boxes;
    SiteBookPlace place{SiteBookPlace::File, st.path("sitebook.sqlite"), st.path("pending.jsonl")};
    SiteBookEntry entry = SiteBookEntry::begin("write");
    std::unique_ptr<frmMain> main;
    std::unique_ptr<frmSet> settings;
    std::unique_ptr<QWidget> other;

    Windows()
    {
        const QString lang = qEnvironmentVariable("QML47210_LANG", "ja");
        app().ShippedTextDir = qEnvironmentVariable("QML_DIST") + "/lang/" + lang + "/";
        ReadMessageIni();
        ReadDispNameIni();
        InstallTranslation(lang);
        QFile::link(peer.slavePath(), st.dir() + "COM1");
        st.usePort(1);
        st.write("plan.ini", Plan.toUtf8());
        std::tie(entry.site, entry.unit, entry.port, entry.result) =
            std::tuple(QString("港北 north pumping station"), QString("pump-house"), QString("COM1"), QString("verified"));
        entry.planPath = st.path("plan.ini");
        entry.detail = app().message(107) + ' ' + st.dir();
        entry.after.insert("band", "2");
        entry.before.insert("band", "1");
        entry.setBackup(st.path("backups/pump-house.ini"), "[unit]\nformat = 1\n\n[record]\nband = 1\n");
        SiteBook(place).record(entry);
        main = std::make_unique<frmMain>();
        main->show();
        main->Form_Load();
        TextFolderChoice files;
        files.notice = TextFolderChoice::FilesInOwnFolder;
        files.folder = st.dir() + "qml47210/";
        SayWhereFilesAre(*main, files);
    }

    Opened open(const QString &name)
    {
        other.reset();
        CommControl &comm = main->MSComm1();
        const QString longLine = app().message(107) + ' ' + st.dir();
        auto show = [&](QWidget *w, QWidget *line) {
            if (!other && w != main.get() && w != settings.get())
                other.reset(w);
            w->show();
            QTest::qWait(30);
            return Opened{w, line};
        };
        if (name == "main")
            return show(main.get(), main->TextMess);
        if (name == "port") {
            auto *w = new frmCom(comm, main.get());
            w->Form_Load();
            return show(w, nullptr);
        }
        if (name == "exit") {
            auto *w = new frmExit(main.get());
            w->Form_Load();
            return show(w, nullptr);
        }
        if (name == "version") {
            auto *w = new frmVer(main.get());
            w->Form_Load();
            return show(w, nullptr);
        }
        if (!settings) {
            settings = std::make_unique<frmSet>(comm, main->Timer1());
            settings->Form_Load();
        }
        if (name == "settings") {
            Ui::showLine(settings->TextMess, longLine);
            return show(settings.get(), settings->TextMess);
        }
        if (name == "register") {
            auto *w = new frmReg(comm, main->Timer1(), settings.get());
            w->Form_Load();
            Ui::showLine(w->TextMess, longLine);
            return show(w, w->TextMess);
        }
        if (name == "network") {
            auto *w = new frmNetwork(comm, qEnvironmentVariable("QML_APP"), main.get());
            w->Form_Load();
            w->loadPlan(st.path("plan.ini"));
            const QString results[] = {app().dispName(0) + ": " + longLine, "stopped: " + longLine};
            for (int row = 0; row < w->tblUnits->rowCount(); ++row)
                w->tblUnits->item(row, frmNetwork::ColResult)->setText(results[row]);
            return show(w, w->TextMess);
        }
        if (name == "traffic") {
            auto *w = new frmTraffic(comm, main->Timer1());
            w->Form_Load();
            return show(w, w->TextMess);
        }
        if (name == "site book") {
            auto *w = new frmSiteBook(place);
            w->Form_Load();
            waitUntil([w] { return w->settled(); }, 10000);
            return show(w, w->TextMess);
        }
        if (name == "entry") {
            auto *w = new frmSiteBookEntry(entry, main.get());
            return show(w, w->TextMess);
        }
        auto *w = new frmHandover(place, st.path("plan.ini"), longLine, main.get());
        waitUntil([w] { return w->settled(); }, 10000);
        return show(w, w->TextMess);
    }
};

Windows *windows = nullptr;

QString plain(QString text) { return text.remove(QRegularExpression("<[^>]*>")).replace("&amp;", "&"); }

// What of a widget's text its room does not hold, or nothing.
QString cutShort(QWidget *w)
{
    const QFontMetrics fm(w->font());
    const QRect room = w->contentsRect();
    if (auto *l = qobject_cast<QLabel *>(w)) {
        if (l->text().isEmpty() || l->textFormat() == Qt::RichText)
            return {};
        const bool fits = l->wordWrap() ? l->heightForWidth(room.width()) <= room.height()
                                        : fm.size(0, l->text()).width() + 2 * l->margin() <= room.width();
        return fits ? QString() : l->text();
    }
    if (auto *b = qobject_cast<QAbstractButton *>(w)) {
        QStyleOptionButton opt;
        opt.initFrom(b);
        opt.text = b->text();
        const bool check = qobject_cast<QCheckBox *>(w);
        const QRect inside = b->style()->subElementRect(check ? QStyle::SE_CheckBoxContents : QStyle::SE_PushButtonContents, &opt, b);
        const QSize text = fm.size(Qt::TextShowMnemonic, b->text());
        return text.width() <= inside.width() && text.height() <= inside.height() ? QString() : b->text();
    }
    if (auto *line = qobject_cast<QLineEdit *>(w); line && line->isReadOnly() && !line->text().isEmpty()) {
        // A line that scrolls is whole on hover.
        const bool fits = fm.horizontalAdvance(line->text()) + 8 <= room.width();
        return fits || plain(line->toolTip()).contains(line->text()) ? QString() : line->text();
    }
    auto *view = qobject_cast<QAbstractItemView *>(w);
    if (!view || !view->model() || qobject_cast<QHeaderView *>(w))
        return {};
    QAbstractItemModel *m = view->model();
    QHeaderView *header = qobject_cast<QTableView *>(w) ? static_cast<QTableView *>(w)->horizontalHeader()
                        : qobject_cast<QTreeView *>(w) ? static_cast<QTreeView *>(w)->header() : nullptr;
    for (int c = 0; c < m->columnCount(); ++c) {
        const int width = header ? header->sectionSize(c) : view->sizeHintForColumn(c);
        if (header && !header->isHidden() && header->sectionSizeHint(c) > width)
            return "header " + m->headerData(c, Qt::Horizontal).toString();
        for (int r = 0; r < m->rowCount(); ++r) {
            const QModelIndex i = m->index(r, c);
            QStyleOptionViewItem opt;
            opt.initFrom(view);
            opt.font = view->font();
            opt.rect = QRect(0, 0, width, view->visualRect(i).height());
            if (view->property("wordWrap").toBool())
                opt.features |= QStyleOptionViewItem::WrapText;
            const QSize need = view->itemDelegateForIndex(i)->sizeHint(opt, i);
            if (!view->indexWidget(i) && (need.width() > width || need.height() > opt.rect.height()))
                return i.data().toString();
        }
    }
    return {};
}

bool isInput(QWidget *w)
{
    return qobject_cast<QComboBox *>(w) || qobject_cast<QLineEdit *>(w) || qobject_cast<QAbstractSpinBox *>(w)
        || qobject_cast<QAbstractButton *>(w) || qobject_cast<QPlainTextEdit *>(w)
        || qobject_cast<QAbstractItemView *>(w);
}

// The widget Tab stopped at, as the test names it: its own name, else its
// control's (the line inside a list box).
QString stopName(QWidget *w)
{
    while (w && (w->objectName().isEmpty() || w->objectName().startsWith("qt_")))
        w = w->parentWidget();
    return w ? w->objectName() : "(none)";
}

QList<QAccessibleEvent *> *announced = nullptr;

} // namespace

// Qt tells assistive technology anything only while a platform bridge says
// one listens, and the offscreen platform has no bridge: the platform's
// default one is switched on, as Qt's own accessibility tests do (through
// Qt's private interface; no public call does it).
class QPlatformAccessibility {
public:
    void setActive(bool active);
};
class QPlatformIntegration {
public:
    QPlatformAccessibility *accessibility() const;
};
class QGuiApplicationPrivate {
public:
    static QPlatformIntegration *platform_integration;
};

namespace {

void switchOnAccessibility()
{
    QGuiApplicationPrivate::platform_integration->accessibility()->setActive(true);
    QVERIFY(QAccessible::isActive());
}

} // namespace

class TestEveryWindow : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { windows = new Windows; }
    void cleanupTestCase() { delete windows; }
    void cleanup() { windows->other.reset(); }

    void fits_data()
    {
        QTest::addColumn<QString>("window");
        for (const char *w : {"main", "port", "exit", "version", "settings", "register", "network", "traffic",
                              "site book", "entry", "handover"})
            QTest::newRow(w) << w;
    }
    void fits()
    {
        QFETCH(QString, window);
        const Opened o = windows->open(window);
        const QRect screen = o.window->screen()->availableGeometry();
        const double scale = qEnvironmentVariable("QT_SCALE_FACTOR", "1").toDouble();
        QVERIFY2(qAbs(screen.width() * scale - 1366) < 2 && qAbs(screen.height() * scale - 768) < 2, "a 1366×768 screen");
        QVERIFY2(screen.contains(o.window->frameGeometry()),
                 qPrintable(QStringLiteral("%1,%2 %3×%4").arg(o.window->x()).arg(o.window->y()).arg(o.window->width()).arg(o.window->height())));
        QStringList cut;
        for (QWidget *w : o.window->findChildren<QWidget *>())
            if (w->isVisibleTo(o.window) && !cutShort(w).isEmpty())
                cut << w->metaObject()->className() + QStringLiteral(" ") + w->objectName() + ": " + cutShort(w);
        QVERIFY2(cut.isEmpty(), qPrintable(cut.join("\n")));
    }

    void accessible_data()
    {
        QTest::addColumn<QString>("window");
        QTest::addColumn<QStringList>("tabOrder"); // by object name, from the first control
        QTest::newRow("main") << "main" << QStringList{"Cmd_Wireless", "Cmd_Wired", "Cmd_Sim", "Cmd_FRH", "Command1", "TextMess"};
        QTest::newRow("port") << "port" << QStringList{"cmbCH", "lstDevices", "comSet"};
        QTest::newRow("exit") << "exit" << QStringList{"Cmd_OK", "Cmd_Can"};
        QTest::newRow("version") << "version" << QStringList{"Command1"};
        QTest::newRow("settings") << "settings" << QStringList{"TextMess", "Cmb_B", "Cmb_C", "Cmb_type", "Cmb_ante", "Cmb_bps",
                                                               "Cmb_dlen", "Cmb_parity", "Cmb_stop", "Cmb_flow",
                                                               "Command_W", "Command_R", "Command_V"};
        QTest::newRow("register") << "register" << QStringList{"Cmb_C", "Text1", "Cmd_W", "Cmd_R", "TextMess"};
        QTest::newRow("network") << "network" << QStringList{"cmdOpen", "cmdSave", "cmdSaveAs", "tblUnits", "port0", "port1",
                                                             "txtPlan", "cmdRefresh", "cmdCompare", "cmdSetUp", "cmdRetry",
                                                             "chkOneAdapter", "cmdExport", "cmdHandover", "TextMess"};
        QTest::newRow("traffic") << "traffic" << QStringList{"chkHidePoll", "chkPause", "cmdClear", "cmdCopy", "cmdSave",
                                                             "lstRows", "txtCommand", "cmdSend", "TextMess"};
        QTest::newRow("site book") << "site book" << QStringList{"txtFind", "chkFrom", "chkTo", "lstEntries", "cmdDetails", "cmdExport", "cmdHandover", "TextMess"};
        QTest::newRow("entry") << "entry" << QStringList{"tblSettings", "txtDetail", "txtBackup", "cmdSaveAs", "cmdClose", "TextMess"};
        QTest::newRow("handover") << "handover" << QStringList{"tblUnits", "cmdOpen", "cmdSaveAs", "cmdClose", "TextMess"};
    }
    void accessible()
    {
        QFETCH(QString, window);
        QFETCH(QStringList, tabOrder);
        switchOnAccessibility();
        const Opened o = windows->open(window);
        QStringList faults;
        for (QWidget *w : o.window->findChildren<QWidget *>()) {
            if (!w->isVisibleTo(o.window) || !isInput(w) || qobject_cast<QHeaderView *>(w))
                continue;
            QAccessibleInterface *a = QAccessible::queryAccessibleInterface(w);
            const QString name = a->text(QAccessible::Name), value = a->text(QAccessible::Value);
            const auto *line = qobject_cast<QLineEdit *>(w);
            // A caption and a message line say what they hold; a field holds a value.
            const bool field = qobject_cast<QComboBox *>(w) || qobject_cast<QAbstractSpinBox *>(w) || (line && !line->isReadOnly());
            if (name.isEmpty() || (field && !value.isEmpty() && name == value))
                faults << w->metaObject()->className() + QStringLiteral(" ") + w->objectName() + " named \"" + name + '"';
            if (auto *view = qobject_cast<QAbstractItemView *>(w)) {
                for (int c = 0; c < a->childCount(); ++c)
                    if (a->child(c)->role() == QAccessible::ColumnHeader && a->child(c)->text(QAccessible::Name).isEmpty())
                        faults << w->objectName() + " column header " + QString::number(c) + " unnamed";
            }
        }
        QVERIFY2(faults.isEmpty(), qPrintable(faults.join("\n")));

        if (o.messageLine) {
            QAccessibleInterface *a = QAccessible::queryAccessibleInterface(o.messageLine);
            QCOMPARE(a->role(), QAccessible::StatusBar);
            QList<QAccessibleEvent *> events;
            announced = &events;
            QAccessible::installUpdateHandler([](QAccessibleEvent *e) {
                if (e->type() == QAccessible::NameChanged)
                    announced->append(new QAccessibleEvent(e->object(), e->type()));
            });
            Ui::showLine(static_cast<QLineEdit *>(o.messageLine), app().message(1));
            QAccessible::installUpdateHandler(nullptr);
            const bool heard = std::any_of(events.begin(), events.end(), [&](QAccessibleEvent *e) { return e->object() == o.messageLine; });
            qDeleteAll(events);
            QVERIFY2(heard, "a new message announced");
            QCOMPARE(a->text(QAccessible::Name), app().message(1));
        }

        o.window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(o.window));
        QWidget *first = o.window->findChild<QWidget *>(tabOrder.first());
        QVERIFY2(first, qPrintable(tabOrder.first()));
        first->setFocus(Qt::TabFocusReason);
        QStringList stops{stopName(QApplication::focusWidget())};
        for (int i = 0; i < tabOrder.size(); ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            stops << stopName(QApplication::focusWidget());
        }
        QVERIFY2(stops == tabOrder + QStringList{tabOrder.first()}, qPrintable(stops.join(' ')));
    }
};

int main(int argc, char *argv[])
{
    // One 1366×768 screen, before the application exists.
    QTemporaryDir dir;
    QFile config(dir.filePath("screen.json"));
    if (!config.open(QIODevice::WriteOnly)
        || config.write(R"({"screens": [{"name": "laptop", "x": 0, "y": 0, "width": 1366, "height": 768,
                                          "logicalDpi": 96, "dpr": 1}]})") < 0)
        return 2;
    config.close();
    qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" + config.fileName().toLocal8Bit());
    QApplication application(argc, argv);
    TestEveryWindow test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_everywindow.moc"
