#include "cli/CommandLine.h"

#include "config/FileSafety.h"
#include "config/TextFolder.h"
#include "config/modFile.h"
#include "core/AppState.h"
#include "protocol/modModem.h"
#include "serial/CommControl.h"
#include "serial/Exchange.h"
#include "serial/ReplyTimer.h"
#include "serial/SerialDevices.h"
#include "serial/mod232C.h"
#include "serial/modLog.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <algorithm>
#include <cstdio>

#ifdef Q_OS_UNIX
#include <unistd.h>
#elif defined(Q_OS_WIN)
#include <io.h>
#endif

namespace {

struct CommandInfo {
    const char *name;
    const char *synopsis;
    const char *summary; // one line, for the overview
    const char *more;    // the rest, for the command's own help
};

const CommandInfo Commands[] = {
    {"ports", "ports", "Lists the serial devices present and what COM1 to COM9 reach.", ""},
    {"info", "info", "Reads the unit's version text and its settings record.", ""},
    {"read", "read", "Reads the unit's settings record.", ""},
    {"write", "write KEY=VALUE...", "Changes fields of the settings record, writes and verifies it.",
     "The fields not named are taken as read from the unit. Keys and values as in a\n"
     "configuration file: band=0..4 channel=0..23 type=master|slave\n"
     "antenna=single|diversity bit-rate=2400..115200 data-length=7|8\n"
     "parity=none|even|odd stop-bits=1|2 flow=none|rts-cts"},
    {"reg", "reg get NN | reg set NN VV", "Reads or writes (and verifies) one register.",
     "NN is 00 to 27; VV two hexadecimal digits."},
    {"save", "save FILE", "Saves the unit's whole configuration in FILE.",
     "An existing FILE is replaced only with --force."},
    {"apply", "apply FILE", "Applies a configuration file, with a backup and a verification.",
     "The unit's own configuration is saved in backups/ first; what FILE holds is\n"
     "written, then read back and compared."},
    {"preset", "preset [FILE]", "Writes the FRH register preset, verifies it and resets the unit.",
     "The preset is FRH10.ini, or FILE of its form; refused when the table does not\n"
     "hold 28 values of two hexadecimal digits. The unit's registers are saved in\n"
     "backups/ first, and read back after the writes, before the reset."},
};

struct OptionInfo {
    const char *names;
    const char *text;
};

const OptionInfo Options[] = {
    {"--port PORT", "COMn (mapped as the windows map it) or a device path; default: the port in "
                    "setcom.ini"},
    {"--baud N, --data-bits N, --parity N|E|O, --stop-bits 1|1.5|2",
     "the serial settings; default: those in setcom.ini"},
    {"--path wired|registers",
     "the unit's command path; registers after the FRH preset; default: wired"},
    {"--json", "one JSON document on standard output, for every outcome (also --json=1)"},
    {"--force", "save: replace an existing file"},
    {"-h, --help", "this help; COMMAND --help for one command"},
};

struct ExitInfo {
    int code;
    const char *text;
};

const ExitInfo Exits[] = {
    {ExitCode::Done, "done (and verified, where it writes)"},
    {ExitCode::Failed, "another failure: a file that cannot be written, a backup that cannot be "
                       "made, standard output that cannot be written"},
    {ExitCode::BadUsage, "bad usage, a port that does not exist or is no serial port included; "
                         "nothing was sent"},
    {ExitCode::PortFailure, "the port did not open (the reason is printed)"},
    {ExitCode::NoAnswer, "no answer at all, or the line was lost"},
    {ExitCode::Refused, "refused by the unit"},
    {ExitCode::Differences, "written, but the unit holds other values"},
    {ExitCode::BadFile, "a configuration or preset file that cannot be used"},
    {ExitCode::OtherAnswer, "answers came, but none that fits the command"},
};

// `text` in lines of at most `width`, each after `indent` blanks but the first.
QString wrapped(const QString &text, int indent, int width)
{
    QString out, line;
    for (const QString &word : text.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        if (!line.isEmpty() && indent + line.size() + 1 + word.size() > width) {
            out += line + QLatin1Char('\n') + QString(indent, u' ');
            line.clear();
        }
        line += (line.isEmpty() ? QString() : QStringLiteral(" ")) + word;
    }
    return out + line;
}

QString optionsHelp()
{
    QString text = QStringLiteral("Options:\n");
    for (const OptionInfo &o : Options) {
        const QString names = QStringLiteral("  ") + QLatin1String(o.names);
        text += names.size() < 21 ? names.leftJustified(21) : names + QStringLiteral("\n") + QString(21, u' ');
        text += wrapped(QLatin1String(o.text), 21, 79) + QLatin1Char('\n');
    }
    return text;
}

QString exitHelp()
{
    QString text = QStringLiteral("Exit codes:\n");
    for (const ExitInfo &e : Exits)
        text += QStringLiteral("  %1  ").arg(e.code) + wrapped(QLatin1String(e.text), 5, 79)
            + QLatin1Char('\n');
    return text;
}

// Text as roff takes it: a backslash doubled, a minus sign marked as one.
QString roff(const QString &text)
{
    return QString(text).replace(QLatin1Char('\\'), QLatin1String("\\\\"))
        .replace(QLatin1Char('-'), QLatin1String("\\-"));
}

QString message(int n)
{
    return app().message(n);
}

bool isTerminal(FILE *stream)
{
#ifdef Q_OS_UNIX
    return ::isatty(fileno(stream));
#elif defined(Q_OS_WIN)
    return ::_isatty(::_fileno(stream));
#else
    return false;
#endif
}

// Set when standard output could not take what was printed (closed, a full
// disk): the run then ends with exit code 1, whatever it did with the unit.
bool g_outputFailed = false;

// UTF-8 on every platform, JSON included; a console's code page is the
// terminal's business.
void print(FILE *stream, const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    const bool written = std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream)
            == size_t(bytes.size())
        && std::fflush(stream) == 0;
    if (!written && stream == stdout)
        g_outputFailed = true;
}

