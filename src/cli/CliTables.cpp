// The command line's commands, options and exit codes as tables.
#include "cli/CliTables.h"

#include "cli/CliParse.h"

namespace Cli {
namespace {

const CommandInfo CommandRows[] = {
    {"ports", "ports", "Lists the serial devices present and what COM1 to COM9 reach.", "", ParsePorts},
    {"info", "info", "Reads the unit's version text and its settings record.", "", ParseInfo},
    {"read", "read", "Reads the unit's settings record.", "", ParseRead},
    {"write", "write KEY=VALUE...", "Changes fields of the settings record, writes and verifies it.",
     "The fields not named are taken as read from the unit. Keys and values as in a\n"
     "configuration file: band=0..4 channel=0..23 type=master|slave\n"
     "antenna=single|diversity bit-rate=2400..115200 data-length=7|8\n"
     "parity=none|even|odd stop-bits=1|2 flow=none|rts-cts\n"
     "\n"
     "The unit's own configuration is saved in backups/ first, as apply saves it;\n"
     "where it cannot be, nothing is sent (exit 1). Each field it changed is said\n"
     "with the value it had and the value it has now.",
     ParseWrite},
    {"reg", "reg get NN | reg set NN VV", "Reads or writes (and verifies) one register.",
     "NN is 00 to 27; VV two hexadecimal digits. On the register path reg set resets\n"
     "the unit after the write (@RST), as the register editor does, and says so\n"
     "(\"reset\": true with --json).",
     ParseReg},
    {"save", "save FILE", "Saves the unit's whole configuration in FILE.",
     "An existing FILE is replaced only with --force.", ParseSave},
    {"apply", "apply FILE", "Applies a configuration file, with a backup and a verification.",
     "The unit's own configuration is saved in backups/ first; what FILE holds is\n"
     "written, then read back and compared.",
     ParseApply},
    {"preset", "preset [FILE]", "Writes the FRH register preset, verifies it and resets the unit.",
     "The preset is FRH10.ini, or FILE of its form; refused when the table does not\n"
     "hold 28 values of two hexadecimal digits. The unit's registers are saved in\n"
     "backups/ first, and read back after the writes, before the reset. A preset\n"
     "stopped before its reset does not send it, and says so.",
     ParsePreset},
    {"network", "network PLAN", "Sets up every unit of a network plan, each verified; keeps a report.",
     "Each unit on its own port, all at once: a backup, the record written, then\n"
     "read back and compared, exactly as apply.\n"
     "\n"
     "It prints one line a unit, the check that the units that answered share band\n"
     "and channel and one is the master, and one summary line. The report (CSV and\n"
     "JSON) is kept in backups/.\n"
     "\n"
     "PLAN may be - (standard input); its format is below (and in the manual page's\n"
     "NETWORK PLAN). Unit names match as a person reads them: case and width aside,\n"
     "the micro sign and mu alike.\n"
     "  --ports NAME=PORT,...  a unit's port for this run (COMn or a device path)\n"
     "  --report FILE          the report also in FILE (CSV when it ends in .csv)\n"
     "  --sequential           one port, the units plugged in one after another:\n"
     "                         each is set up when it answers, the next once the\n"
     "                         line has been quiet for 3 s; a unit that comes back\n"
     "                         holding what was just written is asked about on a\n"
     "                         terminal, else taken for the same unit\n"
     "  --unit NAME            this unit alone, in this process; with PLAN a file,\n"
     "                         a new report completes the plan's last one\n"
     "  --retry REPORT         only the units REPORT did not verify; a new report\n"
     "                         carries the others forward and names REPORT\n"
     "Changed: the exit code is now the most serious outcome over all units, in\n"
     "this order: 2, 3, 4, 8, 5, 1, 6 (differs, or the units disagree), 130/143, 0\n"
     "(it was the first unit's in the plan). 7: the plan cannot be used.",
     ParseNetwork},
    {"compare", "compare FILE|PLAN", "Reads the unit (or each unit of a plan) and lists what differs.",
     "Nothing is written. Each difference as what the file means and what the\n"
     "unit holds. Exit 0 when everything matches, 6 when something differs.",
     ParseCompare},
    {"history",
     "history [show ID | backup ID FILE | import FOLDER]",
     "Lists the site book's entries: every read, write and set-up of a unit.",
     "One line an entry, newest first: the time (UTC), the site, the unit, the\n"
     "adapter (else the port), what was done, the result and the entry's id. No\n"
     "port is opened. The book is the one --site-book or QML47210_SITE_BOOK names,\n"
     "else sitebook.sqlite beside backups/.\n"
     "  --site S, --name N     entries of that site, of that unit\n"
     "  --device P             entries on that port, device or adapter\n"
     "  --since YYYY-MM-DD     entries of that day (UTC) and later\n"
     "  --until YYYY-MM-DD     entries of that day (UTC) and earlier\n"
     "  --limit N              the N newest (default 100); when there are older\n"
     "                         ones, standard error says so (\"more\" with --json)\n"
     "  --csv                  CSV with a header row; a cell a spreadsheet would\n"
     "                         run as a formula begins with '\n"
     "The filters match whole values as typed, case aside, % and _ included. With\n"
     "--json: \"entries\", each with id, time, user, site, unit, port, device,\n"
     "adapter, action, result, version and backup.\n"
     "\n"
     "history show ID: the entry whole: each field, the settings before and after\n"
     "side by side (a changed one marked *), and the backup kept with it.\n"
     "\n"
     "history backup ID FILE: the entry's backup as a configuration file that\n"
     "apply takes; an existing FILE is replaced only with --force.\n"
     "\n"
     "history import FOLDER: the backups (backup-*.ini) and network reports\n"
     "(network-*.json) in FOLDER made before the book was kept, each taken in\n"
     "once; says how many entries were taken in and how many were already there.\n"
     "\n"
     "Exit 0; 1 when the book cannot be used (the reason is said) or is off\n"
     "(--site-book off), an entry holds no backup, or a file in FOLDER cannot be\n"
     "taken in; 2 for bad usage or an id the book does not hold.",
     ParseHistory},
    {"handover", "handover PLAN [--out FILE] [--force]",
     "Makes the plan's handover document from the site book: one HTML file to print.",
     "For the plan's site, each unit of the plan as the site book shows it now:\n"
     "its latest set-up and, when later, its latest compare. A unit reads as\n"
     "verified only where that entry says verified and what it read back is what\n"
     "the plan means now; else differs, failed, or not set up (no set-up in the\n"
     "book). The document holds a title block (site, plan and its SHA-256, when,\n"
     "by whom, the program's version), the network drawn (the master in the\n"
     "middle, each unit coloured by its state) with the checks across the units,\n"
     "a page a unit (the record meant and held side by side, version, adapter,\n"
     "port, when and by whom, the backup and its SHA-256, what differs), a page of\n"
     "labels with QR codes, and a sign-off. Its CSS and SVG are in the file:\n"
     "nothing is fetched, nothing runs. Print it to PDF from a browser (A4), or:\n"
     "  chromium --headless --no-pdf-header-footer --print-to-pdf=FILE.pdf FILE.html\n"
     "  --out FILE   where to write it; default handover-SITE-DATE.html here (SITE\n"
     "               with what a file name cannot hold made _, DATE yyyyMMdd)\n"
     "  --force      replace an existing file (else it is refused)\n"
     "No port is opened; nothing is recorded. Exit 0; 1 when the site book is off\n"
     "or cannot be read, or the file cannot be written (nothing half made is\n"
     "left); 7 when the plan cannot be used.",
     ParseHandover},
};

const OptionInfo OptionRows[] = {
    {"--port PORT", "COMn (mapped as the windows map it) or a device path; default: the port in "
                    "setcom.ini"},
    {"--baud N, --data-bits N, --parity N|E|O, --stop-bits 1|1.5|2",
     "the serial settings; default: those in setcom.ini"},
    {"--path wired|registers",
     "the unit's command path; registers after the FRH preset; default: wired"},
    {"--json", "one JSON document on standard output, for every outcome (also --json=1)"},
    {"--force", "save, history backup, handover: replace an existing file"},
    {"--out FILE", "handover: where the document goes"},
    {"--trace", "every line sent and received on standard error as it happens, with the time and "
                "what the program made of it; network: each unit's lines after its name"},
    {"--progress", "write, reg set, save, apply, preset, network: a line a stage on standard "
                   "error (the unit, the stage, exchange n of N, the time left once known), also "
                   "where it is no terminal; on a terminal a line a running unit is always shown, "
                   "rewritten in place (with --trace a line a stage, among the trace's)"},
    {"--ports, --report, --sequential, --unit, --retry", "network: see qmlsetup network --help"},
    {"--site-book FILE|off|postgresql://[USER@]HOST[:PORT]/DATABASE[?host=/SOCKET/FOLDER]",
     "the site book every command records to and history reads: an SQLite file, none (off) or a "
     "PostgreSQL server; a password is refused here, where ps would show it: put it in "
     "QML47210_SITE_BOOK's URL, PGPASSWORD or ~/.pgpass. Default: QML47210_SITE_BOOK, else "
     "sitebook.sqlite beside backups/"},
    {"--site, --name, --device, --since, --until, --limit, --csv",
     "history: see qmlsetup history --help"},
    {"-h, --help", "this help; COMMAND --help for one command"},
};

const ExitInfo ExitRows[] = {
    {ExitCode::Done, "done (and verified, where it writes)"},
    {ExitCode::Failed, "another failure: a file that cannot be written, a backup that cannot be "
                       "made, standard output that cannot be written, a site book that cannot be "
                       "read (history, handover)"},
    {ExitCode::BadUsage, "bad usage, a port that does not exist or is no serial port included; "
                         "nothing was sent; history: an id the site book does not hold"},
    {ExitCode::PortFailure, "the port did not open (the reason is printed)"},
    {ExitCode::NoAnswer, "no answer at all, or the line was lost"},
    {ExitCode::Refused, "refused by the unit"},
    {ExitCode::Differences, "written, but the unit holds other values"},
    {ExitCode::BadFile, "a configuration or preset file, or a network plan, that cannot be used"},
    {ExitCode::OtherAnswer, "answers came, but none that fits the command, or none to be trusted "
                            "(in-doubt: two reads after a resend that disagree, a write refused "
                            "after its resend)"},
    {ExitCode::Interrupted, "write, reg set, apply, preset: stopped by SIGINT (Ctrl-C) once the "
                            "exchange under way had ended, what went out read back and printed; a "
                            "second signal ends the run at once, saying what may have been written"},
    {ExitCode::Terminated, "the same for SIGTERM"},
};

template <typename T, int N> Table<T> table(const T (&rows)[N])
{
    return {rows, N};
}

} // namespace

Table<CommandInfo> Commands() { return table(CommandRows); }
Table<OptionInfo> Options() { return table(OptionRows); }
Table<ExitInfo> Exits() { return table(ExitRows); }

const CommandInfo *FindCommand(const QString &name)
{
    for (const CommandInfo &c : CommandRows)
        if (name == QLatin1String(c.name))
            return &c;
    return nullptr;
}

} // namespace Cli
