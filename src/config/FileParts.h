#pragma once
// What the two halves of the file safety share: paths as the system takes
// them and the reasons their refusals give. Not for other files.

#include <QByteArray>
#include <QString>

namespace FileParts {

// Without a trailing separator: "name/" would make lstat follow a link there.
QString bare(QString path);
QString notYours();
QString installed();
#ifdef Q_OS_UNIX
QByteArray native(const QString &path);
QString reason(int error);
// The folder open as `dir` is an installed program's folder.
bool carriesInstalledMark(int dir);
#endif

} // namespace FileParts
