// The command line's two stop signals: a flag and a self-pipe for the first,
// an end at once, with words prepared beforehand, for the next.
#include "cli/CliStops.h"

#include "config/FileSafety.h"
#include "serial/LineClear.h"
#include "serial/SerialDevices.h"
#include "serial/ReplyTimer.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <cstring>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace Cli {
namespace {

// The handler may only read memory that is never being written while it
// reads: the words go into the next of a few slots, then that slot is
// published; a handler still reading an older one is left alone.
struct Words {
    char text[4096];
    size_t textSize = 0;
    char json[8192]; // the document after its "exit" number
    size_t jsonSize = 0;
};
constexpr int Slots = 4;
Words g_words[Slots];
std::atomic<int> g_armed{-1};
static_assert(std::atomic<int>::is_always_lock_free);

char g_lock[1024] = {};
// The line's mark: written aside, then renamed into place.
char g_markAside[1024] = {}, g_mark[1024] = {};
char g_markDevice[1024] = {};
size_t g_markDeviceSize = 0;
// A site book entry being recorded: kept pending by a sudden end.
char g_pending[1024] = {};
char g_pendingLine[256 * 1024];
std::atomic<size_t> g_pendingSize{0};
long long g_quietMs = 0;

volatile std::sig_atomic_t g_signal = 0;
int g_pipe[2] = {-1, -1};

size_t copyInto(char *to, size_t room, const QByteArray &bytes)
{
    const size_t n = qMin(room, size_t(bytes.size()));
    std::memcpy(to, bytes.constData(), n);
    return n;
}

#ifdef Q_OS_UNIX
void writeAll(int fd, const char *bytes, size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, bytes, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        bytes += n;
        size -= size_t(n);
    }
}

// As LeaveLineMark words it: until when the line must stay quiet.
void leaveMark()
{
    struct timespec now{};
    if (!g_mark[0] || ::clock_gettime(CLOCK_REALTIME, &now) != 0)
        return;
    long long until = now.tv_sec * 1000LL + now.tv_nsec / 1000000 + g_quietMs;
    char digits[24];
    size_t n = sizeof digits;
    do {
        digits[--n] = char('0' + until % 10);
        until /= 10;
    } while (until > 0 && n > 0);
    const int fd = ::open(g_markAside, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return;
    writeAll(fd, "until=", 6);
    writeAll(fd, digits + n, sizeof digits - n);
    writeAll(fd, "\ndevice=", 8);
    writeAll(fd, g_markDevice, g_markDeviceSize);
    writeAll(fd, "\n", 1);
    ::close(fd);
    if (::rename(g_markAside, g_mark) != 0)
        ::unlink(g_markAside);
}
#endif

#ifdef Q_OS_UNIX
// As the pending file is appended to, with async-signal-safe calls: its
// lock waited for a second at most.
void keepPendingEntry()
{
    const size_t size = g_pendingSize.load();
    if (size == 0)
        return;
    // Read and write: its last byte is read to end a line an earlier run left torn.
    const int fd = ::open(g_pending, O_RDWR | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return;
    for (int tries = 0; ::flock(fd, LOCK_EX | LOCK_NB) != 0 && tries < 100; ++tries) {
        const struct timespec pause{0, 10 * 1000 * 1000};
        ::nanosleep(&pause, nullptr);
    }
    struct stat st{};
    char last = '\n';
    if (::fstat(fd, &st) == 0 && st.st_size > 0)
        [[maybe_unused]] const ssize_t n = ::pread(fd, &last, 1, st.st_size - 1);
    if (last != '\n')
        writeAll(fd, "\n", 1);
    writeAll(fd, g_pendingLine, size);
    ::fsync(fd);
    ::close(fd);
}
#endif

// Async-signal-safe calls only.
void onSignal(int number)
{
#ifdef Q_OS_UNIX
    const int savedErrno = errno;
    const int armed = g_armed.load();
    if (g_signal != 0 && armed >= 0) {
        const Words &w = g_words[armed];
        if (g_lock[0])
            ::unlink(g_lock);
        leaveMark();
        keepPendingEntry();
        writeAll(STDERR_FILENO, w.text, w.textSize);
        if (w.jsonSize > 0) {
            writeAll(STDOUT_FILENO, "{\"exit\":", 8);
            writeAll(STDOUT_FILENO, number == SIGINT ? "130" : "143", 3);
            writeAll(STDOUT_FILENO, w.json, w.jsonSize);
        }
        ::_exit(128 + number);
    }
    if (g_signal == 0)
        g_signal = number;
    if (g_pipe[1] >= 0) {
        const char c = 1;
        [[maybe_unused]] const ssize_t n = ::write(g_pipe[1], &c, 1);
    }
    errno = savedErrno;
#else
    if (g_signal != 0 && g_armed.load() >= 0)
        std::_Exit(128 + number);
    if (g_signal == 0)
        g_signal = number;
    std::signal(number, onSignal);
#endif
}

} // namespace

void CatchStops()
{
    static bool caught = false;
    if (caught)
        return;
    caught = true;
#ifdef Q_OS_UNIX
    // Never blocking: a full pipe must not hold the handler.
    // A pipe that cannot be made leaves g_pipe as it was (-1, -1): the
    // handler then only sets its flags.
    [[maybe_unused]] const int piped = ::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK);
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
#else
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
#endif
}

