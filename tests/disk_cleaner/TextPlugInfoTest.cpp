// Plug-in items made from definition files: their options, their [Info] texts, and scans and
// cleans of [files] and [registry] entries on a small test prefix; bad files of every kind.

#include "PluginTestSupport.h"
#include "WalkTestSupport.h"

#include <disk_cleaner/CleaningItems.h>
#include <disk_cleaner/StopRequest.h>
#include <disk_cleaner/TextPlugInfo.h>

#include <platform/IniFile.h>
#include <platform/RegistryApi.h>
#include <platform/Text.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

using namespace diskcleaner;
using platform::fromUtf8;
using platform::toUtf8;
using plugintest::HostFolder;
using plugintest::TraceRecorder;
using walktest::present;
using walktest::sorted;

namespace {

// --- Options ---------------------------------------------------------------------------------

TEST(GetScanOptions, readsAndCutsTheOptions)
{
    const struct
    {
        const char16_t *entry;
        const char16_t *rest;
        bool recursive, filesOnly, delBaseFolder, subFolderOnly;
    } cases[] = {
            {u"C:\\A\\*.*", u"C:\\A\\*.*", false, false, false, false},
            {u"C:\\A\\*.*/S", u"C:\\A\\*.*", true, false, false, false},
            {u"C:\\A\\*.*/s", u"C:\\A\\*.*", true, false, false, false},
            {u"C:\\A\\*.*/SF", u"C:\\A\\*.*", true, true, false, false},
            {u"C:\\A\\*.*/sf", u"C:\\A\\*.*", true, true, false, false},
            {u"C:\\A\\*.*/SI", u"C:\\A\\*.*", true, false, true, false},
            {u"C:\\A\\*.*/si", u"C:\\A\\*.*", true, false, true, false},
            {u"C:\\A\\*.*/SO", u"C:\\A\\*.*", true, false, false, true},
            {u"C:\\A\\*.*/So", u"C:\\A\\*.*", true, false, false, true},
            {u"C:\\A\\*.*/SO/SI", u"C:\\A\\*.*", true, false, true, true},
            {u"C:\\A\\*.*/S/SF/SI/SO", u"C:\\A\\*.*", true, true, true, true},
            {u"C:\\A\\*.*/SX", u"C:\\A\\*.*", true, false, false, false},
            {u"C:\\A\\*.*/SIO", u"C:\\A\\*.*", true, false, true, false},
            // Another letter after "/" sets nothing but is cut off all the same.
            {u"C:\\A\\*.*/X", u"C:\\A\\*.*", false, false, false, false},
            {u"C:\\A\\*.*/X/SO", u"C:\\A\\*.*", true, false, false, true},
            {u"C:\\A\\*.*/", u"C:\\A\\*.*", false, false, false, false},
            {u"C:\\A\\*.*//S", u"C:\\A\\*.*", true, false, false, false},
            // The text before the first "/" stays as it is, blanks included.
            {u"C:\\A\\*.log /S", u"C:\\A\\*.log ", true, false, false, false},
            {u"C:\\A/B\\*.*", u"C:\\A", false, false, false, false},
            {u"/SI", u"", true, false, true, false},
    };
    for (const auto &entry : cases) {
        std::u16string text = entry.entry;
        SCOPED_TRACE(toUtf8(text));
        const ScanOptions options = GetScanOptions(text);
        EXPECT_EQ(text, entry.rest);
        EXPECT_EQ(options.Recursive, entry.recursive);
        EXPECT_EQ(options.FilesOnly, entry.filesOnly);
        EXPECT_EQ(options.DelBaseFolder, entry.delBaseFolder);
        EXPECT_EQ(options.SubFolderOnly, entry.subFolderOnly);
        EXPECT_EQ(options.MinAgeDays, 0u);
        EXPECT_FALSE(options.IncludeSystemFiles);
    }
}

// --- [Info] ----------------------------------------------------------------------------------

std::string utf16LittleEndian(std::u16string_view text)
{
    std::string bytes = "\xff\xfe";
    for (const char16_t unit : text) {
        bytes += static_cast<char>(unit & 0xff);
        bytes += static_cast<char>(unit >> 8);
    }
    return bytes;
}

std::string binaryBytes()
{
    std::string bytes;
    for (int round = 0; round < 64; ++round) {
        for (int value = 0; value < 256; ++value)
            bytes += static_cast<char>((value * 37 + round) & 0xff);
    }
    return bytes;
}

TEST(TextPlugInfoInfo, readsTheTextsOrTheirDefaults)
{
    const std::u16string noTitle = u"Error: No title given";
    const std::u16string noDescription = u"Error: No description given";
    const struct
    {
        const char *name;
        std::string content;
        std::u16string title, description, process, application;
    } cases[] = {
            {"complete",
             "[Info]\nTitle=Viewer\nDescription=Removes traces.\nProcess=view.exe\n"
             "Application=Viewer 2\n",
             u"Viewer", u"Removes traces.", u"view.exe", u"Viewer 2"},
            {"quoted and in other cases", "[info]\n  TITLE = \"Quoted\"  \ndescription='Single'\n",
             u"Quoted", u"Single", u"", u""},
            {"process without application", "[Info]\nProcess=view.exe\n", noTitle, noDescription,
             u"view.exe", u"Unknown"},
            {"application without process", "[Info]\nTitle=T\nApplication=Viewer\n", u"T",
             noDescription, u"", u""},
            {"keys before any section", "Title=Outside\n[Info]\n", noTitle, noDescription, u"",
             u""},
            {"first of two sections", "[Info]\nTitle=First\n[Info]\nTitle=Second\n", u"First",
             noDescription, u"", u""},
            {"long title", "[Info]\nTitle=" + std::string(300, 'x') + "\n",
             std::u16string(260, u'x'), noDescription, u"", u""},
            {"UTF-16", utf16LittleEndian(u"[Info]\r\nTitle=Wide \u00e9\r\n"), u"Wide \u00e9",
             noDescription, u"", u""},
            {"empty", "", noTitle, noDescription, u"", u""},
            {"binary", binaryBytes(), noTitle, noDescription, u"", u""},
    };
    HostFolder plugins;
    for (const auto &entry : cases) {
        SCOPED_TRACE(entry.name);
        const TextPlugInfo item(fromUtf8(plugins.write("item.dct", entry.content)));
        EXPECT_EQ(item.GetTitle(), entry.title);
        EXPECT_EQ(item.GetDescription(), entry.description);
        EXPECT_EQ(item.process(), entry.process);
        EXPECT_EQ(item.application(), entry.application);
        EXPECT_EQ(item.GetItemsFound(), 0u);
        EXPECT_EQ(item.GetBytesFound(), 0u);
        EXPECT_EQ(item.GetItemsCleaned(), 0u);
        EXPECT_EQ(item.GetBytesCleaned(), 0u);
    }
    const TextPlugInfo missing(fromUtf8(plugins.path() + "/missing.dct"));
    EXPECT_EQ(missing.GetTitle(), noTitle);
    EXPECT_EQ(missing.GetDescription(), noDescription);
}

// --- Scans and cleans -------------------------------------------------------------------------

class TextPlugInfoTest : public testing::Test
{
protected:
    TextPlugInfoTest()
        : m_appData("users/" + m_prefix.userName() + "/AppData/Roaming/")
    {
        ClearStopRequest();
        m_prefix.writeTopFile("user.reg", plugintest::header + plugintest::userKeys);
        m_prefix.install();
    }
    ~TextPlugInfoTest() override { ClearStopRequest(); }

