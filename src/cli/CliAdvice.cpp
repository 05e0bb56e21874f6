// What to check next when an exchange failed: said after the failure, in
// the operator's language, for the reasons an operator can act on.
#include "cli/CliOutput.h"
#include "cli/CommandLine.h"

#include "core/AppState.h"
#include "protocol/TrafficMeaning.h"
#include "serial/Traffic.h"

namespace Cli {
namespace {

// The last command sent and the last line that came, the link poll aside.
TrafficEvent g_sent, g_came;

// What a command's answer is, as the traffic console names it.
int ExpectedAnswer(int command)
{
    switch (command) {
    case TrafficMessages::ReadVersion:
        return TrafficMessages::Version;
    case TrafficMessages::ReadRecord:
        return TrafficMessages::Record;
    case TrafficMessages::ReadRegister:
        return TrafficMessages::RegisterValue;
    default: // writes and the reset are acknowledged
        return TrafficMessages::Acknowledged;
    }
}

} // namespace

void WatchLastLines()
{
    QObject::connect(&TrafficHub::instance(), &TrafficHub::happened, [](const TrafficEvent &e) {
        if (IsLinkPollTraffic(e))
            return;
        if (e.kind == TrafficEvent::Sent) {
            g_sent = e;
            g_came = TrafficEvent();
        } else if (e.kind == TrafficEvent::Received) {
            g_came = e;
        }
    });
}

QString FailureAdvice(int reason)
{
    const AppState &s = app();
    switch (reason) {
    case ConfigMessages::NoAnswer:
        return s.message(CliMessages::CheckUnit);
    case ConfigMessages::PortClosed:
        return s.message(CliMessages::CheckCable);
    case ConfigMessages::OtherAnswer:
        if (g_sent.kind == TrafficEvent::Sent && g_came.kind == TrafficEvent::Received)
            return s.message(CliMessages::WhatCame)
                .arg(VisibleLine(g_came.text), TrafficMeaning(g_came), VisibleLine(g_sent.text),
                     s.message(ExpectedAnswer(TrafficMeaningMessage(g_sent))));
        return s.message(CliMessages::SeeTrace);
    case ConfigMessages::ReadsDisagree:
    case ConfigMessages::WriteInDoubt:
        return s.message(CliMessages::SeeTrace);
    default:
        return QString();
    }
}

} // namespace Cli
