#pragma once

#include <disk_cleaner/firefox_base.h>

namespace diskcleaner {

// Firefox's cookie stores in the profile folder: "cookies.txt" (older versions) and
// "cookies.sqlite", at most these two files.
class firefox_cookies final : public firefox_base
{
public:
    firefox_cookies();

    void DoScan(bool rescan) override;
    void Clean() override;
};

} // namespace diskcleaner
