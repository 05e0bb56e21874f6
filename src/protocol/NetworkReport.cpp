// A network run's report: each unit's result as its run printed it, the
// check across the units, the run's one outcome, and the report as JSON and
// CSV.
#include "protocol/NetworkReport.h"

#include "core/AppState.h"
#include "protocol/NetworkPlan.h"

#include <QCryptographicHash>
#include <QJsonDocument>
#include <QMap>
#include <QRegularExpression>

namespace {

const char *const StateNames[] = {"waiting", "running", "verified", "differs", "failed", "stopped"};
// Exit codes, the most serious first.
constexpr int SeverityOrder[] = {2, 3, 4, 8, 5, 1, 6, 130, 143, 0};

// A record as "band=2 channel=11 type=master ...", for the CSV.
QString recordLine(const QJsonObject &record)
{
    QStringList fields;
    for (const QString &key : {QStringLiteral("band"), QStringLiteral("channel"), QStringLiteral("type"),
                               QStringLiteral("antenna"), QStringLiteral("bit-rate"),
                               QStringLiteral("data-length"), QStringLiteral("parity"),
                               QStringLiteral("stop-bits"), QStringLiteral("flow")})
        if (record.contains(key))
            fields << key + QLatin1Char('=') + record.value(key).toVariant().toString();
    const QJsonObject raw = record.value(QStringLiteral("raw")).toObject();
    for (auto it = raw.begin(); it != raw.end(); ++it)
        fields << it.key() + QStringLiteral("=raw ") + it.value().toString();
    return fields.join(QLatin1Char(' '));
}

QJsonObject unitJson(const NetworkUnitResult &u)
{
    QJsonObject o{{QStringLiteral("name"), u.name},
                       {QStringLiteral("port"), u.port},
                       {QStringLiteral("role"), u.role},
                       {QStringLiteral("device"), u.device},
                       {QStringLiteral("version"), u.version},
                       {QStringLiteral("result"), NetworkUnitResult::stateName(u.state)},
                       {QStringLiteral("at"), u.at.toString(Qt::ISODateWithMs)},
                       {QStringLiteral("exit"), u.exitCode},
                       {QStringLiteral("message"), u.message},
                       {QStringLiteral("reason"), u.reason},
                       {QStringLiteral("before"), u.before},
                       {QStringLiteral("after"), u.after},
                       {QStringLiteral("differences"), u.differences},
                       {QStringLiteral("writes"), u.writes},
                       {QStringLiteral("backup"), u.backup},
                       {QStringLiteral("backups"), QJsonArray::fromStringList(u.backups)}};
    if (!u.siteBook.isEmpty())
        o.insert(QStringLiteral("site_book"), u.siteBook);
    return o;
}

// The summary's word for an outcome, by its exit code.
int summaryWord(int code, bool compare)
{
    switch (code) {
    case 0: return compare ? NetworkMessages::VerifiedWord + 8 : NetworkMessages::VerifiedWord;
    case 6: return NetworkMessages::VerifiedWord + 1;
    case 3: return NetworkMessages::VerifiedWord + 2;
    case 4: return NetworkMessages::VerifiedWord + 3;
    case 8: return NetworkMessages::VerifiedWord + 4;
    case 5: return NetworkMessages::VerifiedWord + 5;
    case 130:
    case 143: return NetworkMessages::VerifiedWord + 7;
    default: return NetworkMessages::VerifiedWord + 6;
    }
}

// A unit's outcome as an exit code: its run's, a stop or a wait as its own.
int unitCode(const NetworkUnitResult &u)
{
    if (u.state == NetworkUnitResult::Verified)
        return 0;
    if (u.state == NetworkUnitResult::Differs)
        return 6;
    const bool stop = u.reason == QLatin1String("cancelled") || u.reason == QLatin1String("skipped");
    if (u.state == NetworkUnitResult::Stopped && stop && u.exitCode != 130 && u.exitCode != 143)
        return 130;
    return u.exitCode > 0 ? u.exitCode : 1;
}

} // namespace

