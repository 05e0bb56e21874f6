#pragma once
// What the network commands' two ways share: each unit in a process of its
// own (CliNetwork.cpp), or one after another on one adapter
// (CliNetworkOneAdapter.cpp).

#include "cli/CliRun.h"
#include "protocol/NetworkSetup.h"

#include <QJsonObject>

namespace Cli::NetworkShared {

// The device a port names, links resolved as an open would.
QString deviceOf(const QString &port);
// Each plan unit's port for this run (--ports over the plan's); false,
// the reason printed, when they cannot be had.
bool portsFor(Run &run, QList<QString> &ports);
// A unit's result in one line, as the run prints it.
QString unitLine(const NetworkUnitResult &u, bool compare);
// The report kept and printed, the exit code of the whole.
int finishNetwork(Run &run, NetworkReport &report);
// A unit's result from its run's JSON document (empty: none came).
NetworkUnitResult resultOf(const NetworkUnit &unit, const QString &port, const QJsonObject &o);
// One unit on the open port: set up (backup, write, verify) or compared,
// its progress to `shown`. Its site book entry is recorded with the outcome.
int oneUnitOn(CommControl &comm, ReplyTimer &timer, Output &out, const QString &portName,
              const QString &device, bool compareOnly, const NetworkUnit &unit,
              const TransferProgress &shown);
// The plan's part of every unit's entry: its site, path and digest.
void SiteBookPlan(const Run &run);
// One adapter, many units: network --sequential.
int oneAfterAnother(Run &run);
// Every unit at once, each in a process of its own.
int inParallel(Run &run);
// The report at `path` as the one this run completes: 0, else why not (no
// report, another plan's).
int loadCompleted(Run &run, const QString &path);

} // namespace Cli::NetworkShared
