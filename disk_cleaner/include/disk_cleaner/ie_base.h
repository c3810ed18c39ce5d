#pragma once

#include <disk_cleaner/FileList.h>
#include <disk_cleaner/PlugInfo.h>

#include <platform/UrlCache.h>

#include <cstdint>

namespace diskcleaner {

// One entry of the URL cache, with the store that keeps it.
struct UrlCacheItem
{
    platform::UrlCacheContainer container = platform::UrlCacheContainer::Content;
    platform::UrlCacheEntry entry;
};

// The common part of the Internet Explorer items, which work on the URL cache of the current
// machine: every entry of every store is looked at, and the item's entry type decides which
// count. An entry that cannot be deleted (the cache is in use, or its index is damaged) is
// skipped and not counted.
class ie_base : public PlugInfo
{
public:
    ~ie_base() override;

    void Scan() final;
    void Rescan() final;
    void GetFileList(FileList &list) const final;

    // Goes through every entry of the cache and hands each to CleanCacheItem(). ItemsCleaned and
    // BytesCleaned start from zero and count what was really deleted.
    void Clean() override;

    // The scan body; Scan() and Rescan() both come here, and the flag makes no difference.
    virtual void DoScan(bool rescan);

    // Deletes one entry of the cache if the item covers it, and counts it when it went.
    virtual void CleanCacheItem(const UrlCacheItem &item) = 0;

protected:
    // typeMask: NormalCacheEntry, CookieCacheEntry or UrlHistoryCacheEntry.
    explicit ie_base(std::uint32_t typeMask);

    // Sets the found list and ItemsFound/BytesFound from zero to the entries the item covers.
    void EnumerateCache();

    // True when the item covers an entry of that type: one of the cookie or history type for
    // those items, and for the cache item an ordinary entry that is neither.
    bool Covers(std::uint32_t entryType) const;

    // Deletes an entry from the cache; true when it is gone.
    static bool DeleteEntry(const UrlCacheItem &item);

    static bool IsCookieOrHistory(std::uint32_t entryType);

    const std::uint32_t m_typeMask;
    FileList m_foundList;
};

} // namespace diskcleaner
