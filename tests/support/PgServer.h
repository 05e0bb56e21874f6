#pragma once
// A real PostgreSQL server of a test's own: a new cluster in a temporary
// folder, run as the `postgres` account (initdb and the server refuse root),
// reachable only through a Unix socket in that folder, so that no port is
// shared with anything else on the machine. It goes when the object does, and
// with the test's process should that die first.

#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <memory>
#include <optional>

class PgServer {
public:
    PgServer();
    ~PgServer();
    PgServer(const PgServer &) = delete;
    PgServer &operator=(const PgServer &) = delete;

    // Empty when a server can be run here, else why not (for QSKIP).
    static QString unavailable();

    // Makes the cluster on first use and starts the server, once it accepts
    // connections; false with the reason in error(). Again after stop(): the
    // same cluster, its roles and databases.
    bool start();
    // A fast shutdown: clients are cut off, as when a team's server goes down.
    bool stop();
    bool isRunning() const;

    // The folder of the socket: a URL's ?host=, libpq's host.
    QString socketFolder() const;
    // postgresql://user@/database?host=<socket folder>
    QString url(const QString &user, const QString &database) const;

    // Runs `statements` as the superuser (roles log in with SCRAM passwords);
    // psql's output, or nothing with the reason in error().
    std::optional<QString> sql(const QString &statements,
                               const QString &database = QStringLiteral("postgres"));

    QString error() const { return m_error; }

private:
    bool initialize();
    bool fail(const QString &reason);
    QString dataFolder() const;

    QTemporaryDir m_dir;
    std::unique_ptr<QProcess> m_server;
    bool m_initialized = false;
    QString m_error;
};
