#include <disk_cleaner/ie_cookies.h>

#include <disk_cleaner/Trace.h>

namespace diskcleaner {

namespace {

constexpr const char *cleanOperation = "diskcleaner::ie_cookies::CleanCacheItem";

} // namespace

ie_cookies::ie_cookies()
    : ie_base(platform::CookieCacheEntry)
{
    Title = u"Internet Explorer Cookies";
    Description = u"Removes Internet Explorer cookie files";
}

void ie_cookies::CleanCacheItem(const UrlCacheItem &item)
{
    if (!(item.entry.type & platform::CookieCacheEntry) || !DeleteEntry(item))
        return;
    Trace(u"%hs: deleted %s", cleanOperation, item.entry.sourceUrl);
    ++ItemsCleaned;
    BytesCleaned += item.entry.size;
}

} // namespace diskcleaner
