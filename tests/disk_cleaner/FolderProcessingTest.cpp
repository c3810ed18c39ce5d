#include "TestPrefix.h"
#include "WalkTestSupport.h"

#include <disk_cleaner/FolderProcessing.h>
#include <disk_cleaner/StopRequest.h>
#include <disk_cleaner/Trace.h>

#include <platform/Text.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

using namespace diskcleaner;
using namespace walktest;

namespace {

class WalkTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_prefix.install();
        ClearStopRequest();
    }
    void TearDown() override
    {
        ClearStopRequest();
        SetTraceSink({});
    }

    TestPrefix m_prefix;
};

// ---------------------------------------------------------------------------------------------
// The options, on one tree whose files differ in age and size.

struct TreeFile
{
    const char *path; // below base/
    std::chrono::seconds age;
};

// Sizes are 1, 2, 3... bytes in this order, so every total of bytes tells which files counted.
const std::vector<TreeFile> treeFiles = {
        {"top.txt", 30 * oneDay},        {".hidden", 30 * oneDay},
        {"old.log", 7 * oneDay},         {"young.log", 7 * oneDay - 1h},
        {"future.txt", -oneDay},         {"sub/a.txt", 30 * oneDay},
        {"sub/deep/b.txt", 30 * oneDay}, {"keep/young.txt", 7 * oneDay - 1h},
};
const std::vector<std::string> treeFolders = {"sub", "sub/deep", "keep"};

const std::set<std::string> filesAtTop = {"top.txt", ".hidden", "old.log", "young.log",
                                          "future.txt"};
const std::set<std::string> filesBelow = {"sub/a.txt", "sub/deep/b.txt", "keep/young.txt"};
const std::set<std::string> oldFilesAtTop = {"top.txt", ".hidden", "old.log", "future.txt"};
const std::set<std::string> oldFilesBelow = {"sub/a.txt", "sub/deep/b.txt"};

std::set<std::string> both(const std::set<std::string> &a, const std::set<std::string> &b)
{
    std::set<std::string> all = a;
    all.insert(b.begin(), b.end());
    return all;
}

struct OptionCase
{
    const char *name;
    ScanOptions options;
    WalkMode mode;
    std::set<std::string> handled;        // files listed or deleted
    std::set<std::string> removedFolders; // subfolders gone after the walk
    bool baseRemoved;
    bool tooYoung; // the walk's result
};

ScanOptions options(std::uint32_t minAgeDays, bool recursive, bool subFolderOnly,
                    bool delBaseFolder)
{
    ScanOptions result;
    result.MinAgeDays = minAgeDays;
    result.Recursive = recursive;
    result.SubFolderOnly = subFolderOnly;
    result.DelBaseFolder = delBaseFolder;
    return result;
}

const std::set<std::string> allFolders = {"sub", "sub/deep", "keep"};

const OptionCase optionCases[] = {
        {"FilesOfBaseOnly_Scan",
         options(0, false, false, false),
         WalkMode::Scan,
         filesAtTop,
         {},
         false,
         false},
        {"FilesOfBaseOnly_Clean",
         options(0, false, false, false),
         WalkMode::Delete,
         filesAtTop,
         {},
         false,
         false},
        {"Recursive_Scan",
         options(0, true, false, false),
         WalkMode::Scan,
         both(filesAtTop, filesBelow),
         {},
         false,
         false},
        {"Recursive_Clean", options(0, true, false, false), WalkMode::Delete,
         both(filesAtTop, filesBelow), allFolders, false, false},
        {"RecursiveDelBaseFolder_Clean", options(0, true, false, true), WalkMode::Delete,
         both(filesAtTop, filesBelow), allFolders, true, false},
        {"RecursiveDelBaseFolder_ScanChangesNothing",
         options(0, true, false, true),
         WalkMode::Scan,
         both(filesAtTop, filesBelow),
         {},
         false,
         false},
        {"MinAge7_Clean",
         options(7, false, false, false),
         WalkMode::Delete,
         oldFilesAtTop,
         {},
         false,
         true},
        {"MinAge7Recursive_Clean",
         options(7, true, false, false),
         WalkMode::Delete,
         both(oldFilesAtTop, oldFilesBelow),
         {"sub", "sub/deep"},
         false,
         true},
        {"MinAge7Recursive_Scan",
         options(7, true, false, false),
         WalkMode::Scan,
         both(oldFilesAtTop, oldFilesBelow),
         {},
         false,
         true},
        {"MinAge7RecursiveDelBaseFolder_YoungFileKeepsBase",
         options(7, true, false, true),
         WalkMode::Delete,
         both(oldFilesAtTop, oldFilesBelow),
         {"sub", "sub/deep"},
         false,
         true},
        {"SubFolderOnlyRecursive_Clean", options(0, true, true, false), WalkMode::Delete,
         filesBelow, allFolders, false, false},
        {"SubFolderOnlyRecursive_Scan",
         options(0, true, true, false),
         WalkMode::Scan,
         filesBelow,
         {},
         false,
         false},
        {"SubFolderOnlyWithoutRecursive_HandlesNothing",
         options(0, false, true, true),
         WalkMode::Delete,
         {},
         {},
         false,
         false},
        {"MinAge8_SevenDayFileTooYoung",
         options(8, false, false, false),
         WalkMode::Delete,
         {"top.txt", ".hidden", "future.txt"},
         {},
         false,
         true},
};

