// The URL cache of a prefix against Wine's own WinINet. UrlCacheFill.exe adds cache, cookie and
// history entries in a prefix that wineboot made; UrlCacheList.exe lists the cache through
// WinINet, and UrlCacheDelete.exe deletes entries through it. The prefix is made once for the
// program (or copied from NIMBRA_WINE_PREFIX when the test run made one already); every test
// starts from the cache as UrlCacheFill.exe left it.

#include "PrefixFileSystem.h"
#include "PrefixUrlCache.h"
#include "RegistryServerGuard.h"

#include <platform/Text.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

namespace fs = std::filesystem;
using namespace platform;

namespace {

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

// Runs a shell command; its standard output as lines without line ends, and whether it exited 0.
std::pair<std::vector<std::string>, bool> run(const std::string &command)
{
    std::vector<std::string> lines;
    FILE *pipe = ::popen(command.c_str(), "r");
    if (!pipe)
        return {lines, false};
    std::string output;
    char buffer[4096];
    while (const std::size_t count = std::fread(buffer, 1, sizeof buffer, pipe))
        output.append(buffer, count);
    const int status = ::pclose(pipe);
    std::istringstream stream(output);
    std::string line;
    while (std::getline(stream, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
    }
    return {lines, status == 0};
}

std::vector<std::uint8_t> readBytes(const fs::path &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in),
                                     std::istreambuf_iterator<char>());
}

// Every file and folder below a folder, relative to it.
std::set<std::string> treeOf(const fs::path &folder)
{
    std::set<std::string> tree;
    std::error_code error;
    for (auto it = fs::recursive_directory_iterator(folder, error);
         !error && it != fs::recursive_directory_iterator(); it.increment(error))
        tree.insert(fs::relative(it->path(), folder).string());
    return tree;
}

const char *const containerFolders[] = {"INetCache", "INetCookies", "History"};
constexpr UrlCacheContainer containers[] = {UrlCacheContainer::Content, UrlCacheContainer::Cookies,
                                            UrlCacheContainer::History};

// One entry as UrlCacheList.exe prints it: type, size, URL and local file, separated by tabs.
std::string line(const UrlCacheEntry &entry)
{
    char type[16];
    std::snprintf(type, sizeof type, "%08x", entry.type);
    return std::string(type) + "\t" + std::to_string(entry.size) + "\t" + toUtf8(entry.sourceUrl) +
           "\t" + toUtf8(entry.localFile);
}

std::string urlOf(const std::string &listed)
{
    const std::size_t first = listed.find('\t');
    const std::size_t second = listed.find('\t', first + 1);
    return listed.substr(second + 1, listed.find('\t', second + 1) - second - 1);
}

