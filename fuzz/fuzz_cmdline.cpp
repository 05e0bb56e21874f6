// The command-line parser on any words: a request that holds only what the
// commands can take, or an error with a message, never anything between.

#include "Fuzz.h"
#include "cli/CommandLine.h"

#include <QCoreApplication>
#include <QStringList>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QStringList args =
        QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size)).split(QLatin1Char('\n')).mid(0, 32);
    CliError error;
    const auto request = ParseCommandLine(args, &error);
    if (!request) {
        FUZZ_CHECK(error.message > 0);
        return 0;
    }
    switch (request->command) {
    case CliRequest::RegGet:
    case CliRequest::RegSet:
        FUZZ_CHECK(request->reg >= 0 && request->reg <= 27);
        FUZZ_CHECK(request->value.size() == 2);
        break;
    case CliRequest::Write:
        FUZZ_CHECK(!request->changes.isEmpty());
        if (request->changes.band)
            FUZZ_CHECK(*request->changes.band >= u'0' && *request->changes.band <= u'4');
        if (request->changes.channel)
            FUZZ_CHECK(*request->changes.channel >= 0 && *request->changes.channel <= 23);
        break;
    case CliRequest::Save:
    case CliRequest::Apply:
        FUZZ_CHECK(!request->file.isEmpty());
        break;
    default:
        break;
    }
    if (!request->port.isEmpty())
        FUZZ_CHECK(request->port.startsWith(QLatin1String("COM")) || request->port.startsWith(QLatin1Char('/')));
    return 0;
}
