// Where the site book is, from --site-book, the environment or the default.
#include "records/SiteBookPlace.h"

#include "records/SiteBookMessages.h"

#include <QDir>
#include <QFileInfo>
#include <QUrl>
#include <QUrlQuery>

QString SiteBookPlace::shown() const
{
    switch (kind) {
    case Off:
        return QStringLiteral("off");
    case File:
        return QDir::toNativeSeparators(path);
    case Server: {
        QUrl url;
        url.setScheme(QStringLiteral("postgresql"));
        url.setUserName(user);
        url.setHost(host.startsWith(QLatin1Char('/')) ? QString() : host);
        if (port)
            url.setPort(port);
        url.setPath(QLatin1Char('/') + database);
        if (host.startsWith(QLatin1Char('/')))
            url.setQuery(QStringLiteral("host=") + host);
        return url.toString();
    }
    }
    return QString();
}

std::optional<SiteBookPlace> SiteBookPlaceFor(const QString &argument, const QString &environment,
                                              const QString &workFolder, QString *error)
{
    const bool given = !argument.isEmpty();
    const QString value = given ? argument : environment;
    SiteBookPlace place;
    if (!workFolder.isEmpty())
        place.pendingPath = QDir(workFolder).filePath(QLatin1String(SiteBookPendingName));
    if (value == QLatin1String("off"))
        return place;
    if (value.isEmpty()) {
        // Nowhere to make files: no book, and nothing is said to be recorded.
        if (workFolder.isEmpty())
            return place;
        place.kind = SiteBookPlace::File;
        place.path = QDir(workFolder).filePath(QLatin1String(SiteBookFileName));
        return place;
    }
    if (!value.startsWith(QLatin1String("postgresql://")) && !value.startsWith(QLatin1String("postgres://"))) {
        place.kind = SiteBookPlace::File;
        place.path = QFileInfo(value).absoluteFilePath();
        return place;
    }
    const QUrl url(value, QUrl::StrictMode);
    const QString database = url.path().mid(1);
    const QString socket = QUrlQuery(url).queryItemValue(QStringLiteral("host"), QUrl::FullyDecoded);
    QStringList keys;
    for (const auto &item : QUrlQuery(url).queryItems())
        keys << item.first;
    keys.removeAll(QStringLiteral("host"));
    // Any other key (a password=) would be neither used nor hidden.
    if (!url.isValid() || database.isEmpty() || database.contains(QLatin1Char('/')) || !keys.isEmpty()) {
        const QString why = SiteBookText(SiteBookMessages::BadUrl) + QStringLiteral(": ")
            + url.toString(QUrl::RemovePassword | QUrl::RemoveQuery);
        if (given) {
            *error = why;
            return std::nullopt;
        }
        // A run still does its work; its entries wait until the URL is put right.
        place.kind = SiteBookPlace::Server;
        place.problem = why;
        return place;
    }
    // An argument shows in every user's list of processes.
    if (given && !url.password().isEmpty()) {
        *error = SiteBookText(SiteBookMessages::PasswordInArgument);
        return std::nullopt;
    }
    place.kind = SiteBookPlace::Server;
    place.host = socket.isEmpty() ? url.host() : socket;
    place.port = url.port(0);
    place.user = url.userName();
    place.password = url.password();
    place.database = database;
    return place;
}
