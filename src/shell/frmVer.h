#pragma once
// The version dialog: the program's title and version.
#include <QDialog>

class QLabel;
class QPushButton;

// Product title and the program's version and date.
class frmVer : public QDialog {
    Q_OBJECT
public:
    explicit frmVer(QWidget *parent = nullptr);
    void Form_Load();

    static constexpr const char *VersionText = "2004/03/16  Ver 1.00";

    QLabel *lblTitle = nullptr;
    QLabel *lblVer = nullptr;
    QPushButton *Command1 = nullptr;
};
