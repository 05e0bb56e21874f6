// The handover window: the plan read and checked, the book read on the
// reader's thread, and the document written where it is asked for.
#include "screens/frmHandover.h"

#include "config/FileSafety.h"
#include "config/modFile.h"
#include "core/AppState.h"
#include "screens/frmSiteBook.h"
#include "widgets/Accessible.h"
#include "widgets/MessageLine.h"
#include "widgets/ScreenFit.h"
#include "widgets/Ui.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QUrl>
#include <QVBoxLayout>

using namespace HandoverWindow;
using SiteBookWindow::caption;
using SiteBookWindow::text;

namespace {

QLabel *wrapped(QWidget *parent)
{
    auto *l = new QLabel(parent);
    l->setTextFormat(Qt::PlainText); // names from plans and books, shown as written
    l->setWordWrap(true);
    l->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return l;
}

QString native(const QString &path)
{
    return QDir::toNativeSeparators(path);
}

} // namespace

frmHandover::frmHandover(const SiteBookPlace &place, const QString &planPath, const QString &note,
                         QWidget *parent)
    : QDialog(parent, Qt::Window), m_place(place), m_planPath(planPath)
{
    setFont(Ui::gothic(10));
    Ui::setTitle(this, text(HandoverMessages::Title));
    auto *top = new QVBoxLayout(this);

    auto *about = new QGridLayout;
    lblSite = wrapped(this);
    lblPlan = wrapped(this);
    QFont plain = font();
    plain.setBold(false);
    for (QLabel *l : {lblSite, lblPlan})
        l->setFont(plain);
    about->addWidget(new QLabel(caption(SiteBookWindow::Site) + QLatin1Char(':'), this), 0, 0);
    about->addWidget(lblSite, 0, 1);
    about->addWidget(new QLabel(caption(SiteBookWindow::PlanCaption) + QLatin1Char(':'), this), 1,
                     0);
    about->addWidget(lblPlan, 1, 1);
    about->setColumnStretch(1, 1);
    top->addLayout(about);
    lblNote = wrapped(this);
    lblNote->setText(note);
    lblNote->setVisible(!note.isEmpty());
    top->addWidget(lblNote);
    lblState = wrapped(this);
    lblState->hide();
    top->addWidget(lblState);

    tblUnits = new QTableWidget(0, Columns, this);
    tblUnits->verticalHeader()->hide();
    tblUnits->setEditTriggers(QAbstractItemView::NoEditTriggers);
    tblUnits->setSelectionBehavior(QAbstractItemView::SelectRows);
    tblUnits->setHorizontalHeaderLabels(
        {caption(SiteBookWindow::UnitCaption), text(HandoverMessages::State)});
    tblUnits->setFont(plain);
    tblUnits->verticalHeader()->setDefaultSectionSize(QFontMetrics(plain).height() + 6);
    tblUnits->setColumnWidth(ColUnit, QFontMetrics(plain).horizontalAdvance(QString(16, u'M')));
    tblUnits->horizontalHeader()->setStretchLastSection(true);
    Ui::nameAfter(tblUnits, app().dispName(Ui::UnitsTable));
    Ui::fitCells(tblUnits);
    top->addWidget(tblUnits, 1);

    auto *buttons = new QHBoxLayout;
    cmdOpen = new QPushButton(caption(OpenInBrowser), this);
    cmdSaveAs = new QPushButton(caption(SaveAs), this);
    cmdClose = new QPushButton(caption(SiteBookWindow::Close), this);
    buttons->addStretch(1);
    for (QPushButton *b : {cmdOpen, cmdSaveAs, cmdClose}) {
        b->setAutoDefault(false);
        buttons->addWidget(b);
    }
    top->addLayout(buttons);
    TextMess = new MessageLine(this);
    top->addWidget(TextMess);
    Ui::enterPressesButtons(this);
    connect(cmdOpen, &QPushButton::clicked, this, &frmHandover::Open_Click);
    connect(cmdSaveAs, &QPushButton::clicked, this, &frmHandover::SaveAs_Click);
    connect(cmdClose, &QPushButton::clicked, this, &QWidget::close);
    resize(Ui::px(9000), Ui::px(6500));
    Ui::setNames({{tblUnits, "tblUnits"}, {cmdOpen, "cmdOpen"}, {cmdSaveAs, "cmdSaveAs"}, {cmdClose, "cmdClose"}});
    Ui::fitScreen(this);
    start();
}

frmHandover *frmHandover::showFor(QPointer<frmHandover> &shown, const SiteBookPlace &place,
                                  const QString &planPath, const QString &note, QWidget *parent)
{
    if (shown)
        shown->close();
    shown = new frmHandover(place, planPath, note, parent);
    shown->setAttribute(Qt::WA_DeleteOnClose);
    shown->show();
    shown->raise();
    shown->activateWindow();
    return shown;
}

void frmHandover::showState(const QString &state)
{
    lblState->setText(state);
    lblState->setVisible(!state.isEmpty());
    cmdOpen->setEnabled(m_handover.has_value());
    cmdSaveAs->setEnabled(m_handover.has_value());
}