// --json=1, --json=true and their like are --json; --json=0 and the like
// leave it off. Anything else after --json= stays as it is, to be refused.
QStringList normalisedJson(const QStringList &args)
{
    QStringList out;
    for (const QString &a : args) {
        if (!a.startsWith(QLatin1String("--json="))) {
            out << a;
            continue;
        }
        const QString v = a.mid(7).toLower();
        if (v == QLatin1String("1") || v == QLatin1String("true") || v == QLatin1String("yes")
            || v == QLatin1String("on"))
            out << QStringLiteral("--json");
        else if (!(v == QLatin1String("0") || v == QLatin1String("false")
                   || v == QLatin1String("no") || v == QLatin1String("off")))
            out << a;
    }
    return out;
}

// A KEY=VALUE or a register checked as a configuration file checks it, so
// the command line and the files take exactly the same values.
std::optional<UnitConfig> parseAsFile(const QString &section, const QString &key,
                                      const QString &value, CliError *error)
{
    // Only a key and a value: nothing that would read as another line, a
    // comment or a section of the file.
    static const QRegularExpression plainKey(QStringLiteral("^[A-Za-z0-9-]+$"));
    static const QRegularExpression plainValue(QStringLiteral("^[A-Za-z0-9. -]+$"));
    if (!plainKey.match(key).hasMatch()) {
        *error = {ConfigMessages::UnknownKey, key};
        return std::nullopt;
    }
    if (!plainValue.match(value).hasMatch()) {
        *error = {ConfigMessages::BadValue, key + QLatin1Char('=') + value};
        return std::nullopt;
    }
    ConfigFileError fileError;
    const auto config = ParseConfigText(QStringLiteral("[unit]\nformat = 1\n[%1]\n%2 = %3\n")
                                            .arg(section, key, value),
                                        &fileError);
    if (!config)
        *error = {fileError.message, key + QLatin1Char('=') + value};
    return config;
}

} // namespace

