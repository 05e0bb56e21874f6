#pragma once
// Sequential reader of comma-separated fields in the hand-edited text files.

#include <QByteArray>
#include <QString>
#include <optional>

// Shift-JIS (code page 932) unless the bytes start with a UTF-8 byte-order mark.
QString DecodeIniText(const QByteArray &bytes);
QByteArray EncodeIniText(const QString &text);
// True when `text` survives EncodeIniText and DecodeIniText unchanged.
bool EncodableIniText(const QString &text);

// Which files a reader takes: whatever the path leads to; only a file at
// the name itself (no link); that, and only the running user's or root's (in
// a folder others may write, another user's file counts as absent).
enum class FileTrust { Any, NoLink, TrustedOnly };

// The first `limit` bytes of a file, or nothing when the path is not a
// regular file (absent, a directory, a FIFO, a device, a dangling link, a
// link where `trust` takes none, a file of another user where it takes only
// trusted ones) or cannot be read. Never blocks on what it finds there.
// `owner`: who owns the file read.
std::optional<QByteArray> ReadRegularFile(const QString &path, qint64 limit,
                                          FileTrust trust = FileTrust::Any,
                                          uint *owner = nullptr);

// A hand-edited text file, decoded (ReadRegularFile).
std::optional<QString> ReadIniFile(const QString &path, qint64 limit = 1 << 20,
                                   FileTrust trust = FileTrust::Any);

class FieldReader {
public:
    explicit FieldReader(QString text) : m_text(std::move(text)) {}

    bool atEnd() const { return m_pos >= m_text.size(); }

    // Reads the next field; false (and `field` untouched) at the end of the text.
    bool next(QString &field);

private:
    bool atLineEnd() const;
    void consumeSeparator();

    QString m_text;
    int m_pos = 0;
};
