// The text-file readers on any bytes, as all five files at once: they take
// what they can, keep their tables' sizes and never read past a field.

#include "Fuzz.h"
#include "config/FieldReader.h"
#include "config/modFile.h"
#include "core/AppState.h"

#include <QFile>
#include <QTemporaryDir>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static QTemporaryDir dir;
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));

    // Every field read moves forward: at most one field per character, plus one.
    FieldReader reader(DecodeIniText(bytes));
    QString field;
    qsizetype fields = 0;
    while (reader.next(field))
        FUZZ_CHECK(++fields <= bytes.size() + 1);

    AppState &s = app();
    s = AppState{};
    s.AppDir = s.WorkDir = dir.path() + QLatin1Char('/');
    s.AppDirChecked = true; // a folder of its own: setcom.ini rewritten there
    for (const char *name : {"setcom.ini", "dispname.ini", "message.ini", "FRH10.ini", "debug.ini"}) {
        QFile f(s.AppDir + QLatin1String(name));
        f.open(QIODevice::WriteOnly | QIODevice::Truncate);
        f.write(bytes);
    }
    ReadSetcomIni();
    ReadDispNameIni();
    ReadMessageIni();
    ReadFrhIni();
    ReadDebugIni();
    FUZZ_CHECK(s.MessageTable.size() == AppState::TableSize);
    FUZZ_CHECK(s.DispNameTable.size() == AppState::TableSize);
    FUZZ_CHECK(s.FrhTable.size() == AppState::FrhTableSize);
    FUZZ_CHECK(s.MessageTable.constLast().isEmpty() && s.FrhTable.at(28).isEmpty());
    for (int n = 0; n < AppState::RegisterCount; ++n)
        FUZZ_CHECK(s.FrhTable.at(n).isEmpty() || s.FrhTable.at(n).size() == 2
                   || s.FrhTable.at(n).startsWith(QLatin1Char('-')));

    // What the writer accepts, the reader gives back.
    if (WriteSetcomIni()) {
        const AppState written = s;
        ReadSetcomIni();
        FUZZ_CHECK(s.ComPort == written.ComPort && s.ComBaud == written.ComBaud
                   && s.ComDataBits == written.ComDataBits && s.ComParity == written.ComParity
                   && s.ComStopBits == written.ComStopBits);
    }
    return 0;
}
