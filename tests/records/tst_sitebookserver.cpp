// The site book on a team's PostgreSQL server, a real one the test starts:
// two operators, each a role with a home and a pending file of their own,
// share one book; a server that goes away keeps entries pending until it is
// back, and then they go in once; a password comes from where libpq looks
// for it and is never shown.

#include "config/modFile.h"
#include "core/AppState.h"
#include "records/SiteBook.h"
#include "support/PgServer.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QUuid>

namespace {

const QString Database = QStringLiteral("sitebook");

// Where an operator's password comes from.
enum How { PgPass, Environment, Url };

// An operator of the team: a role, and a home of their own, where libpq
// finds ~/.pgpass and the program its work folder and pending file.
struct Operator {
    QString role, password;
    How how = PgPass;
    QTemporaryDir home;
    SiteBookPlace place;

    QString work() const { return home.filePath(QStringLiteral("work")); }
    // This process as the operator runs it; false when the place is refused.
    bool enter(const PgServer &server, QString *error, int pgpassMode = 0600)
    {
        QDir(home.path()).mkpath(QStringLiteral("work"));
        qputenv("HOME", QFile::encodeName(home.path()));
        qunsetenv("PGPASSWORD");
        if (how == PgPass) {
            QFile f(home.filePath(QStringLiteral(".pgpass")));
            f.open(QIODevice::WriteOnly | QIODevice::Truncate);
            f.write("*:*:*:" + role.toUtf8() + ':' + password.toUtf8() + '\n');
            f.setPermissions(QFile::Permissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner)
                             | (pgpassMode == 0600 ? QFile::Permissions() : QFileDevice::ReadOther));
        } else if (how == Environment) {
            qputenv("PGPASSWORD", password.toUtf8());
        }
        // A URL that holds a password comes only from the environment.
        const QString url = how == Url ? server.url(role + ':' + password, Database)
                                       : server.url(role, Database);
        const auto p = SiteBookPlaceFor(how == Url ? QString() : url, how == Url ? url : QString(),
                                        work(), error);
        if (p)
            place = *p;
        return bool(p);
    }
};

SiteBookEntry entryAt(const QString &site, const QString &unit)
{
    SiteBookEntry e = SiteBookEntry::begin(QStringLiteral("read"));
    e.site = site;
    e.unit = unit;
    e.result = QStringLiteral("read");
    e.after = QJsonObject{{QStringLiteral("band"), QStringLiteral("2")}};
    return e;
}

QString aSite()
{
    return QStringLiteral("site-") + QUuid::createUuid().toString(QUuid::Id128).left(12);
}

QByteArray contentOf(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The lines of `path` that hold `text`.
int linesWith(const QString &path, const QString &text)
{
    int n = 0;
    for (const QByteArray &line : contentOf(path).split('\n'))
        n += line.contains(text.toUtf8());
    return n;
}

} // namespace

class TestSiteBookServer : public QObject {
    Q_OBJECT
    FreshState state;
    PgServer server;
    Operator alice{QStringLiteral("alice"), QStringLiteral("alice-pw-7Qx2")};
    Operator bob{QStringLiteral("bob"), QStringLiteral("bob-pw-9Kd4")};

