// A network's set-up from a plan, `qmlsetup network PLAN`, onto 1, 4, 16 and
// 32 simulated units paced at 9600 bit/s: the wall time next to one unit's,
// and the CPU each unit's run costs. The units answer from this process; its
// own CPU is theirs and is reported apart.
//
//   build/bench/bench_network [bit-rate] [rounds]

#include "sim/SimPeer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <sys/resource.h>
#include <vector>

namespace {

double cpuOf(int who)
{
    rusage u{};
    getrusage(who, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

struct Round {
    double wall = 0, cpu = 0, simCpu = 0;
    bool ok = false;
};

Round setUp(const QString &folder, std::vector<std::unique_ptr<SimPeer>> &units, int n)
{
    QByteArray plan = "[network]\nformat = 1\nband = 2\nchannel = 11\nbit-rate = 19200\n";
    for (int i = 0; i < n; ++i)
        plan += QStringLiteral("[node unit-%1]\ntype = %2\nport = %3\n")
                    .arg(i)
                    .arg(i ? "slave" : "master", units[size_t(i)]->slavePath())
                    .toUtf8();
    QFile file(folder + "/plan.ini");
    file.open(QIODevice::WriteOnly | QIODevice::Truncate);
    file.write(plan);
    file.close();
    Round r;
    const double cpu0 = cpuOf(RUSAGE_CHILDREN), sim0 = cpuOf(RUSAGE_SELF);
    QElapsedTimer t;
    t.start();
    QProcess p;
    p.setWorkingDirectory(folder);
    // Sleeps between events: a loop that polls would take a core from the runs it measures.
    QEventLoop loop;
    QObject::connect(&p, &QProcess::finished, &loop, &QEventLoop::quit);
    p.start(folder + "/qmlsetup", {"network", "plan.ini"});
    if (p.waitForStarted())
        loop.exec();
    r.wall = t.nsecsElapsed() / 1e9;
    r.cpu = cpuOf(RUSAGE_CHILDREN) - cpu0;
    r.simCpu = cpuOf(RUSAGE_SELF) - sim0;
    r.ok = p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    if (!r.ok)
        std::fprintf(stderr, "%s%s", p.readAllStandardOutput().constData(), p.readAllStandardError().constData());
    return r;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    const int rate = argc > 1 ? atoi(argv[1]) : 9600;
    const int rounds = argc > 2 ? std::max(1, atoi(argv[2])) : 3;
    QTemporaryDir dir;
    const QString folder = dir.path();
    const QString app = QCoreApplication::applicationDirPath() + "/../app/";
    for (const char *name : {"qmlsetup", "message.ini", "dispname.ini", "setcom.ini"}) {
        const QString from = QFile::exists(app + name) ? app + name : app + "lang/en/" + name;
        if (!QFile::copy(from, folder + "/" + name)) {
            std::fprintf(stderr, "cannot copy %s\n", qPrintable(from));
            return 1;
        }
    }
    QFile::setPermissions(folder + "/qmlsetup", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    std::vector<std::unique_ptr<SimPeer>> units;
    for (int i = 0; i < 32; ++i) {
        units.push_back(std::make_unique<SimPeer>());
        units.back()->setBitRate(rate);
    }
    std::printf("qmlsetup network PLAN (backup, record, verification a unit) at %d bit/s, best of %d:\n",
                rate, rounds);
    double one = 0;
    for (int n : {1, 4, 16, 32}) {
        Round best;
        best.wall = 1e9;
        for (int round = 0; round < rounds; ++round) {
            const Round r = setUp(folder, units, n);
            if (!r.ok) {
                std::fprintf(stderr, "the set-up of %d units failed\n", n);
                return 1;
            }
            if (r.wall < best.wall)
                best = r;
        }
        if (n == 1)
            one = best.wall;
        std::printf("  %2d units: %.2f s (%.2f x one unit's), CPU %.3f s a unit's run, "
                    "the simulated units %.3f s\n",
                    n, best.wall, best.wall / one, best.cpu / n, best.simCpu);
    }
    return 0;
}
