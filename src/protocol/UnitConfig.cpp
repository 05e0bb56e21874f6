#include "protocol/UnitConfig.h"

#include "config/FieldReader.h"
#include "config/FileSafety.h"
#include "core/AppState.h"

#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>

#include <algorithm>

namespace {

const QStringList &listNames(int list)
{
    static const QList<QStringList> names{
        {QStringLiteral("master"), QStringLiteral("slave")},
        {QStringLiteral("single"), QStringLiteral("diversity")},
        {QStringLiteral("2400"), QStringLiteral("4800"), QStringLiteral("9600"),
         QStringLiteral("19200"), QStringLiteral("38400"), QStringLiteral("57600"),
         QStringLiteral("115200")},
        {QStringLiteral("7"), QStringLiteral("8")},
        {QStringLiteral("none"), QStringLiteral("even"), QStringLiteral("odd")},
        {QStringLiteral("1"), QStringLiteral("2")},
        {QStringLiteral("none"), QStringLiteral("rts-cts")},
    };
    return names.at(list);
}

const QStringList &recordKeys()
{
    static const QStringList keys{QStringLiteral("type"),        QStringLiteral("antenna"),
                                  QStringLiteral("bit-rate"),    QStringLiteral("data-length"),
                                  QStringLiteral("parity"),      QStringLiteral("stop-bits"),
                                  QStringLiteral("flow")};
    return keys;
}

int hexValue(QChar c)
{
    if (c >= u'0' && c <= u'9')
        return c.unicode() - '0';
    if (c >= u'A' && c <= u'F')
        return c.unicode() - 'A' + 10;
    return -1;
}

bool isRegisterValue(const QString &v)
{
    return v.size() == 2 && std::all_of(v.begin(), v.end(), [](QChar c) {
               return hexValue(c) >= 0 || c == u'.';
           });
}

} // namespace

bool UnitRecord::isEmpty() const
{
    return !band && !channel
        && std::none_of(lists.begin(), lists.end(), [](const auto &l) { return l.has_value(); });
}

bool UnitRecord::isComplete() const
{
    return band && channel
        && std::all_of(lists.begin(), lists.end(), [](const auto &l) { return l.has_value(); });
}

QString UnitRecord::text() const
{
    QString t = QString(*band) + QStringLiteral("%1").arg(*channel, 2, 16, QLatin1Char('0')).toUpper();
    for (const auto &l : lists)
        t += *l;
    return t;
}

std::optional<UnitRecord> UnitRecord::fromText(const QString &ten)
{
    if (ten.size() != 10 || ten[0] < u'0' || ten[0] > u'4')
        return std::nullopt;
    const int hi = hexValue(ten[1]), lo = hexValue(ten[2]);
    if (hi < 0 || lo < 0 || hi * 16 + lo > 23)
        return std::nullopt;
    UnitRecord r;
    r.band = ten[0];
    r.channel = hi * 16 + lo;
    for (int i = 0; i < Lists; ++i) {
        if (hexValue(ten[3 + i]) < 0)
            return std::nullopt;
        r.lists[size_t(i)] = ten[3 + i];
    }
    return r;
}

void UnitRecord::fillFrom(const UnitRecord &unit)
{
    if (!band)
        band = unit.band;
    if (!channel)
        channel = unit.channel;
    for (int i = 0; i < Lists; ++i)
        if (!lists[size_t(i)])
            lists[size_t(i)] = unit.lists[size_t(i)];
}

int UnitConfig::registerCount() const
{
    return int(std::count_if(registers.begin(), registers.end(),
                             [](const auto &r) { return r.has_value(); }));
}

QString RecordKey(int list)
{
    return recordKeys().value(list);
}

QString RecordItemName(int list, QChar position)
{
    const int p = hexValue(position);
    const QStringList &names = listNames(list);
    return p >= 0 && p < names.size() ? names.at(p) : QStringLiteral("raw ") + position;
}

QList<QPair<QString, QString>> RecordFields(const UnitRecord &r)
{
    QList<QPair<QString, QString>> fields;
    if (r.band)
        fields.append({QStringLiteral("band"), QString(*r.band)});
    if (r.channel)
        fields.append({QStringLiteral("channel"), QString::number(*r.channel)});
    for (int i = 0; i < UnitRecord::Lists; ++i)
        if (const auto &l = r.lists[size_t(i)])
            fields.append({RecordKey(i), RecordItemName(i, *l)});
    return fields;
}

