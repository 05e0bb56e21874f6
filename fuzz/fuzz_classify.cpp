// Reply classification: any received line gives one of the six kinds, and
// only by its first two characters (and the length of an "RX" line).

#include "Fuzz.h"
#include "protocol/modModem.h"

#include <QString>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString line = QString::fromLatin1(reinterpret_cast<const char *>(data), qsizetype(size));
    const int kind = ClassifyReply(line);
    FUZZ_CHECK(kind >= Other && kind <= RbLine);
    FUZZ_CHECK((kind == Accepted) == line.startsWith(QLatin1String("P0")));
    FUZZ_CHECK(kind == ClassifyReply(line.left(2) + QString(line.size() - 2 > 0 ? line.size() - 2 : 0, u'?')));
    return 0;
}
