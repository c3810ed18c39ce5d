// The Internet Explorer items on URL caches that the tests build in Wine's index format.
#include "TestPrefix.h"

#include <disk_cleaner/StopRequest.h>
#include <disk_cleaner/ie_cache.h>
#include <disk_cleaner/ie_cookies.h>
#include <disk_cleaner/ie_history.h>

#include <platform/Machine.h>
#include <platform/Text.h>
#include <platform/UrlCache.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <ostream>
#include <stdexcept>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace diskcleaner;
using platform::UrlCacheContainer;
using Bytes = std::vector<std::uint8_t>;

namespace {

constexpr std::uint8_t noFolder = 0xFE;

// One entry of a built index.
struct Record
{
    std::string url;
    std::uint32_t type = platform::NormalCacheEntry;
    std::uint64_t size = 0;
    std::string file;               // the cached file's name; empty for none
    std::uint8_t folder = noFolder; // index of the cache subfolder that holds the file
};

// The last-write time an index keeps for a cached file: 2024-05-06 07:08:10 UTC as a DOS date
// (low half) and time (high half). The cached files are given that time.
constexpr std::uint32_t storedDosTime = (44u << 9 | 5u << 5 | 6u) | (7u << 11 | 8u << 5 | 5u) << 16;
constexpr std::int64_t storedUnixTime = 1714979290;

void put32(Bytes &bytes, std::size_t offset, std::uint32_t value)
{
    std::memcpy(bytes.data() + offset, &value, 4);
}

void put64(Bytes &bytes, std::size_t offset, std::uint64_t value)
{
    std::memcpy(bytes.data() + offset, &value, 8);
}

// An index as Wine makes a new one: a 16 KiB header with the block map, 0x80 blocks of 128 bytes,
// one hash table in the first 32 blocks and a record of two blocks per entry from 0x5000 on.
Bytes buildIndex(const std::vector<Record> &records, const std::vector<std::string> &folders = {})
{
    if (records.size() > 48)
        throw std::logic_error("too many records for one test index");
    Bytes bytes(0x8000, 0);
    std::memcpy(bytes.data(), "WINE URLCache Ver 0.2012001", 28);
    put32(bytes, 0x1C, 0x8000);
    put32(bytes, 0x20, 0x4000);
    put32(bytes, 0x24, 0x80);
    const std::uint32_t blocks = 32 + 2 * std::uint32_t(records.size());
    put32(bytes, 0x28, blocks);
    put64(bytes, 0x30, 0x07FF5400);
    put32(bytes, 0x48, std::uint32_t(folders.size()));
    for (std::size_t i = 0; i < folders.size(); ++i)
        std::memcpy(bytes.data() + 0x4C + 12 * i + 4, folders[i].data(), 8);
    for (std::uint32_t block = 0; block < blocks; ++block)
        bytes[0x250 + block / 8] |= std::uint8_t(1u << (block % 8));

    std::memcpy(bytes.data() + 0x4000, "HASH", 4);
    put32(bytes, 0x4004, 0x20);
    for (std::size_t slot = 0; slot < 448; ++slot) {
        put32(bytes, 0x4010 + 8 * slot, 3);
        put32(bytes, 0x4014 + 8 * slot, 3);
    }
    std::uint64_t normalBytes = 0, stickyBytes = 0;
    for (std::size_t i = 0; i < records.size(); ++i) {
        const Record &record = records[i];
        const std::size_t offset = 0x5000 + 0x100 * i;
        // One slot per bucket, in use.
        put32(bytes, 0x4010 + 8 * 7 * i, std::uint32_t(0x2000 + i) << 6);
        put32(bytes, 0x4014 + 8 * 7 * i, std::uint32_t(offset));

        std::memcpy(bytes.data() + offset, "URL ", 4);
        put32(bytes, offset + 0x04, 2);
        put64(bytes, offset + 0x20, record.size);
        put32(bytes, offset + 0x34, 0x68);
        bytes[offset + 0x38] = record.folder;
        put32(bytes, offset + 0x40, record.type);
        const std::size_t nameOffset = (0x68 + record.url.size() + 1 + 3) / 4 * 4;
        if (nameOffset + record.file.size() + 1 > 0x100)
            throw std::logic_error("test record too long");
        std::memcpy(bytes.data() + offset + 0x68, record.url.data(), record.url.size());
        if (!record.file.empty()) {
            put32(bytes, offset + 0x3C, std::uint32_t(nameOffset));
            put32(bytes, offset + 0x5C, storedDosTime);
            std::memcpy(bytes.data() + offset + nameOffset, record.file.data(), record.file.size());
        }
        (record.type & platform::StickyCacheEntry ? stickyBytes : normalBytes) += record.size;
        if (record.folder < folders.size())
            ++bytes[0x4C + 12 * record.folder];
    }
    put64(bytes, 0x38, normalBytes);
    put64(bytes, 0x40, stickyBytes);
    return bytes;
}

std::string readAll(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A URL cache in Wine's default folders of the test prefix's user.
class IeTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ClearStopRequest();
        m_prefix.install();
    }

