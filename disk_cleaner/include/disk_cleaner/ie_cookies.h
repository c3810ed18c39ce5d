#pragma once

#include <disk_cleaner/ie_base.h>

namespace diskcleaner {

// Internet Explorer's cookies: the cookie entries of the URL cache and their cookie files.
class ie_cookies final : public ie_base
{
public:
    ie_cookies();

    void CleanCacheItem(const UrlCacheItem &item) override;
};

} // namespace diskcleaner
