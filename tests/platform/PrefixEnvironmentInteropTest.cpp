// Compares the environment and the special folders read from a prefix that Wine's own wineboot
// made with what Windows programs started by Wine in that prefix print. The prefix is made once
// for the program, or copied from NIMBRA_WINE_PREFIX when the test run made one already.

#include "PrefixEnvironment.h"
#include "PrefixRegistry.h"
#include "PrefixShellFolders.h"

#include <platform/FileSystem.h>
#include <platform/Machine.h>
#include <platform/PrefixMachine.h>
#include <platform/Text.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>

namespace fs = std::filesystem;
using namespace platform;

namespace {

// The special folders a Windows script asks the shell for, by CSIDL number.
constexpr int askedFolders[] = {7, 8, 16, 20, 24, 25, 26, 28, 35, 36, 37, 38, 40, 41, 42, 43, 46};

constexpr std::string_view folderScript = R"js(var shell = new ActiveXObject("Shell.Application");
var ids = [7, 8, 16, 20, 24, 25, 26, 28, 35, 36, 37, 38, 40, 41, 42, 43, 46];
for (var i = 0; i < ids.length; i++) {
    var folder = shell.NameSpace(ids[i]);
    WScript.Echo(ids[i] + "=" + (folder ? folder.Self.Path : ""));
}
)js";

std::string shellQuoted(const std::string &text)
{
    std::string result = "'";
    for (const char character : text)
        result += character == '\'' ? std::string("'\\''") : std::string(1, character);
    return result + "'";
}

bool onPath(const std::string &program)
{
    return std::system(("command -v " + program + " >/dev/null 2>&1").c_str()) == 0;
}

std::string readText(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// "name=value" lines, with Windows line ends, as a map.
std::map<std::string, std::string> assignments(const std::string &text)
{
    std::map<std::string, std::string> values;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        const std::size_t equals = line.find('=');
        if (equals != std::string::npos && equals > 0)
            values.emplace(line.substr(0, equals), line.substr(equals + 1));
    }
    return values;
}

// One prefix for the whole program: wineboot takes a while.
class WinePrefixInterop : public testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        if (!onPath("wine") || !onPath("wineboot") || !onPath("wineserver")) {
            s_skipReason = "Wine is not installed";
            return;
        }
        std::string pattern = (fs::temp_directory_path() / "nimbra-env-interop-XXXXXX").string();
        if (!::mkdtemp(pattern.data())) {
            s_failure = "cannot make a temporary folder";
            return;
        }
        s_folder = pattern;
        s_prefix = s_folder + "/prefix";
        const std::string wine =
                "env -u DISPLAY -u WAYLAND_DISPLAY WINEPREFIX=" + shellQuoted(s_prefix) +
                " WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml=' ";
        if (!makePrefix(wine)) {
            s_failure = "wineboot could not make a prefix";
            return;
        }
        std::ofstream(s_prefix + "/drive_c/folders.js") << folderScript;
        const int setStatus = std::system(
                (wine + "wine cmd /c set >" + shellQuoted(s_folder + "/set.txt") + " 2>/dev/null")
                        .c_str());
        const int scriptStatus =
                std::system((wine + "wine cscript //nologo 'C:\\folders.js' >" +
                             shellQuoted(s_folder + "/folders.txt") + " 2>/dev/null")
                                    .c_str());
        // Wait for the server to write the registry and go, so that the prefix is at rest.
        const int serverStatus = std::system((wine + "wineserver -w").c_str());
        if (setStatus != 0 || scriptStatus != 0 || serverStatus != 0)
            s_failure = "Wine could not run cmd and cscript in the prefix";
    }

    // A prefix made by wineboot at s_prefix: a copy of the one the test run made, when it names
    // one in NIMBRA_WINE_PREFIX, otherwise a new one. The copy shares Windows' files through hard
    // links but has registry files of its own, since Wine rewrites a file with several names in
    // place; Debian's server pointer is left out, so the copy gets a server of its own.
    static bool makePrefix(const std::string &wine)
    {
        const char *original = std::getenv("NIMBRA_WINE_PREFIX");
        if (original && fs::exists(fs::path(original) / "system.reg")) {
            const std::string from = shellQuoted(original);
            const std::string to = shellQuoted(s_prefix);
            return std::system(("cp -al " + from + " " + to + " && rm -f " + to +
                                "/wineserver && for file in system.reg user.reg userdef.reg; do "
                                "cp --remove-destination " +
                                from + "/$file " + to + "/$file || exit 1; done")
                                       .c_str()) == 0;
        }
        return std::system((wine + "wineboot -i >/dev/null 2>&1").c_str()) == 0 &&
               std::system((wine + "wineserver -w").c_str()) == 0;
    }

    static void TearDownTestSuite()
    {
        std::error_code ignored;
        if (!s_folder.empty())
            fs::remove_all(s_folder, ignored);
    }

    void SetUp() override
    {
        if (!s_skipReason.empty())
            GTEST_SKIP() << s_skipReason;
        ASSERT_TRUE(s_failure.empty()) << s_failure;
        std::string error;
        m_machine = openPrefixMachine(s_prefix, &error);
        ASSERT_NE(m_machine, nullptr) << error;
        m_registry = openPrefixRegistry(s_prefix);
        m_environment = openPrefixEnvironment(*m_registry, m_machine->userName());
        m_shellFolders = openPrefixShellFolders(*m_registry, *m_environment, m_machine->userName());
    }

    static inline std::string s_folder;
    static inline std::string s_prefix;
    static inline std::string s_skipReason;
    static inline std::string s_failure;

    std::unique_ptr<Machine> m_machine;
    std::unique_ptr<Registry> m_registry;
    std::unique_ptr<Environment> m_environment;
    std::unique_ptr<ShellFolders> m_shellFolders;
};