    std::string container(UrlCacheContainer which) const
    {
        const std::string windows =
                "users/" + m_prefix.userName() + "/AppData/Local/Microsoft/Windows/";
        switch (which) {
        case UrlCacheContainer::Content:
            return windows + "INetCache/Content.IE5";
        case UrlCacheContainer::Cookies:
            return windows + "INetCookies";
        case UrlCacheContainer::History:
            return windows + "History/History.IE5";
        }
        return {};
    }
    std::string indexPath(UrlCacheContainer which) const
    {
        return m_prefix.hostPath(container(which) + "/index.dat");
    }

    // Writes an index and the cached files its records name, with the time the index keeps.
    void writeContainer(UrlCacheContainer which, const std::vector<Record> &records,
                        const std::vector<std::string> &folders = {}) const
    {
        const Bytes bytes = buildIndex(records, folders);
        m_prefix.writeFile(
                container(which) + "/index.dat",
                std::string_view(reinterpret_cast<const char *>(bytes.data()), bytes.size()));
        for (const std::string &folder : folders)
            m_prefix.makeFolder(container(which) + "/" + folder);
        for (const Record &record : records) {
            if (record.file.empty())
                continue;
            const std::string file = cachedFile(which, record, folders);
            m_prefix.writeFile(file, "cached " + record.url);
            m_prefix.setLastWriteTime(file, storedUnixTime, 500000000);
        }
    }
    std::string cachedFile(UrlCacheContainer which, const Record &record,
                           const std::vector<std::string> &folders) const
    {
        std::string file = container(which) + "/";
        if (record.folder != noFolder)
            file += folders.at(record.folder) + "/";
        return file + record.file;
    }
    bool present(const std::string &belowDriveC) const
    {
        return TestPrefix::exists(m_prefix.hostPath(belowDriveC));
    }

    std::vector<std::u16string> urls(UrlCacheContainer which) const
    {
        std::vector<std::u16string> found;
        for (const platform::UrlCacheEntry &entry :
             platform::Machine::current().urlCache().entries(which))
            found.push_back(entry.sourceUrl);
        return found;
    }

    TestPrefix m_prefix;
};

// ---------------------------------------------------------------------------------------------
// A cache with entries of every kind, and what each item finds and removes of it.

const std::vector<std::string> contentFolders = {"ABCD1234", "EFGH5678"};
const std::vector<Record> contentRecords = {
        {"http://example.com/a/page.html", platform::NormalCacheEntry, 18, "page[0].html", 0},
        {"http://example.com/sticky.png", platform::NormalCacheEntry | platform::StickyCacheEntry,
         7, "sticky[0].png", 1},
        // Its size is what the index says, here more than 32 bits hold.
        {"http://example.org/big/data.bin", platform::NormalCacheEntry, 0x140000000ULL,
         "data[0].bin", 1},
        // A cookie kept in the content store is a cookie all the same.
        {"Cookie:root@odd.example/", platform::CookieCacheEntry, 11, "", noFolder},
};
const std::vector<Record> cookieRecords = {
        {"Cookie:root@example.com/", platform::CookieCacheEntry, 69, "TTKG45DO.txt", noFolder},
        {"Cookie:root@example.net/path", platform::CookieCacheEntry, 40, "AB12CD34.txt", noFolder},
};
const std::vector<Record> historyRecords = {
        {"Visited: root@http://example.com/a/page.html", platform::UrlHistoryCacheEntry, 0, "",
         noFolder},
        {"Visited: root@http://example.org/", platform::UrlHistoryCacheEntry, 0, "", noFolder},
        {"Visited: root@file:///C:/notes.txt", platform::UrlHistoryCacheEntry, 3, "", noFolder},
};

struct ItemCase
{
    const char *name;
    std::function<std::unique_ptr<PlugInfo>()> make;
    std::vector<std::string> urls; // found, in the cache's order
    std::uint64_t bytesFound;
    std::uint64_t bytesCleaned;
};

