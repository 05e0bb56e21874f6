// What one exchange with the unit costs the program, next to the floor: a
// minimal client that writes the command and blocks in read() for the reply,
// on the same kind of pseudo-terminal against the same peer. Interleaved
// batches, medians, because the machine is shared and noisy. Then the FRH
// preset against the simulated unit paced at 9600 bit/s, next to the wire
// time of its answers.
//
//   build/bench/bench_roundtrip [exchanges-per-batch] [batches] [--spread]
//
// All three (program, client, peer) run on one CPU unless --spread is given:
// on a shared machine, where the scheduler puts the peer changes the cost
// of a wake-up far more than anything either side does.

#include "core/AppState.h"
#include "protocol/TrafficMeaning.h"
#include "protocol/UnitTransfer.h"
#include "protocol/modModem.h"
#include "serial/CommControl.h"
#include "serial/ReplyTimer.h"
#include "serial/Traffic.h"
#include "sim/SimPeer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <pty.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace {

// A raw pseudo-terminal pair; the peer process serves the master side.
struct Line {
    int master = -1, slave = -1;
    QString path;
    bool open()
    {
        char name[256] = {};
        if (openpty(&master, &slave, name, nullptr, nullptr) != 0)
            return false;
        termios tio{};
        tcgetattr(slave, &tio);
        cfmakeraw(&tio);
        tcsetattr(slave, TCSANOW, &tio);
        path = QString::fromLocal8Bit(name);
        return true;
    }
};

// The unit's side, in a process of its own so that its CPU is not counted:
// every line "@REGnn" gets "P0" and a value line, as the unit answers a read.
[[noreturn]] void servePeer(const std::vector<int> &masters)
{
    std::vector<std::string> partial(masters.size());
    std::vector<pollfd> fds;
    for (int m : masters)
        fds.push_back({m, POLLIN, 0});
    for (;;) {
        if (::poll(fds.data(), nfds_t(fds.size()), -1) < 0)
            _exit(0);
        for (size_t i = 0; i < fds.size(); ++i) {
            if (!(fds[i].revents & POLLIN))
                continue;
            char buf[512];
            const ssize_t n = ::read(fds[i].fd, buf, sizeof buf);
            if (n <= 0)
                continue;
            partial[i].append(buf, size_t(n));
            size_t end;
            while ((end = partial[i].find("\r\n")) != std::string::npos) {
                partial[i].erase(0, end + 2);
                static const char reply[] = "P0\r\n3AH\r\n";
                [[maybe_unused]] ssize_t w = ::write(fds[i].fd, reply, sizeof reply - 1);
            }
        }
    }
}

double threadCpuUs()
{
    rusage u{};
    getrusage(RUSAGE_THREAD, &u);
    return u.ru_utime.tv_sec * 1e6 + u.ru_utime.tv_usec + u.ru_stime.tv_sec * 1e6
        + u.ru_stime.tv_usec;
}

struct Cost {
    double cpuUs, wallUs;
};