QString ConfigFileError::describe() const
{
    const QString what = app().message(message) + (detail.isEmpty() ? QString() : QStringLiteral(": ") + detail);
    return line > 0 ? QStringLiteral("%1 %2: %3").arg(app().message(ConfigMessages::BadFile)).arg(line).arg(what)
                    : app().message(ConfigMessages::BadFile) + QLatin1Char(' ') + what;
}

QString WriteConfigText(const UnitConfig &config, const QString &port, const QDateTime &when)
{
    QString out;
    const auto line = [&out](const QString &key, const QString &value, const QString &note = {}) {
        QString l = key.leftJustified(12) + QStringLiteral("= ") + value;
        if (!note.isEmpty())
            l = l.leftJustified(28) + QStringLiteral("# ") + note;
        out += l + QLatin1Char('\n');
    };
    out += QStringLiteral("# QML47210 unit configuration. Change values, keep the keys; a line\n"
                          "# starting with # is a comment. Applying writes only the sections\n"
                          "# present; a record lacking fields takes them from the unit.\n"
                          "[unit]\n");
    line(QStringLiteral("format"), QString::number(ConfigFormatVersion));
    if (!config.version.isEmpty())
        line(QStringLiteral("version"), config.version);
    line(QStringLiteral("saved"), when.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
    if (!port.isEmpty())
        line(QStringLiteral("port"), port);
    const UnitRecord &r = config.record;
    if (!r.isEmpty()) {
        out += QStringLiteral("\n[record]\n");
        if (r.band)
            line(QStringLiteral("band"), *r.band, QStringLiteral("0 to 4"));
        if (r.channel)
            line(QStringLiteral("channel"), QString::number(*r.channel), QStringLiteral("0 to 23"));
        for (int i = 0; i < UnitRecord::Lists; ++i)
            if (const auto &l = r.lists[size_t(i)])
                line(RecordKey(i), RecordItemName(i, *l), listNames(i).join(QStringLiteral(" | ")));
    }
    if (config.registerCount() > 0) {
        out += QStringLiteral("\n[registers]\n");
        for (int n = 0; n < UnitConfig::Registers; ++n)
            if (const auto &v = config.registers[size_t(n)])
                out += QStringLiteral("%1 = %2\n").arg(n, 2, 10, QLatin1Char('0')).arg(*v);
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

        if (section == QLatin1String("unit")) {
            if (key == QLatin1String("format")) {
                if (value != QString::number(ConfigFormatVersion))
                    return fail(BadValue, raw.trimmed());
                haveFormat = true;
            } else if (key == QLatin1String("version")) {
                config.version = value;
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
                const int list = recordKeys().indexOf(key);
                if (list < 0)
                    return fail(UnknownKey, key);
                const QString v = value.toLower();
                const int item = listNames(list).indexOf(v);
                if (item >= 0) {
                    r.lists[size_t(list)] = QChar(u'0' + item);
                } else if (v.startsWith(QLatin1String("raw ")) && v.size() == 5
                           && hexValue(value.back().toUpper()) >= 0) {
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
            const QString v = value.toUpper();
            if (!isRegisterValue(v))
                return fail(BadValue, raw.trimmed());
            config.registers[size_t(n)] = v;
        }
    }
    lineNo = 0;
    if (!haveFormat)
        return fail(NoFormat, QString());
    return config;
}

std::optional<UnitConfig> ReadConfigFile(const QString &path, ConfigFileError *error)
{
    using namespace ConfigMessages;
    const auto fail = [&](int message, const QString &detail) {
        if (error)
            *error = ConfigFileError{0, message, detail};
        return std::nullopt;
    };
    // Regular files only: a FIFO or a device could block the open for good.
    const auto read = ReadRegularFile(path, ConfigFileLimit + 1);
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
    return ParseConfigText(text, error);
}

bool WriteConfigFile(const QString &path, const QString &text, bool fresh, QString *error)
{
    const QByteArray bytes = text.toUtf8();
    if (fresh) {
        QFile file;
        if (!CreateNewFile(file, path, InOwnFolder, error))
            return false;
        if (file.write(bytes) != bytes.size() || !file.flush()) {
            if (error)
                *error = file.errorString();
            file.close();
            QFile::remove(path); // ours: made new a moment ago
            return false;
        }
        return true;
    }
    return ReplaceFile(path, bytes, false, error);
}
