#pragma once
// What an exchange sequence did, said once for the command line and the
// windows alike: an entry's result word, its detail, the settings before and
// after, and the backup kept with it.

#include "protocol/UnitTransfer.h"
#include "records/SiteBookEntry.h"

// A read of the unit: `config` as far as it was read.
void EntryRead(SiteBookEntry &entry, const UnitConfig &config);
// A read or a write that failed: why (a message number), and at what.
void EntryFailed(SiteBookEntry &entry, int reason, const QString &what);
// A write, an apply or the preset: each write's state, the differences, the
// unit before (the backup) and after (what was read back), and the backup's
// file taken in whole. `written`: what the transfer wrote; `preset`:
// described as the preset is.
void EntryApplied(SiteBookEntry &entry, const ApplyResult &result, const UnitConfig &written,
                  bool preset = false);

// "site book: not recorded (REASON); kept for later in FILE", or that it
// could not be kept either.
QString NotRecordedText(const QString &reason, const QString &pendingFile);

// The recorder both front ends use: the place chosen for this process, the
// network plan's part of each entry, and one book opened on first use.
class SiteBook;
struct SiteBookPlace;
namespace SiteBookRecorder {
// The place entries go to from now on; Off records nothing.
void setPlace(const SiteBookPlace &place);
const SiteBookPlace &place();
// The plan an entry belongs to: its site, path, digest and the unit's name.
void setPlan(const QString &site, const QString &path, const QString &sha256, const QString &unit);
// Fills in the port, device and the adapter's stable name, and the plan's part.
void setPort(SiteBookEntry &entry, const QString &port, const QString &device);
// Records `entry` (nothing when the place is Off): the book's answer.
struct Outcome {
    bool off = true;
    bool recorded = false;
    QString reason, pendingFile;
};
Outcome record(const SiteBookEntry &entry);
// The book itself, for the history: opened on first use; nullptr when off.
SiteBook *book();
// Closes the book: before the application object goes, whose drivers it uses.
void close();
} // namespace SiteBookRecorder
