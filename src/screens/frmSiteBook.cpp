// The site book's window: the search, the list and what it says when there
// is nothing to list; the export; an entry opened whole.
#include "screens/frmSiteBook.h"

#include "config/FileSafety.h"
#include "config/modFile.h"
#include "core/AppState.h"
#include "protocol/UnitConfig.h"
#include "screens/frmSiteBookEntry.h"
#include "widgets/Accessible.h"
#include "widgets/MessageLine.h"
#include "widgets/ScreenFit.h"
#include "widgets/Ui.h"

#include <QCheckBox>
#include <QDateEdit>
#include <QDir>
#include <QFileDialog>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

using namespace SiteBookWindow;

namespace {
// Long enough for a few keys typed in a row, short enough to feel at once.
constexpr int TypingPauseMs = 250;
} // namespace

QString SiteBookWindow::text(int message)
{
    return app().message(message);
}

QString SiteBookWindow::caption(int n)
{
    return app().dispName(n);
}

QString SiteBookWindow::cannotRead(const SiteBookPlace &place, const QString &error)
{
    // What to do depends on where the book was looked for.
    const int what = place.kind == SiteBookPlace::Off    ? OffWhat
                     : place.kind == SiteBookPlace::File ? FileWhat
                                                         : ServerWhat;
    return text(CannotRead) + QLatin1Char(' ') + error + QLatin1Char('\n') + text(what);
}

frmSiteBook::frmSiteBook(const SiteBookPlace &place, QWidget *parent)
    : QWidget(parent, Qt::Window), m_place(place)
{
    setFont(Ui::gothic(10));
    m_reader = new SiteBookReader(place, this);
    m_model = new SiteBookModel(m_reader, this);
    auto *top = new QVBoxLayout(this);

    auto *searchRow = new QHBoxLayout;
    auto *findLabel = new QLabel(this);
    findLabel->setObjectName(QStringLiteral("findLabel"));
    txtFind = new QLineEdit(this);
    txtFind->setClearButtonEnabled(true);
    findLabel->setBuddy(txtFind);
    chkFrom = new QCheckBox(this);
    chkTo = new QCheckBox(this);
    dtFrom = new QDateEdit(QDate::currentDate(), this);
    dtTo = new QDateEdit(QDate::currentDate(), this);
    for (QDateEdit *d : {dtFrom, dtTo}) {
        d->setCalendarPopup(true);
        d->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
        d->setEnabled(false);
    }
    searchRow->addWidget(findLabel);
    searchRow->addWidget(txtFind, 1);
    searchRow->addSpacing(Ui::px(150));
    for (QWidget *w : std::initializer_list<QWidget *>{chkFrom, dtFrom, chkTo, dtTo})
        searchRow->addWidget(w);
    top->addLayout(searchRow);

    lblState = new QLabel(this);
    lblState->setWordWrap(true);
    lblState->setTextInteractionFlags(Qt::TextSelectableByMouse);
    lblState->hide();
    top->addWidget(lblState);

    lstEntries = new QTableView(this);
    lstEntries->setModel(m_model);
    lstEntries->verticalHeader()->hide();
    lstEntries->setSelectionBehavior(QAbstractItemView::SelectRows);
    lstEntries->setSelectionMode(QAbstractItemView::SingleSelection);
    lstEntries->setEditTriggers(QAbstractItemView::NoEditTriggers);
    lstEntries->setWordWrap(false);
    QFont plain = font();
    plain.setBold(false);
    lstEntries->setFont(plain);
    const QFontMetrics metrics(plain);
    lstEntries->verticalHeader()->setDefaultSectionSize(metrics.height() + 6);
    lstEntries->setColumnWidth(SiteBookModel::ColTime,
                               metrics.horizontalAdvance(QStringLiteral("0000-00-00 00:00:00")) + 16);
    lstEntries->setColumnWidth(SiteBookModel::ColSite, metrics.horizontalAdvance(QString(12, u'M')));
    lstEntries->setColumnWidth(SiteBookModel::ColUnit, metrics.horizontalAdvance(QString(10, u'M')));
    lstEntries->setColumnWidth(SiteBookModel::ColPort, metrics.horizontalAdvance(QString(16, u'M')));
    lstEntries->setColumnWidth(SiteBookModel::ColAction, metrics.horizontalAdvance(QString(8, u'M')));
    lstEntries->horizontalHeader()->setStretchLastSection(true);
    Ui::fitCells(lstEntries);
    top->addWidget(lstEntries, 1);

    auto *buttons = new QHBoxLayout;
    cmdDetails = new QPushButton(this);
    cmdExport = new QPushButton(this);
    cmdHandover = new QPushButton(this);
    buttons->addStretch(1);
    for (QPushButton *b : {cmdDetails, cmdExport, cmdHandover})
        buttons->addWidget(b);
    top->addLayout(buttons);
    TextMess = new MessageLine(this);
    top->addWidget(TextMess);

    for (QPushButton *b : findChildren<QPushButton *>())
        b->setAutoDefault(false);
    Ui::enterPressesButtons(this);

    m_typing.setSingleShot(true);
    m_typing.setInterval(TypingPauseMs);
    connect(&m_typing, &QTimer::timeout, this, &frmSiteBook::search);
    connect(txtFind, &QLineEdit::textChanged, this, &frmSiteBook::searchChanged);
    connect(chkFrom, &QCheckBox::toggled, dtFrom, &QWidget::setEnabled);
    connect(chkTo, &QCheckBox::toggled, dtTo, &QWidget::setEnabled);
    for (QCheckBox *c : {chkFrom, chkTo})
        connect(c, &QCheckBox::toggled, this, &frmSiteBook::searchChanged);
    for (QDateEdit *d : {dtFrom, dtTo})
        connect(d, &QDateEdit::dateChanged, this, &frmSiteBook::searchChanged);
    connect(m_reader, &SiteBookReader::replied, this, &frmSiteBook::replied);
    connect(m_model, &SiteBookModel::pageRead, this, &frmSiteBook::showCount);
    connect(m_model, &SiteBookModel::failed, this,
            [this](const QString &error) {
                TextMess->clear();
                showState(text(CannotRead) + QLatin1Char(' ') + error);
            });
    connect(m_model, &QAbstractItemModel::modelReset, this, &frmSiteBook::enableButtons);
    connect(lstEntries->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            &frmSiteBook::enableButtons);
    connect(lstEntries, &QAbstractItemView::activated, this, &frmSiteBook::Details_Click);
    connect(cmdDetails, &QPushButton::clicked, this, &frmSiteBook::Details_Click);
    connect(cmdExport, &QPushButton::clicked, this, &frmSiteBook::Export_Click);
    connect(cmdHandover, &QPushButton::clicked, this, &frmSiteBook::Handover_Click);
    resize(Ui::px(13500), Ui::px(8000));
    Ui::setNames({{txtFind, "txtFind"}, {chkFrom, "chkFrom"}, {dtFrom, "dtFrom"}, {chkTo, "chkTo"}, {dtTo, "dtTo"},
                  {lstEntries, "lstEntries"}, {cmdDetails, "cmdDetails"}, {cmdExport, "cmdExport"},
                  {cmdHandover, "cmdHandover"}});
    Ui::fitScreen(this);
}

