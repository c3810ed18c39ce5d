#include "PrefixShellFolders.h"
#include "PrefixEnvironment.h"
#include "PrefixRegistry.h"

#include "TestPrefix.h"

#include <platform/Text.h>

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>

using namespace platform;

namespace {

constexpr std::string_view machineHeader = "WINE REGISTRY Version 2\n"
                                           ";; All keys relative to REGISTRY\\\\Machine\n"
                                           "\n"
                                           "#arch=win64\n"
                                           "\n";
constexpr std::string_view userHeader =
        "WINE REGISTRY Version 2\n"
        ";; All keys relative to REGISTRY\\\\User\\\\S-1-5-21-0-0-0-1000\n"
        "\n"
        "#arch=win64\n"
        "\n";

class PrefixShellFoldersTest : public testing::Test
{
protected:
    // Opens the prefix as it is now; call after writing its registry files.
    PrefixShellFolders &open()
    {
        m_registry = openPrefixRegistry(m_prefix.path());
        PrefixEnvironmentSources host;
        host.hostName = "host";
        m_environment = buildPrefixEnvironment(*m_registry, user(), host);
        m_shellFolders = std::make_unique<PrefixShellFolders>(*m_registry, *m_environment, user());
        return *m_shellFolders;
    }

    void writeMachine(std::string_view blocks) const
    {
        m_prefix.writeTopFile("system.reg", std::string(machineHeader) + std::string(blocks));
    }

    void writeUser(std::string_view blocks) const
    {
        m_prefix.writeTopFile("user.reg", std::string(userHeader) + std::string(blocks));
    }

    std::u16string user() const { return u16(m_prefix.userName()); }
    std::u16string profile() const { return u"C:\\users\\" + user(); }