void frmHandover::say(const QString &message)
{
    Ui::showLine(TextMess, message);
}

void frmHandover::sayNotWritten(const QString &path, const QString &error)
{
    say(native(path) + QStringLiteral(": ") + text(ConfigMessages::CannotWrite) +
        QStringLiteral(": ") + error);
}

void frmHandover::start()
{
    lblPlan->setText(native(QFileInfo(m_planPath).absoluteFilePath()));
    ConfigFileError error;
    const auto planText = ReadConfigFileText(m_planPath, &error);
    const auto plan = planText ? ParseNetworkPlan(*planText, &error) : std::nullopt;
    if (!plan)
        return showState(error.describe());
    // The site the plan's units file their entries under.
    lblSite->setText(plan->site.isEmpty() ? QFileInfo(m_planPath).fileName() : plan->site);
    tblUnits->setRowCount(int(plan->units.size()));
    for (int row = 0; row < tblUnits->rowCount(); ++row) {
        tblUnits->setItem(row, ColUnit, new QTableWidgetItem(plan->units.at(row).name));
        tblUnits->setItem(row, ColState, new QTableWidgetItem);
    }
    if (m_place.kind == SiteBookPlace::Off)
        return showState(text(BookOff) + QLatin1Char('\n') + text(SiteBookWindow::OffWhat));
    m_reader = new SiteBookReader(m_place, this);
    connect(m_reader, &SiteBookReader::replied, this, &frmHandover::replied);
    m_ticket = m_reader->handover(*plan, m_planPath, *planText);
    showState(text(SiteBookWindow::Reading));
}

void frmHandover::replied(const SiteBookReply &reply)
{
    if (reply.ticket != m_ticket)
        return;
    m_ticket = 0;
    if (!reply.ok)
        return showState(reply.noBook ? text(SiteBookWindow::NoEntries)
                                      : SiteBookWindow::cannotRead(m_place, reply.error));
    m_handover = reply.handover;
    m_html = reply.html;
    for (int row = 0; row < tblUnits->rowCount() && row < m_handover->units.size(); ++row) {
        const HandoverUnit &u = m_handover->units.at(row);
        tblUnits->item(row, ColState)->setText(HandoverStateText(u.state));
        tblUnits->item(row, ColState)->setToolTip(Ui::plainTip(u.differences.join(QLatin1Char('\n'))));
    }
    showState(QString());
}

void frmHandover::Open_Click()
{
    if (!m_handover)
        return;
    if (WorkFolder().isEmpty())
        return say(text(NoOwnFolder));
    // A folder of this user's own, as the backups have: nothing is written
    // through what another user placed.
    const QString folder = WorkFolder() + QStringLiteral("handover");
    QString error;
    if (!MakeOwnFolder(folder, &error))
        return sayNotWritten(folder, error);
    // A new file each time: the browser may still show the one before.
    const QString name = HandoverFileName(m_handover->site, m_handover->made.toLocalTime().date());
    QString path;
    for (int attempt = 1; path.isEmpty(); ++attempt) {
        const QString file = QDir(folder).filePath(
            attempt == 1 ? name : name.chopped(5) + QStringLiteral("-%1.html").arg(attempt));
        bool taken = false;
        if (WriteConfigFile(file, m_html, WriteMode::NewInOwnFolder, &error, &taken))
            path = file;
        else if (!taken || attempt == 100)
            return sayNotWritten(file, error);
    }
    const bool handed = QDesktopServices::openUrl(QUrl::fromLocalFile(path));
    say(text(handed ? Handed : NoBrowser) + QLatin1Char(' ') + native(path));
}

void frmHandover::SaveAs_Click()
{
    if (!m_handover)
        return;
    QFileDialog dialog(this, caption(SaveAs));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilters({caption(HtmlFiles), QStringLiteral("*")});
    dialog.setDefaultSuffix(QStringLiteral("html"));
    dialog.setDirectory(QFileInfo(m_planPath).absolutePath());
    dialog.selectFile(HandoverFileName(m_handover->site, m_handover->made.toLocalTime().date()));
    dialog.setViewMode(QFileDialog::Detail);
    dialog.resize(Ui::px(12000), Ui::px(6500));
    Ui::fitScreen(&dialog); // inside the screen at any scale
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    QString path = dialog.selectedFiles().constFirst();
    // A dialog that did not add it asked about the name without it: the
    // name with it is only ever made new.
    const bool added = QFileInfo(path).suffix().isEmpty();
    if (added)
        path += QStringLiteral(".html");
    QString error;
    bool taken = false;
    // Said written once it is on the disk.
    if (!WriteHandoverFile(path, m_html, !added, &error, &taken))
        return taken ? say(native(path) + QStringLiteral(": ") + text(SiteBookWindow::NameTaken))
                     : sayNotWritten(path, error);
    say(text(HandoverMessages::WrittenTo) + QLatin1Char(' ') + native(path));
}
