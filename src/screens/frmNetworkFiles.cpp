// The network window's files: the plan opened, edited and saved, its last
// report found, kept and exported, and its handover document.
#include "screens/frmNetwork.h"

#include "config/modFile.h"
#include "core/AppState.h"
#include "documents/Handover.h"
#include "records/SiteBookOutcomes.h"
#include "screens/frmHandover.h"
#include "serial/Exchange.h"
#include "serial/SerialDevices.h"
#include "serial/mod232C.h"
#include "widgets/ScreenFit.h"
#include "widgets/Ui.h"

#include <QDate>
#include <QDir>
#include <QFileDialog>
#include <QStandardPaths>
#include <QPlainTextEdit>

using namespace NetworkWindowMessages;
using namespace NetworkWindowCaptions;

bool frmNetwork::loadPlan(const QString &path)
{
    ConfigFileError error;
    const auto text = ReadConfigFileText(path, &error);
    if (!text) {
        showMessage(error.describe());
        return false;
    }
    m_planPath = path;
    txtPlan->setPlainText(*text);
    m_planSaved = true;
    lblPlan->setText(caption(Plan) + QStringLiteral(": ") + QDir::toNativeSeparators(path));
    return true;
}

void frmNetwork::planEdited()
{
    if (m_filling)
        return;
    m_planSaved = false;
    showPlan();
}

// Edits not yet saved are put aside only when the operator says so.
bool frmNetwork::mayPutPlanAside()
{
    return m_planSaved || txtPlan->toPlainText().trimmed().isEmpty()
        || Ui::ask(this, caption(Title), app().message(ChangesLost));
}

// The commented example to fill in.
void frmNetwork::New_Click()
{
    if (!mayPutPlanAside())
        return;
    QFile example(app().Language == QLatin1String("ja") ? QStringLiteral(":/example-plan.ja.ini")
                                                        : QStringLiteral(":/example-plan.ini"));
    if (!example.open(QIODevice::ReadOnly))
        return;
    m_planPath.clear();
    txtPlan->setPlainText(QString::fromUtf8(example.readAll()));
    m_planSaved = true; // nothing of the operator's yet: nothing to lose
    lblPlan->setText(caption(Plan) + QStringLiteral(": -"));
    enableButtons();
    txtPlan->setFocus();
}

void frmNetwork::Open_Click()
{
    if (!mayPutPlanAside())
        return;
    const QString path = QFileDialog::getOpenFileName(this, caption(OpenPlan),
                                                      m_planPath.isEmpty() ? WorkFolder() : m_planPath,
                                                      caption(PlanFiles));
    if (!path.isEmpty())
        loadPlan(path);
}

void frmNetwork::Save_Click()
{
    if (m_planPath.isEmpty())
        return SaveAs_Click();
    QString error;
    if (!WriteConfigFile(m_planPath, txtPlan->toPlainText(), WriteMode::Replace, &error)) {
        showMessage(QDir::toNativeSeparators(m_planPath) + QStringLiteral(": ") + error);
        return;
    }
    m_planSaved = true;
    showMessage(app().message(ConfigMessages::Saved) + QLatin1Char(' ') + QDir::toNativeSeparators(m_planPath));
}

void frmNetwork::SaveAs_Click()
{
    const QString path = QFileDialog::getSaveFileName(this, caption(SavePlanAs),
                                                      m_planPath.isEmpty() ? WorkFolder() : m_planPath,
                                                      caption(PlanFiles));
    if (path.isEmpty())
        return;
    m_planPath = path;
    lblPlan->setText(caption(Plan) + QStringLiteral(": ") + QDir::toNativeSeparators(path));
    Save_Click();
    enableButtons();
}

