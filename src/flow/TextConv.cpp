#include "flow/TextConv.h"

#include <QStringList>
#include <QStringView>
#include <algorithm>
#include <string_view>

namespace brevik {

namespace {

bool allIn(const QString& text, QStringView set) {
    for (QChar c : text)
        if (!set.contains(c))
            return false;
    return true;
}

// Full-width katakana and punctuation for U+FF61..U+FF9F, in code order.
constexpr char16_t kWideKana[] =
    u"。「」、・ヲァィゥェォャュョッーアイウエオカキクケコサシスセソタチツテトナニヌネノ"
    u"ハヒフヘホマミムメモヤユヨラリルレロワン゛゜";
static_assert(sizeof(kWideKana) / sizeof(char16_t) == 0xFF9F - 0xFF61 + 2);

// Wide forms of U+FFE8..U+FFEE.
constexpr char16_t kWideForms[] = u"\u2502\u2190\u2191\u2192\u2193\u25A0\u25CB";
// Narrow forms of U+FFE0..U+FFE6.
constexpr char16_t kNarrowSigns[] = u"\u00A2\u00A3\u00AC\u00AF\u00A6\u00A5\u20A9";

constexpr char16_t kVoicedMark = 0xFF9E, kSemiVoicedMark = 0xFF9F;

// Kana that join a following voiced mark, and those that join a semi-voiced one.
constexpr std::u16string_view kVoiceable = u"ウカキクケコサシスセソタチツテトハヒフヘホ";
constexpr std::u16string_view kSemiVoiceable = u"ハヒフヘホ";

bool takesVoiced(char16_t k) {
    return kVoiceable.find(k) != std::u16string_view::npos;
}
bool takesSemiVoiced(char16_t k) {
    return kSemiVoiceable.find(k) != std::u16string_view::npos;
}
// The combined kana sit right after their plain form, ヴ aside.
char16_t voiced(char16_t k) {
    return k == u'ウ' ? u'ヴ' : char16_t(k + 1);
}

// The plain kana of a combined one, 0 when c is not combined.
char16_t voicedBase(char16_t c) {
    for (char16_t k : kVoiceable)
        if (voiced(k) == c)
            return k;
    return 0;
}
char16_t semiVoicedBase(char16_t c) {
    for (char16_t k : kSemiVoiceable)
        if (k + 2 == c)
            return k;
    return 0;
}

// Half-width code unit for a plain full-width katakana or sign, 0 when it has none.
char16_t narrowKana(char16_t w) {
    for (char16_t i = 0; i <= 0xFF9F - 0xFF61; ++i)
        if (kWideKana[i] == w)
            return char16_t(0xFF61 + i);
    return 0;
}

} // namespace

bool CheckHiragana(const QString& text) {
    return allIn(
        text,
        u"あいうえおかきくけこさしすせそたちつてとなにぬねのはひふへほまみむめもやゆよらりる"
        u"れろわをんぁぃぅぇぉっゃゅょゎがぎぐげござじずぜぞだぢづでどばびぶべぼぱぴぷぺぽー");
}

bool CheckAlphabet(const QString& text) {
    return allIn(text, u"abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ ");
}

bool CheckMailChars(const QString& text) {
    return allIn(text, u"'0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ-_.");
}

bool CheckDigits(const QString& text) {
    return allIn(text, u"'0123456789");
}

QString toFullWidth(const QString& text) {
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c >= 0x21 && c <= 0x7E) {
            out += QChar(char16_t(c - 0x21 + 0xFF01));
        } else if (c == 0x20) {
            out += QChar(0x3000);
        } else if (c >= 0xFF61 && c <= 0xFF9F) {
            const char16_t k = kWideKana[c - 0xFF61];
            const char16_t next = i + 1 < text.size() ? text[i + 1].unicode() : 0;
            if (next == kVoicedMark && takesVoiced(k)) {
                out += QChar(voiced(k));
                ++i;
            } else if (next == kSemiVoicedMark && takesSemiVoiced(k)) {
                out += QChar(char16_t(k + 2));
                ++i;
            } else {
                out += QChar(k);
            }
        } else if (c >= 0xFFE8 && c <= 0xFFEE) {
            out += QChar(kWideForms[c - 0xFFE8]);
        } else {
            out += QChar(c);
        }
    }
    return out;
}

QString toHalfWidth(const QString& text) {
    QString out;
    out.reserve(text.size());
    for (QChar qc : text) {
        const char16_t c = qc.unicode();
        if (c >= 0xFF01 && c <= 0xFF5E) {
            out += QChar(char16_t(c - 0xFF01 + 0x21));
        } else if (c == 0x3000) {
            out += QChar(0x20);
        } else if (c >= 0xFFE0 && c <= 0xFFE6) {
            out += QChar(kNarrowSigns[c - 0xFFE0]);
        } else if (const char16_t n = narrowKana(c)) {
            out += QChar(n);
        } else if (const char16_t base = voicedBase(c)) {
            out += QChar(narrowKana(base));
            out += QChar(kVoicedMark);
        } else if (const char16_t plain = semiVoicedBase(c)) {
            out += QChar(narrowKana(plain));
            out += QChar(kSemiVoicedMark);
        } else {
            out += qc;
        }
    }
    return out;
}

QString toUpperCase(const QString& text) {
    QString out = text;
    for (qsizetype i = 0; i < out.size(); ++i) {
        const QChar c = out[i];
        if (c.isHighSurrogate() && i + 1 < out.size() && out[i + 1].isLowSurrogate()) {
            const char32_t up = QChar::toUpper(QChar::surrogateToUcs4(c, out[i + 1]));
            if (QChar::requiresSurrogates(up)) {
                out[i] = QChar(QChar::highSurrogate(up));
                out[i + 1] = QChar(QChar::lowSurrogate(up));
            }
            ++i;
        } else if (!c.isSurrogate()) {
            const char32_t up = QChar::toUpper(c.unicode());
            if (!QChar::requiresSurrogates(up))
                out[i] = QChar(char16_t(up));
        }
    }
    return out;
}

QString stripChar(QString text, QChar c) {
    text.remove(c);
    return text;
}

bool isCalendarDate(const QString& text) {
    const QStringList parts = text.split(u'/');
    if (parts.size() != 3)
        return false;
    int v[3] = {};
    for (int p = 0; p < 3; ++p) {
        if (parts[p].isEmpty())
            return false;
        for (QChar c : parts[p]) {
            if (c < u'0' || c > u'9')
                return false;
            // Anything past 99999 is out of range anyway; stop before overflowing.
            v[p] = std::min(v[p] * 10 + (c.unicode() - u'0'), 100000);
        }
    }
    const int y = v[0], m = v[1], d = v[2];
    if (y < 1 || y > 9999 || m < 1 || m > 12 || d < 1)
        return false;
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    return d <= kDays[m - 1] + (m == 2 && leap ? 1 : 0);
}

} // namespace brevik