    // The entries of `site` in the book as `who` reads it.
    int entriesOf(Operator &who, const QString &site)
    {
        QString error;
        if (!who.enter(server, &error))
            return -1;
        SiteBook book(who.place);
        if (!book.open(&error))
            return -1;
        SiteBook::Query query;
        query.text = site;
        const auto found = book.entries(query, &error);
        return found ? int(found->size()) : -1;
    }

private slots:
    void initTestCase()
    {
        if (const QString why = PgServer::unavailable(); !why.isEmpty())
            QSKIP(qPrintable(why));
        // Reasons are texts of the message table, as the program shows them.
        app().ShippedTextDir = qEnvironmentVariable("QML_DIST") + QStringLiteral("/lang/en/");
        ReadMessageIni();
        QVERIFY2(!app().message(1).isEmpty(), "no message table: QML_DIST names the dist folder");
        QVERIFY2(server.start(), qPrintable(server.error()));
        // Through psql's input, where no other process sees the passwords;
        // whichever of the two makes the tables, the other may use them.
        QVERIFY2(server.sql(QStringLiteral("CREATE ROLE alice LOGIN PASSWORD '%1';"
                                           "CREATE ROLE bob LOGIN PASSWORD '%2';"
                                           "CREATE DATABASE sitebook OWNER alice;")
                                .arg(alice.password, bob.password))
                     && server.sql(QStringLiteral("GRANT USAGE, CREATE ON SCHEMA public TO bob;"
                                                  "ALTER DEFAULT PRIVILEGES FOR ROLE alice IN SCHEMA public"
                                                  " GRANT SELECT, INSERT, UPDATE, DELETE ON TABLES TO bob;"
                                                  "ALTER DEFAULT PRIVILEGES FOR ROLE bob IN SCHEMA public"
                                                  " GRANT SELECT, INSERT, UPDATE, DELETE ON TABLES TO alice;"),
                                   Database),
                 qPrintable(server.error()));
    }
    void init()
    {
        if (!server.isRunning())
            QVERIFY2(server.start(), qPrintable(server.error())); // after a failed test
    }

    void eachSeesTheOther_data()
    {
        QTest::addColumn<int>("how");
        QTest::newRow("~/.pgpass") << int(PgPass);
        QTest::newRow("PGPASSWORD") << int(Environment);
        QTest::newRow("the environment's URL") << int(Url);
    }
    void eachSeesTheOther()
    {
        QFETCH(int, how);
        alice.how = bob.how = How(how);
        const QString site = aSite();
        QString error;
        // Both books open at once, each on its own connection as its own role.
        QVERIFY2(alice.enter(server, &error), qPrintable(error));
        SiteBook aliceBook(alice.place);
        QVERIFY2(aliceBook.open(&error), qPrintable(error));
        QVERIFY2(bob.enter(server, &error), qPrintable(error));
        SiteBook bobBook(bob.place);
        QVERIFY2(bobBook.open(&error), qPrintable(error));
        const SiteBookEntry byAlice = entryAt(site, QStringLiteral("tank-1"));
        const SiteBookEntry byBob = entryAt(site, QStringLiteral("tank-2"));
        const auto a = aliceBook.record(byAlice);
        const auto b = bobBook.record(byBob);
        QVERIFY2(a.recorded && !a.duplicate && a.pendingFile.isEmpty(), qPrintable(a.reason));
        QVERIFY2(b.recorded && !b.duplicate && b.pendingFile.isEmpty(), qPrintable(b.reason));
        const auto bobsSeen = aliceBook.entry(byBob.id, &error);
        QCOMPARE(bobsSeen ? bobsSeen->after : QJsonObject(), byBob.after);
        QCOMPARE(entriesOf(alice, site), 2);
        QCOMPARE(entriesOf(bob, site), 2);
    }

