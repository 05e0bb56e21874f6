// The exit question.
#include "shell/frmExit.h"

#include "core/AppState.h"
#include "widgets/Accessible.h"
#include "widgets/ScreenFit.h"
#include "widgets/Ui.h"

#include <QLabel>
#include <QPushButton>

frmExit::frmExit(QWidget *parent) : QDialog(parent)
{
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    Ui::setClientSize(this, 4395, 2145);
    const QColor lightYellow(255, 255, 128);
    Ui::setBackground(this, lightYellow);

    Lbl_exit = new QLabel(QStringLiteral("exit"), this);
    Lbl_exit->setFont(Ui::gothic(14.25));
    Ui::setForeground(Lbl_exit, Qt::red);
    Ui::place(Lbl_exit, 600, 510, 3195, 465);

    Cmd_OK = new QPushButton(QStringLiteral("Yes"), this);
    Cmd_Can = new QPushButton(QStringLiteral("No"), this);
    for (QPushButton *b : {Cmd_OK, Cmd_Can}) {
        b->setFont(Ui::gothic(12));
        b->setAutoDefault(false);
    }
    Ui::place(Cmd_OK, 780, 1260, 1215, 435);
    Ui::place(Cmd_Can, 2310, 1260, 1215, 435);

    connect(Cmd_OK, &QPushButton::clicked, this, [this] {
        app().ExitConfirmed = true;
        accept();
    });
    connect(Cmd_Can, &QPushButton::clicked, this, &QDialog::reject);
    Ui::enterPressesButtons(this);
    Ui::setNames({{Cmd_OK, "Cmd_OK"}, {Cmd_Can, "Cmd_Can"}});
    Ui::fitScreen(this);
}

void frmExit::Form_Load()
{
    Ui::setTitle(this, app().dispName(1));
    Lbl_exit->setText(app().message(10));
    Ui::fitTitle(this); // the product's name in full, in either language
}
