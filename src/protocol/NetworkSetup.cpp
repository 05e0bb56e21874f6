// A network plan's set-up: a child process per unit, their results gathered
// into one report, and the check that the units agree with each other.
#include "protocol/NetworkSetup.h"

#include "core/AppState.h"
#include "protocol/TransferSteps.h"
#include "protocol/modWired.h"
#include "serial/CommControl.h"
#include "serial/Exchange.h"

#include <QJsonDocument>
#include <QProcess>

namespace {

const char *const StateNames[] = {"waiting", "running", "verified", "differs", "failed", "stopped"};

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

QString csvField(QString text)
{
    if (text.contains(QLatin1Char(',')) || text.contains(QLatin1Char('"'))
        || text.contains(QLatin1Char('\n')) || text.contains(QLatin1Char('\r')))
        text = QLatin1Char('"') + text.replace(QLatin1Char('"'), QStringLiteral("\"\"")) + QLatin1Char('"');
    return text;
}

QJsonObject unitJson(const NetworkUnitResult &u)
{
    return QJsonObject{{QStringLiteral("name"), u.name},
                       {QStringLiteral("port"), u.port},
                       {QStringLiteral("role"), u.role},
                       {QStringLiteral("device"), u.device},
                       {QStringLiteral("version"), u.version},
                       {QStringLiteral("result"), NetworkUnitResult::stateName(u.state)},
                       {QStringLiteral("exit"), u.exitCode},
                       {QStringLiteral("message"), u.message},
                       {QStringLiteral("reason"), u.reason},
                       {QStringLiteral("before"), u.before},
                       {QStringLiteral("after"), u.after},
                       {QStringLiteral("differences"), u.differences},
                       {QStringLiteral("writes"), u.writes},
                       {QStringLiteral("backup"), u.backup}};
}

} // namespace

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
    reason = o.value(QStringLiteral("reason")).toString();
    message = o.value(QStringLiteral("message")).toString();
    state = exitCode == 0 ? Verified
        : exitCode == 6   ? Differs
        : StoppedPartWay(o) ? Stopped
                          : Failed;
}

QString NetworkUnitResult::stateName(State state)
{
    return QLatin1String(StateNames[state]);
}

void NetworkReport::checkAcrossUnits()
{
    disagreements.clear();
    QSet<QString> bands, channels;
    int masters = 0, verified = 0;
    for (const NetworkUnitResult &u : units) {
        if (u.state != NetworkUnitResult::Verified)
            continue;
        ++verified;
        bands << u.after.value(QStringLiteral("band")).toVariant().toString();
        channels << u.after.value(QStringLiteral("channel")).toVariant().toString();
        masters += u.after.value(QStringLiteral("type")).toString() == QLatin1String("master");
    }
    if (!verified)
        return;
    if (bands.size() > 1)
        disagreements << NetworkMessages::BandsDiffer;
    if (channels.size() > 1)
        disagreements << NetworkMessages::ChannelsDiffer;
    if (masters != 1)
        disagreements << NetworkMessages::NotOneMaster;
}

int NetworkReport::exitCode() const
{
    for (const NetworkUnitResult &u : units)
        if (u.state != NetworkUnitResult::Verified)
            return u.exitCode > 0 ? u.exitCode : 1;
    return disagreements.isEmpty() ? 0 : 6;
}

QByteArray NetworkReport::toJson() const
{
    QJsonArray list, across;
    for (const NetworkUnitResult &u : units)
        list.append(unitJson(u));
    for (int m : disagreements)
        across.append(app().message(m));
    return QJsonDocument(QJsonObject{{QStringLiteral("started"), started.toString(Qt::ISODateWithMs)},
                                     {QStringLiteral("finished"), finished.toString(Qt::ISODateWithMs)},
                                     {QStringLiteral("plan"), plan},
                                     {QStringLiteral("compare"), compare},
                                     {QStringLiteral("units"), list},
                                     {QStringLiteral("disagreements"), across},
                                     {QStringLiteral("exit"), exitCode()}})
        .toJson(QJsonDocument::Indented);
}

