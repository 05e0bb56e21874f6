// The smallest Qt program that asks a unit what `qmlsetup info` asks: the
// version ("V") and the settings record ("R") over the wired path, on Qt Core
// and Qt Serial Port alone. bench_startup times qmlsetup against it.
//
//   build/bench/query_reference DEVICE
#include <QCoreApplication>
#include <QSerialPort>

#include <cstdio>

namespace {
QByteArray ask(QSerialPort &port, const QByteArray &command)
{
    port.write("@KZ9" + command + "\r\n");
    port.waitForBytesWritten(1000);
    QByteArray line;
    while (!line.contains('\n') && port.waitForReadyRead(7000))
        line += port.readAll();
    return line.trimmed();
}
} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    if (argc < 2)
        return 2;
    QSerialPort port(QString::fromLocal8Bit(argv[1]));
    port.setBaudRate(9600);
    if (!port.open(QIODevice::ReadWrite))
        return 3;
    const QByteArray version = ask(port, "V"), record = ask(port, "R");
    std::printf("%s\n%s\n", version.constData(), record.constData());
    return version.isEmpty() || record.isEmpty() ? 4 : 0;
}
