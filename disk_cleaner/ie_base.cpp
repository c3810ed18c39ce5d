#include <disk_cleaner/ie_base.h>

#include <disk_cleaner/StopRequest.h>
#include <disk_cleaner/Trace.h>

#include <platform/Machine.h>

#include <functional>

namespace diskcleaner {

namespace {

constexpr const char *enumerateOperation = "diskcleaner::ie_base::EnumerateCache";

constexpr platform::UrlCacheContainer allContainers[] = {platform::UrlCacheContainer::Content,
                                                         platform::UrlCacheContainer::Cookies,
                                                         platform::UrlCacheContainer::History};

// Hands every entry of every store to the visitor, store by store, until a stop is requested.
void forEachEntry(const std::function<void(const UrlCacheItem &)> &visit)
{
    if (!platform::Machine::hasCurrent())
        return;
    const platform::UrlCache &cache = platform::Machine::current().urlCache();
    for (platform::UrlCacheContainer container : allContainers) {
        UrlCacheItem item;
        item.container = container;
        for (platform::UrlCacheEntry &entry : cache.entries(container)) {
            if (StopRequested())
                return;
            item.entry = std::move(entry);
            visit(item);
        }
    }
}

} // namespace

ie_base::ie_base(std::uint32_t typeMask)
    : m_typeMask(typeMask)
{}

ie_base::~ie_base() = default;

void ie_base::Scan()
{
    DoScan(false);
}

void ie_base::Rescan()
{
    DoScan(true);
}

void ie_base::DoScan(bool)
{
    EnumerateCache();
}

void ie_base::GetFileList(FileList &list) const
{
    list.insert(list.end(), m_foundList.begin(), m_foundList.end());
}

bool ie_base::IsCookieOrHistory(std::uint32_t entryType)
{
    return entryType & (platform::CookieCacheEntry | platform::UrlHistoryCacheEntry);
}

bool ie_base::Covers(std::uint32_t entryType) const
{
    if (!(entryType & m_typeMask))
        return false;
    if (m_typeMask == platform::CookieCacheEntry || m_typeMask == platform::UrlHistoryCacheEntry)
        return true;
    return m_typeMask == platform::NormalCacheEntry && !IsCookieOrHistory(entryType);
}

void ie_base::EnumerateCache()
{
    ItemsFound = 0;
    BytesFound = 0;
    m_foundList.clear();
    forEachEntry([this](const UrlCacheItem &item) {
        if (!Covers(item.entry.type))
            return;
        Trace(u"%hs: Found %s", enumerateOperation, item.entry.sourceUrl);
        ++ItemsFound;
        BytesFound += item.entry.size;
        m_foundList.push_back(item.entry.sourceUrl);
    });
}

void ie_base::Clean()
{
    ItemsCleaned = 0;
    BytesCleaned = 0;
    forEachEntry([this](const UrlCacheItem &item) { CleanCacheItem(item); });
}

bool ie_base::DeleteEntry(const UrlCacheItem &item)
{
    return platform::Machine::hasCurrent() && platform::Machine::current().urlCache().deleteEntry(
                                                      item.container, item.entry.sourceUrl);
}

} // namespace diskcleaner