class UrlCacheInterop : public testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        if (!onPath("wine") || !onPath("wineboot") || !onPath("wineserver")) {
            s_skipReason = "Wine is not installed";
            return;
        }
        std::string pattern =
                (fs::temp_directory_path() / "nimbra-urlcache-interop-XXXXXX").string();
        if (!::mkdtemp(pattern.data())) {
            s_failure = "cannot make a temporary folder";
            return;
        }
        s_folder = pattern;
        s_prefix = s_folder + "/prefix";
        if (!makePrefix()) {
            s_failure = "wineboot could not make a prefix";
            return;
        }
        const auto [added, filled] = wine("UrlCacheFill.exe");
        if (!filled || !waitForWine()) {
            s_failure = "UrlCacheFill.exe failed under wine";
            return;
        }
        for (const std::string &entry : added) {
            const std::size_t tab = entry.find('\t');
            if (tab != std::string::npos)
                s_added.emplace(entry.substr(tab + 1),
                                std::stoul(entry.substr(0, tab), nullptr, 16));
        }
        // The history URLs read "Visited: <user>@<page>".
        for (const auto &[url, type] : s_added) {
            if (url.starts_with("Visited: "))
                s_user = url.substr(9, url.find('@') - 9);
        }
        if (s_added.size() != 10 || s_user.empty()) {
            s_failure = "UrlCacheFill.exe did not report its entries";
            return;
        }
        // cp -a keeps the files' times: WinINet deletes a cached file only while its time is the
        // one it stored.
        std::string command = "mkdir " + shellQuoted(s_folder + "/filled");
        for (const char *name : containerFolders)
            command += " && cp -a " + shellQuoted((windowsFolder() / name).string()) + " " +
                       shellQuoted(s_folder + "/filled/");
        if (std::system(command.c_str()) != 0)
            s_failure = "cannot keep a copy of the filled cache";
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
        restoreFilledCache();
    }

    // A prefix made by wineboot: a copy of the one the test run made, sharing Windows' files
    // through hard links but with registry files of its own (Wine rewrites a file with several
    // names in place), and without Debian's server pointer, so that it gets a server of its own.
    static bool makePrefix()
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
        return std::system((wineEnvironment() + "wineboot -i >/dev/null 2>&1").c_str()) == 0 &&
               waitForWine();
    }

    static std::string wineEnvironment()
    {
        return "env -u DISPLAY -u WAYLAND_DISPLAY WINEPREFIX=" + shellQuoted(s_prefix) +
               " WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml=' ";
    }

    // Runs one of the test's Windows programs in the prefix.
    static std::pair<std::vector<std::string>, bool>
    wine(const std::string &program, const std::vector<std::string> &arguments = {})
    {
        std::string command = wineEnvironment() + "wine " +
                              shellQuoted(std::string(NIMBRA_WININET_PROGRAMS) + "/" + program);
        for (const std::string &argument : arguments)
            command += " " + shellQuoted(argument);
        return run(command + " 2>/dev/null");
    }

    // Waits until the prefix's Wine server has gone, so that the prefix is at rest.
    static bool waitForWine()
    {
        return std::system((wineEnvironment() + "wineserver -w").c_str()) == 0;
    }

    static fs::path windowsFolder()
    {
        return fs::path(s_prefix) / "drive_c/users" / s_user / "AppData/Local/Microsoft/Windows";
    }

    static void restoreFilledCache()
    {
        std::string command;
        for (const char *name : containerFolders) {
            const std::string folder = shellQuoted((windowsFolder() / name).string());
            command += "rm -rf " + folder + " && cp -a " +
                       shellQuoted(s_folder + "/filled/" + name) + " " + folder + " && ";
        }
        ASSERT_EQ(std::system((command + "true").c_str()), 0);
    }

    // What WinINet lists, sorted.
    static std::vector<std::string> wineListing()
    {
        auto [lines, listed] = wine("UrlCacheList.exe");
        EXPECT_TRUE(listed && waitForWine()) << "UrlCacheList.exe failed under wine";
        std::sort(lines.begin(), lines.end());
        return lines;
    }

    // What our cache lists in all containers, sorted, in UrlCacheList.exe's form.
    static std::vector<std::string> ourListing(const UrlCache &cache)
    {
        std::vector<std::string> lines;
        for (UrlCacheContainer container : containers)
            for (const UrlCacheEntry &entry : cache.entries(container))
                lines.push_back(line(entry));
        std::sort(lines.begin(), lines.end());
        return lines;
    }

    static std::map<std::string, std::vector<std::uint8_t>> indexes()
    {
        std::map<std::string, std::vector<std::uint8_t>> files;
        const PrefixUrlCache cache = openCache();
        for (UrlCacheContainer container : containers) {
            const std::string folder = toUtf8(cache.containerFolder(container));
            files[folder] = readBytes(
                    PrefixFileSystem(s_prefix).hostPath(fromUtf8(folder + "\\index.dat")));
        }
        return files;
    }

    static std::set<std::string> cacheTree()
    {
        std::set<std::string> tree;
        for (const char *name : containerFolders)
            for (const std::string &path : treeOf(windowsFolder() / name))
                tree.insert(std::string(name) + "/" + path);
        return tree;
    }

    // The cache with the guard the program uses: changes only while no Wine server runs.
    static PrefixUrlCache openCache()
    {
        static const PrefixFileSystem fileSystem(s_prefix);
        const RegistryServerGuard guard(s_prefix);
        return PrefixUrlCache(fileSystem,
                              UrlCacheFolders::inProfile(fromUtf8("C:\\users\\" + s_user)),
                              [guard] { return guard.runningServer() != 0; });
    }

    static UrlCacheContainer containerOf(const std::string &url)
    {
        if (url.starts_with("Cookie:"))
            return UrlCacheContainer::Cookies;
        if (url.starts_with("Visited:"))
            return UrlCacheContainer::History;
        return UrlCacheContainer::Content;
    }

    static inline std::string s_skipReason;
    static inline std::string s_failure;
    static inline std::string s_folder;
    static inline std::string s_prefix;
    static inline std::string s_user;
    static inline std::map<std::string, std::uint32_t> s_added; // URL to type
};

