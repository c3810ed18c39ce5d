#pragma once

#include <disk_cleaner/ie_base.h>

namespace diskcleaner {

// Internet Explorer's history: the history entries of the URL cache, then whatever the history
// store still holds. Only entries are counted, never bytes.
class ie_history final : public ie_base
{
public:
    ie_history();

    // Deletes the history entries one by one, then clears the history store. ItemsCleaned counts
    // the entries that both steps really removed.
    void Clean() override;

    void CleanCacheItem(const UrlCacheItem &item) override;

private:
    // Whether the history store could be reached when the item was made.
    bool m_historyStoreCreated = false;
};

} // namespace diskcleaner