// Test names show the row's name.
void PrintTo(const ItemCase &row, std::ostream *out)
{
    *out << row.name;
}

class IeItemTest : public IeTest, public ::testing::WithParamInterface<ItemCase>
{
protected:
    void writeCache() const
    {
        writeContainer(UrlCacheContainer::Content, contentRecords, contentFolders);
        writeContainer(UrlCacheContainer::Cookies, cookieRecords);
        writeContainer(UrlCacheContainer::History, historyRecords);
    }
    std::vector<std::u16string> allUrls() const
    {
        std::vector<std::u16string> all;
        for (UrlCacheContainer which :
             {UrlCacheContainer::Content, UrlCacheContainer::Cookies, UrlCacheContainer::History}) {
            const std::vector<std::u16string> more = urls(which);
            all.insert(all.end(), more.begin(), more.end());
        }
        return all;
    }
    std::vector<std::u16string> expectedUrls() const
    {
        std::vector<std::u16string> expected;
        for (const std::string &url : GetParam().urls)
            expected.push_back(platform::u16(url));
        return expected;
    }
};

TEST_P(IeItemTest, ScanFindsTheEntriesOfItsKind)
{
    writeCache();
    const std::unique_ptr<PlugInfo> item = GetParam().make();
    for (int round = 0; round < 3; ++round) {
        // A second and third scan report the same, not doubled totals.
        if (round == 2)
            item->Rescan();
        else
            item->Scan();
        EXPECT_EQ(item->GetItemsFound(), GetParam().urls.size());
        EXPECT_EQ(item->GetBytesFound(), GetParam().bytesFound);
        FileList found;
        item->GetFileList(found);
        EXPECT_EQ(found, expectedUrls());
    }
}

TEST_P(IeItemTest, CleanRemovesTheEntriesOfItsKindOnly)
{
    writeCache();
    const std::unique_ptr<PlugInfo> item = GetParam().make();
    std::vector<std::u16string> others = allUrls();
    for (const std::u16string &url : expectedUrls())
        others.erase(std::find(others.begin(), others.end(), url));

    item->Scan();
    item->Clean();
    EXPECT_EQ(item->GetItemsCleaned(), GetParam().urls.size());
    EXPECT_EQ(item->GetBytesCleaned(), GetParam().bytesCleaned);
    EXPECT_EQ(allUrls(), others);

    // Cached files go with their entries; the others stay.
    const auto check = [&](UrlCacheContainer which, const std::vector<Record> &records,
                           const std::vector<std::string> &folders) {
        for (const Record &record : records) {
            if (record.file.empty())
                continue;
            const bool removed = std::find(GetParam().urls.begin(), GetParam().urls.end(),
                                           record.url) != GetParam().urls.end();
            EXPECT_EQ(present(cachedFile(which, record, folders)), !removed) << record.url;
        }
    };
    check(UrlCacheContainer::Content, contentRecords, contentFolders);
    check(UrlCacheContainer::Cookies, cookieRecords, {});

    // Nothing is left to find or remove.
    item->Scan();
    EXPECT_EQ(item->GetItemsFound(), 0u);
    item->Clean();
    EXPECT_EQ(item->GetItemsCleaned(), 0u);
    EXPECT_EQ(item->GetBytesCleaned(), 0u);
}

const ItemCase itemCases[] = {
        {"Cache",
         [] { return std::make_unique<ie_cache>(); },
         {"http://example.com/a/page.html", "http://example.com/sticky.png",
          "http://example.org/big/data.bin"},
         18 + 7 + 0x140000000ULL,
         18 + 7 + 0x140000000ULL},
        {"Cookies",
         [] { return std::make_unique<ie_cookies>(); },
         {"Cookie:root@odd.example/", "Cookie:root@example.com/", "Cookie:root@example.net/path"},
         11 + 69 + 40,
         11 + 69 + 40},
        // History entries are counted, their sizes are not.
        {"History",
         [] { return std::make_unique<ie_history>(); },
         {"Visited: root@http://example.com/a/page.html", "Visited: root@http://example.org/",
          "Visited: root@file:///C:/notes.txt"},
         3,
         0},
};

INSTANTIATE_TEST_SUITE_P(Ie, IeItemTest, ::testing::ValuesIn(itemCases),
                         [](const auto &info) { return std::string(info.param.name); });

