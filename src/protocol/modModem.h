#pragma once
// The unit's own register commands: "@REGnn" (read), "@REGnn:vvH" (write) and
// "@RST", with their acknowledgement waits. The FRH preset is written with
// them as a transfer (protocol/UnitTransfer).

#include <QString>

class CommControl;
class ReplyTimer;

enum ReplyKind { Other = 0, Accepted = 1, Recognised = 2, Refused = 3, RxLine = 4, RbLine = 5 };

int ClassifyReply(const QString &line);

// `refused`, when given, tells a refusal apart from no answer; `inDoubt`
// tells that the answers after a time-out cannot be trusted: a value read
// again once the line was clear that came out otherwise, or a write refused
// after its resend (the first send may have been taken).
bool ReadRegister(CommControl &comm, ReplyTimer &timer, quint8 regNo, QString &value,
                  bool *refused = nullptr, bool *inDoubt = nullptr);
bool WriteRegister(CommControl &comm, ReplyTimer &timer, qint16 regNo, const QString &value,
                   bool *refused = nullptr, bool *inDoubt = nullptr);
void ResetUnit(CommControl &comm, ReplyTimer &timer);

// Command texts as they go on the wire (without CR LF).
QString ReadRegisterCommand(int regNo);
QString WriteRegisterCommand(int regNo, const QString &value);

// How long a register command waits after each send, in milliseconds.
constexpr int RegisterReplyMs = 7000;
