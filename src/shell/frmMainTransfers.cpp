// The main window's whole-unit transfers: the FRH preset with its backup,
// and saving and applying unit files, each with its progress.
#include "shell/frmMain.h"

#include "config/FileSafety.h"
#include "config/modFile.h"
#include "core/AppState.h"
#include "protocol/UnitTransfer.h"
#include "protocol/modModem.h"
#include "records/SiteBookOutcomes.h"
#include "screens/frmSet.h"
#include "serial/DoEvents.h"
#include "serial/Exchange.h"
#include "serial/SerialDevices.h"
#include "serial/mod232C.h"
#include "widgets/BookEntry.h"
#include "widgets/ScreenFit.h"
#include "widgets/Ui.h"
#include "shell/frmCom.h"
#include "shell/frmExit.h"
#include "shell/frmVer.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QLayout>
#include <QLineEdit>
#include <QMenuBar>
#include <QProgressDialog>
#include <QPushButton>
#include <QSettings>
#include <QShortcut>
#include <QStatusBar>
#include <QLabel>

namespace {

// A progress dialog for a transfer: exchange n of N, cancel after the
// exchange under way.
TransferProgress showProgress(QProgressDialog &dialog)
{
    // The main window's alone: the traffic console stays usable beside it.
    dialog.setWindowModality(Qt::WindowModal);
    dialog.setMinimumDuration(0);
    dialog.setAutoClose(false);
    dialog.setAutoReset(false);
    return [&dialog](int stage, int n, int total) {
        dialog.setMaximum(total);
        dialog.setLabelText(QStringLiteral("%1  %2 / %3").arg(app().message(stage)).arg(n).arg(total));
        dialog.setValue(n - 1);
        return !dialog.wasCanceled();
    };
}

QString portName(const CommControl &comm)
{
    return QStringLiteral("COM%1").arg(app().ComPort) + QStringLiteral(" (")
        + QDir::toNativeSeparators(comm.deviceFor(app().ComPort)) + QLatin1Char(')');
}

} // namespace

// The preset, backed up first and read back after. FRH counts as done when
// every write was acknowledged, as before; what the unit holds is said beside.
void frmMain::presetWithBackup()
{
    AppState &s = app();
    Ui::showLine(TextMess, s.dispName(24));
    Ui::BookEntry book(QStringLiteral("preset"), m_comm);
    const ApplyResult result = ApplyFrhPresetVerified(m_comm, m_timer, BackupFolder(),
                                                      portName(m_comm));
    s.FrhDone = result.allWritten;
    if (result.refusal == PresetIncompleteMessage || result.refusal == ExchangeBusyMessage) {
        Ui::showLine(TextMess, s.message(result.refusal));
        return; // nothing was sent: nothing to record
    }
    UnitConfig table;
    for (int n = 0; n < UnitConfig::Registers; ++n)
        table.registers[size_t(n)] = s.FrhTable.at(n);
    EntryApplied(book.entry(), result, table, true);
    book.record(book.entry().result, QString());
    const QString text = result.describePreset();
    Ui::showLine(TextMess, QString(text).replace(QLatin1Char('\n'), QStringLiteral("  ")));
    TextMess->setToolTip(text);
}

namespace {
const QString LastUnitFolderKey = QStringLiteral("unitFiles/lastFolder");

// The folder last used for unit files, kept beside the program's own files
// (where nothing may be made, nothing is kept).
QString lastUnitFolder()
{
    if (WorkFolder().isEmpty())
        return {};
    return QSettings(WorkFolder() + QStringLiteral("places.ini"), QSettings::IniFormat)
        .value(LastUnitFolderKey)
        .toString();
}

void rememberUnitFolder(const QString &folder)
{
    if (WorkFolder().isEmpty())
        return;
    QSettings(WorkFolder() + QStringLiteral("places.ini"), QSettings::IniFormat)
        .setValue(LastUnitFolderKey, folder);
}
} // namespace

// Unit files apart from the text files: the folder last used for them, else
// units/ beside the program's own files, made on first use.
QString frmMain::unitFilesFolder() const
{
    const QString last = lastUnitFolder();
    if (!last.isEmpty() && QFileInfo(last).isDir())
        return last;
    const QString units = WorkFolder() + QStringLiteral("units");
    QString error;
    return MakeOwnFolder(units, &error) ? units : WorkFolder();
}