// After its own entries, the history item clears the history store, which takes what else it
// holds; that is counted too.
TEST_F(IeTest, HistoryStoreIsClearedAfterTheEntries)
{
    std::vector<Record> records = historyRecords;
    records.push_back({"http://stray.example/", platform::NormalCacheEntry, 5, "", noFolder});
    writeContainer(UrlCacheContainer::History, records);
    writeContainer(UrlCacheContainer::Cookies, cookieRecords);
    ie_history item;
    item.Scan();
    EXPECT_EQ(item.GetItemsFound(), 3u);
    item.Clean();
    EXPECT_EQ(item.GetItemsCleaned(), 4u);
    EXPECT_TRUE(urls(UrlCacheContainer::History).empty());
    EXPECT_EQ(urls(UrlCacheContainer::Cookies).size(), 2u);
}

// No cache at all, as in a fresh prefix: nothing found, nothing cleaned, nothing made.
TEST_F(IeTest, NoCacheFindsNothing)
{
    for (const std::unique_ptr<PlugInfo> &item :
         {std::unique_ptr<PlugInfo>(std::make_unique<ie_cache>()),
          std::unique_ptr<PlugInfo>(std::make_unique<ie_cookies>()),
          std::unique_ptr<PlugInfo>(std::make_unique<ie_history>())}) {
        item->Scan();
        EXPECT_EQ(item->GetItemsFound(), 0u);
        EXPECT_EQ(item->GetBytesFound(), 0u);
        item->Clean();
        EXPECT_EQ(item->GetItemsCleaned(), 0u);
    }
    EXPECT_FALSE(present(container(UrlCacheContainer::Content)));
    EXPECT_FALSE(present(container(UrlCacheContainer::History)));
}

// ---------------------------------------------------------------------------------------------
// Indexes that must not be changed: truncated, or inconsistent with themselves.

struct Damage
{
    const char *name;
    std::function<void(Bytes &)> apply;
};

// Test names show the row's name.
void PrintTo(const Damage &row, std::ostream *out)
{
    *out << row.name;
}

class IeDamagedIndexTest : public IeTest, public ::testing::WithParamInterface<Damage>
{};

TEST_P(IeDamagedIndexTest, IsNotModified)
{
    writeContainer(UrlCacheContainer::Content, contentRecords, contentFolders);
    writeContainer(UrlCacheContainer::History, historyRecords);
    for (UrlCacheContainer which : {UrlCacheContainer::Content, UrlCacheContainer::History}) {
        const std::string path = indexPath(which);
        const std::string text = readAll(path);
        Bytes bytes(text.begin(), text.end());
        GetParam().apply(bytes);
        std::ofstream(path, std::ios::binary | std::ios::trunc)
                .write(reinterpret_cast<const char *>(bytes.data()), std::streamsize(bytes.size()));
    }
    const std::string contentBefore = readAll(indexPath(UrlCacheContainer::Content));
    const std::string historyBefore = readAll(indexPath(UrlCacheContainer::History));

    ie_cache cache;
    ie_history history;
    for (PlugInfo *item : std::initializer_list<PlugInfo *>{&cache, &history}) {
        item->Scan();
        item->Clean();
        EXPECT_EQ(item->GetItemsCleaned(), 0u);
        EXPECT_EQ(item->GetBytesCleaned(), 0u);
    }
    EXPECT_TRUE(readAll(indexPath(UrlCacheContainer::Content)) == contentBefore);
    EXPECT_TRUE(readAll(indexPath(UrlCacheContainer::History)) == historyBefore);
    for (const Record &record : contentRecords) {
        if (!record.file.empty()) {
            EXPECT_TRUE(present(cachedFile(UrlCacheContainer::Content, record, contentFolders)))
                    << record.url;
        }
    }
}

const Damage damages[] = {
        {"TruncatedInTheRecords",
         [](Bytes &bytes) {
             bytes.resize(0x5180);
         }},
        {"TruncatedInTheHeader",
         [](Bytes &bytes) {
             bytes.resize(0x200);
         }},
        {"BlocksInUseMiscounted",
         [](Bytes &bytes) {
             ++bytes[0x28];
         }},
        {"SizeFieldWrong",
         [](Bytes &bytes) {
             put32(bytes, 0x1C, 0x9000);
         }},
        {"RecordOutsideTheMap",
         [](Bytes &bytes) {
             bytes[0x250 + 4] = 0;
         }},
};

