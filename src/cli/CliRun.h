#pragma once
// One run of a command against the unit, and the table of what each command
// does in it.

#include "cli/CliOutput.h"
#include "cli/CommandLine.h"
#include "protocol/NetworkPlan.h"
#include "protocol/NetworkReport.h"
#include "records/SiteBookEntry.h"
#include "serial/CommControl.h"
#include "serial/ReplyTimer.h"

namespace Cli {

struct Run {
    explicit Run(const CliRequest &request) : r(request), out(request.json) {}
    // An answer still due is left for the next run on the device to wait
    // out: every run that opened a port, a network unit's included.
    ~Run();
    Run(const Run &) = delete;
    Run &operator=(const Run &) = delete;

    // The port as --port names it, or setcom.ini's: -1 when it is open, else
    // the exit code, its reason printed.
    int openPort();
    // The port opened again as openPort() opened it (an adapter plugged back
    // in); false while it cannot be.
    bool reopenPort();

    const CliRequest &r;
    CommControl comm;
    ReplyTimer timer;
    Output out;
    QString portName;
    QString device;  // what the port opens: an earlier run's mark is kept by it
    UnitConfig file; // apply: the file, read before the port opens
    NetworkPlan plan; // network, compare: the plan, read before any port opens
    QString planText;
    int unit = -1;    // network --unit: the plan's unit
    int portNumber = 0; // COMn's n, or setcom.ini's
    // network --retry, --unit by hand: the plan's units, and the report this
    // run completes (its other units carried forward).
    NetworkPlan wholePlan;
    std::optional<NetworkReport> completes;
    QString completesPath;
    // The site book's entry for this run, begun once the port is open; the
    // command fills in what it did, and it is recorded with the outcome.
    std::optional<SiteBookEntry> entry;
    void beginEntry(const QString &action);

private:
    QString resolvePort();
    bool openAsSet();
    bool hasComLink() const;
    bool comLinkAtOpen = false; // COMn was a link when the port first opened
};

// A command's work: `prepare` before any port opens (a wrong file sends
// nothing; -1 to go on), then `run` on the open port, or alone for a command
// that needs no port.
struct Runner {
    CliRequest::Command command;
    const char *name; // the JSON's "command"
    bool opensPort;
    int (*prepare)(Run &);
    int (*run)(Run &);
};

const Runner *FindRunner(CliRequest::Command command);

// A command's writes to the unit under Ctrl-C and a terminate
// (CliStopped.cpp): a first signal stops the transfer once the exchange under
// way has ended, then what went out is read back and said, with exit code
// 130 or 143; a second ends the run at once, saying what may have been
// written.
class StoppableWrites {
public:
    // `writes`: what the transfer writes; `shown`: the progress for people.
    StoppableWrites(Run &run, const UnitConfig &writes, TransferPath path, TransferProgress shown);
    TransferProgress progress();
    // Prints the result, with what a stop left, and returns the exit code.
    int finish(const ApplyResult &result, bool describeInFull, bool preset);

private:
    void armAtOnce(int stage);
    void readBack(const ApplyResult &result);

    Run &m_run;
    TransferPath m_path;
    UnitConfig m_writes;
    TransferProgress m_shown;
    QStringList m_names;  // each write's name, in the order they go out
    QList<int> m_targets; // the register each writes, -1 for the record
    int m_begun = 0;      // writes begun so far
};

// The network commands (CliNetwork.cpp).
int prepareNetwork(Run &run);
int network(Run &run);
int prepareCompare(Run &run);
int compare(Run &run);

// Records `entry` with the outcome (CliSiteBook.cpp); where the book cannot
// take it, says so on standard error and in the document, the exit code
// left as the unit's.
void RecordOutcome(SiteBookEntry entry, int code, const QString &text, QJsonObject &doc);

// The book this run records into, from --site-book, the environment or the
// default; false with the reason (bad usage).
bool ChooseSiteBook(const CliRequest &request, QString *error);

} // namespace Cli
