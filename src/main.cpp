#include "cli/CommandLine.h"
#include "shell/modMain.h"

#include <QApplication>
#include <QCoreApplication>

int main(int argc, char *argv[])
{
    // With a command the program runs in a terminal, over ssh, in a script:
    // no window, no display, no single-copy lock.
    if (argc > 1) {
        QStringList args;
        for (int i = 1; i < argc; ++i)
            args << QString::fromLocal8Bit(argv[i]);
        // Qt's own window options (a session manager restoring the window,
        // -style, -platform) open the window; anything else is a command.
        if (!OnlyWindowOptions(args)) {
            QCoreApplication application(argc, argv);
            return RunCommandLine(application.arguments().mid(1));
        }
    }
    QApplication application(argc, argv);
    return Main();
}