    std::unique_ptr<TextPlugInfo> item(std::string_view name, std::string_view content) const
    {
        return std::make_unique<TextPlugInfo>(fromUtf8(m_plugins.write(name, content)));
    }

    // A file below the user's roaming application data, with as many bytes as asked.
    void appFile(const std::string &below, std::size_t size) const
    {
        m_prefix.writeFile(m_appData + below, std::string(size, 'x'));
    }
    bool appPresent(const std::string &below) const { return present(m_prefix, m_appData + below); }

    // The Windows path of a file below the roaming application data.
    std::u16string appPath(std::string_view below) const
    {
        return walktest::windowsPath(m_appData + std::string(below));
    }

    static FileList fileList(const PlugInfo &item)
    {
        FileList list;
        item.GetFileList(list);
        return list;
    }

    static bool valueExists(const char16_t *path, const char16_t *name)
    {
        using namespace platform;
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, path, 0, KEY_READ, &key) != ERROR_SUCCESS)
            return false;
        const bool found =
                RegQueryValueExW(key, name, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
        RegCloseKey(key);
        return found;
    }

    TestPrefix m_prefix;
    HostFolder m_plugins;
    const std::string m_appData;
};

const char recursiveOrNotFile[] = "[Info]\nTitle=Logs\n[files]\n"
                                  "%appdata%\\Foo\\*.log /S\n"
                                  "%appdata%\\Bar\\*.log/S\n"
                                  "%appdata%\\Baz\\*.log\n";