std::optional<CliRequest> ParseCommandLine(const QStringList &args, CliError *error)
{
    CliError ignored;
    if (!error)
        error = &ignored;
    const auto fail = [&](int message, const QString &detail) {
        *error = {message, detail};
        return std::nullopt;
    };
    QCommandLineParser parser;
    const QCommandLineOption port(QStringLiteral("port"), QString(), QStringLiteral("port"));
    const QCommandLineOption baud(QStringLiteral("baud"), QString(), QStringLiteral("n"));
    const QCommandLineOption dataBits(QStringLiteral("data-bits"), QString(), QStringLiteral("n"));
    const QCommandLineOption parity(QStringLiteral("parity"), QString(), QStringLiteral("p"));
    const QCommandLineOption stopBits(QStringLiteral("stop-bits"), QString(), QStringLiteral("n"));
    const QCommandLineOption path(QStringLiteral("path"), QString(), QStringLiteral("path"));
    const QCommandLineOption json(QStringLiteral("json"));
    const QCommandLineOption force(QStringLiteral("force"));
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    parser.addOptions({port, baud, dataBits, parity, stopBits, path, json, force, help});
    if (!parser.parse(QStringList{QStringLiteral("qmlsetup")} + normalisedJson(args))) {
        if (!parser.unknownOptionNames().isEmpty())
            return fail(CliMessages::UnknownOption, parser.unknownOptionNames().first());
        static const QRegularExpression quoted(QStringLiteral("'([^']*)'"));
        return fail(CliMessages::MissingValue, quoted.match(parser.errorText()).captured(1));
    }
    CliRequest r;
    r.json = parser.isSet(json);
    QStringList words = parser.positionalArguments();
    if (parser.isSet(help) || words.value(0) == QLatin1String("help")) {
        if (words.value(0) == QLatin1String("help"))
            words.removeFirst();
        r.command = CliRequest::Help;
        r.helpFor = words.value(0);
        const bool known = std::any_of(std::begin(Commands), std::end(Commands),
                                       [&](const CommandInfo &c) { return r.helpFor == QLatin1String(c.name); });
        if (!r.helpFor.isEmpty() && !known)
            return fail(CliMessages::UnknownCommand, r.helpFor);
        return r;
    }

    r.port = parser.value(port);
    r.force = parser.isSet(force);
    if (parser.isSet(port)) {
        static const QRegularExpression com(QStringLiteral("^COM([1-9][0-9]{0,2})$"));
        const auto m = com.match(r.port);
        const bool comOk = m.hasMatch() && m.captured(1).toInt() <= 255;
#ifdef Q_OS_WIN
        const bool devicePath = false; // there, a port is COMn
#else
        const bool devicePath = r.port.startsWith(QLatin1Char('/'));
#endif
        if (!comOk && !devicePath)
            return fail(CliMessages::NoSuchPort,
                        r.port + QStringLiteral(" (") + app().message(CliMessages::SeePorts) + QLatin1Char(')'));
    }
    r.baud = parser.value(baud);
    bool ok = true;
    if (parser.isSet(baud) && (r.baud.toInt(&ok) <= 0 || !ok))
        return fail(ConfigMessages::BadValue, QStringLiteral("--baud ") + r.baud);
    r.dataBits = parser.value(dataBits);
    if (parser.isSet(dataBits)
        && !QStringList{QStringLiteral("5"), QStringLiteral("6"), QStringLiteral("7"), QStringLiteral("8")}
                .contains(r.dataBits))
        return fail(ConfigMessages::BadValue, QStringLiteral("--data-bits ") + r.dataBits);
    r.parity = parser.value(parity);
    if (parser.isSet(parity)
        && !QStringList{QStringLiteral("N"), QStringLiteral("E"), QStringLiteral("O")}.contains(r.parity))
        return fail(ConfigMessages::BadValue, QStringLiteral("--parity ") + r.parity);
    r.stopBits = parser.value(stopBits);
    if (parser.isSet(stopBits)
        && !QStringList{QStringLiteral("1"), QStringLiteral("1.5"), QStringLiteral("2")}.contains(r.stopBits))
        return fail(ConfigMessages::BadValue, QStringLiteral("--stop-bits ") + r.stopBits);
    if (parser.isSet(path)) {
        if (parser.value(path) == QLatin1String("registers"))
            r.path = TransferPath::Registers;
        else if (parser.value(path) != QLatin1String("wired"))
            return fail(CliMessages::BadPath, parser.value(path));
    }

    if (words.isEmpty())
        return fail(CliMessages::UnknownCommand, QString());
    const QString command = words.takeFirst();
    const auto count = [&](int least, int most) { return words.size() >= least && words.size() <= most; };
    if (command == QLatin1String("ports") || command == QLatin1String("info")
        || command == QLatin1String("read")) {
        if (!count(0, 0))
            return fail(CliMessages::WrongArguments, words.join(u' '));
        r.command = command == QLatin1String("ports") ? CliRequest::Ports
            : command == QLatin1String("info")        ? CliRequest::Info
                                                      : CliRequest::Read;
    } else if (command == QLatin1String("write")) {
        if (words.isEmpty())
            return fail(CliMessages::NotKeyValue, QString());
        r.command = CliRequest::Write;
        QStringList seen;
        for (const QString &w : words) {
            const int eq = w.indexOf(QLatin1Char('='));
            if (eq <= 0)
                return fail(CliMessages::NotKeyValue, w);
            const QString key = w.left(eq).trimmed().toLower();
            if (seen.contains(key))
                return fail(ConfigMessages::Twice, key);
            seen << key;
            const auto one = parseAsFile(QStringLiteral("record"), key, w.mid(eq + 1), error);
            if (!one)
                return std::nullopt;
            UnitRecord merged = one->record;
            merged.fillFrom(r.changes);
            r.changes = merged;
        }
    } else if (command == QLatin1String("reg")) {
        const QString verb = words.value(0);
        if (!((verb == QLatin1String("get") && count(2, 2))
              || (verb == QLatin1String("set") && count(3, 3))))
            return fail(CliMessages::WrongArguments, words.join(u' '));
        QString number = words.value(1);
        if (number.size() == 1 && number[0].isDigit())
            number.prepend(QLatin1Char('0'));
        const QString value = verb == QLatin1String("set") ? words.value(2) : QStringLiteral("00");
        const auto one = parseAsFile(QStringLiteral("registers"), number, value, error);
        if (!one) {
            error->detail = verb == QLatin1String("set") ? words.value(1) + QLatin1Char(' ') + value
                                                         : words.value(1);
            return std::nullopt;
        }
        r.reg = number.toInt();
        r.command = verb == QLatin1String("get") ? CliRequest::RegGet : CliRequest::RegSet;
        r.value = one->registers[size_t(r.reg)].value_or(QString());
    } else if (command == QLatin1String("save") || command == QLatin1String("apply")) {
        if (!count(1, 1) || words.first().isEmpty())
            return fail(CliMessages::WrongArguments, words.join(u' '));
        r.command = command == QLatin1String("save") ? CliRequest::Save : CliRequest::Apply;
        r.file = words.first();
    } else if (command == QLatin1String("preset")) {
        if (!count(0, 1) || (count(1, 1) && words.first().isEmpty()))
            return fail(CliMessages::WrongArguments, words.join(u' '));
        r.command = CliRequest::Preset;
        r.file = words.value(0);
    } else {
        return fail(CliMessages::UnknownCommand, command);
    }
    return r;
}

