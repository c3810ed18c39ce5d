// The file system capability as callers see it: every expectation goes through FileSystem and
// Folder, so another backend can run the same tests on its own kind of test machine.

#include <TestPrefix.h>

#include <platform/FileSystem.h>
#include <platform/Machine.h>
#include <platform/Text.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

using namespace platform;

namespace {

class FileSystemContract : public testing::Test
{
protected:
    void SetUp() override { m_prefix.install(); }

    const FileSystem &fileSystem() const { return Machine::current().fileSystem(); }
    const TestPrefix &prefix() const { return m_prefix; }

    // The Windows spelling of a path below C:, '/' written as '\'.
    static std::u16string onC(std::string_view belowDriveC)
    {
        std::u16string path = u"C:\\" + fromUtf8(belowDriveC);
        std::replace(path.begin(), path.end(), u'/', u'\\');
        return path;
    }

    static std::vector<std::u16string> names(const std::vector<DirectoryEntry> &entries)
    {
        std::vector<std::u16string> result;
        for (const DirectoryEntry &entry : entries)
            result.push_back(entry.name);
        std::sort(result.begin(), result.end());
        return result;
    }

    static const DirectoryEntry *find(const std::vector<DirectoryEntry> &entries,
                                      std::u16string_view name)
    {
        for (const DirectoryEntry &entry : entries) {
            if (entry.name == name)
                return &entry;
        }
        return nullptr;
    }

private:
    TestPrefix m_prefix;
};

// --- Windows path to host path -------------------------------------------------------------

struct PathCase
{
    std::string windowsPath; // "<user>" stands for the prefix's user name
    std::string expected;    // below drive_c; "-" for no host path at all
};

void PrintTo(const PathCase &row, std::ostream *out)
{
    *out << row.windowsPath << " -> " << row.expected;
}

class HostPaths : public FileSystemContract, public testing::WithParamInterface<PathCase>
{};

TEST_P(HostPaths, ResolveLikeWine)
{
    prefix().writeFile("windows/system32/notepad.exe");
    prefix().writeFile("users/" + prefix().userName() + "/Temp/Log.TXT");
    const std::string outside = prefix().makeTopFolder("outside");
    prefix().makeLink("users/" + prefix().userName() + "/Desktop", outside);

    auto substitute = [&](std::string text) {
        const std::string marker = "<user>";
        for (std::size_t at = text.find(marker); at != std::string::npos; at = text.find(marker))
            text.replace(at, marker.size(), prefix().userName());
        return text;
    };
    std::string expected;
    if (GetParam().expected != "-") {
        expected = prefix().hostPath(substitute(GetParam().expected));
        if (expected.back() == '/')
            expected.pop_back();
    }
    EXPECT_EQ(fileSystem().hostPath(fromUtf8(substitute(GetParam().windowsPath))), expected);
}

INSTANTIATE_TEST_SUITE_P(
        Table, HostPaths,
        testing::Values(
                PathCase{"C:\\windows\\system32\\notepad.exe", "windows/system32/notepad.exe"},
                PathCase{"c:\\WINDOWS\\SYSTEM32\\NOTEPAD.EXE", "windows/system32/notepad.exe"},
                PathCase{"C:/Windows/System32/", "windows/system32"},
                PathCase{"C:\\USERS\\<user>\\temp\\log.txt", "users/<user>/Temp/Log.TXT"},
                // ".." goes lexically, before the Desktop link could lead elsewhere.
                PathCase{"C:\\Users\\<user>\\Desktop\\..\\Temp", "users/<user>/Temp"},
                PathCase{"C:\\..\\..\\windows\\.\\system32", "windows/system32"},
                PathCase{"C:\\windows\\system32.. ", "windows/system32"},
                PathCase{"C:\\nonexist\\a.txt", "nonexist/a.txt"},
                PathCase{"C:\\WINDOWS\\New Folder\\Sub\\X.Txt", "windows/New Folder/Sub/X.Txt"},
                PathCase{"C:\\windows\\system32\\notepad.exe\\deeper",
                         "windows/system32/notepad.exe/deeper"},
                PathCase{"C:", ""}, PathCase{"c:\\", ""}, PathCase{"\\\\?\\C:\\Windows", "windows"},
                PathCase{"Q:\\windows", "-"},       // no such drive
                PathCase{"windows\\system32", "-"}, // relative
                PathCase{"\\windows", "-"},         // no drive
                PathCase{"1:\\windows", "-"}));

TEST_F(FileSystemContract, ExactSpellingWinsOverOtherCaseElseFirstListedEntry)
{
    prefix().writeFile("mixed/File.TXT", "upper");
    prefix().writeFile("mixed/file.txt", "lower");
    EXPECT_EQ(fileSystem().hostPath(u"C:\\mixed\\File.TXT"), prefix().hostPath("mixed/File.TXT"));
    EXPECT_EQ(fileSystem().hostPath(u"C:\\mixed\\file.txt"), prefix().hostPath("mixed/file.txt"));

    // Any other spelling takes whichever of the two the folder lists first.
    const std::unique_ptr<Folder> folder = fileSystem().openFolder(u"C:\\mixed");
    ASSERT_NE(folder, nullptr);
    const std::vector<DirectoryEntry> entries = folder->list(u"*");
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(fileSystem().hostPath(u"C:\\MIXED\\FILE.txt"),
              prefix().hostPath("mixed/" + toUtf8(entries.front().name)));
}

TEST_F(FileSystemContract, NamesMatchWithUnicodeCaseFolding)
{
    prefix().writeFile("Ärger/ΣΟΦΙΑ.txt");
    EXPECT_EQ(fileSystem().hostPath(u"C:\\ärger\\σοφια.TXT"), prefix().hostPath("Ärger/ΣΟΦΙΑ.txt"));
}

// --- Host path to Windows path -------------------------------------------------------------

TEST_F(FileSystemContract, HostPathsMapBackThroughTheDeepestDriveRoot)
{
    const std::string user = prefix().userName();
    const std::string outside = prefix().makeTopFolder("outside");
    prefix().makeLink("users/" + user + "/Desktop", outside);
    const std::string driveC = prefix().hostPath("");

    EXPECT_EQ(fileSystem().windowsPath(driveC), u"C:\\");
    EXPECT_EQ(fileSystem().windowsPath(prefix().hostPath("windows/system32")),
              u"C:\\windows\\system32");
    EXPECT_EQ(fileSystem().windowsPath(prefix().path() + "/dosdevices/c:/windows"), u"C:\\windows");
    EXPECT_EQ(fileSystem().windowsPath(prefix().hostPath("nonexist/q.txt")),
              u"C:\\nonexist\\q.txt");
    EXPECT_EQ(fileSystem().windowsPath(prefix().hostPath("windows/./temp/../system32")),
              u"C:\\windows\\system32");
    // The link is not resolved: the path stays below C:.
    EXPECT_EQ(fileSystem().windowsPath(prefix().hostPath("users/" + user + "/Desktop/y")),
              fromUtf8("C:\\users\\" + user + "\\Desktop\\y"));
    // Outside drive_c only Z: (the host root) holds the path.
    std::u16string onZ = u"Z:" + fromUtf8(outside + "/x");
    std::replace(onZ.begin(), onZ.end(), u'/', u'\\');
    EXPECT_EQ(fileSystem().windowsPath(outside + "/x"), onZ);
}

TEST_F(FileSystemContract, WindowsPathOfTheHostRootIsZ)
{
    EXPECT_EQ(fileSystem().windowsPath("/"), u"Z:\\");
    EXPECT_EQ(fileSystem().windowsPath("/no-such-folder-here/q"), u"Z:\\no-such-folder-here\\q");
}

// --- Drives --------------------------------------------------------------------------------

TEST_F(FileSystemContract, ListsTheDrivesInLetterOrder)
{
    const std::vector<Drive> drives = fileSystem().drives();
    ASSERT_EQ(drives.size(), 2u);
    EXPECT_EQ(drives[0].letter, u'C');
    EXPECT_EQ(drives[0].type, DriveType::Fixed);
    EXPECT_EQ(drives[0].hostFolder, prefix().path() + "/drive_c");
    EXPECT_EQ(drives[1].letter, u'Z');
    EXPECT_EQ(drives[1].hostFolder, "/");
    EXPECT_EQ(fileSystem().driveType(u'c'), DriveType::Fixed);
    EXPECT_EQ(fileSystem().driveType(u'C'), DriveType::Fixed);
    EXPECT_EQ(fileSystem().driveType(u'Q'), DriveType::NoRootDirectory);
    EXPECT_EQ(fileSystem().driveType(u'?'), DriveType::NoRootDirectory);
}

// --- Attributes, sizes, times --------------------------------------------------------------

struct AttributeCase
{
    const char *what;
    std::string name;
    std::string dosAttributeRecord; // empty: none stored
    bool readOnly;
    std::uint32_t expected;
};

void PrintTo(const AttributeCase &row, std::ostream *out)
{
    *out << row.what;
}

class Attributes : public FileSystemContract, public testing::WithParamInterface<AttributeCase>
{};

TEST_P(Attributes, ComeFromModeNameAndDosAttributeRecord)
{
    const AttributeCase &row = GetParam();
    const std::string path = "attributes/" + row.name;
    prefix().writeFile(path, "four");
    if (!row.dosAttributeRecord.empty() &&
        !prefix().setDosAttributeRecord(path, row.dosAttributeRecord))
        GTEST_SKIP() << "the host file system keeps no user extended attributes";
    if (row.readOnly)
        prefix().makeReadOnly(path);

    const std::optional<DirectoryEntry> byPath = fileSystem().entry(onC(path));
    ASSERT_TRUE(byPath.has_value());
    EXPECT_EQ(byPath->attributes, row.expected);
    EXPECT_EQ(byPath->name, fromUtf8(row.name));
    EXPECT_EQ(byPath->size, 4u);

    const std::unique_ptr<Folder> folder = fileSystem().openFolder(u"C:\\attributes");
    ASSERT_NE(folder, nullptr);
    const std::vector<DirectoryEntry> listed = folder->list(u"*");
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(listed[0].attributes, row.expected);
    EXPECT_EQ(listed[0].size, 4u);
}

INSTANTIATE_TEST_SUITE_P(
        Table, Attributes,
        testing::Values(AttributeCase{"plain file", "plain.txt", "", false, AttributeNormal},
                        AttributeCase{"dot file", ".profile", "", false, AttributeHidden},
                        AttributeCase{"read-only file", "locked.txt", "", true, AttributeReadOnly},
                        AttributeCase{"read-only dot file", ".locked", "", true,
                                      AttributeReadOnly | AttributeHidden},
                        AttributeCase{"system", "sys.dat", "0x4", false, AttributeSystem},
                        AttributeCase{"hidden", "h.dat", "0x2", false, AttributeHidden},
                        AttributeCase{"offline", "o.dat", "0x1000", false, AttributeOffline},
                        AttributeCase{"archive", "a.dat", "0x20", false, AttributeArchive},
                        AttributeCase{"several, upper-case hex", "s.dat", "0X1026", false,
                                      AttributeHidden | AttributeSystem | AttributeArchive |
                                              AttributeOffline},
                        AttributeCase{"with a terminating zero", "z.dat", std::string("0x4\0", 4),
                                      false, AttributeSystem},
                        AttributeCase{"record on a read-only file", "rs.dat", "0x6", true,
                                      AttributeReadOnly | AttributeHidden | AttributeSystem},
                        AttributeCase{"read-only and directory bits are not taken", "rd.dat",
                                      "0x11", false, AttributeNormal},
                        AttributeCase{"garbage", "g.dat", "hello", false, AttributeNormal},
                        AttributeCase{"prefix without digits", "p.dat", "0x", false,
                                      AttributeNormal},
                        AttributeCase{"too large", "l.dat", "0x100000004", false, AttributeNormal},
                        AttributeCase{"binary record", "b.dat", std::string("\x04\x00\x00\x00", 4),
                                      false, AttributeNormal}));

TEST_F(FileSystemContract, FoldersAndLinksReportTheirKind)
{
    prefix().makeFolder("kinds/sub");
    prefix().makeFolder("kinds/.cache");
    prefix().writeFile("kinds/target.txt", "12345");
    prefix().makeLink("kinds/to-folder", prefix().hostPath("kinds/sub"));
    prefix().makeLink("kinds/to-file", "target.txt");
    prefix().makeLink("kinds/dangling", "nothing-here");

    const std::unique_ptr<Folder> folder = fileSystem().openFolder(u"C:\\kinds");
    ASSERT_NE(folder, nullptr);
    const std::vector<DirectoryEntry> entries = folder->list(u"*.*");
    EXPECT_EQ(names(entries),
              (std::vector<std::u16string>{u".cache", u"dangling", u"sub", u"target.txt",
                                           u"to-file", u"to-folder"}));
    struct Expected
    {
        std::u16string name;
        std::uint32_t attributes;
        std::uint64_t size;
    };
    for (const Expected &expected :
         {Expected{u"sub", AttributeDirectory, 0},
          Expected{u".cache", AttributeDirectory | AttributeHidden, 0},
          Expected{u"target.txt", AttributeNormal, 5},
          Expected{u"to-folder", AttributeReparsePoint | AttributeDirectory, 0},
          Expected{u"to-file", AttributeReparsePoint, 0},
          Expected{u"dangling", AttributeReparsePoint, 0}}) {
        const DirectoryEntry *listed = find(entries, expected.name);
        ASSERT_NE(listed, nullptr) << toUtf8(expected.name);
        EXPECT_EQ(listed->attributes, expected.attributes) << toUtf8(expected.name);
        EXPECT_EQ(listed->size, expected.size) << toUtf8(expected.name);
        const std::optional<DirectoryEntry> byPath =
                fileSystem().entry(u"C:\\kinds\\" + expected.name);
        ASSERT_TRUE(byPath.has_value()) << toUtf8(expected.name);
        EXPECT_EQ(byPath->attributes, expected.attributes) << toUtf8(expected.name);
    }
    EXPECT_FALSE(fileSystem().entry(u"C:\\kinds\\missing").has_value());
    EXPECT_FALSE(fileSystem().entry(u"Q:\\kinds").has_value());
    const std::optional<DirectoryEntry> root = fileSystem().entry(u"C:\\");
    ASSERT_TRUE(root.has_value());
    EXPECT_TRUE(root->isDirectory());
}

TEST_F(FileSystemContract, SparseFileReportsItsFullSize)
{
    prefix().writeSparseFile("big/five.bin", 5368709120ULL);
    const std::optional<DirectoryEntry> entry = fileSystem().entry(u"C:\\big\\five.bin");
    ASSERT_TRUE(entry.has_value());
    EXPECT_EQ(entry->size, 5368709120ULL);
    const std::vector<DirectoryEntry> listed = fileSystem().openFolder(u"C:\\big")->list(u"*");
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(listed[0].size, 5368709120ULL);
}

TEST_F(FileSystemContract, LastWriteTimeKeepsFullPrecision)
{
    struct TimeCase
    {
        std::int64_t seconds;
        long nanoseconds;
        FileTime expected;
    };
    const TimeCase cases[] = {
            {1614834367, 123456789, 132593079671234567ULL}, // 2021-03-04 05:06:07.123456789 UTC
            {0, 0, fileTimeUnixEpoch},
            {-86400, 500, fileTimeUnixEpoch - 864000000000ULL + 5},
    };
    prefix().writeFile("time.txt");
    for (const TimeCase &row : cases) {
        prefix().setLastWriteTime("time.txt", row.seconds, row.nanoseconds);
        const std::optional<DirectoryEntry> entry = fileSystem().entry(u"C:\\time.txt");
        ASSERT_TRUE(entry.has_value());
        EXPECT_EQ(entry->lastWriteTime, row.expected) << row.seconds;
        EXPECT_EQ(fileSystem().openFolder(u"C:\\")->list(u"time.txt").at(0).lastWriteTime,
                  row.expected);
    }
}

TEST_F(FileSystemContract, CurrentTimeIsUtcInFileTimeTicks)
{
    const auto sinceUnixEpoch = std::chrono::duration_cast<std::chrono::seconds>(
            std::chrono::system_clock::now().time_since_epoch());
    const FileTime expected = fileTimeUnixEpoch + static_cast<FileTime>(sinceUnixEpoch.count()) *
                                                          fileTimeTicksPerSecond;
    const FileTime now = fileSystem().currentTime();
    EXPECT_GE(now + 10 * fileTimeTicksPerSecond, expected);
    EXPECT_LE(now, expected + 10 * fileTimeTicksPerSecond);
}

// --- Listing -------------------------------------------------------------------------------

TEST_F(FileSystemContract, ListingFiltersByWildcardWithoutDotEntries)
{
    for (const char *name : {"a.log", "B.LOG", "c.txt", "README", "a.log.1"})
        prefix().writeFile(std::string("list/") + name);
    const std::unique_ptr<Folder> folder = fileSystem().openFolder(u"c:\\LIST");
    ASSERT_NE(folder, nullptr);
    EXPECT_EQ(names(folder->list(u"*.log")), (std::vector<std::u16string>{u"B.LOG", u"a.log"}));
    EXPECT_EQ(names(folder->list(u"*.")), (std::vector<std::u16string>{u"README"}));
    EXPECT_EQ(folder->list(u"*.*").size(), 5u);
    EXPECT_TRUE(folder->list(u"nothing*").empty());
}

TEST_F(FileSystemContract, ListingTheSameFolderTwiceGivesEverythingBothTimes)
{
    for (int i = 0; i < 50; ++i)
        prefix().writeFile("twice/f" + std::to_string(i));
    const std::unique_ptr<Folder> folder = fileSystem().openFolder(u"C:\\twice");
    ASSERT_NE(folder, nullptr);
    EXPECT_EQ(folder->list(u"*").size(), 50u);
    EXPECT_EQ(folder->list(u"*").size(), 50u);
}

TEST_F(FileSystemContract, OpenFolderRefusesFilesAndMissingPaths)
{
    prefix().writeFile("file.txt");
    EXPECT_EQ(fileSystem().openFolder(u"C:\\file.txt"), nullptr);
    EXPECT_EQ(fileSystem().openFolder(u"C:\\missing"), nullptr);
    EXPECT_EQ(fileSystem().openFolder(u"Q:\\"), nullptr);
    EXPECT_NE(fileSystem().openFolder(u"C:\\"), nullptr);
}

// --- Deleting, and never through a link ----------------------------------------------------

TEST_F(FileSystemContract, FolderNeverEntersOrRemovesALinkToAFolder)
{
    const std::string outside = prefix().makeTopFolder("outside");
    prefix().writeTopFile("outside/keep.txt", "precious");
    prefix().makeFolder("work");
    prefix().makeLink("work/escape", outside);

    const std::unique_ptr<Folder> work = fileSystem().openFolder(u"C:\\work");
    ASSERT_NE(work, nullptr);
    EXPECT_EQ(work->openSubfolder(u"escape"), nullptr);
    EXPECT_FALSE(work->removeSubfolder(u"escape"));
    EXPECT_FALSE(fileSystem().removeDirectory(u"C:\\work\\escape"));
    EXPECT_TRUE(TestPrefix::exists(outside + "/keep.txt"));
    EXPECT_TRUE(TestPrefix::exists(prefix().hostPath("work/escape")));
}

TEST_F(FileSystemContract, DeletingALinkToAFileLeavesTheTarget)
{
    const std::string outside = prefix().makeTopFolder("outside");
    prefix().writeTopFile("outside/keep.txt", "precious");
    prefix().makeLink("work/link.txt", outside + "/keep.txt");
    prefix().makeLink("work/second.txt", outside + "/keep.txt");

    const std::unique_ptr<Folder> work = fileSystem().openFolder(u"C:\\work");
    ASSERT_NE(work, nullptr);
    EXPECT_TRUE(work->deleteFile(u"link.txt"));
    EXPECT_TRUE(fileSystem().deleteFile(u"C:\\WORK\\second.TXT"));
    EXPECT_FALSE(TestPrefix::exists(prefix().hostPath("work/link.txt")));
    EXPECT_FALSE(TestPrefix::exists(prefix().hostPath("work/second.txt")));
    EXPECT_TRUE(TestPrefix::exists(outside + "/keep.txt"));
}

TEST_F(FileSystemContract, SubfolderSwappedForALinkAfterListingIsNotEntered)
{
    const std::string outside = prefix().makeTopFolder("outside");
    prefix().writeTopFile("outside/keep.txt", "precious");
    prefix().writeFile("work/sub/old.tmp");

    const std::unique_ptr<Folder> work = fileSystem().openFolder(u"C:\\work");
    ASSERT_NE(work, nullptr);
    const std::vector<DirectoryEntry> listed = work->list(u"*");
    ASSERT_EQ(listed.size(), 1u);
    ASSERT_TRUE(listed[0].isDirectory());

    std::filesystem::remove_all(prefix().hostPath("work/sub"));
    prefix().makeLink("work/sub", outside);
    EXPECT_EQ(work->openSubfolder(u"sub"), nullptr);
    EXPECT_FALSE(work->removeSubfolder(u"sub"));
    EXPECT_TRUE(TestPrefix::exists(outside + "/keep.txt"));
}

TEST_F(FileSystemContract, OpenFolderStaysWithItsFolderWhenThePathChanges)
{
    const std::string outside = prefix().makeTopFolder("outside");
    prefix().writeTopFile("outside/victim.txt", "precious");
    prefix().writeFile("work/sub/victim.txt", "junk");

    const std::unique_ptr<Folder> work = fileSystem().openFolder(u"C:\\work");
    ASSERT_NE(work, nullptr);
    const std::unique_ptr<Folder> sub = work->openSubfolder(u"sub");
    ASSERT_NE(sub, nullptr);
    // Someone renames the folder and puts a link to the outside in its place.
    std::filesystem::rename(prefix().hostPath("work/sub"), prefix().hostPath("work/moved"));
    prefix().makeLink("work/sub", outside);

    EXPECT_TRUE(sub->deleteFile(u"victim.txt"));
    EXPECT_TRUE(TestPrefix::exists(outside + "/victim.txt"));
    EXPECT_FALSE(TestPrefix::exists(prefix().hostPath("work/moved/victim.txt")));
}

TEST_F(FileSystemContract, DeleteAndRemoveDoOnlyWhatTheirNameSays)
{
    prefix().writeFile("work/file.txt");
    prefix().writeFile("work/full/inner.txt");
    prefix().makeFolder("work/empty");
    prefix().writeFile("work/locked.txt");
    prefix().makeReadOnly("work/locked.txt");

    const std::unique_ptr<Folder> work = fileSystem().openFolder(u"C:\\work");
    ASSERT_NE(work, nullptr);
    EXPECT_FALSE(work->deleteFile(u"empty"));         // a folder is not a file
    EXPECT_FALSE(work->removeSubfolder(u"file.txt")); // a file is not a folder
    EXPECT_FALSE(work->removeSubfolder(u"full"));     // not empty
    EXPECT_FALSE(work->deleteFile(u"locked.txt"));    // read-only, as on Windows
    EXPECT_FALSE(work->deleteFile(u"missing.txt"));
    EXPECT_FALSE(fileSystem().deleteFile(u"C:\\work\\empty"));
    EXPECT_FALSE(fileSystem().removeDirectory(u"C:\\work\\full"));
    EXPECT_FALSE(fileSystem().deleteFile(u"C:\\work\\locked.txt"));
    EXPECT_FALSE(fileSystem().removeDirectory(u"C:\\"));
    EXPECT_FALSE(fileSystem().deleteFile(u"Q:\\work\\file.txt"));
    EXPECT_TRUE(TestPrefix::exists(prefix().hostPath("work/empty")));
    EXPECT_TRUE(TestPrefix::exists(prefix().hostPath("work/full/inner.txt")));
    EXPECT_TRUE(TestPrefix::exists(prefix().hostPath("work/locked.txt")));

    EXPECT_TRUE(work->removeSubfolder(u"empty"));
    EXPECT_TRUE(work->deleteFile(u"file.txt"));
    EXPECT_TRUE(fileSystem().deleteFile(u"C:\\Work\\Full\\Inner.txt"));
    EXPECT_TRUE(fileSystem().removeDirectory(u"C:\\work\\FULL"));
    EXPECT_FALSE(TestPrefix::exists(prefix().hostPath("work/empty")));
    EXPECT_FALSE(TestPrefix::exists(prefix().hostPath("work/file.txt")));
    EXPECT_FALSE(TestPrefix::exists(prefix().hostPath("work/full")));
}

// What one entry of a folder is, for the tests that change it between listing and deleting.
enum class EntryKind {
    File,
    ReadOnlyFile,
    FolderWithFile,
    LinkToOutsideFile,
    LinkToOutsideFolder,
    Missing
};

struct ListedDeleteCase
{
    const char *what;
    EntryKind listedAs; // what the entry was when the folder was listed
    EntryKind nowIs;    // what it is when the listed entry is deleted
    bool deleted;
};

void PrintTo(const ListedDeleteCase &row, std::ostream *out)
{
    *out << row.what;
}

class DeletingListedEntries :
    public FileSystemContract,
    public testing::WithParamInterface<ListedDeleteCase>
{
protected:
    void SetUp() override
    {
        FileSystemContract::SetUp();
        m_outside = prefix().makeTopFolder("outside");
        prefix().makeTopFolder("outside/folder");
        prefix().writeTopFile("outside/keep.txt", "precious");
        prefix().writeTopFile("outside/folder/inner.txt", "precious");
        prefix().makeFolder("work");
    }

    // Puts an entry of that kind at work/entry, in place of whatever was there.
    void make(EntryKind kind) const
    {
        const std::string entry = prefix().hostPath("work/entry");
        std::error_code ignored;
        std::filesystem::permissions(entry, std::filesystem::perms::owner_write,
                                     std::filesystem::perm_options::add, ignored);
        std::filesystem::remove_all(entry, ignored);
        switch (kind) {
        case EntryKind::File:
            prefix().writeFile("work/entry", "junk");
            break;
        case EntryKind::ReadOnlyFile:
            prefix().writeFile("work/entry", "junk");
            prefix().makeReadOnly("work/entry");
            break;
        case EntryKind::FolderWithFile:
            prefix().writeFile("work/entry/inner.txt", "junk");
            break;
        case EntryKind::LinkToOutsideFile:
            prefix().makeLink("work/entry", m_outside + "/keep.txt");
            break;
        case EntryKind::LinkToOutsideFolder:
            prefix().makeLink("work/entry", m_outside + "/folder");
            break;
        case EntryKind::Missing:
            break;
        }
    }

    std::string m_outside;
};

TEST_P(DeletingListedEntries, TrustTheListingButNeverFollowALinkOrRemoveAFolder)
{
    const ListedDeleteCase &row = GetParam();
    make(row.listedAs);
    const std::unique_ptr<Folder> work = fileSystem().openFolder(u"C:\\work");
    ASSERT_NE(work, nullptr);
    const std::vector<DirectoryEntry> listed = work->list(u"*.*");
    ASSERT_EQ(listed.size(), 1u);
    if (row.nowIs != row.listedAs)
        make(row.nowIs);

    EXPECT_EQ(work->deleteListedFile(listed[0]), row.deleted);
    const std::string entry = prefix().hostPath("work/entry");
    std::error_code ignored;
    EXPECT_EQ(std::filesystem::exists(std::filesystem::symlink_status(entry, ignored)),
              !row.deleted && row.nowIs != EntryKind::Missing);
    if (row.nowIs == EntryKind::FolderWithFile) {
        EXPECT_TRUE(TestPrefix::exists(entry + "/inner.txt"));
    }
    EXPECT_TRUE(TestPrefix::exists(m_outside + "/keep.txt"));
    EXPECT_TRUE(TestPrefix::exists(m_outside + "/folder/inner.txt"));
}

INSTANTIATE_TEST_SUITE_P(
        Table, DeletingListedEntries,
        testing::Values(ListedDeleteCase{"file", EntryKind::File, EntryKind::File, true},
                        ListedDeleteCase{"read-only file", EntryKind::ReadOnlyFile,
                                         EntryKind::ReadOnlyFile, false},
                        ListedDeleteCase{"folder", EntryKind::FolderWithFile,
                                         EntryKind::FolderWithFile, false},
                        ListedDeleteCase{"link to a file", EntryKind::LinkToOutsideFile,
                                         EntryKind::LinkToOutsideFile, true},
                        ListedDeleteCase{"link to a folder", EntryKind::LinkToOutsideFolder,
                                         EntryKind::LinkToOutsideFolder, true},
                        ListedDeleteCase{"file gone since", EntryKind::File, EntryKind::Missing,
                                         false},
                        ListedDeleteCase{"file now a link to a file", EntryKind::File,
                                         EntryKind::LinkToOutsideFile, true},
                        ListedDeleteCase{"file now a link to a folder", EntryKind::File,
                                         EntryKind::LinkToOutsideFolder, true},
                        ListedDeleteCase{"file now a folder", EntryKind::File,
                                         EntryKind::FolderWithFile, false},
                        ListedDeleteCase{"link now a folder", EntryKind::LinkToOutsideFile,
                                         EntryKind::FolderWithFile, false},
                        // The listing decides: a file that changed its read-only state since is
                        // handled as it was listed, which is what deleting it a moment earlier or
                        // later would have done.
                        ListedDeleteCase{"file made read-only since", EntryKind::File,
                                         EntryKind::ReadOnlyFile, true},
                        ListedDeleteCase{"read-only file made writable since",
                                         EntryKind::ReadOnlyFile, EntryKind::File, false}));

TEST_F(FileSystemContract, NamesThatAreNotOneEntryAreRefused)
{
    prefix().writeFile("work/sub/file.txt");
    prefix().writeFile("keep.txt");
    const std::unique_ptr<Folder> sub = fileSystem().openFolder(u"C:\\work\\sub");
    ASSERT_NE(sub, nullptr);
    const std::u16string withZero(u"file.txt\0x", 10);
    for (const std::u16string &name :
         {std::u16string(u".."), std::u16string(u"."), std::u16string(),
          std::u16string(u"../../keep.txt"), std::u16string(u"../sub/file.txt"), withZero}) {
        EXPECT_EQ(sub->openSubfolder(name), nullptr) << toUtf8(name);
        EXPECT_FALSE(sub->deleteFile(name)) << toUtf8(name);
        EXPECT_FALSE(sub->removeSubfolder(name)) << toUtf8(name);
    }
    EXPECT_FALSE(fileSystem().deleteFile(std::u16string(u"C:\\keep.txt\0", 12)));
    EXPECT_TRUE(TestPrefix::exists(prefix().hostPath("keep.txt")));
    EXPECT_TRUE(TestPrefix::exists(prefix().hostPath("work/sub/file.txt")));
}

} // namespace
