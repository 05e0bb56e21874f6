// How fast replies come through the line driver, which takes one byte per
// call and lets events run between calls: lines a second over a
// pseudo-terminal, against the wire time of the unit's fastest rate.

#include "core/AppState.h"
#include "serial/CommControl.h"
#include "serial/DoEvents.h"
#include "serial/mod232C.h"
#include "sim/SimPeer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    const int lines = argc > 1 ? atoi(argv[1]) : 20000;
    QTemporaryDir dir;
    SimPeer peer;
    QFile::link(peer.slavePath(), dir.path() + "/COM1");
    CommControl comm;
    comm.setLinkDir(dir.path() + "/");
    if (!comm.setCommPort(1) || !comm.setPortOpen(true)) {
        std::fprintf(stderr, "cannot open the pseudo-terminal\n");
        return 1;
    }
    const QByteArray reply("KZ90R1050021000\r\n");
    int received = 0;
    QElapsedTimer t;
    t.start();
    int queued = 0;
    while (received < lines) {
        // Keep the simulated unit's queue topped up without overrunning it.
        while (queued - received < 500 && queued < lines) {
            peer.sendRaw(reply);
            ++queued;
        }
        if (!ReceiveLine(comm).isEmpty())
            ++received;
        DoEvents(&comm);
    }
    const double seconds = t.elapsed() / 1000.0;
    const double bytesPerSecond = received * reply.size() / seconds;
    std::printf("%d lines of %d bytes in %.3f s: %.0f lines/s, %.0f bytes/s "
                "(115200 bit/s on the wire is 11520 bytes/s)\n",
                received, int(reply.size()), seconds, received / seconds, bytesPerSecond);
    return 0;
}