QString CommandLineHelp(const QString &command)
{
    for (const CommandInfo &c : Commands)
        if (command == QLatin1String(c.name))
            return QStringLiteral("Usage: qmlsetup [options] %1\n\n%2\n%3\n\n%4\n%5")
                .arg(QLatin1String(c.synopsis), QLatin1String(c.summary), QLatin1String(c.more),
                     optionsHelp(), exitHelp());
    QString text = QStringLiteral(
        "Usage: qmlsetup [options] COMMAND [ARGUMENTS]\n"
        "Sets up a QML47210 unit from the command line; without arguments the window opens.\n\n"
        "Commands:\n");
    for (const CommandInfo &c : Commands)
        text += QStringLiteral("  %1%2\n")
                    .arg(QString::fromLatin1(c.synopsis).leftJustified(28),
                         QLatin1String(c.summary));
    return text + QLatin1Char('\n') + optionsHelp() + QLatin1Char('\n') + exitHelp();
}

QString CommandLineManual()
{
    QString out = QStringLiteral(".SH COMMANDS\n");
    for (const CommandInfo &c : Commands) {
        out += QStringLiteral(".TP\n.B ") + roff(QLatin1String(c.synopsis)) + QLatin1Char('\n')
            + roff(QLatin1String(c.summary)) + QLatin1Char('\n');
        if (*c.more)
            out += roff(QString::fromLatin1(c.more).replace(QLatin1Char('\n'), QLatin1Char(' ')))
                + QLatin1Char('\n');
    }
    out += QStringLiteral(".SH OPTIONS\n");
    for (const OptionInfo &o : Options)
        out += QStringLiteral(".TP\n.B ") + roff(QLatin1String(o.names)) + QLatin1Char('\n')
            + roff(QLatin1String(o.text)) + QLatin1Char('\n');
    out += QStringLiteral(".SH EXIT STATUS\n");
    for (const ExitInfo &e : Exits)
        out += QStringLiteral(".TP\n.B %1\n").arg(e.code) + roff(QLatin1String(e.text)) + QLatin1Char('\n');
    return out;
}

namespace {

// One run of a command against the unit, with what it prints.
class Run {
public:
    Run(const CliRequest &request) : r(request) {}

    int execute();

private:
    int openPort();
    int finish(int code, const QString &text);
    int exchangeFailed(int reason, const QString &what);
    // A port that is not there or no serial port: bad usage, and why as a code.
    int badPort(const QString &code, const QString &text);
    int fromApply(const ApplyResult &result);
    TransferProgress progress();
    QJsonObject recordJson(const UnitRecord &record) const;
    QString recordText(const UnitRecord &record) const;