QByteArray NetworkReport::toCsv() const
{
    QStringList lines{QStringLiteral("time,plan,unit,port,device,version,before,after,result,reason,"
                                     "differences,backup")};
    for (const NetworkUnitResult &u : units) {
        QStringList differences;
        for (const QJsonValue &d : u.differences) {
            const QJsonObject o = d.toObject();
            differences << QStringLiteral("%1: %2 -> %3")
                               .arg(o.value(QStringLiteral("what")).toString(),
                                    o.value(QStringLiteral("meant")).toString(),
                                    o.value(QStringLiteral("holds")).toString());
        }
        const QStringList fields{finished.toString(Qt::ISODate), plan, u.name, u.port, u.device,
                                 u.version, recordLine(u.before), recordLine(u.after),
                                 NetworkUnitResult::stateName(u.state),
                                 u.message, differences.join(QStringLiteral("; ")), u.backup};
        QStringList quoted;
        for (const QString &f : fields)
            quoted << csvField(f);
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
        u.exitCode = j.value(QStringLiteral("exit")).toInt(-1);
        u.message = j.value(QStringLiteral("message")).toString();
        u.reason = j.value(QStringLiteral("reason")).toString();
        u.before = j.value(QStringLiteral("before")).toObject();
        u.after = j.value(QStringLiteral("after")).toObject();
        u.differences = j.value(QStringLiteral("differences")).toArray();
        u.writes = j.value(QStringLiteral("writes")).toArray();
        u.backup = j.value(QStringLiteral("backup")).toString();
        r.units << u;
    }
    r.checkAcrossUnits();
    return r;
}

NetworkSetup::NetworkSetup(const QString &program, const QStringList &options, QObject *parent)
    : QObject(parent), m_program(program), m_options(options)
{
}

NetworkSetup::~NetworkSetup()
{
    // A unit is never left to a run nobody reads: stopped, and waited for.
    for (QProcess *p : std::as_const(m_processes)) {
        if (p && p->state() != QProcess::NotRunning) {
            p->disconnect(this);
            p->terminate();
            if (!p->waitForFinished(30000))
                p->kill();
        }
    }
}

void NetworkSetup::start(const QString &planText, const QString &planPath, const NetworkPlan &plan,
                         const QList<QString> &ports, bool compare)
{
    m_planText = planText.toUtf8();
    m_report = NetworkReport();
    m_report.plan = planPath;
    m_report.compare = compare;
    m_report.started = QDateTime::currentDateTime();
    qDeleteAll(m_processes);
    m_processes.clear();
    m_queue.clear();
    for (int i = 0; i < plan.units.size(); ++i) {
        const NetworkUnit &unit = plan.units.at(i);
        NetworkUnitResult u;
        u.name = unit.name;
        u.port = ports.value(i).isEmpty() ? unit.port : ports.value(i);
        u.role = unit.record.lists[0] == QLatin1Char('0') ? QStringLiteral("master") : QStringLiteral("slave");
        m_report.units << u;
        m_processes << nullptr;
        m_queue << i;
    }
    while (!m_queue.isEmpty() && m_running < MaxAtOnce)
        launch(m_queue.takeFirst());
    if (!running()) {
        m_report.finished = QDateTime::currentDateTime();
        emit finished();
    }
}

void NetworkSetup::launch(int index)
{
    NetworkUnitResult &u = m_report.units[index];
    auto *p = new QProcess(this);
    m_processes[index] = p;
    ++m_running;
    u.state = NetworkUnitResult::Running;
    QStringList args = m_options;
    args << QStringLiteral("network") << QStringLiteral("-") << QStringLiteral("--unit") << u.name
         << QStringLiteral("--port") << (m_resolve ? m_resolve(u.port) : u.port) << QStringLiteral("--json");
    if (m_report.compare)
        args << QStringLiteral("--compare");
    connect(p, &QProcess::readyReadStandardError, this, [this, index] { readProgress(index); });
    connect(p, &QProcess::finished, this, [this, index] { ended(index); });
    connect(p, &QProcess::errorOccurred, this, [this, index, p](QProcess::ProcessError e) {
        if (e == QProcess::FailedToStart) {
            m_report.units[index].message = m_program + QStringLiteral(": ") + p->errorString();
            ended(index);
        }
    });
    p->start(m_program, args);
    p->write(m_planText);
    p->closeWriteChannel();
    emit unitChanged(index);
}

