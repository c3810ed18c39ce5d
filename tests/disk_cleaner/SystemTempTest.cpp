#include "SystemItemsTestSupport.h"

#include <disk_cleaner/system_temp.h>

#include <platform/Environment.h>
#include <platform/Machine.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <optional>
#include <string>
#include <vector>

using diskcleaner::FileList;
using diskcleaner::system_temp;
using diskcleaner::TempSettings;
using platform::u16;
using systemitems::upper;

namespace {

using namespace std::chrono_literals;

constexpr std::u16string_view descriptionStart =
        u"Removes temporary files from the current user's temporary folder, ";

class SystemTempTest : public ::testing::Test
{
protected:
    SystemTempTest() { m_prefix.install(); }

    // Sets TMP and TEMP in the machine's environment; an empty value unsets the variable.
    static void setTemporaryVariables(std::optional<std::u16string> tmp,
                                      std::optional<std::u16string> temp)
    {
        platform::Environment &environment = platform::Machine::current().environment();
        ASSERT_TRUE(environment.set(u"TMP", tmp));
        ASSERT_TRUE(environment.set(u"TEMP", temp));
    }

    std::u16string userTemp() const
    {
        return u"C:\\users\\" + u16(m_prefix.userName()) + u"\\Temp";
    }
    std::string userTempBelowDriveC() const { return "users/" + m_prefix.userName() + "/Temp"; }

    static FileList fileList(const system_temp &item)
    {
        FileList list;
        item.GetFileList(list);
        std::sort(list.begin(), list.end());
        return list;
    }

