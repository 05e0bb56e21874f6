// The version dialog.
#include "shell/frmVer.h"

#include "core/AppState.h"
#include "widgets/Accessible.h"
#include "widgets/ScreenFit.h"
#include "widgets/Ui.h"

#include <QLabel>
#include <QPushButton>

frmVer::frmVer(QWidget *parent) : QDialog(parent)
{
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    Ui::setClientSize(this, 5880, 2205);
    lblTitle = new QLabel(this);
    lblVer = new QLabel(this);
    for (QLabel *l : {lblTitle, lblVer}) {
        l->setFont(Ui::gothic(14.25));
        Ui::setForeground(l, Qt::blue);
    }
    Ui::place(lblTitle, 150, 180, 5565, 375);
    Ui::place(lblVer, 150, 660, 5565, 375);
    Command1 = new QPushButton(QStringLiteral("OK"), this);
    Command1->setFont(Ui::gothic(12));
    Ui::place(Command1, 2370, 1530, 1215, 435);
    connect(Command1, &QPushButton::clicked, this, &QDialog::accept);
    Ui::setNames({{Command1, "Command1"}});
    Ui::fitScreen(this);
}

void frmVer::Form_Load()
{
    Ui::setTitle(this, app().dispName(12));
    lblTitle->setText(app().dispName(1));
    lblVer->setText(QString::fromLatin1(VersionText));
}
