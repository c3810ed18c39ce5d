// The registry lines of plug-in items: taking a line apart, and listing and deleting keys and
// values on the registry of a small test prefix.

#include "PluginTestSupport.h"

#include <TestPrefix.h>

#include <disk_cleaner/PluginRegistry.h>
#include <disk_cleaner/StopRequest.h>

#include <platform/RegistryApi.h>
#include <platform/Text.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

using namespace diskcleaner;
using namespace platform;
using plugintest::header;
using plugintest::userKeys;

namespace {

// --- Taking lines apart ---------------------------------------------------------------------

struct LineCase
{
    const char *line;
    bool valid;
    HKEY hive = nullptr;
    const char16_t *hiveName = u"";
    const char16_t *keyPath = u"";
    std::optional<std::u16string> valueName = std::nullopt;
};

std::ostream &operator<<(std::ostream &out, const LineCase &lineCase)
{
    return out << '"' << lineCase.line << '"';
}

class CrackRegistryLineTest : public testing::TestWithParam<LineCase>
{};

TEST_P(CrackRegistryLineTest, takesTheLineApart)
{
    const LineCase &expected = GetParam();
    RegistryLine line;
    ASSERT_EQ(CrackRegistryLine(u16(expected.line), line), expected.valid);
    if (!expected.valid)
        return;
    EXPECT_EQ(line.hive, expected.hive);
    EXPECT_EQ(line.hiveName, expected.hiveName);
    EXPECT_EQ(line.keyPath, expected.keyPath);
    EXPECT_EQ(line.valueName, expected.valueName);
}

INSTANTIATE_TEST_SUITE_P(
        Lines, CrackRegistryLineTest,
        testing::Values(LineCase{"HKEY_CURRENT_USER|Software\\Foo|Bar", true, HKEY_CURRENT_USER,
                                 u"HKEY_CURRENT_USER", u"Software\\Foo", u"Bar"},
                        LineCase{"hkey_local_machine|Software\\Foo", true, HKEY_LOCAL_MACHINE,
                                 u"HKEY_LOCAL_MACHINE", u"Software\\Foo"},
                        LineCase{"HKEY_USERS|.Default\\Software", true, HKEY_USERS, u"HKEY_USERS",
                                 u".Default\\Software"},
                        LineCase{"Hkey_Classes_Root|.txt", true, HKEY_CLASSES_ROOT,
                                 u"HKEY_CLASSES_ROOT", u".txt"},
                        // A trailing "|" names the default value, which has the empty name.
                        LineCase{"HKEY_CURRENT_USER|Software\\Foo|", true, HKEY_CURRENT_USER,
                                 u"HKEY_CURRENT_USER", u"Software\\Foo", u""},
                        // Only the first two "|" separate; a value name may hold more.
                        LineCase{"HKEY_CURRENT_USER|Software\\Foo|a|b", true, HKEY_CURRENT_USER,
                                 u"HKEY_CURRENT_USER", u"Software\\Foo", u"a|b"},
                        // Short and unknown hive names, and lines without "|".
                        LineCase{"HKCU|Software\\Foo", false},
                        LineCase{"HKLM|Software\\Foo|Bar", false},
                        LineCase{"HKEY_CURRENT_CONFIG|Software", false},
                        LineCase{" HKEY_CURRENT_USER|Software", false},
                        LineCase{"HKEY_CURRENT_USER\\Software\\Foo", false}, LineCase{"", false},
                        LineCase{"|Software\\Foo", false},
                        // A key path without a name names the hive itself: refused.
                        LineCase{"HKEY_CURRENT_USER|", false},
                        LineCase{"HKEY_LOCAL_MACHINE|\\", false},
                        LineCase{"HKEY_CURRENT_USER||Value", false},
                        LineCase{"HKEY_CURRENT_USER|\\\\|", false}));

// --- Listing and deleting -------------------------------------------------------------------

class PluginRegistryTest : public testing::Test
{
protected:
    PluginRegistryTest()
    {
        ClearStopRequest();
        m_prefix.writeTopFile("user.reg", header + userKeys);
        m_prefix.install();
    }
    ~PluginRegistryTest() override { ClearStopRequest(); }

