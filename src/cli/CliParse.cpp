// The command line's words into a request: options, the command and its
// arguments, each value checked as a configuration file checks it.
#include "cli/CliParse.h"

#include "cli/CliTables.h"
#include "core/AppState.h"

#include <QCommandLineParser>
#include <QRegularExpression>

namespace Cli {

QStringList NormalisedJson(const QStringList &args)
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

namespace {

bool fail(CliError *error, int message, const QString &detail)
{
    *error = {message, detail};
    return false;
}

bool count(const QStringList &words, int least, int most)
{
    return words.size() >= least && words.size() <= most;
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

bool noWords(const QStringList &words, CliError *error)
{
    return count(words, 0, 0) || fail(error, CliMessages::WrongArguments, words.join(u' '));
}

bool oneFile(const QStringList &words, CliRequest &r, CliError *error)
{
    if (!count(words, 1, 1) || words.first().isEmpty())
        return fail(error, CliMessages::WrongArguments, words.join(u' '));
    r.file = words.first();
    return true;
}

} // namespace

bool ParsePorts(const QStringList &words, CliRequest &r, CliError *error)
{
    r.command = CliRequest::Ports;
    return noWords(words, error);
}

bool ParseInfo(const QStringList &words, CliRequest &r, CliError *error)
{
    r.command = CliRequest::Info;
    return noWords(words, error);
}

bool ParseRead(const QStringList &words, CliRequest &r, CliError *error)
{
    r.command = CliRequest::Read;
    return noWords(words, error);
}

bool ParseWrite(const QStringList &words, CliRequest &r, CliError *error)
{
    if (words.isEmpty())
        return fail(error, CliMessages::NotKeyValue, QString());
    r.command = CliRequest::Write;
    QStringList seen;
    for (const QString &w : words) {
        const int eq = w.indexOf(QLatin1Char('='));
        if (eq <= 0)
            return fail(error, CliMessages::NotKeyValue, w);
        const QString key = w.left(eq).trimmed().toLower();
        if (seen.contains(key))
            return fail(error, ConfigMessages::Twice, key);
        seen << key;
        const auto one = parseAsFile(QStringLiteral("record"), key, w.mid(eq + 1), error);
        if (!one)
            return false;
        UnitRecord merged = one->record;
        merged.fillFrom(r.changes);
        r.changes = merged;
    }
    return true;
}

bool ParseReg(const QStringList &words, CliRequest &r, CliError *error)
{
    const QString verb = words.value(0);
    if (!((verb == QLatin1String("get") && count(words, 2, 2))
          || (verb == QLatin1String("set") && count(words, 3, 3))))
        return fail(error, CliMessages::WrongArguments, words.join(u' '));
    QString number = words.value(1);
    if (number.size() == 1 && number[0].isDigit())
        number.prepend(QLatin1Char('0'));
    const QString value = verb == QLatin1String("set") ? words.value(2) : QStringLiteral("00");
    const auto one = parseAsFile(QStringLiteral("registers"), number, value, error);
    if (!one) {
        error->detail = verb == QLatin1String("set") ? words.value(1) + QLatin1Char(' ') + value
                                                     : words.value(1);
        return false;
    }
    r.reg = number.toInt();
    r.command = verb == QLatin1String("get") ? CliRequest::RegGet : CliRequest::RegSet;
    r.value = one->registers[size_t(r.reg)].value_or(QString());
    return true;
}

bool ParseSave(const QStringList &words, CliRequest &r, CliError *error)
{
    r.command = CliRequest::Save;
    return oneFile(words, r, error);
}

bool ParseApply(const QStringList &words, CliRequest &r, CliError *error)
{
    r.command = CliRequest::Apply;
    return oneFile(words, r, error);
}

bool ParsePreset(const QStringList &words, CliRequest &r, CliError *error)
{
    if (!count(words, 0, 1) || (count(words, 1, 1) && words.first().isEmpty()))
        return fail(error, CliMessages::WrongArguments, words.join(u' '));
    r.command = CliRequest::Preset;
    r.file = words.value(0);
    return true;
}

bool ParseNetwork(const QStringList &words, CliRequest &r, CliError *error)
{
    r.command = CliRequest::Network;
    if (!oneFile(words, r, error))
        return false;
    for (const QString &p : std::as_const(r.ports))
        if (p.indexOf(QLatin1Char('=')) <= 0 || p.endsWith(QLatin1Char('=')))
            return fail(error, CliMessages::NotKeyValue, QStringLiteral("--ports ") + p);
    if (r.sequential && !r.unit.isEmpty())
        return fail(error, CliMessages::NotForCommand, QStringLiteral("--sequential --unit"));
    if (!r.retry.isEmpty() && (!r.unit.isEmpty() || r.compareOnly))
        return fail(error, CliMessages::NotForCommand,
                    QStringLiteral("--retry ") + (r.compareOnly ? QStringLiteral("--compare") : QStringLiteral("--unit")));
    return true;
}

bool ParseCompare(const QStringList &words, CliRequest &r, CliError *error)
{
    r.command = CliRequest::Compare;
    r.compareOnly = true;
    return oneFile(words, r, error);
}

} // namespace Cli

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
    const QCommandLineOption ports(QStringLiteral("ports"), QString(), QStringLiteral("list"));
    const QCommandLineOption report(QStringLiteral("report"), QString(), QStringLiteral("file"));
    const QCommandLineOption sequential(QStringLiteral("sequential"));
    const QCommandLineOption unit(QStringLiteral("unit"), QString(), QStringLiteral("name"));
    const QCommandLineOption compare(QStringLiteral("compare"));
    const QCommandLineOption trace(QStringLiteral("trace"));
    const QCommandLineOption progress(QStringLiteral("progress"));
    const QCommandLineOption retry(QStringLiteral("retry"), QString(), QStringLiteral("report"));
    const QCommandLineOption siteBook(QStringLiteral("site-book"), QString(), QStringLiteral("place"));
    const QCommandLineOption site(QStringLiteral("site"), QString(), QStringLiteral("site"));
    const QCommandLineOption name(QStringLiteral("name"), QString(), QStringLiteral("name"));
    const QCommandLineOption device(QStringLiteral("device"), QString(), QStringLiteral("port"));
    const QCommandLineOption since(QStringLiteral("since"), QString(), QStringLiteral("day"));
    const QCommandLineOption until(QStringLiteral("until"), QString(), QStringLiteral("day"));
    const QCommandLineOption limit(QStringLiteral("limit"), QString(), QStringLiteral("n"));
    const QCommandLineOption csv(QStringLiteral("csv"));
    const QCommandLineOption out(QStringLiteral("out"), QString(), QStringLiteral("file"));
    parser.addOptions({port, baud, dataBits, parity, stopBits, path, json, force, help, ports,
                       report, sequential, unit, compare, trace, retry, siteBook, site, name, device,
                       since, until, limit, csv, out, progress});
    if (!parser.parse(QStringList{QStringLiteral("qmlsetup")} + Cli::NormalisedJson(args))) {
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
        if (!r.helpFor.isEmpty() && !Cli::FindCommand(r.helpFor))
            return fail(CliMessages::UnknownCommand, r.helpFor);
        return r;
    }

