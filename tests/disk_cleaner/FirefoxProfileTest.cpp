// The Firefox profile location, the cache item and the cookie item on small test prefixes.
#include "FirefoxTestSupport.h"

#include <disk_cleaner/firefox_cache.h>
#include <disk_cleaner/firefox_cookies.h>
#include <disk_cleaner/firefox_history.h>

#include <algorithm>
#include <memory>
#include <ostream>
#include <vector>

using namespace diskcleaner;
using namespace firefoxtest;

namespace {

std::vector<std::u16string> sorted(std::vector<std::u16string> texts)
{
    std::sort(texts.begin(), texts.end());
    return texts;
}

// ---------------------------------------------------------------------------------------------
// Where the profile is found.

struct LocationCase
{
    const char *name;
    const char *profilesIni; // nullptr: no profiles.ini at all
    bool located;
    // Below drive_c with '/'; "<roaming>" and "<local>" stand for the two Firefox folders.
    const char *profileFolder;
    const char *localFolder;
};

class ProfileLocationTest : public FirefoxTest, public ::testing::WithParamInterface<LocationCase>
{
protected:
    std::u16string expand(std::string text) const
    {
        const std::string roaming = "<roaming>", local = "<local>";
        if (text.starts_with(roaming))
            text = roamingFirefox() + text.substr(roaming.size());
        else if (text.starts_with(local))
            text = localFirefox() + text.substr(local.size());
        return windowsPath(text);
    }
};

TEST_P(ProfileLocationTest, ReadsTheFirstProfile)
{
    const LocationCase &test = GetParam();
    if (test.profilesIni)
        writeProfiles(test.profilesIni);
    const firefox_cookies item;
    const FirefoxProfileLocation &location = firefox_base::ProfileLocation();
    EXPECT_EQ(location.located, test.located);
    if (!test.located)
        return;
    EXPECT_EQ(location.profileFolder, expand(test.profileFolder));
    EXPECT_EQ(location.localFolder, expand(test.localFolder));
}

// Test names show the row's name.
void PrintTo(const LocationCase &row, std::ostream *out)
{
    *out << row.name;
}

const LocationCase locationCases[] = {
        {"Relative", "[Profile0]\nPath=Profiles/abc.default\nIsRelative=1\n", true,
         "<roaming>/Profiles/abc.default", "<local>/Profiles/abc.default"},
        {"RelativeWithBackslashes", "[Profile0]\r\nPath=Profiles\\abc.default\r\nIsRelative=1\r\n",
         true, "<roaming>/Profiles/abc.default", "<local>/Profiles/abc.default"},
        {"RelativeWithTrailingSlash", "[Profile0]\nPath=Profiles/abc.default/\nIsRelative=1\n",
         true, "<roaming>/Profiles/abc.default", "<local>/Profiles/abc.default"},
        // The local folder of an absolute profile is the local Firefox folder itself.
        {"Absolute", "[Profile0]\nPath=C:\\Profiles\\mine\nIsRelative=0\n", true, "Profiles/mine",
         "<local>"},
        {"AbsoluteWithSlashes", "[Profile0]\nPath=C:/Profiles/mine\nIsRelative=0\n", true,
         "Profiles/mine", "<local>"},
        {"NamesWithoutRegardToCase", "[PROFILE0]\npath=Profiles/x.default\nisrelative=1\n", true,
         "<roaming>/Profiles/x.default", "<local>/Profiles/x.default"},
        // Section order does not matter, and only Profile0 is used.
        {"OnlyProfile0",
         "[Install308046B0AF4A39CB]\nDefault=Profiles/b.default-release\nLocked=1\n\n"
         "[Profile1]\nName=default\nIsRelative=1\nPath=Profiles/a.default\nDefault=1\n\n"
         "[Profile0]\nName=default-release\nIsRelative=1\nPath=Profiles/b.default-release\n",
         true, "<roaming>/Profiles/b.default-release", "<local>/Profiles/b.default-release"},
        {"NoProfilesIni", nullptr, false, "", ""},
        {"EmptyProfilesIni", "", false, "", ""},
        {"NoProfile0", "[Profile1]\nPath=Profiles/a.default\nIsRelative=1\n", false, "", ""},
        {"NoPath", "[Profile0]\nName=default\nIsRelative=1\n", false, "", ""},
        {"NoIsRelative", "[Profile0]\nName=default\nPath=Profiles/a.default\n", false, "", ""},
        {"EmptyIsRelative", "[Profile0]\nPath=Profiles/a.default\nIsRelative=\n", false, "", ""},
        // An empty path would make the Firefox folder, or a drive root, the profile.
        {"EmptyPath", "[Profile0]\nPath=\nIsRelative=1\n", false, "", ""},
        {"EmptyAbsolutePath", "[Profile0]\nPath=\nIsRelative=0\n", false, "", ""},
        {"BrokenHeader", "\x01\x02\n[Profile0\nPath=Profiles/a\nIsRelative=1\n", false, "", ""},
};

INSTANTIATE_TEST_SUITE_P(Firefox, ProfileLocationTest, ::testing::ValuesIn(locationCases),
                         [](const auto &info) { return std::string(info.param.name); });

// The location is read once, by the first item constructed, and kept until it is forgotten.
TEST_F(FirefoxTest, LocationIsReadOnceUntilForgotten)
{
    writeProfiles("[Profile0]\nPath=Profiles/first\nIsRelative=1\n");
    const firefox_cache first;
    writeProfiles("[Profile0]\nPath=Profiles/second\nIsRelative=1\n");
    const firefox_history second;
    EXPECT_EQ(firefox_base::ProfileLocation().profileFolder,
              windowsPath(roamingFirefox() + "/Profiles/first"));

    firefox_base::ForgetProfileLocation();
    EXPECT_FALSE(firefox_base::ProfileLocation().located);
    const firefox_cookies third;
    EXPECT_EQ(firefox_base::ProfileLocation().profileFolder,
              windowsPath(roamingFirefox() + "/Profiles/second"));
}

// Without a profile no item finds or removes anything, even with data where a profile would be.
TEST_F(FirefoxTest, WithoutProfileNothingIsFoundOrCleaned)
{
    m_prefix.writeFile(roamingFirefox() + "/Cache/a", "aaaa");
    m_prefix.writeFile(roamingFirefox() + "/cookies.sqlite", "cccc");
    std::vector<std::unique_ptr<PlugInfo>> items;
    items.push_back(std::make_unique<firefox_cache>());
    items.push_back(std::make_unique<firefox_cookies>());
    items.push_back(std::make_unique<firefox_history>());
    for (const std::unique_ptr<PlugInfo> &item : items) {
        item->Scan();
        item->Clean();
        EXPECT_EQ(item->GetItemsFound(), 0u);
        EXPECT_EQ(item->GetBytesFound(), 0u);
        EXPECT_EQ(item->GetItemsCleaned(), 0u);
        FileList files;
        item->GetFileList(files);
        EXPECT_TRUE(files.empty());
    }
    EXPECT_TRUE(present(roamingFirefox() + "/Cache/a"));
    EXPECT_TRUE(present(roamingFirefox() + "/cookies.sqlite"));
}

// ---------------------------------------------------------------------------------------------
// The cache: "Cache" and "cache2", in the profile folder and in the local folder.

struct CacheFile
{
    std::string path; // below drive_c
    std::string content;
};

class FirefoxCacheTest : public FirefoxTest
{
protected:
    // Sizes 1, 2, 4, 8, 16, 32: every total tells which files counted.
    std::vector<CacheFile> cacheFiles() const
    {
        return {{profile() + "/Cache/0A/B1C2", "1"},
                {profile() + "/cache2/entries/E1", "22"},
                {localProfile() + "/Cache/_CACHE_MAP_", "4444"},
                {localProfile() + "/cache2/entries/F2", "88888888"},
                {localProfile() + "/cache2/doomed/1", std::string(16, 'd')},
                {localProfile() + "/cache2/index", std::string(32, 'i')}};
    }
    // What no cache walk may touch.
    std::vector<std::string> otherFiles() const
    {
        return {profile() + "/prefs.js", profile() + "/places.sqlite",
                localProfile() + "/startupCache/startupCache.8.little",
                localProfile() + "/cache3/x", localFirefox() + "/Cache/not-ours"};
    }
    void writeAll() const
    {
        for (const CacheFile &file : cacheFiles())
            m_prefix.writeFile(file.path, file.content);
        for (const std::string &file : otherFiles())
            m_prefix.writeFile(file, "keep");
    }
};

TEST_F(FirefoxCacheTest, ScanFindsBothFolderNamesInBothPlaces)
{
    useRelativeProfile();
    writeAll();
    firefox_cache item;
    item.Scan();
    EXPECT_EQ(item.GetItemsFound(), 6u);
    EXPECT_EQ(item.GetBytesFound(), 63u);
    std::vector<std::u16string> expected;
    for (const CacheFile &file : cacheFiles())
        expected.push_back(windowsPath(file.path));
    FileList found;
    item.GetFileList(found);
    EXPECT_EQ(sorted(found), sorted(expected));
    for (const CacheFile &file : cacheFiles())
        EXPECT_TRUE(present(file.path)) << file.path;
}

TEST_F(FirefoxCacheTest, CleanRemovesTheCacheAndNothingElse)
{
    useRelativeProfile();
    writeAll();
    firefox_cache item;
    item.Scan();
    item.Clean();
    EXPECT_EQ(item.GetItemsCleaned(), 6u);
    EXPECT_EQ(item.GetBytesCleaned(), 63u);
    for (const CacheFile &file : cacheFiles())
        EXPECT_FALSE(present(file.path)) << file.path;
    for (const std::string &file : otherFiles())
        EXPECT_TRUE(present(file)) << file;
    // Emptied subfolders go; the cache folders themselves stay.
    EXPECT_FALSE(present(localProfile() + "/cache2/entries"));
    EXPECT_FALSE(present(profile() + "/Cache/0A"));
    EXPECT_TRUE(present(profile() + "/Cache"));
    EXPECT_TRUE(present(localProfile() + "/cache2"));
}

// Files the clean could not delete (as those of a running browser) stay and are not counted.
TEST_F(FirefoxCacheTest, UndeletableFilesStayAndAreNotCounted)
{
    useRelativeProfile();
    writeAll();
    m_prefix.makeReadOnly(localProfile() + "/cache2/entries/F2");
    firefox_cache item;
    item.Scan();
    EXPECT_EQ(item.GetItemsFound(), 6u);
    item.Clean();
    EXPECT_EQ(item.GetItemsCleaned(), 5u);
    EXPECT_EQ(item.GetBytesCleaned(), 63u - 8u);
    EXPECT_TRUE(present(localProfile() + "/cache2/entries/F2"));
}

// An absolute profile: its own folders, and the cache folders of the local Firefox folder.
TEST_F(FirefoxCacheTest, AbsoluteProfileUsesTheLocalFirefoxFolder)
{
    writeProfiles("[Profile0]\nPath=C:\\Elsewhere\\me\nIsRelative=0\n");
    m_prefix.writeFile("Elsewhere/me/cache2/entries/A", "1");
    m_prefix.writeFile(localFirefox() + "/Cache/B", "22");
    m_prefix.writeFile(localFirefox() + "/Profiles/x/cache2/C", "4444");
    firefox_cache item;
    item.Scan();
    EXPECT_EQ(item.GetItemsFound(), 2u);
    EXPECT_EQ(item.GetBytesFound(), 3u);
}

// A profile whose folder is also the local folder is walked once.
TEST_F(FirefoxCacheTest, SharedFolderIsWalkedOnce)
{
    writeProfiles("[Profile0]\nPath=C:\\users\\" + m_prefix.userName() +
                  "\\appdata\\local\\mozilla\\firefox\nIsRelative=0\n");
    m_prefix.writeFile(localFirefox() + "/cache2/entries/A", "1");
    m_prefix.writeFile(localFirefox() + "/Cache/B", "22");
    firefox_cache item;
    EXPECT_EQ(firefox_cache::CacheFolders().size(), 2u);
    item.Scan();
    EXPECT_EQ(item.GetItemsFound(), 2u);
    EXPECT_EQ(item.GetBytesFound(), 3u);
    item.Clean();
    EXPECT_EQ(item.GetItemsCleaned(), 2u);
    EXPECT_EQ(item.GetBytesCleaned(), 3u);
}

// ---------------------------------------------------------------------------------------------
// Cookies: "cookies.txt" and "cookies.sqlite", at most these two files.

struct CookieCase
{
    const char *name;
    std::vector<std::string> files; // in the profile folder, each "name" with its name as content
    std::vector<std::string> found; // in the profile folder
};

class FirefoxCookiesTest : public FirefoxTest, public ::testing::WithParamInterface<CookieCase>
{};

TEST_P(FirefoxCookiesTest, FindsAtMostTwoFilesAndRemovesThem)
{
    const CookieCase &test = GetParam();
    useRelativeProfile();
    for (const std::string &file : test.files)
        m_prefix.writeFile(profile() + "/" + file, file);
    firefox_cookies item;
    item.Scan();
    std::uint64_t bytes = 0;
    std::vector<std::u16string> expected;
    for (const std::string &file : test.found) {
        expected.push_back(windowsPath(profile() + "/" + file));
        bytes += file.size();
    }
    FileList found;
    item.GetFileList(found);
    EXPECT_LE(found.size(), 2u);
    EXPECT_EQ(found, expected);
    EXPECT_EQ(item.GetItemsFound(), test.found.size());
    EXPECT_EQ(item.GetBytesFound(), bytes);

    item.Clean();
    EXPECT_EQ(item.GetItemsCleaned(), test.found.size());
    EXPECT_EQ(item.GetBytesCleaned(), bytes);
    for (const std::string &file : test.found)
        EXPECT_FALSE(present(profile() + "/" + file)) << file;
}

// Test names show the row's name.
void PrintTo(const CookieCase &row, std::ostream *out)
{
    *out << row.name;
}

const CookieCase cookieCases[] = {
        {"None", {"prefs.js"}, {}},
        {"Both", {"cookies.txt", "cookies.sqlite", "prefs.js"}, {"cookies.txt", "cookies.sqlite"}},
        {"OnlySqlite", {"cookies.sqlite", "cookies.sqlite.bak"}, {"cookies.sqlite"}},
        // The host keeps names that differ only in case; Windows sees one file per name.
        {"CaseVariants",
         {"cookies.txt", "COOKIES.TXT", "cookies.sqlite", "Cookies.Sqlite"},
         {"cookies.txt", "cookies.sqlite"}},
        {"OtherCase", {"Cookies.SQLite"}, {"Cookies.SQLite"}},
};

INSTANTIATE_TEST_SUITE_P(Firefox, FirefoxCookiesTest, ::testing::ValuesIn(cookieCases),
                         [](const auto &info) { return std::string(info.param.name); });

// The database goes with its journal files, never without them: a journal left behind would be
// replayed into the next database of that name.
TEST_F(FirefoxTest, CookieDatabaseGoesWithItsJournals)
{
    useRelativeProfile();
    for (const char *name : {"cookies.sqlite", "cookies.sqlite-wal", "cookies.sqlite-shm"})
        m_prefix.writeFile(profile() + "/" + name, "data");
    firefox_cookies item;
    item.Scan();
    EXPECT_EQ(item.GetItemsFound(), 1u);
    item.Clean();
    EXPECT_EQ(item.GetItemsCleaned(), 1u);
    EXPECT_EQ(item.GetBytesCleaned(), 4u);
    for (const char *name : {"cookies.sqlite", "cookies.sqlite-wal", "cookies.sqlite-shm"})
        EXPECT_FALSE(present(profile() + "/" + name)) << name;
}

TEST_F(FirefoxTest, CookieDatabaseStaysWhenItsJournalStays)
{
    useRelativeProfile();
    m_prefix.writeFile(profile() + "/cookies.sqlite", "data");
    m_prefix.writeFile(profile() + "/cookies.sqlite-wal", "journal");
    m_prefix.writeFile(profile() + "/cookies.txt", "text");
    m_prefix.makeReadOnly(profile() + "/cookies.sqlite-wal");
    firefox_cookies item;
    item.Scan();
    EXPECT_EQ(item.GetItemsFound(), 2u);
    item.Clean();
    EXPECT_EQ(item.GetItemsCleaned(), 1u);
    EXPECT_EQ(item.GetBytesCleaned(), 4u);
    EXPECT_TRUE(present(profile() + "/cookies.sqlite"));
    EXPECT_TRUE(present(profile() + "/cookies.sqlite-wal"));
    EXPECT_FALSE(present(profile() + "/cookies.txt"));
}

// A cookie file that cannot be deleted stays and is not counted as cleaned.
TEST_F(FirefoxTest, UndeletableCookieFileIsNotCounted)
{
    useRelativeProfile();
    m_prefix.writeFile(profile() + "/cookies.txt", "text");
    m_prefix.writeFile(profile() + "/cookies.sqlite", "sqlite");
    m_prefix.makeReadOnly(profile() + "/cookies.txt");
    firefox_cookies item;
    item.Scan();
    EXPECT_EQ(item.GetItemsFound(), 2u);
    EXPECT_EQ(item.GetBytesFound(), 10u);
    item.Clean();
    EXPECT_EQ(item.GetItemsCleaned(), 1u);
    EXPECT_EQ(item.GetBytesCleaned(), 6u);
    EXPECT_TRUE(present(profile() + "/cookies.txt"));
}

// A cookie name that is a folder, or a link to a file outside the profile, is handled as Windows
// sees it: the folder is no cookie file, the link is deleted as a link and its target stays.
TEST_F(FirefoxTest, CookieFolderAndLinkAreHandledAsWindowsSeesThem)
{
    useRelativeProfile();
    m_prefix.makeFolder(profile() + "/cookies.txt");
    m_prefix.writeFile(profile() + "/cookies.txt/inside", "x");
    m_prefix.writeFile("outside/cookies.sqlite", "precious");
    m_prefix.makeLink(profile() + "/cookies.sqlite", m_prefix.hostPath("outside/cookies.sqlite"));
    firefox_cookies item;
    item.Scan();
    EXPECT_EQ(item.GetItemsFound(), 1u);
    EXPECT_EQ(item.GetBytesFound(), 0u);
    item.Clean();
    EXPECT_FALSE(present(profile() + "/cookies.sqlite"));
    EXPECT_TRUE(present("outside/cookies.sqlite"));
    EXPECT_TRUE(present(profile() + "/cookies.txt/inside"));
}

// ---------------------------------------------------------------------------------------------
// Every Firefox item: a second scan reports the same, not doubled totals, as does Rescan().

TEST_F(FirefoxTest, RepeatedScansDoNotAddUp)
{
    useRelativeProfile();
    m_prefix.writeFile(profile() + "/cookies.txt", "text");
    m_prefix.writeFile(profile() + "/History.dat", "history");
    m_prefix.writeFile(localProfile() + "/cache2/entries/A", "aa");
    std::vector<std::unique_ptr<PlugInfo>> items;
    items.push_back(std::make_unique<firefox_cache>());
    items.push_back(std::make_unique<firefox_cookies>());
    items.push_back(std::make_unique<firefox_history>());
    for (const std::unique_ptr<PlugInfo> &item : items) {
        item->Scan();
        const std::uint64_t count = item->GetItemsFound();
        const std::uint64_t bytes = item->GetBytesFound();
        FileList first;
        item->GetFileList(first);
        EXPECT_EQ(count, 1u);
        EXPECT_GT(bytes, 0u);
        for (int again = 0; again < 2; ++again) {
            if (again == 0)
                item->Scan();
            else
                item->Rescan();
            EXPECT_EQ(item->GetItemsFound(), count);
            EXPECT_EQ(item->GetBytesFound(), bytes);
            FileList files;
            item->GetFileList(files);
            EXPECT_EQ(files, first);
        }
    }
}

// Cleaned totals start from zero at every clean and say what that clean removed.
TEST_F(FirefoxTest, SecondCleanReportsNothingRemoved)
{
    useRelativeProfile();
    m_prefix.writeFile(profile() + "/cookies.txt", "text");
    m_prefix.writeFile(profile() + "/Cache/A", "aa");
    firefox_cookies cookies;
    firefox_cache cache;
    for (PlugInfo *item : std::initializer_list<PlugInfo *>{&cookies, &cache}) {
        item->Scan();
        item->Clean();
        EXPECT_EQ(item->GetItemsCleaned(), 1u);
        item->Clean();
        EXPECT_EQ(item->GetItemsCleaned(), 0u);
        EXPECT_EQ(item->GetBytesCleaned(), 0u);
    }
}

TEST_F(FirefoxTest, TitlesAndDescriptions)
{
    useRelativeProfile();
    const firefox_cache cache;
    const firefox_cookies cookies;
    const firefox_history history;
    EXPECT_EQ(cache.GetTitle(), u"Firefox Cache");
    EXPECT_EQ(cache.GetDescription(), u"Clears the Firefox cache");
    EXPECT_EQ(cookies.GetTitle(), u"Firefox Cookies");
    EXPECT_EQ(cookies.GetDescription(), u"Removes Firefox cookies");
    EXPECT_EQ(history.GetTitle(), u"Firefox History");
    EXPECT_EQ(history.GetDescription(), u"Removes Firefox history records");
}

} // namespace
