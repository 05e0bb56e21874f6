// The command line's batch case: `qmlsetup apply FILE` onto four simulated
// units paced at 9600 bit/s at once, next to one alone. The wire, not the
// program, should decide how long it takes.
//
//   build/bench/bench_parallel [bit-rate]

#include "sim/SimPeer.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>
#include <memory>
#include <vector>

namespace {
// Runs the program once per port, all at once; the wall time until the last ends.
double applyAll(const QString &folder, int units, bool *ok)
{
    std::vector<std::unique_ptr<QProcess>> runs;
    QElapsedTimer t;
    t.start();
    for (int i = 0; i < units; ++i) {
        auto p = std::make_unique<QProcess>();
        p->setWorkingDirectory(folder);
        p->start(folder + "/qmlsetup", {"apply", "site.ini", "--port", QStringLiteral("COM%1").arg(i + 1)});
        runs.push_back(std::move(p));
    }
    *ok = true;
    for (auto &p : runs) {
        // The units answer from this process: keep its events running.
        while (p->state() != QProcess::NotRunning)
            QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 50);
        *ok = *ok && p->exitStatus() == QProcess::NormalExit && p->exitCode() == 0;
        if (p->exitCode() != 0)
            std::fprintf(stderr, "%s", p->readAllStandardError().constData());
    }
    return t.nsecsElapsed() / 1e9;
}
} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    const int rate = argc > 1 ? atoi(argv[1]) : 9600;
    QTemporaryDir dir;
    const QString folder = dir.path();
    const QString program = QCoreApplication::applicationDirPath() + "/../app/qmlsetup";
    if (!QFile::copy(program, folder + "/qmlsetup")) {
        std::fprintf(stderr, "cannot copy %s\n", qPrintable(program));
        return 1;
    }
    QFile::setPermissions(folder + "/qmlsetup", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QFile site(folder + "/site.ini");
    site.open(QIODevice::WriteOnly);
    site.write("[unit]\nformat = 1\n[record]\nband = 2\nchannel = 11\nbit-rate = 19200\n[registers]\n");
    for (int n = 0; n < 28; ++n)
        site.write(QStringLiteral("%1 = %2\n").arg(n, 2, 10, QLatin1Char('0'))
                       .arg(n == 27 ? 4 : n == 6 ? 0xEB : (n * 13 + 7) % 256, 2, 16, QLatin1Char('0'))
                       .toUpper().toLatin1());
    site.close();

    SimPeer units[4];
    for (int i = 0; i < 4; ++i) {
        units[i].setBitRate(rate);
        QFile::link(units[i].slavePath(), folder + QStringLiteral("/COM%1").arg(i + 1));
    }
    bool ok1 = false, ok4 = false;
    const double one = applyAll(folder, 1, &ok1);
    const double four = applyAll(folder, 4, &ok4);
    if (!ok1 || !ok4) {
        std::fprintf(stderr, "an apply failed\n");
        return 1;
    }
    std::printf("qmlsetup apply (backup, write, verify) at %d bit/s: one unit %.2f s, four at once "
                "%.2f s: %.2f x\n",
                rate, one, four, four / one);
    return 0;
}