    void pendingUntilTheServerIsBack_data()
    {
        QTest::addColumn<bool>("openFirst");
        QTest::newRow("down after the book opened") << true;
        QTest::newRow("down before") << false;
    }
    void pendingUntilTheServerIsBack()
    {
        QFETCH(bool, openFirst);
        alice.how = bob.how = PgPass;
        const QString site = aSite();
        QString error;
        QVERIFY2(bob.enter(server, &error) && alice.enter(server, &error), qPrintable(error));
        QVERIFY(alice.place.pendingPath.startsWith(alice.work() + '/'));
        QVERIFY(bob.place.pendingPath.startsWith(bob.work() + '/'));
        auto aliceBook = std::make_unique<SiteBook>(alice.place);
        if (openFirst)
            QVERIFY2(aliceBook->open(&error), qPrintable(error));

        QVERIFY(server.stop());
        const SiteBookEntry byAlice = entryAt(site, QStringLiteral("tank-1"));
        const SiteBookEntry byBob = entryAt(site, QStringLiteral("tank-2"));
        alice.enter(server, &error);
        const auto a = aliceBook->record(byAlice);
        QVERIFY(!a.recorded && !a.reason.isEmpty());
        QCOMPARE(a.pendingFile, alice.place.pendingPath);
        QCOMPARE(linesWith(a.pendingFile, byAlice.id), 1);
        bob.enter(server, &error);
        const auto b = SiteBook(bob.place).record(byBob);
        QVERIFY(!b.recorded);
        QCOMPARE(b.pendingFile, bob.place.pendingPath);
        QCOMPARE(linesWith(b.pendingFile, byBob.id), 1);
        QCOMPARE(linesWith(a.pendingFile, byBob.id), 0);

        QVERIFY2(server.start(), qPrintable(server.error()));
        // Alice's next run moves her entry in, not Bob's, which waits for his.
        QCOMPARE(entriesOf(alice, site), 1);
        QCOMPARE(linesWith(a.pendingFile, byAlice.id), 0);
        QCOMPARE(linesWith(b.pendingFile, byBob.id), 1);
        QCOMPARE(entriesOf(bob, site), 2);
        QCOMPARE(linesWith(b.pendingFile, byBob.id), 0);
        // Once only, however often the book opens.
        QCOMPARE(entriesOf(alice, site), 2);
        QCOMPARE(entriesOf(bob, site), 2);
    }

    void passwordNeverShown_data()
    {
        QTest::addColumn<int>("how");
        QTest::addColumn<QString>("password");
        QTest::addColumn<int>("pgpassMode");
        QTest::addColumn<bool>("serverUp");
        const QString wrong = QStringLiteral("wrong-pw-5Zt8");
        QTest::newRow("a wrong one in ~/.pgpass") << int(PgPass) << wrong << 0600 << true;
        QTest::newRow("a wrong one in PGPASSWORD") << int(Environment) << wrong << 0600 << true;
        QTest::newRow("a wrong one in the environment's URL") << int(Url) << wrong << 0600 << true;
        QTest::newRow("~/.pgpass others can read, not used") << int(PgPass) << QString() << 0644 << true;
        QTest::newRow("~/.pgpass, the server down") << int(PgPass) << QString() << 0600 << false;
        QTest::newRow("PGPASSWORD, the server down") << int(Environment) << QString() << 0600 << false;
        QTest::newRow("the environment's URL, the server down") << int(Url) << QString() << 0600 << false;
    }
    void passwordNeverShown()
    {
        QFETCH(int, how);
        QFETCH(QString, password);
        QFETCH(int, pgpassMode);
        QFETCH(bool, serverUp);
        Operator carol;
        carol.role = alice.role;
        carol.how = How(how);
        carol.password = password.isEmpty() ? alice.password : password;
        QString error;
        QVERIFY2(carol.enter(server, &error, pgpassMode), qPrintable(error));
        if (!serverUp)
            QVERIFY(server.stop());
        const auto never = [&](const QString &text) {
            return !text.contains(carol.password) && !text.contains(alice.password);
        };
        SiteBook book(carol.place);
        QString reason;
        QVERIFY(!book.open(&reason));
        QVERIFY2(never(reason) && !reason.isEmpty(), qPrintable(reason));
        const SiteBookEntry entry = entryAt(aSite(), QStringLiteral("tank-1"));
        const auto r = book.record(entry);
        QVERIFY(!r.recorded);
        QVERIFY2(never(r.reason) && !r.reason.isEmpty(), qPrintable(r.reason));
        QCOMPARE(linesWith(r.pendingFile, entry.id), 1);
        QVERIFY(never(QString::fromUtf8(contentOf(r.pendingFile))));
        QVERIFY2(never(carol.place.shown()), qPrintable(carol.place.shown()));
        // Given where `ps` would show it, the URL is refused without repeating it.
        if (carol.how == Url) {
            const QString url = server.url(carol.role + ':' + carol.password, Database);
            QVERIFY(!SiteBookPlaceFor(url, QString(), carol.work(), &error));
            QVERIFY2(never(error) && !error.isEmpty(), qPrintable(error));
        }
    }
};

QTEST_GUILESS_MAIN(TestSiteBookServer)
#include "tst_sitebookserver.moc"