    const CliRequest &r;
    CommControl comm;
    ReplyTimer timer;
    QJsonObject out;
    QString portName;
};

int exitFor(int reason)
{
    switch (reason) {
    case ConfigMessages::Refused:
        return ExitCode::Refused;
    case ConfigMessages::NoAnswer:
    case ConfigMessages::PortClosed:
        return ExitCode::NoAnswer;
    case ConfigMessages::OtherAnswer:
        return ExitCode::OtherAnswer;
    default:
        return ExitCode::Failed;
    }
}

// Why an exchange failed, as a word for programs; the message says it for people.
QString reasonCode(int reason)
{
    switch (reason) {
    case ConfigMessages::Refused:
        return QStringLiteral("refused");
    case ConfigMessages::NoAnswer:
        return QStringLiteral("no-answer");
    case ConfigMessages::OtherAnswer:
        return QStringLiteral("other-answer");
    case ConfigMessages::PortClosed:
        return QStringLiteral("line-lost");
    case ConfigMessages::Cancelled:
        return QStringLiteral("cancelled");
    case ExchangeBusyMessage:
        return QStringLiteral("busy");
    default:
        return QStringLiteral("other");
    }
}

int Run::finish(int code, const QString &text)
{
    out.insert(QStringLiteral("exit"), code);
    out.insert(QStringLiteral("ok"), code == ExitCode::Done);
    if (r.json) {
        if (code != ExitCode::Done)
            out.insert(QStringLiteral("message"), text);
        print(stdout, QString::fromUtf8(QJsonDocument(out).toJson(QJsonDocument::Indented)));
    } else if (!text.isEmpty()) {
        print(code == ExitCode::Done ? stdout : stderr, text + QLatin1Char('\n'));
    }
    return code;
}

int Run::badPort(const QString &code, const QString &text)
{
    out.insert(QStringLiteral("reason"), code);
    return finish(ExitCode::BadUsage, text);
}

int Run::exchangeFailed(int reason, const QString &what)
{
    out.insert(QStringLiteral("failed"), what);
    out.insert(QStringLiteral("reason"), reasonCode(reason));
    return finish(exitFor(reason), what + QStringLiteral(": ") + message(reason));
}

TransferProgress Run::progress()
{
    if (r.json || !isTerminal(stderr))
        return {};
    return [](int stage, int n, int total) {
        print(stderr, QStringLiteral("\r%1: exchange %2 of %3 ").arg(message(stage)).arg(n).arg(total)
                          + (n == total ? QStringLiteral("\n") : QString()));
        return true;
    };
}

// One type a field: band, channel and the bit rate numbers, the other list
// settings text; a list position no item names is in "raw" instead.
QJsonObject Run::recordJson(const UnitRecord &record) const
{
    QJsonObject o, raw;
    for (const auto &[key, value] : RecordFields(record)) {
        bool number = false;
        const int n = value.toInt(&number);
        if (value.startsWith(QLatin1String("raw "))) // a position no item names
            raw.insert(key, value.mid(4));
        else if (key == QLatin1String("band") || key == QLatin1String("channel")
                 || key == QLatin1String("bit-rate"))
            o.insert(key, n);
        else
            o.insert(key, value);
    }
    if (!raw.isEmpty())
        o.insert(QStringLiteral("raw"), raw);
    return o;
}

QString Run::recordText(const UnitRecord &record) const
{
    QStringList lines;
    for (const auto &[key, value] : RecordFields(record))
        lines << key.leftJustified(12) + QStringLiteral("= ") + value;
    return lines.join(QLatin1Char('\n'));
}

// The port as --port names it, or setcom.ini's; a port that is not there is
// a wrong command line, one that is there and does not open a port failure.
int Run::openPort()
{
    AppState &s = app();
    comm.setLinkDir(WorkFolder());
    int number = s.ComPort;
    QString device;
    if (r.port.startsWith(QLatin1String("COM"))) {
        number = r.port.mid(3).toInt();
        device = comm.deviceFor(number);
        portName = r.port;
    } else if (!r.port.isEmpty()) {
        // The device itself, whatever name leads to it, so that its lock
        // file stops a second run on it under another name. A link another
        // user made is not followed (the open refuses it, naming its owner).
        const QString target = QFileInfo(r.port).canonicalFilePath();
        device = target.isEmpty() || !ForeignLinkOwner(r.port).isEmpty() ? r.port : target;
        comm.setDevicePath(device);
        portName = r.port;
    } else {
        device = comm.deviceFor(number);
        portName = QStringLiteral("COM%1").arg(number);
    }
    out.insert(QStringLiteral("port"), portName);
    out.insert(QStringLiteral("device"), QDir::toNativeSeparators(device));
    MakeLogName(QDateTime::currentDateTime(),
                portName + QLatin1Char('-') + QString::number(QCoreApplication::applicationPid()));

    const QString hint = QLatin1Char('\n') + message(CliMessages::UsageHint);
#ifndef Q_OS_WIN
    // A link another user made is refused by the open, as a port failure.
    const bool foreign = !ForeignLinkOwner(device).isEmpty();
    if (!foreign && !QFileInfo::exists(device))
        return badPort(QStringLiteral("missing"),
                      message(CliMessages::NoSuchPort) + QStringLiteral(": ") + portName + QStringLiteral(" (")
                          + device + QStringLiteral("); ") + message(CliMessages::SeePorts) + hint);
    if (!foreign && !DevicePresent(device))
        return badPort(QStringLiteral("not-serial"),
                      device + QStringLiteral(": ") + message(CliMessages::NotSerialPort) + hint);
#endif
    const QString baud = r.baud.isEmpty() ? s.ComBaud : r.baud;
    const QString dataBits = r.dataBits.isEmpty() ? s.ComDataBits : r.dataBits;
    const QString parity = r.parity.isEmpty() ? s.ComParity : r.parity;
    const QString stopBits = r.stopBits.isEmpty() ? s.ComStopBits : r.stopBits;
    if (ReopenPort(comm, qint16(qBound(1, number, 255)), baud, dataBits, parity, stopBits)) {
        DiscardInput(comm); // an earlier run's late answer is none of this run's
        return -1;
    }
    // A character device that is no serial port (/dev/null) is as wrong a
    // port as a file or a FIFO.
    if (!comm.failedDevice().isEmpty()
        && DiagnoseOpen(comm.failedDevice(), comm.failedError(), comm.failedErrorText()).problem
            == OpenDiagnosis::NotSerial)
        return badPort(QStringLiteral("not-serial"), comm.failedDevice() + QStringLiteral(": ")
                                              + message(CliMessages::NotSerialPort) + hint);
    QString why = s.message(4);
    if (const QString device = OpenFailureText(comm); !device.isEmpty())
        why += QLatin1Char('\n') + device;
    if (!comm.failedDevice().isEmpty())
        out.insert(QStringLiteral("reason"),
                   OpenProblemCode(DiagnoseOpen(comm.failedDevice(), comm.failedError(),
                                                comm.failedErrorText())
                                       .problem));
    return finish(ExitCode::PortFailure, why);
}

int Run::fromApply(const ApplyResult &result)
{
    QJsonArray written;
    for (const QString &w : result.written)
        written.append(w);
    out.insert(QStringLiteral("written"), written);
    if (!result.backupPath.isEmpty())
        out.insert(QStringLiteral("backup"), QDir::toNativeSeparators(result.backupPath));
    QJsonArray differences;
    for (const Difference &d : result.differences)
        differences.append(QJsonObject{{QStringLiteral("what"), d.what},
                                       {QStringLiteral("meant"), d.meant},
                                       {QStringLiteral("holds"), d.holds}});
    out.insert(QStringLiteral("differences"), differences);
    // Each write and what it left in the unit: the same facts as the text.
    static const char *const states[] = {"not-written", "may-have-been-written", "written",
                                         "verified", "differs"};
    QJsonArray writes;
    for (const WriteOutcome &w : result.writes) {
        QJsonObject o{{QStringLiteral("what"), w.what},
                      {QStringLiteral("state"), QLatin1String(states[w.state])}};
        if (w.reason)
            o.insert(QStringLiteral("reason"), reasonCode(w.reason));
        writes.append(o);
    }
    out.insert(QStringLiteral("writes"), writes);
    out.insert(QStringLiteral("verified"), result.outcome == ApplyResult::Verified);
    const QString text =
        r.command == CliRequest::Preset ? result.describePreset() : result.describe();
    switch (result.outcome) {
    case ApplyResult::Verified:
        return finish(ExitCode::Done,
                      r.command == CliRequest::Apply || r.command == CliRequest::Preset
                          ? text
                          : message(CliMessages::WrittenVerified));
    case ApplyResult::Differ:
        return finish(ExitCode::Differences, text);
    case ApplyResult::Stopped:
        out.insert(QStringLiteral("failed"), result.failure.what);
        out.insert(QStringLiteral("reason"), reasonCode(result.failure.reason));
        return finish(exitFor(result.failure.reason), text);
    case ApplyResult::NotStarted:
        if (result.refusal == ConfigMessages::RecordNeedsWired) // said for a command line
            return finish(ExitCode::BadFile, message(CliMessages::RecordNeedsWiredPath));
        if (result.refusal)
            return finish(ExitCode::Failed, text);
        out.insert(QStringLiteral("failed"), result.failure.what);
        out.insert(QStringLiteral("reason"), reasonCode(result.failure.reason));
        return finish(exitFor(result.failure.reason), text);
    }
    return ExitCode::Failed;
}

int Run::execute()
{
    static const char *const names[] = {"help", "ports", "info", "read", "write",
                                        "reg get", "reg set", "save", "apply", "preset"};
    out.insert(QStringLiteral("command"), QLatin1String(names[r.command]));
    if (r.command == CliRequest::Ports) {
        QJsonArray devices, mapping;
        QStringList lines;
        for (const SerialDevice &d : ListSerialDevices(WorkFolder())) {
            QStringList coms;
            for (int n : d.comLinks)
                coms << QStringLiteral("COM%1").arg(n);
            devices.append(QJsonObject{{QStringLiteral("path"), d.path},
                                       {QStringLiteral("description"), d.description},
                                       {QStringLiteral("manufacturer"), d.manufacturer},
                                       {QStringLiteral("serialNumber"), d.serialNumber},
                                       {QStringLiteral("com"), QJsonArray::fromStringList(coms)}});
            lines << QStringLiteral("%1 %2 %3 %4 %5")
                         .arg(d.path.leftJustified(16), coms.join(u' ').leftJustified(6),
                              d.description, d.manufacturer, d.serialNumber)
                         .trimmed();
        }
        comm.setLinkDir(WorkFolder());
        lines << QString();
        for (int n = 1; n <= 9; ++n) {
            const QString device = comm.deviceFor(n);
            const bool present = DevicePresent(device);
            mapping.append(QJsonObject{{QStringLiteral("port"), QStringLiteral("COM%1").arg(n)},
                                       {QStringLiteral("device"), device},
                                       {QStringLiteral("present"), present}});
            lines << QStringLiteral("COM%1 -> %2 (%3)").arg(n).arg(device, app().dispName(present ? 25 : 26));
        }
        out.insert(QStringLiteral("devices"), devices);
        out.insert(QStringLiteral("com"), mapping);
        return finish(ExitCode::Done, lines.join(QLatin1Char('\n')));
    }

    // The files first: a wrong one sends nothing.
    UnitConfig file;
    if (r.command == CliRequest::Apply) {
        ConfigFileError error;
        const auto parsed = ReadConfigFile(r.file, &error);
        if (!parsed)
            return finish(ExitCode::BadFile, error.describe());
        // An edit of band or channel that the file's registers would undo.
        if (const auto conflict = MirrorConflict(*parsed))
            return finish(ExitCode::BadFile, conflict->describe());
        if (r.path == TransferPath::Registers && !parsed->record.isEmpty())
            return finish(ExitCode::BadFile, message(CliMessages::RecordNeedsWiredPath));
        file = *parsed;
    } else if (r.command == CliRequest::Save) {
        // Found out before the unit is read for nothing.
        const QFileInfo target(r.file);
        if (target.isDir() || !CanCreateIn(target.absolutePath()))
            return finish(ExitCode::Failed,
                          r.file + QStringLiteral(": ") + message(ConfigMessages::CannotWrite));
        // A unit's earlier configuration is not replaced by surprise.
        if ((target.exists() || target.isSymLink()) && !r.force)
            return finish(ExitCode::Failed,
                          r.file + QStringLiteral(": ") + message(CliMessages::FileExists));
    } else if (r.command == CliRequest::Preset) {
        if (!r.file.isEmpty() && !ReadFrhFile(r.file))
            return finish(ExitCode::BadFile, message(ConfigMessages::CannotRead) + QStringLiteral(": ") + r.file);
        if (!FrhPresetComplete())
            return finish(ExitCode::BadFile, message(CliMessages::PresetIncomplete));
    }
    if (const int code = openPort(); code >= 0)
        return code;

    switch (r.command) {
    case CliRequest::Info: {
        QString version;
        if (const int failed = ReadVersion(comm, timer, version))
            return exchangeFailed(failed, message(ConfigMessages::Version));
        UnitRecord record;
        if (const int failed = ReadRecord(comm, timer, record))
            return exchangeFailed(failed, message(ConfigMessages::Record));
        out.insert(QStringLiteral("version"), version);
        out.insert(QStringLiteral("record"), recordJson(record));
        return finish(ExitCode::Done, QStringLiteral("version     = ") + version + QLatin1Char('\n')
                                          + recordText(record));
    }
    case CliRequest::Read: {
        UnitRecord record;
        if (const int failed = ReadRecord(comm, timer, record))
            return exchangeFailed(failed, message(ConfigMessages::Record));
        out.insert(QStringLiteral("record"), recordJson(record));
        return finish(ExitCode::Done, recordText(record));
    }
    case CliRequest::Write: {
        UnitConfig change;
        change.record = r.changes;
        return fromApply(ApplyUnitConfig(comm, timer, TransferPath::Wired, change, QString(),
                                         portName, progress()));
    }
    case CliRequest::RegGet: {
        QString value;
        if (const int failed = ReadOneRegister(comm, timer, r.path, r.reg, value))
            return exchangeFailed(failed, RegisterName(r.reg));
        out.insert(QStringLiteral("register"), QStringLiteral("%1").arg(r.reg, 2, 10, QLatin1Char('0')));
        out.insert(QStringLiteral("value"), value);
        return finish(ExitCode::Done, QStringLiteral("%1 = %2").arg(r.reg, 2, 10, QLatin1Char('0')).arg(value));
    }
    case CliRequest::RegSet: {
        UnitConfig change;
        change.registers[size_t(r.reg)] = r.value;
        return fromApply(ApplyUnitConfig(comm, timer, r.path, change, QString(), portName, progress()));
    }
    case CliRequest::Save: {
        const ReadResult read = ReadUnitConfig(comm, timer, r.path, progress());
        if (!read.ok)
            return exchangeFailed(read.failure.reason, read.failure.what);
        QString error;
        if (!WriteConfigFile(r.file, WriteConfigText(read.config, portName, QDateTime::currentDateTime()),
                             r.force ? WriteMode::Replace : WriteMode::New, &error))
            return finish(ExitCode::Failed, r.file + QStringLiteral(": ") + error);
        out.insert(QStringLiteral("file"), QDir::toNativeSeparators(QFileInfo(r.file).absoluteFilePath()));
        out.insert(QStringLiteral("version"), read.config.version);
        out.insert(QStringLiteral("record"), recordJson(read.config.record));
        return finish(ExitCode::Done, message(ConfigMessages::Saved) + QLatin1Char(' ')
                                          + QDir::toNativeSeparators(r.file));
    }
    case CliRequest::Apply:
        return fromApply(ApplyUnitConfig(comm, timer, r.path, file, BackupFolder(), portName,
                                         progress()));
    case CliRequest::Preset:
        return fromApply(ApplyFrhPresetVerified(comm, timer, BackupFolder(), portName, progress()));
    default:
        return ExitCode::Failed;
    }
}

} // namespace

