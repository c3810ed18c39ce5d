#include <disk_cleaner/ie_cache.h>

#include <disk_cleaner/Trace.h>

namespace diskcleaner {

namespace {

constexpr const char *cleanOperation = "diskcleaner::ie_cache::CleanCacheItem";

} // namespace

ie_cache::ie_cache()
    : ie_base(platform::NormalCacheEntry)
{
    Title = u"Internet Explorer Cache";
    Description = u"Clears the Internet Explorer browser cache";
    Process = u"iexplore.exe";
    Application = u"Internet Explorer";
}

void ie_cache::CleanCacheItem(const UrlCacheItem &item)
{
    if (IsCookieOrHistory(item.entry.type) || !DeleteEntry(item))
        return;
    if (item.entry.type & platform::StickyCacheEntry)
        Trace(u"%hs: deleted sticky %s", cleanOperation, item.entry.sourceUrl);
    else
        Trace(u"%hs: deleted %s", cleanOperation, item.entry.sourceUrl);
    ++ItemsCleaned;
    BytesCleaned += item.entry.size;
}

} // namespace diskcleaner
