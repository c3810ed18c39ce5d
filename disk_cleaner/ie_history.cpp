#include <disk_cleaner/ie_history.h>

#include <disk_cleaner/StopRequest.h>
#include <disk_cleaner/Trace.h>

#include <platform/Machine.h>

namespace diskcleaner {

namespace {

constexpr const char *cleanItemOperation = "diskcleaner::ie_history::CleanCacheItem";
constexpr const char *cleanOperation = "diskcleaner::ie_history::Clean";

} // namespace

ie_history::ie_history()
    : ie_base(platform::UrlHistoryCacheEntry)
    , m_historyStoreCreated(platform::Machine::hasCurrent())
{
    Title = u"Internet Explorer History";
    Description = u"Removes Internet Explorer history records";
}

void ie_history::CleanCacheItem(const UrlCacheItem &item)
{
    if (!(item.entry.type & platform::UrlHistoryCacheEntry) || !DeleteEntry(item))
        return;
    Trace(u"%hs: deleted %s", cleanItemOperation, item.entry.sourceUrl);
    ++ItemsCleaned;
}

void ie_history::Clean()
{
    ie_base::Clean();
    if (!m_historyStoreCreated || StopRequested() || !platform::Machine::hasCurrent())
        return;
    const platform::UrlCacheCleared cleared =
            platform::Machine::current().urlCache().clearHistory();
    // What the store removed beyond the entries already deleted one by one.
    ItemsCleaned += cleared.entriesRemoved;
    Trace(u"%hs: IUrlHistoryStg2.ClearHistory == %s", cleanOperation,
          cleared.complete ? "S_OK" : "S_ERROR");
}

} // namespace diskcleaner
