#pragma once
// What a command-line run prints: UTF-8 text, or one JSON document with
// --json, and the exit code that goes with it.

#include "protocol/UnitConfig.h"
#include "protocol/UnitTransfer.h"

#include <QJsonObject>
#include <QString>
#include <cstdio>
#include <functional>

namespace Cli {

// UTF-8 on every platform, JSON included; a console's code page is the
// terminal's business.
void Print(FILE *stream, const QString &text);
// Standard output could not take what was printed (closed, a full disk):
// the run then ends with exit code 1, whatever it did with the unit.
bool OutputFailed();
bool IsTerminal(FILE *stream);

QString Message(int n);
// A word for people (a state, a column's name) in the operator's language,
// once InstallCliTranslation has been given it (CliWords.cpp); `english` as
// it is where there is no translation.
QString Word(const QString &english);
void InstallCliTranslation(const QString &language);
// The terminal columns `text` takes, and `text` followed by blanks to `columns`.
int TerminalColumns(const QString &text);
QString Padded(const QString &text, int columns);
// An exchange's failure (a message number) as an exit code, and as a word
// for programs; the message says it for people.
int ExitFor(int reason);
QString ReasonCode(int reason);
// What to check next after an exchange failed for `reason` (CliAdvice.cpp);
// empty where there is nothing to add. WatchLastLines() lets it say what
// came where an answer did not fit.
QString FailureAdvice(int reason);
void WatchLastLines();
// The fields `meant` names whose value the unit holds otherwise.
QList<Difference> RecordDifferences(const UnitRecord &meant, const UnitRecord &holds);

// One type a field: band, channel and the bit rate numbers, the other list
// settings text; a list position no item names is in "raw" instead.
QJsonObject RecordJson(const UnitRecord &record);
QString RecordText(const UnitRecord &record);

// The result of one run, gathered as it goes and printed once.
class Output {
public:
    explicit Output(bool json) : m_json(json) {}

    void insert(const QString &key, const QJsonValue &value) { m_doc.insert(key, value); }
    // Gathers without printing: a result a caller reports in its own words.
    void setQuiet(bool quiet) { m_quiet = quiet; }
    const QJsonObject &document() const { return m_doc; }
    // Prints the result (the text to standard error unless done) and returns `code`.
    int finish(int code, const QString &text);
    // A port that is not there or no serial port: bad usage, and why as a code.
    int badPort(const QString &code, const QString &text);
    int exchangeFailed(int reason, const QString &what);
    // A write, an apply or a preset: each write's state, the differences and
    // the backup, with the exit code of the outcome; on the register path
    // whether the unit was reset.
    int applied(const ApplyResult &result, bool describeInFull, bool preset,
                bool registerPath = false);
    // A run a signal stopped: `code` whatever the outcome, `lead` before the
    // result's text and `tail` after it.
    void stoppedBy(int code, const QString &lead) { m_stopCode = code; m_lead = lead; }
    void addTail(const QString &lines) { m_tail += (m_tail.isEmpty() ? QString() : QStringLiteral("\n")) + lines; }
    // Called once the outcome is known, before anything is printed: the
    // site book's entry, which may add to the document.
    using Recorder = std::function<void(int code, const QString &text, QJsonObject &doc)>;
    void setRecorder(Recorder recorder) { m_recorder = std::move(recorder); }

private:
    bool m_json;
    bool m_quiet = false;
    QJsonObject m_doc;
    int m_stopCode = 0;
    QString m_lead, m_tail;
    Recorder m_recorder;
};

} // namespace Cli