// A blank between the pattern and its options is no part of the pattern; without "/S" only the
// folder's own files count.
TEST_F(TextPlugInfoTest, scansAndCleansFilesWithAndWithoutSubfolders)
{
    appFile("Foo/a.log", 1);
    appFile("Foo/sub/b.log", 2);
    appFile("Foo/c.txt", 100);
    appFile("Bar/d.log", 4);
    appFile("Bar/deep/er/e.log", 8);
    appFile("Baz/f.log", 16);
    appFile("Baz/sub/g.log", 100);
    const auto plugin = item("logs.dct", recursiveOrNotFile);

    plugin->Scan();
    EXPECT_EQ(plugin->GetItemsFound(), 5u);
    EXPECT_EQ(plugin->GetBytesFound(), 31u);
    EXPECT_EQ(sorted(fileList(*plugin)),
              sorted({appPath("Foo/a.log"), appPath("Foo/sub/b.log"), appPath("Bar/d.log"),
                      appPath("Bar/deep/er/e.log"), appPath("Baz/f.log")}));
    EXPECT_EQ(plugin->folderList(), (FileList{appPath("Foo/*.log") + u" /S",
                                              appPath("Bar/*.log") + u"/S", appPath("Baz/*.log")}));
    EXPECT_TRUE(appPresent("Foo/a.log")) << "a scan changed the disk";

    plugin->Clean();
    EXPECT_EQ(plugin->GetItemsCleaned(), 5u);
    EXPECT_EQ(plugin->GetBytesCleaned(), 31u);
    for (const char *gone : {"Foo/a.log", "Foo/sub", "Bar/d.log", "Bar/deep", "Baz/f.log"})
        EXPECT_FALSE(appPresent(gone)) << gone;
    for (const char *kept : {"Foo/c.txt", "Baz/sub/g.log", "Bar"})
        EXPECT_TRUE(appPresent(kept)) << kept;
    // The counters of the scan stay until the next scan.
    EXPECT_EQ(plugin->GetItemsFound(), 5u);
}

// /SO with /SI: the base folder's own files stay, everything below goes, and the base folder goes
// only when that leaves it empty.
TEST_F(TextPlugInfoTest, subfoldersOnlyWithTheBaseFolder)
{
    appFile("Kept/top.txt", 1);
    appFile("Kept/sub/x.txt", 2);
    appFile("Kept/sub/deeper/y.txt", 4);
    appFile("Gone/sub/z.txt", 8);
    const auto plugin = item("folders.dct", "[Info]\nTitle=Folders\n[files]\n"
                                            "%appdata%\\Kept\\*.*/SO/SI\n"
                                            "%appdata%\\Gone\\*.*/so/si\n");
    plugin->Scan();
    EXPECT_EQ(plugin->GetItemsFound(), 3u);
    EXPECT_EQ(plugin->GetBytesFound(), 14u);
    EXPECT_TRUE(appPresent("Gone/sub/z.txt"));

    plugin->Clean();
    EXPECT_EQ(plugin->GetItemsCleaned(), 3u);
    EXPECT_TRUE(appPresent("Kept/top.txt"));
    EXPECT_FALSE(appPresent("Kept/sub"));
    EXPECT_FALSE(appPresent("Gone"));
}

const char registryFile[] = "[Info]\nTitle=Lists\n[registry]\n"
                            "HKEY_CURRENT_USER|Software\\Foo\n"
                            "HKEY_CURRENT_USER|Software\\WithDefault|\n"
                            "HKCU|Software\\Keep\n"
                            "HKEY_CURRENT_USER|\n"
                            "HKEY_CURRENT_USER||Stay\n"
                            "HKEY_CURRENT_USER|Software\\Missing\n"
                            "HKEY_CURRENT_CONFIG|Software\\Keep\n"
                            "no bar at all\n";

