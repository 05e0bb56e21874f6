// A command-line run from start to exit: the text files, the request, the
// port, the command's runner and what is printed.
#include "cli/CliRun.h"

#include "cli/CliParse.h"
#include "cli/CliTables.h"
#include "config/FileSafety.h"
#include "config/TextFolder.h"
#include "config/modFile.h"
#include "core/AppState.h"
#include "protocol/TrafficMeaning.h"
#include "records/SiteBookOutcomes.h"
#include "serial/LineClear.h"
#include "serial/SerialDevices.h"
#include "serial/Traffic.h"
#include "serial/mod232C.h"
#include "serial/modLog.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>

namespace Cli {

Run::~Run()
{
    LeaveLineMark(comm, device);
}

// A port that is not there is a wrong command line, one that is there and
// does not open a port failure.
// The device the port names now, and the serial control set to open it.
QString Run::resolvePort()
{
    comm.setLinkDir(WorkFolder());
    portNumber = app().ComPort;
    if (r.port.startsWith(QLatin1String("COM"))) {
        portNumber = r.port.mid(3).toInt();
        portName = r.port;
        return comm.deviceFor(portNumber);
    }
    if (!r.port.isEmpty()) {
        // The device itself, whatever name leads to it, so that its lock
        // file stops a second run on it under another name. A link another
        // user made is not followed (the open refuses it, naming its owner).
        const QString target = QFileInfo(r.port).canonicalFilePath();
        const QString device = target.isEmpty() || !ForeignLinkOwner(r.port).isEmpty() ? r.port : target;
        comm.setDevicePath(device);
        portName = r.port;
        return device;
    }
    portName = QStringLiteral("COM%1").arg(portNumber);
    return comm.deviceFor(portNumber);
}

bool Run::openAsSet()
{
    const AppState &s = app();
    return ReopenPort(comm, qint16(qBound(1, portNumber, 255)), r.baud.isEmpty() ? s.ComBaud : r.baud,
                      r.dataBits.isEmpty() ? s.ComDataBits : r.dataBits,
                      r.parity.isEmpty() ? s.ComParity : r.parity,
                      r.stopBits.isEmpty() ? s.ComStopBits : r.stopBits);
}

bool Run::hasComLink() const
{
    if (!r.port.isEmpty() && !r.port.startsWith(QLatin1String("COM")))
        return false;
    const QFileInfo link(QDir(WorkFolder()).filePath(QStringLiteral("COM%1").arg(portNumber)));
    return link.exists() || link.isSymLink();
}

bool Run::reopenPort()
{
    if (comm.PortOpen())
        ClosePort(comm);
    // An adapter plugged back may come back under another device name; a
    // COMn link gone with it never makes COMn the built-in port instead.
    const QString now = resolvePort();
    if (comLinkAtOpen && !hasComLink())
        return false;
    if (!openAsSet())
        return false;
    DiscardInput(comm);
    device = now;
    return true;
}

int Run::openPort()
{
    AppState &s = app();
    const QString device = resolvePort();
    comLinkAtOpen = hasComLink();
    out.insert(QStringLiteral("port"), portName);
    out.insert(QStringLiteral("device"), QDir::toNativeSeparators(device));
    MakeLogName(QDateTime::currentDateTime(),
                portName + QLatin1Char('-') + QString::number(QCoreApplication::applicationPid()));

#ifndef Q_OS_WIN
    // A link another user made is refused by the open, as a port failure.
    const bool foreign = !ForeignLinkOwner(device).isEmpty();
    if (!foreign && !QFileInfo::exists(device))
        return out.badPort(QStringLiteral("missing"),
                           Message(CliMessages::NoSuchPort) + QStringLiteral(": ") + portName
                               + QStringLiteral(" (") + device + QStringLiteral("); ")
                               + Message(CliMessages::SeePorts));
    if (!foreign && !DevicePresent(device))
        return out.badPort(QStringLiteral("not-serial"),
                           device + QStringLiteral(": ") + Message(CliMessages::NotSerialPort)
                               + QLatin1Char('\n') + Message(CliMessages::SeePorts));
#endif
    if (openAsSet()) {
        DiscardInput(comm); // an earlier run's late answer is none of this run's
        this->device = device;
        // One that an earlier run left due may still come: its quiet spell first.
        WaitOutLineMark(comm, device);
        return -1;
    }
    // A character device that is no serial port (/dev/null) is as wrong a
    // port as a file or a FIFO.
    if (!comm.failedDevice().isEmpty()
        && DiagnoseOpen(comm.failedDevice(), comm.failedError(), comm.failedErrorText()).problem
            == OpenDiagnosis::NotSerial)
        return out.badPort(QStringLiteral("not-serial"), comm.failedDevice() + QStringLiteral(": ")
                                                     + Message(CliMessages::NotSerialPort) + QLatin1Char('\n')
                                                     + Message(CliMessages::SeePorts));
    QString why = s.message(4);
    if (const QString device = OpenFailureText(comm); !device.isEmpty())
        why += QLatin1Char('\n') + device;
    if (!comm.failedDevice().isEmpty())
        out.insert(QStringLiteral("reason"),
                   OpenProblemCode(DiagnoseOpen(comm.failedDevice(), comm.failedError(),
                                                comm.failedErrorText())
                                       .problem));
    return out.finish(ExitCode::PortFailure, why);
}

namespace {

int execute(const CliRequest &request)
{
    const Runner *runner = FindRunner(request.command);
    Run run(request);
    if (!runner)
        return run.out.finish(ExitCode::Failed, QString());
    run.out.insert(QStringLiteral("command"), QLatin1String(runner->name));
    if (runner->prepare)
        if (const int code = runner->prepare(run); code >= 0)
            return code;
    if (runner->opensPort)
        if (const int code = run.openPort(); code >= 0)
            return code;
    // What reads or changes a unit goes into the site book; a network's
    // units each in their own run.
    static const QList<CliRequest::Command> recorded{CliRequest::Info,  CliRequest::Read,  CliRequest::Write,
                                                      CliRequest::RegSet, CliRequest::Save, CliRequest::Apply,
                                                      CliRequest::Preset};
    if (recorded.contains(request.command))
        run.beginEntry(QLatin1String(runner->name));
    return runner->run(run);
}

QString helpJson(const QString &help)
{
    return QString::fromUtf8(QJsonDocument(QJsonObject{{QStringLiteral("command"), QStringLiteral("help")},
                                                       {QStringLiteral("ok"), true},
                                                       {QStringLiteral("exit"), ExitCode::Done},
                                                       {QStringLiteral("help"), help}})
                                 .toJson(QJsonDocument::Indented));
}

} // namespace
} // namespace Cli

