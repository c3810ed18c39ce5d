#include <platform/Text.h>

#include <gtest/gtest.h>

#include <ostream>
#include <string>

using namespace platform;

namespace {

TEST(Utf8Conversion, RoundTripsEveryKindOfCharacter)
{
    const std::u16string text = u"plain ä € 😀 \U0010FFFF \u0800 end";
    const std::string utf8 = toUtf8(text);
    EXPECT_EQ(utf8,
              "plain \xC3\xA4 \xE2\x82\xAC \xF0\x9F\x98\x80 \xF4\x8F\xBF\xBF \xE0\xA0\x80 end");
    EXPECT_EQ(fromUtf8(utf8), text);
}

struct BrokenUtf8Case
{
    const char *what;
    std::string bytes;
    std::u16string expected;
};

void PrintTo(const BrokenUtf8Case &row, std::ostream *out)
{
    *out << row.what;
}

class BrokenUtf8 : public testing::TestWithParam<BrokenUtf8Case>
{};

TEST_P(BrokenUtf8, BecomesReplacementCharacters)
{
    EXPECT_EQ(fromUtf8(GetParam().bytes), GetParam().expected) << GetParam().what;
}

INSTANTIATE_TEST_SUITE_P(
        Table, BrokenUtf8,
        testing::Values(
                BrokenUtf8Case{"stray continuation byte", "a\x80z", u"a\uFFFDz"},
                BrokenUtf8Case{"byte that never occurs", "\xFF", u"\uFFFD"},
                BrokenUtf8Case{"sequence cut by the end", "ab\xE2\x82", u"ab\uFFFD"},
                BrokenUtf8Case{"sequence cut by an ASCII byte", "\xE2\x82z", u"\uFFFDz"},
                BrokenUtf8Case{"overlong slash", "\xC0\xAF", u"\uFFFD\uFFFD"},
                BrokenUtf8Case{"overlong three-byte form", "\xE0\x80\xAF", u"\uFFFD\uFFFD\uFFFD"},
                BrokenUtf8Case{"encoded surrogate", "\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},
                BrokenUtf8Case{"above U+10FFFF", "\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
                BrokenUtf8Case{"zero byte is kept", std::string("a\0b", 3),
                               std::u16string(u"a\0b", 3)}));

TEST(Utf8Conversion, UnpairedSurrogatesBecomeReplacementCharacters)
{
    const std::u16string lonely{u'a', char16_t(0xD800), u'b', char16_t(0xDC00)};
    EXPECT_EQ(toUtf8(lonely), "a\xEF\xBF\xBD"
                              "b\xEF\xBF\xBD");
    const std::u16string swapped{char16_t(0xDE00), char16_t(0xD83D)};
    EXPECT_EQ(toUtf8(swapped), "\xEF\xBF\xBD\xEF\xBF\xBD");
}

struct CaseFoldCase
{
    std::u16string a;
    std::u16string b;
    bool equal;
};

void PrintTo(const CaseFoldCase &row, std::ostream *out)
{
    *out << toUtf8(row.a) << (row.equal ? " == " : " != ") << toUtf8(row.b);
}

class CaseFolding : public testing::TestWithParam<CaseFoldCase>
{};

TEST_P(CaseFolding, ComparesAsUnicodeSimpleCaseFolding)
{
    const CaseFoldCase &row = GetParam();
    EXPECT_EQ(equalsIgnoreCase(row.a, row.b), row.equal) << toUtf8(row.a) << " / " << toUtf8(row.b);
    EXPECT_EQ(equalsIgnoreCase(row.b, row.a), row.equal);
    EXPECT_EQ(compareIgnoreCase(row.a, row.b) == 0, row.equal);
    EXPECT_EQ(foldCase(row.a) == foldCase(row.b), row.equal);
}

INSTANTIATE_TEST_SUITE_P(
        Table, CaseFolding,
        testing::Values(CaseFoldCase{u"Program Files", u"PROGRAM files", true},
                        CaseFoldCase{u"ÄRGER.txt", u"ärger.TXT", true},
                        CaseFoldCase{u"ΣΊΣΥΦΟΣ", u"σίσυφοσ", true},
                        CaseFoldCase{u"σ", u"ς", true},           // final sigma folds to sigma
                        CaseFoldCase{u"\u00B5", u"\u039C", true}, // micro sign and capital mu
                        CaseFoldCase{u"\u017F", u"S", true},      // long s
                        CaseFoldCase{u"\u212A", u"k", true},      // Kelvin sign
                        CaseFoldCase{u"\u2126", u"\u03C9", true}, // ohm sign and omega
                        CaseFoldCase{u"\u1E9E", u"\u00DF", true}, // capital and small sharp s
                        CaseFoldCase{u"\u13A0", u"\uAB70", true}, // Cherokee
                        CaseFoldCase{u"\uFF21", u"\uFF41", true}, // full-width A and a
                        CaseFoldCase{u"\u0400", u"\u0450", true}, // Cyrillic
                        CaseFoldCase{u"\U00010400", u"\U00010400", true},
                        // Only one-to-one foldings count; Turkish dotted and dotless i stay apart.
                        CaseFoldCase{u"\u0130", u"i", false}, CaseFoldCase{u"\u0131", u"i", false},
                        CaseFoldCase{u"\u00DF", u"ss", false}, CaseFoldCase{u"a", u"\u00E1", false},
                        CaseFoldCase{u"a", u"ab", false}, CaseFoldCase{u"[", u"{", false}));

TEST(CaseFolding, OrdersByFoldedUnitsWithShorterPrefixFirst)
{
    EXPECT_LT(compareIgnoreCase(u"_under", u"apple"), 0); // '_' sorts before lower-case letters
    EXPECT_LT(compareIgnoreCase(u"apple", u"Banana"), 0);
    EXPECT_LT(compareIgnoreCase(u"Banana", u"be"), 0);
    EXPECT_LT(compareIgnoreCase(u"Deep", u"DEEPER"), 0);
    EXPECT_GT(compareIgnoreCase(u"{guid}", u"Zed"), 0);
    EXPECT_EQ(compareIgnoreCase(u"", u""), 0);
}

struct WildcardCase
{
    std::u16string name;
    std::u16string pattern;
    bool matches;
};

void PrintTo(const WildcardCase &row, std::ostream *out)
{
    *out << toUtf8(row.name) << (row.matches ? " matches " : " does not match ")
         << toUtf8(row.pattern);
}

class Wildcards : public testing::TestWithParam<WildcardCase>
{};

TEST_P(Wildcards, MatchLikeWindowsFileNamePatterns)
{
    const WildcardCase &row = GetParam();
    EXPECT_EQ(matchesWildcard(row.name, row.pattern), row.matches)
            << toUtf8(row.name) << " against " << toUtf8(row.pattern);
}

INSTANTIATE_TEST_SUITE_P(
        Table, Wildcards,
        testing::Values(
                WildcardCase{u"report.txt", u"*.*", true}, WildcardCase{u"README", u"*.*", true},
                WildcardCase{u".hidden", u"*.*", true}, WildcardCase{u"a.b.c", u"*.*", true},
                WildcardCase{u"anything", u"*", true}, WildcardCase{u"x", u"*", true},
                WildcardCase{u"Cookies.TXT", u"cookies.txt", true},
                WildcardCase{u"cookies.txt.bak", u"cookies.txt", false},
                WildcardCase{u"cookies.sqlite", u"cookies.txt", false},
                WildcardCase{u"ERROR.LOG", u"*.log", true},
                WildcardCase{u"error.log.1", u"*.log", false},
                WildcardCase{u"a.log", u"*.log*", true}, WildcardCase{u"~$doc.tmp", u"~*.*", true},
                WildcardCase{u"doc.tmp", u"~*.*", false},
                WildcardCase{u"file1.txt", u"file?.txt", true},
                WildcardCase{u"file12.txt", u"file?.txt", false},
                WildcardCase{u"file.txt", u"file?.txt", false},
                WildcardCase{u"f😀.txt", u"f?.txt", true}, // "?" takes a whole character
                WildcardCase{u"ÄRGER.TXT", u"är*.txt", true},
                WildcardCase{u"readme", u"readme.*", true},
                WildcardCase{u"readme.md", u"readme.*", true},
                WildcardCase{u"readmex", u"readme.*", false}, WildcardCase{u"README", u"*.", true},
                WildcardCase{u"a.txt", u"*.", false}, WildcardCase{u"abc", u"a?c.", true},
                WildcardCase{u"abc", u"", false}, WildcardCase{u"abc", u"abc*", true},
                WildcardCase{u"abc", u"**a**b**c**", true}, WildcardCase{u"abc", u"*?*?*?*", true},
                WildcardCase{u"ab", u"*?*?*?*", false}, WildcardCase{u"aXbXc", u"a*b*c", true},
                WildcardCase{u"aXbXd", u"a*b*c", false},
                WildcardCase{u"mississippi", u"*sip*", true},
                WildcardCase{u"mississippi", u"m*iss*ppi", true},
                WildcardCase{u"mississippi", u"m*issx*ppi", false}));

TEST(Wildcards, ManyStarsOnLongNamesStayFast)
{
    // A naive recursive matcher needs exponential time here; the test's time-out would catch it.
    const std::u16string name(4000, u'a');
    std::u16string failing;
    std::u16string succeeding;
    for (int i = 0; i < 200; ++i) {
        failing += u"*a";
        succeeding += u"*a";
    }
    failing += u"*b";
    succeeding += u"*";
    EXPECT_FALSE(matchesWildcard(name, failing));
    EXPECT_TRUE(matchesWildcard(name, succeeding));
    EXPECT_TRUE(matchesWildcard(name + u"b", failing));
}

} // namespace
