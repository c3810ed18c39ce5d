#include "TestPrefix.h"
#include "WalkTestSupport.h"

#include <disk_cleaner/FolderProcessing.h>
#include <disk_cleaner/Trace.h>

#include <platform/Text.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

using namespace diskcleaner;
using namespace walktest;

namespace {

struct FormatCase
{
    const char *name;
    std::u16string format;
    std::vector<TraceArgument> arguments;
    std::u16string line;
};

std::u16string format(const FormatCase &testCase)
{
    // FormatTrace takes an initializer list; hand the arguments over by count.
    const auto &a = testCase.arguments;
    switch (a.size()) {
    case 0:
        return FormatTrace(testCase.format, {});
    case 1:
        return FormatTrace(testCase.format, {a[0]});
    case 2:
        return FormatTrace(testCase.format, {a[0], a[1]});
    default:
        return FormatTrace(testCase.format, {a[0], a[1], a[2]});
    }
}

const std::uint64_t maxUnsigned = std::numeric_limits<std::uint64_t>::max();

const FormatCase formatCases[] = {
        {"NarrowAndWideTexts",
         u"%hs: processing file %s",
         {"ProcessFile", u"C:\\a\\b.txt"},
         u"ProcessFile: processing file C:\\a\\b.txt"},
        {"NarrowTextIsUtf8", u"[%hs]", {"\xc3\xa9t\xc3\xa9"}, u"[\u00e9t\u00e9]"},
        {"WideTextKeepsEveryUnit", u"%s", {u"\u65e5\u672c\U0001f600"}, u"\u65e5\u672c\U0001f600"},
        {"SixtyFourBitSigned", u"age = %I64d days", {maxUnsigned}, u"age = -1 days"},
        {"SixtyFourBitLarge", u"%I64d", {std::uint64_t{5368709120}}, u"5368709120"},
        {"ThirtyTwoBitCut", u"%d", {std::uint64_t{0x100000007}}, u"7"},
        {"ThirtyTwoBitNegative",
         u"minimum age = %d",
         {std::uint32_t{0xffffffff}},
         u"minimum age = -1"},
        {"NegativeNumber", u"%d", {-42}, u"-42"},
        {"Unsigned", u"%u", {std::uint32_t{4000000000}}, u"4000000000"},
        {"Hexadecimal", u"GetLastError(): %x", {0x1fU}, u"GetLastError(): 1f"},
        {"PercentSign", u"100%% done", {}, u"100% done"},
        {"MissingArgumentKeptAsWritten", u"%hs: %s", {"Op"}, u"Op: %s"},
        {"UnknownConversionKept", u"%q %s", {u"x"}, u"%q x"},
        {"TrailingPercent", u"end %", {}, u"end %"},
        {"NumberForText", u"%s", {7}, u"7"},
        {"TextForNumber", u"%d", {u"seven"}, u"seven"},
        {"ExtraArgumentsIgnored", u"%s", {u"a", u"b"}, u"a"},
};

class FormatTest : public ::testing::TestWithParam<FormatCase>
{};

TEST_P(FormatTest, FormatsLikeTheEngineTraces)
{
    EXPECT_EQ(format(GetParam()), GetParam().line);
}

INSTANTIATE_TEST_SUITE_P(Formats, FormatTest, ::testing::ValuesIn(formatCases),
                         [](const auto &info) { return std::string(info.param.name); });

class TraceSinkTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_prefix.install();
        SetTraceSink([this](std::u16string_view line) { m_lines.emplace_back(line); });
    }
    void TearDown() override { SetTraceSink({}); }

    TestPrefix m_prefix;
    std::vector<std::u16string> m_lines;
};

TEST_F(TraceSinkTest, AnInstalledSinkReceivesLinesAndAnEmptyOneDiscardsThem)
{
    EXPECT_TRUE(TraceEnabled());
    Trace(u"%hs: %s", "Op", u"one");
    const TraceSink previous = SetTraceSink({});
    EXPECT_FALSE(TraceEnabled());
    Trace(u"%hs: %s", "Op", u"two");
    ASSERT_TRUE(previous);
    SetTraceSink(previous);
    Trace(u"%hs: %s", "Op", u"three");
    EXPECT_EQ(m_lines, (std::vector<std::u16string>{u"Op: one", u"Op: three"}));
}

TEST_F(TraceSinkTest, AScanWithAnAgeLimitTracesEachStep)
{
    m_prefix.writeFile("base/a.txt");
    m_prefix.setAge("base/a.txt", 30 * oneDay + 1h);
    ScanOptions options;
    options.MinAgeDays = 1;
    options.DelBaseFolder = true;
    FileList found;
    ScanFilesInFolder(u"C:\\base\\", {u"*.txt"}, options, found);
    EXPECT_EQ(m_lines, (std::vector<std::u16string>{
                               u"ProcessFilesInFolder setting up C:\\base\\...",
                               u"ProcessFilesInFolder: FindFirstFile(C:\\base\\*.txt)",
                               u"ProcessFilesInFolder: FindFirstFile() found: a.txt",
                               u"ProcessFile: processing file C:\\base\\a.txt",
                               u"ProcessFile: Checking file age of C:\\base\\a.txt",
                               u"ProcessFile: file age = 30 days, minimum age = 1",
                               u"ProcessFile: adding C:\\base\\a.txt",
                               u"ProcessFilesInFolder: Would try to delete C:\\base",
                       }));
}