frmSiteBook::~frmSiteBook() = default;

void frmSiteBook::Form_Load()
{
    Ui::setTitle(this, caption(Title));
    findChild<QLabel *>(QStringLiteral("findLabel"))->setText(caption(Find));
    chkFrom->setText(caption(From));
    chkTo->setText(caption(To));
    Ui::nameAfter(dtFrom, app().dispName(Ui::DateOf).arg(Ui::plainCaption(chkFrom->text())));
    Ui::nameAfter(dtTo, app().dispName(Ui::DateOf).arg(Ui::plainCaption(chkTo->text())));
    Ui::nameAfter(lstEntries, app().dispName(Ui::EntriesTable));
    cmdDetails->setText(caption(Details));
    cmdExport->setText(caption(Export));
    cmdHandover->setText(caption(HandoverWindow::Button));
    m_opened = false;
    m_usable = false;
    enableButtons();
    Ui::showLine(TextMess, text(Reading));
    m_openTicket = m_reader->open();
}

void frmSiteBook::showState(const QString &text)
{
    lblState->setText(text);
    lblState->setVisible(!text.isEmpty());
}

void frmSiteBook::opened(const SiteBookReply &reply)
{
    m_opened = true;
    TextMess->clear();
    if (!reply.ok) {
        showState(cannotRead(m_place, reply.error));
        enableButtons();
        return;
    }
    if (reply.noBook) {
        showState(text(NoEntries));
        enableButtons();
        return;
    }
    m_usable = true;
    search();
}

void frmSiteBook::searchChanged()
{
    if (m_usable)
        m_typing.start();
}

void frmSiteBook::search()
{
    m_typing.stop();
    LocalDays days;
    if (chkFrom->isChecked())
        days.from = dtFrom->date();
    if (chkTo->isChecked())
        days.to = dtTo->date();
    m_model->search(txtFind->text(), days);
    Ui::showLine(TextMess, text(Reading));
}

