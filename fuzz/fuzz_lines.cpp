// Received bytes into lines: a line is exactly the bytes since the last CR
// or LF when it fits the limit, and nothing at all when it does not, so no
// tail of noise ever becomes a reply. No state outlives a line end.

#include "Fuzz.h"
#include "core/AppState.h"
#include "serial/mod232C.h"

#include <QByteArray>
#include <QString>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    app() = AppState{};
    QByteArray since; // bytes since the last line end
    bool sinceOverflowed = false;
    const auto feed = [&](uint8_t byte) {
        const QString line = AssembleLine(byte);
        if (byte == '\r') {
            const bool fits = !sinceOverflowed && since.size() <= RxLineLimit;
            FUZZ_CHECK(line == (fits ? QString::fromLatin1(since) : QString()));
        } else {
            FUZZ_CHECK(line.isEmpty());
        }
        if (byte == '\r' || byte == '\n') {
            since.clear();
            sinceOverflowed = false;
        } else if (!sinceOverflowed) {
            since += char(byte);
            sinceOverflowed = since.size() > RxLineLimit;
            if (sinceOverflowed)
                since.clear();
        }
        FUZZ_CHECK(app().RxLineBuffer.size() <= RxLineLimit);
    };
    for (size_t i = 0; i < size; ++i)
        feed(data[i]);
    for (const char c : QByteArray("\rP0\r"))
        feed(uint8_t(c));
    return 0;
}
