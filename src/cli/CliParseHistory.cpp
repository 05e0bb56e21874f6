// The site book's commands' words (the history, the handover document): what it is asked to do, and its filters, each
// checked before the book is opened.
#include "cli/CliParse.h"

#include "protocol/UnitConfig.h"

#include <QRegularExpression>

namespace Cli {
namespace {

bool fail(CliError *error, int message, const QString &detail)
{
    *error = {message, detail};
    return false;
}

} // namespace

bool ParseHistory(const QStringList &words, CliRequest &r, CliError *error)
{
    r.command = CliRequest::History;
    const QString verb = words.value(0);
    const int n = int(words.size());
    if (words.contains(QString()))
        return fail(error, CliMessages::WrongArguments, words.join(u' '));
    if (words.isEmpty())
        r.historyVerb = CliRequest::List;
    else if (verb == QLatin1String("show") && n == 2)
        r.historyVerb = CliRequest::Show;
    else if (verb == QLatin1String("backup") && n == 3)
        r.historyVerb = CliRequest::Backup;
    else if (verb == QLatin1String("import") && n == 2)
        r.historyVerb = CliRequest::Import;
    else
        return fail(error, CliMessages::WrongArguments, words.join(u' '));
    r.entryId = r.historyVerb == CliRequest::Import ? QString() : words.value(1);
    r.file = r.historyVerb == CliRequest::Backup ? words.value(2)
        : r.historyVerb == CliRequest::Import   ? words.value(1)
                                                 : QString();
    if (r.csv && r.json)
        return fail(error, CliMessages::NotForCommand, QStringLiteral("--csv --json"));
    return true;
}

bool ParseHandover(const QStringList &words, CliRequest &r, CliError *error)
{
    r.command = CliRequest::Handover;
    if (words.size() != 1 || words.first().isEmpty())
        return fail(error, CliMessages::WrongArguments, words.join(u' '));
    r.file = words.first();
    return true;
}

bool ParseHistoryFilters(const std::optional<QString> &since, const std::optional<QString> &until,
                         const std::optional<QString> &limit, CliRequest &r, CliError *error)
{
    for (const auto &[name, value, date] : {std::tuple{"--since ", &since, &r.since}, {"--until ", &until, &r.until}}) {
        if (!*value)
            continue;
        // A day as YYYY-MM-DD, nothing looser: a time after it would be dropped unsaid.
        static const QRegularExpression day(QStringLiteral("^[0-9]{4}-[0-9]{2}-[0-9]{2}$"));
        *date = QDate::fromString(**value, Qt::ISODate);
        if (!day.match(**value).hasMatch() || !date->isValid())
            return fail(error, ConfigMessages::BadValue, QLatin1String(name) + **value);
    }
    if (r.since.isValid() && r.until.isValid() && r.since > r.until)
        return fail(error, ConfigMessages::BadValue,
                    QStringLiteral("--since %1 --until %2").arg(*since, *until));
    if (limit) {
        bool ok = false;
        r.limit = limit->toInt(&ok);
        if (!ok || r.limit <= 0)
            return fail(error, ConfigMessages::BadValue, QStringLiteral("--limit ") + *limit);
    }
    return true;
}

} // namespace Cli
