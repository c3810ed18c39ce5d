// Reading INI files the way Windows' profile functions read them. The fixture and most expected
// results are what GetPrivateProfileStringW, GetPrivateProfileSectionW and GetPrivateProfileIntW
// returned for the same text under Wine.

#include <TestPrefix.h>

#include <platform/FileSystem.h>
#include <platform/IniFile.h>
#include <platform/Machine.h>
#include <platform/Text.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

using namespace platform;

namespace {

// Wine's fixture, with CRLF line ends.
const std::string windowsFixture = "; leading comment\r\n"
                                   "  [ Section1 ]  \r\n"
                                   "key1 = value1  \r\n"
                                   "KEY1=dup\r\n"
                                   " key2=  \"quoted value\"  \r\n"
                                   "key3='single'\r\n"
                                   "key4=\"unbalanced\r\n"
                                   "key5=value ; not a comment?\r\n"
                                   "noequals line\r\n"
                                   "=emptykey\r\n"
                                   "key6=\r\n"
                                   "  key7  =  spaced  \r\n"
                                   "#hashcomment=1\r\n"
                                   "key8=\"\" \r\n"
                                   "key9 = \"a\"b\" \r\n"
                                   "[Dup]\r\n"
                                   "a=1\r\n"
                                   "c=first\r\n"
                                   "c=second\r\n"
                                   "[Empty]\r\n"
                                   "[Dup]\r\n"
                                   "b=2\r\n"
                                   "[Int]\r\n"
                                   "i1=123\r\n"
                                   "i2=  -45\r\n"
                                   "i3=0x10\r\n"
                                   "i4=12abc\r\n"
                                   "i5=abc\r\n"
                                   "i6=\r\n"
                                   "i7=4294967296\r\n"
                                   "i8=+7\r\n"
                                   "i9= 3 4\r\n"
                                   "i10=\"-1\"\r\n"
                                   "i11=0xFFFFFFFF\r\n";

std::vector<std::string> utf8(const std::vector<std::u16string> &texts)
{
    std::vector<std::string> result;
    for (const std::u16string &text : texts)
        result.push_back(toUtf8(text));
    return result;
}

// --- GetPrivateProfileStringW ----------------------------------------------------------------

struct StringCase
{
    const char *section;
    const char *key;
    const char *defaultValue;
    const char *expected;
};

void PrintTo(const StringCase &row, std::ostream *out)
{
    *out << "[" << row.section << "] " << row.key << " -> \"" << row.expected << "\"";
}

class StringLookup : public testing::TestWithParam<StringCase>
{};

TEST_P(StringLookup, GivesWhatWindowsGives)
{
    const IniFile file = IniFile::fromBytes(windowsFixture);
    const StringCase &row = GetParam();
    EXPECT_EQ(toUtf8(file.string(u16(row.section), u16(row.key), u16(row.defaultValue))),
              row.expected);
}

INSTANTIATE_TEST_SUITE_P(
        WindowsFixture, StringLookup,
        testing::Values(StringCase{"Section1", "key1", "-", "value1"},
                        StringCase{"SECTION1", "Key1", "-",
                                   "value1"}, // names without regard to case
                        StringCase{"section1", "KEY2", "-", "quoted value"}, // outer quotes removed
                        StringCase{"Section1", "key3", "-", "single"},
                        StringCase{"Section1", "key4", "-", "\"unbalanced"},
                        StringCase{"Section1", "key5", "-", "value ; not a comment?"},
                        StringCase{"Section1", "noequals line", "-", "-"}, // no key
                        StringCase{"Section1", "", "-", "emptykey"},
                        StringCase{"Section1", "key6", "-", ""}, // an empty value is no default
                        StringCase{"Section1", "key7", "-", "spaced"},
                        StringCase{"Section1", "#hashcomment", "-", "1"},
                        StringCase{"Section1", "key8", "-", ""},
                        StringCase{"Section1", "key9", "-", "a\"b"},
                        StringCase{"Section1", "; leading comment", "-", "-"},
                        StringCase{"Section1", "missing", "  dflt  ", "  dflt"},
                        StringCase{"Nowhere", "key1", "dflt\t ", "dflt\t"},
                        StringCase{"Dup", "c", "-", "first"},
                        StringCase{"Dup", "b", "-", "-"}, // the second [Dup] is never searched
                        StringCase{"Empty", "a", "-", "-"}),
        [](const testing::TestParamInfo<StringCase> &info) {
            return "Row" + std::to_string(info.index);
        });

TEST(IniFile, StringIsCutToTheBufferSize)
{
    const IniFile file = IniFile::fromBytes(windowsFixture);
    EXPECT_EQ(file.string(u"Section1", u"key1", u"", 4), u"val");
    EXPECT_EQ(file.string(u"Section1", u"key1", u"", 7), u"value1");
    EXPECT_EQ(file.string(u"Section1", u"key1", u"", 1), u"");
    EXPECT_EQ(file.string(u"Section1", u"key1", u"", 0), u"");
    EXPECT_EQ(file.string(u"Section1", u"missing", u"default", 4), u"def");
}

TEST(IniFile, ValueTellsAnEmptyValueFromAMissingKey)
{
    const IniFile file = IniFile::fromBytes(windowsFixture);
    EXPECT_EQ(file.value(u"Section1", u"key6"), std::u16string());
    EXPECT_EQ(file.value(u"Section1", u"missing"), std::nullopt);
    EXPECT_EQ(file.value(u"Missing", u"key6"), std::nullopt);
}

// --- GetPrivateProfileSectionW and the name lists ---------------------------------------------

TEST(IniFile, SectionGivesItsLinesWholeWithoutComments)
{
    const IniFile file = IniFile::fromBytes(windowsFixture);
    const std::vector<std::string> expected = {
            "key1=value1",   "KEY1=dup",          "key2=\"quoted value\"",
            "key3='single'", "key4=\"unbalanced", "key5=value ; not a comment?",
            "noequals line", "=emptykey",         "key6=",
            "key7=spaced",   "#hashcomment=1",    "key8=\"\"",
            "key9=\"a\"b\""};
    EXPECT_EQ(utf8(file.section(u"section1")), expected);
    EXPECT_EQ(utf8(file.section(u"DUP")), (std::vector<std::string>{"a=1", "c=first", "c=second"}));
    EXPECT_TRUE(file.section(u"Empty").empty());
    EXPECT_TRUE(file.hasSection(u"empty"));
    EXPECT_TRUE(file.section(u"Missing").empty());
    EXPECT_FALSE(file.hasSection(u"Missing"));
}

TEST(IniFile, SectionIsCutToTheBufferSizeAsWindowsCutsIt)
{
    const IniFile file = IniFile::fromBytes(windowsFixture);
    // "key1=value1" does not fit into 12 characters with its NUL and the final NUL.
    EXPECT_EQ(utf8(file.section(u"Section1", 12)), std::vector<std::string>{"key1=value"});
    // The first line fits exactly; the next one is shortened to what remains.
    EXPECT_EQ(utf8(file.section(u"Section1", 17)),
              (std::vector<std::string>{"key1=value1", "KEY"}));
    EXPECT_TRUE(file.section(u"Section1", 2).empty());
    EXPECT_TRUE(file.section(u"Section1", 0).empty());
}

TEST(IniFile, NameListsKeepRepeatsAndFileOrder)
{
    const IniFile file = IniFile::fromBytes(windowsFixture);
    EXPECT_EQ(utf8(file.sectionNames()),
              (std::vector<std::string>{"Section1", "Dup", "Empty", "Dup", "Int"}));
    const std::vector<std::string> keys = {"key1", "KEY1", "key2", "key3",         "key4", "key5",
                                           "",     "key6", "key7", "#hashcomment", "key8", "key9"};
    EXPECT_EQ(utf8(file.keyNames(u"Section1")), keys);
    EXPECT_TRUE(file.keyNames(u"Missing").empty());
}

// --- GetPrivateProfileIntW ------------------------------------------------------------------

struct IntegerCase
{
    const char *key;
    std::uint32_t expected;
};

void PrintTo(const IntegerCase &row, std::ostream *out)
{
    *out << row.key << " -> " << row.expected;
}

class IntegerLookup : public testing::TestWithParam<IntegerCase>
{};

TEST_P(IntegerLookup, ReadsNumbersAsWindowsDoes)
{
    const IniFile file = IniFile::fromBytes(windowsFixture);
    EXPECT_EQ(file.integer(u"Int", u16(GetParam().key), 77), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(WindowsFixture, IntegerLookup,
                         testing::Values(IntegerCase{"i1", 123}, IntegerCase{"i2", 4294967251U},
                                         IntegerCase{"i3", 16}, IntegerCase{"i4", 12},
                                         IntegerCase{"i5", 0}, IntegerCase{"i6", 77},
                                         IntegerCase{"i7", 0}, IntegerCase{"i8", 7},
                                         IntegerCase{"i9", 3}, IntegerCase{"i10", 4294967295U},
                                         IntegerCase{"i11", 4294967295U},
                                         IntegerCase{"missing", 77}));

TEST(IniFile, IntegerDefaultIsReturnedAsUnsigned)
{
    EXPECT_EQ(IniFile().integer(u"Int", u"i1", -2), 4294967294U);
}

// --- Line structure -------------------------------------------------------------------------

struct LayoutCase
{
    const char *what;
    std::string bytes;
    const char *section;
    std::vector<std::string> lines; // what section() gives
};

void PrintTo(const LayoutCase &row, std::ostream *out)
{
    *out << row.what;
}

class LineLayout : public testing::TestWithParam<LayoutCase>
{};

TEST_P(LineLayout, SplitsAndTrimsLikeWindows)
{
    const IniFile file = IniFile::fromBytes(GetParam().bytes);
    EXPECT_EQ(utf8(file.section(u16(GetParam().section))), GetParam().lines) << GetParam().what;
}

INSTANTIATE_TEST_SUITE_P(
        Table, LineLayout,
        testing::Values(
                LayoutCase{"LF line ends", "[s]\na=1\nb=2\n", "s", {"a=1", "b=2"}},
                LayoutCase{"CR line ends only", "[s]\ra=1\rb=2", "s", {"a=1", "b=2"}},
                LayoutCase{"last line without line end", "[s]\r\na=1\r\nb", "s", {"a=1", "b"}},
                LayoutCase{"tabs and inner spaces",
                           "[s]\n\tmy key \t=\t v 1 \t\n",
                           "s",
                           {"my key=v 1"}},
                LayoutCase{"lines before the first header",
                           "orphan=1\n[Top]\nx=2\n",
                           "",
                           {"orphan=1"}},
                LayoutCase{"text after the closing bracket", "[s] trailing\na=1\n", "s", {"a=1"}},
                LayoutCase{"the last bracket closes the name", "[a]b]\nx=1\n", "a]b", {"x=1"}},
                LayoutCase{"header without closing bracket is a line",
                           "[s]\n[broken\na=1\n",
                           "s",
                           {"[broken", "a=1"}},
                LayoutCase{"empty section name", "x=0\n[]\na=1\n", "", {"x=0"}},
                LayoutCase{"blank and comment lines vanish",
                           "[s]\n\n   \n ;c=1\n;\na=1\n",
                           "s",
                           {"a=1"}},
                LayoutCase{"a NUL ends the line",
                           std::string("[s]\na=1\0junk\nb=2\n", 17),
                           "s",
                           {"a=1", "b=2"}},
                LayoutCase{"control-Z at the end", "[s]\na=1\n\x1A", "s", {"a=1"}},
                LayoutCase{"non-ASCII section names fold case",
                           "[\xC3\x84rger]\na=1\n",
                           "\xC3\xA4RGER",
                           {"a=1"}}));

// --- Encodings ------------------------------------------------------------------------------

std::string utf16(std::u16string_view text, bool littleEndian)
{
    std::string bytes = littleEndian ? "\xFF\xFE" : "\xFE\xFF";
    for (const char16_t unit : text) {
        const char low = static_cast<char>(unit & 0xFF);
        const char high = static_cast<char>(unit >> 8);
        bytes.push_back(littleEndian ? low : high);
        bytes.push_back(littleEndian ? high : low);
    }
    return bytes;
}

struct EncodingCase
{
    const char *what;
    std::string bytes;
    IniFile::Encoding encoding;
    std::u16string name; // value of [Sec] name
};

void PrintTo(const EncodingCase &row, std::ostream *out)
{
    *out << row.what;
}

class Encodings : public testing::TestWithParam<EncodingCase>
{};

TEST_P(Encodings, AreRecognisedAndDecoded)
{
    const IniFile file = IniFile::fromBytes(GetParam().bytes);
    EXPECT_EQ(file.encoding(), GetParam().encoding);
    EXPECT_EQ(file.string(u"sec", u"NAME", u"missing"), GetParam().name);
    EXPECT_EQ(file.string(u"sec", u"other", u"missing"), u"x");
}

const std::u16string cafeText = u"[Sec]\r\nname=caf\u00E9 \u20AC\r\nother=x\r\n";

INSTANTIATE_TEST_SUITE_P(
        Table, Encodings,
        testing::Values(
                EncodingCase{"UTF-16LE with mark", utf16(cafeText, true),
                             IniFile::Encoding::Utf16LittleEndian, u"caf\u00E9 \u20AC"},
                EncodingCase{"UTF-16BE with mark", utf16(cafeText, false),
                             IniFile::Encoding::Utf16BigEndian, u"caf\u00E9 \u20AC"},
                EncodingCase{"UTF-16LE with a dangling last byte", utf16(cafeText, true) + "\x41",
                             IniFile::Encoding::Utf16LittleEndian, u"caf\u00E9 \u20AC"},
                EncodingCase{"UTF-8 with mark", "\xEF\xBB\xBF" + toUtf8(cafeText),
                             IniFile::Encoding::Utf8WithMark, u"caf\u00E9 \u20AC"},
                EncodingCase{"UTF-8 without mark", toUtf8(cafeText), IniFile::Encoding::Utf8,
                             u"caf\u00E9 \u20AC"},
                EncodingCase{"UTF-8 beyond the BMP", "[Sec]\nname=\xF0\x9F\x98\x80\nother=x\n",
                             IniFile::Encoding::Utf8, u"\U0001F600"},
                EncodingCase{"Windows-1252", "[Sec]\r\nname=caf\xE9 \x80\r\nother=x\r\n",
                             IniFile::Encoding::Windows1252, u"caf\u00E9 \u20AC"},
                EncodingCase{"Windows-1252 unassigned byte", "[Sec]\nname=\x81\x9F\nother=x\n",
                             IniFile::Encoding::Windows1252, u"\u0081\u0178"},
                EncodingCase{"mark, then broken UTF-8", "\xEF\xBB\xBF[Sec]\nname=a\xE9z\nother=x\n",
                             IniFile::Encoding::Utf8WithMark, u"a\uFFFDz"},
                EncodingCase{"overlong UTF-8 is not UTF-8", "[Sec]\nname=\xC0\xAF\nother=x\n",
                             IniFile::Encoding::Windows1252, u"\u00C0\u00AF"}));

// --- Bad input ------------------------------------------------------------------------------

TEST(IniFile, EmptyFileHasNothing)
{
    const IniFile file = IniFile::fromBytes("");
    EXPECT_EQ(file.status(), IniFile::LoadStatus::Loaded);
    EXPECT_EQ(file.string(u"Info", u"Title", u"Error: No title given"), u"Error: No title given");
    EXPECT_TRUE(file.section(u"files").empty());
    EXPECT_TRUE(file.sectionNames().empty());
}

TEST(IniFile, BinaryGarbageIsReadWithoutHarm)
{
    // Deterministic noise with many brackets, equals signs, NULs and line ends, in every
    // encoding the reader recognises.
    std::uint32_t state = 12345;
    std::string noise;
    for (int index = 0; index < 20000; ++index) {
        state = state * 1103515245U + 12345U;
        const unsigned byte = (state >> 16) & 0xFF;
        const char special[] = {'[', ']', '=', '\0', '\r', '\n', ';', '"'};
        noise.push_back(byte < 64 ? special[byte % 8] : static_cast<char>(byte));
    }
    for (const std::string &prefix : {std::string(), std::string("\xFF\xFE"),
                                      std::string("\xFE\xFF"), std::string("\xEF\xBB\xBF")}) {
        const IniFile file = IniFile::fromBytes(prefix + noise);
        EXPECT_EQ(file.status(), IniFile::LoadStatus::Loaded);
        for (const std::u16string &name : file.sectionNames()) {
            for (const std::u16string &line : file.section(name))
                EXPECT_EQ(line.find(u'\0'), std::u16string::npos);
            for (const std::u16string &key : file.keyNames(name))
                EXPECT_TRUE(file.value(name, key).has_value());
        }
        EXPECT_EQ(file.string(u"\uFFFF", u"x", u"d"), u"d");
    }
}

// --- Loading files --------------------------------------------------------------------------

class IniFileLoading : public testing::Test
{
protected:
    void SetUp() override { m_prefix.install(); }
    const TestPrefix &prefix() const { return m_prefix; }

private:
    TestPrefix m_prefix;
};

TEST_F(IniFileLoading, ReadsAHostFile)
{
    prefix().writeFile("data/a.ini", "[Info]\nTitle=From disk\n");
    const IniFile file = IniFile::load(prefix().hostPath("data/a.ini"));
    EXPECT_EQ(file.status(), IniFile::LoadStatus::Loaded);
    EXPECT_EQ(file.string(u"info", u"title", u""), u"From disk");
}

TEST_F(IniFileLoading, ReadsAWindowsPathWithoutRegardToCase)
{
    prefix().writeFile("Program Files/Tool/Settings.INI", "[Info]\nTitle=Windows path\n");
    const IniFile file = IniFile::load(Machine::current().fileSystem(),
                                       u"c:\\PROGRAM FILES\\tool\\settings.ini");
    EXPECT_EQ(file.status(), IniFile::LoadStatus::Loaded);
    EXPECT_EQ(file.string(u"Info", u"Title", u""), u"Windows path");
}

struct RefusalCase
{
    const char *what;
    std::string (*arrange)(const TestPrefix &prefix); // makes the case, returns the path to load
    IniFile::LoadStatus status;
};

void PrintTo(const RefusalCase &row, std::ostream *out)
{
    *out << row.what;
}

class Refusals : public IniFileLoading, public testing::WithParamInterface<RefusalCase>
{};

TEST_P(Refusals, LeaveAnEmptyFileAndSayWhy)
{
    const IniFile file = IniFile::load(GetParam().arrange(prefix()));
    EXPECT_EQ(file.status(), GetParam().status);
    EXPECT_TRUE(file.sectionNames().empty());
    EXPECT_EQ(file.string(u"Info", u"Title", u"dflt"), u"dflt");
    EXPECT_EQ(file.integer(u"Info", u"Count", 5), 5U);
}

INSTANTIATE_TEST_SUITE_P(
        Table, Refusals,
        testing::Values(RefusalCase{"missing file",
                                    [](const TestPrefix &prefix) {
                                        return prefix.hostPath("nothing/here.ini");
                                    },
                                    IniFile::LoadStatus::Missing},
                        RefusalCase{"empty path", [](const TestPrefix &) { return std::string(); },
                                    IniFile::LoadStatus::Missing},
                        RefusalCase{"link to a missing file",
                                    [](const TestPrefix &prefix) {
                                        prefix.makeLink("dangling.ini",
                                                        prefix.hostPath("gone.ini"));
                                        return prefix.hostPath("dangling.ini");
                                    },
                                    IniFile::LoadStatus::Missing},
                        RefusalCase{"folder",
                                    [](const TestPrefix &prefix) {
                                        prefix.makeFolder("folder.ini");
                                        return prefix.hostPath("folder.ini");
                                    },
                                    IniFile::LoadStatus::NotAFile},
                        RefusalCase{"endless device",
                                    [](const TestPrefix &) { return std::string("/dev/zero"); },
                                    IniFile::LoadStatus::NotAFile},
                        RefusalCase{"4 GiB file",
                                    [](const TestPrefix &prefix) {
                                        prefix.writeSparseFile("huge.ini", IniFile::sizeLimit);
                                        return prefix.hostPath("huge.ini");
                                    },
                                    IniFile::LoadStatus::TooLarge}));

TEST_F(IniFileLoading, RespectsASmallerSizeLimit)
{
    prefix().writeFile("small.ini", "[a]\nb=c\n");
    EXPECT_EQ(IniFile::load(prefix().hostPath("small.ini"), 8).status(),
              IniFile::LoadStatus::TooLarge);
    EXPECT_EQ(IniFile::load(prefix().hostPath("small.ini"), 9).status(),
              IniFile::LoadStatus::Loaded);
}

TEST_F(IniFileLoading, UnreadableFileIsNotReportedAsLoaded)
{
    prefix().writeFile("locked.ini", "[a]\nb=c\n");
    std::error_code error;
    std::filesystem::permissions(prefix().hostPath("locked.ini"), std::filesystem::perms::none,
                                 error);
    ASSERT_FALSE(error);
    const IniFile file = IniFile::load(prefix().hostPath("locked.ini"));
    if (file.status() == IniFile::LoadStatus::Loaded)
        GTEST_SKIP() << "this user reads files without permission (root)";
    EXPECT_EQ(file.status(), IniFile::LoadStatus::Unreadable);
    EXPECT_EQ(file.string(u"a", u"b", u"d"), u"d");
}

} // namespace