void frmSiteBook::showCount()
{
    const int rows = m_model->rowCount();
    if (rows == 0 && m_model->complete()) {
        const bool searching = !txtFind->text().isEmpty() || chkFrom->isChecked() || chkTo->isChecked();
        showState(text(searching ? NoMatch : NoEntries));
    } else {
        showState(QString());
    }
    // The newest entry ready for Details, Enter or a double click.
    if (rows > 0 && !lstEntries->currentIndex().isValid())
        lstEntries->setCurrentIndex(m_model->index(0, 0));
    Ui::showLine(TextMess, text(Shown).arg(rows)
                               + (m_model->complete() ? QString() : QStringLiteral("; ") + text(MoreOnScroll)));
    enableButtons();
}

void frmSiteBook::enableButtons()
{
    const bool usable = m_usable && m_model->rowCount() > 0;
    cmdDetails->setEnabled(usable && lstEntries->currentIndex().isValid() && m_entryTicket == 0);
    cmdExport->setEnabled(usable && m_exportTicket == 0);
    for (QWidget *w : std::initializer_list<QWidget *>{txtFind, chkFrom, chkTo})
        w->setEnabled(m_usable);
    dtFrom->setEnabled(m_usable && chkFrom->isChecked());
    dtTo->setEnabled(m_usable && chkTo->isChecked());
}

void frmSiteBook::replied(const SiteBookReply &reply)
{
    if (reply.ticket == m_openTicket) {
        m_openTicket = 0;
        opened(reply);
    } else if (reply.ticket == m_entryTicket) {
        m_entryTicket = 0;
        enableButtons();
        if (!reply.ok || reply.entries.isEmpty()) {
            Ui::showLine(TextMess, text(CannotRead) + QLatin1Char(' ') + reply.error);
            return;
        }
        if (m_details)
            m_details->close();
        m_details = new frmSiteBookEntry(reply.entries.constFirst(), this);
        m_details->setAttribute(Qt::WA_DeleteOnClose);
        m_details->show();
        m_details->raise();
        m_details->activateWindow();
    } else if (reply.ticket == m_exportTicket) {
        m_exportTicket = 0;
        enableButtons();
        if (!reply.ok) {
            Ui::showLine(TextMess, text(CannotRead) + QLatin1Char(' ') + reply.error);
            return;
        }
        QString error;
        // On the disk, its name too, before it is said to be written.
        if (WriteConfigFile(m_exportPath, QString::fromUtf8(reply.csv), WriteMode::Replace, &error)
            && SyncToDisk(m_exportPath, &error))
            Ui::showLine(TextMess, text(Exported).arg(reply.count) + QLatin1Char(' ')
                                       + QDir::toNativeSeparators(m_exportPath));
        else
            Ui::showLine(TextMess, QDir::toNativeSeparators(m_exportPath) + QStringLiteral(": ")
                                       + app().message(ConfigMessages::CannotWrite) + QStringLiteral(": ")
                                       + error);
    }
}

void frmSiteBook::Details_Click()
{
    const QModelIndex current = lstEntries->currentIndex();
    if (!m_usable || !current.isValid() || m_entryTicket != 0)
        return;
    m_entryTicket = m_reader->entry(m_model->entry(current.row()).id);
    enableButtons();
}

void frmSiteBook::Export_Click()
{
    if (!m_usable || m_exportTicket != 0)
        return;
    const QString suggested = QDir(WorkFolder()).filePath(
        QStringLiteral("sitebook-%1.csv").arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"))));
    const QString path = QFileDialog::getSaveFileName(this, caption(Export), suggested, caption(CsvFiles));
    if (path.isEmpty())
        return;
    m_exportPath = path;
    // Every entry the search finds, not only the pages scrolled through.
    m_exportTicket = m_reader->exportCsv(m_model->query(), m_model->days());
    Ui::showLine(TextMess, text(Reading));
    enableButtons();
}

void frmSiteBook::Handover_Click()
{
    const QModelIndex current = lstEntries->currentIndex();
    QString plan = m_usable && current.isValid() ? m_model->entry(current.row()).planPath : QString();
    const QFileInfo file(plan);
    if (plan.isEmpty() || !file.isFile() || !file.isReadable()) {
        plan = QFileDialog::getOpenFileName(this, caption(HandoverWindow::ChoosePlan),
                                            plan.isEmpty() ? WorkFolder() : file.absolutePath(), caption(PlanFiles));
        if (plan.isEmpty())
            return;
    }
    frmHandover::showFor(m_handover, m_place, plan, QString(), this);
}
