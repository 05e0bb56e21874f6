#include "support/PgServer.h"

#include "support/TestSupport.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcessEnvironment>

#include <csignal>
#include <pwd.h>
#include <unistd.h>

namespace {

const QString Bin = QStringLiteral("/usr/lib/postgresql/15/bin/");
const char *Account = "postgres";
const QString Superuser = QStringLiteral("postgres");

bool asRoot() { return ::geteuid() == 0; }

// What the test's own environment says about connections (PGPASSWORD,
// PGHOST, a HOME with a .pgpass) is for the program under test, never for
// the server or the superuser's psql.
QProcessEnvironment serverEnvironment()
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const QString &name : env.keys())
        if (name.startsWith(QLatin1String("PG")))
            env.remove(name);
    env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C"));
    env.insert(QStringLiteral("PGPASSFILE"), QStringLiteral("/dev/null"));
    return env;
}

QString lastLines(const QByteArray &text, int n = 5)
{
    const QStringList lines = QString::fromLocal8Bit(text).trimmed().split(QLatin1Char('\n'));
    return lines.mid(qMax(0, int(lines.size()) - n)).join(QLatin1String(" | "));
}

// Runs `program` to its end, as the server's account when the test is root;
// its output, or nothing with the reason.
std::optional<QByteArray> run(const QString &program, const QStringList &args, QString *reason,
                              const QByteArray &input = QByteArray(), const QString &asServerIn = QString())
{
    QProcess p;
    p.setProcessEnvironment(serverEnvironment());
    const bool asServer = !asServerIn.isEmpty();
    if (asServer) // the test's own folder may be closed to that account
        p.setWorkingDirectory(asServerIn);
    if (asServer && asRoot())
        p.start(QStringLiteral("runuser"),
                QStringList{QStringLiteral("-u"), QString::fromLatin1(Account), QStringLiteral("--"),
                            program}
                    + args);
    else
        p.start(program, args);
    if (!p.waitForStarted(10000)) {
        *reason = program + QStringLiteral(" did not start: ") + p.errorString();
        return std::nullopt;
    }
    p.write(input);
    p.closeWriteChannel();
    if (!p.waitForFinished(60000)) {
        p.kill();
        p.waitForFinished();
        *reason = program + QStringLiteral(" did not finish");
        return std::nullopt;
    }
    const QByteArray out = p.readAllStandardOutput();
    if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        *reason = QFileInfo(program).fileName() + QStringLiteral(" failed: ")
            + lastLines(p.readAllStandardError() + out);
        return std::nullopt;
    }
    return out;
}

} // namespace

// A short path of its own: a socket's path has room for about 100 bytes, and
// the server's account must reach the folder through every one above it.
PgServer::PgServer() : m_dir(QStringLiteral("/tmp/qml-pg-XXXXXX")) {}

PgServer::~PgServer()
{
    stop();
}

QString PgServer::unavailable()
{
    for (const char *program : {"initdb", "postgres", "psql"})
        if (!QFileInfo(Bin + QLatin1String(program)).isExecutable())
            return Bin + QLatin1String(program) + QStringLiteral(" is not installed (postgresql)");
    if (asRoot() && !::getpwnam(Account))
        return QStringLiteral("there is no postgres account to run the server as");
    return {};
}

QString PgServer::dataFolder() const
{
    return m_dir.filePath(QStringLiteral("data"));
}

QString PgServer::socketFolder() const
{
    return m_dir.path();
}

QString PgServer::url(const QString &user, const QString &database) const
{
    return QStringLiteral("postgresql://%1@/%2?host=%3").arg(user, database, socketFolder());
}

bool PgServer::fail(const QString &reason)
{
    m_error = reason;
    return false;
}

