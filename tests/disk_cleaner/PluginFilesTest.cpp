// Checks every plug-in definition file shipped in plug-ins/: it reads, its title leads to the
// catalogue, and what it names stays inside a program's own traces.

#include <disk_cleaner/TitleLinks.h>

#include <platform/IniFile.h>
#include <platform/Text.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

using platform::IniFile;
using platform::toUtf8;

namespace {

const std::u16string missingTitle = u"Error: No title given";

// Titles of the items that are built into the program, not made from plug-in files.
const std::set<std::string> builtInTitles = {
        "Temporary files",          "Recycle Bin",
        "Recent Documents",         "Firefox Cache",
        "Firefox Cookies",          "Firefox History",
        "Internet Explorer Cache",  "Internet Explorer History",
        "Internet Explorer Cookies"};

// Macros an entry may start with.
const std::set<std::u16string> knownMacros = {
        u"%windir%",        u"%sysdir%",          u"%appdata%",
        u"%programfiles%",  u"%desktop%",         u"%commonappdata%",
        u"%commondesktop%", u"%commondocs%",      u"%commonprogramfiles%",
        u"%localappdata%",  u"%localappdatalow%", u"%drive%"};

// Environment variables an entry may start with, folded.
const std::set<std::u16string> knownVariables = {
        u"%temp%",        u"%tmp%",         u"%userprofile%",        u"%allusersprofile%",
        u"%programdata%", u"%systemroot%",  u"%commonprogramfiles%", u"%localappdata%",
        u"%appdata%",     u"%programfiles%"};

// Macros that lead to the user's own documents and desktop: shipped files leave them alone.
const std::set<std::u16string> documentMacros = {u"%desktop%", u"%commondesktop%", u"%commondocs%"};

// A recursive entry must walk a folder that holds traces only: some folder below its macro
// carries one of these words in its name.
const std::vector<std::u16string> traceFolderWords = {
        u"cache",    u"temp", u"tmp",    u"log",     u"histor",
        u"download", u"dump", u"report", u"session", u"sharedobjects"};

struct PluginFile
{
    std::string fileName;
    IniFile ini;
};

std::vector<PluginFile> shippedPlugins()
{
    std::vector<PluginFile> plugins;
    std::error_code error;
    for (std::filesystem::directory_iterator it(NIMBRA_PLUGINS_SOURCE_DIR, error), end;
         !error && it != end; it.increment(error)) {
        if (it->path().extension() == ".dct")
            plugins.push_back({it->path().filename().string(), IniFile::load(it->path().string())});
    }
    std::sort(plugins.begin(), plugins.end(),
              [](const PluginFile &a, const PluginFile &b) { return a.fileName < b.fileName; });
    return plugins;
}

const std::vector<PluginFile> &plugins()
{
    static const std::vector<PluginFile> all = shippedPlugins();
    return all;
}

// The title as the cleaning item reads it: a buffer of 261 characters and a default.
std::u16string titleOf(const IniFile &ini)
{
    return ini.string(u"Info", u"Title", missingTitle, 261);
}

std::vector<std::u16string> split(std::u16string_view text, char16_t separator)
{
    std::vector<std::u16string> parts;
    std::size_t start = 0;
    while (true) {
        const std::size_t end = text.find(separator, start);
        parts.emplace_back(
                text.substr(start, end == std::u16string_view::npos ? end : end - start));
        if (end == std::u16string_view::npos)
            return parts;
        start = end + 1;
    }
}

bool onlyWildcards(std::u16string_view pattern)
{
    return pattern.find_first_not_of(u"*?.") == std::u16string_view::npos;
}

// --- The folder and its titles --------------------------------------------------------------

TEST(PluginFiles, AreFoundWithReadableNames)
{
    ASSERT_FALSE(plugins().empty()) << "no plug-in files in " << NIMBRA_PLUGINS_SOURCE_DIR;
    for (const PluginFile &plugin : plugins()) {
        const std::string stem = plugin.fileName.substr(0, plugin.fileName.size() - 4);
        EXPECT_EQ(stem.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789_"),
                  std::string::npos)
                << plugin.fileName;
    }
}

TEST(PluginFiles, ParseWithAnInfoSectionAndADescription)
{
    for (const PluginFile &plugin : plugins()) {
        SCOPED_TRACE(plugin.fileName);
        const IniFile &ini = plugin.ini;
        EXPECT_EQ(ini.status(), IniFile::LoadStatus::Loaded);
        EXPECT_TRUE(ini.hasSection(u"Info"));
        const std::u16string description = ini.string(u"Info", u"Description", u"", 261);
        EXPECT_GT(description.size(), 20U);
        EXPECT_EQ(description.back(), u'.');
        if (const auto process = ini.value(u"Info", u"Process")) {
            EXPECT_GT(process->size(), 4U);
            EXPECT_TRUE(platform::equalsIgnoreCase(
                    std::u16string_view(*process).substr(process->size() - 4), u".exe"));
            EXPECT_FALSE(ini.string(u"Info", u"Application", u"", 261).empty());
        }
        EXPECT_FALSE(ini.section(u"files").empty() && ini.section(u"registry").empty())
                << "names nothing to clean";
    }
}

TEST(PluginFiles, TitlesAreLinkedAndNeverBuiltIn)
{
    int untitled = 0;
    for (const PluginFile &plugin : plugins()) {
        SCOPED_TRACE(plugin.fileName);
        const std::optional<std::u16string> title = plugin.ini.value(u"Info", u"Title");
        if (!title) {
            ++untitled;
            continue;
        }
        EXPECT_NE(*title, missingTitle) << "write no Title key instead";
        EXPECT_STRNE(diskcleaner::displayTextForTitle(titleOf(plugin.ini)), "");
        EXPECT_EQ(builtInTitles.count(toUtf8(*title)), 0U);
    }
    EXPECT_EQ(untitled, 1);
}

TEST(PluginFiles, EveryLinkedTitleButTheBuiltInOnesHasExactlyOneFile)
{
    std::map<std::string, std::vector<std::string>> filesByTitle;
    for (const PluginFile &plugin : plugins())
        filesByTitle[toUtf8(titleOf(plugin.ini))].push_back(plugin.fileName);
    for (const diskcleaner::TitleLink &link : diskcleaner::TitleLinks) {
        const std::size_t expected = builtInTitles.count(link.title) ? 0 : 1;
        EXPECT_EQ(filesByTitle[link.title].size(), expected) << link.title;
    }
}

// --- [registry] -----------------------------------------------------------------------------

TEST(PluginFiles, RegistryLinesNameAFullHiveAndANarrowKey)
{
    for (const PluginFile &plugin : plugins()) {
        for (const std::u16string &line : plugin.ini.section(u"registry")) {
            SCOPED_TRACE(plugin.fileName + ": " + toUtf8(line));
            const std::vector<std::u16string> parts = split(line, u'|');
            ASSERT_TRUE(parts.size() == 2 || parts.size() == 3);
            const std::u16string &hive = parts[0];
            const std::u16string &key = parts[1];
            EXPECT_TRUE(hive == u"HKEY_CURRENT_USER" || hive == u"HKEY_LOCAL_MACHINE");
            ASSERT_FALSE(key.empty());
            const std::vector<std::u16string> components = split(key, u'\\');
            for (const std::u16string &component : components)
                EXPECT_FALSE(component.empty()) << "empty key name";
            if (parts.size() == 2) {
                // A whole key goes with all its subkeys: only a user's own lists, never a
                // vendor's or a product's whole branch.
                EXPECT_EQ(hive, u"HKEY_CURRENT_USER");
                EXPECT_GE(components.size(), 3U);
            }
        }
    }
}

// --- [files] --------------------------------------------------------------------------------

TEST(PluginFiles, FileEntriesStayInsideAProgramsOwnTraces)
{
    for (const PluginFile &plugin : plugins()) {
        for (const std::u16string &line : plugin.ini.section(u"files")) {
            SCOPED_TRACE(plugin.fileName + ": " + toUtf8(line));

            // Options: "/S", "/SF", "/SI" or "/SO", in any case, one after another.
            const std::size_t slash = line.find(u'/');
            const std::u16string entry = line.substr(0, slash);
            bool recursive = false;
            if (slash != std::u16string::npos) {
                for (const std::u16string &option : split(line.substr(slash + 1), u'/')) {
                    const std::u16string folded = platform::foldCase(option);
                    EXPECT_TRUE(folded == u"s" || folded == u"sf" || folded == u"si" ||
                                folded == u"so")
                            << "unknown option /" << toUtf8(option);
                    recursive = true;
                }
            }

            // Windows ignores blanks at the end of a pattern; these files never rely on it.
            ASSERT_FALSE(entry.empty());
            EXPECT_NE(entry.back(), u' ');

            // A known macro or environment reference first.
            ASSERT_EQ(entry.front(), u'%');
            const std::size_t close = entry.find(u'%', 1);
            ASSERT_NE(close, std::u16string::npos);
            const std::u16string token = platform::foldCase(entry.substr(0, close + 1));
            EXPECT_TRUE(knownMacros.count(token) || knownVariables.count(token))
                    << "unknown macro " << toUtf8(token);
            EXPECT_EQ(documentMacros.count(token), 0U) << "reaches the user's documents";

            // Then "\", folders, "\" and one pattern (the drive macro brings its own "\").
            std::u16string rest = entry.substr(close + 1);
            if (token != u"%drive%") {
                ASSERT_FALSE(rest.empty());
                EXPECT_EQ(rest.front(), u'\\');
                rest.erase(0, 1);
            }
            std::vector<std::u16string> components = split(rest, u'\\');
            const std::u16string pattern = components.back();
            components.pop_back();
            EXPECT_FALSE(pattern.empty()) << "no pattern";
            EXPECT_EQ(pattern.find(u':'), std::u16string::npos);
            for (const std::u16string &folder : components) {
                EXPECT_FALSE(folder.empty()) << "empty folder name";
                EXPECT_NE(folder, u".");
                EXPECT_NE(folder, u"..");
                EXPECT_EQ(folder.find_first_of(u"*?:"), std::u16string::npos);
            }

            if (components.empty()) {
                EXPECT_FALSE(recursive) << "walks a whole macro folder";
                EXPECT_FALSE(onlyWildcards(pattern)) << "empties a whole macro folder";
            }
            if (recursive) {
                const bool traceFolder =
                        std::any_of(components.begin(), components.end(), [](const auto &folder) {
                            const std::u16string name = platform::foldCase(folder);
                            return std::any_of(traceFolderWords.begin(), traceFolderWords.end(),
                                               [&](const std::u16string &word) {
                                                   return name.find(word) != std::u16string::npos;
                                               });
                        });
                EXPECT_TRUE(traceFolder) << "walks a folder that is no cache, log or temp folder";
            }
        }
    }
}

} // namespace