    // Where the book is, resolved (and a password refused) once the run starts;
    // an empty value would quietly mean the default book.
    r.siteBook = parser.value(siteBook);
    if (parser.isSet(siteBook) && r.siteBook.isEmpty())
        return fail(ConfigMessages::BadValue, QStringLiteral("--site-book ''"));
    r.port = parser.value(port);
    r.force = parser.isSet(force);
    r.trace = parser.isSet(trace);
    r.progress = parser.isSet(progress);
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
    const Cli::CommandInfo *info = Cli::FindCommand(command);
    if (!info)
        return fail(CliMessages::UnknownCommand, command);
    for (const QString &p : parser.values(ports))
        r.ports += p.split(QLatin1Char(','), Qt::SkipEmptyParts);
    r.report = parser.value(report);
    r.sequential = parser.isSet(sequential);
    r.unit = parser.value(unit);
    r.compareOnly = parser.isSet(compare);
    r.retry = parser.value(retry);
    r.site = parser.value(site);
    r.name = parser.value(name);
    r.device = parser.value(device);
    r.csv = parser.isSet(csv);
    r.out = parser.value(out);
    const auto given = [&](const QCommandLineOption &o) {
        return parser.isSet(o) ? std::optional<QString>(parser.value(o)) : std::nullopt;
    };
    if (!Cli::ParseHistoryFilters(given(since), given(until), given(limit), r, error))
        return std::nullopt;
    if (!info->parse(words, r, error))
        return std::nullopt;
    // The network's own options mean nothing to another command.
    const bool network = r.command == CliRequest::Network || r.command == CliRequest::Compare;
    for (const QCommandLineOption *o : {&ports, &report, &sequential, &unit, &compare, &retry})
        if (!network && parser.isSet(*o))
            return fail(CliMessages::NotForCommand, QStringLiteral("--") + o->names().first());
    // The history's filters and forms only for its list of entries.
    const bool list = r.command == CliRequest::History && r.historyVerb == CliRequest::List;
    for (const QCommandLineOption *o : {&site, &name, &device, &since, &until, &limit, &csv})
        if (!list && parser.isSet(*o))
            return fail(CliMessages::NotForCommand, QStringLiteral("--") + o->names().first());
    if (parser.isSet(out) && r.command != CliRequest::Handover)
        return fail(CliMessages::NotForCommand, QStringLiteral("--out"));
    if (parser.isSet(out) && r.out.isEmpty()) // else quietly the default name
        return fail(ConfigMessages::BadValue, QStringLiteral("--out ''"));
    if (r.command == CliRequest::Compare && (r.sequential || !r.unit.isEmpty() || !r.retry.isEmpty()))
        return fail(CliMessages::NotForCommand, r.sequential   ? QStringLiteral("--sequential")
                                                    : r.unit.isEmpty() ? QStringLiteral("--retry")
                                                                       : QStringLiteral("--unit"));
    return r;
}

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