TEST_F(TextPlugInfoTest, scansAndCleansRegistryEntries)
{
    const auto plugin = item("lists.dct", registryFile);
    plugin->Scan();
    EXPECT_EQ(plugin->GetItemsFound(), 6u);
    EXPECT_EQ(plugin->GetBytesFound(), 29u + 26u);
    EXPECT_EQ(fileList(*plugin), (FileList{u"HKEY_CURRENT_USER\\Software\\Foo\\Sub\\X",
                                           u"HKEY_CURRENT_USER\\Software\\Foo\\Sub\\Y",
                                           u"HKEY_CURRENT_USER\\Software\\Foo\\One",
                                           u"HKEY_CURRENT_USER\\Software\\Foo\\Three",
                                           u"HKEY_CURRENT_USER\\Software\\Foo\\Two",
                                           u"HKEY_CURRENT_USER\\Software\\WithDefault\\"}));

    plugin->Clean();
    EXPECT_EQ(plugin->GetItemsCleaned(), 6u);
    EXPECT_EQ(plugin->GetBytesCleaned(), 55u);
    EXPECT_EQ(fileList(*plugin),
              (FileList{u"Deleted: HKEY_CURRENT_USER\\Software\\Foo\\Sub\\X",
                        u"Deleted: HKEY_CURRENT_USER\\Software\\Foo\\Sub\\Y",
                        u"Deleted: HKEY_CURRENT_USER\\Software\\Foo\\One",
                        u"Deleted: HKEY_CURRENT_USER\\Software\\Foo\\Three",
                        u"Deleted: HKEY_CURRENT_USER\\Software\\Foo\\Two",
                        u"Deleted: HKEY_CURRENT_USER\\Software\\WithDefault\\"}));
    EXPECT_FALSE(valueExists(u"Software\\Foo", u"One"));
    EXPECT_FALSE(valueExists(u"Software\\WithDefault", u""));
    EXPECT_TRUE(valueExists(u"Software\\WithDefault", u"Named"));
    EXPECT_TRUE(valueExists(u"Software\\Keep", u"Stay"));
}

// Registry paths come first in the found list, then files; Rescan gives what Scan gives.
TEST_F(TextPlugInfoTest, rescanGivesWhatScanGives)
{
    appFile("Foo/a.log", 3);
    appFile("Bar/b.log", 5);
    const auto plugin = item("both.dct", "[Info]\nTitle=Both\n"
                                         "[files]\n%appdata%\\Foo\\*.log\n%appdata%\\Bar\\*.*/S\n"
                                         "[registry]\nHKEY_CURRENT_USER|Software\\Foo\\Sub\n");
    plugin->Scan();
    const FileList scanned = fileList(*plugin);
    EXPECT_EQ(scanned, (FileList{u"HKEY_CURRENT_USER\\Software\\Foo\\Sub\\X",
                                 u"HKEY_CURRENT_USER\\Software\\Foo\\Sub\\Y", appPath("Foo/a.log"),
                                 appPath("Bar/b.log")}));
    const std::uint64_t items = plugin->GetItemsFound();
    const std::uint64_t bytes = plugin->GetBytesFound();
    EXPECT_EQ(items, 4u);
    EXPECT_EQ(bytes, 6u + 3u + 3u + 5u);

    plugin->Rescan();
    EXPECT_EQ(fileList(*plugin), scanned);
    EXPECT_EQ(plugin->GetItemsFound(), items);
    EXPECT_EQ(plugin->GetBytesFound(), bytes);
}

TEST_F(TextPlugInfoTest, aCleanWithoutAScanCleansOnlyRegistryEntries)
{
    appFile("Foo/a.log", 3);
    const auto plugin = item("both.dct", "[Info]\nTitle=Both\n[files]\n%appdata%\\Foo\\*.log\n"
                                         "[registry]\nHKEY_CURRENT_USER|Software\\Foo|One\n");
    plugin->Clean();
    EXPECT_EQ(plugin->GetItemsCleaned(), 1u);
    EXPECT_FALSE(valueExists(u"Software\\Foo", u"One"));
    EXPECT_TRUE(appPresent("Foo/a.log"));
}

