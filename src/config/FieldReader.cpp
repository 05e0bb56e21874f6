#include "config/FieldReader.h"

#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>
#include <QStringEncoder>

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

std::optional<QString> ReadIniFile(const QString &path, qint64 limit)
{
    // Anything but a regular file could block the open (a FIFO) or never end.
    if (!QFileInfo(path).isFile())
        return std::nullopt;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return DecodeIniText(file.read(limit));
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