bool PgServer::initialize()
{
    if (!m_dir.isValid())
        return fail(QStringLiteral("no temporary folder: ") + m_dir.errorString());
    if (asRoot() && !giveTo(m_dir.path(), Account))
        return fail(QStringLiteral("the folder could not be given to postgres"));
    // No fsync anywhere: a test's cluster need not outlive a crash of the machine.
    if (!run(Bin + QStringLiteral("initdb"),
             {QStringLiteral("-D"), dataFolder(), QStringLiteral("-U"), Superuser,
              QStringLiteral("-A"), QStringLiteral("trust"), QStringLiteral("-E"),
              QStringLiteral("UTF8"), QStringLiteral("--locale=C"), QStringLiteral("--no-sync"),
              QStringLiteral("--no-instructions")},
             &m_error, QByteArray(), m_dir.path()))
        return false;
    // Only through the socket; the superuser the test works through is
    // trusted, every other role gives its password.
    QFile hba(dataFolder() + QStringLiteral("/pg_hba.conf"));
    if (!hba.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return fail(QStringLiteral("pg_hba.conf: ") + hba.errorString());
    hba.write("local all " + Superuser.toUtf8() + " trust\nlocal all all scram-sha-256\n");
    hba.close();
    m_initialized = true;
    return true;
}

bool PgServer::isRunning() const
{
    return m_server && m_server->state() != QProcess::NotRunning && !m_server->waitForFinished(0);
}

bool PgServer::start()
{
    if (isRunning())
        return true;
    QElapsedTimer took;
    took.start();
    if (!m_initialized && !initialize())
        return false;
    const QString pidFile = dataFolder() + QStringLiteral("/postmaster.pid");
    const QString log = m_dir.filePath(QStringLiteral("server.log"));
    m_server = std::make_unique<QProcess>();
    m_server->setProcessEnvironment(serverEnvironment());
    m_server->setWorkingDirectory(m_dir.path());
    m_server->setStandardOutputFile(log, QIODevice::Append);
    m_server->setStandardErrorFile(log, QIODevice::Append);
    // The server is this process's child, not a daemon pg_ctl would leave:
    // a test that crashes takes it along (the parent's death signal). Nothing
    // is written for safety's sake, and only the socket listens.
    QStringList args;
    if (asRoot())
        args << QStringLiteral("--reuid=") + QLatin1String(Account)
             << QStringLiteral("--regid=") + QLatin1String(Account) << QStringLiteral("--init-groups");
    args << QStringLiteral("--pdeathsig") << QStringLiteral("INT") << QStringLiteral("--")
         << Bin + QStringLiteral("postgres") << QStringLiteral("-D") << dataFolder();
    for (const QString &setting :
         {QStringLiteral("listen_addresses="), QStringLiteral("unix_socket_directories=") + socketFolder(),
          QStringLiteral("fsync=off"), QStringLiteral("synchronous_commit=off"),
          QStringLiteral("full_page_writes=off"), QStringLiteral("shared_buffers=16MB"),
          QStringLiteral("max_connections=30")})
        args << QStringLiteral("-c") << setting;
    m_server->start(QStringLiteral("setpriv"), args);
    if (!m_server->waitForStarted(10000))
        return fail(QStringLiteral("the server did not start: ") + m_server->errorString());
    // Ready once the server says so in its pid file, as pg_ctl waits for.
    const QByteArray pid = QByteArray::number(m_server->processId());
    while (took.elapsed() < 30000) {
        if (m_server->waitForFinished(20)) {
            QFile f(log);
            f.open(QIODevice::ReadOnly);
            return fail(QStringLiteral("the server stopped: ") + lastLines(f.readAll()));
        }
        QFile f(pidFile);
        if (!f.open(QIODevice::ReadOnly))
            continue;
        const QList<QByteArray> lines = f.readAll().split('\n');
        if (lines.size() > 7 && lines[0] == pid && lines[7].trimmed() == "ready")
            return true;
    }
    stop();
    return fail(QStringLiteral("the server was not ready within 30 s"));
}

bool PgServer::stop()
{
    if (!m_server)
        return true;
    if (const qint64 pid = m_server->processId(); pid > 0) {
        ::kill(pid_t(pid), SIGINT); // a fast shutdown
        if (!m_server->waitForFinished(30000)) {
            m_server->kill();
            m_server->waitForFinished();
        }
    }
    m_server.reset();
    return true;
}

std::optional<QString> PgServer::sql(const QString &statements, const QString &database)
{
    const auto out = run(Bin + QStringLiteral("psql"),
                         {QStringLiteral("-X"), QStringLiteral("-q"), QStringLiteral("-A"),
                          QStringLiteral("-t"), QStringLiteral("-w"), QStringLiteral("-v"),
                          QStringLiteral("ON_ERROR_STOP=1"), QStringLiteral("-h"), socketFolder(),
                          QStringLiteral("-U"), Superuser, QStringLiteral("-d"), database,
                          QStringLiteral("-f"), QStringLiteral("-")},
                         &m_error, statements.toUtf8());
    if (!out)
        return std::nullopt;
    return QString::fromUtf8(*out).trimmed();
}
