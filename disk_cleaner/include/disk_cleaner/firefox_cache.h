#pragma once

#include <disk_cleaner/firefox_base.h>

#include <string>
#include <vector>

namespace diskcleaner {

// Firefox's disk cache: everything in the cache folders of the profile and of its local folder.
class firefox_cache final : public firefox_base
{
public:
    firefox_cache();

    void DoScan(bool rescan) override;
    void Clean() override;

    // The cache folders walked, each ending in "\": "Cache" (older versions) and "cache2" (every
    // version since 2014), in the profile folder and in the local folder. A folder that the local
    // folder shares with the profile folder is listed once. Empty when the profile is not known.
    static std::vector<std::u16string> CacheFolders();
};

} // namespace diskcleaner
