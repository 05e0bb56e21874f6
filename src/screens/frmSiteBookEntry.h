#pragma once
// One site book entry whole: who did what to which unit and when, the
// settings before and after side by side with those that differ marked,
// what the program said, and the backup kept with it, which can be saved
// as a configuration file to apply.

#include "records/SiteBookEntry.h"
#include "widgets/MessageLine.h"

#include <QDialog>

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTableWidget;

class frmSiteBookEntry : public QDialog {
    Q_OBJECT
public:
    explicit frmSiteBookEntry(const SiteBookEntry &entry, QWidget *parent = nullptr);

    enum Column { ColMark, ColSetting, ColBefore, ColAfter, Columns };
    // Beside a setting whose before and after differ: not told by colour alone.
    static constexpr char16_t DiffersMark = u'\u2260';

    QTableWidget *tblSettings = nullptr;
    QPlainTextEdit *txtDetail = nullptr;
    QLabel *lblBackup = nullptr;
    QPlainTextEdit *txtBackup = nullptr;
    QPushButton *cmdSaveAs = nullptr, *cmdClose = nullptr;
    MessageLine *TextMess = nullptr;

    const SiteBookEntry &entry() const { return m_entry; }
    void SaveAs_Click();

private:
    void fillSettings();
    // The backup as a file apply takes: its text, or why it cannot be one.
    bool backupUsable(QString *why) const;

    SiteBookEntry m_entry;
};

// The settings of `before` and `after` in the order a configuration file
// has them: the record's fields, then the registers, then anything else.
QStringList SettingNames(const QJsonObject &before, const QJsonObject &after);
// Both sides hold the setting and they differ (register values without
// regard to the case of their hexadecimal digits).
bool SettingDiffers(const QString &name, const QJsonObject &before, const QJsonObject &after);
