#pragma once
// The handover document of one plan file, from the site book window or the
// network window: each unit's state as the book shows it, then the document
// opened in the browser or saved where the operator chooses. The book is read
// on a thread of its own, as the site book window reads it.

#include "screens/frmSiteBookReader.h"
#include "widgets/MessageLine.h"

#include <QDialog>
#include <QPointer>

class QLabel;
class QLineEdit;
class QPushButton;
class QTableWidget;

class frmHandover : public QDialog {
    Q_OBJECT
public:
    // `note`: said above the units, such as that the plan shown is not the one saved.
    frmHandover(const SiteBookPlace &place, const QString &planPath, const QString &note,
                QWidget *parent = nullptr);
    // One such window a window: `shown`, if any, closed, and a new one shown in its place.
    static frmHandover *showFor(QPointer<frmHandover> &shown, const SiteBookPlace &place,
                                const QString &planPath, const QString &note, QWidget *parent);

    enum Column { ColUnit, ColState, Columns };

    QLabel *lblSite = nullptr, *lblPlan = nullptr, *lblNote = nullptr;
    QLabel *lblState = nullptr; // reading, or why there is no document, and what to do
    QTableWidget *tblUnits = nullptr;
    QPushButton *cmdOpen = nullptr, *cmdSaveAs = nullptr, *cmdClose = nullptr;
    MessageLine *TextMess = nullptr;

    // The book read, or why not said.
    bool settled() const { return m_ticket == 0; }
    const std::optional<Handover> &handover() const { return m_handover; }

    void Open_Click();
    void SaveAs_Click();

private:
    void start();
    void replied(const SiteBookReply &reply);
    void showState(const QString &text);
    void say(const QString &text);
    void sayNotWritten(const QString &path, const QString &error);

    SiteBookPlace m_place;
    QString m_planPath;
    SiteBookReader *m_reader = nullptr;
    quint64 m_ticket = 0;
    std::optional<Handover> m_handover;
    QString m_html;
};

// Captions (dispname.ini) and messages of the handover window.
namespace HandoverWindow {
enum Caption { Button = 100, OpenInBrowser, SaveAs, HtmlFiles, ChoosePlan };
enum Message { PlanUnsaved = 330, SaveFirst, BookOff, Handed, NoBrowser, NoOwnFolder };
} // namespace HandoverWindow
