// An entry into the database as bound values only, and the transaction
// around it.
#include "records/SiteBookPrivate.h"

#include <QJsonDocument>
#include <QVariant>

namespace SiteBookSql {

bool begin(QSqlDatabase &db, bool server, QString *error)
{
    QSqlQuery q(db);
    if (q.exec(server ? QStringLiteral("BEGIN") : QStringLiteral("BEGIN IMMEDIATE")))
        return true;
    *error = SiteBook::Private::errorOf(q);
    return false;
}

bool commit(QSqlDatabase &db, QString *error)
{
    QSqlQuery q(db);
    if (q.exec(QStringLiteral("COMMIT")))
        return true;
    *error = SiteBook::Private::errorOf(q);
    return false;
}

void rollback(QSqlDatabase &db)
{
    QSqlQuery(db).exec(QStringLiteral("ROLLBACK"));
}

int insert(QSqlDatabase &db, const SiteBookEntry &e, QString *error)
{
    QSqlQuery q(db);
    q.prepare(QStringLiteral(
        "INSERT INTO site_book_entries (id, time, user_name, host, program, action, site, plan, "
        "plan_sha256, unit, port, device, adapter, version, result, exit_code, backup, backup_sha256, "
        "source, search) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?) "
        "ON CONFLICT (id) DO NOTHING"));
    // NOT NULL columns: an empty text goes in as '', never as NULL; a NUL
    // (a unit's garbled version text) as U+FFFD, which every database takes.
    const auto text = [](const QString &s) {
        return s.isNull() ? QString(QLatin1String("")) : QString(s).replace(QChar(0), QChar(0xFFFD));
    };
    for (const QString &v : {e.id, e.time.toUTC().toString(Qt::ISODateWithMs), e.user, e.host, e.programVersion,
                             e.action, e.site, e.planPath, e.planSha256, e.unit, e.port, e.device,
                             e.adapter, e.version, e.result})
        q.addBindValue(text(v));
    q.addBindValue(e.exitCode);
    for (const QString &v : {e.backupPath, e.backupSha256, e.source})
        q.addBindValue(text(v));
    // What the filter looks through, one text: tabs keep the fields apart.
    q.addBindValue(text(QStringList{e.site, e.unit, e.adapter, e.version, e.user, e.result}.join(QLatin1Char('\t'))));
    if (!q.exec()) {
        *error = SiteBook::Private::errorOf(q);
        return -1;
    }
    if (q.numRowsAffected() == 0)
        return 0;
    QSqlQuery details(db);
    details.prepare(QStringLiteral("INSERT INTO site_book_details (id, detail, before, after, backup_text) "
                                   "VALUES (?, ?, ?, ?, ?)"));
    details.addBindValue(e.id);
    details.addBindValue(text(e.detail));
    details.addBindValue(text(QString::fromUtf8(QJsonDocument(e.before).toJson(QJsonDocument::Compact))));
    details.addBindValue(text(QString::fromUtf8(QJsonDocument(e.after).toJson(QJsonDocument::Compact))));
    details.addBindValue(text(e.backupText));
    if (!details.exec()) {
        *error = SiteBook::Private::errorOf(details);
        return -1;
    }
    return 1;
}

} // namespace SiteBookSql
