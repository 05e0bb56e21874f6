// The program's folders as layers: an include goes down, never up, never
// sideways between folders of one layer, so no two folders lean on each other.
#include <QDir>
#include <QDirIterator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

namespace {

// Bottom to top. cli and widgets share a layer and must not meet: the
// command line loads no widget library.
const QHash<QString, int> Rank{{"core", 0},      {"config", 1},    {"serial", 2},  {"protocol", 3},
                               {"records", 4},   {"documents", 5}, {"cli", 6},     {"widgets", 6},
                               {"screens", 7},   {"shell", 8}};
// The windows' folders: above cli in rank, yet never reaching it.
const QStringList Windows{"widgets", "screens", "shell"};
// The two programs' own files, above the folders: what each may reach.
const QHash<QString, QStringList> Programs{
    {"main.cpp", {"core", "config", "serial", "protocol", "records", "documents", "cli"}},
    {"windowmain.cpp",
     {"core", "config", "serial", "protocol", "records", "documents", "widgets", "screens", "shell"}}};

using Includes = QMultiMap<QString, QString>; // file below src/ -> included path

Includes includesOf(const QString &srcDir)
{
    // "folder/file.h", or <folder/file.h> naming a folder of src/ (src is on
    // the include path, so that form reaches it too).
    static const QRegularExpression include(QStringLiteral("^\\s*#\\s*include\\s+([\"<])([^\">]+)[\">]"),
                                            QRegularExpression::MultilineOption);
    Includes found;
    QDirIterator it(srcDir, {"*.h", "*.cpp"}, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly))
            continue;
        const QString text = QString::fromUtf8(f.readAll());
        const QString file = QDir(srcDir).relativeFilePath(path);
        for (auto m = include.globalMatch(text); m.hasNext();) {
            const auto match = m.next();
            const QString included = match.captured(2);
            if (match.captured(1) == "\"" || QDir(srcDir).exists(included.section('/', 0, 0)))
                found.insert(file, included);
        }
    }
    return found;
}

QString folderOf(const QString &path)
{
    const int slash = path.indexOf('/');
    return slash < 0 ? QString() : path.left(slash);
}

// Every include that goes up, sideways, or out of a program's reach, and
// every circle between folders; empty when the layers hold.
QStringList violations(const Includes &includes)
{
    QStringList out;
    QMultiHash<QString, QString> edges;
    for (auto it = includes.begin(); it != includes.end(); ++it) {
        const QString from = folderOf(it.key()), to = folderOf(it.value());
        if (to.isEmpty())
            continue; // a system or Qt header
        const QString line = it.key() + " includes " + it.value();
        if (from.isEmpty()) {
            if (!Programs.value(it.key()).contains(to))
                out << line + ": out of this program's reach";
            continue;
        }
        if (!Rank.contains(from) || !Rank.contains(to)) {
            out << line + ": a folder with no layer";
            continue;
        }
        if (from == to)
            continue;
        if (Windows.contains(from) && to == "cli")
            out << line + ": the command line from a window";
        else if (Rank.value(to) > Rank.value(from))
            out << line + ": up a layer";
        else if (Rank.value(to) == Rank.value(from))
            out << line + ": sideways within a layer";
        if (!edges.contains(from, to))
            edges.insert(from, to);
    }
    // A circle between folders, whatever the ranks say.
    for (const QString &start : edges.uniqueKeys()) {
        QStringList todo = edges.values(start);
        QSet<QString> seen;
        while (!todo.isEmpty()) {
            const QString f = todo.takeLast();
            if (f == start) {
                out << "a circle through " + start;
                break;
            }
            if (!seen.contains(f)) {
                seen.insert(f);
                todo << edges.values(f);
            }
        }
    }
    return out;
}

} // namespace

class TestLayers : public QObject {
    Q_OBJECT
private slots:
    void layers_data()
    {
        QTest::addColumn<QStringList>("extra"); // "file>included" added to the tree
        QTest::addColumn<QString>("found");     // what must be reported; empty: nothing
        QTest::newRow("the tree as it is") << QStringList{} << QString();
        QTest::newRow("a screen includes the shell")
            << QStringList{"screens/frmSet.cpp>shell/frmMain.h"} << "up a layer";
        QTest::newRow("the protocol includes a window helper")
            << QStringList{"protocol/UnitApply.cpp>widgets/Ui.h"} << "up a layer";
        QTest::newRow("the command line includes a window helper")
            << QStringList{"cli/CliRun.cpp>widgets/Ui.h"} << "sideways within a layer";
        QTest::newRow("the command-line program includes the shell")
            << QStringList{"main.cpp>shell/modMain.h"} << "out of this program's reach";
        QTest::newRow("a screen includes the command line")
            << QStringList{"screens/frmSet.cpp>cli/CommandLine.h"} << "the command line from a window";
        QTest::newRow("a new folder placed nowhere")
            << QStringList{"network/Plan.cpp>core/AppState.h"} << "a folder with no layer";
    }
    void layers()
    {
        QFETCH(QStringList, extra);
        QFETCH(QString, found);
        const QString src = qEnvironmentVariable("QML_DIST") + "/../src";
        Includes includes = includesOf(src);
        QVERIFY(includes.size() > 100); // the tree was read
        for (const QString &e : extra)
            includes.insert(e.section('>', 0, 0), e.section('>', 1));
        const QStringList v = violations(includes);
        if (found.isEmpty())
            QVERIFY2(v.isEmpty(), qPrintable(v.join('\n')));
        else
            QVERIFY2(v.filter(found).size() == 1, qPrintable(v.join('\n')));
    }

    // Both forms reach src/ (it is on the include path); Qt's and the
    // system's headers are no folder of it.
    void bothIncludeForms()
    {
        QTemporaryDir src;
        QVERIFY(QDir(src.path()).mkpath("screens") && QDir(src.path()).mkpath("shell"));
        QFile f(src.path() + "/screens/frmX.cpp");
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("#include <shell/frmMain.h>\n#include \"shell/modMain.h\"\n#include <QString>\n"
                "#include <sys/stat.h>\n");
        f.close();
        const Includes includes = includesOf(src.path());
        QCOMPARE(includes.values("screens/frmX.cpp"), (QStringList{"shell/modMain.h", "shell/frmMain.h"}));
        QCOMPARE(violations(includes).filter("up a layer").size(), 2);
    }

    // Two folders that include each other: a circle, whichever way the layers point.
    void circles()
    {
        Includes includes;
        includes.insert("config/A.cpp", "serial/B.h");
        includes.insert("serial/B.cpp", "config/A.h");
        const QStringList v = violations(includes);
        QVERIFY2(v.filter("a circle through config").size() == 1, qPrintable(v.join('\n')));
    }
};

QTEST_GUILESS_MAIN(TestLayers)
#include "tst_layers.moc"
