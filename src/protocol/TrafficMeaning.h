#pragma once
// What the program makes of each line on the traffic console and in
// `--trace`: a command and what it asks, a reply and what it says, the link
// poll, noise, and the notes of the line itself. Pure: it changes nothing
// the exchanges read.

#include "serial/Traffic.h"

#include <QString>

// A message-table number for what the event is.
int TrafficMeaningMessage(const TrafficEvent &event);
// The same with its detail ("register 05"), in the operator's language.
QString TrafficMeaning(const TrafficEvent &event);
// The link poll and its answer, sent every 500 ms: the console can hide them.
bool IsLinkPollTraffic(const TrafficEvent &event);
// A line that ends the wait of `command` sent by hand: a wired reply (not
// the poll's), a refusal, a register value, or the acknowledgement of a
// register write or the reset.
bool IsFinalAnswer(const TrafficEvent &event, const QString &command);

namespace TrafficMessages {
constexpr int LinkPoll = 163, LinkAnswer = 164, Acknowledged = 165, Refusal = 166, Record = 167,
              Version = 168, RegisterValue = 169, UnknownLetter = 170, Noise = 171,
              ReadVersion = 172, ReadRecord = 173, WriteRecord = 174, ReadRegister = 175,
              WriteRegister = 176, Reset = 177, Recognised = 178, UnknownCommand = 179,
              PortOpened = 180, PortClosed = 181, LineLost = 182, TimeOut = 183,
              OverLong = 184, Overflow = 185, Note = 186,
              // 190-194: the guarantee that no answer is taken for another command's
              Dropped = 190, Echo = 191, NotSent = 192, Clearing = 193;
} // namespace TrafficMessages