int StopSignal()
{
    return g_signal;
}

int StopExitCode()
{
    return 128 + (g_signal ? int(g_signal) : SIGINT);
}

QString StopSignalName()
{
    return g_signal == SIGTERM ? QStringLiteral("SIGTERM") : QStringLiteral("SIGINT");
}

int StopPipe()
{
    return g_pipe[0];
}

void TakeStopByte()
{
#ifdef Q_OS_UNIX
    char c;
    [[maybe_unused]] const ssize_t n = ::read(g_pipe[0], &c, 1);
#endif
}

void ArmStopAtOnce(const QString &text, bool json)
{
    static int next = 0;
    const int slot = next;
    next = (next + 1) % Slots;
    Words &w = g_words[slot];
    w.textSize = copyInto(w.text, sizeof w.text, (text + QLatin1Char('\n')).toUtf8());
    w.jsonSize = 0;
    if (json) {
        QJsonObject doc{{QStringLiteral("ok"), false},
                        {QStringLiteral("reason"), QStringLiteral("stopped-at-once")},
                        {QStringLiteral("message"), text}};
        QByteArray rest = ',' + QJsonDocument(doc).toJson(QJsonDocument::Compact).mid(1) + '\n';
        if (size_t(rest.size()) > sizeof w.json) { // a document cut short is none
            doc.remove(QStringLiteral("message"));
            rest = ',' + QJsonDocument(doc).toJson(QJsonDocument::Compact).mid(1) + '\n';
        }
        w.jsonSize = copyInto(w.json, sizeof w.json, rest);
    }
    g_armed.store(slot);
}

void DisarmStopAtOnce()
{
    g_armed.store(-1);
}

void KeepEntryAtOnce(const QString &pendingPath, const QByteArray &line)
{
    g_pendingSize.store(0);
    const QByteArray path = QFile::encodeName(pendingPath);
    if (path.isEmpty() || size_t(path.size()) >= sizeof g_pending || size_t(line.size()) >= sizeof g_pendingLine)
        return;
    std::memcpy(g_pending, path.constData(), size_t(path.size()) + 1);
    std::memcpy(g_pendingLine, line.constData(), size_t(line.size()));
    g_pendingSize.store(size_t(line.size()));
}

void ForgetEntryAtOnce()
{
    g_pendingSize.store(0);
}

namespace {

bool copyPath(char (&to)[1024], const QString &path)
{
    const QByteArray bytes = QFile::encodeName(path);
    if (bytes.isEmpty() || size_t(bytes.size()) >= sizeof to)
        return false;
    std::memcpy(to, bytes.constData(), size_t(bytes.size()) + 1);
    return true;
}

} // namespace

void PrepareEndAtOnce(const QString &device)
{
#ifdef Q_OS_UNIX
    const QByteArray pid = QByteArray::number(QCoreApplication::applicationPid());
    if (const QString lock = LockFileHeldBy(device, QCoreApplication::applicationPid()); !lock.isEmpty())
        copyPath(g_lock, lock);
    // The mark's folder is made and checked now: the handler only writes.
    const QString mark = LineMarkPath(device);
    const QString folder = mark.isEmpty() ? QString() : CheckedFolder(QFileInfo(mark).path(), true);
    const QByteArray text = device.toUtf8();
    if (folder.isEmpty() || size_t(text.size()) > sizeof g_markDevice)
        return;
    const QString name = folder + QLatin1Char('/') + QFileInfo(mark).fileName();
    if (copyPath(g_mark, name)
        && copyPath(g_markAside, name + QStringLiteral(".new-") + QString::fromLatin1(pid))) {
        std::memcpy(g_markDevice, text.constData(), size_t(text.size()));
        g_markDeviceSize = size_t(text.size());
        g_quietMs = TimeScale::scaled(QuietMs);
    }
#else
    Q_UNUSED(device);
#endif
}

} // namespace Cli
