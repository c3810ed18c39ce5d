#include "WineRegistryText.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <ostream>
#include <string>
#include <vector>

using namespace platform;
using namespace platform::wineregistry;

namespace {

// "41,00,ff" as bytes.
std::vector<std::uint8_t> bytes(std::string_view hex)
{
    std::vector<std::uint8_t> data;
    for (std::size_t i = 0; i < hex.size(); i += 3)
        data.push_back(
                static_cast<std::uint8_t>(std::stoul(std::string(hex.substr(i, 2)), nullptr, 16)));
    return data;
}

std::string encodedValueLine(std::u16string_view name, const RegistryValue &value)
{
    std::string line;
    appendValueLine(line, name, value);
    return line;
}

struct ValueSyntax
{
    const char *label;
    std::string line; // as it stands in a file, with its line end
    std::u16string name;
    std::uint32_t type;
    std::string data;    // hex bytes
    std::string written; // what the writer makes of it; empty: the line itself
};

// Names the row in test listings.
void PrintTo(const ValueSyntax &row, std::ostream *out)
{
    *out << row.label;
}

class ValueSyntaxTest : public testing::TestWithParam<ValueSyntax>
{};

TEST_P(ValueSyntaxTest, readsNameTypeAndDataAndWritesWineForm)
{
    const ValueSyntax &row = GetParam();
    std::u16string name;
    RegistryValue value;
    ASSERT_EQ(decodeValueLine(row.line, name, value), ValueLine::Value);
    EXPECT_EQ(name, row.name);
    EXPECT_EQ(value.type, row.type);
    EXPECT_EQ(value.data, bytes(row.data));
    EXPECT_EQ(encodedValueLine(name, value), row.written.empty() ? row.line : row.written);
}

// Long binary data wraps as Wine wraps it: a line breaks after the comma that takes it past
// column 76 and goes on indented by two spaces.
std::string wrappedBinaryLine()
{
    std::string line = "\"long\"=hex:";
    for (int i = 0; i < 40; ++i) {
        char byte[4];
        std::snprintf(byte, sizeof byte, "%02x", i);
        line += byte;
        if (i < 39)
            line += ',';
        if (i == 21)
            line += "\\\n  ";
    }
    return line + "\n";
}

std::string wrappedBinaryData()
{
    std::string data;
    for (int i = 0; i < 40; ++i) {
        char byte[4];
        std::snprintf(byte, sizeof byte, "%02x", i);
        if (i > 0)
            data += ',';
        data += byte;
    }
    return data;
}

INSTANTIATE_TEST_SUITE_P(
        WineRegistryText, ValueSyntaxTest,
        testing::Values(
                ValueSyntax{"plain", "\"a\"=\"b\"\n", u"a", RegSz, "62,00,00,00", ""},
                ValueSyntax{"default", "@=\"x\"\n", u"", RegSz, "78,00,00,00", ""},
                ValueSyntax{"emptyString", "\"e\"=\"\"\n", u"e", RegSz, "00,00", ""},
                ValueSyntax{"backslash", "\"p\"=\"a\\\\b\"\n", u"p", RegSz,
                            "61,00,5c,00,62,00,00,00", ""},
                ValueSyntax{"quote", "\"q\"=\"q\\\"x\"\n", u"q", RegSz, "71,00,22,00,78,00,00,00",
                            ""},
                ValueSyntax{"tabAndNewline", "\"t\"=\"\\t\\n\"\n", u"t", RegSz, "09,00,0a,00,00,00",
                            ""},
                ValueSyntax{"cEscapes", "\"c\"=\"\\a\\b\\e\\f\\v\\r\"\n", u"c", RegSz,
                            "07,00,08,00,1b,00,0c,00,0b,00,0d,00,00,00", ""},
                ValueSyntax{"nulUnit", "\"n\"=\"\\0\"\n", u"n", RegSz, "00,00,00,00", ""},
                ValueSyntax{"octal", "\"o\"=\"\\101\"\n", u"o", RegSz, "41,00,00,00",
                            "\"o\"=\"A\"\n"},
                ValueSyntax{"octalPaddedBeforeDigit", "\"o\"=\"\\0017\"\n", u"o", RegSz,
                            "01,00,37,00,00,00", ""},
                ValueSyntax{"octalShortBeforeOther", "\"o\"=\"\\18\"\n", u"o", RegSz,
                            "01,00,38,00,00,00", ""},
                ValueSyntax{"hexEscape", "\"h\"=\"\\xe4\"\n", u"h", RegSz, "e4,00,00,00", ""},
                ValueSyntax{"hexPaddedBeforeHexDigit", "\"h\"=\"\\x00e41\"\n", u"h", RegSz,
                            "e4,00,31,00,00,00", ""},
                ValueSyntax{"hexShortBeforeOther", "\"h\"=\"\\xe4g\"\n", u"h", RegSz,
                            "e4,00,67,00,00,00", ""},
                ValueSyntax{"hexWithoutDigits", "\"h\"=\"\\xg\"\n", u"h", RegSz,
                            "78,00,67,00,00,00", "\"h\"=\"xg\"\n"},
                ValueSyntax{"surrogates", "\"s\"=\"\\xd83d\\xde00\"\n", u"s", RegSz,
                            "3d,d8,00,de,00,00", ""},
                ValueSyntax{"rawUtf8", "\"u\"=\"h\xc3\xa9llo \xf0\x9f\x98\x80\"\n", u"u", RegSz,
                            "68,00,e9,00,6c,00,6c,00,6f,00,20,00,3d,d8,00,de,00,00",
                            "\"u\"=\"h\\xe9llo \\xd83d\\xde00\"\n"},
                ValueSyntax{"invalidUtf8Skipped", "\"u\"=\"a\xff\xc3z\"\n", u"u", RegSz,
                            "61,00,7a,00,00,00", "\"u\"=\"az\"\n"},
                ValueSyntax{"otherEscapedCharacter", "\"e\"=\"\\q\"\n", u"e", RegSz, "71,00,00,00",
                            "\"e\"=\"q\"\n"},
                ValueSyntax{"delete", "\"d\"=\"\x7f\"\n", u"d", RegSz, "7f,00,00,00", ""},
                ValueSyntax{"escapedName", "\"a\\\"b\\\\c\"=\"v\"\n", u"a\"b\\c", RegSz,
                            "76,00,00,00", ""},
                ValueSyntax{"nonAsciiName", "\"N\\xe4me\"=dword:00000001\n", u"N\u00e4me", RegDword,
                            "01,00,00,00", ""},
                ValueSyntax{"spacesAroundEquals", "\"ws\"  =  \"x\"\n", u"ws", RegSz, "78,00,00,00",
                            "\"ws\"=\"x\"\n"},
                ValueSyntax{"carriageReturn", "\"cr\"=\"x\"\r\n", u"cr", RegSz, "78,00,00,00",
                            "\"cr\"=\"x\"\n"},
                ValueSyntax{"strTag", "\"s\"=str:\"x\"\n", u"s", RegSz, "78,00,00,00",
                            "\"s\"=\"x\"\n"},
                ValueSyntax{"expandString", "\"x\"=str(2):\"%PATH%\"\n", u"x", RegExpandSz,
                            "25,00,50,00,41,00,54,00,48,00,25,00,00,00", ""},
                ValueSyntax{"multiString", "\"m\"=str(7):\"a\\0b\\0\"\n", u"m", RegMultiSz,
                            "61,00,00,00,62,00,00,00,00,00", ""},
                ValueSyntax{"dword", "\"d\"=dword:ffffffff\n", u"d", RegDword, "ff,ff,ff,ff", ""},
                ValueSyntax{"dwordShortMixedCase", "\"d\"=dword:1A\n", u"d", RegDword,
                            "1a,00,00,00", "\"d\"=dword:0000001a\n"},
                ValueSyntax{"emptyBinary", "\"b\"=hex:\n", u"b", RegBinary, "", ""},
                ValueSyntax{"binary", "\"b\"=hex:01,02,ff\n", u"b", RegBinary, "01,02,ff", ""},
                ValueSyntax{"qword", "\"q\"=hex(b):01,00,00,00,00,00,00,00\n", u"q", RegQword,
                            "01,00,00,00,00,00,00,00", ""},
                ValueSyntax{"wideType", "@=hex(ffff0007):03,00,00,00\n", u"", 0xffff0007u,
                            "03,00,00,00", ""},
                ValueSyntax{"none", "\"n\"=hex(0):\n", u"n", RegNone, "", ""},
                ValueSyntax{"unterminatedString", "\"s\"=hex(1):41,00,42\n", u"s", RegSz,
                            "41,00,42", ""},
                ValueSyntax{"shortDword", "\"d\"=hex(4):01,02,03\n", u"d", RegDword, "01,02,03",
                            ""},
                ValueSyntax{"terminatedStringInHex", "\"x\"=hex(2):41,00,00,00\n", u"x",
                            RegExpandSz, "41,00,00,00", "\"x\"=str(2):\"A\"\n"},
                ValueSyntax{"continuation", "\"c\"=hex:01,02,\\\n      03,\\\n   04\n", u"c",
                            RegBinary, "01,02,03,04", "\"c\"=hex:01,02,03,04\n"},
                ValueSyntax{"wrapped", wrappedBinaryLine(), u"long", RegBinary, wrappedBinaryData(),
                            ""}),
        [](const testing::TestParamInfo<ValueSyntax> &info) { return info.param.label; });

struct BrokenLine
{
    const char *label;
    std::string line;
    ValueLine expected;
};

// Names the row in test listings.
void PrintTo(const BrokenLine &row, std::ostream *out)
{
    *out << row.label;
}

class BrokenValueLineTest : public testing::TestWithParam<BrokenLine>
{};

TEST_P(BrokenValueLineTest, isReportedAsBroken)
{
    std::u16string name;
    RegistryValue value;
    EXPECT_EQ(decodeValueLine(GetParam().line, name, value), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
        WineRegistryText, BrokenValueLineTest,
        testing::Values(BrokenLine{"unterminatedName", "\"abc\n", ValueLine::Malformed},
                        BrokenLine{"nameEndsInEscape", "\"abc\\", ValueLine::Malformed},
                        BrokenLine{"notAValue", "x=1\n", ValueLine::Malformed},
                        BrokenLine{"noEquals", "\"a\"\n", ValueLine::BadData},
                        BrokenLine{"unterminatedString", "\"a\"=\"abc\n", ValueLine::BadData},
                        BrokenLine{"truncatedEscape", "\"a\"=\"abc\\", ValueLine::BadData},
                        BrokenLine{"unknownType", "\"a\"=foo:12\n", ValueLine::BadData},
                        BrokenLine{"dwordWithoutDigits", "\"a\"=dword:xyz\n", ValueLine::BadData},
                        BrokenLine{"dwordTooLarge", "\"a\"=dword:100000000\n", ValueLine::BadData},
                        BrokenLine{"dwordTrailingText", "\"a\"=dword:12 x\n", ValueLine::BadData},
                        BrokenLine{"badHexByte", "\"a\"=hex:01,zz\n", ValueLine::BadData},
                        BrokenLine{"hexWithoutCommas", "\"a\"=hex:01 02\n", ValueLine::BadData},
                        BrokenLine{"unclosedType", "\"a\"=hex(1:00\n", ValueLine::BadData},
                        BrokenLine{"continuationAtEnd", "\"a\"=hex:01,\\\n", ValueLine::BadData}),
        [](const testing::TestParamInfo<BrokenLine> &info) { return info.param.label; });

TEST(WineRegistryText, keyPathNamesEscapeBracketsButNotQuotes)
{
    std::string text;
    appendEscaped(text, u"Sub[1]\"x\"", Quoting::KeyPath);
    EXPECT_EQ(text, "Sub\\[1\\]\"x\"");

    const std::string line = "[A\\\\Sub\\[1\\]] 1700000000";
    std::size_t position = 1;
    std::u16string path;
    ASSERT_TRUE(decodeEscaped(line, position, ']', path));
    EXPECT_EQ(path, u"A\\Sub[1]");
    EXPECT_EQ(line.substr(position), " 1700000000");
    EXPECT_EQ(skipEscaped(line, 1, ']'), position);
}

TEST(WineRegistryText, timesAreWrittenAsWineWritesThem)
{
    std::string line;
    appendTimeLine(line, 0x1dd8942dea19472ULL);
    EXPECT_EQ(line, "#time=1dd8942dea19472");
    // The key line gives the same instant in whole seconds since 1970.
    EXPECT_EQ(keyLineSeconds(0x1dd8942df08e550ULL), 1796974819u);
}

TEST(WineRegistryText, onlyHexValuesContinueOnTheNextLine)
{
    EXPECT_TRUE(valueLineContinues("\"a\"=hex:01,\\"));
    EXPECT_TRUE(valueLineContinues("\"a\\\"=\"=hex(6):01,\\ \r"));
    EXPECT_FALSE(valueLineContinues("\"a\"=\"ends in a backslash\\"));
    EXPECT_FALSE(valueLineContinues("\"a\"=hex:01,02"));
}

} // namespace
