// An entry of the site book whole, and its backup saved as a configuration
// file.
#include "screens/frmSiteBookEntry.h"

#include "config/FileSafety.h"
#include "config/modFile.h"
#include "core/AppState.h"
#include "protocol/UnitConfig.h"
#include "screens/frmSiteBook.h"
#include "widgets/Accessible.h"
#include "widgets/MessageLine.h"
#include "widgets/ScreenFit.h"
#include "widgets/Ui.h"

#include <QDir>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSplitter>
#include <QTableWidget>
#include <QVBoxLayout>

using namespace SiteBookWindow;

namespace {

constexpr int VersionWord = 85; // "version"
constexpr int UserWord = 126;   // "user"

// A word of the message table as a label: "user" as "User".
QString label(const QString &word)
{
    return word.isEmpty() ? word : word.at(0).toUpper() + word.mid(1);
}

QString valueOf(const QJsonObject &settings, const QString &name)
{
    return settings.value(name).toVariant().toString();
}

QLabel *selectable(const QString &text, QWidget *parent)
{
    auto *l = new QLabel(text, parent);
    l->setTextInteractionFlags(Qt::TextSelectableByMouse);
    QFont plain = l->font();
    plain.setBold(false);
    l->setFont(plain);
    return l;
}

} // namespace

QStringList SettingNames(const QJsonObject &before, const QJsonObject &after)
{
    QStringList order{QStringLiteral("band"), QStringLiteral("channel")};
    for (int list = 0; list < UnitRecord::Lists; ++list)
        order << RecordKey(list);
    QStringList names;
    for (const QString &name : std::as_const(order))
        if (before.contains(name) || after.contains(name))
            names << name;
    QStringList registers, others;
    for (const QJsonObject *o : {&before, &after})
        for (auto it = o->begin(); it != o->end(); ++it) {
            if (order.contains(it.key()) || registers.contains(it.key()) || others.contains(it.key()))
                continue;
            (it.key().startsWith(QLatin1String("register ")) ? registers : others) << it.key();
        }
    registers.sort();
    others.sort();
    return names + registers + others;
}

bool SettingDiffers(const QString &name, const QJsonObject &before, const QJsonObject &after)
{
    if (!before.contains(name) || !after.contains(name))
        return false; // one side not read: nothing known to differ
    const QString a = valueOf(before, name), b = valueOf(after, name);
    return name.startsWith(QLatin1String("register ")) ? !SameRegisterValue(a, b) : a != b;
}

