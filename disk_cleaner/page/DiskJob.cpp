#include "DiskJob.h"

#include <disk_cleaner/StopRequest.h>

DiskJob::DiskJob(std::unique_ptr<DiskJob> previous, Work work)
    : m_previous(std::move(previous))
    , m_work(std::move(work))
    , m_thread([this] { run(); })
{}

DiskJob::~DiskJob()
{
    wait();
}

void DiskJob::requestStop()
{
    m_stop.store(true);
    diskcleaner::RequestStop();
}

void DiskJob::wait()
{
    if (m_thread.joinable())
        m_thread.join();
}

void DiskJob::run()
{
    if (m_previous) {
        m_previous->wait();
        m_previous.reset();
    }
    // The stop request is process-wide: the run before may have left it set. A stop of this job
    // that came meanwhile is tested again after clearing, and its own flag holds it anyway.
    diskcleaner::ClearStopRequest();
    if (m_stop.load())
        diskcleaner::RequestStop();
    if (!m_stop.load() && m_work)
        m_work(*this);
    m_finished.store(true);
}