template <typename F> Cost measure(int n, F exchange)
{
    QElapsedTimer wall;
    const double cpu0 = threadCpuUs();
    wall.start();
    for (int i = 0; i < n; ++i)
        exchange();
    return {(threadCpuUs() - cpu0) / n, wall.nsecsElapsed() / 1000.0 / n};
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    QStringList args = application.arguments().mid(1);
    const bool spread = args.removeAll(QStringLiteral("--spread")) > 0;
    const int perBatch = args.size() > 0 ? args[0].toInt() : 1000;
    const int batches = args.size() > 1 ? args[1].toInt() : 15;
    if (!spread) {
        cpu_set_t one;
        CPU_ZERO(&one);
        sched_getaffinity(0, sizeof one, &one);
        int first = 0;
        while (first < CPU_SETSIZE && !CPU_ISSET(first, &one))
            ++first;
        CPU_ZERO(&one);
        CPU_SET(first, &one);
        sched_setaffinity(0, sizeof one, &one); // inherited by the peer
    }

    Line programLine, clientLine;
    if (!programLine.open() || !clientLine.open()) {
        std::fprintf(stderr, "cannot open pseudo-terminals\n");
        return 1;
    }
    const pid_t peer = fork();
    if (peer == 0)
        servePeer({programLine.master, clientLine.master});
    ::close(programLine.master);
    ::close(clientLine.master);

    // The program: its serial control and the register read it uses.
    QTemporaryDir dir;
    QFile::link(programLine.path, dir.path() + "/COM1");
    CommControl comm;
    comm.setLinkDir(dir.path() + "/");
    ReplyTimer timer;
    if (!comm.setCommPort(1) || !comm.setPortOpen(true)) {
        std::fprintf(stderr, "cannot open the program's port\n");
        return 1;
    }
    const auto programExchange = [&] {
        QString value;
        if (!ReadRegister(comm, timer, 5, value) || value != QLatin1String("3A"))
            std::fprintf(stderr, "program: bad exchange\n");
    };

    // The floor: write, then block in read() until the value line is in.
    const int client = ::open(QFile::encodeName(clientLine.path).constData(), O_RDWR | O_NOCTTY);
    const auto clientExchange = [&] {
        static const char command[] = "@REG05\r\n";
        [[maybe_unused]] ssize_t w = ::write(client, command, sizeof command - 1);
        std::string got;
        char buf[64];
        while (got.find("H\r\n") == std::string::npos) {
            const ssize_t n = ::read(client, buf, sizeof buf);
            if (n <= 0)
                break;
            got.append(buf, size_t(n));
        }
    };

    // The traffic console open: every line kept as the console keeps it
    // (the event and its poll flag; the rest is made when a row is shown),
    // the latest 10,000 kept.
    struct Row {
        TrafficEvent event;
        bool poll;
    };
    QList<Row> rows;
    const auto openConsole = [&] {
        return QObject::connect(&TrafficHub::instance(), &TrafficHub::happened, [&](const TrafficEvent &e) {
            if (rows.size() >= 10000)
                rows.remove(0, 1000);
            rows.append(Row{e, IsLinkPollTraffic(e)});
        });
    };

    std::vector<double> programCpu, programWall, clientCpu, clientWall, consoleCpu, consoleWall;
    measure(100, programExchange); // warm up both
    measure(100, clientExchange);
    for (int b = 0; b < batches; ++b) {
        const Cost p = measure(perBatch, programExchange);
        const Cost c = measure(perBatch, clientExchange);
        const QMetaObject::Connection console = openConsole();
        const Cost o = measure(perBatch, programExchange);
        QObject::disconnect(console);
        programCpu.push_back(p.cpuUs);
        programWall.push_back(p.wallUs);
        clientCpu.push_back(c.cpuUs);
        clientWall.push_back(c.wallUs);
        consoleCpu.push_back(o.cpuUs);
        consoleWall.push_back(o.wallUs);
    }
    ::kill(peer, SIGTERM);
    ::waitpid(peer, nullptr, 0);

    const double pc = median(programCpu), pw = median(programWall);
    const double cc = median(clientCpu), cw = median(clientWall);
    std::printf("register read round trip, median of %d interleaved batches of %d, %s:\n",
                batches, perBatch, spread ? "spread over the CPUs" : "on one CPU");
    std::printf("  program:          %6.2f us CPU  %6.2f us wall\n", pc, pw);
    std::printf("  blocking client:  %6.2f us CPU  %6.2f us wall\n", cc, cw);
    std::printf("  ratio:            %6.2f x CPU   %6.2f x wall\n", pc / cc, pw / cw);
    const double oc = median(consoleCpu), ow = median(consoleWall);
    std::printf("  program, traffic console open: %6.2f us CPU  %6.2f us wall: %.2f x CPU of it closed\n",
                oc, ow, oc / pc);

    // The FRH preset at 9600 bit/s: 28 reads for the backup, 28 writes, 28
    // reads to verify them and a reset.
    SimPeer sim;
    sim.setBitRate(9600);
    comm.setPortOpen(false);
    QFile::remove(dir.path() + "/COM1");
    QFile::link(sim.slavePath(), dir.path() + "/COM1");
    comm.setPortOpen(true);
    for (int n = 0; n < AppState::RegisterCount; ++n)
        app().FrhTable[n] = QStringLiteral("%1").arg(n, 2, 10, QLatin1Char('0'));
    QElapsedTimer t;
    t.start();
    const ApplyResult result = ApplyFrhPresetVerified(comm, timer, dir.path() + "/backups", "COM1");
    const double seconds = t.nsecsElapsed() / 1e9;
    const bool ok = result.outcome == ApplyResult::Verified;
    const double wire = sim.sentBytes() * 10.0 / 9600;
    std::printf("FRH preset with backup and verification at 9600 bit/s: %s in %.3f s; "
                "its answers' wire time %.3f s: %.3f x\n",
                ok ? "verified" : "FAILED", seconds, wire, seconds / wire);
    return ok ? 0 : 1;
}
