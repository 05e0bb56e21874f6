// The unit configuration file reader: any text is either refused with a line
// and a reason, or read whole; what it reads, written out again, reads back
// the same.

#include "Fuzz.h"
#include "core/AppState.h"
#include "protocol/UnitConfig.h"

#include <QString>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
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
    FUZZ_CHECK(reread->record == config->record);
    FUZZ_CHECK(reread->registers == config->registers);
    FUZZ_CHECK(reread->version == config->version);
    return 0;
}
