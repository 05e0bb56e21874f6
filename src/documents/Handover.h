#pragma once
// The handover document: a site's network as the site book shows it now,
// for the customer. One HTML file with its CSS and SVG inline (a diagram, a
// section a unit, a page of labels with QR codes, a sign-off), nothing
// fetched, no script, A4. Text in, text out: no widgets, no port.

#include "protocol/NetworkPlan.h"
#include "records/SiteBookEntry.h"

#include <QDate>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

class SiteBook;

struct HandoverUnit {
    enum State { Verified, Differs, Failed, NotSetUp };
    NetworkUnit planned;
    State state = NotSetUp;
    // Its latest set-up, and its latest compare when that came later.
    std::optional<SiteBookEntry> setUp, compared;
    // Each field it holds otherwise than the plan, for people.
    QStringList differences;
    // The entry that says what it holds now, or none.
    const SiteBookEntry *now() const;
    // What that entry read the unit to hold: read back after a write, or read
    // (a compare keeps it as the unit was found).
    QJsonObject held() const;
};

struct Handover {
    QString site, planPath, planSha256, language; // language: "ja" or "en"
    QDateTime made; // UTC
    QString user, host, programVersion;
    NetworkPlan plan;
    QList<HandoverUnit> units;
};

// Each of the plan's units as the book shows it: the entries of the plan's
// site whose unit is one of the plan's by name (NetworkNameKey). A unit
// reads as verified only where its last word was "verified" and what was
// read back then is what the plan means now. Nothing, with the reason, when
// the book cannot be read.
std::optional<Handover> GatherHandover(SiteBook &book, const NetworkPlan &plan, const QString &planPath,
                                       const QString &planText, QString *error);

// The document whole.
QString HandoverHtml(const Handover &handover);
// The network as inline SVG: the master in the middle, the slaves around it.
QString HandoverDiagram(const Handover &handover);
// What a unit's label and its QR code say, one item a line.
QString HandoverLabelText(const Handover &handover, const HandoverUnit &unit);
// A state as a word of the operator's language.
QString HandoverStateText(HandoverUnit::State state);
// The site's fields across the units read back: whether exactly one holds the
// master's role and all hold one band and channel, said for people.
QStringList HandoverChecks(const Handover &handover);
// Writes the document to `file` whole: over a file there only when
// `replace`, else refused (`taken`) if one is there or appears meanwhile.
// False with the reason.
bool WriteHandoverFile(const QString &file, const QString &html, bool replace, QString *error,
                       bool *taken = nullptr);
// KIND-SITE-DATE.EXTENSION, with what a file name cannot hold made _.
QString SiteFileName(const QString &kind, const QString &site, const QDate &date, const QString &extension);
// handover-SITE-DATE.html
QString HandoverFileName(const QString &site, const QDate &date);

// Message-table numbers of the document's texts: 285 the title, then in
// order site, plan, made, made by, program, network, the four states (292 ..
// 295), the checks, yes/no, unit, role, master, slave, setting, meant, held,
// version, adapter, port, verified, last entry, backup, labels, sign-off,
// name, date, signature, commissioned by, accepted by, no entry, band,
// channel, serial settings, state, what the program said, set up, compared,
// differences, written to; 336 on: no QR code, how to fill the book, --out
// a folder, --out the book or the plan.
namespace HandoverMessages {
constexpr int Title = 285, Site = 286, Plan = 287, Made = 288, MadeBy = 289, Program = 290, Network = 291;
constexpr int FirstState = 292; // verified, differs, failed, not set up
constexpr int OneMaster = 296, OneBandChannel = 297, Yes = 298, No = 299;
constexpr int Unit = 300, Role = 301, Master = 302, Slave = 303, Setting = 304, Meant = 305, Held = 306;
constexpr int Version = 307, Adapter = 308, Port = 309, VerifiedAt = 310, LastEntry = 311, Backup = 312;
constexpr int Labels = 313, SignOff = 314, Name = 315, Date = 316, Signature = 317, CommissionedBy = 318,
              AcceptedBy = 319, NoEntry = 320, Band = 321, Channel = 322, Serial = 323, State = 324,
              ProgramSaid = 325, SetUp = 326, Compared = 327, Differences = 328, WrittenTo = 329;
constexpr int BookOff = 332; // the site book is off: nothing to make a handover document from
constexpr int NoQrCode = 336, MakeBookHint = 337, OutIsFolder = 338, OutIsSource = 339;
} // namespace HandoverMessages