int ExitSeverity(int code)
{
    for (int rank = 0; rank < int(std::size(SeverityOrder)); ++rank)
        if (SeverityOrder[rank] == code)
            return rank;
    return ExitSeverity(1);
}

bool HoldsRecordOf(const UnitRecord &holds, const QJsonObject &after)
{
    QMap<QString, QString> written, held;
    for (auto it = after.begin(); it != after.end(); ++it)
        if (it.key() != QLatin1String("raw"))
            written.insert(it.key(), it.value().toVariant().toString());
    const QJsonObject raw = after.value(QStringLiteral("raw")).toObject();
    for (auto it = raw.begin(); it != raw.end(); ++it)
        written.insert(it.key(), QStringLiteral("raw ") + it.value().toString());
    for (const auto &[key, value] : RecordFields(holds))
        held.insert(key, value);
    return !written.isEmpty() && written == held;
}

QString PlanDigest(const QString &planText)
{
    static const QRegularExpression port(QStringLiteral("^\\s*port\\s*="), QRegularExpression::CaseInsensitiveOption);
    QByteArray kept;
    for (QString line : planText.split(QLatin1Char('\n'))) {
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
        if (!port.match(line).hasMatch())
            kept += line.toUtf8() + '\n';
    }
    return QString::fromLatin1(QCryptographicHash::hash(kept, QCryptographicHash::Sha256).toHex());
}

void NetworkUnitResult::takeResult(const QJsonObject &o)
{
    exitCode = o.value(QStringLiteral("exit")).toInt(1);
    device = o.value(QStringLiteral("device")).toString();
    version = o.value(QStringLiteral("version")).toString();
    before = o.value(QStringLiteral("before")).toObject();
    after = o.value(QStringLiteral("after")).toObject();
    differences = o.value(QStringLiteral("differences")).toArray();
    writes = o.value(QStringLiteral("writes")).toArray();
    backup = o.value(QStringLiteral("backup")).toString();
    backups = backup.isEmpty() ? QStringList() : QStringList{backup};
    reason = o.value(QStringLiteral("reason")).toString();
    message = o.value(QStringLiteral("message")).toString();
    siteBook = o.value(QStringLiteral("site_book")).toObject();
    at = QDateTime::currentDateTime();
    state = exitCode == 0 ? Verified
        : exitCode == 6   ? Differs
        : StoppedPartWay(o) ? Stopped
                          : Failed;
}

void NetworkUnitResult::redoneAs(NetworkUnitResult later)
{
    QStringList all = backups;
    for (const QString &b : std::as_const(later.backups))
        if (!all.contains(b))
            all << b;
    later.name = name;
    later.role = role;
    if (!backup.isEmpty())
        later.backup = backup;
    if (!before.isEmpty())
        later.before = before;
    later.backups = all;
    *this = later;
}

void NetworkUnitResult::overwrittenBy(const QString &other)
{
    state = Failed;
    exitCode = 1;
    reason = QStringLiteral("set-up-again");
    message = app().message(NetworkMessages::SetUpAgainAs).arg(other);
    after = QJsonObject(); // held by no unit now: not counted across the units
}

QString NetworkUnitResult::stateName(State state)
{
    return QLatin1String(StateNames[state]);
}

