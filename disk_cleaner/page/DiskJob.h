#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <thread>

// One run of the Disk page's work (an analysis or a clean) on a thread of its own.
//
// Cleaning items keep process-wide state and must never work on two threads at once, so a job
// that is handed the job before it starts its work only once that one has returned: the page
// does not wait for a stopped run on the user-interface thread, and the new run still never
// overlaps it. Before its work starts the job clears the engine's stop request left by the run
// before; a stop asked for in the meantime is kept.
class DiskJob final
{
public:
    // The work; it tests stopRequested() between steps and returns soon after a stop.
    using Work = std::function<void(const DiskJob &job)>;

    DiskJob(std::unique_ptr<DiskJob> previous, Work work);
    // Waits for the work to return; it does not ask it to stop.
    ~DiskJob();
    DiskJob(const DiskJob &) = delete;
    DiskJob &operator=(const DiskJob &) = delete;

    // Asks the work to stop: it makes no further step, and the engine's folder walk in progress
    // ends before its next file. Safe from any thread.
    void requestStop();
    bool stopRequested() const { return m_stop.load(); }

    // True once the work has returned.
    bool finished() const { return m_finished.load(); }

    // Blocks until the work has returned. Call from the thread that owns the job.
    void wait();

private:
    void run();

    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_finished{false};
    std::unique_ptr<DiskJob> m_previous;
    Work m_work;
    std::thread m_thread;
};