frmSiteBookEntry::frmSiteBookEntry(const SiteBookEntry &entry, QWidget *parent)
    : QDialog(parent, Qt::Window), m_entry(entry)
{
    setFont(Ui::gothic(10));
    Ui::setTitle(this, caption(EntryTitle));
    auto *top = new QVBoxLayout(this);

    // Who did what to which unit, and when.
    auto *about = new QGridLayout;
    const QString port = entry.adapter.isEmpty() || entry.adapter == entry.port
        ? entry.port
        : entry.port + QStringLiteral(" (") + entry.adapter + QLatin1Char(')');
    const QString result = entry.result + QStringLiteral(" (exit %1)").arg(entry.exitCode);
    const QList<QPair<QString, QString>> fields{
        {caption(TimeCaption), entry.time.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))},
        {label(app().message(UserWord)), entry.user + QLatin1Char('@') + entry.host},
        {caption(Action), entry.action},
        {caption(ResultCaption), result},
        {caption(Site), entry.site},
        {caption(PlanCaption), QDir::toNativeSeparators(entry.planPath)},
        {caption(UnitCaption), entry.unit},
        {label(app().message(VersionWord)), entry.version},
        {caption(PortAdapter), port},
        {caption(DeviceCaption), QDir::toNativeSeparators(entry.device)},
    };
    for (int i = 0; i < fields.size(); ++i) {
        const int row = i / 2, column = (i % 2) * 2;
        about->addWidget(new QLabel(fields.at(i).first + QLatin1Char(':'), this), row, column);
        about->addWidget(selectable(fields.at(i).second, this), row, column + 1);
    }
    about->setColumnStretch(1, 1);
    about->setColumnStretch(3, 1);
    top->addLayout(about);

    auto *split = new QSplitter(Qt::Horizontal, this);
    tblSettings = new QTableWidget(0, Columns, split);
    tblSettings->verticalHeader()->hide();
    tblSettings->setEditTriggers(QAbstractItemView::NoEditTriggers);
    tblSettings->setSelectionBehavior(QAbstractItemView::SelectRows);
    tblSettings->setHorizontalHeaderLabels({QString(QChar(DiffersMark)), caption(Setting), caption(Before),
                                            caption(After)});
    QFont plain = font();
    plain.setBold(false);
    tblSettings->setFont(plain);
    const QFontMetrics metrics(plain);
    tblSettings->verticalHeader()->setDefaultSectionSize(metrics.height() + 6);
    tblSettings->setColumnWidth(ColMark, metrics.horizontalAdvance(QStringLiteral("MM")) + 8);
    tblSettings->setColumnWidth(ColSetting, metrics.horizontalAdvance(QStringLiteral("register 00MM")));
    tblSettings->setColumnWidth(ColBefore, metrics.horizontalAdvance(QStringLiteral("MMMMMMMM")));
    tblSettings->horizontalHeader()->setStretchLastSection(true);
    Ui::nameAfter(tblSettings, app().dispName(Ui::SettingsTable));

    auto *texts = new QWidget(split);
    auto *right = new QVBoxLayout(texts);
    right->setContentsMargins(0, 0, 0, 0);
    right->addWidget(new QLabel(text(DetailHeading), texts));
    txtDetail = new QPlainTextEdit(entry.detail, texts);
    txtDetail->setReadOnly(true);
    Ui::nameAfter(txtDetail, text(DetailHeading));
    txtDetail->setFont(plain);
    right->addWidget(txtDetail, 1);
    lblBackup = new QLabel(texts);
    lblBackup->setWordWrap(true);
    lblBackup->setTextInteractionFlags(Qt::TextSelectableByMouse);
    right->addWidget(lblBackup);
    txtBackup = new QPlainTextEdit(entry.backupText, texts);
    txtBackup->setReadOnly(true);
    txtBackup->setLineWrapMode(QPlainTextEdit::NoWrap);
    Ui::nameAfter(txtBackup, text(BackupHeading));
    for (QPlainTextEdit *t : {txtDetail, txtBackup})
        t->setTabChangesFocus(true);
    QFont mono(QStringLiteral("monospace"));
    mono.setStyleHint(QFont::Monospace);
    mono.setBold(false);
    txtBackup->setFont(mono);
    right->addWidget(txtBackup, 3);
    split->setStretchFactor(0, 1);
    split->setStretchFactor(1, 1);
    top->addWidget(split, 1);

    auto *buttons = new QHBoxLayout;
    cmdSaveAs = new QPushButton(caption(SaveAs), this);
    cmdClose = new QPushButton(caption(Close), this);
    buttons->addStretch(1);
    buttons->addWidget(cmdSaveAs);
    buttons->addWidget(cmdClose);
    top->addLayout(buttons);
    TextMess = new MessageLine(this);
    top->addWidget(TextMess);

    for (QPushButton *b : {cmdSaveAs, cmdClose})
        b->setAutoDefault(false);
    Ui::enterPressesButtons(this);
    connect(cmdSaveAs, &QPushButton::clicked, this, &frmSiteBookEntry::SaveAs_Click);
    connect(cmdClose, &QPushButton::clicked, this, &QWidget::close);

    fillSettings();
    if (entry.backupText.isEmpty()) {
        lblBackup->setText(text(NoBackup));
        txtBackup->hide();
        cmdSaveAs->setEnabled(false);
    } else {
        lblBackup->setText(text(BackupHeading) + QLatin1Char(' ') + QDir::toNativeSeparators(entry.backupPath)
                           + QStringLiteral(" (SHA-256 ") + entry.backupSha256.left(16) + QStringLiteral("...)"));
    }
    Ui::fitCells(tblSettings);
    resize(Ui::px(13500), Ui::px(9000));
    Ui::setNames({{tblSettings, "tblSettings"}, {txtDetail, "txtDetail"}, {txtBackup, "txtBackup"},
                  {cmdSaveAs, "cmdSaveAs"}, {cmdClose, "cmdClose"}});
    Ui::fitScreen(this);
}

