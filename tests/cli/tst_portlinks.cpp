// The command line with a COMn link that another user made, or one leading
// through another user's link: `--port COM1` refuses it as a port failure
// naming the link and its owner, sending nothing; `ports` neither maps COM1
// to its device nor lists the device under COM1.

#include "sim/SimPeer.h"
#include "support/TestSupport.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

class TestPortLinks : public QObject {
    Q_OBJECT
private slots:
    void foreignComLink_data()
    {
        QTest::addColumn<bool>("through"); // COM1 root's, leading through nobody's link
        QTest::newRow("COM1 another user's link") << false;
        QTest::newRow("COM1 root's, through another user's link") << true;
    }
    void foreignComLink()
    {
        QFETCH(bool, through);
        if (::geteuid() != 0)
            QSKIP("gives the link to another user, which only root may");
        QTemporaryDir dir;
        const QString folder = dir.path() + "/";
        QVERIFY(QFile::copy(qEnvironmentVariable("QML_APP"), folder + "qmlsetup"));
        QFile::setPermissions(folder + "qmlsetup", QFile::ReadOwner | QFile::ExeOwner);
        QFile::copy(qEnvironmentVariable("QML_DIST") + "/lang/en/message.ini", folder + "message.ini");
        SimPeer peer;
        const QString foreign = folder + (through ? "hop" : "COM1");
        QVERIFY(QFile::link(peer.slavePath(), foreign));
        QVERIFY(giveTo(foreign, "nobody"));
        if (through)
            QVERIFY(QFile::link(foreign, folder + "COM1"));
        const auto run = [&](const QStringList &args) {
            QProcess p;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert("QML_TIME_SCALE", "0.01");
            p.setProcessEnvironment(env);
            p.start(folder + "qmlsetup", QStringList{"--json"} + args);
            waitUntil([&] { return p.state() == QProcess::NotRunning; }, 30000);
            return QJsonDocument::fromJson(p.readAllStandardOutput()).object();
        };

        const QJsonObject read = run({"read", "--port", "COM1"});
        QCOMPARE(read.value("exit").toInt(), 3); // a port failure
        const QString says = read.value("message").toString();
        QVERIFY2(says.contains(foreign + ": ") && says.endsWith(" nobody"), qPrintable(says));
        QCOMPARE(peer.received(), QByteArray());

        const QJsonObject ports = run({"ports"});
        QCOMPARE(ports.value("exit").toInt(), 0);
        const QJsonObject com1 = ports.value("com").toArray().at(0).toObject();
        QCOMPARE(com1.value("device").toString(), foreign);
        QVERIFY(!com1.value("present").toBool());
        const QString device = QFileInfo(peer.slavePath()).canonicalFilePath();
        for (const QJsonValue &d : ports.value("devices").toArray()) {
            QVERIFY(d.toObject().value("path").toString() != device);
            QVERIFY(!d.toObject().value("com").toArray().contains("COM1"));
        }
    }
};

QTEST_MAIN(TestPortLinks)
#include "tst_portlinks.moc"
