// The unit's configuration as the program holds it: the record, its fields
// and their names, the registers, and where the record and its registers
// disagree.
#include "protocol/UnitConfig.h"

#include "core/AppState.h"
#include "protocol/RegisterMap.h"

#include <algorithm>

const QStringList &RecordItemNames(int list)
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

namespace {
const QStringList &recordKeys()
{
    static const QStringList keys{QStringLiteral("type"),        QStringLiteral("antenna"),
                                  QStringLiteral("bit-rate"),    QStringLiteral("data-length"),
                                  QStringLiteral("parity"),      QStringLiteral("stop-bits"),
                                  QStringLiteral("flow")};
    return keys;
}
} // namespace

int RecordListOfKey(const QString &key)
{
    return int(recordKeys().indexOf(key));
}

int RecordPosition(QChar c)
{
    if (c >= u'0' && c <= u'9')
        return c.unicode() - '0';
    if (c >= u'A' && c <= u'F')
        return c.unicode() - 'A' + 10;
    return -1;
}

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

std::optional<UnitRecord> UnitRecord::fromText(const QString &text)
{
    // Positions in either case, as the window takes them; kept upper case.
    const QString ten = text.toUpper();
    if (ten.size() != 10 || ten[0] < u'0' || ten[0] > u'4')
        return std::nullopt;
    const int hi = RecordPosition(ten[1]), lo = RecordPosition(ten[2]);
    if (hi < 0 || lo < 0 || hi * 16 + lo > 23)
        return std::nullopt;
    UnitRecord r;
    r.band = ten[0];
    r.channel = hi * 16 + lo;
    for (int i = 0; i < Lists; ++i) {
        if (RecordPosition(ten[3 + i]) < 0)
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
    const int p = RecordPosition(position);
    const QStringList &names = RecordItemNames(list);
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

namespace {
// The band or channel a record field and its register stand for; a register
// value that stands for none is a disagreement.
struct Mirror {
    const char *field;
    std::optional<int> meant;
    int reg;
    std::optional<int> held;
};

QList<Mirror> mirrors(const UnitConfig &config)
{
    const UnitRecord &r = config.record;
    return {{"band", r.band ? std::optional<int>(r.band->digitValue()) : std::nullopt, BandRegister,
             BandOfRegister(config.registers[BandRegister].value_or(QString()))},
            {"channel", r.channel, ChannelRegister,
             ChannelOfRegister(config.registers[ChannelRegister].value_or(QString()))}};
}
} // namespace

bool MirrorsDisagree(const UnitConfig &config)
{
    for (const Mirror &m : mirrors(config))
        if (m.meant && config.registers[size_t(m.reg)] && m.held != m.meant)
            return true;
    return false;
}

std::optional<ConfigFileError> MirrorConflict(const UnitConfig &config)
{
    if (config.mirrorsAsHeld)
        return std::nullopt;
    const AppState &s = app();
    const auto at = [&](const QString &key) {
        return QStringLiteral("(%1 %2)").arg(s.message(ConfigMessages::Line)).arg(config.lines.value(key));
    };
    for (const Mirror &m : mirrors(config)) {
        const auto &value = config.registers[size_t(m.reg)];
        if (!m.meant || !value || m.held == m.meant)
            continue;
        const QString name = QLatin1String(m.field);
        const QString regKey = QStringLiteral("%1").arg(m.reg, 2, 10, QLatin1Char('0'));
        return ConfigFileError{
            0, ConfigMessages::Disagree,
            QStringLiteral("%1 = %2 %3, %4 %5 = %6 %7")
                .arg(name, QString::number(*m.meant), at(QStringLiteral("record.") + name),
                     s.message(ConfigMessages::Register), regKey, RegisterValueText(*value),
                     at(QStringLiteral("registers.") + regKey))};
    }
    return std::nullopt;
}
