#include "TestPrefix.h"
#include "WalkTestSupport.h"

#include <disk_cleaner/FolderProcessing.h>
#include <disk_cleaner/Trace.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

using namespace diskcleaner;
using namespace walktest;

namespace {

namespace fs = std::filesystem;

// Swaps subfolders of the tree for links to an outside folder and back, over and over, the way an
// attacker (or an unlucky program) might while a clean runs.
class Swapper final
{
public:
    Swapper(std::vector<fs::path> victims, fs::path outside)
        : m_victims(std::move(victims))
        , m_outside(std::move(outside))
        , m_thread([this] { run(); })
    {}
    ~Swapper()
    {
        m_stop = true;
        m_thread.join();
    }
    std::uint64_t swaps() const { return m_swaps; }

private:
    void run()
    {
        while (!m_stop) {
            for (const fs::path &victim : m_victims) {
                std::error_code ignored;
                const fs::path moved = victim.string() + ".moved";
                fs::rename(victim, moved, ignored);
                fs::create_directory_symlink(m_outside, victim, ignored);
                if (!ignored)
                    ++m_swaps;
                std::this_thread::yield();
                if (fs::is_symlink(fs::symlink_status(victim, ignored)))
                    fs::remove(victim, ignored);
                fs::rename(moved, victim, ignored);
            }
        }
    }

    std::vector<fs::path> m_victims;
    fs::path m_outside;
    std::atomic<bool> m_stop{false};
    std::atomic<std::uint64_t> m_swaps{0};
    std::thread m_thread;
};

void buildTree(const TestPrefix &prefix)
{
    for (int file = 0; file < 100; ++file) {
        const std::string name = "/f" + std::to_string(file) + ".txt";
        prefix.writeFile("tree/victim" + name);
        prefix.writeFile("tree/victim/inner" + name);
        prefix.writeFile("tree/other" + name);
        prefix.writeFile("tree/other/victim2" + name);
    }
}

TEST(FolderWalkRaceTest, ASubfolderSwappedForALinkNeverLeadsOutOfTheTree)
{
    TestPrefix prefix;
    prefix.install();
    std::vector<std::string> outsideFiles;
    for (int file = 0; file < 20; ++file) {
        outsideFiles.push_back("outside/o" + std::to_string(file) + ".txt");
        outsideFiles.push_back("outside/deep/d" + std::to_string(file) + ".txt");
    }
    for (const std::string &file : outsideFiles)
        prefix.writeFile(file);

    std::uint64_t linksMet = 0;
    SetTraceSink([&linksMet](std::u16string_view line) {
        if (line.find(u"not entering the link") != std::u16string_view::npos ||
            line.find(u"cannot open the folder") != std::u16string_view::npos)
            ++linksMet;
    });

    ScanOptions options;
    options.Recursive = true;
    options.DelBaseFolder = true;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(4);
    int runs = 0;
    std::uint64_t swaps = 0;
    while (std::chrono::steady_clock::now() < end) {
        buildTree(prefix);
        {
            Swapper swapper({prefix.hostPath("tree/victim"), prefix.hostPath("tree/other/victim2")},
                            prefix.hostPath("outside"));
            FileList found;
            CleanFilesInFolder(u"C:\\tree\\", {u"*.*"}, options, found);
            swaps += swapper.swaps();
        }
        ++runs;
        for (const std::string &file : outsideFiles)
            ASSERT_TRUE(present(prefix, file)) << file << " removed in run " << runs;
        std::error_code ignored;
        fs::remove_all(prefix.hostPath("tree"), ignored); // removes links, never follows them
        ASSERT_TRUE(present(prefix, "outside/o0.txt"));
    }
    SetTraceSink({});
    RecordProperty("runs", runs);
    RecordProperty("swaps", static_cast<int>(swaps));
    RecordProperty("linksMet", static_cast<int>(linksMet));
    EXPECT_GT(runs, 0);
}

} // namespace