TEST_F(TraceSinkTest, ARecursiveCleanTracesDeletionsAndFolderRemovals)
{
    m_prefix.writeFile("base/a.txt");
    m_prefix.writeFile("base/sub/b.txt");
    m_prefix.writeFile("base/keep/young.txt");
    m_prefix.setAge("base/a.txt", 3 * oneDay);
    m_prefix.setAge("base/sub/b.txt", 3 * oneDay);
    ScanOptions options;
    options.MinAgeDays = 2;
    options.Recursive = true;
    options.DelBaseFolder = true;
    FileList found;
    CleanFilesInFolder(u"C:\\base\\", {u"*.txt"}, options, found);

    // Subfolders come in listing order; check each one's lines as a block.
    const std::vector<std::u16string> head = {
            u"ProcessFilesInFolder setting up C:\\base\\...",
            u"ProcessFilesInFolder: FindFirstFile(C:\\base\\*.txt)",
            u"ProcessFilesInFolder: FindFirstFile() found: a.txt",
            u"ProcessFile: processing file C:\\base\\a.txt",
            u"ProcessFile: Checking file age of C:\\base\\a.txt",
            u"ProcessFile: file age = 3 days, minimum age = 2",
            u"ProcessFile: adding C:\\base\\a.txt",
            u"ProcessFile: Delete C:\\base\\a.txt",
            u"ProcessFile: Deleted C:\\base\\a.txt",
            u"ProcessFilesInFolder: Scan for subfolders of C:\\base\\",
    };
    const std::vector<std::u16string> sub = {
            u"ProcessFilesInFolder: FindFirstFile(C:\\base\\*.*) has subfolder sub",
            u"ProcessFilesInFolder: FindFirstFile(C:\\base\\sub\\*.txt)",
            u"ProcessFilesInFolder: FindFirstFile() found: b.txt",
            u"ProcessFile: processing file C:\\base\\sub\\b.txt",
            u"ProcessFile: Checking file age of C:\\base\\sub\\b.txt",
            u"ProcessFile: file age = 3 days, minimum age = 2",
            u"ProcessFile: adding C:\\base\\sub\\b.txt",
            u"ProcessFile: Delete C:\\base\\sub\\b.txt",
            u"ProcessFile: Deleted C:\\base\\sub\\b.txt",
            u"ProcessFilesInFolder: Scan for subfolders of C:\\base\\sub\\",
            u"Removing folder C:\\base\\sub",
    };
    const std::vector<std::u16string> keep = {
            u"ProcessFilesInFolder: FindFirstFile(C:\\base\\*.*) has subfolder keep",
            u"ProcessFilesInFolder: FindFirstFile(C:\\base\\keep\\*.txt)",
            u"ProcessFilesInFolder: FindFirstFile() found: young.txt",
            u"ProcessFile: processing file C:\\base\\keep\\young.txt",
            u"ProcessFile: Checking file age of C:\\base\\keep\\young.txt",
            u"ProcessFile: file age = 0 days, minimum age = 2",
            u"ProcessFile: skipping C:\\base\\keep\\young.txt",
            u"ProcessFilesInFolder: Scan for subfolders of C:\\base\\keep\\",
            u"Not removing folder C:\\base\\keep: it contains files that aren't old enough to "
            u"remove.",
    };
    const std::vector<std::u16string> tail = {
            u"ProcessFilesInFolder: Trying to delete C:\\base",
            u"Unable to remove the base folder C:\\base as requested (option /si)",
    };

    std::vector<std::u16string> subThenKeep = head;
    std::vector<std::u16string> keepThenSub = head;
    subThenKeep.insert(subThenKeep.end(), sub.begin(), sub.end());
    subThenKeep.insert(subThenKeep.end(), keep.begin(), keep.end());
    keepThenSub.insert(keepThenSub.end(), keep.begin(), keep.end());
    keepThenSub.insert(keepThenSub.end(), sub.begin(), sub.end());
    subThenKeep.insert(subThenKeep.end(), tail.begin(), tail.end());
    keepThenSub.insert(keepThenSub.end(), tail.begin(), tail.end());
    EXPECT_TRUE(m_lines == subThenKeep || m_lines == keepThenSub) << platform::toUtf8([this] {
        std::u16string all;
        for (const std::u16string &line : m_lines)
            all += line + u"\n";
        return all;
    }());
}

} // namespace
