// The configuration file's format: writing a unit's configuration as text
// that reads back the same, reading one with a line-exact reason for what it
// refuses, and quoting what is not plain.
#include "protocol/UnitConfig.h"

#include "config/FieldReader.h"
#include "config/FileSafety.h"
#include "config/TextConvert.h"
#include "core/AppState.h"
#include "protocol/RegisterMap.h"

#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

// Characters a quoted text carries as they stand; the rest is written \xHH.
// No blank, # or ; either, so that a comment can never begin inside one.
bool carriedAsIs(QChar c)
{
    const char16_t u = c.unicode();
    return (u > 0x20 && u < 0x7F && u != u'"' && u != u'\\' && u != u'#' && u != u';') || u > 0xA0;
}

QString quoted(const QString &text)
{
    QString out = QStringLiteral("\"");
    for (const QChar c : text) {
        if (carriedAsIs(c) || c.unicode() > 0xFF)
            out += c;
        else
            out += QStringLiteral("\\x")
                + QString::number(c.unicode(), 16).rightJustified(2, u'0').toUpper();
    }
    return out + QLatin1Char('"');
}

bool isHexDigit(QChar c) { return TextConvert::hexDigit(c) >= 0; }

// The text of a quoted value, \xHH, \\ and \" taken back; nothing when it
// is not one.
std::optional<QString> unquoted(const QString &value)
{
    if (value.size() < 2 || value.front() != u'"' || value.back() != u'"')
        return std::nullopt;
    const QString body = value.mid(1, value.size() - 2);
    QString out;
    for (int i = 0; i < body.size(); ++i) {
        const QChar c = body[i];
        if (c == u'"')
            return std::nullopt;
        if (c != u'\\') {
            out += c;
            continue;
        }
        const QChar e = i + 1 < body.size() ? body[i + 1] : QChar();
        if (e == u'\\' || e == u'"') {
            out += e;
            ++i;
        } else if (e == u'x' && i + 3 < body.size() && isHexDigit(body[i + 2])
                   && isHexDigit(body[i + 3])) {
            out += QChar(body.mid(i + 2, 2).toInt(nullptr, 16));
            i += 3;
        } else {
            return std::nullopt;
        }
    }
    return out;
}

// A [unit] text (the version, the port) is written as it stands when the
// reader takes it back so; otherwise quoted.
QString unitText(const QString &text)
{
    const bool plain = !text.isEmpty() && !text.startsWith(QLatin1Char('"'))
        && text == text.trimmed()
        && std::all_of(text.begin(), text.end(), [](QChar c) {
               return c.unicode() >= 0x20 && c.unicode() != 0x7F
                   && !(c.unicode() >= 0x80 && c.unicode() <= 0xA0) && c != QChar::LineSeparator
                   && c != QChar::ParagraphSeparator;
           });
    return plain ? text : quoted(text);
}

} // namespace

bool IsPlainRegisterValue(const QString &v)
{
    return v.size() == 2 && std::all_of(v.begin(), v.end(), isHexDigit);
}

QString RegisterValueText(const QString &v)
{
    return IsPlainRegisterValue(v) ? v : QStringLiteral("raw ") + quoted(v);
}

bool SameRegisterValue(const QString &a, const QString &b)
{
    // Hexadecimal digits without regard to case (FRH10.ini may hold "1a"); a
    // raw value exactly.
    return IsPlainRegisterValue(a) && IsPlainRegisterValue(b)
        ? a.compare(b, Qt::CaseInsensitive) == 0
        : a == b;
}

QString ConfigFileError::describe() const
{
    const QString what = app().message(message) + (detail.isEmpty() ? QString() : QStringLiteral(": ") + detail);
    return line > 0 ? QStringLiteral("%1 %2 %3: %4")
                          .arg(app().message(ConfigMessages::BadFile), app().message(ConfigMessages::Line))
                          .arg(line)
                          .arg(what)
                    : app().message(ConfigMessages::BadFile) + QLatin1Char(' ') + what;
}