class OptionTest : public WalkTest, public ::testing::WithParamInterface<OptionCase>
{};

TEST_P(OptionTest, HandlesExactlyTheQualifyingFiles)
{
    const OptionCase &testCase = GetParam();
    std::uint64_t size = 0;
    std::uint64_t expectedBytes = 0;
    for (const TreeFile &file : treeFiles) {
        const std::string path = std::string("base/") + file.path;
        m_prefix.writeFile(path, std::string(++size, 'x'));
        m_prefix.setAge(path, file.age);
        if (testCase.handled.count(file.path))
            expectedBytes += size;
    }

    FileList found = {u"kept entry"};
    FolderTotals totals{99, 99};
    const bool tooYoung = ProcessFilesInFolder(u"C:\\base\\", {u"*.*"}, testCase.options, found,
                                               totals, testCase.mode);

    EXPECT_EQ(tooYoung, testCase.tooYoung);
    EXPECT_EQ(totals.Count, testCase.handled.size());
    EXPECT_EQ(totals.Bytes, expectedBytes);

    std::vector<std::u16string> expectedFound = {u"kept entry"};
    if (testCase.mode == WalkMode::Scan) {
        for (const std::string &file : testCase.handled)
            expectedFound.push_back(windowsPath("base/" + file));
    }
    EXPECT_EQ(sorted(found), sorted(expectedFound));

    for (const TreeFile &file : treeFiles) {
        const bool gone = testCase.mode == WalkMode::Delete && testCase.handled.count(file.path);
        EXPECT_EQ(present(m_prefix, std::string("base/") + file.path), !gone) << file.path;
    }
    for (const std::string &folder : treeFolders)
        EXPECT_EQ(present(m_prefix, "base/" + folder), !testCase.removedFolders.count(folder))
                << folder;
    EXPECT_EQ(present(m_prefix, "base"), !testCase.baseRemoved);
}

