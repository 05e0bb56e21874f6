// The words the command line prints for people, in the operator's language
// by Qt's translation files (the message tables hold the sentences); what a
// program reads (JSON, CSV) keeps the English words.
#include "cli/CliOutput.h"

#include <QCoreApplication>
#include <QTranslator>

namespace Cli {

void InstallCliTranslation(const QString &language)
{
    static QTranslator words;
    if (language == QLatin1String("ja") && words.isEmpty()
        && words.load(QStringLiteral(":/i18n/qmlsetup_cli_ja.qm")))
        QCoreApplication::installTranslator(&words);
}

QString Word(const QString &english)
{
    return QCoreApplication::translate("qmlsetup", english.toUtf8().constData());
}

// Columns line up on a terminal: an East Asian wide character takes two.
int TerminalColumns(const QString &text)
{
    int used = 0;
    for (const char32_t c : text.toUcs4())
        used += (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0xA4CF) || (c >= 0xAC00 && c <= 0xD7A3)
                || (c >= 0xF900 && c <= 0xFAFF) || (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF60)
                || (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x20000 && c <= 0x3FFFD)
            ? 2
            : 1;
    return used;
}

QString Padded(const QString &text, int columns)
{
    const int used = TerminalColumns(text);
    return used >= columns ? text : text + QString(columns - used, u' ');
}

} // namespace Cli