bool OnlyWindowOptions(const QStringList &args)
{
    // Options QGuiApplication takes, with a value and without; one dash or
    // two, the value after a blank (or an '=' where Qt takes one).
    static const QStringList withValue{
        QStringLiteral("style"),          QStringLiteral("stylesheet"),
        QStringLiteral("platform"),       QStringLiteral("platformpluginpath"),
        QStringLiteral("platformtheme"),  QStringLiteral("plugin"),
        QStringLiteral("session"),        QStringLiteral("display"),
        QStringLiteral("geometry"),       QStringLiteral("qwindowgeometry"),
        QStringLiteral("qwindowicon"),    QStringLiteral("qwindowtitle"),
        QStringLiteral("name"),           QStringLiteral("title")};
    static const QStringList alone{QStringLiteral("reverse"), QStringLiteral("widgetcount"),
                                   QStringLiteral("nograb"), QStringLiteral("dograb"),
                                   QStringLiteral("sync")};
    for (int i = 0; i < args.size(); ++i) {
        QString a = args.at(i);
        if (!a.startsWith(QLatin1Char('-')))
            return false;
        a.remove(0, a.startsWith(QLatin1String("--")) ? 2 : 1);
        const int eq = a.indexOf(QLatin1Char('='));
        const QString name = eq < 0 ? a : a.left(eq);
        const bool equalsForm =
            name == QLatin1String("style") || name == QLatin1String("stylesheet");
        if (withValue.contains(name)) {
            if (eq >= 0 ? !equalsForm : ++i >= args.size())
                return false;
        } else if (!alone.contains(name) || eq >= 0) {
            return false;
        }
    }
    return !args.isEmpty();
}

