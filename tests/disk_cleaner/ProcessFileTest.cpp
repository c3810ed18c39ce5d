#include "TestPrefix.h"
#include "WalkTestSupport.h"

#include <disk_cleaner/FolderProcessing.h>

#include <platform/FileSystem.h>
#include <platform/Machine.h>

#include <gtest/gtest.h>

using namespace diskcleaner;
using namespace walktest;

namespace {

struct FileCase
{
    const char *name;
    std::chrono::seconds age;
    std::uint32_t minAgeDays;
    WalkMode mode;
    bool vanishesBeforehand; // deleted behind the walk's back after it was listed
    FileResult result;
};

const FileCase fileCases[] = {
        {"SixDaysTwentyThreeHours_TooYoung", 7 * oneDay - 1h, 7, WalkMode::Delete, false,
         FileResult::TooYoung},
        {"SevenDays_Deleted", 7 * oneDay, 7, WalkMode::Delete, false, FileResult::Handled},
        {"SevenDays_Listed", 7 * oneDay, 7, WalkMode::Scan, false, FileResult::Handled},
        {"FutureTime_OldEnough", -oneDay, 7, WalkMode::Delete, false, FileResult::Handled},
        {"NoAgeLimit_NewFile", 0s, 0, WalkMode::Delete, false, FileResult::Handled},
        {"Vanished_NotDeleted", 30 * oneDay, 7, WalkMode::Delete, true, FileResult::NotDeleted},
        {"Vanished_StillListed", 30 * oneDay, 0, WalkMode::Scan, true, FileResult::Handled},
        {"YoungAndVanished_TooYoung", 1h, 1, WalkMode::Delete, true, FileResult::TooYoung},
};

class ProcessFileTest : public ::testing::TestWithParam<FileCase>
{
protected:
    void SetUp() override { m_prefix.install(); }
    TestPrefix m_prefix;
};

TEST_P(ProcessFileTest, ReportsWhatItDidWithTheFile)
{
    const FileCase &testCase = GetParam();
    m_prefix.writeFile("base/a.txt", "abc");
    m_prefix.setAge("base/a.txt", testCase.age);
    const auto folder = platform::Machine::current().fileSystem().openFolder(u"C:\\base");
    ASSERT_TRUE(folder);
    const std::vector<platform::DirectoryEntry> entries = folder->list(u"a.txt");
    ASSERT_EQ(entries.size(), 1u);
    if (testCase.vanishesBeforehand)
        std::filesystem::remove(m_prefix.hostPath("base/a.txt"));

    ScanOptions options;
    options.MinAgeDays = testCase.minAgeDays;
    FileList found;
    const FileResult result = ProcessFile(*folder, u"C:\\base\\a.txt", found, options,
                                          entries.front(), testCase.mode);

    EXPECT_EQ(result, testCase.result);
    const bool listed = testCase.mode == WalkMode::Scan && result == FileResult::Handled;
    EXPECT_EQ(found, listed ? FileList{u"C:\\base\\a.txt"} : FileList{});
    const bool deleted = testCase.mode == WalkMode::Delete && result == FileResult::Handled;
    EXPECT_EQ(present(m_prefix, "base/a.txt"), !deleted && !testCase.vanishesBeforehand);
}

INSTANTIATE_TEST_SUITE_P(Files, ProcessFileTest, ::testing::ValuesIn(fileCases),
                         [](const auto &info) { return std::string(info.param.name); });

} // namespace