    TestPrefix m_prefix;
};

struct ChoiceRow
{
    const char *name;
    std::optional<std::u16string> tmp;
    std::optional<std::u16string> temp;
    std::u16string folder; // empty: disabled
};

TEST_F(SystemTempTest, ChoosesTheTemporaryFolderOnlyWhereItIsSafe)
{
    const std::u16string user = u16(m_prefix.userName());
    const ChoiceRow rows[] = {
            {"user's folder", userTemp(), userTemp(), upper(userTemp()) + u"\\"},
            {"TMP first", u"C:\\One", u"C:\\Two", u"C:\\ONE\\"},
            {"TEMP when TMP is unset", std::nullopt, u"C:\\TempB", u"C:\\TEMPB\\"},
            {"neither set", std::nullopt, std::nullopt, u""},
            {"Windows folder in capitals", u"C:\\WINDOWS", std::nullopt, u""},
            {"Windows folder with a separator", u"C:\\windows\\", std::nullopt, u""},
            {"Windows folder through a dot-dot", u"c:/Windows/Temp/..", std::nullopt, u""},
            {"system folder", u"C:\\Windows\\System32", std::nullopt, u""},
            {"below the system folder", u"C:\\windows\\system32\\Temp", std::nullopt, u""},
            {"below the system folder with slashes", u"C:/WINDOWS//SYSTEM32/x", std::nullopt, u""},
            {"below the Windows folder", u"C:\\windows\\temp", std::nullopt,
             u"C:\\WINDOWS\\TEMP\\"},
            {"drive root", u"C:\\", std::nullopt, u""},
            {"drive root with two separators", u"C:\\\\", std::nullopt, u""},
            {"drive root with a dot", u"C:\\.", std::nullopt, u""},
            {"three characters", u"abc", std::nullopt, u""},
            {"relative", u"temp\\files", std::nullopt, u""},
            {"trailing separator", u"C:\\Temp\\", std::nullopt, u"C:\\TEMP\\"},
    };
    for (const ChoiceRow &row : rows) {
        setTemporaryVariables(row.tmp, row.temp);
        const system_temp item(TempSettings{});

        EXPECT_EQ(item.TemporaryFolder(), row.folder) << row.name;
        EXPECT_EQ(item.IsEnabled(), !row.folder.empty()) << row.name;
        EXPECT_EQ(item.GetTitle(), u"Temporary files");
        // The value as read follows the description's start, unless it is too short to be a path.
        const std::u16string value = row.tmp.value_or(row.temp.value_or(u""));
        EXPECT_EQ(item.GetDescription(),
                  std::u16string(descriptionStart) + (value.size() < 4 ? u"" : value))
                << row.name;
    }
}

struct SettingsRow
{
    const char *name;
    TempSettings settings;
    std::vector<std::string> found; // below the temporary folder
};

class SystemTempSettingsTest :
    public SystemTempTest,
    public ::testing::WithParamInterface<SettingsRow>
{};

TEST_P(SystemTempSettingsTest, ScanAndCleanFollowTheSettings)
{
    const std::string temp = userTempBelowDriveC();
    m_prefix.writeFile(temp + "/a.tmp", "abc");
    m_prefix.writeFile(temp + "/.hidden", "h");
    m_prefix.writeFile(temp + "/system.dat", "ss");
    m_prefix.setDosAttributeRecord(temp + "/system.dat", "0x4");
    m_prefix.writeFile(temp + "/sub/c.tmp", "1234567");
    m_prefix.writeFile(temp + "/old.tmp", "12345");
    m_prefix.setAge(temp + "/old.tmp", 72h);
    m_prefix.setAge(temp + "/a.tmp", 25h);
    setTemporaryVariables(userTemp(), std::nullopt);
    system_temp item(GetParam().settings);

    item.Scan();

    FileList expected;
    std::uint64_t bytes = 0;
    for (const std::string &name : GetParam().found) {
        std::u16string path = upper(userTemp()) + u"\\" + u16(name);
        std::replace(path.begin(), path.end(), u'/', u'\\');
        expected.push_back(path);
        bytes += std::filesystem::file_size(m_prefix.hostPath(temp + "/" + name));
    }
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(fileList(item), expected);
    EXPECT_EQ(item.GetItemsFound(), expected.size());
    EXPECT_EQ(item.GetBytesFound(), bytes);
    item.Rescan();
    EXPECT_EQ(fileList(item), expected) << "a second scan replaces the list";
    EXPECT_EQ(item.GetItemsFound(), expected.size());

    item.Clean();

    EXPECT_EQ(item.GetItemsCleaned(), expected.size());
    EXPECT_EQ(item.GetBytesCleaned(), bytes);
    for (const std::string name : {"a.tmp", ".hidden", "system.dat", "sub/c.tmp", "old.tmp"}) {
        const bool wasFound = std::find(GetParam().found.begin(), GetParam().found.end(), name) !=
                              GetParam().found.end();
        EXPECT_EQ(TestPrefix::exists(m_prefix.hostPath(temp + "/" + name)), !wasFound) << name;
    }
    EXPECT_TRUE(TestPrefix::exists(m_prefix.hostPath(temp)));
}

INSTANTIATE_TEST_SUITE_P(
        Settings, SystemTempSettingsTest,
        ::testing::Values(
                SettingsRow{"pageSettings", {}, {".hidden", "a.tmp", "old.tmp", "system.dat"}},
                SettingsRow{"recursive",
                            {true, 0},
                            {".hidden", "a.tmp", "old.tmp", "sub/c.tmp", "system.dat"}},
                SettingsRow{"twoDaysOld", {false, 2}, {"old.tmp"}}),
        [](const auto &info) { return std::string(info.param.name); });

TEST_F(SystemTempTest, CleanedTotalsAreWhatReallyWent)
{
    const std::string temp = userTempBelowDriveC();
    m_prefix.writeFile(temp + "/a.tmp", "abc");
    m_prefix.writeFile(temp + "/kept.tmp", "12345");
    m_prefix.makeReadOnly(temp + "/kept.tmp");
    system_temp item(TempSettings{});

    item.Scan();
    item.Clean();

    EXPECT_EQ(item.GetItemsFound(), 2u);
    EXPECT_EQ(item.GetItemsCleaned(), 1u);
    EXPECT_EQ(item.GetBytesCleaned(), 3u);
    EXPECT_TRUE(TestPrefix::exists(m_prefix.hostPath(temp + "/kept.tmp")));
}

TEST_F(SystemTempTest, DecidesOnceAtConstruction)
{
    const std::string temp = userTempBelowDriveC();
    m_prefix.writeFile(temp + "/a.tmp", "abc");
    m_prefix.writeFile("windows/win.ini", "[windows]");
    setTemporaryVariables(userTemp(), std::nullopt);
    system_temp item(TempSettings{});

    setTemporaryVariables(u"C:\\windows", u"C:\\windows");
    item.Scan();
    item.Clean();

    EXPECT_EQ(item.TemporaryFolder(), upper(userTemp()) + u"\\");
    EXPECT_EQ(item.GetItemsFound(), 1u);
    EXPECT_EQ(item.GetItemsCleaned(), 1u);
    EXPECT_TRUE(TestPrefix::exists(m_prefix.hostPath("windows/win.ini")));
}

TEST_F(SystemTempTest, ADisabledItemFindsAndCleansNothing)
{
    m_prefix.writeFile("windows/win.ini", "[windows]");
    m_prefix.writeFile("windows/system32/drivers/x.sys", "x");
    for (const std::u16string tmp : {u"C:\\WINDOWS", u"C:\\windows\\system32\\drivers"}) {
        setTemporaryVariables(tmp, std::nullopt);
        system_temp item(TempSettings{true, 0});

        item.Scan();
        item.Clean();

        EXPECT_EQ(item.GetItemsFound(), 0u);
        EXPECT_EQ(item.GetBytesFound(), 0u);
        EXPECT_EQ(item.GetItemsCleaned(), 0u);
        EXPECT_TRUE(fileList(item).empty());
    }
    EXPECT_TRUE(TestPrefix::exists(m_prefix.hostPath("windows/win.ini")));
    EXPECT_TRUE(TestPrefix::exists(m_prefix.hostPath("windows/system32/drivers/x.sys")));
}

TEST_F(SystemTempTest, ATemporaryFolderReachedThroughALinkIsLeftAlone)
{
    // The way Wine links a profile folder into the user's home on the host.
    const std::string home = m_prefix.makeTopFolder("home-desktop");
    systemitems::writeHostFile(home + "/precious.txt", "mine");
    systemitems::writeHostFile(home + "/tmp/draft.txt", "mine too");
    const std::string desktop = "users/" + m_prefix.userName() + "/Desktop";
    m_prefix.makeLink(desktop, home);
    const std::u16string windowsDesktop = u"C:\\users\\" + u16(m_prefix.userName()) + u"\\Desktop";

    for (const std::u16string &tmp : {windowsDesktop, windowsDesktop + u"\\tmp"}) {
        setTemporaryVariables(tmp, std::nullopt);
        system_temp item(TempSettings{true, 0});
        ASSERT_TRUE(item.IsEnabled());

        item.Scan();
        item.Clean();

        EXPECT_EQ(item.GetItemsFound(), 0u);
        EXPECT_TRUE(fileList(item).empty());
        EXPECT_EQ(item.GetItemsCleaned(), 0u);
    }
    EXPECT_TRUE(TestPrefix::exists(home + "/precious.txt"));
    EXPECT_TRUE(TestPrefix::exists(home + "/tmp/draft.txt"));
}

} // namespace
