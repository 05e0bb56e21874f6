// Start-up costs: `qmlsetup info` from process start to exit against a Qt
// Core + Serial Port program asking the same (query_reference), and the
// window's start-up until it has opened its port (started as qmlsetup and as
// qmlsetup-window; wall clock and CPU), each against the simulated unit; the
// median of RUNS runs. With a second program folder (an earlier build), its
// window start-up too, for comparison.
//
//   build/bench/bench_startup [RUNS] [OTHER_APP_DIR]

#include "sim/SimPeer.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

void keepEventsRunning(const std::function<bool()> &done)
{
    // The unit answers from this process.
    while (!done())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

// A copy of a program folder with the unit linked as COM1.
bool copyFolder(const QString &from, const QString &to, const SimPeer &unit)
{
    for (const QFileInfo &f : QDir(from).entryInfoList(QDir::Files | QDir::NoDotAndDotDot)) {
        if (f.fileName().startsWith("COM") || f.isSymLink())
            continue;
        if (!QFile::copy(f.filePath(), to + "/" + f.fileName()))
            return false;
    }
    for (const char *sub : {"lang/ja", "lang/en", "defaults"}) {
        QDir().mkpath(to + "/" + sub);
        for (const QFileInfo &f : QDir(from + "/" + sub).entryInfoList(QDir::Files))
            QFile::copy(f.filePath(), to + "/" + sub + "/" + f.fileName());
    }
    return QFile::link(unit.slavePath(), to + "/COM1");
}

// Seconds from start to exit; negative when the run failed.
double timedRun(const QString &program, const QStringList &args, const QString &dir)
{
    QProcess p;
    p.setWorkingDirectory(dir);
    QElapsedTimer t;
    t.start();
    p.start(program, args);
    keepEventsRunning([&] { return p.state() == QProcess::NotRunning; });
    const double s = t.nsecsElapsed() / 1e9;
    return p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0 ? s : -1;
}

bool holdsOpen(qint64 pid, const QString &device)
{
    const QString fds = QStringLiteral("/proc/%1/fd").arg(pid);
    for (const QFileInfo &fd : QDir(fds).entryInfoList(QDir::System | QDir::NoDotAndDotDot))
        if (fd.symLinkTarget() == device)
            return true;
    return false;
}

// CPU seconds the process's threads have used so far (the main thread's
// count goes on across an exec).
double cpuSeconds(qint64 pid)
{
    double sum = 0;
    const QString tasks = QStringLiteral("/proc/%1/task").arg(pid);
    for (const QString &task : QDir(tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile stat(tasks + QLatin1Char('/') + task + QStringLiteral("/schedstat"));
        if (stat.open(QIODevice::ReadOnly))
            sum += stat.readAll().split(' ').value(0).toDouble() / 1e9;
    }
    return sum;
}

struct Start {
    double wall = -1, cpu = -1;
};

// From start until the window has opened its port, as it does right before
// its idle loop: wall-clock seconds and the CPU seconds spent by then.
Start windowStart(const QString &folder, const QString &device, const QString &program = "qmlsetup")
{
    QProcess p;
    p.setWorkingDirectory(folder);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    p.setProcessEnvironment(env);
    QElapsedTimer t;
    t.start();
    p.start(folder + "/" + program, {});
    if (!p.waitForStarted())
        return {};
    keepEventsRunning([&] {
        return p.state() == QProcess::NotRunning || holdsOpen(p.processId(), device)
            || t.elapsed() > 20000;
    });
    Start start;
    start.wall = t.nsecsElapsed() / 1e9;
    start.cpu = cpuSeconds(p.processId());
    const bool opened = p.state() == QProcess::Running && holdsOpen(p.processId(), device);
    p.kill();
    p.waitForFinished();
    return opened ? start : Start{};
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 20;
    const QString other = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QString();
    const QString bin = QCoreApplication::applicationDirPath();
    SimPeer unit;
    const QString device = QFileInfo(unit.slavePath()).canonicalFilePath();
    QTemporaryDir here, there;
    if (!copyFolder(bin + "/../app", here.path(), unit)
        || (!other.isEmpty() && !copyFolder(other, there.path(), unit))) {
        std::fprintf(stderr, "cannot copy the program folders\n");
        return 1;
    }
    // The window by the command name, and by the window program itself.
    std::vector<double> info, reference, window, windowCpu, direct, directCpu, otherWindow, otherCpu;
    const auto add = [](std::vector<double> &wall, std::vector<double> &cpu, const Start &s) {
        wall.push_back(s.wall);
        cpu.push_back(s.cpu);
    };
    for (int i = 0; i < runs; ++i) { // taken in turns, so all meet the same machine
        info.push_back(timedRun(here.path() + "/qmlsetup", {"info"}, here.path()));
        reference.push_back(timedRun(bin + "/query_reference", {device}, here.path()));
        add(window, windowCpu, windowStart(here.path(), device));
        add(direct, directCpu, windowStart(here.path(), device, "qmlsetup-window"));
        if (!other.isEmpty())
            add(otherWindow, otherCpu, windowStart(there.path(), device));
    }
    for (const auto *v : {&info, &reference, &window, &direct, &otherWindow})
        if (std::any_of(v->begin(), v->end(), [](double s) { return s < 0; })) {
            std::fprintf(stderr, "a run failed\n");
            return 1;
        }
    std::printf("qmlsetup info %.1f ms, the Qt Core + Serial Port query %.1f ms: %.2f x (median of %d)\n",
                median(info) * 1e3, median(reference) * 1e3, median(info) / median(reference), runs);
    std::printf("the window's start-up until its port is open, wall / CPU:\n");
    std::printf("  qmlsetup         %.1f / %.1f ms\n", median(window) * 1e3, median(windowCpu) * 1e3);
    std::printf("  qmlsetup-window  %.1f / %.1f ms\n", median(direct) * 1e3, median(directCpu) * 1e3);
    if (!other.isEmpty())
        std::printf("  %s/qmlsetup: %.1f / %.1f ms: qmlsetup now takes %.2f / %.2f x\n", qPrintable(other),
                    median(otherWindow) * 1e3, median(otherCpu) * 1e3, median(window) / median(otherWindow),
                    median(windowCpu) / median(otherCpu));
    return 0;
}
