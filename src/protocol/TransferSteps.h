#pragma once
// The steps every transfer is made of: one command on the connection the
// transfer began on and the answer that fits it. Shared by reading, applying
// and the backup; not for the windows or the command line (UnitTransfer.h).

#include "protocol/UnitTransfer.h"

#include <QString>
#include <functional>
#include <optional>

class CommControl;
class ReplyTimer;

namespace Transfer {

QString RecordName();

// The transfer's connection stands: its port is open and was not replaced.
bool Connected(const CommControl &comm);
// The next command of a transfer, on the connection it began on.
bool NextCommand(CommControl &comm);

// One wired exchange: the command, then the reply that answers it (its
// letter, or "N"; `fits` checks what else it must carry). 0 when it came,
// else why not (a message number). `sent` tells that the command went out.
int Wired(CommControl &comm, ReplyTimer &timer, const QString &command, const QString &expected,
          const std::function<bool()> &fits = {}, bool *sent = nullptr);

// Counts the exchanges and asks the caller whether to go on.
struct Steps {
    const TransferProgress &progress;
    int total;
    int done = 0;
    bool next(int stage)
    {
        ++done;
        return !progress || progress(stage, done, total);
    }
};

// Only a whole record answers "R".
int ReadRecordStep(CommControl &comm, ReplyTimer &timer, UnitRecord &record);
// A register's value exactly as the unit gives it.
int ReadRegisterStep(CommControl &comm, ReplyTimer &timer, TransferPath path, int n, QString &value);
int WriteRegisterStep(CommControl &comm, ReplyTimer &timer, TransferPath path, int n,
                      const QString &value, bool *sent);
// The version, the record (wired path) and the 28 registers.
ReadResult ReadAll(CommControl &comm, ReplyTimer &timer, TransferPath path, Steps &steps);

// Keeps what the unit held as a new file in `backupDir`, read back with the
// same reader and on the disk before anything is written; its path, or
// nothing with the reason in `error` (and no file left behind).
std::optional<QString> WriteBackup(const UnitConfig &config, const QString &backupDir,
                                   const QString &port, QString *error);

} // namespace Transfer
