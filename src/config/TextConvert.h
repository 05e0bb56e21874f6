#pragma once
// The conversions the unit's texts rely on, written once: the old platform's
// rules for reading numbers out of text and writing them back.

#include <QString>
#include <optional>

namespace TextConvert {

// The value of a hexadecimal digit, either case; -1 for any other character.
int hexDigit(QChar c);

// Whole text as a number: blanks around, a sign, a decimal point, an exponent
// (E or D) and the "&H"/"&O" forms are allowed; the empty text is no number.
std::optional<double> parseNumber(const QString &text);
inline bool isNumeric(const QString &text) { return parseNumber(text).has_value(); }

// Leading number of a text: leading blanks skipped, reading stops at the first
// character that cannot belong to the number; no number gives 0.
double leadingNumber(const QString &text);

// Leading hexadecimal digits of a text as a number; none gives 0.
qint64 leadingHex(const QString &text);

// Whole number with halves going to the even neighbour (2.5 -> 2, 3.5 -> 4).
qint64 roundHalfEven(double value);

// Whole number conversion to a 16-bit integer; nothing when the text is no
// number or the value lies out of range.
std::optional<qint16> toInt16(const QString &text);

// Number format "0" / "00": numeric text is rounded (halves away from zero)
// and padded to `digits`; any other text is returned unchanged.
QString formatWhole(const QString &text, int digits);

// Upper-case hexadecimal of a number, rounded first; negatives as 32 bits.
QString hex(double value);

// The last two characters of "00" + text.
QString right2(const QString &text);

} // namespace TextConvert
