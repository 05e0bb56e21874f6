// Reading from the unit: its version, record and registers, one at a time
// or the whole configuration.
#include "protocol/TransferSteps.h"

#include "core/AppState.h"
#include "serial/Exchange.h"

using namespace ConfigMessages;

namespace Transfer {

ReadResult ReadAll(CommControl &comm, ReplyTimer &timer, TransferPath path, Steps &steps)
{
    ReadResult result;
    const auto stop = [&](int reason, const QString &what) {
        result.failure = {reason, what};
        return result;
    };
    UnitConfig &c = result.config;
    if (path == TransferPath::Wired) {
        if (!steps.next(Reading))
            return stop(Cancelled, app().message(Version));
        if (const int failed = Wired(comm, timer, QStringLiteral("V"), QStringLiteral("V")))
            return stop(failed, app().message(Version));
        c.version = app().ReplyVersion;
        if (!steps.next(Reading))
            return stop(Cancelled, RecordName());
        if (const int failed = ReadRecordStep(comm, timer, c.record))
            return stop(failed, RecordName());
    }
    for (int n = 0; n < UnitConfig::Registers; ++n) {
        if (!steps.next(Reading))
            return stop(Cancelled, RegisterName(n));
        QString value;
        if (const int failed = ReadRegisterStep(comm, timer, path, n, value))
            return stop(failed, RegisterName(n));
        c.registers[size_t(n)] = value;
    }
    result.ok = true;
    return result;
}

} // namespace Transfer

int ReadVersion(CommControl &comm, ReplyTimer &timer, QString &version)
{
    const Exchange exchange(comm);
    if (!exchange.started())
        return ExchangeBusyMessage;
    if (const int failed = Transfer::Wired(comm, timer, QStringLiteral("V"), QStringLiteral("V")))
        return failed;
    version = app().ReplyVersion;
    return 0;
}

int ReadRecord(CommControl &comm, ReplyTimer &timer, UnitRecord &record)
{
    const Exchange exchange(comm);
    if (!exchange.started())
        return ExchangeBusyMessage;
    return Transfer::ReadRecordStep(comm, timer, record);
}

int ReadOneRegister(CommControl &comm, ReplyTimer &timer, TransferPath path, int n,
                    QString &value)
{
    const Exchange exchange(comm);
    if (!exchange.started())
        return ExchangeBusyMessage;
    return Transfer::ReadRegisterStep(comm, timer, path, n, value);
}

int ReadExchanges(TransferPath path)
{
    return UnitConfig::Registers + (path == TransferPath::Wired ? 2 : 0);
}

ReadResult ReadUnitConfig(CommControl &comm, ReplyTimer &timer, TransferPath path,
                          const TransferProgress &progress)
{
    const Exchange exchange(comm);
    if (!exchange.started())
        return ReadResult{false, {}, {ExchangeBusyMessage, {}}};
    Transfer::Steps steps{progress, ReadExchanges(path)};
    return Transfer::ReadAll(comm, timer, path, steps);
}