void NetworkSetup::readProgress(int index)
{
    QProcess *p = m_processes.at(index);
    NetworkUnitResult &u = m_report.units[index];
    p->setReadChannel(QProcess::StandardError); // standard output is the result
    while (p->canReadLine()) {
        const QString line = QString::fromUtf8(p->readLine()).trimmed();
        const QStringList w = line.split(QLatin1Char(' '));
        if (w.size() == 4 && w.at(0) == QLatin1String("progress")) {
            u.stage = w.at(1).toInt();
            u.step = w.at(2).toInt();
            u.steps = w.at(3).toInt();
            emit unitChanged(index);
        } else if (line.startsWith(QLatin1String("trace "))) {
            emit traced(index, line.mid(6)); // the traffic, never the unit's message
        } else if (!line.isEmpty() && u.message.size() < 4096) {
            u.message += (u.message.isEmpty() ? QString() : QStringLiteral("\n")) + line;
        }
    }
}

void NetworkSetup::ended(int index)
{
    QProcess *p = m_processes.at(index);
    NetworkUnitResult &u = m_report.units[index];
    if (u.done() || !p)
        return;
    readProgress(index);
    const QJsonDocument doc = QJsonDocument::fromJson(p->readAllStandardOutput());
    const QJsonObject o = doc.object();
    if (p->exitStatus() != QProcess::NormalExit || !doc.isObject()) {
        // A run that ended without its result may have written anything.
        u.state = NetworkUnitResult::Failed;
        u.exitCode = 1;
        u.reason = QStringLiteral("other");
        u.message = app().message(NetworkMessages::ChildFailed)
            + (u.message.isEmpty() ? QString() : QStringLiteral(": ") + u.message);
    } else {
        u.takeResult(o);
    }
    --m_running;
    p->deleteLater();
    m_processes[index] = nullptr;
    emit unitChanged(index);
    while (!m_queue.isEmpty() && m_running < MaxAtOnce)
        launch(m_queue.takeFirst());
    if (!running()) {
        m_report.finished = QDateTime::currentDateTime();
        m_report.checkAcrossUnits();
        emit finished();
    }
}

void NetworkSetup::cancel()
{
    // Units not begun are not begun.
    for (int index : std::as_const(m_queue)) {
        NetworkUnitResult &u = m_report.units[index];
        u.state = NetworkUnitResult::Stopped;
        u.exitCode = 1;
        u.reason = QStringLiteral("cancelled");
        u.message = app().message(ConfigMessages::Cancelled);
        emit unitChanged(index);
    }
    m_queue.clear();
    for (QProcess *p : std::as_const(m_processes))
        if (p && p->state() != QProcess::NotRunning)
            p->terminate(); // each ends after its exchange under way
    if (!running()) {
        m_report.finished = QDateTime::currentDateTime();
        m_report.checkAcrossUnits();
        emit finished();
    }
}

QString PlanPortProblem(const NetworkPlan &plan, const QList<QString> &ports,
                        const std::function<QString(const QString &)> &resolve)
{
    QMap<QString, QString> devices; // device -> unit
    for (int i = 0; i < plan.units.size(); ++i) {
        const NetworkUnit &u = plan.units.at(i);
        const QString port = ports.value(i).isEmpty() ? u.port : ports.value(i);
        if (port.isEmpty())
            return app().message(NetworkMessages::NoPort) + QStringLiteral(": ") + u.name;
        const QString device = resolve(port);
        if (devices.contains(device))
            return app().message(NetworkMessages::SharedPort) + QStringLiteral(": ")
                + devices.value(device) + QStringLiteral(", ") + u.name + QStringLiteral(" (")
                + port + QLatin1Char(')');
        devices.insert(device, u.name);
    }
    return QString();
}

bool StoppedPartWay(const QJsonObject &result)
{
    const QString reason = result.value(QStringLiteral("reason")).toString();
    return reason == QLatin1String("cancelled")
        || (result.value(QStringLiteral("outcome")).toString() == QLatin1String("stopped")
            && reason == QLatin1String("line-lost"));
}

bool UnitAnswers(CommControl &comm, ReplyTimer &timer, int ms)
{
    const Exchange exchange(comm);
    if (!exchange.started() || !Transfer::NextCommand(comm))
        return false;
    SendWiredCommand(comm, timer, QStringLiteral("#"));
    QString letter;
    const bool answers = WaitWiredAnswer(comm, timer, qint16(qBound(1, ms, 30000)),
                                         [](const QString &l) { return l == QLatin1String("$"); },
                                         letter)
        == WiredAnswer::Fitting;
    // A late "$" answers no other command: a probe unanswered leaves no
    // quiet spell for the next one to wait out.
    if (!answers && comm.isConnection(comm.waitConnection()))
        comm.clearAnswerDue();
    return answers;
}