INSTANTIATE_TEST_SUITE_P(Options, OptionTest, ::testing::ValuesIn(optionCases),
                         [](const auto &info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------------------------
// Patterns.

struct PatternCase
{
    const char *name;
    PatternList patterns;
    WalkMode mode;
    std::vector<std::u16string> found; // in a scan, sorted
    std::uint64_t count;
    std::set<std::string> remaining;
};

const PatternCase patternCases[] = {
        {"TwoPatternsMatchOneFile_ScanListsItTwice",
         {u"*.txt", u"a.*"},
         WalkMode::Scan,
         {u"C:\\base\\a.log", u"C:\\base\\a.txt", u"C:\\base\\a.txt", u"C:\\base\\b.txt"},
         4,
         {"a.txt", "b.txt", "a.log"}},
        {"TwoPatternsMatchOneFile_CleanDeletesItOnce",
         {u"*.txt", u"a.*"},
         WalkMode::Delete,
         {},
         3,
         {}},
        {"EmptyList", {}, WalkMode::Delete, {}, 0, {"a.txt", "b.txt", "a.log"}},
        {"EmptyPattern", {u""}, WalkMode::Delete, {}, 0, {"a.txt", "b.txt", "a.log"}},
        {"NoMatch", {u"*.tmp"}, WalkMode::Scan, {}, 0, {"a.txt", "b.txt", "a.log"}},
        {"ExactName", {u"b.txt"}, WalkMode::Delete, {}, 1, {"a.txt", "a.log"}},
};

class PatternTest : public WalkTest, public ::testing::WithParamInterface<PatternCase>
{};

TEST_P(PatternTest, HandlesFilesOncePerMatchingPattern)
{
    const PatternCase &testCase = GetParam();
    for (const char *file : {"a.txt", "b.txt", "a.log"})
        m_prefix.writeFile(std::string("base/") + file);

    FileList found;
    FolderTotals totals;
    ProcessFilesInFolder(u"C:\\base\\", testCase.patterns, ScanOptions{}, found, totals,
                         testCase.mode);

    EXPECT_EQ(sorted(found), testCase.found);
    EXPECT_EQ(totals.Count, testCase.count);
    for (const char *file : {"a.txt", "b.txt", "a.log"})
        EXPECT_EQ(present(m_prefix, std::string("base/") + file), testCase.remaining.count(file))
                << file;
}

INSTANTIATE_TEST_SUITE_P(Patterns, PatternTest, ::testing::ValuesIn(patternCases),
                         [](const auto &info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------------------------
// DOS attributes kept by Wine: system and offline files are skipped, hidden ones are not.

struct AttributeCase
{
    bool includeSystemFiles;
    std::set<std::string> deleted;
};

class AttributeTest : public WalkTest, public ::testing::WithParamInterface<AttributeCase>
{};

TEST_P(AttributeTest, SkipsSystemAndOfflineFiles)
{
    const std::vector<std::pair<std::string, std::string>> files = {
            {"plain.dat", ""},
            {"system.dat", "0x4"},
            {"offline.dat", "0x1000"},
            {"hidden.dat", "0x2"},
            {"systemoffline.dat", "0x1004"}};
    for (const auto &[name, attributes] : files) {
        m_prefix.writeFile("base/" + name);
        if (!attributes.empty() && !setDosAttributes(m_prefix, "base/" + name, attributes))
            GTEST_SKIP() << "the file system takes no user extended attributes";
    }

    ScanOptions walkOptions;
    walkOptions.IncludeSystemFiles = GetParam().includeSystemFiles;
    FileList found;
    const FolderTotals totals = CleanFilesInFolder(u"C:\\base\\", {u"*.*"}, walkOptions, found);

    EXPECT_EQ(totals.Count, GetParam().deleted.size());
    for (const auto &[name, attributes] : files)
        EXPECT_EQ(present(m_prefix, "base/" + name), !GetParam().deleted.count(name)) << name;
}

INSTANTIATE_TEST_SUITE_P(
        Attributes, AttributeTest,
        ::testing::Values(AttributeCase{false, {"plain.dat", "hidden.dat"}},
                          AttributeCase{true, {"plain.dat", "hidden.dat", "system.dat"}}),
        [](const auto &info) {
            return std::string(info.param.includeSystemFiles ? "IncludeSystemFiles" : "Default");
        });

// ---------------------------------------------------------------------------------------------

TEST_F(WalkTest, CountsTheFullSizeOfAFileBeyondFourGibibytes)
{
    m_prefix.writeSparseFile("base/huge.bin", 5ULL << 30);
    FileList found;
    const FolderTotals totals = ScanFilesInFolder(u"C:\\base\\", {u"*.*"}, ScanOptions{}, found);
    EXPECT_EQ(totals.Count, 1u);
    EXPECT_EQ(totals.Bytes, 5368709120ULL);
}

TEST_F(WalkTest, ListsTheFilesOfAFolderBeforeThoseOfItsSubfolders)
{
    m_prefix.writeFile("base/sub/inner/c.txt");
    m_prefix.writeFile("base/sub/b.txt");
    m_prefix.writeFile("base/a.txt");
    ScanOptions walkOptions;
    walkOptions.Recursive = true;
    FileList found;
    ScanFilesInFolder(u"C:\\base\\", {u"*.txt"}, walkOptions, found);
    EXPECT_EQ(found, (FileList{u"C:\\base\\a.txt", u"C:\\base\\sub\\b.txt",
                               u"C:\\base\\sub\\inner\\c.txt"}));
}

TEST_F(WalkTest, WritesCompleteWindowsPathsWhateverTheSeparatorsOfTheBaseFolder)
{
    m_prefix.writeFile("base/sub/b.txt");
    ScanOptions walkOptions;
    walkOptions.Recursive = true;
    // The caller's spelling stays; only the separators become "\\".
    const std::pair<std::u16string_view, std::u16string_view> cases[] = {
            {u"C:/base", u"C:\\base\\sub\\b.txt"},
            {u"C:\\base", u"C:\\base\\sub\\b.txt"},
            {u"c:/Base/", u"c:\\Base\\sub\\b.txt"},
    };
    for (const auto &[base, expected] : cases) {
        FileList found;
        ScanFilesInFolder(base, {u"*.*"}, walkOptions, found);
        EXPECT_EQ(found, FileList{std::u16string(expected)}) << platform::toUtf8(base);
    }
}

TEST_F(WalkTest, AMissingBaseFolderGivesNothing)
{
    ScanOptions walkOptions;
    walkOptions.Recursive = true;
    walkOptions.DelBaseFolder = true;
    FileList found;
    FolderTotals totals{5, 5};
    EXPECT_FALSE(ProcessFilesInFolder(u"C:\\missing\\", {u"*.*"}, walkOptions, found, totals,
                                      WalkMode::Delete));
    EXPECT_EQ(totals.Count, 0u);
    EXPECT_EQ(totals.Bytes, 0u);
    EXPECT_TRUE(found.empty());
}

// Links: a link to a folder is never entered nor removed, a link to a file is removed as a link.
class LinkTest : public WalkTest
{
protected:
    void SetUp() override
    {
        WalkTest::SetUp();
        m_prefix.writeFile("outside/victim.txt");
        m_prefix.writeFile("outside/target.txt");
        m_prefix.writeFile("base/sub/file.txt");
        m_prefix.writeFile("base/data.bin", "keep me");
        makeLink(m_prefix, "base/outside-folder", m_prefix.hostPath("outside"), true);
        makeLink(m_prefix, "base/inside-folder", "sub", true);
        makeLink(m_prefix, "base/outside-file.txt", "../outside/target.txt", false);
        makeLink(m_prefix, "base/inside-file.txt", "data.bin", false);
        makeLink(m_prefix, "base/dangling.txt", "nowhere", false);
        makeLink(m_prefix, "base/sub/nested-outside-folder", "../../outside", true);
    }

    void expectOutsideUntouched()
    {
        EXPECT_TRUE(present(m_prefix, "outside/victim.txt"));
        EXPECT_TRUE(present(m_prefix, "outside/target.txt"));
        EXPECT_TRUE(present(m_prefix, "base/data.bin"));
        EXPECT_TRUE(present(m_prefix, "base/outside-folder"));
        EXPECT_TRUE(present(m_prefix, "base/inside-folder"));
        EXPECT_TRUE(present(m_prefix, "base/sub/nested-outside-folder"));
    }

    ScanOptions recursive() const
    {
        ScanOptions walkOptions;
        walkOptions.Recursive = true;
        walkOptions.DelBaseFolder = true;
        return walkOptions;
    }
};

TEST_F(LinkTest, ScanListsLinksToFilesAndNeverEntersLinksToFolders)
{
    FileList found;
    const FolderTotals totals = ScanFilesInFolder(u"C:\\base\\", {u"*.txt"}, recursive(), found);
    EXPECT_EQ(sorted(found), sorted({u"C:\\base\\outside-file.txt", u"C:\\base\\inside-file.txt",
                                     u"C:\\base\\dangling.txt", u"C:\\base\\sub\\file.txt"}));
    EXPECT_EQ(totals.Count, 4u);
    expectOutsideUntouched();
}

TEST_F(LinkTest, CleanRemovesLinksToFilesButNotTheirTargets)
{
    FileList found;
    const FolderTotals totals = CleanFilesInFolder(u"C:\\base\\", {u"*.*"}, recursive(), found);
    EXPECT_EQ(totals.Count, 5u); // data.bin, the three file links and sub/file.txt
    EXPECT_FALSE(present(m_prefix, "base/outside-file.txt"));
    EXPECT_FALSE(present(m_prefix, "base/inside-file.txt"));
    EXPECT_FALSE(present(m_prefix, "base/dangling.txt"));
    EXPECT_FALSE(present(m_prefix, "base/sub/file.txt"));
    EXPECT_FALSE(present(m_prefix, "base/data.bin"));
    EXPECT_TRUE(present(m_prefix, "outside/victim.txt"));
    EXPECT_TRUE(present(m_prefix, "outside/target.txt"));
    EXPECT_TRUE(present(m_prefix, "base/outside-folder"));
    EXPECT_TRUE(present(m_prefix, "base/inside-folder"));
    EXPECT_TRUE(present(m_prefix, "base/sub/nested-outside-folder"));
}

TEST_F(LinkTest, CleanWithAPatternKeepsALinkedFileThatDoesNotMatch)
{
    FileList found;
    CleanFilesInFolder(u"C:\\base\\", {u"*.txt"}, recursive(), found);
    EXPECT_FALSE(present(m_prefix, "base/inside-file.txt"));
    expectOutsideUntouched();
}

// The path buffer holds 259 characters and the terminating zero.
TEST_F(WalkTest, SkipsPathsLongerThanTheBufferAndHandlesThoseThatFit)
{
    // "C:\long\" is 8 characters.
    const std::string fits(251, 'f');    // 259 characters
    const std::string tooLong(252, 't'); // 260 characters
    m_prefix.writeFile("long/" + fits);
    m_prefix.writeFile("long/" + tooLong);
    // A subfolder is entered when its path with the final "\" fits.
    const std::string folderFits(250, 'd');    // "C:\long\ddd...\" is 259 characters
    const std::string folderTooLong(251, 'e'); // 260 characters
    m_prefix.makeFolder("long/" + folderFits);
    m_prefix.makeFolder("long/" + folderTooLong);

    ScanOptions walkOptions;
    walkOptions.Recursive = true;
    FileList found;
    const FolderTotals totals = CleanFilesInFolder(u"C:\\long\\", {u"*.*"}, walkOptions, found);

    EXPECT_EQ(totals.Count, 1u);
    EXPECT_FALSE(present(m_prefix, "long/" + fits));
    EXPECT_TRUE(present(m_prefix, "long/" + tooLong));
    EXPECT_FALSE(present(m_prefix, "long/" + folderFits));
    EXPECT_TRUE(present(m_prefix, "long/" + folderTooLong));
}

TEST_F(WalkTest, SkipsABaseFolderLongerThanTheBuffer)
{
    // With "C:\" before and "\" after, 265 characters.
    const std::string base = std::string(250, 'b') + "/" + std::string(10, 'c');
    m_prefix.writeFile(base + "/a.txt");
    std::u16string windowsBase = windowsPath(base) + u"\\";
    ScanOptions walkOptions;
    walkOptions.DelBaseFolder = true;
    FileList found;
    const FolderTotals totals = CleanFilesInFolder(windowsBase, {u"*.*"}, walkOptions, found);
    EXPECT_EQ(totals.Count, 0u);
    EXPECT_TRUE(present(m_prefix, base + "/a.txt"));
}

// ---------------------------------------------------------------------------------------------
// The stop request.

TEST_F(WalkTest, AStopRequestedBeforeTheWalkHandlesNothing)
{
    m_prefix.writeFile("base/a.txt");
    m_prefix.writeFile("base/sub/b.txt");
    ScanOptions walkOptions;
    walkOptions.Recursive = true;
    walkOptions.DelBaseFolder = true;
    RequestStop();
    FileList found;
    const FolderTotals totals = CleanFilesInFolder(u"C:\\base\\", {u"*.*"}, walkOptions, found);
    EXPECT_EQ(totals.Count, 0u);
    EXPECT_TRUE(present(m_prefix, "base/a.txt"));
    EXPECT_TRUE(present(m_prefix, "base/sub/b.txt"));
}

TEST_F(WalkTest, AStopRequestedDuringTheWalkEndsItAfterTheCurrentFile)
{
    for (const char *file : {"base/a.txt", "base/b.txt", "base/sub/c.txt"})
        m_prefix.writeFile(file);
    m_prefix.makeFolder("base/empty");
    ScanOptions walkOptions;
    walkOptions.Recursive = true;
    walkOptions.DelBaseFolder = true;
    // Ask for the stop as soon as the first file is gone, as the disk page would from its thread.
    SetTraceSink([](std::u16string_view line) {
        if (line.starts_with(u"ProcessFile: Deleted "))
            RequestStop();
    });
    FileList found;
    const FolderTotals totals = CleanFilesInFolder(u"C:\\base\\", {u"*.txt"}, walkOptions, found);

    EXPECT_EQ(totals.Count, 1u);
    EXPECT_NE(present(m_prefix, "base/a.txt"), present(m_prefix, "base/b.txt"));
    EXPECT_TRUE(present(m_prefix, "base/sub/c.txt"));
    EXPECT_TRUE(present(m_prefix, "base/empty"));
}

} // namespace
