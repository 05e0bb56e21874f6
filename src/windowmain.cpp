// qmlsetup-window: the windows, started by qmlsetup without a command (or
// with Qt's window options only).
#include "shell/modMain.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    return Main();
}