// The file dialog for unit files, from `start`, remembering its folder.
QString frmMain::chooseUnitFile(bool save, const QString &start)
{
    const AppState &s = app();
    QFileDialog dialog(this, s.dispName(save ? 34 : 35));
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    dialog.setNameFilters({s.dispName(37), QStringLiteral("*")});
    dialog.setDefaultSuffix(QStringLiteral("ini"));
    if (QFileInfo(start).isDir()) {
        dialog.setDirectory(start);
    } else {
        dialog.setDirectory(QFileInfo(start).absolutePath());
        dialog.selectFile(QFileInfo(start).fileName());
    }
    dialog.setViewMode(QFileDialog::Detail);
    // Wide enough that the name, size, type and date columns show whole.
    dialog.resize(Ui::px(12000), Ui::px(6500));
    Ui::fitScreen(&dialog); // inside the screen at any scale
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    const QString file = dialog.selectedFiles().constFirst();
    rememberUnitFolder(QFileInfo(file).absolutePath());
    return file;
}

void frmMain::menuSaveConfig_Click()
{
    if (refusedWhileBusy())
        return;
    const AppState &s = app();
    const QString suggested = QDir(unitFilesFolder())
        .filePath(QStringLiteral("unit-COM%1-%2.ini")
                      .arg(s.ComPort)
                      .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"))));
    const QString file = chooseUnitFile(true, suggested);
    if (file.isEmpty())
        return;
    QProgressDialog progress(this);
    Ui::setTitle(&progress, s.dispName(36));
    Ui::BookEntry book(QStringLiteral("save"), m_comm);
    const ReadResult read =
        ReadUnitConfig(m_comm, m_timer, CurrentTransferPath(), showProgress(progress));
    progress.close();
    if (!read.ok) {
        book.record(QStringLiteral("failed"), read.failure.what + QStringLiteral(": ") + s.message(read.failure.reason));
        Ui::messageBox(this, QMessageBox::Warning, s.dispName(36),
                       s.message(ConfigMessages::ReadFailed) + QLatin1Char(' ') + read.failure.what
                           + QStringLiteral(": ") + s.message(read.failure.reason));
        return;
    }
    QString error;
    const QString text = WriteConfigText(read.config, portName(m_comm), QDateTime::currentDateTime());
    EntryRead(book.entry(), read.config);
    if (!WriteConfigFile(file, text, WriteMode::Replace, &error)) {
        book.record(QStringLiteral("read"), QDir::toNativeSeparators(file) + QStringLiteral(": ") + error);
        Ui::messageBox(this, QMessageBox::Warning, s.dispName(36),
                       s.message(ConfigMessages::CannotWrite) + QStringLiteral(": ")
                           + QDir::toNativeSeparators(file) + QStringLiteral("\n") + error);
        return;
    }
    book.entry().setBackup(QFileInfo(file).absoluteFilePath(), text.toUtf8());
    book.record(QStringLiteral("saved"), s.message(ConfigMessages::Saved) + QLatin1Char(' ') + file);
    Ui::messageBox(this, QMessageBox::Information, s.dispName(36),
                   s.message(ConfigMessages::Saved) + QLatin1Char('\n')
                       + QDir::toNativeSeparators(file));
}

void frmMain::menuApplyConfig_Click()
{
    if (refusedWhileBusy())
        return;
    const AppState &s = app();
    const QString file = chooseUnitFile(false, unitFilesFolder());
    if (file.isEmpty())
        return;
    ConfigFileError error;
    auto config = ReadConfigFile(file, &error);
    // Nothing goes to the unit from a file that does not parse, nor from one
    // whose registers would undo an edit of its band or channel.
    if (const auto conflict = config ? MirrorConflict(*config) : std::nullopt) {
        error = *conflict;
        config.reset();
    }
    if (!config) {
        Ui::messageBox(this, QMessageBox::Warning, s.dispName(36), error.describe());
        return;
    }
    QProgressDialog progress(this);
    Ui::setTitle(&progress, s.dispName(36));
    Ui::BookEntry book(QStringLiteral("apply"), m_comm);
    const ApplyResult result =
        ApplyUnitConfig(m_comm, m_timer, CurrentTransferPath(), *config, BackupFolder(),
                        portName(m_comm), showProgress(progress));
    progress.close();
    // Refused before anything was sent: nothing to record. A backup that
    // could not be kept came after the unit was read.
    if (!(result.outcome == ApplyResult::NotStarted && result.refusal && result.refusal != ConfigMessages::BackupFailed)) {
        EntryApplied(book.entry(), result, *config);
        book.record(book.entry().result, QString());
    }
    Ui::messageBox(this,
                   result.outcome == ApplyResult::Verified ? QMessageBox::Information
                                                           : QMessageBox::Warning,
                   s.dispName(36), result.describe());
}
