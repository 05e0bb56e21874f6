// A network plan's set-up: a child process per unit, their results gathered
// into one report, and the check that the units agree with each other.
#include "protocol/NetworkSetup.h"

#include "config/FileSafety.h"
#include "config/modFile.h"
#include "core/AppState.h"
#include "protocol/TransferSteps.h"
#include "protocol/modWired.h"
#include "serial/CommControl.h"
#include "serial/Exchange.h"
#include "serial/SerialDevices.h"
#include "serial/modLog.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QProcess>
#include <QTimer>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>
#endif

namespace {

// Whether the run listens for a stop request yet: until the command line
// catches SIGTERM, the signal ends it at once, its result unprinted and
// its port left as it was.
bool catchesStops(qint64 pid)
{
#ifdef Q_OS_LINUX
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return false;
    for (QByteArray line; !(line = status.readLine()).isEmpty();)
        if (line.startsWith("SigCgt:"))
            return line.mid(7).trimmed().toULongLong(nullptr, 16) & (1ULL << (SIGTERM - 1));
    return false;
#else
    return pid > 0;
#endif
}

// The device a run opens for `port`: a COMn by its link, as the run finds it.
QString deviceFor(const QString &port)
{
    QString path = port;
    if (port.startsWith(QLatin1String("COM")) && !WorkFolder().isEmpty())
        path = WorkFolder() + port;
    return FollowTrustedLinks(path).target;
}

int keepPseudoTerminal(const QString &device)
{
#ifdef Q_OS_UNIX
    if (!device.startsWith(QLatin1String("/dev/pts/")))
        return -1;
    return ::open(QFile::encodeName(device).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
#else
    Q_UNUSED(device);
    return -1;
#endif
}

} // namespace

NetworkSetup::NetworkSetup(const QString &program, const QStringList &options, QObject *parent)
    : QObject(parent), m_program(program), m_options(options), m_stopping(new QTimer(this))
{
    m_stopping->setInterval(10);
    connect(m_stopping, &QTimer::timeout, this, &NetworkSetup::sendStops);
}

NetworkSetup::~NetworkSetup()
{
    // A unit is never left to a run nobody reads: stopped, and waited for.
    for (Child &c : m_children) {
        QProcess *p = c.process;
        if (!p || p->state() == QProcess::NotRunning)
            continue;
        p->disconnect(this);
        // Asked once it listens, as cancel() asks; one that never does, after a while all the same.
        for (int ms = 0; ms < 5000 && !c.stopSent && (p->state() != QProcess::Running || !catchesStops(p->processId()))
             && !p->waitForFinished(10);
             ms += 10) {
        }
        if (!c.stopSent) // a second would end it at once
            p->terminate();
        if (!p->waitForFinished(30000)) {
            p->kill();
            p->waitForFinished();
        }
        freePort(c, p->exitStatus() != QProcess::NormalExit || p->exitCode() >= 128);
    }
}

void NetworkSetup::start(const QString &planText, const QString &planPath, const NetworkPlan &plan,
                         const QList<QString> &ports, bool compare)
{
    const Request request{planText, planPath, plan, ports, compare};
    if (running())
        m_next = request;
    else
        begin(request);
}

void NetworkSetup::begin(const Request &request)
{
    m_planText = request.planText.toUtf8();
    m_report = NetworkReport();
    m_report.plan = request.planPath;
    m_report.compare = request.compare;
    m_report.started = QDateTime::currentDateTime();
    m_children.clear(); // every process ended: deleted as it ended
    m_queue.clear();
    for (int i = 0; i < request.plan.units.size(); ++i) {
        const NetworkUnit &unit = request.plan.units.at(i);
        NetworkUnitResult u;
        u.name = unit.name;
        u.port = request.ports.value(i).isEmpty() ? unit.port : request.ports.value(i);
        u.role = unit.record.lists[0] == QLatin1Char('0') ? QStringLiteral("master") : QStringLiteral("slave");
        m_report.units << u;
        m_children << Child();
        m_queue << i;
    }
    while (!m_queue.isEmpty() && m_running < MaxAtOnce)
        launch(m_queue.takeFirst());
    if (m_running == 0)
        runEnded();
}

void NetworkSetup::launch(int index)
{
    NetworkUnitResult &u = m_report.units[index];
    Child &c = m_children[index];
    auto *p = new QProcess(this);
    c.process = p;
    c.port = m_resolve ? m_resolve(u.port) : u.port;
    c.started = QDateTime::currentDateTime();
    c.keep = keepPseudoTerminal(deviceFor(c.port));
    ++m_running;
    u.state = NetworkUnitResult::Running;
    QStringList args = m_options;
    args << QStringLiteral("network") << QStringLiteral("-") << QStringLiteral("--unit") << u.name
         << QStringLiteral("--port") << c.port << QStringLiteral("--json");
    if (m_report.compare)
        args << QStringLiteral("--compare");
    connect(p, &QProcess::started, this, [this, index, p] { m_children[index].pid = p->processId(); });
    connect(p, &QProcess::readyReadStandardError, this, [this, index] { readProgress(index); });
    connect(p, &QProcess::finished, this, [this, index] { ended(index); });
    connect(p, &QProcess::errorOccurred, this, [this, index, p](QProcess::ProcessError e) {
        if (e == QProcess::FailedToStart) {
            m_report.units[index].message = m_program + QStringLiteral(": ") + p->errorString();
            ended(index);
        }
    });
    // The plan comes on standard input: its path for the unit's site book entry.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (!m_report.plan.isEmpty())
        env.insert(QStringLiteral("QML47210_PLAN_PATH"), QFileInfo(m_report.plan).absoluteFilePath());
    p->setProcessEnvironment(env);
    p->start(m_program, args);
    p->write(m_planText);
    p->closeWriteChannel();
    emit unitChanged(index);
}

void NetworkSetup::readProgress(int index)
{
    QProcess *p = m_children.at(index).process;
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
    Child &c = m_children[index];
    QProcess *p = c.process;
    NetworkUnitResult &u = m_report.units[index];
    if (u.done() || !p)
        return;
    readProgress(index);
    const QJsonDocument doc = QJsonDocument::fromJson(p->readAllStandardOutput());
    // Ended by a second stop at once, or killed: its port as it held it.
    const bool died = c.pid > 0
        && (p->exitStatus() != QProcess::NormalExit || !doc.isObject()
            || doc.object().value(QStringLiteral("reason")).toString() == QLatin1String("stopped-at-once"));
    if (p->exitStatus() != QProcess::NormalExit || !doc.isObject()) {
        // A run that ended without its result may have written anything.
        u.state = NetworkUnitResult::Failed;
        u.exitCode = 1;
        u.reason = QStringLiteral("other");
        u.message = app().message(NetworkMessages::ChildFailed)
            + (u.message.isEmpty() ? QString() : QStringLiteral(": ") + u.message);
        u.backups = backupsOf(c);
        u.backup = u.backups.value(0);
    } else {
        u.takeResult(doc.object());
    }
    freePort(c, died);
    --m_running;
    p->deleteLater();
    c.process = nullptr;
    emit unitChanged(index);
    while (!m_queue.isEmpty() && m_running < MaxAtOnce)
        launch(m_queue.takeFirst());
    if (m_running == 0)
        runEnded();
}

void NetworkSetup::freePort(Child &c, bool died)
{
#ifdef Q_OS_UNIX
    if (died && c.keep >= 0)
        ::ioctl(c.keep, TIOCNXCL);
    if (c.keep >= 0)
        ::close(c.keep);
    c.keep = -1;
    // Its lock, once nobody has that process id: another user could not remove it.
    const QString lock = died && c.pid > 0 ? LockFileHeldBy(deviceFor(c.port), c.pid) : QString();
    if (!lock.isEmpty() && ::kill(pid_t(c.pid), 0) != 0 && errno == ESRCH)
        QFile::remove(lock);
#else
    Q_UNUSED(c);
    Q_UNUSED(died);
#endif
}

// What a run that printed nothing left in the backup folder: its backups
// are named by its port and process id (BackupPath).
QStringList NetworkSetup::backupsOf(const Child &c) const
{
    if (c.pid <= 0)
        return {};
    const QString port = FileNamePart(c.port.section(QLatin1Char(' '), 0, 0));
    const QString since = c.started.toString(QStringLiteral("yyyyMMdd-HHmmss"));
    const QDir folder(BackupFolder());
    QStringList found;
    const QStringList names = folder.entryList(
        {QStringLiteral("backup-*-%1-%2-*.ini").arg(port).arg(c.pid)}, QDir::Files, QDir::Name);
    for (const QString &name : names)
        if (name.mid(7, since.size()) >= since) // the same id an earlier process had
            found << folder.filePath(name);
    return found;
}

void NetworkSetup::runEnded()
{
    m_stopping->stop();
    m_report.finished = QDateTime::currentDateTime();
    m_report.checkAcrossUnits();
    emit finished();
    if (m_next && m_running == 0) {
        const Request next = *m_next;
        m_next.reset();
        begin(next);
    }
}

void NetworkSetup::cancel()
{
    m_next.reset();
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
    for (Child &c : m_children)
        c.stopAsked = c.process != nullptr;
    sendStops();
    if (m_running == 0) {
        m_report.finished = QDateTime::currentDateTime();
        m_report.checkAcrossUnits();
        emit finished();
    }
}

void NetworkSetup::sendStops()
{
    bool waiting = false;
    for (Child &c : m_children) {
        if (!c.stopAsked || c.stopSent || !c.process || c.process->state() == QProcess::NotRunning)
            continue;
        // Before its program runs, it may catch SIGTERM as this process does.
        if (c.process->state() == QProcess::Running && catchesStops(c.process->processId())) {
            c.stopSent = true; // a second would end it at once
            c.process->terminate();
        } else {
            waiting = true;
        }
    }
    if (waiting && !m_stopping->isActive())
        m_stopping->start();
    else if (!waiting)
        m_stopping->stop();
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