// [registry] is read again for the clean; [files] comes from the last scan.
TEST_F(TextPlugInfoTest, aCleanRereadsTheRegistrySectionOnly)
{
    appFile("Foo/a.log", 3);
    appFile("Bar/b.log", 3);
    const std::string name = "changing.dct";
    const auto plugin = item(name, "[Info]\nTitle=Changing\n[files]\n%appdata%\\Foo\\*.log\n"
                                   "[registry]\nHKEY_CURRENT_USER|Software\\Foo|One\n");
    plugin->Scan();
    m_plugins.write(name, "[Info]\nTitle=Changed\n[files]\n%appdata%\\Bar\\*.log\n"
                          "[registry]\nHKEY_CURRENT_USER|Software\\Foo|Two\n");
    plugin->Clean();
    EXPECT_EQ(plugin->GetTitle(), u"Changing");
    EXPECT_FALSE(appPresent("Foo/a.log"));
    EXPECT_TRUE(appPresent("Bar/b.log"));
    EXPECT_TRUE(valueExists(u"Software\\Foo", u"One"));
    EXPECT_FALSE(valueExists(u"Software\\Foo", u"Two"));
}

TEST_F(TextPlugInfoTest, anEmptyFileFindsNothing)
{
    appFile("Foo/a.log", 3);
    const auto plugin = item("empty.dct", "");
    EXPECT_EQ(plugin->GetTitle(), u"Error: No title given");
    plugin->Scan();
    EXPECT_EQ(plugin->GetItemsFound(), 0u);
    EXPECT_EQ(plugin->GetBytesFound(), 0u);
    EXPECT_TRUE(fileList(*plugin).empty());
    plugin->Clean();
    EXPECT_EQ(plugin->GetItemsCleaned(), 0u);
    EXPECT_TRUE(appPresent("Foo/a.log"));
}

// Files that are broken in every way a file can be: each finds nothing and changes nothing, and
// the good item scanned between them finds exactly its own files.
TEST_F(TextPlugInfoTest, badFilesNeverAffectAnotherItem)
{
    appFile("Foo/a.log", 3);
    appFile("Foo/sub/b.log", 5);
    appFile("Other/c.log", 7);
    const std::string broken = "[Info\nTitle=Broken\n[files]\n"
                               "\n=\n\\\n/S\n\\*.*/S\n*.log/S\n%appdata%\\Other\\/S\n"
                               "%appdata%\\Other\\ /S\n%nosuchmacro%\\Other\\*.*/S\n"
                               "C:\\" +
                               std::string(300, 'a') + "\\*.*\n" + std::string(100000, '%') +
                               "\n[registry]\n|\n||\nHKEY_CURRENT_USER\nHKEY_CURRENT_USER|\\\n"
                               "HKEY_LOCAL|Software\n\xff\xfe\x01\n[files\n";
    std::vector<std::unique_ptr<TextPlugInfo>> items;
    items.push_back(item("a_empty.dct", ""));
    items.push_back(item("b_binary.dct", binaryBytes()));
    items.push_back(item("c_broken.dct", broken));
    items.push_back(item("d_good.dct", "[Info]\nTitle=Good\n[files]\n%appdata%\\Foo\\*.log/S\n"
                                       "[registry]\nHKEY_CURRENT_USER|Software\\Keep\n"));
    constexpr char withZero[] = "[files]\n%appdata%\\Other\\*.log\0tail\n";
    items.push_back(item("e_nul.dct", std::string(withZero, sizeof withZero - 1)));
    items.push_back(std::make_unique<TextPlugInfo>(fromUtf8(m_plugins.path() + "/missing.dct")));
    items.push_back(std::make_unique<TextPlugInfo>(fromUtf8(m_plugins.path())));

    for (const auto &plugin : items)
        plugin->Scan();
    for (const auto &plugin : items) {
        SCOPED_TRACE(toUtf8(plugin->pluginFile()));
        const bool good = plugin->GetTitle() == u"Good";
        const bool nul = plugin->pluginFile().ends_with(u"e_nul.dct");
        EXPECT_EQ(plugin->GetItemsFound(), good ? 3u : nul ? 1u : 0u);
        EXPECT_EQ(plugin->GetBytesFound(), good ? 3u + 5u + 10u : nul ? 7u : 0u);
    }
    // The line's text ends at its zero character, so the entry still names Other\*.log.
    EXPECT_EQ(fileList(*items[4]), FileList{appPath("Other/c.log")});

    for (std::size_t index = 0; index < items.size(); ++index) {
        if (index != 4)
            items[index]->Clean();
    }
    EXPECT_FALSE(appPresent("Foo/a.log"));
    EXPECT_FALSE(appPresent("Foo/sub"));
    EXPECT_TRUE(appPresent("Other/c.log"));
    EXPECT_FALSE(valueExists(u"Software\\Keep", u"Stay"));
    EXPECT_TRUE(valueExists(u"Software\\Foo", u"One"));
}

