// The safety net for recursive walks, on a small test prefix with links into guarded folders and
// out of the prefix, and through plug-in items that ask for such walks.

#include "PluginTestSupport.h"
#include "WalkTestSupport.h"

#include <disk_cleaner/SafetyNet.h>
#include <disk_cleaner/TextPlugInfo.h>

#include <platform/Machine.h>
#include <platform/Text.h>

#include <gtest/gtest.h>

#include <string>

using namespace diskcleaner;
using platform::fromUtf8;
using platform::toUtf8;
using plugintest::HostFolder;
using plugintest::TraceRecorder;
using walktest::present;

namespace {

// The prefix: Wine's default folders, links inside drive C: into guarded and unguarded folders,
// a Desktop that leads out of the prefix, and a drive D: outside it elsewhere.
class SafetyNetTest : public testing::Test
{
protected:
    SafetyNetTest()
    {
        const std::string profile = "users/" + m_prefix.userName();
        m_prefix.makeFolder(profile + "/AppData/Local/Vendor/Cache");
        m_prefix.makeFolder("users/Someone/AppData");
        m_prefix.makeLink("links/windows", "../windows");
        m_prefix.makeLink("links/users", "../users");
        m_prefix.makeLink("links/temp", "../" + profile + "/Temp");
        m_prefix.makeLink(profile + "/Desktop", m_outside.path());
        m_prefix.linkDrive('d', m_otherDrive.path());
        m_prefix.install();
    }

    // A case's folder with <user> and <outside> (the outside folder through Z:) filled in.
    std::u16string folder(std::string_view pattern) const
    {
        std::u16string text = fromUtf8(pattern);
        const auto fill = [&](std::u16string_view name, const std::u16string &value) {
            for (std::size_t at; (at = text.find(name)) != std::u16string::npos;)
                text.replace(at, name.size(), value);
        };
        fill(u"<user>", fromUtf8(m_prefix.userName()));
        fill(u"<outside>", m_outside.throughDriveZ());
        return text;
    }

