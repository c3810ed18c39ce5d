// The URL cache of a prefix on index files that Wine wrote (tests/platform/wininet/samples: the
// content index after UrlCacheFill.exe, and after Wine's own DeleteUrlCacheEntryW of the page and
// the sticky image) and on small ones built here.
#include "PrefixUrlCache.h"
#include "IndexDatFile.h"
#include "PrefixFileSystem.h"

#include "TestPrefix.h"

#include <platform/Text.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <stdexcept>

namespace fs = std::filesystem;
using platform::IndexDatFile;
using platform::PrefixFileSystem;
using platform::PrefixUrlCache;
using platform::u16;
using platform::UrlCacheContainer;
using platform::UrlCacheEntry;
using platform::UrlCacheFolders;
using Bytes = std::vector<std::uint8_t>;

namespace {

Bytes readBytes(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + path);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeBytes(const std::string &path, const Bytes &bytes)
{
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(bytes.data()), std::streamsize(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

Bytes sample(const std::string &name)
{
    return readBytes(std::string(NIMBRA_URLCACHE_SAMPLES) + "/" + name);
}

std::uint32_t get32(const Bytes &bytes, std::size_t offset)
{
    std::uint32_t value = 0;
    std::memcpy(&value, bytes.data() + offset, 4);
    return value;
}

void put32(Bytes &bytes, std::size_t offset, std::uint32_t value)
{
    std::memcpy(bytes.data() + offset, &value, 4);
}

void put64(Bytes &bytes, std::size_t offset, std::uint64_t value)
{
    std::memcpy(bytes.data() + offset, &value, 8);
}

// The last-write time that built indexes keep for their cached files: 2024-05-06 07:08:10 UTC,
// as a DOS date and time.
constexpr std::uint32_t builtFileTime = (44u << 9 | 5u << 5 | 6u) | (7u << 11 | 8u << 5 | 5u) << 16;

// Gives a file below drive_c the last-write time that an index keeps for it, half a second into
// the two seconds that the DOS time stands for.
void setStoredTime(const TestPrefix &prefix, const std::string &file, std::uint32_t dosDateTime)
{
    using namespace std::chrono;
    const unsigned date = dosDateTime & 0xFFFF, time = dosDateTime >> 16;
    const sys_days day = year_month_day{year(int(date >> 9) + 1980), month((date >> 5) & 15),
                                        std::chrono::day(date & 31)};
    const seconds since1970 = day.time_since_epoch() + hours(time >> 11) +
                              minutes((time >> 5) & 63) + seconds((time & 31) * 2);
    prefix.setLastWriteTime(file, since1970.count(), 500000000);
}

// One entry of an index built by buildIndex().
struct TestRecord
{
    std::string url;
    std::uint32_t type = platform::NormalCacheEntry;
    std::uint64_t size = 0;
    std::string localName;
    std::uint8_t directory = IndexDatFile::noDirectory;
};

// A history entry, as the history keeps a visit of a page.
TestRecord visit(const std::string &user, const std::string &url)
{
    return {"Visited: " + user + "@" + url, platform::UrlHistoryCacheEntry, 0, "",
            IndexDatFile::noDirectory};
}

// An index laid out as Wine lays out a new one: 0x80 blocks after the 16 KiB header, one hash
// table in the first 32 blocks, and a record of two blocks per entry from 0x5000 on.
Bytes buildIndex(const std::vector<TestRecord> &records,
                 const std::vector<std::string> &directories = {})
{
    Bytes bytes(0x8000, 0);
    std::memcpy(bytes.data(), "WINE URLCache Ver 0.2012001", 28);
    put32(bytes, 0x1C, 0x8000);
    put32(bytes, 0x20, 0x4000);
    put32(bytes, 0x24, 0x80);
    put32(bytes, 0x28, 32 + 2 * std::uint32_t(records.size()));
    put64(bytes, 0x30, 0x07FF5400);
    put32(bytes, 0x48, std::uint32_t(directories.size()));
    for (std::size_t i = 0; i < directories.size(); ++i)
        std::memcpy(bytes.data() + 0x4C + 12 * i + 4, directories[i].data(), 8);
    for (std::uint32_t block = 0; block < 32 + 2 * records.size(); ++block)
        bytes[0x250 + block / 8] |= std::uint8_t(1u << (block % 8));

    std::memcpy(bytes.data() + 0x4000, "HASH", 4);
    put32(bytes, 0x4004, 0x20);
    for (std::size_t slot = 0; slot < 448; ++slot) {
        put32(bytes, 0x4010 + 8 * slot, 3);
        put32(bytes, 0x4014 + 8 * slot, 3);
    }

    std::uint64_t normal = 0, exempt = 0;
    for (std::size_t i = 0; i < records.size(); ++i) {
        const TestRecord &record = records[i];
        const std::size_t offset = 0x5000 + 0x100 * i;
        put32(bytes, 0x4010 + 8 * 7 * i, std::uint32_t(0x1000 + i) << 6); // one per bucket
        put32(bytes, 0x4014 + 8 * 7 * i, std::uint32_t(offset));

        std::memcpy(bytes.data() + offset, "URL ", 4);
        put32(bytes, offset + 4, 2);
        put64(bytes, offset + 0x20, record.size);
        put32(bytes, offset + 0x34, 0x68);
        bytes[offset + 0x38] = record.directory;
        put32(bytes, offset + 0x40, record.type);
        const std::size_t nameOffset = (0x68 + record.url.size() + 1 + 3) / 4 * 4;
        if (nameOffset + record.localName.size() + 1 > 0x100)
            throw std::logic_error("test record too long");
        std::memcpy(bytes.data() + offset + 0x68, record.url.data(), record.url.size());
        if (!record.localName.empty()) {
            put32(bytes, offset + 0x3C, std::uint32_t(nameOffset));
            put32(bytes, offset + 0x5C, builtFileTime);
            std::memcpy(bytes.data() + offset + nameOffset, record.localName.data(),
                        record.localName.size());
        }
        (record.type & platform::StickyCacheEntry ? exempt : normal) += record.size;
        if (record.directory < directories.size())
            put32(bytes, 0x4C + 12 * record.directory,
                  get32(bytes, 0x4C + 12 * record.directory) + 1);
    }
    put64(bytes, 0x38, normal);
    put64(bytes, 0x40, exempt);
    return bytes;
}

// The entries of the Wine sample, in the order Wine itself listed them.
struct SampleEntry
{
    const char *url;
    std::uint32_t type;
    std::uint64_t size;
    const char *file; // below Content.IE5, with '\'
};

const SampleEntry sampleEntries[] = {
        {"http://example.com/sticky.png", 0x5, 7, "QZ8P55RA\\sticky[0].png"},
        {"https://example.net/keep.css", 0x1, 6, "MRUC2LVP\\keep[0].css"},
        {"http://example.net/caf\u00e9/men\u00fc.html", 0x1, 4,
         "IJHZZ103\\men\u00c3\u00bc[0].html"},
        {"http://example.com/a/page.html", 0x1, 18, "IJHZZ103\\page[0].html"},
        {"http://example.org/big/data.bin", 0x1, 70000, "U7M28ONV\\data[0].bin"},
};

// A test prefix with a URL cache in Wine's default folders of its user.
class CachePrefix
{
public:
    CachePrefix()
        : m_fileSystem(m_prefix.path())
        , m_cache(m_fileSystem,
                  UrlCacheFolders::inProfile(u16("C:\\users\\" + m_prefix.userName())),
                  [this] { return m_wineRunning; })
    {}

    const TestPrefix &prefix() const { return m_prefix; }
    const PrefixUrlCache &cache() const { return m_cache; }
    void setWineRunning(bool running) { m_wineRunning = running; }

    // Below drive_c.
    std::string containerFolder(UrlCacheContainer container) const
    {
        const std::string windows =
                "users/" + m_prefix.userName() + "/AppData/Local/Microsoft/Windows/";
        switch (container) {
        case UrlCacheContainer::Content:
            return windows + "INetCache/Content.IE5";
        case UrlCacheContainer::Cookies:
            return windows + "INetCookies";
        case UrlCacheContainer::History:
            return windows + "History/History.IE5";
        }
        return {};
    }
    std::string hostIndex(UrlCacheContainer container) const
    {
        return m_prefix.hostPath(containerFolder(container) + "/index.dat");
    }
    void writeIndex(UrlCacheContainer container, const Bytes &bytes) const
    {
        writeBytes(hostIndex(container), bytes);
    }
    Bytes index(UrlCacheContainer container) const { return readBytes(hostIndex(container)); }

    // The Wine sample as the content index, with its cached files.
    void writeContentSample(const Bytes &bytes) const
    {
        writeIndex(UrlCacheContainer::Content, bytes);
        const IndexDatFile pristine(sample("content-filled.dat"));
        for (std::size_t i = 0; i < std::size(sampleEntries); ++i) {
            m_prefix.writeFile(contentFile(sampleEntries[i]), "cached");
            setStoredTime(m_prefix, contentFile(sampleEntries[i]),
                          pristine.urlRecords()[i].fileWriteTime);
        }
    }
    std::string contentFile(const SampleEntry &entry) const
    {
        std::string file = entry.file;
        std::replace(file.begin(), file.end(), '\\', '/');
        return containerFolder(UrlCacheContainer::Content) + "/" + file;
    }
    bool exists(const std::string &belowDriveC) const
    {
        return TestPrefix::exists(m_prefix.hostPath(belowDriveC));
    }

private:
    TestPrefix m_prefix;
    PrefixFileSystem m_fileSystem;
    bool m_wineRunning = false;
    PrefixUrlCache m_cache;
};

std::vector<std::string> urlsOf(const std::vector<UrlCacheEntry> &entries)
{
    std::vector<std::string> urls;
    for (const UrlCacheEntry &entry : entries)
        urls.push_back(platform::toUtf8(entry.sourceUrl));
    return urls;
}

const SampleEntry &samplePage = sampleEntries[3];
const SampleEntry &sampleSticky = sampleEntries[0];

// The last-write time the sample keeps for the page's cached file.
std::uint32_t samplePageTime()
{
    return IndexDatFile(sample("content-filled.dat")).urlRecords()[3].fileWriteTime;
}

} // namespace

TEST(IndexDatFile, ReadsWhatWineWrote)
{
    const IndexDatFile file(sample("content-filled.dat"));
    EXPECT_TRUE(file.isConsistent()) << file.problem();
    EXPECT_EQ(file.directoryNames(),
              (std::vector<std::string>{"MRUC2LVP", "IJHZZ103", "U7M28ONV", "QZ8P55RA"}));
    ASSERT_EQ(file.urlRecords().size(), std::size(sampleEntries));
    for (std::size_t i = 0; i < std::size(sampleEntries); ++i) {
        const IndexDatFile::UrlRecord &record = file.urlRecords()[i];
        const SampleEntry &expected = sampleEntries[i];
        EXPECT_EQ(platform::toUtf8(IndexDatFile::decodeUrl(record.url)), expected.url);
        EXPECT_EQ(record.type, expected.type) << expected.url;
        EXPECT_EQ(record.size, expected.size) << expected.url;
        EXPECT_EQ(platform::toUtf8(IndexDatFile::decodeName(
                          file.directoryNames().at(record.directory) + "\\" + record.localName)),
                  expected.file);
    }
}

// Removing the page and the sticky image must change exactly the bytes that Wine's own
// DeleteUrlCacheEntryW changed, whether both go at once or one after the other.
TEST(IndexDatFile, RemovalChangesWhatWineChanges)
{
    const Bytes before = sample("content-filled.dat");
    const Bytes wineAfter = sample("content-two-deleted.dat");
    const IndexDatFile file(before);
    ASSERT_TRUE(file.isConsistent());

    const auto together = file.removal({3, 0});
    ASSERT_TRUE(together);
    EXPECT_EQ(file.applied(*together), wineAfter);

    const IndexDatFile afterPage(file.applied(*file.removal({3})));
    ASSERT_TRUE(afterPage.isConsistent()) << afterPage.problem();
    ASSERT_EQ(afterPage.urlRecords().size(), 4u);
    EXPECT_EQ(afterPage.applied(*afterPage.removal({0})), wineAfter);
}

TEST(IndexDatFile, DecodesUrlsAsWinInetListsThem)
{
    const struct
    {
        const char *stored;
        const char *listed;
    } rows[] = {
            {"http://xn--bcher-kva.example/x", "http://b\u00fccher.example/x"},
            {"HTTPS://user:pw@xn--mnchen-3ya.xn--bcher-kva.example:8080/a?b#c",
             "HTTPS://user:pw@m\u00fcnchen.b\u00fccher.example:8080/a?b#c"},
            {"http://xn--ls8h.example/", "http://\U0001F4A9.example/"},
            {"http://xn--bcher-kva.example/xn--bcher-kva",
             "http://b\u00fccher.example/xn--bcher-kva"},
            {"http://xn--invalid-!.example/", "http://xn--invalid-!.example/"},
            {"http://xn--99999999999999.example/", "http://xn--99999999999999.example/"},
            {"ftp://xn--bcher-kva.example/", "ftp://xn--bcher-kva.example/"},
            {"Visited: root@http://xn--bcher-kva.example/",
             "Visited: root@http://xn--bcher-kva.example/"},
            {"Cookie:root@example.com/", "Cookie:root@example.com/"},
            {"http://example.net/caf\xc3\xa9", "http://example.net/caf\u00e9"},
            {"http:", "http:"},
            {"", ""},
    };
    for (const auto &row : rows)
        EXPECT_EQ(platform::toUtf8(IndexDatFile::decodeUrl(row.stored)), row.listed) << row.stored;
}

TEST(IndexDatFile, DecodesNamesFromTheAnsiCodePage)
{
    EXPECT_EQ(IndexDatFile::decodeName("men\xc3\xbc[0].html"), u"men\u00c3\u00bc[0].html");
    EXPECT_EQ(IndexDatFile::decodeName("\x80\x81\x9f\xff"), u"\u20ac\u0081\u0178\u00ff");
}

TEST(PrefixUrlCache, ListsEntriesWithTheirWindowsFiles)
{
    CachePrefix cache;
    cache.writeContentSample(sample("content-filled.dat"));
    const std::vector<UrlCacheEntry> entries = cache.cache().entries(UrlCacheContainer::Content);
    ASSERT_EQ(entries.size(), std::size(sampleEntries));
    const std::string folder = "C:\\users\\" + cache.prefix().userName() +
                               "\\AppData\\Local\\Microsoft\\Windows\\INetCache\\Content.IE5\\";
    for (std::size_t i = 0; i < entries.size(); ++i) {
        EXPECT_EQ(platform::toUtf8(entries[i].sourceUrl), sampleEntries[i].url);
        EXPECT_EQ(entries[i].type, sampleEntries[i].type);
        EXPECT_EQ(entries[i].size, sampleEntries[i].size);
        EXPECT_EQ(platform::toUtf8(entries[i].localFile), folder + sampleEntries[i].file);
    }
    EXPECT_TRUE(cache.cache().entries(UrlCacheContainer::Cookies).empty());
    EXPECT_TRUE(cache.cache().entries(UrlCacheContainer::History).empty());
}

TEST(PrefixUrlCache, DeletesEntriesAndTheirFilesAsWineDoes)
{
    CachePrefix cache;
    cache.writeContentSample(sample("content-filled.dat"));
    EXPECT_TRUE(cache.cache().deleteEntry(UrlCacheContainer::Content, u16(samplePage.url)));
    EXPECT_TRUE(cache.cache().deleteEntry(UrlCacheContainer::Content, u16(sampleSticky.url)));

    EXPECT_EQ(cache.index(UrlCacheContainer::Content), sample("content-two-deleted.dat"));
    for (const SampleEntry &entry : sampleEntries) {
        const bool deleted = &entry == &samplePage || &entry == &sampleSticky;
        EXPECT_EQ(cache.exists(cache.contentFile(entry)), !deleted) << entry.url;
    }
    EXPECT_TRUE(cache.exists(cache.containerFolder(UrlCacheContainer::Content) + "/QZ8P55RA"));
    EXPECT_EQ(urlsOf(cache.cache().entries(UrlCacheContainer::Content)),
              (std::vector<std::string>{sampleEntries[1].url, sampleEntries[2].url,
                                        sampleEntries[4].url}));
    // Gone means gone: a second deletion finds nothing.
    EXPECT_FALSE(cache.cache().deleteEntry(UrlCacheContainer::Content, u16(samplePage.url)));
}

TEST(PrefixUrlCache, EntryWhoseFileIsAlreadyGoneIsDeleted)
{
    CachePrefix cache;
    cache.writeContentSample(sample("content-filled.dat"));
    fs::remove(cache.prefix().hostPath(cache.contentFile(samplePage)));
    fs::remove(cache.prefix().hostPath(cache.contentFile(sampleSticky)));
    fs::remove(cache.prefix().hostPath(cache.containerFolder(UrlCacheContainer::Content) +
                                       "/QZ8P55RA"));
    EXPECT_TRUE(cache.cache().deleteEntry(UrlCacheContainer::Content, u16(samplePage.url)));
    EXPECT_TRUE(cache.cache().deleteEntry(UrlCacheContainer::Content, u16(sampleSticky.url)));
    EXPECT_EQ(cache.index(UrlCacheContainer::Content), sample("content-two-deleted.dat"));
}

// Every way a deletion must fail leaves the index and every file as they were.
struct RefusedDeletion
{
    const char *name;
    std::function<void(CachePrefix &)> arrange;
    std::string url = samplePage.url;
};

class RefusedDeletions : public testing::TestWithParam<RefusedDeletion>
{};

TEST_P(RefusedDeletions, ChangeNothing)
{
    CachePrefix cache;
    cache.writeContentSample(sample("content-filled.dat"));
    GetParam().arrange(cache);
    const Bytes before = cache.index(UrlCacheContainer::Content);
    const std::size_t listed = cache.cache().entries(UrlCacheContainer::Content).size();

    EXPECT_FALSE(cache.cache().deleteEntry(UrlCacheContainer::Content, u16(GetParam().url)));

    EXPECT_EQ(cache.index(UrlCacheContainer::Content), before);
    EXPECT_EQ(cache.cache().entries(UrlCacheContainer::Content).size(), listed);
    for (const SampleEntry &entry : sampleEntries)
        EXPECT_TRUE(cache.exists(cache.contentFile(entry))) << entry.url;
}

INSTANTIATE_TEST_SUITE_P(
        PrefixUrlCache, RefusedDeletions,
        testing::Values(
                RefusedDeletion{"UnknownUrl", [](CachePrefix &) {}, "http://example.com/other"},
                RefusedDeletion{"UrlDiffersInCase", [](CachePrefix &) {},
                                "http://example.com/A/page.html"},
                RefusedDeletion{"FileIsReadOnly",
                                [](CachePrefix &cache) {
                                    cache.prefix().makeReadOnly(cache.contentFile(samplePage));
                                }},
                RefusedDeletion{"FileIsAFolder",
                                [](CachePrefix &cache) {
                                    const std::string file =
                                            cache.prefix().hostPath(cache.contentFile(samplePage));
                                    fs::remove(file);
                                    fs::create_directory(file);
                                    setStoredTime(cache.prefix(), cache.contentFile(samplePage),
                                                  samplePageTime());
                                }},
                RefusedDeletion{"CacheFolderIsALink",
                                [](CachePrefix &cache) {
                                    // The folder's files are still there, but only through a
                                    // link that the cache must not follow.
                                    const std::string folder = cache.prefix().hostPath(
                                            cache.containerFolder(UrlCacheContainer::Content) +
                                            "/IJHZZ103");
                                    const std::string moved = cache.prefix().path() + "/moved";
                                    fs::rename(folder, moved);
                                    fs::create_symlink(moved, folder);
                                }},
                RefusedDeletion{"WineIsRunning",
                                [](CachePrefix &cache) {
                                    cache.setWineRunning(true);
                                }},
                RefusedDeletion{"IndexIsALink",
                                [](CachePrefix &cache) {
                                    const std::string index =
                                            cache.hostIndex(UrlCacheContainer::Content);
                                    fs::rename(index, index + ".real");
                                    fs::create_symlink("index.dat.real", index);
                                }}),
        [](const testing::TestParamInfo<RefusedDeletion> &info) { return info.param.name; });

TEST(PrefixUrlCache, LinkedCachedFileGoesButNotItsTarget)
{
    CachePrefix cache;
    cache.writeContentSample(sample("content-filled.dat"));
    const std::string target = cache.prefix().makeTopFolder("outside") + "/target.html";
    writeBytes(target, {'k'});
    fs::remove(cache.prefix().hostPath(cache.contentFile(samplePage)));
    cache.prefix().makeLink(cache.contentFile(samplePage), target);
    setStoredTime(cache.prefix(), cache.contentFile(samplePage), samplePageTime());

    EXPECT_TRUE(cache.cache().deleteEntry(UrlCacheContainer::Content, u16(samplePage.url)));
    EXPECT_FALSE(cache.exists(cache.contentFile(samplePage)));
    EXPECT_TRUE(TestPrefix::exists(target));
}

// A file written under the cached file's name after the cache stored it is someone else's now:
// as with WinINet, the entry goes and the file stays.
TEST(PrefixUrlCache, FileWrittenSinceItWasCachedStays)
{
    CachePrefix cache;
    cache.writeContentSample(sample("content-filled.dat"));
    cache.prefix().writeFile(cache.contentFile(samplePage), "new content");

    EXPECT_TRUE(cache.cache().deleteEntry(UrlCacheContainer::Content, u16(samplePage.url)));
    EXPECT_TRUE(cache.exists(cache.contentFile(samplePage)));
    const IndexDatFile before(sample("content-filled.dat"));
    EXPECT_EQ(cache.index(UrlCacheContainer::Content), before.applied(*before.removal({3})));
}

TEST(PrefixUrlCache, CachedFileIsFoundWithoutRegardToCase)
{
    CachePrefix cache;
    cache.writeContentSample(sample("content-filled.dat"));
    const std::string file = cache.prefix().hostPath(cache.contentFile(samplePage));
    fs::rename(file, fs::path(file).parent_path() / "PAGE[0].HTML");
    EXPECT_TRUE(cache.cache().deleteEntry(UrlCacheContainer::Content, u16(samplePage.url)));
    EXPECT_FALSE(TestPrefix::exists(fs::path(file).parent_path() / "PAGE[0].HTML"));
}

TEST(PrefixUrlCache, StoredAndListedFormsOfAUrlBothName)
{
    CachePrefix cache;
    cache.writeIndex(UrlCacheContainer::Content,
                     buildIndex({{"http://xn--bcher-kva.example/a", 1, 3, "a[0].htm", 0},
                                 {"http://xn--bcher-kva.example/b", 1, 3, "b[0].htm", 0}},
                                {"ABCDEFGH"}));
    EXPECT_EQ(urlsOf(cache.cache().entries(UrlCacheContainer::Content)),
              (std::vector<std::string>{"http://b\u00fccher.example/a",
                                        "http://b\u00fccher.example/b"}));
    EXPECT_TRUE(
            cache.cache().deleteEntry(UrlCacheContainer::Content, u"http://b\u00fccher.example/a"));
    EXPECT_TRUE(cache.cache().deleteEntry(UrlCacheContainer::Content,
                                          u"http://xn--bcher-kva.example/b"));
    EXPECT_TRUE(cache.cache().entries(UrlCacheContainer::Content).empty());
    const IndexDatFile after(cache.index(UrlCacheContainer::Content));
    EXPECT_TRUE(after.isConsistent()) << after.problem();
    EXPECT_EQ(get32(after.bytes(), 0x28), 32u);
    EXPECT_EQ(get32(after.bytes(), 0x4C), 0u); // files in the folder
}

TEST(PrefixUrlCache, CookieFilesBesideTheIndexGoWithTheirEntries)
{
    CachePrefix cache;
    const std::string user = cache.prefix().userName();
    cache.writeIndex(UrlCacheContainer::Cookies,
                     buildIndex({{"Cookie:" + user + "@example.com/", platform::CookieCacheEntry,
                                  69, "TTKG45DO.txt"},
                                 {"Cookie:" + user + "@example.org/", platform::CookieCacheEntry,
                                  62, "YWOJ2LVP.txt"}}));
    const std::string folder = cache.containerFolder(UrlCacheContainer::Cookies);
    cache.prefix().writeFile(folder + "/TTKG45DO.txt", "sess\nabc123\n");
    cache.prefix().writeFile(folder + "/YWOJ2LVP.txt", "id\n42\n");
    setStoredTime(cache.prefix(), folder + "/TTKG45DO.txt", builtFileTime);
    setStoredTime(cache.prefix(), folder + "/YWOJ2LVP.txt", builtFileTime);

    const std::vector<UrlCacheEntry> entries = cache.cache().entries(UrlCacheContainer::Cookies);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(platform::toUtf8(entries[0].localFile),
              "C:\\users\\" + user +
                      "\\AppData\\Local\\Microsoft\\Windows\\INetCookies\\TTKG45DO.txt");
    EXPECT_EQ(entries[0].type, platform::CookieCacheEntry);
    EXPECT_EQ(entries[0].size, 69u);

    EXPECT_TRUE(cache.cache().deleteEntry(UrlCacheContainer::Cookies, entries[0].sourceUrl));
    EXPECT_FALSE(cache.exists(folder + "/TTKG45DO.txt"));
    EXPECT_TRUE(cache.exists(folder + "/YWOJ2LVP.txt"));
    const IndexDatFile after(cache.index(UrlCacheContainer::Cookies));
    EXPECT_TRUE(after.isConsistent()) << after.problem();
    EXPECT_EQ(get32(after.bytes(), 0x38), 62u); // bytes of ordinary entries
}

TEST(PrefixUrlCache, ClearHistoryEmptiesOnlyTheHistory)
{
    CachePrefix cache;
    const std::string user = cache.prefix().userName();
    cache.writeContentSample(sample("content-filled.dat"));
    cache.writeIndex(UrlCacheContainer::History, buildIndex({visit(user, "http://example.com/"),
                                                             visit(user, "http://example.org/"),
                                                             visit(user, "http://example.net/")}));
    const Bytes content = cache.index(UrlCacheContainer::Content);

    const platform::UrlCacheCleared cleared = cache.cache().clearHistory();
    EXPECT_EQ(cleared.entriesRemoved, 3u);
    EXPECT_TRUE(cleared.complete);
    EXPECT_TRUE(cache.cache().entries(UrlCacheContainer::History).empty());
    const IndexDatFile history(cache.index(UrlCacheContainer::History));
    EXPECT_TRUE(history.isConsistent()) << history.problem();
    EXPECT_EQ(get32(history.bytes(), 0x28), 32u);
    EXPECT_EQ(cache.index(UrlCacheContainer::Content), content);

    const platform::UrlCacheCleared again = cache.cache().clearHistory();
    EXPECT_EQ(again.entriesRemoved, 0u);
    EXPECT_TRUE(again.complete);
}

TEST(PrefixUrlCache, ClearHistoryReportsWhatStays)
{
    const Bytes history = buildIndex({visit("a", "http://example.com/")});
    Bytes damaged = history;
    put32(damaged, 0x28, 33);
    const struct
    {
        const char *name;
        Bytes index;
        bool wineRunning;
    } rows[] = {{"damaged", damaged, false}, {"Wine running", history, true}};
    for (const auto &row : rows) {
        CachePrefix cache;
        cache.writeIndex(UrlCacheContainer::History, row.index);
        cache.setWineRunning(row.wineRunning);
        const platform::UrlCacheCleared cleared = cache.cache().clearHistory();
        EXPECT_EQ(cleared.entriesRemoved, 0u) << row.name;
        EXPECT_FALSE(cleared.complete) << row.name;
        EXPECT_EQ(cache.index(UrlCacheContainer::History), row.index) << row.name;
    }

    CachePrefix none;
    const platform::UrlCacheCleared cleared = none.cache().clearHistory();
    EXPECT_EQ(cleared.entriesRemoved, 0u);
    EXPECT_TRUE(cleared.complete);
}

// A damaged index is read as far as it is intact and never changed.
struct DamagedIndex
{
    const char *name;
    std::function<void(Bytes &)> damage;
    std::size_t entriesListed;
};

class DamagedIndexes : public testing::TestWithParam<DamagedIndex>
{};

TEST_P(DamagedIndexes, AreReadButNeverChanged)
{
    Bytes bytes = sample("content-filled.dat");
    GetParam().damage(bytes);
    const IndexDatFile file(bytes);
    EXPECT_FALSE(file.isConsistent());
    EXPECT_FALSE(file.removal({0}));

    CachePrefix cache;
    cache.writeContentSample(bytes);
    EXPECT_EQ(cache.cache().entries(UrlCacheContainer::Content).size(), GetParam().entriesListed);
    for (const SampleEntry &entry : sampleEntries)
        EXPECT_FALSE(cache.cache().deleteEntry(UrlCacheContainer::Content, u16(entry.url)));
    EXPECT_EQ(cache.index(UrlCacheContainer::Content), bytes);
    for (const SampleEntry &entry : sampleEntries)
        EXPECT_TRUE(cache.exists(cache.contentFile(entry))) << entry.url;
}

// Records of the sample: sticky 0x5100, keep 0x5300, menu 0x5400, page 0x5000, data 0x5200.
INSTANTIATE_TEST_SUITE_P(
        PrefixUrlCache, DamagedIndexes,
        testing::Values(
                DamagedIndex{"TruncatedInTheRecords", [](Bytes &b) { b.resize(0x5200); }, 2},
                DamagedIndex{"TruncatedInTheHeader", [](Bytes &b) { b.resize(0x3000); }, 0},
                DamagedIndex{"Grown", [](Bytes &b) { b.resize(b.size() + 0x80, 0); }, 5},
                DamagedIndex{"BlockCountTooHigh",
                             [](Bytes &b) { put32(b, 0x28, get32(b, 0x28) + 1); }, 5},
                DamagedIndex{"RecordInAFreeBlock",
                             [](Bytes &b) {
                                 b[0x254] &= 0xFE; // the page's first block
                                 b[0x256] |= 0x04; // an empty one, to keep the count
                             },
                             5},
                DamagedIndex{"BlockAllocatedBeyondCapacity",
                             [](Bytes &b) {
                                 b[0x250 + 0x80 / 8] |= 1;
                                 put32(b, 0x28, get32(b, 0x28) + 1);
                             },
                             5},
                DamagedIndex{"CapacityDisagreesWithSize", [](Bytes &b) { put32(b, 0x24, 0x7F); },
                             5},
                DamagedIndex{"OtherWineVersion", [](Bytes &b) { b[26] = '2'; }, 0},
                DamagedIndex{"NotAnIndex", [](Bytes &b) { b[0] = 'X'; }, 0},
                DamagedIndex{"SlotPointsOutside",
                             [](Bytes &b) { put32(b, 0x4010 + 8 * 161 + 4, 0x9000); }, 4},
                DamagedIndex{"SlotPointsBetweenBlocks",
                             [](Bytes &b) { put32(b, 0x4010 + 8 * 161 + 4, 0x5140); }, 4},
                DamagedIndex{"TwoSlotsShareARecord",
                             [](Bytes &b) { put32(b, 0x4010 + 8 * 287 + 4, 0x5000); }, 5},
                DamagedIndex{"HashTablesLoop", [](Bytes &b) { put32(b, 0x4008, 0x4000); }, 5},
                DamagedIndex{"UrlRunsPastItsRecord",
                             [](Bytes &b) { std::memset(b.data() + 0x5068, 'a', 0x98); }, 4},
                DamagedIndex{"FileNameLeavesTheFolder",
                             [](Bytes &b) { std::memcpy(b.data() + 0x5088, "../x", 4); }, 5},
                DamagedIndex{"FolderIndexUnknown", [](Bytes &b) { b[0x5038] = 7; }, 5},
                DamagedIndex{"TooManyFolders", [](Bytes &b) { put32(b, 0x48, 33); }, 5}),
        [](const testing::TestParamInfo<DamagedIndex> &info) { return info.param.name; });