    static bool keyExists(const char16_t *path)
    {
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, path, 0, KEY_READ, &key) != ERROR_SUCCESS)
            return false;
        RegCloseKey(key);
        return true;
    }

    static bool valueExists(const char16_t *path, const char16_t *name)
    {
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, path, 0, KEY_READ, &key) != ERROR_SUCCESS)
            return false;
        const bool found =
                RegQueryValueExW(key, name, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
        RegCloseKey(key);
        return found;
    }

    std::string userFile() const
    {
        std::ifstream in(m_prefix.path() + "/user.reg", std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    TestPrefix m_prefix;
    std::uint64_t m_count = 0;
    std::uint64_t m_bytes = 0;
    FileList m_found;
};

TEST_F(PluginRegistryTest, aSingleValueIsCountedAndDeletedAlone)
{
    EnumRegKey(HKEY_CURRENT_USER, u"Software\\Foo", u"Two", m_count, m_bytes, m_found,
               u"HKEY_CURRENT_USER");
    EXPECT_EQ(m_count, 1u);
    EXPECT_EQ(m_bytes, 4u);
    EXPECT_EQ(m_found, FileList{u"HKEY_CURRENT_USER\\Software\\Foo\\Two"});
    EXPECT_TRUE(valueExists(u"Software\\Foo", u"Two")) << "listing changed the registry";

    m_count = m_bytes = 0;
    m_found.clear();
    EXPECT_FALSE(DelRegKey(HKEY_CURRENT_USER, u"Software\\Foo", u"Two", m_count, m_bytes, m_found,
                           u"HKEY_CURRENT_USER"));
    EXPECT_EQ(m_count, 1u);
    EXPECT_EQ(m_bytes, 4u);
    EXPECT_EQ(m_found, FileList{u"Deleted: HKEY_CURRENT_USER\\Software\\Foo\\Two"});
    EXPECT_FALSE(valueExists(u"Software\\Foo", u"Two"));
    EXPECT_TRUE(valueExists(u"Software\\Foo", u"One"));
    EXPECT_TRUE(valueExists(u"Software\\Foo", u"Three"));
    EXPECT_TRUE(keyExists(u"Software\\Foo\\Sub"));
}

TEST_F(PluginRegistryTest, aWholeKeyCountsEveryValueBelowIt)
{
    EnumRegKey(HKEY_CURRENT_USER, u"Software\\Foo", std::nullopt, m_count, m_bytes, m_found,
               u"HKEY_CURRENT_USER");
    EXPECT_EQ(m_count, 5u);
    // "1" and "three" with their terminators, a DWORD, "xx" with its terminator, three bytes.
    EXPECT_EQ(m_bytes, 4u + 12u + 4u + 6u + 3u);
    // Subkeys first, then the key's own values, each in the registry's name order.
    EXPECT_EQ(m_found, (FileList{u"HKEY_CURRENT_USER\\Software\\Foo\\Sub\\X",
                                 u"HKEY_CURRENT_USER\\Software\\Foo\\Sub\\Y",
                                 u"HKEY_CURRENT_USER\\Software\\Foo\\One",
                                 u"HKEY_CURRENT_USER\\Software\\Foo\\Three",
                                 u"HKEY_CURRENT_USER\\Software\\Foo\\Two"}));
    EXPECT_TRUE(keyExists(u"Software\\Foo\\Sub"));
}

TEST_F(PluginRegistryTest, aWholeKeyIsDeletedAfterItsValuesAndSubkeys)
{
    EXPECT_TRUE(DelRegKey(HKEY_CURRENT_USER, u"Software\\Foo", std::nullopt, m_count, m_bytes,
                          m_found, u"HKEY_CURRENT_USER"));
    EXPECT_EQ(m_count, 5u);
    EXPECT_EQ(m_bytes, 29u);
    EXPECT_EQ(m_found, (FileList{u"Deleted: HKEY_CURRENT_USER\\Software\\Foo\\Sub\\X",
                                 u"Deleted: HKEY_CURRENT_USER\\Software\\Foo\\Sub\\Y",
                                 u"Deleted: HKEY_CURRENT_USER\\Software\\Foo\\One",
                                 u"Deleted: HKEY_CURRENT_USER\\Software\\Foo\\Three",
                                 u"Deleted: HKEY_CURRENT_USER\\Software\\Foo\\Two"}));
    EXPECT_FALSE(keyExists(u"Software\\Foo\\Sub"));
    EXPECT_FALSE(keyExists(u"Software\\Foo"));
    EXPECT_TRUE(valueExists(u"Software\\Keep", u"Stay"));
    EXPECT_TRUE(valueExists(u"Software\\WithDefault", u""));

    // Written to the prefix's file, with the neighbours kept.
    const std::string written = userFile();
    EXPECT_EQ(written.find("[Software\\\\Foo"), std::string::npos);
    EXPECT_NE(written.find("[Software\\\\Keep]"), std::string::npos);
    EXPECT_NE(written.find("\"Stay\"=\"here\""), std::string::npos);
}

TEST_F(PluginRegistryTest, anEmptyValueNameIsTheDefaultValue)
{
    EnumRegKey(HKEY_CURRENT_USER, u"Software\\WithDefault", u"", m_count, m_bytes, m_found,
               u"HKEY_CURRENT_USER");
    EXPECT_EQ(m_count, 1u);
    EXPECT_EQ(m_bytes, 26u); // "default text" and its terminator
    EXPECT_EQ(m_found, FileList{u"HKEY_CURRENT_USER\\Software\\WithDefault\\"});

    m_found.clear();
    EXPECT_FALSE(DelRegKey(HKEY_CURRENT_USER, u"Software\\WithDefault", u"", m_count, m_bytes,
                           m_found, u"HKEY_CURRENT_USER"));
    EXPECT_EQ(m_found, FileList{u"Deleted: HKEY_CURRENT_USER\\Software\\WithDefault\\"});
    EXPECT_FALSE(valueExists(u"Software\\WithDefault", u""));
    EXPECT_TRUE(valueExists(u"Software\\WithDefault", u"Named"));
}

TEST_F(PluginRegistryTest, missingKeysAndValuesFindNothing)
{
    const struct
    {
        const char16_t *key;
        std::optional<std::u16string_view> value;
    } cases[] = {{u"Software\\Missing", std::nullopt},
                 {u"Software\\Missing", u"One"},
                 {u"Software\\Foo", u"Missing"},
                 {u"Software\\Keep", u""}};
    for (const auto &entry : cases) {
        EnumRegKey(HKEY_CURRENT_USER, entry.key, entry.value, m_count, m_bytes, m_found,
                   u"HKEY_CURRENT_USER");
        EXPECT_FALSE(DelRegKey(HKEY_CURRENT_USER, entry.key, entry.value, m_count, m_bytes, m_found,
                               u"HKEY_CURRENT_USER"));
    }
    EXPECT_EQ(m_count, 0u);
    EXPECT_EQ(m_bytes, 0u);
    EXPECT_TRUE(m_found.empty());
    EXPECT_TRUE(valueExists(u"Software\\Keep", u"Stay"));
}

// Without a key name the calls would start at the hive itself.
TEST_F(PluginRegistryTest, aHiveIsNeverListedOrEmptied)
{
    for (const char16_t *keyPath : {u"", u"\\", u"\\\\"}) {
        EnumRegKey(HKEY_CURRENT_USER, keyPath, std::nullopt, m_count, m_bytes, m_found,
                   u"HKEY_CURRENT_USER");
        EXPECT_FALSE(DelRegKey(HKEY_CURRENT_USER, keyPath, std::nullopt, m_count, m_bytes, m_found,
                               u"HKEY_CURRENT_USER"));
        EXPECT_FALSE(DelRegKey(HKEY_CURRENT_USER, keyPath, u"", m_count, m_bytes, m_found,
                               u"HKEY_CURRENT_USER"));
    }
    EXPECT_EQ(m_count, 0u);
    EXPECT_TRUE(m_found.empty());
    EXPECT_TRUE(keyExists(u"Software\\Foo\\Sub"));
    EXPECT_TRUE(valueExists(u"Software\\WithDefault", u""));
}

TEST_F(PluginRegistryTest, aStopRequestChangesNothingFurther)
{
    RequestStop();
    EXPECT_FALSE(DelRegKey(HKEY_CURRENT_USER, u"Software\\Foo", std::nullopt, m_count, m_bytes,
                           m_found, u"HKEY_CURRENT_USER"));
    EXPECT_EQ(m_count, 0u);
    EXPECT_TRUE(valueExists(u"Software\\Foo\\Sub", u"X"));
    EXPECT_TRUE(valueExists(u"Software\\Foo", u"One"));
}

// Wine's text for a registry link to a key of the user's registry.
std::string linkTo(std::string_view userKey)
{
    const std::string target = "\\Registry\\User\\S-1-5-21-0-0-0-1000\\" + std::string(userKey);
    std::string hex;
    for (const char unit : target) {
        static const char digits[] = "0123456789abcdef";
        hex += hex.empty() ? "" : ",";
        hex += {digits[(unit >> 4) & 0xf], digits[unit & 0xf], ',', '0', '0'};
    }
    return "#link\n\"SymbolicLinkValue\"=hex(6):" + hex + "\n";
}

// A link below the key leads to Keep: nothing is deleted through it, so the key that holds the
// link stays, and so does every key above it; the values beside it go.
TEST_F(PluginRegistryTest, aLinkedKeyIsNeitherEmptiedNorDeleted)
{
    m_prefix.writeTopFile("user.reg", header + userKeys +
                                              "\n[Software\\\\Foo\\\\Sub\\\\Link] 1700000000\n" +
                                              linkTo("Software\\Keep"));
    m_prefix.install();
    ASSERT_TRUE(valueExists(u"Software\\Foo\\Sub\\Link", u"Stay"))
            << "the link does not lead to Keep";

    EXPECT_FALSE(DelRegKey(HKEY_CURRENT_USER, u"Software\\Foo", std::nullopt, m_count, m_bytes,
                           m_found, u"HKEY_CURRENT_USER"));
    EXPECT_TRUE(valueExists(u"Software\\Keep", u"Stay"));
    EXPECT_TRUE(keyExists(u"Software\\Foo\\Sub\\Link"));
    EXPECT_TRUE(keyExists(u"Software\\Foo"));
    EXPECT_FALSE(valueExists(u"Software\\Foo", u"One"));
    EXPECT_FALSE(valueExists(u"Software\\Foo\\Sub", u"X"));
    EXPECT_EQ(m_count, 5u);
}

} // namespace