TEST_F(WinePrefixInterop, EnvironmentMatchesWhatCmdPrints)
{
    const std::map<std::string, std::string> printed = assignments(readText(s_folder + "/set.txt"));
    ASSERT_FALSE(printed.empty());
    for (const char *name : {"USERPROFILE",
                             "APPDATA",
                             "LOCALAPPDATA",
                             "TEMP",
                             "TMP",
                             "ProgramFiles",
                             "ProgramFiles(x86)",
                             "ProgramW6432",
                             "CommonProgramFiles",
                             "CommonProgramFiles(x86)",
                             "CommonProgramW6432",
                             "ProgramData",
                             "ALLUSERSPROFILE",
                             "PUBLIC",
                             "SystemRoot",
                             "windir",
                             "SystemDrive",
                             "COMPUTERNAME",
                             "USERNAME",
                             "PATH",
                             "ComSpec",
                             "HOMEDRIVE",
                             "HOMEPATH",
                             "LOGONSERVER",
                             "USERDOMAIN",
                             "OS",
                             "PATHEXT",
                             "winsysdir",
                             "NUMBER_OF_PROCESSORS",
                             "PROCESSOR_ARCHITECTURE",
                             "CLIENTNAME",
                             "SESSIONNAME"}) {
        const auto found = printed.find(name);
        ASSERT_NE(found, printed.end()) << name << " is missing from Wine's environment";
        EXPECT_EQ(m_environment->get(fromUtf8(name)), fromUtf8(found->second)) << name;
    }
    // Host variables that Wine keeps from Windows programs.
    for (const char *name : {"HOME", "PWD", "WINEPATH"}) {
        EXPECT_EQ(printed.count(name), 0u) << name;
        EXPECT_EQ(m_environment->get(fromUtf8(name)), std::nullopt) << name;
    }
}

TEST_F(WinePrefixInterop, SpecialFoldersMatchWhatTheShellReports)
{
    const std::map<std::string, std::string> reported =
            assignments(readText(s_folder + "/folders.txt"));
    for (const int id : askedFolders) {
        const auto found = reported.find(std::to_string(id));
        ASSERT_NE(found, reported.end()) << "CSIDL " << id << " is missing from Wine's answer";
        EXPECT_EQ(m_shellFolders->folder(id), fromUtf8(found->second)) << "CSIDL " << id;
    }
    EXPECT_EQ(m_shellFolders->windowsDirectory(), fromUtf8(reported.at("36")));
    EXPECT_EQ(m_shellFolders->systemDirectory(), fromUtf8(reported.at("37")));
}

TEST_F(WinePrefixInterop, LocalAppDataLowIsTheFolderWineMade)
{
    const std::optional<std::u16string> folder =
            m_shellFolders->knownFolder(folderIdLocalAppDataLow);
    ASSERT_TRUE(folder.has_value());
    const std::optional<DirectoryEntry> entry = m_machine->fileSystem().entry(*folder);
    ASSERT_TRUE(entry.has_value()) << toUtf8(*folder);
    EXPECT_TRUE(entry->isDirectory());
    EXPECT_EQ(folder, *m_environment->get(u"USERPROFILE") + u"\\AppData\\LocalLow");
}

} // namespace