void frmNetwork::findPlanReport()
{
    if (!m_plan || busy())
        return;
    const QString digest = PlanDigest(txtPlan->toPlainText());
    if (digest == m_lookedUp)
        return;
    m_lookedUp = digest;
    if (reportIsThisPlans())
        return;
    // Another plan: nothing read or set up under the last one's names holds.
    m_now.clear();
    m_lastSetUp = -1;
    const QString was = m_shownPath;
    QString path;
    const auto last = LastNetworkReport(BackupFolder(), &path, digest);
    m_shown = last.value_or(NetworkReport());
    m_shownPath = last ? path : QString();
    if (last)
        lblReport->setText(app().message(LastReport) + QLatin1Char(' ') + QDir::toNativeSeparators(path)
                           + QStringLiteral(" (") + last->finished.toString(QStringLiteral("yyyy-MM-dd HH:mm"))
                           + QLatin1Char(')'));
    else
        lblReport->setText(was.isEmpty() ? QString()
                                         : app().message(OtherPlans) + QLatin1Char(' ') + QDir::toNativeSeparators(was));
    lblAcross->clear();
}

bool frmNetwork::reportIsThisPlans() const
{
    return !m_shown.units.isEmpty() && m_plan && m_shown.planSha256 == PlanDigest(txtPlan->toPlainText());
}

void frmNetwork::showReport(const NetworkReport &report)
{
    QStringList across;
    for (int m : report.disagreements)
        across << app().message(m);
    lblAcross->setText(across.join(QLatin1Char('\n')));
    if (report.compare)
        showMessage(app().message(report.exitCode() == 0 ? AllMatch : SomeDiffer));
    else
        showMessage(app().message(report.exitCode() == 0 ? AllVerified : NotAll));
    enableButtons();
}

void frmNetwork::keepReport()
{
    m_shown.finished = QDateTime::currentDateTime();
    m_shown.checkAcrossUnits();
    QString error;
    if (const auto kept = KeepNetworkReport(m_shown, BackupFolder(), &error)) {
        m_shownPath = *kept;
        lblReport->setText(app().message(ReportKept) + QLatin1Char(' ') + QDir::toNativeSeparators(*kept)
                           + (m_shown.completes.isEmpty()
                                  ? QString()
                                  : QStringLiteral("; ") + app().message(Completes) + QLatin1Char(' ')
                                      + QDir::toNativeSeparators(m_shown.completes)));
    } else
        lblReport->setText(app().message(NotWrittenMessage) + QLatin1Char(' ') + BackupFolder() + QStringLiteral(": ") + error);
    enableButtons();
}

void frmNetwork::Export_Click()
{
    QFileDialog dialog(this, caption(Export));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    const QStringList filters{caption(CsvFiles), caption(JsonFiles)};
    dialog.setNameFilters(filters);
    // Beside the plan, where the site's other files are; never in the
    // program's own hidden folder.
    dialog.setDirectory(m_planPath.isEmpty() ? QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation)
                                             : QFileInfo(m_planPath).absolutePath());
    dialog.selectFile(SiteFileName(QStringLiteral("network"), m_plan ? m_plan->site : QString(),
                                   QDate::currentDate(), QStringLiteral("csv")));
    dialog.resize(Ui::px(12000), Ui::px(6500));
    Ui::fitScreen(&dialog); // inside the screen at any scale
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    QString path = dialog.selectedFiles().constFirst();
    const QString suffix = QFileInfo(path).suffix().toLower();
    // The dialog asked about the name as typed: with the type's extension
    // added, it is only ever made new.
    const bool added = suffix != QLatin1String("csv") && suffix != QLatin1String("json");
    if (added)
        path += dialog.selectedNameFilter() == filters.at(1) ? QStringLiteral(".json") : QStringLiteral(".csv");
    QString error;
    bool taken = false;
    if (ExportNetworkReport(m_shown, path, &error, added ? WriteMode::New : WriteMode::Replace, &taken))
        showMessage(app().message(ReportSaved) + QLatin1Char(' ') + QDir::toNativeSeparators(path));
    else
        showMessage(QDir::toNativeSeparators(path) + QStringLiteral(": ") + (taken ? app().message(NameTaken) : error));
}

void frmNetwork::Handover_Click()
{
    if (m_planPath.isEmpty())
        return showMessage(app().message(HandoverWindow::SaveFirst));
    // The document names the file: what it says is the file's, never an edit's.
    frmHandover::showFor(m_handover, SiteBookRecorder::place(), m_planPath,
                         m_planSaved ? QString() : app().message(HandoverWindow::PlanUnsaved), this);
}

frmHandover *frmNetwork::handover() const
{
    return m_handover;
}
