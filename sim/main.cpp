// The simulated unit: a stand-in radio modem on a pseudo-terminal.

#include "sim/SimControl.h"
#include "sim/SimPeer.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <unistd.h>

namespace {
int g_signalPipe[2] = {-1, -1};
void onSignal(int)
{
    const char c = 1;
    [[maybe_unused]] ssize_t n = ::write(g_signalPipe[1], &c, 1);
}
} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Simulated QML47210 unit on a pseudo-terminal.\n"
                       "Control commands on standard input:\n")
        + SimCommandHelp());
    parser.addHelpOption();
    const QCommandLineOption stateOpt(QStringLiteral("state"),
                                      QStringLiteral("Load and save the unit's state here."),
                                      QStringLiteral("file"));
    const QCommandLineOption linkDirOpt(QStringLiteral("link-dir"),
                                        QStringLiteral("Create the link COMn in this folder."),
                                        QStringLiteral("dir"));
    const QCommandLineOption comOpt(QStringLiteral("com"), QStringLiteral("Port number n of the link."),
                                    QStringLiteral("n"), QStringLiteral("1"));
    const QCommandLineOption faultOpt(QStringLiteral("fault"),
                                      QStringLiteral("A control command to apply at start (repeatable), "
                                                     "e.g. --fault \"delay 500\"."),
                                      QStringLiteral("command"));
    const QCommandLineOption seedOpt(QStringLiteral("seed"),
                                     QStringLiteral("Draw random delays from seed N (as \"seed N\")."),
                                     QStringLiteral("N"));
    parser.addOptions({stateOpt, linkDirOpt, comOpt, faultOpt, seedOpt});
    parser.process(application);

    SimPeer peer;
    if (!peer.isOpen()) {
        std::fprintf(stderr, "qmlsim: cannot open a pseudo-terminal\n");
        return 1;
    }
    if (parser.isSet(stateOpt)) {
        const QString state = parser.value(stateOpt);
        if (QFile::exists(state) && !peer.loadState(state))
            std::fprintf(stderr, "qmlsim: %s holds no state; starting afresh\n", qPrintable(state));
        peer.setStateFile(state);
        peer.saveState();
    }
    QStringList faults = parser.values(faultOpt);
    if (parser.isSet(seedOpt))
        faults.prepend(QStringLiteral("seed ") + parser.value(seedOpt));
    for (const QString &fault : faults) {
        const QString answer = ApplySimCommand(peer, fault);
        if (answer.startsWith(QLatin1Char('?'))) {
            std::fprintf(stderr, "qmlsim: %s\n", qPrintable(answer));
            return 2;
        }
    }

    QString link;
    if (parser.isSet(linkDirOpt)) {
        link = QDir(parser.value(linkDirOpt)).absoluteFilePath(QStringLiteral("COM")
                                                               + parser.value(comOpt));
        QFile::remove(link);
        if (!QFile::link(peer.slavePath(), link)) {
            std::fprintf(stderr, "qmlsim: cannot create %s\n", qPrintable(link));
            return 1;
        }
    }
    std::printf("%s\n", qPrintable(peer.slavePath()));
    std::fflush(stdout);

    if (::pipe(g_signalPipe) == 0) {
        auto *sigNotifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, &application);
        QObject::connect(sigNotifier, &QSocketNotifier::activated, &application,
                         &QCoreApplication::quit);
        std::signal(SIGINT, onSignal);
        std::signal(SIGTERM, onSignal);
        std::signal(SIGHUP, onSignal);
    }

    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QByteArray pendingInput;
    QObject::connect(&input, &QSocketNotifier::activated, [&] {
        char buf[1024];
        const ssize_t n = ::read(STDIN_FILENO, buf, sizeof buf);
        if (n <= 0) {
            input.setEnabled(false); // input closed: go on until a signal ends us
            return;
        }
        pendingInput += QByteArray(buf, int(n));
        if (pendingInput.size() > 4096)
            pendingInput = pendingInput.right(4096);
        int nl;
        while ((nl = pendingInput.indexOf('\n')) >= 0) {
            const QString answer = ApplySimCommand(peer, QString::fromLocal8Bit(pendingInput.left(nl)));
            pendingInput.remove(0, nl + 1);
            if (!answer.isEmpty()) {
                std::printf("%s\n", qPrintable(answer));
                std::fflush(stdout);
            }
        }
    });

    const int rc = application.exec();
    peer.saveState();
    if (!link.isEmpty())
        QFile::remove(link);
    return rc;
}
