#include "PrefixRecentDocuments.h"
#include "PrefixEnvironment.h"
#include "PrefixFileSystem.h"
#include "PrefixRegistry.h"
#include "PrefixShellFolders.h"

#include "TestPrefix.h"

#include <platform/Text.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <set>
#include <string>

#include <unistd.h>

namespace fs = std::filesystem;
using namespace platform;

namespace {

constexpr std::string_view userHeader =
        "WINE REGISTRY Version 2\n"
        ";; All keys relative to REGISTRY\\\\User\\\\S-1-5-21-0-0-0-1000\n"
        "\n"
        "#arch=win64\n"
        "\n";

constexpr std::u16string_view recentDocsKey =
        u"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\RecentDocs";

// The list as the shell keeps it: an MRU of all documents and one per file type, one level deeper.
constexpr std::string_view recentDocsList =
        R"reg([Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Other] 1700000000
"keep"="me"

[Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\RecentDocs] 1700000000
"0"=hex:61,00,2e,00,74,00,78,00,74,00,00,00
"MRUListEx"=hex:00,00,00,00,ff,ff,ff,ff

[Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\RecentDocs\\.txt] 1700000000
"0"=hex:61,00,2e,00,74,00,78,00,74,00,00,00
"MRUListEx"=hex:00,00,00,00,ff,ff,ff,ff

[Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\RecentDocs\\.txt\\Deeper] 1700000000
"x"="y"
)reg";

// Everything below a host folder, as paths relative to it; links are listed, never entered.
std::set<std::string> treeOf(const std::string &folder)
{
    std::set<std::string> paths;
    std::error_code error;
    for (auto it = fs::recursive_directory_iterator(folder, error);
         !error && it != fs::recursive_directory_iterator(); it.increment(error))
        paths.insert(it->path().lexically_relative(folder).string());
    return paths;
}

class PrefixRecentDocumentsTest : public testing::Test
{
protected:
    PrefixRecentDocumentsTest()
        : m_recent("users/" + m_prefix.userName() + "/AppData/Roaming/Microsoft/Windows/Recent")
    {}

    // Opens the prefix as it is now; call after writing its registry files.
    PrefixRecentDocuments &open()
    {
        m_registry = openPrefixRegistry(m_prefix.path());
        m_environment = buildPrefixEnvironment(*m_registry, u16(m_prefix.userName()), {});
        m_fileSystem = std::make_unique<PrefixFileSystem>(m_prefix.path());
        m_shellFolders = std::make_unique<PrefixShellFolders>(*m_registry, *m_environment,
                                                              u16(m_prefix.userName()));
        m_recentDocuments = std::make_unique<PrefixRecentDocuments>(*m_shellFolders, *m_registry,
                                                                    *m_fileSystem);
        return *m_recentDocuments;
    }

    void writeUser(std::string_view blocks) const
    {
        m_prefix.writeTopFile("user.reg", std::string(userHeader) + std::string(blocks));
    }

    // The list key's values and subkeys, read afresh from the files.
    std::pair<std::uint32_t, std::uint32_t> listSize() const
    {
        const std::unique_ptr<Registry> registry = openPrefixRegistry(m_prefix.path());
        std::unique_ptr<RegistryKey> key;
        if (registry->open(RegistryHive::CurrentUser, recentDocsKey, key) !=
            RegistryStatus::Success)
            return {0, 0};
        RegistryKeyInfo info;
        EXPECT_EQ(key->info(info), RegistryStatus::Success);
        return {info.valueCount, info.subkeyCount};
    }

    bool listKeyExists() const
    {
        const std::unique_ptr<Registry> registry = openPrefixRegistry(m_prefix.path());
        std::unique_ptr<RegistryKey> key;
        return registry->open(RegistryHive::CurrentUser, recentDocsKey, key) ==
               RegistryStatus::Success;
    }

    TestPrefix m_prefix;
    std::string m_recent; // the Recent folder below drive_c
    std::unique_ptr<Registry> m_registry;
    std::unique_ptr<PrefixEnvironment> m_environment;
    std::unique_ptr<PrefixFileSystem> m_fileSystem;
    std::unique_ptr<PrefixShellFolders> m_shellFolders;
    std::unique_ptr<PrefixRecentDocuments> m_recentDocuments;
};

