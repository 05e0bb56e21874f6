// The unit configuration file reader: any text is either refused with a line
// and a reason, or read whole; what it reads, written out again, reads back
// the same. And from the other side: whatever a unit answers (a version text,
// two characters a register), the file the program saves reads back the same.

#include "Fuzz.h"
#include "core/AppState.h"
#include "protocol/UnitConfig.h"

#include <QString>

namespace {

// The input as a unit's replies: a version text and 28 register values, each
// byte a character as the line driver receives it (never CR or LF, which end
// a line).
void savedRepliesReadBack(const uint8_t *data, size_t size)
{
    QString chars;
    for (size_t i = 0; i < size; ++i)
        if (data[i] != '\r' && data[i] != '\n')
            chars += QChar(data[i]);
    UnitConfig unit;
    unit.version = chars.left(14);
    for (int n = 0; n < UnitConfig::Registers && 14 + 2 * n + 2 <= chars.size(); ++n)
        unit.registers[size_t(n)] = chars.mid(14 + 2 * n, 2);
    ConfigFileError error;
    const auto reread = ParseConfigText(WriteConfigText(unit, chars.left(8), QDateTime()), &error);
    FUZZ_CHECK(reread.has_value());
    FUZZ_CHECK(*reread == unit);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    savedRepliesReadBack(data, size);
    const QString text =
        QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    ConfigFileError error;
    const auto config = ParseConfigText(text, &error);
    if (!config) {
        FUZZ_CHECK(error.message > 0);
        FUZZ_CHECK(error.line >= 0 && error.line <= text.count(QLatin1Char('\n')) + 1);
        return 0;
    }
    for (const auto &r : config->registers)
        FUZZ_CHECK(!r || r->size() == 2);
    if (config->record.band)
        FUZZ_CHECK(*config->record.band >= u'0' && *config->record.band <= u'4');
    if (config->record.channel)
        FUZZ_CHECK(*config->record.channel >= 0 && *config->record.channel <= 23);
    ConfigFileError again;
    const auto reread = ParseConfigText(WriteConfigText(*config, QString(), QDateTime()), &again);
    FUZZ_CHECK(reread.has_value());
    FUZZ_CHECK(*reread == *config);
    return 0;
}
