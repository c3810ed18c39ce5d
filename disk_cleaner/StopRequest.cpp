#include <disk_cleaner/StopRequest.h>

#include <atomic>

namespace diskcleaner {

namespace {

// Only a flag: nothing else is published through it, so relaxed ordering is enough.
std::atomic<bool> stopRequested{false};

} // namespace

void RequestStop()
{
    stopRequested.store(true, std::memory_order_relaxed);
}

void ClearStopRequest()
{
    stopRequested.store(false, std::memory_order_relaxed);
}

bool StopRequested()
{
    return stopRequested.load(std::memory_order_relaxed);
}

} // namespace diskcleaner
