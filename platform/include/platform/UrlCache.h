#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// Entry type bits of the URL cache, with their Windows values.
enum UrlCacheEntryType : std::uint32_t {
    NormalCacheEntry = 0x00000001,
    StickyCacheEntry = 0x00000004,
    EditedCacheEntry = 0x00000008,
    TrackOfflineCacheEntry = 0x00000010,
    TrackOnlineCacheEntry = 0x00000020,
    SparseCacheEntry = 0x00010000,
    CookieCacheEntry = 0x00100000,
    UrlHistoryCacheEntry = 0x00200000,
    InstalledCacheEntry = 0x10000000,
};

// The stores of the URL cache: downloaded content, cookies and the history of visited pages.
enum class UrlCacheContainer { Content, Cookies, History };

// One entry of the URL cache, as FindNextUrlCacheEntryW reports it.
struct UrlCacheEntry
{
    std::uint32_t type = 0;   // UrlCacheEntryType bits
    std::u16string sourceUrl; // "http://...", "Cookie:user@host/path", "Visited: user@http://..."
    std::uint64_t size = 0;   // the complete 64-bit size of the cached file
    std::u16string localFile; // Windows path of the cached file; empty when the entry has none
};

// What UrlCache::clearHistory() really removed.
struct UrlCacheCleared
{
    std::uint64_t entriesRemoved = 0;
    bool complete = true; // false when any history entry stays
};

// The WinINet URL cache of the user.
class UrlCache
{
public:
    virtual ~UrlCache() = default;

    // The entries of a container, in the order the cache keeps them; empty when the container is
    // missing or unreadable. Entries of a damaged index are listed as far as they are intact.
    virtual std::vector<UrlCacheEntry> entries(UrlCacheContainer container) const = 0;

    // Deletes the entry with exactly that source URL and its cached file (DeleteUrlCacheEntryW); a
    // file rewritten since the cache stored it is no longer the cache's and stays. False, with
    // nothing changed, when there is no such entry, its file cannot be deleted, the index is
    // damaged or the cache is in use.
    virtual bool deleteEntry(UrlCacheContainer container, std::u16string_view sourceUrl) const = 0;

    // Removes every entry of the history (IUrlHistoryStg2::ClearHistory).
    virtual UrlCacheCleared clearHistory() const = 0;
};

} // namespace platform
