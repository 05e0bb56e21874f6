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
