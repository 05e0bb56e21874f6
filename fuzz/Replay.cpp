// Without libFuzzer, a target is a plain program that replays every input of
// the files and folders it is given: its corpus is a regression test.

#include "Fuzz.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>

int main(int argc, char *argv[])
{
    int replayed = 0;
    const auto replay = [&](const QString &path) {
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly))
            return;
        const QByteArray input = f.readAll();
        std::fprintf(stderr, "%s\n", qPrintable(QFileInfo(path).fileName()));
        LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t *>(input.constData()),
                               size_t(input.size()));
        ++replayed;
    };
    for (int i = 1; i < argc; ++i) {
        const QString arg = QString::fromLocal8Bit(argv[i]);
        if (QFileInfo(arg).isDir()) {
            for (const QString &name : QDir(arg).entryList(QDir::Files, QDir::Name))
                replay(QDir(arg).filePath(name));
        } else {
            replay(arg);
        }
    }
    std::printf("%d inputs replayed\n", replayed);
    return replayed > 0 ? 0 : 1;
}
