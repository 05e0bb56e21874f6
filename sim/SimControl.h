#pragma once
// Run-time control of the simulated unit: one command a line, from its
// standard input or its command line.

#include <QString>

class SimPeer;

// Applies one control command; returns a short answer, or an error text
// beginning with "?".
QString ApplySimCommand(SimPeer &peer, const QString &command);
QString SimCommandHelp();
