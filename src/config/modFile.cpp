// Reading the five text files into the program-wide state, and writing setcom.ini.
#include "config/modFile.h"

#include "config/FieldReader.h"
#include "config/FileSafety.h"
#include "config/TextConvert.h"
#include "core/AppState.h"

#include <QFileInfo>
#include <optional>

namespace {

QString pathOf(const char *name) { return app().AppDir + QLatin1String(name); }

// Whole file as text, or nothing when it is absent or cannot be read. These
// files are a few hundred bytes; a huge one is not ours to take whole. In a
// folder others may write, a link or what another user placed counts as
// absent.
std::optional<QString> readPath(const QString &path)
{
    return ReadIniFile(path, 1 << 20, FileTrust::TrustedOnly);
}

std::optional<QString> readText(const char *name) { return readPath(pathOf(name)); }

bool presentPath(const QString &path)
{
    const Entry e = LookAt(path);
    return e.kind == Entry::File && e.trusted();
}

bool present(const char *name) { return presentPath(pathOf(name)); }

// setcom.ini in the work folder, where the choice goes when the text
// folder's is not the user's to rewrite; empty when that is the same file
// or there is no work folder.
QString ownSetcom()
{
    const AppState &s = app();
    if (s.WorkDir.isEmpty() || s.WorkDir == s.AppDir)
        return {};
    return s.WorkDir + QStringLiteral("setcom.ini");
}

// The text folder's setcom.ini may be rewritten: the folder was found at
// start-up to be one nobody else can change, and the file is the user's own.
bool rewritable(const QString &here)
{
    return app().AppDirChecked && OwnRegularFile(here);
}

// The setcom.ini that holds this user's port choice: the text folder's,
// unless that is not the user's to rewrite and the work folder holds a
// choice saved in its stead.
QString setcomPath()
{
    const QString here = pathOf("setcom.ini");
    const QString mine = ownSetcom();
    if (!mine.isEmpty() && LookAt(here).exists() && !rewritable(here) && OwnRegularFile(mine))
        return mine;
    return here;
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
    const QString path = setcomPath();
    if (!presentPath(path)) {
        s.ComPort = 1;
        s.ComBaud = QStringLiteral("9600");
        s.ComDataBits = QStringLiteral("8");
        s.ComParity = QStringLiteral("N");
        s.ComStopBits = QStringLiteral("1");
        return;
    }
    const auto text = readPath(path);
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

bool WriteSetcomIni(QString *file)
{
    const AppState &s = app();
    const QString here = pathOf("setcom.ini");
    if (file)
        *file = here;
    if (!LookAt(here).exists())
        return true; // never created, only replaced
    const bool inPlace = rewritable(here);
    const QString target = inPlace ? here : ownSetcom();
    if (file)
        *file = target;
    if (target.isEmpty())
        return false; // not ours, and no folder of our own to put it in
    QString out;
    for (const QString &v : {QString::number(s.ComPort), s.ComBaud, s.ComDataBits, s.ComParity,
                             s.ComStopBits}) {
        // A value the file cannot carry is refused rather than written damaged.
        if (v.contains(QLatin1Char('"')) || v.contains(QLatin1Char('\r'))
            || v.contains(QLatin1Char('\n')) || !EncodableIniText(v))
            return false;
        out += QLatin1Char('"') + v + QStringLiteral("\"\r\n");
    }
    // Written aside and renamed, so a full disk never leaves half a file; in
    // place only in the text folder, where it is closed to new files.
    return ReplaceFile(target, EncodeIniText(out), inPlace, nullptr);
}

bool FrhPresetComplete()
{
    const QStringList &table = app().FrhTable;
    const auto hexDigit = [](QChar c) { return TextConvert::hexDigit(c) >= 0; };
    for (int n = 0; n < AppState::RegisterCount; ++n) {
        const QString &v = table.at(n);
        if (v.size() != 2 || !hexDigit(v[0]) || !hexDigit(v[1]))
            return false;
    }
    return true;
}

QString WorkFolder()
{
    return app().WorkDir;
}

QString BackupFolder()
{
    return WorkFolder() + QStringLiteral("backups");
}

LoadedTextFiles LoadTextFiles(const QString &programDir)
{
    AppState &s = app();
    LoadedTextFiles loaded;
    loaded.files = ChooseTextFolder(programDir, qEnvironmentVariable("QML47210_FILES"));
    s.AppDir = loaded.files.folder;
    s.WorkDir = loaded.files.workFolder;
    s.AppDirChecked = loaded.files.folderChecked;
    loaded.language = ChooseLanguage(qEnvironmentVariable("QML47210_LANG"));
    s.ShippedTextDir = ShippedTextFolder(programDir, loaded.language);
    s.Language = loaded.language;
    ReadSetcomIni();
    ReadDispNameIni();
    ReadMessageIni();
    ReadFrhIni();
    ReadDebugIni();
    return loaded;
}