QString WriteConfigText(const UnitConfig &config, const QString &port, const QDateTime &when)
{
    QString out;
    const auto line = [&out](const QString &key, const QString &value, const QString &note = {}) {
        QString l = key.leftJustified(12) + QStringLiteral("= ") + value;
        if (!note.isEmpty()) // a blank before the #, however long the value
            l = l.leftJustified(27) + QStringLiteral(" # ") + note;
        out += l + QLatin1Char('\n');
    };
    out += QStringLiteral("# QML47210 unit configuration. Change values, keep the keys; a line\n"
                          "# starting with # is a comment. Applying writes only the sections\n"
                          "# present; a record lacking fields takes them from the unit.\n"
                          "# Band and channel are in the record and again in registers 27\n"
                          "# and 06: change both, or delete one of them.\n"
                          "[unit]\n");
    line(QStringLiteral("format"), QString::number(ConfigFormatVersion));
    if (!config.version.isEmpty())
        line(QStringLiteral("version"), unitText(config.version));
    line(QStringLiteral("saved"), when.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
    // A unit whose record and band or channel register disagree: kept so,
    // and applied so, to put back what it held.
    if (config.mirrorsAsHeld || MirrorsDisagree(config))
        line(QStringLiteral("mirrors"), QStringLiteral("as held"));
    if (!port.isEmpty())
        line(QStringLiteral("port"), unitText(port));
    const UnitRecord &r = config.record;
    if (!r.isEmpty()) {
        out += QStringLiteral("\n[record]\n");
        if (r.band)
            line(QStringLiteral("band"), *r.band, QStringLiteral("0 to 4"));
        if (r.channel)
            line(QStringLiteral("channel"), QString::number(*r.channel), QStringLiteral("0 to 23"));
        for (int i = 0; i < UnitRecord::Lists; ++i)
            if (const auto &l = r.lists[size_t(i)])
                line(RecordKey(i), RecordItemName(i, *l), RecordItemNames(i).join(QStringLiteral(" | ")));
    }
    if (config.registerCount() > 0) {
        QStringList codes;
        for (int band = 0; band <= 4; ++band)
            codes << BandRegisterValue(band);
        const QString bandCodes = codes.join(QLatin1Char(' '));
        out += QStringLiteral("\n[registers]\n");
        for (int n = 0; n < UnitConfig::Registers; ++n) {
            const auto &v = config.registers[size_t(n)];
            if (!v)
                continue;
            QString l = QStringLiteral("%1 = %2").arg(n, 2, 10, QLatin1Char('0')).arg(RegisterValueText(*v));
            if (n == ChannelRegister)
                l = l.leftJustified(15)
                    + QStringLiteral(" # mirrors channel: %1 + channel").arg(ChannelRegisterValue(0));
            else if (n == BandRegister)
                l = l.leftJustified(15) + QStringLiteral(" # mirrors band: %1 for bands 0 to 4").arg(bandCodes);
            out += l + QLatin1Char('\n');
        }
    }
    return out;
}

std::optional<UnitConfig> ParseConfigText(const QString &text, ConfigFileError *error)
{
    using namespace ConfigMessages;
    UnitConfig config;
    QString section;
    QStringList sectionsSeen, keysSeen;
    bool haveFormat = false;
    int lineNo = 0;
    const auto fail = [&](int message, const QString &detail) {
        if (error)
            *error = ConfigFileError{lineNo, message, detail};
        return std::nullopt;
    };
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (QString raw : lines) {
        ++lineNo;
        if (raw.endsWith(QLatin1Char('\r')))
            raw.chop(1);
        QString l = raw.trimmed();
        if (l.isEmpty() || l.startsWith(QLatin1Char('#')) || l.startsWith(QLatin1Char(';')))
            continue;
        // After a record or register value, a blank and # or ; begin a
        // comment. [unit] values (the version text) are taken as they stand.
        if (section != QLatin1String("unit") || l.startsWith(QLatin1Char('['))) {
            for (int i = 1; i < l.size(); ++i) {
                if ((l[i] == u'#' || l[i] == u';') && l[i - 1].isSpace()) {
                    l = l.left(i).trimmed();
                    break;
                }
            }
        }
        if (l.startsWith(QLatin1Char('['))) {
            if (!l.endsWith(QLatin1Char(']')))
                return fail(NotKeyValue, raw.trimmed());
            section = l.mid(1, l.size() - 2).trimmed().toLower();
            if (section != QLatin1String("unit") && section != QLatin1String("record")
                && section != QLatin1String("registers"))
                return fail(UnknownSection, l);
            if (sectionsSeen.contains(section))
                return fail(Twice, l);
            sectionsSeen << section;
            continue;
        }
        const int eq = l.indexOf(QLatin1Char('='));
        if (eq <= 0)
            return fail(NotKeyValue, raw.trimmed());
        if (section.isEmpty())
            return fail(OutsideSection, raw.trimmed());
        const QString key = l.left(eq).trimmed().toLower();
        const QString value = l.mid(eq + 1).trimmed();
        const QString qualified = section + QLatin1Char('.') + key;
        if (keysSeen.contains(qualified))
            return fail(Twice, key);
        keysSeen << qualified;
        config.lines.insert(qualified, lineNo);

        if (section == QLatin1String("unit")) {
            if (key == QLatin1String("format")) {
                if (value != QString::number(ConfigFormatVersion))
                    return fail(BadValue, raw.trimmed());
                haveFormat = true;
            } else if (key == QLatin1String("mirrors")) {
                if (value.toLower() != QLatin1String("as held"))
                    return fail(BadValue, raw.trimmed());
                config.mirrorsAsHeld = true;
            } else if (key == QLatin1String("version")) {
                if (!value.startsWith(QLatin1Char('"')))
                    config.version = value;
                else if (const auto text = unquoted(value))
                    config.version = *text;
                else
                    return fail(BadValue, raw.trimmed());
            } else if (key != QLatin1String("saved") && key != QLatin1String("port")) {
                return fail(UnknownKey, key);
            }
        } else if (section == QLatin1String("record")) {
            UnitRecord &r = config.record;
            if (key == QLatin1String("band")) {
                if (value.size() != 1 || value[0] < u'0' || value[0] > u'4')
                    return fail(BadValue, raw.trimmed());
                r.band = value[0];
            } else if (key == QLatin1String("channel")) {
                bool ok = false;
                const int c = value.toInt(&ok);
                if (!ok || c < 0 || c > 23 || value.startsWith(QLatin1Char('+')))
                    return fail(BadValue, raw.trimmed());
                r.channel = c;
            } else {
                const int list = RecordListOfKey(key);
                if (list < 0)
                    return fail(UnknownKey, key);
                const QString v = value.toLower();
                const int item = RecordItemNames(list).indexOf(v);
                if (item >= 0) {
                    r.lists[size_t(list)] = QChar(u'0' + item);
                } else if (v.startsWith(QLatin1String("raw ")) && v.size() == 5
                           && RecordPosition(value.back().toUpper()) >= 0) {
                    r.lists[size_t(list)] = value.back().toUpper();
                } else {
                    return fail(BadValue, raw.trimmed());
                }
            }
        } else {
            bool ok = false;
            const int n = key.toInt(&ok);
            if (key.size() != 2 || !ok || n < 0 || !key[0].isDigit())
                return fail(UnknownKey, key);
            if (n >= UnitConfig::Registers)
                return fail(NoRegister, key);
            // Two hexadecimal digits as they stand, or what a unit held that
            // they cannot carry: raw "G1", sent back exactly. Never a CR or
            // LF, which would end the command line.
            QString v = value;
            if (value.startsWith(QLatin1String("raw "), Qt::CaseInsensitive)) {
                const auto text = unquoted(value.mid(4).trimmed());
                if (!text || text->size() != 2 || text->contains(u'\r') || text->contains(u'\n'))
                    return fail(BadValue, raw.trimmed());
                v = *text;
            } else if (!IsPlainRegisterValue(v)) {
                return fail(BadValue, raw.trimmed());
            }
            config.registers[size_t(n)] = v;
        }
    }
    lineNo = 0;
    if (!haveFormat)
        return fail(NoFormat, QString());
    return config;
}

std::optional<QString> ReadConfigFileText(const QString &path, ConfigFileError *error)
{
    using namespace ConfigMessages;
    const auto fail = [&](int message, const QString &detail) {
        if (error)
            *error = ConfigFileError{0, message, detail};
        return std::nullopt;
    };
    // Regular files only: a FIFO or a device could block the open for good.
    // "-" is what a caller hands over on standard input.
    std::optional<QByteArray> read;
    if (path == QLatin1String("-")) {
        QFile in;
        if (in.open(stdin, QIODevice::ReadOnly))
            read = in.read(ConfigFileLimit + 1);
    } else {
        read = ReadRegularFile(path, ConfigFileLimit + 1);
    }
    if (!read)
        return fail(CannotRead, path);
    QByteArray bytes = *read;
    if (bytes.size() > ConfigFileLimit)
        return fail(TooLarge, path);
    if (bytes.startsWith("\xEF\xBB\xBF"))
        bytes.remove(0, 3);
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = utf8.decode(bytes);
    if (utf8.hasError() || bytes.contains('\0'))
        return fail(NotText, path);
    return text;
}

std::optional<UnitConfig> ReadConfigFile(const QString &path, ConfigFileError *error)
{
    const auto text = ReadConfigFileText(path, error);
    return text ? ParseConfigText(*text, error) : std::nullopt;
}

bool WriteConfigFile(const QString &path, const QString &text, WriteMode mode, QString *error,
                     bool *taken)
{
    const QByteArray bytes = text.toUtf8();
    if (mode != WriteMode::Replace) {
        QFile file;
        if (!CreateNewFile(file, path, mode == WriteMode::NewInOwnFolder ? InOwnFolder : 0, error,
                           taken))
            return false;
        if (file.write(bytes) != bytes.size() || !file.flush()) {
            // The system's own reason (a full disk, a file too large): Qt
            // has none for a file it was handed open.
            const int e = errno;
            if (error)
                *error = e ? QString::fromLocal8Bit(std::strerror(e)) : file.errorString();
            file.close();
            QFile::remove(path); // ours: made new a moment ago
            return false;
        }
        return true;
    }
    return ReplaceFile(path, bytes, false, error);
}
