// Reading the book: entries newest first, a page at a time, filtered by
// bound values only.
#include "records/SiteBookMessages.h"
#include "records/SiteBookPrivate.h"

#include <QJsonDocument>
#include <QSqlRecord>
#include <QVariant>

namespace {

const QString Columns = QStringLiteral(
    "e.id, e.time, e.user_name, e.host, e.program, e.action, e.site, e.plan, e.plan_sha256, e.unit, "
    "e.port, e.device, e.adapter, e.version, e.result, e.exit_code, e.backup, e.backup_sha256, e.source");
const QString DetailColumns = QStringLiteral(", d.detail, d.before, d.after, d.backup_text");

// The text as it stands inside a LIKE pattern: % and _ match themselves.
QString literal(QString text)
{
    return text.replace(QLatin1Char('\\'), QStringLiteral("\\\\"))
        .replace(QLatin1Char('%'), QStringLiteral("\\%"))
        .replace(QLatin1Char('_'), QStringLiteral("\\_"));
}

SiteBookEntry entryOf(const QSqlQuery &q, bool whole)
{
    SiteBookEntry e;
    int i = 0;
    for (QString *field : {&e.id})
        *field = q.value(i++).toString();
    e.time = QDateTime::fromString(q.value(i++).toString(), Qt::ISODateWithMs).toUTC();
    for (QString *field : {&e.user, &e.host, &e.programVersion, &e.action, &e.site, &e.planPath, &e.planSha256,
                           &e.unit, &e.port, &e.device, &e.adapter, &e.version, &e.result})
        *field = q.value(i++).toString();
    e.exitCode = q.value(i++).toInt();
    for (QString *field : {&e.backupPath, &e.backupSha256, &e.source})
        *field = q.value(i++).toString();
    if (whole) {
        e.detail = q.value(i++).toString();
        e.before = QJsonDocument::fromJson(q.value(i++).toString().toUtf8()).object();
        e.after = QJsonDocument::fromJson(q.value(i++).toString().toUtf8()).object();
        e.backupText = q.value(i++).toString();
    }
    return e;
}

} // namespace

std::optional<QList<SiteBookEntry>> SiteBook::entries(const Query &query, QString *error, bool whole)
{
    if (query.text.contains(QChar(0)) || query.site.contains(QChar(0)) || query.unit.contains(QChar(0))
        || query.device.contains(QChar(0))) {
        *error = SiteBookText(SiteBookMessages::NulInFilter);
        return std::nullopt;
    }
    if (!open(error, false))
        return std::nullopt;
    // Case does not count, on either database.
    const QString like = d->server ? QStringLiteral(" ILIKE ? ESCAPE '\\'") : QStringLiteral(" LIKE ? ESCAPE '\\'");
    QStringList where;
    QVariantList values;
    // Site, unit, adapter, version, user and result, kept apart by tabs: a
    // text with a tab of its own (pasted from a table) is looked for in each
    // field, or it would match across two. SQLite refuses a LIKE pattern over
    // 50 000 bytes; instr() has no such limit, and lower() folds just the
    // letters LIKE does, but takes four times as long: for long texts only.
    if (!query.text.isEmpty()) {
        const QStringList columns = query.text.contains(QLatin1Char('\t'))
            ? QStringList{QStringLiteral("e.site"), QStringLiteral("e.unit"), QStringLiteral("e.adapter"),
                          QStringLiteral("e.version"), QStringLiteral("e.user_name"), QStringLiteral("e.result")}
            : QStringList{QStringLiteral("e.search")};
        const bool byLike = d->server || query.text.size() <= 1000;
        QStringList any;
        for (const QString &column : columns) {
            any << (byLike ? column + like : QStringLiteral("instr(lower(%1), lower(?)) > 0").arg(column));
            values << (byLike ? QStringLiteral("%") + literal(query.text) + QStringLiteral("%") : query.text);
        }
        where << QLatin1Char('(') + any.join(QStringLiteral(" OR ")) + QLatin1Char(')');
    }
    if (!query.site.isEmpty()) {
        where << QStringLiteral("e.site") + like;
        values << literal(query.site);
    }
    if (!query.unit.isEmpty()) {
        where << QStringLiteral("e.unit") + like;
        values << literal(query.unit);
    }
    if (!query.device.isEmpty()) {
        where << QStringLiteral("(e.port") + like + QStringLiteral(" OR e.device") + like
                + QStringLiteral(" OR e.adapter") + like + QLatin1Char(')');
        values << literal(query.device) << literal(query.device) << literal(query.device);
    }
    // Times are kept as ISO 8601 text in UTC, which sorts as time does.
    if (query.since.isValid()) {
        where << QStringLiteral("e.time >= ?");
        values << query.since.toString(Qt::ISODate);
    }
    if (query.until.isValid()) {
        where << QStringLiteral("e.time < ?");
        values << query.until.addDays(1).toString(Qt::ISODate);
    }
    if (query.olderThan.isValid()) {
        where << QStringLiteral("(e.time < ? OR (e.time = ? AND e.id < ?))");
        const QString t = query.olderThan.toUTC().toString(Qt::ISODateWithMs);
        values << t << t << query.olderThanId;
    }
    QString sql = QStringLiteral("SELECT ") + Columns + (whole ? DetailColumns : QString())
        + QStringLiteral(" FROM site_book_entries e")
        + (whole ? QStringLiteral(" LEFT JOIN site_book_details d ON d.id = e.id") : QString());
    if (!where.isEmpty())
        sql += QStringLiteral(" WHERE ") + where.join(QStringLiteral(" AND "));
    sql += QStringLiteral(" ORDER BY e.time DESC, e.id DESC");
    if (query.limit > 0)
        sql += QStringLiteral(" LIMIT %1").arg(query.limit);
    QSqlQuery q(d->db());
    q.setForwardOnly(true);
    q.prepare(sql);
    for (const QVariant &v : values)
        q.addBindValue(v);
    if (!q.exec()) {
        *error = SiteBookText(SiteBookMessages::CannotOpen) + QStringLiteral(": ") + Private::errorOf(q);
        return std::nullopt;
    }
    QList<SiteBookEntry> out;
    while (q.next())
        out << entryOf(q, whole);
    return out;
}

std::optional<SiteBookEntry> SiteBook::entry(const QString &id, QString *error)
{
    if (!open(error, false))
        return std::nullopt;
    QSqlQuery q(d->db());
    q.prepare(QStringLiteral("SELECT ") + Columns + DetailColumns
              + QStringLiteral(" FROM site_book_entries e LEFT JOIN site_book_details d ON d.id = e.id"
                               " WHERE e.id = ?"));
    q.addBindValue(id);
    if (!q.exec()) {
        *error = SiteBookText(SiteBookMessages::CannotOpen) + QStringLiteral(": ") + Private::errorOf(q);
        return std::nullopt;
    }
    if (!q.next()) {
        error->clear();
        return std::nullopt;
    }
    return entryOf(q, true);
}

qint64 SiteBook::count()
{
    if (!open(nullptr, false))
        return -1;
    QSqlQuery q(d->db());
    if (!q.exec(QStringLiteral("SELECT count(*) FROM site_book_entries")) || !q.next())
        return -1;
    return q.value(0).toLongLong();
}
