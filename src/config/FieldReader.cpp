// Reading the comma-separated, quoted fields of the hand-edited text files.
#include "config/FieldReader.h"

#include "config/FileSafety.h"

#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>
#include <QStringEncoder>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

QString DecodeIniText(const QByteArray &bytes)
{
    if (bytes.startsWith("\xEF\xBB\xBF"))
        return QString::fromUtf8(bytes.mid(3));
    QStringDecoder decoder("CP932");
    if (decoder.isValid())
        return decoder.decode(bytes);
    return QString::fromLatin1(bytes);
}

QByteArray EncodeIniText(const QString &text)
{
    QStringEncoder encoder("CP932");
    if (encoder.isValid())
        return encoder.encode(text);
    return text.toLatin1();
}

bool EncodableIniText(const QString &text)
{
    QStringEncoder encoder("CP932");
    if (!encoder.isValid())
        return text == QString::fromLatin1(text.toLatin1());
    const QByteArray bytes = encoder.encode(text);
    return !encoder.hasError() && DecodeIniText(bytes) == text;
}

std::optional<QByteArray> ReadRegularFile(const QString &path, qint64 limit, FileTrust trust,
                                          uint *owner)
{
    QFile file;
#ifdef Q_OS_UNIX
    // Opened first, without waiting (a FIFO would block) and never as a
    // terminal; what was opened is looked at, so nothing can be swapped in
    // between the look and the read.
    const int fd = ::open(QFile::encodeName(path).constData(),
                          O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC
                              | (trust == FileTrust::Any ? 0 : O_NOFOLLOW));
    if (fd < 0)
        return std::nullopt;
    struct stat st{};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)
        || (trust == FileTrust::TrustedOnly && !TrustedOwner(st.st_uid))
        || !file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return std::nullopt;
    }
    if (owner)
        *owner = st.st_uid;
#else
    if (!QFileInfo(path).isFile() || (trust != FileTrust::Any && QFileInfo(path).isSymLink()))
        return std::nullopt;
    file.setFileName(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    if (owner)
        *owner = 0;
#endif
    return file.read(limit);
}

std::optional<QString> ReadIniFile(const QString &path, qint64 limit, FileTrust trust)
{
    const auto bytes = ReadRegularFile(path, limit, trust);
    if (!bytes)
        return std::nullopt;
    return DecodeIniText(*bytes);
}

bool FieldReader::atLineEnd() const
{
    return m_pos < m_text.size() && (m_text[m_pos] == u'\r' || m_text[m_pos] == u'\n');
}

// A field ends at a comma or a line end (CR LF; a lone CR or LF too), which
// is consumed with it.
void FieldReader::consumeSeparator()
{
    if (m_pos >= m_text.size())
        return;
    if (m_text[m_pos] == u',') {
        ++m_pos;
        return;
    }
    if (m_text[m_pos] == u'\r') {
        ++m_pos;
        if (m_pos < m_text.size() && m_text[m_pos] == u'\n')
            ++m_pos;
        return;
    }
    if (m_text[m_pos] == u'\n')
        ++m_pos;
}

bool FieldReader::next(QString &field)
{
    if (atEnd())
        return false;
    const int n = m_text.size();
    while (m_pos < n && m_text[m_pos] == u' ')
        ++m_pos;

    if (m_pos < n && m_text[m_pos] == u'"') {
        const int start = m_pos + 1;
        int close = m_text.indexOf(u'"', start);
        if (close < 0)
            close = n;
        field = m_text.mid(start, close - start);
        m_pos = qMin(close + 1, n);
        while (m_pos < n && m_text[m_pos] != u',' && !atLineEnd())
            ++m_pos;
        consumeSeparator();
        return true;
    }

    const int start = m_pos;
    while (m_pos < n && m_text[m_pos] != u',' && !atLineEnd())
        ++m_pos;
    int end = m_pos;
    while (end > start && m_text[end - 1] == u' ')
        --end;
    field = m_text.mid(start, end - start);
    consumeSeparator();
    return true;
}
