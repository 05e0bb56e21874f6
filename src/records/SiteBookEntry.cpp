// An entry's own fields, and its form as one line of JSON (the pending file,
// the command line's history).
#include "records/SiteBookEntry.h"

#include <QCryptographicHash>
#include <QJsonDocument>
#include <QSysInfo>
#include <QUuid>

#ifndef Q_OS_WIN
#include <pwd.h>
#include <unistd.h>
#endif

namespace {

QString userName()
{
#ifndef Q_OS_WIN
    // The account, not what the environment claims; getpwuid_r, as entries
    // are begun on the windows' threads too.
    passwd pw{};
    passwd *found = nullptr;
    char buffer[4096];
    if (getpwuid_r(geteuid(), &pw, buffer, sizeof buffer, &found) == 0 && found)
        return QString::fromLocal8Bit(found->pw_name);
#endif
    const QString user = qEnvironmentVariable("USER");
    return user.isEmpty() ? qEnvironmentVariable("USERNAME") : user;
}

// Field names in the JSON and in the database alike.
const QString Keys[] = {QStringLiteral("id"),      QStringLiteral("time"),     QStringLiteral("user"),
                        QStringLiteral("host"),    QStringLiteral("program"),  QStringLiteral("action"),
                        QStringLiteral("site"),    QStringLiteral("plan"),     QStringLiteral("plan_sha256"),
                        QStringLiteral("unit"),    QStringLiteral("port"),     QStringLiteral("device"),
                        QStringLiteral("adapter"), QStringLiteral("version"),  QStringLiteral("result"),
                        QStringLiteral("detail"),  QStringLiteral("backup"),   QStringLiteral("backup_sha256"),
                        QStringLiteral("backup_text"), QStringLiteral("source")};

template <typename E>
auto textFields(E &e)
{
    return std::array<decltype(&e.id), 20>{&e.id,         nullptr,         &e.user,       &e.host,
                                           &e.programVersion, &e.action,   &e.site,       &e.planPath,
                                           &e.planSha256, &e.unit,         &e.port,       &e.device,
                                           &e.adapter,    &e.version,      &e.result,     &e.detail,
                                           &e.backupPath, &e.backupSha256, &e.backupText, &e.source};
}

} // namespace

QString ProgramVersion()
{
    return QStringLiteral(QMLSETUP_VERSION);
}

QString Sha256Hex(const QByteArray &bytes)
{
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

SiteBookEntry SiteBookEntry::begin(const QString &action)
{
    SiteBookEntry e;
    e.id = QUuid::createUuid().toString(QUuid::WithoutBraces);
    e.time = QDateTime::currentDateTimeUtc();
    e.user = userName();
    e.host = QSysInfo::machineHostName();
    e.programVersion = ProgramVersion();
    e.action = action;
    return e;
}

void SiteBookEntry::setBackup(const QString &path, const QByteArray &text)
{
    backupPath = path;
    backupText = QString::fromUtf8(text);
    backupSha256 = text.isNull() ? QString() : Sha256Hex(text);
}

QJsonObject SiteBookEntry::toJson() const
{
    QJsonObject o;
    const auto fields = textFields(*this);
    for (size_t i = 0; i < fields.size(); ++i)
        if (fields[i] && !fields[i]->isEmpty())
            o.insert(Keys[i], *fields[i]);
    o.insert(QStringLiteral("time"), time.toUTC().toString(Qt::ISODateWithMs));
    if (!before.isEmpty())
        o.insert(QStringLiteral("before"), before);
    if (!after.isEmpty())
        o.insert(QStringLiteral("after"), after);
    o.insert(QStringLiteral("exit"), exitCode);
    return o;
}

std::optional<SiteBookEntry> SiteBookEntry::fromJson(const QJsonObject &o)
{
    SiteBookEntry e;
    auto fields = textFields(e);
    for (size_t i = 0; i < fields.size(); ++i)
        if (fields[i])
            *fields[i] = o.value(Keys[i]).toString();
    e.time = QDateTime::fromString(o.value(QStringLiteral("time")).toString(), Qt::ISODateWithMs);
    if (e.id.isEmpty() || !e.time.isValid())
        return std::nullopt;
    e.time = e.time.toUTC();
    e.before = o.value(QStringLiteral("before")).toObject();
    e.after = o.value(QStringLiteral("after")).toObject();
    e.exitCode = o.value(QStringLiteral("exit")).toInt();
    return e;
}

QJsonObject SettingsOf(const UnitConfig &config)
{
    QJsonObject o;
    for (const auto &[key, value] : RecordFields(config.record))
        o.insert(key, value);
    for (int n = 0; n < UnitConfig::Registers; ++n)
        if (const auto &value = config.registers[size_t(n)])
            o.insert(QStringLiteral("register %1").arg(n, 2, 10, QLatin1Char('0')), *value);
    return o;
}
