// Saving a unit's configuration, and applying one with its backup and
// verification, against the simulated unit paced at 9600 bit/s: the time
// each takes next to the time its bytes need on the wire.
//
//   build/bench/bench_unitconfig [bit-rate]

#include "core/AppState.h"
#include "protocol/UnitTransfer.h"
#include "serial/CommControl.h"
#include "serial/ReplyTimer.h"
#include "sim/SimPeer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>

namespace {
void report(const char *what, double seconds, qint64 commandBytes, qint64 answerBytes, int rate)
{
    const double both = (commandBytes + answerBytes) * 10.0 / rate;
    const double answers = answerBytes * 10.0 / rate;
    std::printf("%-34s %6.3f s; on the wire %lld + %lld bytes: %.3f s both ways (%.2f x), "
                "%.3f s of answers (%.2f x)\n",
                what, seconds, static_cast<long long>(commandBytes),
                static_cast<long long>(answerBytes), both, seconds / both, answers,
                seconds / answers);
}
} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    const int rate = argc > 1 ? atoi(argv[1]) : 9600;
    QTemporaryDir dir;
    SimPeer unit;
    unit.setBitRate(rate);
    QFile::link(unit.slavePath(), dir.path() + "/COM1");
    CommControl comm;
    comm.setLinkDir(dir.path() + "/");
    ReplyTimer timer;
    if (!comm.setCommPort(1) || !comm.setPortOpen(true)) {
        std::fprintf(stderr, "cannot open the pseudo-terminal\n");
        return 1;
    }
    app().AppDir = dir.path() + "/";

    QElapsedTimer t;
    t.start();
    const ReadResult saved = ReadUnitConfig(comm, timer, TransferPath::Wired);
    const double saveSeconds = t.nsecsElapsed() / 1e9;
    if (!saved.ok) {
        std::fprintf(stderr, "saving failed\n");
        return 1;
    }
    report("save (V, R, F00..F27)", saveSeconds, unit.received().size(), unit.sentBytes(), rate);

    // Another configuration: every register and the record differ.
    UnitConfig other = saved.config;
    other.record.band = QChar('4');
    other.record.channel = 23;
    for (int n = 0; n < UnitConfig::Registers; ++n)
        other.registers[size_t(n)] = QStringLiteral("%1").arg((n * 11 + 5) % 256, 2, 16, QLatin1Char('0')).toUpper();
    other.registers[27] = QStringLiteral("06"); // band 4, as the record says
    other.registers[6] = QStringLiteral("F7");  // channel 23
    unit.clearReceived();
    const qint64 sentBefore = unit.sentBytes();
    t.restart();
    const ApplyResult applied = ApplyUnitConfig(comm, timer, TransferPath::Wired, other,
                                                dir.path() + "/backups", "COM1");
    const double applySeconds = t.nsecsElapsed() / 1e9;
    if (applied.outcome != ApplyResult::Verified) {
        std::fprintf(stderr, "applying failed:\n%s\n", qPrintable(applied.describe()));
        return 1;
    }
    report("apply (read, backup, write, verify)", applySeconds, unit.received().size(),
           unit.sentBytes() - sentBefore, rate);
    std::printf("(the simulated unit paces its answers at %d bit/s and takes commands at once)\n",
                rate);
    return 0;
}
