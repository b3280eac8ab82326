#include "flow/TextConv.h"

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace brevik {
namespace {

struct Conv {
    const char16_t* in;
    const char16_t* out;
};

TEST(TextConv, FullWidth) {
    const Conv cases[] = {
        {u"Abc 1~!", u"Ａｂｃ　１～！"},
        {u"\"'\\", u"＂＇＼"},
        {u"ｶﾞｷﾞｸﾞｹﾞｺﾞ", u"ガギグゲゴ"},
        {u"ｻﾞｿﾞﾀﾞﾂﾞﾄﾞ", u"ザゾダヅド"},
        {u"ﾊﾞﾋﾟﾌﾞﾍﾟﾎﾞ", u"バピブペボ"},
        {u"ｳﾞ", u"ヴ"},
        {u"ｱﾞﾏﾟﾅﾞ", u"ア゛マ゜ナ゛"}, // no combined kana: the mark stays apart
        {u"ﾞｶ", u"゛カ"},             // dangling mark at the start
        {u"ｶﾞﾞ", u"ガ゛"},
        {u"ｶﾟﾜﾞ", u"カ゜ワ゛"},
        {u"ｶ", u"カ"},
        {u"｡｢｣､･ｦｧｨｩｪｫｬｭｮｯｰﾝ", u"。「」、・ヲァィゥェォャュョッーン"},
        {u"ｱｲｳｴｵﾅﾆﾇﾈﾉﾏﾐﾑﾒﾓﾔﾕﾖﾗﾘﾙﾚﾛﾜ", u"アイウエオナニヌネノマミムメモヤユヨラリルレロワ"},
        {u"\uFFE8\uFFE9\uFFEA\uFFEB\uFFEC\uFFED\uFFEE", u"│←↑→↓■○"},
        // Outside the mapped ranges: unchanged, surrogates (paired or not) included.
        {u"あ漢ガ　Ａ¥\u00A2\U0001F600", u"あ漢ガ　Ａ¥\u00A2\U0001F600"},
        {u"\xD800x\xDC00", u"\xD800ｘ\xDC00"},
        {u"", u""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(toFullWidth(QString::fromUtf16(c.in)), QString::fromUtf16(c.out))
            << QString::fromUtf16(c.in).toStdString();
}

TEST(TextConv, HalfWidth) {
    const Conv cases[] = {
        {u"Ａｂｃ　１～！＂＇＼", u"Abc 1~!\"'\\"},
        {u"ガギグゲゴザジズゼゾダヂヅデド", u"ｶﾞｷﾞｸﾞｹﾞｺﾞｻﾞｼﾞｽﾞｾﾞｿﾞﾀﾞﾁﾞﾂﾞﾃﾞﾄﾞ"},
        {u"バビブベボパピプペポヴ", u"ﾊﾞﾋﾞﾌﾞﾍﾞﾎﾞﾊﾟﾋﾟﾌﾟﾍﾟﾎﾟｳﾞ"},
        {u"。「」、・ー゛゜", u"｡｢｣､･ｰﾞﾟ"},
        {u"ヲァィゥェォャュョッンアワ", u"ｦｧｨｩｪｫｬｭｮｯﾝｱﾜ"},
        {u"￠￡￢￣￤￥￦", u"\u00A2\u00A3\u00AC\u00AF\u00A6\u00A5\u20A9"},
        // No half-width form: unchanged.
        {u"ヵヶヮヰヱヷヺあがぱ漢\U0001F600│", u"ヵヶヮヰヱヷヺあがぱ漢\U0001F600│"},
        {u"ｶﾞabc", u"ｶﾞabc"},
        {u"\xDBFF１", u"\xDBFF"
                      u"1"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(toHalfWidth(QString::fromUtf16(c.in)), QString::fromUtf16(c.out))
            << QString::fromUtf16(c.in).toStdString();
}

TEST(TextConv, FullAndHalfWidthRoundTripOverKatakana) {
    for (char16_t c = 0xFF61; c <= 0xFF9F; ++c) {
        const QString half(QChar{c});
        EXPECT_EQ(toHalfWidth(toFullWidth(half)), half) << int(c);
    }
}

TEST(TextConv, UpperCaseKeepsLength) {
    EXPECT_EQ(toUpperCase(QStringLiteral("yamada Taro")), QStringLiteral("YAMADA TARO"));
    EXPECT_EQ(toUpperCase(u"ｙａｍａｄａ"_s), u"ＹＡＭＡＤＡ"_s);
    // One code point for one: ß and ŉ would grow under full case mapping.
    for (const QString& s : {u"straße"_s, u"\u0149"_s, u"\U00010428"_s, u"\xD801"_s})
        EXPECT_EQ(toUpperCase(s).size(), s.size()) << s.toStdString();
    EXPECT_EQ(toUpperCase(u"\U00010428"_s), u"\U00010400"_s); // Deseret, a surrogate pair
}

TEST(TextConv, CharacterClasses) {
    const QString hiragana =
        u"あいうえおかきくけこさしすせそたちつてとなにぬねのはひふへほまみむめもやゆよ"
        u"らりるれろわをんぁぃぅぇぉっゃゅょゎがぎぐげござじずぜぞだぢづでどばびぶべ"
        u"ぼぱぴぷぺぽー"_s;
    EXPECT_EQ(hiragana.size(), 82);
    EXPECT_TRUE(CheckHiragana(hiragana));
    for (const QString& bad : {u"ゐ"_s, u"ゑ"_s, u"ア"_s, u"ｱ"_s, u"あ い"_s, u"あ　い"_s, u"ゔ"_s,
                               u"か\u3099"_s, u"〜"_s})
        EXPECT_FALSE(CheckHiragana(bad)) << bad.toStdString();

    EXPECT_TRUE(CheckAlphabet(u"Yamada Taro"_s));
    for (const QString& bad : {u"Ｙａｍａｄａ"_s, u"O'Neil"_s, u"Jean-Luc"_s, u"é"_s})
        EXPECT_FALSE(CheckAlphabet(bad)) << bad.toStdString();

    EXPECT_TRUE(CheckMailChars(u"o'neil-2_x.Y"_s));
    for (const QString& bad : {u"a@b"_s, u"a b"_s, u"a+b"_s, u"ａ"_s})
        EXPECT_FALSE(CheckMailChars(bad)) << bad.toStdString();

    EXPECT_TRUE(CheckDigits(u"0123456789'"_s));
    for (const QString& bad : {u"１"_s, u"-"_s, u" "_s, u"1a"_s})
        EXPECT_FALSE(CheckDigits(bad)) << bad.toStdString();

    for (auto check : {CheckHiragana, CheckAlphabet, CheckMailChars, CheckDigits})
        EXPECT_TRUE(check(QString()));
}

TEST(TextConv, CalendarDate) {
    const std::pair<const char*, bool> cases[] = {
        {"1999/06/06", true},   {"2000/02/29", true},  {"2001/02/29", false},
        {"1900/02/29", false},  {"2004/2/29", true},   {"1999/13/01", false},
        {"1999/00/10", false},  {"1999/04/31", false}, {"1999/12/31", true},
        {"0/01/01", false},     {"1/1/1", true},       {"9999/12/31", true},
        {"10000/01/01", false}, {"1999/06/", false},   {"1999/06/06/1", false},
        {"1999/+6/06", false},  {"1999/ 6/06", false}, {"99999999999999999999/1/1", false},
        {"1999-06-06", false},  {"", false},
    };
    for (const auto& [text, valid] : cases)
        EXPECT_EQ(isCalendarDate(QString::fromLatin1(text)), valid) << text;
    EXPECT_FALSE(isCalendarDate(u"１９９９/06/06"_s));
}

} // namespace
} // namespace brevik
