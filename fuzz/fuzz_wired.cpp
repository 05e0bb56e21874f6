// The wired reply parser: the letter is always the fifth character, the
// result true exactly for the six letters, and every value it leaves is one
// the screens can show.

#include "Fuzz.h"
#include "core/AppState.h"
#include "protocol/SettingsLists.h"
#include "protocol/modWired.h"

#include <QString>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    AppState &s = app();
    s = AppState{};
    s.WatchMode = 2;
    const QString line = QString::fromLatin1(reinterpret_cast<const char *>(data), qsizetype(size));
    QString letter;
    const bool ok = ParseWiredReply(line, letter);
    FUZZ_CHECK(letter == line.mid(4, 1));
    FUZZ_CHECK(ok == (letter.size() == 1 && QStringLiteral("$ANRVF").contains(letter)));
    FUZZ_CHECK(s.WatchMode == 0);
    if (ok && letter == QLatin1String("R")) {
        FUZZ_CHECK(s.ReplyChannel.size() == 2);
        const QString *values[] = {&s.ReplyType,       &s.ReplyAntenna, &s.ReplyBitRate,
                                   &s.ReplyDataLength, &s.ReplyParity,  &s.ReplyStopBits,
                                   &s.ReplyFlow};
        const auto lists = SettingsLists::recordLists();
        for (int i = 0; i < 7; ++i)
            FUZZ_CHECK(values[i]->isEmpty() || lists[i]->contains(*values[i]));
    }
    if (ok && letter == QLatin1String("V"))
        FUZZ_CHECK(s.ReplyVersion == line.mid(4, 14));
    return 0;
}
