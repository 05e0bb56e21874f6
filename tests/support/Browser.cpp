// Headless Chromium, poppler and zbar, each a process of its own.
#include "support/Browser.h"

#include <QProcess>
#include <QTemporaryDir>

namespace {

QByteArray runTool(const QString &program, const QStringList &args, QString *complaint = nullptr)
{
    QProcess p;
    p.start(program, args);
    if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        if (complaint)
            *complaint = program + ": " + p.errorString() + " " + QString::fromLocal8Bit(p.readAllStandardError());
        p.kill();
        p.waitForFinished();
        return {};
    }
    return p.readAllStandardOutput();
}

} // namespace

QString PrintToPdf(const QString &html, const QString &pdf)
{
    QTemporaryDir profile; // nothing of the user's own Chromium read or written
    QString complaint;
    runTool("chromium", {"--headless", "--no-sandbox", "--disable-gpu", "--user-data-dir=" + profile.path(),
                         "--no-pdf-header-footer", "--print-to-pdf=" + pdf, "file://" + html},
            &complaint);
    return complaint;
}

QString PdfText(const QString &pdf)
{
    return QString::fromUtf8(runTool("pdftotext", {"-enc", "UTF-8", pdf, "-"}));
}

QByteArray QrCodesOnPage(const QString &pdf, int page)
{
    QTemporaryDir dir;
    const QString n = QString::number(page);
    runTool("pdftoppm", {"-r", "200", "-f", n, "-l", n, "-singlefile", "-png", pdf, dir.filePath("page")});
    return runTool("zbarimg", {"--raw", "-q", "-Sbinary", dir.filePath("page.png")});
}
