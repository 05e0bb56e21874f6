// qmlsetup: the command line, or the window program beside it. A command
// runs here on Qt Core and Qt Serial Port alone, so a script's run never
// loads a widget or GUI library; the window is qmlsetup-window, started in
// this process's place so that it keeps its PID and arguments.
#include "cli/CommandLine.h"
#include "config/modFile.h"
#include "core/AppState.h"

#include <QCoreApplication>
#include <QDir>
#include <QProcess>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#ifdef Q_OS_UNIX
#include <climits>
#include <unistd.h>
#endif

namespace {

constexpr int WindowProgramMissing = 132;
const char WindowProgram[] = "qmlsetup-window";

// The window program's failure to start, said in the operator's language.
int cannotStartWindow(int argc, char *argv[], const QString &path, const QString &why)
{
    QCoreApplication application(argc, argv);
    LoadTextFiles();
    const QString text = QStringLiteral("qmlsetup: ") + app().message(WindowProgramMissing)
        + QLatin1Char(' ') + QDir::toNativeSeparators(path) + QStringLiteral(": ") + why
        + QLatin1Char('\n');
    std::fputs(text.toLocal8Bit().constData(), stderr);
    return 1;
}

int startWindow(int argc, char *argv[])
{
#ifdef Q_OS_UNIX
    // Beside the program file itself, not the link on the PATH that led here.
    char self[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    std::string path;
    if (n > 0) {
        self[n] = '\0';
        path = self;
    } else {
        path = argv[0];
    }
    const auto slash = path.rfind('/');
    path = (slash == std::string::npos ? std::string(".") : path.substr(0, slash)) + '/' + WindowProgram;
    argv[0] = path.data();
    ::execv(path.c_str(), argv);
    const int error = errno;
    return cannotStartWindow(argc, argv, QString::fromLocal8Bit(path.c_str()),
                             QString::fromLocal8Bit(std::strerror(error)));
#else
    QCoreApplication application(argc, argv);
    const QString path = QCoreApplication::applicationDirPath() + QLatin1Char('/')
        + QLatin1String(WindowProgram);
    QProcess window;
    window.setProcessChannelMode(QProcess::ForwardedChannels);
    window.start(path, application.arguments().mid(1));
    if (!window.waitForStarted(-1))
        return cannotStartWindow(argc, argv, path, window.errorString());
    window.waitForFinished(-1);
    return window.exitCode();
#endif
}

} // namespace

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
    return startWindow(argc, argv);
}