TEST_F(PrefixRecentDocumentsTest, ClearDeletesTheDocumentsAndEmptiesTheList)
{
    writeUser(recentDocsList);
    const std::string outside = m_prefix.makeTopFolder("home");
    m_prefix.writeFile(m_recent + "/a.txt.lnk", "0123456789");
    m_prefix.writeFile(m_recent + "/b.doc.lnk", std::string(20, 'b'));
    m_prefix.writeFile(m_recent + "/.hidden.lnk", "hhhhh");
    m_prefix.writeFile(m_recent + "/AutomaticDestinations/c.lnk", "sub");
    fs::create_directories(outside + "/folder");
    m_prefix.writeTopFile("home/keep.txt", "keep");
    m_prefix.makeLink(m_recent + "/to-file.lnk", outside + "/keep.txt");
    m_prefix.makeLink(m_recent + "/to-folder", outside + "/folder");

    const RecentDocumentsCleared cleared = open().clear();

    EXPECT_EQ(cleared.filesRemoved, 4u); // the three files and the link to a file
    EXPECT_EQ(cleared.bytesRemoved, 35u);
    EXPECT_TRUE(cleared.complete);
    EXPECT_EQ(treeOf(m_prefix.hostPath(m_recent)),
              (std::set<std::string>{"AutomaticDestinations", "AutomaticDestinations/c.lnk",
                                     "to-folder"}));
    EXPECT_EQ(treeOf(outside), (std::set<std::string>{"folder", "keep.txt"}));

    EXPECT_TRUE(listKeyExists());
    EXPECT_EQ(listSize(), (std::pair<std::uint32_t, std::uint32_t>{0, 0}));
    const std::unique_ptr<Registry> registry = openPrefixRegistry(m_prefix.path());
    std::unique_ptr<RegistryKey> other;
    ASSERT_EQ(registry->open(RegistryHive::CurrentUser,
                             u"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Other",
                             other),
              RegistryStatus::Success);
    RegistryValue kept;
    EXPECT_EQ(other->value(u"keep", kept), RegistryStatus::Success);
}

TEST_F(PrefixRecentDocumentsTest, ReadOnlyDocumentsStayAndMakeTheClearIncomplete)
{
    m_prefix.writeFile(m_recent + "/gone.lnk", "12");
    m_prefix.writeFile(m_recent + "/locked.lnk", "123");
    m_prefix.makeReadOnly(m_recent + "/locked.lnk");

    const RecentDocumentsCleared cleared = open().clear();

    EXPECT_EQ(cleared.filesRemoved, 1u);
    EXPECT_EQ(cleared.bytesRemoved, 2u);
    EXPECT_FALSE(cleared.complete);
    EXPECT_EQ(treeOf(m_prefix.hostPath(m_recent)), std::set<std::string>{"locked.lnk"});
}

TEST_F(PrefixRecentDocumentsTest, SystemFilesStay)
{
    m_prefix.writeFile(m_recent + "/desktop.ini", "[.ShellClassInfo]");
    if (!m_prefix.setDosAttributeRecord(m_recent + "/desktop.ini", "0x6"))
        GTEST_SKIP() << "the host file system keeps no user extended attributes";
    m_prefix.writeFile(m_recent + "/a.lnk", "1");

    const RecentDocumentsCleared cleared = open().clear();

    EXPECT_EQ(cleared.filesRemoved, 1u);
    EXPECT_TRUE(cleared.complete);
    EXPECT_EQ(treeOf(m_prefix.hostPath(m_recent)), std::set<std::string>{"desktop.ini"});
}