void frmSiteBookEntry::fillSettings()
{
    const QStringList names = SettingNames(m_entry.before, m_entry.after);
    tblSettings->setRowCount(int(names.size()));
    const QColor differs(0xB0, 0x00, 0x00);
    for (int row = 0; row < names.size(); ++row) {
        const QString &name = names.at(row);
        const auto side = [&name](const QJsonObject &o) {
            return o.contains(name) ? valueOf(o, name) : QStringLiteral("\u2014");
        };
        const bool marked = SettingDiffers(name, m_entry.before, m_entry.after);
        const QString cells[] = {marked ? QString(QChar(DiffersMark)) : QString(), name, side(m_entry.before),
                                 side(m_entry.after)};
        for (int column = 0; column < Columns; ++column) {
            auto *item = new QTableWidgetItem(cells[column]);
            if (marked) {
                QFont bold = tblSettings->font();
                bold.setBold(true);
                item->setFont(bold);
                item->setForeground(differs);
            }
            tblSettings->setItem(row, column, item);
        }
    }
}

bool frmSiteBookEntry::backupUsable(QString *why) const
{
    // What the book kept must be what was written to the backup's file.
    if (!m_entry.backupSha256.isEmpty() && Sha256Hex(m_entry.backupText.toUtf8()) != m_entry.backupSha256) {
        *why = text(BackupAltered);
        return false;
    }
    ConfigFileError error;
    auto config = ParseConfigText(m_entry.backupText, &error);
    if (const auto conflict = config ? MirrorConflict(*config) : std::nullopt) {
        error = *conflict;
        config.reset();
    }
    if (!config) {
        *why = error.describe();
        return false;
    }
    return true;
}

void frmSiteBookEntry::SaveAs_Click()
{
    QString why;
    if (!backupUsable(&why)) {
        Ui::showLine(TextMess, why);
        return;
    }
    QFileDialog dialog(this, caption(SaveAs));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    // Only a new file: a name in use is said after the choice, never replaced.
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    dialog.setNameFilters({caption(ConfigFiles), QStringLiteral("*")});
    dialog.setDefaultSuffix(QStringLiteral("ini"));
    const QString units = WorkFolder() + QStringLiteral("units");
    dialog.setDirectory(QFileInfo(units).isDir() ? units : WorkFolder());
    const QString name = QFileInfo(m_entry.backupPath).fileName();
    dialog.selectFile(name.isEmpty() ? QStringLiteral("unit-%1.ini")
                                           .arg(m_entry.time.toLocalTime().toString(QStringLiteral("yyyyMMdd-HHmmss")))
                                     : name);
    dialog.setViewMode(QFileDialog::Detail);
    dialog.resize(Ui::px(12000), Ui::px(6500));
    Ui::fitScreen(&dialog); // inside the screen at any scale
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    const QString path = dialog.selectedFiles().constFirst();
    QString error;
    bool taken = false;
    if (!WriteConfigFile(path, m_entry.backupText, WriteMode::New, &error, &taken)) {
        Ui::showLine(TextMess, QDir::toNativeSeparators(path) + QStringLiteral(": ")
                                   + (taken ? text(NameTaken) : app().message(ConfigMessages::CannotWrite)
                                                  + QStringLiteral(": ") + error));
        return;
    }
    // Said saved once it is on the disk; otherwise not left behind.
    if (!SyncToDisk(path, &error)) {
        QFile::remove(path);
        Ui::showLine(TextMess, QDir::toNativeSeparators(path) + QStringLiteral(": ")
                                   + app().message(ConfigMessages::CannotWrite) + QStringLiteral(": ") + error);
        return;
    }
    Ui::showLine(TextMess, app().message(ConfigMessages::Saved) + QLatin1Char(' ') + QDir::toNativeSeparators(path));
}