void NetworkReport::checkAcrossUnits()
{
    disagreements.clear();
    disagreementDetails.clear();
    // What each unit that answered holds, whatever became of its run.
    QMap<QString, QStringList> bands, channels;
    QStringList masters;
    for (const NetworkUnitResult &u : std::as_const(units)) {
        if (u.after.isEmpty())
            continue;
        bands[u.after.value(QStringLiteral("band")).toVariant().toString()] << u.name;
        channels[u.after.value(QStringLiteral("channel")).toVariant().toString()] << u.name;
        if (u.after.value(QStringLiteral("type")).toString() == QLatin1String("master"))
            masters << u.name;
    }
    if (bands.isEmpty())
        return;
    const auto spread = [](const QMap<QString, QStringList> &by) {
        QStringList parts;
        for (auto it = by.begin(); it != by.end(); ++it)
            parts << it.key() + QStringLiteral(": ") + it.value().join(QStringLiteral(", "));
        return parts.join(QStringLiteral("; "));
    };
    if (bands.size() > 1) {
        disagreements << NetworkMessages::BandsDiffer;
        disagreementDetails << spread(bands);
    }
    if (channels.size() > 1) {
        disagreements << NetworkMessages::ChannelsDiffer;
        disagreementDetails << spread(channels);
    }
    if (masters.size() != 1) {
        disagreements << NetworkMessages::NotOneMaster;
        disagreementDetails << masters.join(QStringLiteral(", "));
    }
}

int NetworkReport::exitCode() const
{
    int worst = disagreements.isEmpty() ? 0 : 6;
    for (const NetworkUnitResult &u : units)
        if (ExitSeverity(unitCode(u)) < ExitSeverity(worst))
            worst = unitCode(u);
    return worst;
}

QString NetworkReport::summary() const
{
    int counts[std::size(SeverityOrder)] = {};
    int waiting = 0; // not run: a unit set up by hand leaves the rest so
    for (const NetworkUnitResult &u : units)
        u.state == NetworkUnitResult::Waiting ? ++waiting : ++counts[ExitSeverity(unitCode(u))];
    QStringList parts;
    for (int rank = int(std::size(SeverityOrder)) - 1; rank >= 0; --rank) // verified first
        if (counts[rank])
            parts << QStringLiteral("%1 %2").arg(counts[rank]).arg(
                app().message(summaryWord(SeverityOrder[rank], compare)));
    if (waiting)
        parts << QStringLiteral("%1 %2").arg(waiting).arg(app().dispName(NetworkMessages::WaitingCaption));
    return app().message(NetworkMessages::Units).arg(units.size()) + QLatin1Char(' ')
        + parts.join(QStringLiteral(", "));
}

int NetworkReport::indexOf(const QString &name) const
{
    for (int i = 0; i < units.size(); ++i)
        if (NetworkNameKey(units.at(i).name) == NetworkNameKey(name))
            return i;
    return -1;
}

QByteArray NetworkReport::toJson() const
{
    QJsonArray list, across;
    for (const NetworkUnitResult &u : units)
        list.append(unitJson(u));
    for (int i = 0; i < disagreements.size(); ++i)
        across.append(app().message(disagreements.at(i))
                      + (disagreementDetails.value(i).isEmpty() ? QString()
                                                                 : QStringLiteral(" (") + disagreementDetails.at(i)
                                                                       + QLatin1Char(')')));
    return QJsonDocument(QJsonObject{{QStringLiteral("started"), started.toString(Qt::ISODateWithMs)},
                                     {QStringLiteral("finished"), finished.toString(Qt::ISODateWithMs)},
                                     {QStringLiteral("plan"), plan},
                                     {QStringLiteral("plan_sha256"), planSha256},
                                     {QStringLiteral("completes"), completes},
                                     {QStringLiteral("compare"), compare},
                                     {QStringLiteral("units"), list},
                                     {QStringLiteral("disagreements"), across},
                                     {QStringLiteral("summary"), summary()},
                                     {QStringLiteral("exit"), exitCode()}})
        .toJson(QJsonDocument::Indented);
}

QString CsvField(QString text)
{
    // A spreadsheet would run a cell that begins so as a formula.
    static const QRegularExpression formula(QStringLiteral("^[=+\\-@\\t\\r]"));
    if (formula.match(text).hasMatch())
        text.prepend(QLatin1Char('\''));
    if (text.contains(QLatin1Char(',')) || text.contains(QLatin1Char('"'))
        || text.contains(QLatin1Char('\n')) || text.contains(QLatin1Char('\r')))
        text = QLatin1Char('"') + text.replace(QLatin1Char('"'), QStringLiteral("\"\"")) + QLatin1Char('"');
    return text;
}

