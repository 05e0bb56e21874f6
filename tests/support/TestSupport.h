#pragma once
// Shared pieces of the tests: a fresh program state in a folder of its own,
// a pseudo-terminal whose master side the test holds, and running a program
// as an ordinary user. No widgets: the lower layers' tests link this alone.

#include <QByteArray>
#include <QElapsedTimer>
#include <QProcessEnvironment>
#include <QStringList>
#include <QTemporaryDir>
#include <QTimer>
#include <functional>

// A fresh AppState whose AppDir, and work folder, is a new temporary folder.
class FreshState {
public:
    FreshState();
    QString dir() const { return m_dir.path() + QLatin1Char('/'); }
    QString path(const QString &name) const { return dir() + name; }
    void write(const QString &name, const QByteArray &bytes) const;
    QByteArray read(const QString &name) const;
    // The serial settings of a default setcom.ini, on port `port`.
    void usePort(int port = 1) const;

private:
    QTemporaryDir m_dir;
};

// A pseudo-terminal pair; the test reads and writes the master side.
class Pty {
public:
    Pty();
    ~Pty();
    bool ok() const { return m_master >= 0; }
    QString slavePath() const { return m_slave; }
    // Link `dir`/COMn to the slave, as a serial port of the program.
    bool linkAs(const QString &dir, int port) const;
    void write(const QByteArray &bytes);
    // What has arrived; when nothing has, the first bytes within `waitMs`
    // (events run meanwhile).
    QByteArray readAll(int waitMs = 0);
    void close();
    int masterFd() const { return m_master; }

private:
    int m_master = -1;
    int m_slaveKeep = -1;
    QString m_slave;
};

// A pseudo-terminal whose master side answers each received line through a
// script, for replies the simulated unit would never give.
class ScriptedPeer : public QObject {
    Q_OBJECT
public:
    using Script = std::function<QByteArray(const QByteArray &line)>;
    explicit ScriptedPeer(Script script);
    ~ScriptedPeer() override;
    QString slavePath() const { return m_pty.slavePath(); }
    bool linkAs(const QString &dir, int port) const { return m_pty.linkAs(dir, port); }
    QList<QByteArray> lines; // every line received, without CR LF

private:
    void onReadable();
    Pty m_pty;
    Script m_script;
    QByteArray m_partial;
    class QSocketNotifier *m_notifier = nullptr;
};

// Permissions as an ordinary user: root passes every check, so such tests run
// a program as `nobody`. Empty when that can be done here, else the reason.
QString asNobodyUnavailable(const QString &program);
// Lets every user into a folder (or run a file) the test made, as nobody must.
void letOthersIn(const QString &path);
// Gives `path` itself (a link too, not what it points to) to `user`, as if
// that user had made it; false when that cannot be done.
bool giveTo(const QString &path, const char *user);
// Runs `program` as nobody; its exit code, or -1 when it did not run.
// `output` gets what it wrote to standard output.
int runAsNobody(const QString &program, const QStringList &args,
                const QProcessEnvironment &env, QByteArray *output = nullptr);

// Gives this process mounts of its own (a mount namespace, which programs it
// starts share), so that a test may cover a folder of the machine, such as
// root's home, without touching it. Empty when done, else why it cannot be.
QString privateMounts();
// An empty folder of root's (mode 0700, or `mode`) over `path` in those
// mounts; `readOnly`: one where nothing can be made, not even by root.
bool coverWithEmptyFolder(const QString &path, bool readOnly = false, int mode = 0700);
// A 4 KiB file system of root's over `path` in those mounts, already filled
// (a file "filler"): whatever else is written there finds the disk full.
bool coverWithFullDisk(const QString &path);
// Takes the last such folder off `path` again.
void uncover(const QString &path);
// Puts the file or device `what` in the place of `path` in those mounts.
bool coverWith(const QString &path, const QString &what);

// Blocks in the event loop until `done` or the time is up; true when done.
// `done` is looked at after every event, and every `checkEveryMs` when it
// depends on something that brings this process no event (another process).
bool waitUntil(const std::function<bool()> &done, int timeoutMs = 5000, int checkEveryMs = 0);
