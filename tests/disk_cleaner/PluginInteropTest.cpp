// Every plug-in file shipped in plug-ins/, scanned on a prefix that Wine's own wineboot made: each
// [files] entry resolves to a folder there, and the safety net lets every entry through. Scans
// change nothing, so the prefix of the test run (NIMBRA_WINE_PREFIX) is used as it is.

#include "PluginTestSupport.h"

#include <disk_cleaner/SafetyNet.h>
#include <disk_cleaner/StopRequest.h>
#include <disk_cleaner/TextPlugInfo.h>

#include <platform/IniFile.h>
#include <platform/Machine.h>
#include <platform/PrefixMachine.h>
#include <platform/Text.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

using namespace diskcleaner;
using platform::fromUtf8;
using platform::toUtf8;
using plugintest::HostFolder;
using plugintest::TraceRecorder;

namespace {

class ShippedPluginsOnWinePrefix : public testing::Test
{
protected:
    void SetUp() override
    {
        const char *prefix = std::getenv("NIMBRA_WINE_PREFIX");
        std::error_code error;
        if (!prefix ||
            !std::filesystem::exists(std::filesystem::path(prefix) / "system.reg", error))
            GTEST_SKIP() << "NIMBRA_WINE_PREFIX names no prefix made by wineboot";
        std::string message;
        std::unique_ptr<platform::Machine> machine = platform::openPrefixMachine(prefix, &message);
        ASSERT_TRUE(machine) << message;
        platform::Machine::install(std::move(machine));
        ClearStopRequest();
    }

    void TearDown() override { platform::Machine::install(nullptr); }

    static std::vector<std::string> shippedFiles()
    {
        std::vector<std::string> files;
        std::error_code error;
        for (std::filesystem::directory_iterator it(NIMBRA_PLUGINS_SOURCE_DIR, error), end;
             !error && it != end; it.increment(error)) {
            if (it->path().extension() == ".dct")
                files.push_back(it->path().string());
        }
        std::sort(files.begin(), files.end());
        return files;
    }
};

// The net is not idle on this prefix: it knows Wine's folders and stops walks of them.
TEST_F(ShippedPluginsOnWinePrefix, theSafetyNetGuardsWinesFolders)
{
    const SafetyNet net = SafetyNet::forCurrentMachine();
    std::vector<std::u16string> guarded;
    for (const SafetyNet::GuardedFolder &folder : net.guardedFolders())
        guarded.push_back(platform::foldCase(folder.path));
    for (const std::u16string folder :
         {u"c:\\", u"c:\\windows", u"c:\\windows\\system32", u"c:\\program files", u"c:\\users"})
        EXPECT_NE(std::find(guarded.begin(), guarded.end(), folder), guarded.end())
                << toUtf8(folder);

    HostFolder plugins;
    TextPlugInfo item(fromUtf8(plugins.write("guarded.dct", "[files]\n"
                                                            "%windir%\\*.*/S\n"
                                                            "%sysdir%\\*.*/S\n"
                                                            "%programfiles%\\*.*/S\n"
                                                            "%USERPROFILE%\\*.*/S\n"
                                                            "%appdata%\\..\\..\\*.*/S\n"
                                                            "%drive%*.*/S\n")));
    TraceRecorder trace;
    item.Scan();
    for (const std::u16string_view why :
         {u"the Windows folder", u"the system folder", u"a program files folder",
          u"a user's profile folder", u"the root of drive C:"})
        EXPECT_TRUE(trace.has({u"not walking", why})) << toUtf8(why);
    EXPECT_EQ(item.GetItemsFound(), 0u);
}

TEST_F(ShippedPluginsOnWinePrefix, everyFilesEntryResolvesAndPassesTheSafetyNet)
{
    const std::vector<std::string> files = shippedFiles();
    ASSERT_FALSE(files.empty());
    for (const std::string &file : files) {
        SCOPED_TRACE(file);
        const platform::IniFile ini = platform::IniFile::load(file);
        const std::vector<std::u16string> lines = ini.section(u"files");

        TextPlugInfo item(fromUtf8(file));
        TraceRecorder trace;
        item.Scan();
        EXPECT_GE(item.folderList().size(), lines.size()) << "an entry resolved to no folder";
        for (const std::u16string &entry : item.folderList()) {
            std::u16string text = entry;
            const ScanOptions options = GetScanOptions(text);
            EXPECT_TRUE(text.size() > 3 && text[1] == u':' && text[2] == u'\\')
                    << "not a complete path: " << toUtf8(entry);
            if (options.Recursive) {
                EXPECT_FALSE(trace.has({u"not walking", text.substr(0, text.rfind(u'\\') + 1)}))
                        << toUtf8(entry);
            }
        }
        EXPECT_FALSE(trace.has({u"not walking"}));
        EXPECT_FALSE(trace.has({u"skipping"}));
    }
}

} // namespace
