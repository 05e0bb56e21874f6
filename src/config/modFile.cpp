#include "config/modFile.h"

#include "config/FieldReader.h"
#include "config/TextConvert.h"
#include "core/AppState.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <cctype>
#include <optional>

namespace {

QString pathOf(const char *name) { return app().AppDir + QLatin1String(name); }

// Whole file as text, or nothing when it is absent or cannot be read. These
// files are a few hundred bytes; a huge one is not ours to take whole.
std::optional<QString> readText(const char *name)
{
    return ReadIniFile(pathOf(name));
}

bool present(const char *name)
{
    return QFileInfo(pathOf(name)).isFile();
}

void readTableFrom(const std::optional<QString> &text, QStringList &table, int count,
                   QString (*normalise)(const QString &))
{
    if (!text)
        return;
    FieldReader reader(*text);
    for (int k = 0; k < count; ++k) {
        if (reader.atEnd())
            break;
        QString field;
        if (reader.next(field))
            table[k] = normalise ? normalise(field) : field;
    }
}

void readTable(const char *name, QStringList &table, int count,
               QString (*normalise)(const QString &))
{
    readTableFrom(readText(name), table, count, normalise);
}

QString normaliseRegisterValue(const QString &field)
{
    const QString two = TextConvert::right2(field);
    return TextConvert::isNumeric(two) ? TextConvert::formatWhole(two, 2) : two;
}

} // namespace

void ReadSetcomIni()
{
    AppState &s = app();
    if (!present("setcom.ini")) {
        s.ComPort = 1;
        s.ComBaud = QStringLiteral("9600");
        s.ComDataBits = QStringLiteral("8");
        s.ComParity = QStringLiteral("N");
        s.ComStopBits = QStringLiteral("1");
        return;
    }
    const auto text = readText("setcom.ini");
    if (!text)
        return;
    FieldReader reader(*text);
    // One working text takes every field: a field past the end leaves it
    // holding the previous one, and that is stored all the same.
    QString work;
    reader.next(work);
    if (const auto port = TextConvert::toInt16(work))
        s.ComPort = *port;
    QString *texts[] = {&s.ComBaud, &s.ComDataBits, &s.ComParity, &s.ComStopBits};
    for (QString *target : texts) {
        reader.next(work);
        *target = work;
    }
}

namespace {
// The operator's own file beside the other text files wins; without one,
// the shipped set of the operator's language.
std::optional<QString> readTextSet(const char *name)
{
    if (present(name) || app().ShippedTextDir.isEmpty())
        return readText(name);
    return ReadIniFile(app().ShippedTextDir + QLatin1String(name));
}
} // namespace

void ReadDispNameIni()
{
    readTableFrom(readTextSet("dispname.ini"), app().DispNameTable, AppState::TableSize - 1,
                  nullptr);
}

void ReadMessageIni()
{
    readTableFrom(readTextSet("message.ini"), app().MessageTable, AppState::TableSize - 1,
                  nullptr);
}

void ReadFrhIni()
{
    readTable("FRH10.ini", app().FrhTable, AppState::RegisterCount, normaliseRegisterValue);
}

bool ReadFrhFile(const QString &path)
{
    AppState &s = app();
    s.FrhTable = QStringList(AppState::FrhTableSize);
    const auto text = ReadIniFile(path);
    readTableFrom(text, s.FrhTable, AppState::RegisterCount, normaliseRegisterValue);
    return text.has_value();
}

void ReadDebugIni()
{
    const auto text = readText("debug.ini");
    if (!text)
        return;
    FieldReader reader(*text);
    QString field;
    app().DebugFlag = reader.next(field) && field == QLatin1String("DEBUG ON");
}

bool WriteSetcomIni()
{
    const AppState &s = app();
    const QString path = pathOf("setcom.ini");
    if (!QFileInfo::exists(path))
        return true; // never created, only replaced
    if (!present("setcom.ini"))
        return false; // a directory or a FIFO in its place is not ours to replace
    QString out;
    for (const QString &v : {QString::number(s.ComPort), s.ComBaud, s.ComDataBits, s.ComParity,
                             s.ComStopBits}) {
        // A value the file cannot carry is refused rather than written damaged.
        if (v.contains(QLatin1Char('"')) || v.contains(QLatin1Char('\r'))
            || v.contains(QLatin1Char('\n')) || !EncodableIniText(v))
            return false;
        out += QLatin1Char('"') + v + QStringLiteral("\"\r\n");
    }
    // Written aside and renamed, so a full disk never leaves a half file;
    // in place where the folder is closed to new files but the file is not.
    QSaveFile file(path);
    file.setDirectWriteFallback(true);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(EncodeIniText(out));
    return file.commit();
}

bool FrhPresetComplete()
{
    const QStringList &table = app().FrhTable;
    const auto hexDigit = [](QChar c) { return c.unicode() < 128 && isxdigit(c.unicode()); };
    for (int n = 0; n < AppState::RegisterCount; ++n) {
        const QString &v = table.at(n);
        if (v.size() != 2 || !hexDigit(v[0]) || !hexDigit(v[1]))
            return false;
    }
    return true;
}

QString BackupFolder()
{
    return app().AppDir + QStringLiteral("backups");
}

LoadedTextFiles LoadTextFiles()
{
    AppState &s = app();
    LoadedTextFiles loaded;
    loaded.files = ChooseTextFolder(ProgramDir(), qEnvironmentVariable("QML47210_FILES"));
    s.AppDir = loaded.files.folder;
    loaded.language = ChooseLanguage(qEnvironmentVariable("QML47210_LANG"));
    s.ShippedTextDir = ShippedTextFolder(ProgramDir(), loaded.language);
    ReadSetcomIni();
    ReadDispNameIni();
    ReadMessageIni();
    ReadFrhIni();
    ReadDebugIni();
    return loaded;
}