    TestPrefix m_prefix;
    std::unique_ptr<Registry> m_registry;
    std::unique_ptr<PrefixEnvironment> m_environment;
    std::unique_ptr<PrefixShellFolders> m_shellFolders;
};

TEST_F(PrefixShellFoldersTest, EmptyRegistryGivesWinesDefaultLayout)
{
    const ShellFolders &folders = open();
    EXPECT_EQ(folders.windowsDirectory(), u"C:\\windows");
    EXPECT_EQ(folders.systemDirectory(), u"C:\\windows\\system32");

    const std::u16string roaming = profile() + u"\\AppData\\Roaming";
    const std::pair<int, std::u16string> expected[] = {
            {csidl::Desktop, profile() + u"\\Desktop"},
            {csidl::Personal, profile() + u"\\Documents"},
            {csidl::Startup, roaming + u"\\Microsoft\\Windows\\Start Menu\\Programs\\StartUp"},
            {csidl::Recent, roaming + u"\\Microsoft\\Windows\\Recent"},
            {csidl::DesktopDirectory, profile() + u"\\Desktop"},
            {csidl::Fonts, u"C:\\windows\\Fonts"},
            {csidl::CommonStartup,
             u"C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\StartUp"},
            {csidl::CommonDesktopDirectory, u"C:\\users\\Public\\Desktop"},
            {csidl::AppData, roaming},
            {csidl::LocalAppData, profile() + u"\\AppData\\Local"},
            {csidl::CommonFavorites, profile() + u"\\Favorites"},
            {csidl::InternetCache, profile() + u"\\AppData\\Local\\Microsoft\\Windows\\INetCache"},
            {csidl::CommonAppData, u"C:\\ProgramData"},
            {csidl::Windows, u"C:\\windows"},
            {csidl::System, u"C:\\windows\\system32"},
            {csidl::ProgramFiles, u"C:\\Program Files"},
            {csidl::MyPictures, profile() + u"\\Pictures"},
            {csidl::Profile, profile()},
            {csidl::SystemX86, u"C:\\windows\\syswow64"},
            {csidl::ProgramFilesX86, u"C:\\Program Files (x86)"},
            {csidl::ProgramFilesCommon, u"C:\\Program Files\\Common Files"},
            {csidl::ProgramFilesCommonX86, u"C:\\Program Files (x86)\\Common Files"},
            {csidl::CommonDocuments, u"C:\\users\\Public\\Documents"},
            {csidl::CommonMusic, u"C:\\users\\Public\\Music"},
            {csidl::Resources, u"C:\\windows\\resources"},
    };
    for (const auto &[id, path] : expected)
        EXPECT_EQ(folders.folder(id), path) << "CSIDL " << id;
}

TEST_F(PrefixShellFoldersTest, UserShellFoldersWinThenShellFoldersThenTheDefault)
{
    writeUser(
            R"reg([Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders] 1700000000
"AppData"="C:\\ignored"
"Local AppData"="C:\\cache\\Local"
"Personal"="C:\\Docs"

[Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders] 1700000000
"AppData"=str(2):"%USERPROFILE%\\RoamX"
"Desktop"="D:\\Desk\\"
"Favorites"=""
"Personal"=dword:00000001
"Recent"=str(2):"%MYROOT%\\Recent"
"Templates"=str(2):"%NOT_SET%\\Templates"
)reg");
    writeMachine(
            R"reg([Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders] 1700000000
"Common AppData"="E:\\"
"Common Documents"=str(2):"%PUBLIC%\\Shared Documents"
)reg");
    const ShellFolders &folders = open();
    m_environment->set(u"MYROOT", u"C:\\mine");

    const std::pair<int, std::u16string> expected[] = {
            {csidl::AppData, profile() + u"\\RoamX"},
            // A plain string is taken as it is, without its trailing "\".
            {csidl::DesktopDirectory, u"D:\\Desk"},
            // Empty or of another type: the next source counts.
            {csidl::Favorites, profile() + u"\\Favorites"},
            {csidl::Personal, u"C:\\Docs"},
            {csidl::LocalAppData, u"C:\\cache\\Local"},
            // Other variables come from the environment as it is at the call.
            {csidl::Recent, u"C:\\mine\\Recent"},
            {csidl::Templates, u"%NOT_SET%\\Templates"},
            // Folders of all users come from the machine's keys; a drive root keeps its "\".
            {csidl::CommonAppData, u"E:\\"},
            {csidl::CommonDocuments, u"C:\\users\\Public\\Shared Documents"},
    };
    for (const auto &[id, path] : expected)
        EXPECT_EQ(folders.folder(id), path) << "CSIDL " << id;
}

TEST_F(PrefixShellFoldersTest, ProfileVariablesDoNotDependOnTheEnvironment)
{
    const ShellFolders &folders = open();
    m_environment->set(u"USERPROFILE", u"C:\\changed");
    m_environment->set(u"PUBLIC", std::nullopt);

    EXPECT_EQ(folders.folder(csidl::AppData), profile() + u"\\AppData\\Roaming");
    EXPECT_EQ(folders.folder(csidl::CommonDesktopDirectory), u"C:\\users\\Public\\Desktop");
}

TEST_F(PrefixShellFoldersTest, ChangesToTheRegistryShowAtOnce)
{
    const ShellFolders &folders = open();
    std::unique_ptr<RegistryKey> key;
    ASSERT_EQ(m_registry->create(RegistryHive::CurrentUser,
                                 u"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User "
                                 u"Shell Folders",
                                 key),
              RegistryStatus::Success);
    ASSERT_EQ(key->setValue(u"Recent", registryString(u"%USERPROFILE%\\Moved", RegExpandSz)),
              RegistryStatus::Success);

    EXPECT_EQ(folders.folder(csidl::Recent), profile() + u"\\Moved");
}

TEST_F(PrefixShellFoldersTest, FlagsAreIgnoredAndUnknownNumbersHaveNoFolder)
{
    const ShellFolders &folders = open();
    EXPECT_EQ(folders.folder(csidl::Recent | 0x8000), folders.folder(csidl::Recent));
    EXPECT_EQ(folders.folder(csidl::AppData | 0x4000), folders.folder(csidl::AppData));
    for (const int id : {0x3b, 0x3f, 0x99, -1})
        EXPECT_EQ(folders.folder(id), std::nullopt) << id;
}

TEST_F(PrefixShellFoldersTest, KnownFoldersByTheirIds)
{
    writeUser(
            R"reg([Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders] 1700000000
"{374DE290-123F-4565-9164-39C4925E467B}"=str(2):"%USERPROFILE%\\Incoming"
)reg");
    const ShellFolders &folders = open();

    EXPECT_EQ(folders.knownFolder(folderIdLocalAppDataLow), profile() + u"\\AppData\\LocalLow");
    EXPECT_EQ(folders.knownFolder(u"{a520a1a4-1780-4ff6-bd18-167343c5af16}"),
              profile() + u"\\AppData\\LocalLow");
    EXPECT_EQ(folders.knownFolder(folderIdDownloads), profile() + u"\\Incoming");
    EXPECT_EQ(folders.knownFolder(u"{00000000-0000-0000-0000-000000000000}"), std::nullopt);
    EXPECT_EQ(folders.knownFolder(u"A520A1A4-1780-4FF6-BD18-167343C5AF16"), std::nullopt);
}

TEST_F(PrefixShellFoldersTest, ThirtyTwoBitPrefixHasOneSystemFolder)
{
    writeMachine(R"reg([Software\\Microsoft\\Windows\\CurrentVersion] 1700000000
"CommonFilesDir"="C:\\Program Files\\Common Files"
"ProgramFilesDir"="C:\\Program Files"
)reg");
    const ShellFolders &folders = open();

    EXPECT_EQ(folders.folder(csidl::SystemX86), u"C:\\windows\\system32");
    EXPECT_EQ(folders.folder(csidl::ProgramFilesX86), u"C:\\Program Files");
    EXPECT_EQ(folders.folder(csidl::ProgramFilesCommonX86), u"C:\\Program Files\\Common Files");
}

} // namespace
