// Reading a network plan: its sections and keys, each record value checked
// exactly as a configuration file checks it, and the network's own rules
// (one master, band and channel shared by all).
#include "protocol/NetworkPlan.h"

#include <QStringList>

namespace {

// One record key and value, through the configuration file's own reader.
std::optional<UnitRecord> recordValue(const QString &key, const QString &value, ConfigFileError *error)
{
    ConfigFileError inner;
    const auto one = ParseConfigText(QStringLiteral("[unit]\nformat = 1\n[record]\n%1 = %2\n").arg(key, value),
                                     &inner);
    if (!one && error)
        *error = {0, inner.message, inner.detail};
    return one ? std::optional<UnitRecord>(one->record) : std::nullopt;
}

} // namespace

QString NetworkNameKey(const QString &name)
{
    return name.normalized(QString::NormalizationForm_KC).toCaseFolded();
}

std::optional<NetworkPlan> ParseNetworkPlan(const QString &text, ConfigFileError *error)
{
    using namespace ConfigMessages;
    NetworkPlan plan;
    NetworkUnit *unit = nullptr; // the [node] section being read
    bool inNetwork = false, haveFormat = false;
    QStringList sections, keys;
    int lineNo = 0;
    const auto fail = [&](int message, const QString &detail) {
        if (error)
            *error = ConfigFileError{lineNo, message, detail};
        return std::nullopt;
    };
    for (QString raw : text.split(QLatin1Char('\n'))) {
        ++lineNo;
        QString l = raw.trimmed();
        for (int i = 1; i < l.size(); ++i) { // a blank and # or ; begin a comment
            if ((l[i] == u'#' || l[i] == u';') && l[i - 1].isSpace()) {
                l = l.left(i).trimmed();
                break;
            }
        }
        if (l.isEmpty() || l.startsWith(QLatin1Char('#')) || l.startsWith(QLatin1Char(';')))
            continue;
        if (l.startsWith(QLatin1Char('['))) {
            if (!l.endsWith(QLatin1Char(']')))
                return fail(NotKeyValue, l);
            const QString inside = l.mid(1, l.size() - 2).simplified();
            const QString kind = inside.section(QLatin1Char(' '), 0, 0).toLower();
            const QString name = inside.section(QLatin1Char(' '), 1);
            if (kind == QLatin1String("network") && name.isEmpty()) {
                unit = nullptr;
                inNetwork = true;
            } else if (kind == QLatin1String("node") && name.contains(QLatin1Char(']'))) {
                return fail(NetworkMessages::BracketInName, l);
            } else if (kind == QLatin1String("node") && !name.isEmpty()) {
                plan.units.append(NetworkUnit{name, QString(), UnitRecord(), lineNo});
                unit = &plan.units.last();
                inNetwork = false;
            } else {
                return fail(UnknownSection, l);
            }
            const QString id = kind + QLatin1Char(' ') + NetworkNameKey(name);
            if (sections.contains(id))
                return fail(Twice, l);
            sections << id;
            continue;
        }
        const int eq = l.indexOf(QLatin1Char('='));
        if (eq <= 0)
            return fail(NotKeyValue, l);
        if (!inNetwork && !unit)
            return fail(OutsideSection, l);
        const QString key = l.left(eq).trimmed().toLower();
        const QString value = l.mid(eq + 1).trimmed();
        const QString id = QString::number(sections.size()) + QLatin1Char('.') + key;
        if (keys.contains(id))
            return fail(Twice, key);
        keys << id;
        if (inNetwork && key == QLatin1String("format")) {
            if (value != QString::number(ConfigFormatVersion))
                return fail(BadValue, l);
            haveFormat = true;
            continue;
        }
        // The site the site book files the plan's entries under.
        if (inNetwork && key == QLatin1String("site")) {
            plan.site = value;
            continue;
        }
        if (unit && key == QLatin1String("port")) {
            unit->port = value;
            continue;
        }
        if (unit && (key == QLatin1String("band") || key == QLatin1String("channel")))
            return fail(NetworkMessages::NetworkField, key);
        if (inNetwork && key == QLatin1String("type"))
            return fail(UnknownKey, key); // each unit has its own role
        ConfigFileError valueError;
        const auto one = recordValue(key, value, &valueError);
        if (!one)
            return fail(valueError.message, valueError.detail);
        UnitRecord &into = unit ? unit->record : plan.shared;
        UnitRecord merged = *one;
        merged.fillFrom(into);
        into = merged;
    }
    lineNo = 0; // what follows is about the plan as a whole
    if (!haveFormat)
        return fail(NoFormat, QString());
    // Units that kept each their own would not hear each other.
    if (!plan.shared.band || !plan.shared.channel)
        return fail(NetworkMessages::NoBandChannel, QString());
    if (plan.units.isEmpty())
        return fail(NetworkMessages::NoUnits, QString());
    QStringList masters;
    for (NetworkUnit &u : plan.units) {
        if (!u.record.lists[0]) {
            lineNo = u.line;
            return fail(UnknownKey, QStringLiteral("type"));
        }
        if (*u.record.lists[0] == QLatin1Char('0'))
            masters << u.name;
        u.record.fillFrom(plan.shared);
    }
    if (masters.size() != 1)
        return fail(masters.isEmpty() ? NetworkMessages::NoMaster : NetworkMessages::TwoMasters,
                    masters.join(QStringLiteral(", ")));
    return plan;
}

std::optional<NetworkPlan> ReadNetworkPlan(const QString &path, ConfigFileError *error)
{
    const auto text = ReadConfigFileText(path, error);
    return text ? ParseNetworkPlan(*text, error) : std::nullopt;
}

QString SetUnitPortInPlan(const QString &text, const QString &unitName, const QString &port)
{
    QStringList lines = text.split(QLatin1Char('\n'));
    int header = -1;
    for (int i = 0; i < lines.size(); ++i) {
        const QString l = lines.at(i).trimmed();
        const bool section = l.startsWith(QLatin1Char('['));
        if (section && header >= 0) {
            break; // the unit's section ended without a port
        }
        if (section) {
            const QString inside = l.mid(1, l.indexOf(QLatin1Char(']')) - 1).simplified();
            if (inside.section(QLatin1Char(' '), 0, 0).toLower() == QLatin1String("node")
                && NetworkNameKey(inside.section(QLatin1Char(' '), 1)) == NetworkNameKey(unitName))
                header = i;
            continue;
        }
        if (header >= 0 && l.section(QLatin1Char('='), 0, 0).trimmed().toLower() == QLatin1String("port")) {
            if (port.isEmpty())
                lines.removeAt(i);
            else
                lines[i] = QStringLiteral("port = ") + port;
            return lines.join(QLatin1Char('\n'));
        }
    }
    if (header < 0 || port.isEmpty())
        return text;
    lines.insert(header + 1, QStringLiteral("port = ") + port);
    return lines.join(QLatin1Char('\n'));
}
