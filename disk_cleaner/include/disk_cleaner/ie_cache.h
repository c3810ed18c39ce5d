#pragma once

#include <disk_cleaner/ie_base.h>

namespace diskcleaner {

// Internet Explorer's cache: the entries of the URL cache that are neither cookies nor history,
// with their cached files. Sticky entries, which the cache itself keeps for a while, go too.
class ie_cache final : public ie_base
{
public:
    ie_cache();

    void CleanCacheItem(const UrlCacheItem &item) override;
};

} // namespace diskcleaner