    HostFolder m_outside;
    HostFolder m_otherDrive;
    TestPrefix m_prefix;
};

struct FolderCase
{
    const char *folder;
    bool recursiveAllowed;
};

const FolderCase folderCases[] = {
        // Drive roots, however written.
        {"C:\\", false},
        {"c:", false},
        {"C:\\.\\", false},
        {"C:\\windows\\..", false},
        {"C:\\..\\..\\", false},
        {"Z:\\", false},
        {"D:\\", false},
        // The Windows, system and program files folders themselves, in the spellings Windows
        // takes for them.
        {"C:\\windows\\", false},
        {"C:\\WINDOWS", false},
        {"C:/windows/", false},
        {"C:\\windows.\\", false},
        {"C:\\windows \\", false},
        {"\\\\?\\C:\\windows\\", false},
        {"C:\\windows\\temp\\..\\", false},
        {"C:\\windows\\system32\\", false},
        {"C:\\windows\\syswow64", false},
        {"C:\\Program Files\\", false},
        {"C:\\program files (x86)", false},
        // The users folder and every profile in it, the current user's or not.
        {"C:\\users\\", false},
        {"C:\\users\\<user>\\", false},
        {"C:\\users\\<user>\\Temp\\..\\", false},
        {"C:\\users\\Public", false},
        {"C:\\users\\Someone\\", false},
        // Links inside the prefix that lead to guarded folders.
        // Links are never entered by a walk, so a folder that holds some is no danger.
        {"C:\\links\\", true},
        {"C:\\links\\windows\\", false},
        {"C:\\links\\users\\", false},
        {"C:\\links\\users\\Someone\\", false},
        // Folders outside the prefix, through a drive or a link.
        {"<outside>\\", false},
        {"<outside>\\Cache\\", false},
        {"D:\\Cache\\", false},
        {"C:\\users\\<user>\\Desktop\\", false},
        {"C:\\users\\<user>\\Desktop\\Cache\\", false},
        // Paths that name no folder of a drive.
        {"E:\\Cache\\", false},
        {"Cache\\", false},
        {"\\windows\\temp\\", false},
        {"\\\\server\\share\\Cache\\", false},
        // Folders inside guarded ones.
        {"C:\\windows\\temp\\", true},
        {"C:\\windows\\temp\\..\\temp\\Logs\\", true},
        {"C:\\windows\\system32\\LogFiles\\", true},
        {"C:\\users\\<user>\\Temp\\", true},
        {"C:\\users\\<user>\\AppData\\Local\\Vendor\\Cache", true},
        {"C:\\users\\Someone\\AppData\\", true},
        {"C:\\Program Files\\Vendor\\Cache\\", true},
        {"C:\\ProgramData\\Vendor\\Logs\\", true},
        {"C:\\links\\temp\\", true},
        {"C:\\links\\windows\\temp\\", true},
        {"C:\\Missing\\Cache\\", true},
};

TEST_F(SafetyNetTest, refusesRecursiveWalksOfGuardedFoldersOnly)
{
    const SafetyNet net = SafetyNet::forCurrentMachine();
    for (const FolderCase &entry : folderCases) {
        const std::u16string path = folder(entry.folder);
        SCOPED_TRACE(toUtf8(path));
        for (const ScanOptions &options :
             {ScanOptions{.Recursive = true}, ScanOptions{.Recursive = true, .SubFolderOnly = true},
              ScanOptions{.Recursive = true, .DelBaseFolder = true}}) {
            const std::optional<std::u16string> refusal = net.refusal(path, options);
            EXPECT_EQ(!refusal, entry.recursiveAllowed) << toUtf8(refusal.value_or(u""));
            if (refusal) {
                EXPECT_FALSE(refusal->empty());
            }
        }
        // A walk of the folder's own files is never refused.
        EXPECT_EQ(net.refusal(path, ScanOptions{}), std::nullopt);
    }
}

TEST_F(SafetyNetTest, namesTheMachinesGuardedFolders)
{
    const SafetyNet net = SafetyNet::forCurrentMachine();
    std::vector<std::u16string> paths;
    for (const SafetyNet::GuardedFolder &guarded : net.guardedFolders())
        paths.push_back(guarded.path);
    const std::u16string profile = folder("C:\\users\\<user>");
    for (const std::u16string &expected :
         {std::u16string(u"C:\\"), std::u16string(u"C:\\windows"),
          std::u16string(u"C:\\windows\\system32"), std::u16string(u"C:\\Program Files"),
          std::u16string(u"C:\\users"), profile}) {
        EXPECT_NE(std::find(paths.begin(), paths.end(), expected), paths.end()) << toUtf8(expected);
    }
}

TEST(SafetyNetWithoutMachine, refusesEveryRecursiveWalk)
{
    platform::Machine::install(nullptr);
    const SafetyNet net = SafetyNet::forCurrentMachine();
    EXPECT_NE(net.refusal(u"C:\\windows\\temp\\", ScanOptions{.Recursive = true}), std::nullopt);
    EXPECT_EQ(net.refusal(u"C:\\windows\\temp\\", ScanOptions{}), std::nullopt);
}

// A plug-in that asks for guarded walks: they are neither scanned nor cleaned, and the trace says
// why; its other entries, and walks of a guarded folder's own files, go ahead.
TEST_F(SafetyNetTest, aPluginItemNeverWalksAGuardedFolder)
{
    const std::string profile = "users/" + m_prefix.userName();
    m_prefix.writeFile("windows/setup.log", "12345");
    m_prefix.writeFile("windows/notes.txt");
    m_prefix.writeFile("windows/temp/old.log");
    m_prefix.writeFile("windows/system32/config.log");
    m_prefix.writeFile(profile + "/Temp/a.tmp", "123");
    m_outside.write("keep.log", "outside");
    m_outside.write("Sub/keep.log", "outside");

    HostFolder plugins;
    const std::string file = plugins.write("guarded.dct", "[Info]\n"
                                                          "Title=Guarded\n"
                                                          "[files]\n"
                                                          "%windir%\\*.*/S\n"
                                                          "%windir%\\*.log\n"
                                                          "%USERPROFILE%\\*.*/SO/SI\n"
                                                          "%USERPROFILE%\\Desktop\\*.log/S\n"
                                                          "%USERPROFILE%\\Temp\\*.tmp/S\n"
                                                          "%drive%*.log/S\n");
    TextPlugInfo item(fromUtf8(file));
    TraceRecorder trace;
    item.Scan();
    FileList found;
    item.GetFileList(found);
    EXPECT_EQ(walktest::sorted(found),
              walktest::sorted(
                      {u"C:\\windows\\setup.log", folder("C:\\users\\<user>\\Temp\\a.tmp")}));
    EXPECT_EQ(item.GetItemsFound(), 2u);
    EXPECT_EQ(item.GetBytesFound(), 8u);
    EXPECT_TRUE(trace.has({u"not walking", u"C:\\windows\\", u"the Windows folder"}));
    EXPECT_TRUE(trace.has({u"not walking", u"Desktop", u"outside the machine's folder"}));
    EXPECT_TRUE(trace.has({u"not walking", u"C:\\", u"root of drive C:"}));

    item.Clean();
    EXPECT_EQ(item.GetItemsCleaned(), 2u);
    EXPECT_FALSE(present(m_prefix, "windows/setup.log"));
    EXPECT_FALSE(present(m_prefix, profile + "/Temp/a.tmp"));
    for (const std::string &kept :
         {std::string("windows/notes.txt"), std::string("windows/temp/old.log"),
          std::string("windows/system32/config.log"), profile + "/AppData/Local/Vendor/Cache",
          profile + "/Temp"})
        EXPECT_TRUE(present(m_prefix, kept)) << kept;
    EXPECT_TRUE(m_outside.exists("keep.log"));
    EXPECT_TRUE(m_outside.exists("Sub/keep.log"));
}

} // namespace