TEST_F(PrefixRecentDocumentsTest, RecentFolderLinkedOffItsDriveIsLeftAlone)
{
    // The folder itself or one above it leads, through a link, into the host's folders, the way
    // Wine links profile folders into the home folder.
    const std::string profile = "users/" + m_prefix.userName();
    for (const std::string &linked : {m_recent, profile + "/AppData/Roaming/Microsoft"}) {
        SCOPED_TRACE(linked);
        TestPrefix prefix;
        const std::string outside = prefix.makeTopFolder("home");
        prefix.writeTopFile("user.reg", std::string(userHeader) + std::string(recentDocsList));
        const std::string below = m_recent.substr(linked.size());
        fs::create_directories(outside + below);
        prefix.writeTopFile("home" + below + "/document.lnk", "precious");
        fs::remove_all(prefix.hostPath(linked));
        prefix.makeLink(linked, outside);

        const std::unique_ptr<Registry> registry = openPrefixRegistry(prefix.path());
        const std::unique_ptr<PrefixEnvironment> environment =
                buildPrefixEnvironment(*registry, u16(prefix.userName()), {});
        const PrefixFileSystem fileSystem(prefix.path());
        const PrefixShellFolders shellFolders(*registry, *environment, u16(prefix.userName()));
        const RecentDocumentsCleared cleared =
                PrefixRecentDocuments(shellFolders, *registry, fileSystem).clear();

        EXPECT_EQ(cleared.filesRemoved, 0u);
        EXPECT_FALSE(cleared.complete);
        EXPECT_TRUE(TestPrefix::exists(outside + below + "/document.lnk"));
    }
}

TEST_F(PrefixRecentDocumentsTest, RecentFolderElsewhereOnItsDriveIsCleared)
{
    // A link inside the drive, and a folder the user named on another drive, stay in reach.
    const std::string outside = m_prefix.makeTopFolder("chosen");
    m_prefix.writeTopFile("chosen/z.lnk", "zz");
    std::u16string chosen = u"Z:" + fromUtf8(outside);
    std::replace(chosen.begin(), chosen.end(), u'/', u'\\');
    fs::remove_all(m_prefix.hostPath(m_recent));
    m_prefix.writeFile("Elsewhere/c.lnk", "c");
    m_prefix.makeLink(m_recent, "../../../../../../Elsewhere");
    ASSERT_TRUE(TestPrefix::exists(m_prefix.hostPath(m_recent + "/c.lnk")));

    RecentDocuments &recent = open();
    EXPECT_EQ(recent.clear().filesRemoved, 1u);
    EXPECT_FALSE(TestPrefix::exists(m_prefix.hostPath("Elsewhere/c.lnk")));

    std::unique_ptr<RegistryKey> folders;
    ASSERT_EQ(m_registry->create(RegistryHive::CurrentUser,
                                 u"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User "
                                 u"Shell Folders",
                                 folders),
              RegistryStatus::Success);
    ASSERT_EQ(folders->setValue(u"Recent", registryString(chosen)), RegistryStatus::Success);
    EXPECT_EQ(recent.folder(), chosen);
    const RecentDocumentsCleared cleared = recent.clear();
    EXPECT_EQ(cleared.filesRemoved, 1u);
    EXPECT_TRUE(cleared.complete);
    EXPECT_FALSE(TestPrefix::exists(outside + "/z.lnk"));
}

TEST_F(PrefixRecentDocumentsTest, NothingToClearIsComplete)
{
    const RecentDocumentsCleared cleared = open().clear();
    EXPECT_EQ(cleared.filesRemoved, 0u);
    EXPECT_EQ(cleared.bytesRemoved, 0u);
    EXPECT_TRUE(cleared.complete);
    EXPECT_FALSE(listKeyExists());
}

TEST_F(PrefixRecentDocumentsTest, ListThatCannotBeChangedMakesTheClearIncomplete)
{
    writeUser(recentDocsList);
    // A registry file with a second name is never replaced, so the registry is read-only.
    ASSERT_EQ(::link((m_prefix.path() + "/user.reg").c_str(),
                     (m_prefix.path() + "/user.reg.backup").c_str()),
              0);
    m_prefix.writeFile(m_recent + "/a.lnk", "1");

    const RecentDocumentsCleared cleared = open().clear();

    EXPECT_EQ(cleared.filesRemoved, 1u);
    EXPECT_FALSE(cleared.complete);
    EXPECT_EQ(listSize(), (std::pair<std::uint32_t, std::uint32_t>{2, 1}));
}

} // namespace