INSTANTIATE_TEST_SUITE_P(Ie, IeDamagedIndexTest, ::testing::ValuesIn(damages),
                         [](const auto &info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------------------------
// While a Wine server runs for the prefix, its programs may be using the cache: nothing changes.

// Holds the lock a running Wine server holds on its server folder, from another process.
class FakeWineServer final
{
public:
    explicit FakeWineServer(const std::string &folder)
    {
        // Made as Wine makes them, private to the user: Wine refuses to start with a server
        // folder that others may enter. Another Wine may use the parent at the same time.
        const std::string parent = folder.substr(0, folder.rfind('/'));
        if (mkdir(parent.c_str(), 0700) != 0 && errno != EEXIST)
            throw std::runtime_error("cannot make " + parent);
        if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
            throw std::runtime_error("cannot make " + folder);
        int ready[2], release[2];
        if (pipe(ready) != 0 || pipe(release) != 0)
            throw std::runtime_error("pipe");
        m_pid = fork();
        if (m_pid == 0) {
            // Only the parent may hold the write end, so that its closing ends the wait below.
            close(release[1]);
            close(ready[0]);
            const int fd = open((folder + "/lock").c_str(), O_RDWR | O_CREAT, 0600);
            struct flock lock = {};
            lock.l_type = F_WRLCK;
            lock.l_whence = SEEK_SET;
            lock.l_len = 1;
            const char answer = fd >= 0 && fcntl(fd, F_SETLK, &lock) == 0 ? 'y' : 'n';
            (void)!write(ready[1], &answer, 1);
            char byte;
            (void)!read(release[0], &byte, 1);
            _exit(0);
        }
        close(ready[1]);
        close(release[0]);
        m_release = release[1];
        char answer = 'n';
        (void)!read(ready[0], &answer, 1);
        close(ready[0]);
        if (answer != 'y')
            throw std::runtime_error("the fake server could not take its lock");
    }
    ~FakeWineServer()
    {
        close(m_release);
        waitpid(m_pid, nullptr, 0);
    }

private:
    pid_t m_pid = -1;
    int m_release = -1;
};

TEST_F(IeTest, NothingChangesWhileWineRuns)
{
    writeContainer(UrlCacheContainer::Content, contentRecords, contentFolders);
    writeContainer(UrlCacheContainer::Cookies, cookieRecords);
    writeContainer(UrlCacheContainer::History, historyRecords);
    struct stat prefix = {};
    ASSERT_EQ(stat(m_prefix.path().c_str(), &prefix), 0);
    char name[64];
    std::snprintf(name, sizeof name, "server-%llx-%llx",
                  static_cast<unsigned long long>(prefix.st_dev),
                  static_cast<unsigned long long>(prefix.st_ino));
    const std::string userFolder = "/tmp/.wine-" + std::to_string(getuid());
    const std::string serverFolder = userFolder + "/" + name;
    {
        const FakeWineServer server(serverFolder);
        ie_cache cache;
        ie_cookies cookies;
        ie_history history;
        for (PlugInfo *item : std::initializer_list<PlugInfo *>{&cache, &cookies, &history}) {
            item->Scan();
            EXPECT_GT(item->GetItemsFound(), 0u);
            item->Clean();
            EXPECT_EQ(item->GetItemsCleaned(), 0u);
        }
        EXPECT_EQ(urls(UrlCacheContainer::Content).size(), contentRecords.size());
        EXPECT_EQ(urls(UrlCacheContainer::Cookies).size(), cookieRecords.size());
        EXPECT_EQ(urls(UrlCacheContainer::History).size(), historyRecords.size());
    }
    std::error_code ignored;
    // The user's folder stays, as Wine leaves it: a Wine starting now may be using it.
    std::filesystem::remove_all(serverFolder, ignored);

    // Once it is gone, the cache can be cleaned.
    ie_cache cache;
    cache.Scan();
    cache.Clean();
    EXPECT_EQ(cache.GetItemsCleaned(), 3u);
}

TEST_F(IeTest, TitlesAndDescriptions)
{
    const ie_cache cache;
    const ie_history history;
    const ie_cookies cookies;
    EXPECT_EQ(cache.GetTitle(), u"Internet Explorer Cache");
    EXPECT_EQ(cache.GetDescription(), u"Clears the Internet Explorer browser cache");
    EXPECT_EQ(history.GetTitle(), u"Internet Explorer History");
    EXPECT_EQ(history.GetDescription(), u"Removes Internet Explorer history records");
    EXPECT_EQ(cookies.GetTitle(), u"Internet Explorer Cookies");
    EXPECT_EQ(cookies.GetDescription(), u"Removes Internet Explorer cookie files");
}

} // namespace