int RunCommandLine(const QStringList &args)
{
    using namespace Cli;
    // The manual page's commands, options and exit codes, from the tables the
    // help is made of; for the build, before any file is looked at.
    if (args == QStringList{QStringLiteral("--manual")}) {
        Print(stdout, CommandLineManual());
        return OutputFailed() ? ExitCode::Failed : ExitCode::Done;
    }
    AppState &s = app();
    // The tests' way to shorten the unit's 7 s time-outs, as they do in process.
    if (const double scale = qEnvironmentVariable("QML_TIME_SCALE").toDouble(); scale > 0)
        TimeScale::set(scale);
    const LoadedTextFiles loaded = LoadTextFiles();
    const TextFolderChoice &files = loaded.files;
    InstallCliTranslation(loaded.language);
    s.RxLineBuffer.clear();
    if (!files.problem.isEmpty())
        Print(stderr, QStringLiteral("qmlsetup: ") + s.message(NotWrittenMessage) + QLatin1Char(' ')
                          + files.problem + QLatin1Char('\n'));

    CliError error;
    const auto request = ParseCommandLine(args, &error);
    if (!request) {
        const QString text = QStringLiteral("qmlsetup: ") + s.message(error.message)
            + (error.detail.isEmpty() ? QString() : QStringLiteral(": ") + error.detail);
        if (NormalisedJson(args).contains(QStringLiteral("--json"))) {
            const QJsonObject doc{{QStringLiteral("ok"), false},
                                  {QStringLiteral("exit"), ExitCode::BadUsage},
                                  {QStringLiteral("message"), text}};
            Print(stdout, QString::fromUtf8(QJsonDocument(doc).toJson(QJsonDocument::Indented)));
        }
        Print(stderr, text + QLatin1Char('\n') + s.message(CliMessages::UsageHint) + QLatin1Char('\n'));
        return OutputFailed() ? ExitCode::Failed : ExitCode::BadUsage;
    }
    if (request->command != CliRequest::Help) {
        QString why;
        if (!ChooseSiteBook(*request, &why)) {
            const QJsonObject doc{{QStringLiteral("command"), QLatin1String(FindRunner(request->command)->name)},
                                  {QStringLiteral("ok"), false},
                                  {QStringLiteral("exit"), ExitCode::BadUsage},
                                  {QStringLiteral("message"), why}};
            if (request->json)
                Print(stdout, QString::fromUtf8(QJsonDocument(doc).toJson(QJsonDocument::Indented)));
            Print(stderr, QStringLiteral("qmlsetup: ") + why + QLatin1Char('\n') + s.message(CliMessages::UsageHint)
                              + QLatin1Char('\n'));
            return OutputFailed() ? ExitCode::Failed : ExitCode::BadUsage;
        }
    }
    // The same rows as the traffic console, as they happen; a unit's run for
    // the set-up marks them, as its progress, to keep them apart from its message.
    const bool forSetUp = request->command == CliRequest::Network && !request->unit.isEmpty() && request->json;
    if (request->trace)
        QObject::connect(&TrafficHub::instance(), &TrafficHub::happened, [forSetUp](const TrafficEvent &e) {
            static const char *const arrows[] = {">", "<", "-", "x", "="};
            Print(stderr, QStringLiteral("%1%2 %3 %4  %5\n")
                              .arg(forSetUp ? QStringLiteral("trace ") : QString(),
                                   e.time().time().toString(QStringLiteral("HH:mm:ss.zzz")),
                                   QLatin1String(arrows[e.kind]),
                                   e.kind == TrafficEvent::Note ? e.text : VisibleLine(e.text),
                                   TrafficMeaning(e)));
        });
    WatchLastLines();
    int code = ExitCode::Done;
    if (request->command == CliRequest::Help) {
        const QString help = CommandLineHelp(request->helpFor);
        Print(stdout, request->json ? helpJson(help) : help);
    } else {
        code = execute(*request);
    }
    SiteBookRecorder::close();
    // An answer nobody could read is no answer given.
    if (OutputFailed()) {
        Print(stderr, QStringLiteral("qmlsetup: ") + s.message(CliMessages::OutputFailed) + QLatin1Char('\n'));
        return ExitCode::Failed;
    }
    return code;
}
