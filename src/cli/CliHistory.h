#pragma once
// The site book seen from the command line: its entries listed, one shown
// whole, its backup written back as a file, older files taken in. No port.

#include "cli/CliRun.h"

class SiteBook;

namespace Cli {

int history(Run &run);
// The book cannot be used: exit 1, the book's place and the reason said.
int CannotUseBook(Run &run, const QString &reason);
// handover PLAN (CliHandover.cpp): the plan's handover document from the book.
int handover(Run &run);
// history import FOLDER (CliHistoryImport.cpp), on a book open for writing.
int historyImport(Run &run, SiteBook &book);
// `text` with what a terminal would act on (escapes, bidirectional
// overrides) shown as U+FFFD: entries may come from anyone's runs.
QString Printable(const QString &text);

} // namespace Cli

// Message-table numbers of what the history says.
namespace HistoryMessages {
constexpr int Off = 260;            // the site book is off: nothing recorded, no history
constexpr int CannotUse = 261;      // the site book cannot be used:
constexpr int NoSuchEntry = 262;    // the site book holds no entry of that id:
constexpr int NoBackup = 263;       // this entry holds no backup
constexpr int BackupWritten = 264;  // the entry's backup was written to:
constexpr int TakenIn = 265;        // %1 entries taken in, %2 already there
constexpr int NotTakenIn = 266;     // not taken in:
constexpr int OlderNotShown = 267;  // older entries are not shown: --limit
constexpr int BackupAltered = 268;  // the backup does not match its SHA-256
constexpr int NoEntries = 269;      // no entries
} // namespace HistoryMessages
