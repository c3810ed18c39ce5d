#include "WineRegistryFile.h"

#include <platform/Registry.h>

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

using namespace platform;
using Key = WineRegistryFile::Key;

namespace {

constexpr std::string_view header = "WINE REGISTRY Version 2\n"
                                    ";; All keys relative to REGISTRY\\\\Machine\n"
                                    "\n"
                                    "#arch=win64\n";

// 2024-01-01 00:00:00 UTC, and the same instant in the key-line form.
constexpr FileTime changeTime = 0x1da3c457689c000ULL;
constexpr std::string_view changeTimeLines = "1704067200\n#time=1da3c457689c000\n";

std::string withHeader(std::string_view blocks)
{
    return std::string(header) + std::string(blocks);
}

// Follows a path of names exactly as stored.
Key *keyAt(WineRegistryFile &file, std::initializer_list<std::u16string_view> path)
{
    Key *key = &file.root();
    for (const std::u16string_view name : path) {
        key = WineRegistryFile::subkey(*key, name);
        if (!key)
            return nullptr;
    }
    return key;
}

std::u16string textOf(const WineRegistryFile::Value *value)
{
    return value ? registryText(value->value) : std::u16string(u"<none>");
}

struct RoundTrip
{
    const char *label;
    std::string text;
};

// Names the row in test listings.
void PrintTo(const RoundTrip &row, std::ostream *out)
{
    *out << row.label;
}

class UnchangedFileTest : public testing::TestWithParam<RoundTrip>
{};

// Whatever a file holds, reading it (values included) and saving it without a change gives back
// every byte.
TEST_P(UnchangedFileTest, isWrittenBackByteForByte)
{
    WineRegistryFile file;
    ASSERT_TRUE(file.load(GetParam().text, changeTime));
    std::vector<Key *> pending{&file.root()};
    while (!pending.empty()) {
        Key *key = pending.back();
        pending.pop_back();
        file.values(*key);
        for (const auto &subkey : key->subkeys)
            pending.push_back(subkey.get());
    }
    EXPECT_EQ(file.save(), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
        WineRegistryFile, UnchangedFileTest,
        testing::Values(
                RoundTrip{"headerOnly", std::string(header)},
                RoundTrip{"wineWritten",
                          withHeader("\n[Software\\\\A] 1700000000\n#time=1da0000000000000\n"
                                     "@=\"d\"\n\"bin\"=hex:01,02,\\\n  03\n"
                                     "\"multi\"=str(7):\"a\\0b\\0\"\n"
                                     "\n[Software\\\\A\\\\Empty] 1700000000\n"
                                     "#time=1da0000000000000\n")},
                RoundTrip{"carriageReturns",
                          "WINE REGISTRY Version 2\r\n#arch=win64\r\n\r\n[A] 1\r\n\"x\"=\"y\"\r\n"},
                RoundTrip{"commentsAndUnknownLines",
                          withHeader(";; a comment\n\n[A]\n; inside\n\"x\"=dword:1\n"
                                     "something else\n#class=\"c\"\n\n\n")},
                RoundTrip{"brokenLines",
                          withHeader("\n[A] 1\n\"bad\"=\"unterminated\n\"type\"=foo:1\n"
                                     "\"x\"=\"\\\n[B\n\"orphan\"=\"1\"\n")},
                RoundTrip{"cutInTheMiddleOfALine", withHeader("\n[A] 1\n\"x\"=hex:01,0")},
                RoundTrip{"duplicateBlocksAndValues",
                          withHeader("\n[A] 1\n\"x\"=\"1\"\n\"x\"=\"2\"\n\n[B] 1\n\n[A] "
                                     "2\n\"y\"=\"3\"\n")},
                RoundTrip{"unsortedKeys", withHeader("\n[Zed] 1\n\n[alpha] 1\n\n[Beta] 1\n")},
                RoundTrip{"valueBeforeAnyKey", withHeader("\"stray\"=\"1\"\n\n[A] 1\n")}),
        [](const testing::TestParamInfo<RoundTrip> &info) { return info.param.label; });

struct Rejected
{
    const char *label;
    std::string text;
};

// Names the row in test listings.
void PrintTo(const Rejected &row, std::ostream *out)
{
    *out << row.label;
}

class RejectedFileTest : public testing::TestWithParam<Rejected>
{};

TEST_P(RejectedFileTest, readsAsEmptyAndRejected)
{
    WineRegistryFile file;
    EXPECT_FALSE(file.load(GetParam().text, changeTime));
    EXPECT_TRUE(file.rejected());
    EXPECT_TRUE(file.root().subkeys.empty());
}

INSTANTIATE_TEST_SUITE_P(
        WineRegistryFile, RejectedFileTest,
        testing::Values(Rejected{"empty", ""},
                        Rejected{"otherVersion", "WINE REGISTRY Version 1\n\n[A] 1\n"},
                        Rejected{"byteOrderMark", "\xef\xbb\xbfWINE REGISTRY Version 2\n[A] 1\n"},
                        Rejected{"regeditExport", "REGEDIT4\n\n[HKEY_CURRENT_USER\\A]\n"},
                        Rejected{"unknownArchitecture",
                                 "WINE REGISTRY Version 2\n#arch=win16\n\n[A] 1\n"}),
        [](const testing::TestParamInfo<Rejected> &info) { return info.param.label; });

TEST(WineRegistryFile, keysWithOnlySubkeysAreImpliedAndStayUnwritten)
{
    WineRegistryFile file;
    ASSERT_TRUE(file.load(withHeader("\n[A\\\\B\\\\C] 1700000000\n#time=1da0000000000001\n"
                                     "\n[Z] 1700000000\n#time=1da0000000000002\n"),
                          changeTime));
    Key *a = keyAt(file, {u"a"});
    Key *b = keyAt(file, {u"A", u"b"});
    ASSERT_TRUE(a && b && keyAt(file, {u"A", u"B", u"C"}));
    EXPECT_EQ(a->firstBlock, nullptr);
    // An implied key takes the time of the key that implies it.
    EXPECT_EQ(b->time, 0x1da0000000000001ULL);
    EXPECT_EQ(file.keyCount(), 5u); // the top, A, B, C, Z

    file.setValue(*keyAt(file, {u"Z"}), u"v", registryString(u"1"), changeTime);
    EXPECT_EQ(file.save(), withHeader("\n[A\\\\B\\\\C] 1700000000\n#time=1da0000000000001\n"
                                      "\n[Z] " +
                                      std::string(changeTimeLines) + "\"v\"=\"1\"\n"));
}

TEST(WineRegistryFile, changingAValueRewritesOnlyItsKeyLinesAndTheValueLine)
{
    const std::string original = withHeader("\n[A] 1600000000\n#time=1d0000000000000\n"
                                            "\"keep\"  =  \"spaced\"\n"
                                            "\"x\"=\"old\"\n"
                                            "\"zz\"=hex:01,\\\n      02\n"
                                            "\n[B] 1600000000\n#time=1d0000000000000\n"
                                            "\"x\"=\"other\"\n");
    WineRegistryFile file;
    ASSERT_TRUE(file.load(original, 0));
    file.setValue(*keyAt(file, {u"A"}), u"X", registryString(u"new"), changeTime);
    // The value keeps the spelling of its name; lines of unchanged values keep their form.
    EXPECT_EQ(file.save(), withHeader("\n[A] " + std::string(changeTimeLines) +
                                      "\"keep\"  =  \"spaced\"\n"
                                      "\"x\"=\"new\"\n"
                                      "\"zz\"=hex:01,\\\n      02\n"
                                      "\n[B] 1600000000\n#time=1d0000000000000\n"
                                      "\"x\"=\"other\"\n"));
}

TEST(WineRegistryFile, newValuesTakeTheirPlaceInOrder)
{
    WineRegistryFile file;
    ASSERT_TRUE(file.load(withHeader("\n[A] 1\n#time=1\n@=\"d\"\n\"b\"=\"2\"\n\"d\"=\"4\"\n"
                                     "; comment\n"),
                          0));
    Key &a = *keyAt(file, {u"A"});
    file.setValue(a, u"C", registryString(u"3"), changeTime);
    file.setValue(a, u"e", registryString(u"5"), changeTime);
    file.setValue(a, u"_", registryString(u"0"), changeTime);
    EXPECT_EQ(file.save(), withHeader("\n[A] " + std::string(changeTimeLines) +
                                      "@=\"d\"\n\"_\"=\"0\"\n\"b\"=\"2\"\n\"C\"=\"3\"\n"
                                      "\"d\"=\"4\"\n\"e\"=\"5\"\n; comment\n"));
}

TEST(WineRegistryFile, newKeysGoWhereWineWouldWriteThem)
{
    WineRegistryFile file;
    ASSERT_TRUE(file.load(withHeader("\n[A\\\\B] 1\n#time=1\n\"v\"=\"1\"\n"
                                     "\n[A\\\\B\\\\Sub] 1\n#time=1\n"
                                     "\n[A\\\\D] 1\n#time=1\n"),
                          0));
    Key &a = *keyAt(file, {u"A"});
    file.createSubkey(a, u"C", changeTime);
    file.createSubkey(file.root(), u"_first", changeTime);
    file.createSubkey(file.root(), u"Z[1]", changeTime);
    // A had no block and still has subkeys: it stays implied although its time changed.
    EXPECT_EQ(file.save(), withHeader("\n[_first] " + std::string(changeTimeLines) +
                                      "\n[A\\\\B] 1\n#time=1\n\"v\"=\"1\"\n"
                                      "\n[A\\\\B\\\\Sub] 1\n#time=1\n"
                                      "\n[A\\\\C] " +
                                      std::string(changeTimeLines) +
                                      "\n[A\\\\D] 1\n#time=1\n"
                                      "\n[Z\\[1\\]] " +
                                      std::string(changeTimeLines)));
    EXPECT_EQ(a.time, changeTime);
}

TEST(WineRegistryFile, aKeyWhoseLastSubkeyGoesIsWrittenAsAnEmptyKey)
{
    WineRegistryFile file;
    ASSERT_TRUE(file.load(withHeader("\n[A\\\\B] 1\n#time=1\n\n[C] 1\n#time=1\n"), 0));
    Key &a = *keyAt(file, {u"A"});
    file.deleteSubkey(a, *keyAt(file, {u"A", u"B"}), changeTime);
    EXPECT_EQ(file.save(),
              withHeader("\n[A] " + std::string(changeTimeLines) + "\n[C] 1\n#time=1\n"));
}

TEST(WineRegistryFile, aKeyWithSubkeysThatLosesItsLastValueBecomesImplied)
{
    WineRegistryFile file;
    ASSERT_TRUE(file.load(withHeader("\n[A] 1\n#time=1\n\"v\"=\"1\"\n\n[A\\\\B] 1\n#time=1\n"), 0));
    Key &a = *keyAt(file, {u"A"});
    EXPECT_FALSE(file.deleteValue(a, u"missing", changeTime));
    EXPECT_TRUE(file.deleteValue(a, u"V", changeTime));
    EXPECT_EQ(file.save(), withHeader("\n[A\\\\B] 1\n#time=1\n"));
    EXPECT_TRUE(keyAt(file, {u"A", u"B"}));
}

TEST(WineRegistryFile, unreadableLinesAreKeptUntilTheirNameIsWritten)
{
    WineRegistryFile file;
    ASSERT_TRUE(
            file.load(withHeader("\n[A] 1\n#time=1\n\"bad\"=\"cut\n\"junk\n\"ok\"=\"1\"\n"), 0));
    Key &a = *keyAt(file, {u"A"});
    EXPECT_EQ(file.findValue(a, u"bad"), nullptr);
    ASSERT_EQ(file.values(a).size(), 1u);

    file.setValue(a, u"other", registryString(u"2"), changeTime);
    EXPECT_EQ(file.save(), withHeader("\n[A] " + std::string(changeTimeLines) +
                                      "\"bad\"=\"cut\n\"junk\n\"ok\"=\"1\"\n\"other\"=\"2\"\n"));

    file.setValue(a, u"bad", registryString(u"fixed"), changeTime);
    EXPECT_EQ(file.save(), withHeader("\n[A] " + std::string(changeTimeLines) +
                                      "\"bad\"=\"fixed\"\n\"junk\n\"ok\"=\"1\"\n"
                                      "\"other\"=\"2\"\n"));
}

TEST(WineRegistryFile, laterLinesOfTheSameValueWinAndTheEarlierGoOnChange)
{
    WineRegistryFile file;
    ASSERT_TRUE(file.load(withHeader("\n[A] 1\n#time=1\n\"x\"=\"1\"\n\n[B] 1\n#time=1\n"
                                     "\n[A] 1\n#time=1\n\"X\"=\"2\"\n"),
                          0));
    Key &a = *keyAt(file, {u"A"});
    EXPECT_EQ(textOf(file.findValue(a, u"x")), u"2");
    file.setValue(a, u"y", registryString(u"3"), changeTime);
    EXPECT_EQ(file.save(), withHeader("\n[A] " + std::string(changeTimeLines) + "\"y\"=\"3\"\n" +
                                      "\n[B] 1\n#time=1\n"
                                      "\n[A] " +
                                      std::string(changeTimeLines) + "\"X\"=\"2\"\n"));
}

TEST(WineRegistryFile, keyLinesThatCannotBeReadKeepTheirLines)
{
    const std::string text = withHeader("\n[A\\\\B\n\"lost\"=\"1\"\n\n[C] 1\n#time=1\n");
    WineRegistryFile file;
    ASSERT_TRUE(file.load(text, 0));
    EXPECT_EQ(keyAt(file, {u"A"}), nullptr);
    file.setValue(*keyAt(file, {u"C"}), u"v", registryString(u"1"), changeTime);
    EXPECT_EQ(file.save(), withHeader("\n[A\\\\B\n\"lost\"=\"1\"\n\n[C] " +
                                      std::string(changeTimeLines) + "\"v\"=\"1\"\n"));
}

TEST(WineRegistryFile, valuesAddedToACutFileStartOnALineOfTheirOwn)
{
    WineRegistryFile file;
    ASSERT_TRUE(file.load(withHeader("\n[A] 1\n\"x\"=\"1\""), 0));
    file.setValue(*keyAt(file, {u"A"}), u"y", registryString(u"2"), changeTime);
    EXPECT_EQ(file.save(),
              withHeader("\n[A] " + std::string(changeTimeLines) + "\"x\"=\"1\"\n\"y\"=\"2\"\n"));
}

TEST(WineRegistryFile, linkKeysAreMarkedWithTheirTarget)
{
    WineRegistryFile file;
    ASSERT_TRUE(file.load(withHeader("\n[Alias] 1\n#time=1\n#link\n"
                                     "\"SymbolicLinkValue\"=hex(6):5c,00,52,00,5c,00,41,00\n"
                                     "\n[Plain] 1\n"),
                          0));
    Key &alias = *keyAt(file, {u"Alias"});
    EXPECT_TRUE(alias.link);
    EXPECT_EQ(file.linkTarget(alias), u"\\R\\A");
    EXPECT_FALSE(keyAt(file, {u"Plain"})->link);
    EXPECT_EQ(file.linkTarget(*keyAt(file, {u"Plain"})), u"");
}

TEST(WineRegistryFile, subkeysAndValuesAreInOrderWithoutRegardToCase)
{
    WineRegistryFile file;
    ASSERT_TRUE(file.load(withHeader("\n[Zkey] 1\n\n[b_key] 1\n\n[akey] 1\n\n[BKey] 1\n"
                                     "\n[{GUID}] 1\n\n[Windows NT] 1\n\n[Windows\\\\X] 1\n"
                                     "\n[N\\xe4me] 1\n\n[none] 1\n\n[V] 1\n\"Zed\"=\"\"\n"
                                     "\"apple\"=\"\"\n\"_under\"=\"\"\n\"Banana\"=\"\"\n@=\"\"\n"),
                          0));
    std::vector<std::u16string> subkeys;
    for (const auto &subkey : file.root().subkeys)
        subkeys.push_back(subkey->name);
    EXPECT_EQ(subkeys,
              (std::vector<std::u16string>{u"akey", u"b_key", u"BKey", u"none", u"N\u00e4me", u"V",
                                           u"Windows", u"Windows NT", u"Zkey", u"{GUID}"}));
    std::vector<std::u16string> values;
    for (const auto &value : file.values(*keyAt(file, {u"V"})))
        values.push_back(value.name);
    EXPECT_EQ(values, (std::vector<std::u16string>{u"", u"_under", u"apple", u"Banana", u"Zed"}));
}

TEST(WineRegistryFile, anEmptyFileGetsWinesHeader)
{
    WineRegistryFile file;
    file.makeEmpty(u"REGISTRY\\User\\.Default", "win64");
    EXPECT_EQ(file.rootName(), u"REGISTRY\\User\\.Default");
    file.createSubkey(file.root(), u"Software", changeTime);
    EXPECT_EQ(file.save(), "WINE REGISTRY Version 2\n"
                           ";; All keys relative to REGISTRY\\\\User\\\\.Default\n"
                           "\n#arch=win64\n"
                           "\n[Software] " +
                                   std::string(changeTimeLines));
}

} // namespace