TEST_F(UrlCacheInterop, ListsWhatWinInetLists)
{
    const std::vector<std::string> listed = ourListing(openCache());
    EXPECT_EQ(listed, wineListing());

    std::map<std::string, std::uint32_t> found;
    for (UrlCacheContainer container : containers)
        for (const UrlCacheEntry &entry : openCache().entries(container))
            found.emplace(toUtf8(entry.sourceUrl), entry.type);
    EXPECT_EQ(found, s_added);
}

// The entries Wine deletes through DeleteUrlCacheEntryW and the ones we delete leave the same
// bytes in every index and the same files; WinINet then lists the rest and goes on adding.
TEST_F(UrlCacheInterop, DeletesAsWinInetDeletes)
{
    const std::vector<std::string> doomed = {
            "http://example.com/a/page.html",
            "http://example.com/sticky.png",
            "http://example.net/caf\u00e9/men\u00fc.html",
            "Cookie:" + s_user + "@example.com/",
            "Visited: " + s_user + "@http://example.org/",
    };
    const std::vector<std::string> before = wineListing();

    const auto [report, deleted] = wine("UrlCacheDelete.exe", doomed);
    ASSERT_TRUE(deleted && waitForWine()) << "UrlCacheDelete.exe failed under wine";
    const auto wineIndexes = indexes();
    const std::set<std::string> wineTree = cacheTree();
    restoreFilledCache();

    const PrefixUrlCache cache = openCache();
    for (const std::string &url : doomed)
        EXPECT_TRUE(cache.deleteEntry(containerOf(url), fromUtf8(url))) << url;
    EXPECT_EQ(indexes(), wineIndexes);
    EXPECT_EQ(cacheTree(), wineTree);

    std::vector<std::string> kept;
    for (const std::string &entry : before) {
        if (std::find(doomed.begin(), doomed.end(), urlOf(entry)) == doomed.end())
            kept.push_back(entry);
    }
    EXPECT_EQ(wineListing(), kept);
    EXPECT_EQ(ourListing(cache), kept);

    // WinINet takes the index as its own and adds to it again.
    ASSERT_TRUE(wine("UrlCacheFill.exe").second && waitForWine());
    std::set<std::string> urls;
    for (const std::string &entry : wineListing())
        urls.insert(urlOf(entry));
    for (const auto &[url, type] : s_added)
        EXPECT_TRUE(urls.count(url)) << url;
    EXPECT_EQ(ourListing(cache), wineListing());
}

TEST_F(UrlCacheInterop, ClearedHistoryIsEmptyForWinInet)
{
    const PrefixUrlCache cache = openCache();
    const UrlCacheCleared cleared = cache.clearHistory();
    EXPECT_EQ(cleared.entriesRemoved, 3u);
    EXPECT_TRUE(cleared.complete);

    for (const std::string &entry : ourListing(cache))
        EXPECT_FALSE(urlOf(entry).starts_with("Visited:")) << entry;
    const std::vector<std::string> listed = wineListing();
    EXPECT_EQ(listed.size(), s_added.size() - 3);
    EXPECT_EQ(listed, ourListing(cache));
}

TEST_F(UrlCacheInterop, NothingChangesWhileWineRuns)
{
    const auto before = indexes();
    const std::set<std::string> tree = cacheTree();
    ASSERT_EQ(std::system((wineEnvironment() + "wineserver -p30").c_str()), 0);
    const PrefixUrlCache cache = openCache();
    EXPECT_FALSE(cache.deleteEntry(UrlCacheContainer::Content, u"http://example.com/a/page.html"));
    const UrlCacheCleared cleared = cache.clearHistory();
    EXPECT_FALSE(cleared.complete);
    EXPECT_EQ(cleared.entriesRemoved, 0u);
    EXPECT_EQ(ourListing(cache).size(), s_added.size());
    std::system((wineEnvironment() + "wineserver -k").c_str());
    waitForWine();
    EXPECT_EQ(indexes(), before);
    EXPECT_EQ(cacheTree(), tree);
}

} // namespace