QByteArray NetworkReport::toCsv() const
{
    QStringList lines{QStringLiteral("time,plan,unit,port,device,version,before,after,result,reason,"
                                     "differences,backup,backups")};
    for (const NetworkUnitResult &u : units) {
        QStringList differences;
        for (const QJsonValue &d : u.differences) {
            const QJsonObject o = d.toObject();
            differences << QStringLiteral("%1: %2 -> %3")
                               .arg(o.value(QStringLiteral("what")).toString(),
                                    o.value(QStringLiteral("meant")).toString(),
                                    o.value(QStringLiteral("holds")).toString());
        }
        const QStringList fields{(u.at.isValid() ? u.at : finished).toString(Qt::ISODate), plan, u.name,
                                 u.port, u.device, u.version, recordLine(u.before), recordLine(u.after),
                                 NetworkUnitResult::stateName(u.state), u.message,
                                 differences.join(QStringLiteral("; ")), u.backup,
                                 u.backups.join(QStringLiteral("; "))};
        QStringList quoted;
        for (const QString &f : fields)
            quoted << CsvField(f);
        lines << quoted.join(QLatin1Char(','));
    }
    return (lines.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n")).toUtf8();
}

std::optional<NetworkReport> NetworkReport::fromJson(const QByteArray &json)
{
    const QJsonDocument doc = QJsonDocument::fromJson(json);
    if (!doc.isObject())
        return std::nullopt;
    const QJsonObject o = doc.object();
    NetworkReport r;
    r.started = QDateTime::fromString(o.value(QStringLiteral("started")).toString(), Qt::ISODateWithMs);
    r.finished = QDateTime::fromString(o.value(QStringLiteral("finished")).toString(), Qt::ISODateWithMs);
    r.plan = o.value(QStringLiteral("plan")).toString();
    r.planSha256 = o.value(QStringLiteral("plan_sha256")).toString();
    r.completes = o.value(QStringLiteral("completes")).toString();
    r.compare = o.value(QStringLiteral("compare")).toBool();
    for (const QJsonValue &v : o.value(QStringLiteral("units")).toArray()) {
        const QJsonObject j = v.toObject();
        NetworkUnitResult u;
        u.name = j.value(QStringLiteral("name")).toString();
        u.port = j.value(QStringLiteral("port")).toString();
        u.role = j.value(QStringLiteral("role")).toString();
        u.device = j.value(QStringLiteral("device")).toString();
        u.version = j.value(QStringLiteral("version")).toString();
        const QString result = j.value(QStringLiteral("result")).toString();
        u.state = NetworkUnitResult::Failed;
        for (int s = 0; s <= NetworkUnitResult::Stopped; ++s)
            if (result == QLatin1String(StateNames[s]))
                u.state = NetworkUnitResult::State(s);
        u.at = QDateTime::fromString(j.value(QStringLiteral("at")).toString(), Qt::ISODateWithMs);
        u.exitCode = j.value(QStringLiteral("exit")).toInt(-1);
        u.message = j.value(QStringLiteral("message")).toString();
        u.reason = j.value(QStringLiteral("reason")).toString();
        u.before = j.value(QStringLiteral("before")).toObject();
        u.after = j.value(QStringLiteral("after")).toObject();
        u.differences = j.value(QStringLiteral("differences")).toArray();
        u.writes = j.value(QStringLiteral("writes")).toArray();
        u.backup = j.value(QStringLiteral("backup")).toString();
        for (const QJsonValue &b : j.value(QStringLiteral("backups")).toArray())
            u.backups << b.toString();
        if (u.backups.isEmpty() && !u.backup.isEmpty()) // kept before there were several
            u.backups << u.backup;
        r.units << u;
    }
    r.checkAcrossUnits();
    return r;
}
