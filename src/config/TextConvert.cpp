// The old platform's rules for reading numbers out of text and writing them back.
#include "config/TextConvert.h"

#include <cmath>
#include <limits>

namespace TextConvert {

int hexDigit(QChar c)
{
    if (c >= u'0' && c <= u'9')
        return c.unicode() - '0';
    if (c >= u'A' && c <= u'F')
        return c.unicode() - 'A' + 10;
    if (c >= u'a' && c <= u'f')
        return c.unicode() - 'a' + 10;
    return -1;
}

namespace {

bool isBlank(QChar c) { return c == u' ' || c == u'\t'; }

// Reads a number starting at `pos`; on return `pos` is just past it.
// `complete` is false when nothing numeric was found.
double scanNumber(const QString &s, int &pos, bool &complete)
{
    const int n = s.size();
    complete = false;
    if (pos + 1 < n && s[pos] == u'&' && (s[pos + 1] == u'H' || s[pos + 1] == u'h'
                                          || s[pos + 1] == u'O' || s[pos + 1] == u'o')) {
        const int base = (s[pos + 1] == u'H' || s[pos + 1] == u'h') ? 16 : 8;
        int p = pos + 2;
        qint64 value = 0;
        int digits = 0;
        while (p < n) {
            const int d = hexDigit(s[p]);
            if (d < 0 || d >= base || digits >= 11)
                break;
            value = value * base + d;
            ++digits;
            ++p;
        }
        if (digits == 0)
            return 0;
        pos = p;
        complete = true;
        return double(value);
    }

    int p = pos;
    QString text;
    if (p < n && (s[p] == u'+' || s[p] == u'-'))
        text += s[p++];
    int mantissaDigits = 0;
    while (p < n && s[p].isDigit() && s[p].unicode() < 128) {
        text += s[p++];
        ++mantissaDigits;
    }
    if (p < n && s[p] == u'.') {
        text += s[p++];
        while (p < n && s[p].isDigit() && s[p].unicode() < 128) {
            text += s[p++];
            ++mantissaDigits;
        }
    }
    if (mantissaDigits == 0)
        return 0;
    if (p < n && (s[p] == u'E' || s[p] == u'e' || s[p] == u'D' || s[p] == u'd')) {
        int q = p + 1;
        QString exp = QStringLiteral("e");
        if (q < n && (s[q] == u'+' || s[q] == u'-'))
            exp += s[q++];
        int expDigits = 0;
        while (q < n && s[q].isDigit() && s[q].unicode() < 128) {
            exp += s[q++];
            ++expDigits;
        }
        if (expDigits > 0) {
            text += exp;
            p = q;
        }
    }
    pos = p;
    complete = true;
    bool ok = false;
    const double v = text.toDouble(&ok);
    return ok ? v : 0;
}

} // namespace

std::optional<double> parseNumber(const QString &text)
{
    int start = 0;
    int end = text.size();
    while (start < end && isBlank(text[start]))
        ++start;
    while (end > start && isBlank(text[end - 1]))
        --end;
    if (start == end)
        return std::nullopt;
    const QString core = text.mid(start, end - start);
    int pos = 0;
    bool complete = false;
    const double v = scanNumber(core, pos, complete);
    if (!complete || pos != core.size() || !std::isfinite(v))
        return std::nullopt;
    return v;
}

double leadingNumber(const QString &text)
{
    int pos = 0;
    while (pos < text.size() && isBlank(text[pos]))
        ++pos;
    bool complete = false;
    const double v = scanNumber(text, pos, complete);
    return complete && std::isfinite(v) ? v : 0;
}

qint64 leadingHex(const QString &text)
{
    qint64 value = 0;
    for (int i = 0; i < text.size() && i < 15; ++i) {
        const int d = hexDigit(text[i]);
        if (d < 0)
            break;
        value = value * 16 + d;
    }
    return value;
}

qint64 roundHalfEven(double value)
{
    if (!std::isfinite(value))
        return 0;
    if (value > 9.0e18)
        return std::numeric_limits<qint64>::max();
    if (value < -9.0e18)
        return std::numeric_limits<qint64>::min();
    return qint64(std::nearbyint(value)); // default rounding mode: to nearest, ties to even
}

std::optional<qint16> toInt16(const QString &text)
{
    const auto v = parseNumber(text);
    if (!v)
        return std::nullopt;
    const qint64 whole = roundHalfEven(*v);
    if (whole < -32768 || whole > 32767)
        return std::nullopt;
    return qint16(whole);
}

QString formatWhole(const QString &text, int digits)
{
    const auto v = parseNumber(text);
    if (!v)
        return text;
    const double rounded = std::round(*v); // halves away from zero
    if (std::fabs(rounded) > 1e15)
        return text;
    const qint64 whole = qint64(rounded);
    QString out = QString::number(whole < 0 ? -whole : whole).rightJustified(digits, u'0');
    return whole < 0 ? QStringLiteral("-") + out : out;
}

QString hex(double value)
{
    const qint64 whole = roundHalfEven(value);
    return QString::number(quint32(qint32(whole)), 16).toUpper();
}

QString right2(const QString &text)
{
    return (QStringLiteral("00") + text).right(2);
}

} // namespace TextConvert