int RunCommandLine(const QStringList &args)
{
    // The manual page's commands, options and exit codes, from the tables the
    // help is made of; for the build, before any file is looked at.
    if (args == QStringList{QStringLiteral("--manual")}) {
        print(stdout, CommandLineManual());
        return g_outputFailed ? ExitCode::Failed : ExitCode::Done;
    }
    AppState &s = app();
    // The tests' way to shorten the unit's 7 s time-outs, as they do in process.
    if (const double scale = qEnvironmentVariable("QML_TIME_SCALE").toDouble(); scale > 0)
        TimeScale::set(scale);
    const TextFolderChoice files = LoadTextFiles().files;
    s.RxLineBuffer.clear();
    if (!files.problem.isEmpty())
        print(stderr, QStringLiteral("qmlsetup: ") + s.message(NotWrittenMessage) + QLatin1Char(' ')
                          + files.problem + QLatin1Char('\n'));

    CliError error;
    const auto request = ParseCommandLine(args, &error);
    if (!request) {
        const QString text = QStringLiteral("qmlsetup: ") + s.message(error.message)
            + (error.detail.isEmpty() ? QString() : QStringLiteral(": ") + error.detail);
        if (normalisedJson(args).contains(QStringLiteral("--json"))) {
            const QJsonObject doc{{QStringLiteral("ok"), false},
                                  {QStringLiteral("exit"), ExitCode::BadUsage},
                                  {QStringLiteral("message"), text}};
            print(stdout, QString::fromUtf8(QJsonDocument(doc).toJson(QJsonDocument::Indented)));
        }
        print(stderr, text + QLatin1Char('\n') + s.message(CliMessages::UsageHint) + QLatin1Char('\n'));
        return g_outputFailed ? ExitCode::Failed : ExitCode::BadUsage;
    }
    int code = ExitCode::Done;
    if (request->command == CliRequest::Help) {
        const QString help = CommandLineHelp(request->helpFor);
        if (request->json)
            print(stdout, QString::fromUtf8(QJsonDocument(QJsonObject{
                                                {QStringLiteral("command"), QStringLiteral("help")},
                                                {QStringLiteral("ok"), true},
                                                {QStringLiteral("exit"), ExitCode::Done},
                                                {QStringLiteral("help"), help}})
                                                .toJson(QJsonDocument::Indented)));
        else
            print(stdout, help);
    } else {
        Run run(*request);
        code = run.execute();
    }
    // An answer nobody could read is no answer given.
    if (g_outputFailed) {
        print(stderr, QStringLiteral("qmlsetup: ") + s.message(CliMessages::OutputFailed) + QLatin1Char('\n'));
        return ExitCode::Failed;
    }
    return code;
}
