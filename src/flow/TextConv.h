#pragma once
// Text helpers of the registration form: character-class checks, width and
// case conversions and the calendar check. All work on UTF-16 code units.
#include <QString>

namespace brevik {

// True when every code unit of text occurs in the function's set; empty passes.
bool CheckHiragana(const QString& text);
bool CheckAlphabet(const QString& text);
bool CheckMailChars(const QString& text);
bool CheckDigits(const QString& text);

// Half-width forms to full-width ones, the way a Japanese system maps them:
// ASCII to U+FF01..U+FF5E, the space to U+3000, half-width katakana to
// full-width ones (a following voiced or semi-voiced mark joined where a
// combined kana exists), U+FFE8..U+FFEE to their wide forms.
QString toFullWidth(const QString& text);
// The reverse: full-width ASCII, U+3000, katakana (voiced kana split in two),
// Japanese punctuation and U+FFE0..U+FFE6 to their half-width forms.
QString toHalfWidth(const QString& text);
// Letters to upper case, one code point for one, so lengths stay as they are.
QString toUpperCase(const QString& text);

// Removes every occurrence of c.
QString stripChar(QString text, QChar c);

// "year/month/day" of decimal numbers naming a real Gregorian date, year 1..9999.
bool isCalendarDate(const QString& text);

} // namespace brevik