// A file of 4 GiB or more is not even read: its item finds and cleans nothing, and the item of
// the next file works as usual. The large file is sparse, so it takes no room.
TEST_F(TextPlugInfoTest, aFileOf4GiBIsSkipped)
{
    appFile("Foo/a.log", 3);
    const std::string content = "[Info]\nTitle=Large\n[files]\n%appdata%\\Foo\\*.log\n";
    const std::string large = m_plugins.write("large.dct", content);
    std::error_code error;
    std::filesystem::resize_file(large, platform::IniFile::sizeLimit, error);
    ASSERT_FALSE(error) << error.message();
    const auto plugin = std::make_unique<TextPlugInfo>(fromUtf8(large));
    const auto next = item("next.dct", content);

    TraceRecorder trace;
    plugin->Scan();
    plugin->Clean();
    EXPECT_TRUE(trace.has({u"Extremely large plug-in file detected", u"large.dct"}));
    EXPECT_EQ(plugin->GetTitle(), u"Error: No title given");
    EXPECT_EQ(plugin->GetItemsFound(), 0u);
    EXPECT_EQ(plugin->GetItemsCleaned(), 0u);
    EXPECT_TRUE(appPresent("Foo/a.log"));

    next->Scan();
    EXPECT_EQ(next->GetItemsFound(), 1u);
}

// A file that goes away after the item was made: the next scan reports nothing, not the last
// scan's counts.
TEST_F(TextPlugInfoTest, aFileThatIsGoneScansNothing)
{
    appFile("Foo/a.log", 3);
    const std::string path = m_plugins.write("gone.dct", "[files]\n%appdata%\\Foo\\*.log\n");
    TextPlugInfo plugin(fromUtf8(path));
    plugin.Scan();
    ASSERT_EQ(plugin.GetItemsFound(), 1u);

    std::filesystem::remove(path);
    TraceRecorder trace;
    plugin.Scan();
    EXPECT_EQ(plugin.GetItemsFound(), 0u);
    EXPECT_EQ(plugin.GetBytesFound(), 0u);
    plugin.Clean();
    EXPECT_EQ(plugin.GetItemsCleaned(), 0u);
    EXPECT_TRUE(appPresent("Foo/a.log"));
    EXPECT_TRUE(trace.has({u"Unable to determine file size. Skipping plugin", u"gone.dct"}));
}

TEST_F(TextPlugInfoTest, aStopRequestEndsTheWork)
{
    appFile("Foo/a.log", 3);
    const auto plugin = item("logs.dct", recursiveOrNotFile);
    plugin->Scan();
    ASSERT_EQ(plugin->GetItemsFound(), 1u);

    RequestStop();
    plugin->Clean();
    plugin->Scan();
    EXPECT_EQ(plugin->GetItemsCleaned(), 0u);
    EXPECT_EQ(plugin->GetItemsFound(), 0u);
    EXPECT_TRUE(appPresent("Foo/a.log"));
}

// The item list ends with one plug-in item per definition file, in name order without regard to
// case; other files of the folder make none.
TEST_F(TextPlugInfoTest, everyDefinitionFileOfTheFolderBecomesAnItem)
{
    HostFolder folder;
    folder.write("b.dct", "[Info]\nTitle=Second\n");
    folder.write("A.DCT", "[Info]\nTitle=First\n");
    folder.write("c.Dct", "[Info]\nTitle=Third\n");
    folder.write("d.txt", "[Info]\nTitle=Not a plug-in\n");
    folder.write("e.dct.bak", "[Info]\nTitle=Not a plug-in either\n");

    const std::vector<std::unique_ptr<PlugInfo>> items =
            CreateCleaningItems(folder.path(), CreateTextPlugInfo);
    std::vector<std::u16string> titles;
    for (const std::unique_ptr<PlugInfo> &entry : items) {
        if (const auto *plugin = dynamic_cast<const TextPlugInfo *>(entry.get()))
            titles.push_back(plugin->GetTitle());
    }
    EXPECT_EQ(titles, (std::vector<std::u16string>{u"First", u"Second", u"Third"}));
    ASSERT_GE(items.size(), 3u);
    EXPECT_EQ(items.back()->GetTitle(), u"Third");
}

} // namespace
