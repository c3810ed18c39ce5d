#include "PrefixRecycleBin.h"

#include "TestPrefix.h"

#include <platform/FileSystem.h>
#include <platform/Machine.h>
#include <platform/Text.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <stdexcept>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;
using platform::Drive;
using platform::DriveType;
using platform::PrefixRecycleBin;
using platform::RecycleBinQuery;
using platform::TrashEnvironment;

namespace {

// A fresh folder below the temporary folder, removed with everything in it (links as links).
class TemporaryFolder
{
public:
    TemporaryFolder()
    {
        std::string pattern = (fs::temp_directory_path() / "nimbra-trash-XXXXXX").string();
        if (!::mkdtemp(pattern.data()))
            throw std::runtime_error("cannot make a temporary folder");
        m_path = pattern;
    }
    ~TemporaryFolder()
    {
        std::error_code ignored;
        fs::remove_all(m_path, ignored);
    }
    TemporaryFolder(const TemporaryFolder &) = delete;
    TemporaryFolder &operator=(const TemporaryFolder &) = delete;

    const fs::path &path() const { return m_path; }

private:
    fs::path m_path;
};

void writeFile(const fs::path &file, std::string_view content)
{
    fs::create_directories(file.parent_path());
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    if (!out)
        throw std::runtime_error("cannot write " + file.string());
}

std::string readFile(const fs::path &file)
{
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// The info file the desktop writes before it moves an entry into files/.
void writeInfo(const fs::path &trash, const std::string &name)
{
    writeFile(trash / "info" / (name + ".trashinfo"),
              "[Trash Info]\nPath=/home/ann/" + name + "\nDeletionDate=2026-12-11T07:55:58\n");
}

// A trashed file with its info file.
void trashFile(const fs::path &trash, const std::string &name, std::string_view content)
{
    writeInfo(trash, name);
    writeFile(trash / "files" / name, content);
}

// Every entry below a folder, links as links: "dir/", "file=content", "link -> target".
std::set<std::string> treeOf(const fs::path &root)
{
    std::set<std::string> tree;
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator();
         ++it) {
        const std::string relative = fs::relative(it->path(), root).string();
        if (it->is_symlink())
            tree.insert(relative + " -> " + fs::read_symlink(it->path()).string());
        else if (it->is_directory())
            tree.insert(relative + "/");
        else
            tree.insert(relative + "=" + readFile(it->path()));
    }
    return tree;
}

// Sets an environment variable, or unsets it for a null value, for the life of the object.
class ScopedEnvironment
{
public:
    ScopedEnvironment(const char *name, const char *value)
        : m_name(name)
    {
        if (const char *old = std::getenv(name))
            m_old = old;
        if (value)
            ::setenv(name, value, 1);
        else
            ::unsetenv(name);
    }
    ~ScopedEnvironment()
    {
        if (m_old)
            ::setenv(m_name, m_old->c_str(), 1);
        else
            ::unsetenv(m_name);
    }
    ScopedEnvironment(const ScopedEnvironment &) = delete;
    ScopedEnvironment &operator=(const ScopedEnvironment &) = delete;

private:
    const char *m_name;
    std::optional<std::string> m_old;
};

// A test prefix whose C: is a fixed drive and whose home trash is a temporary XDG_DATA_HOME.
class PrefixRecycleBinTest : public ::testing::Test
{
protected:
    PrefixRecycleBinTest()
        : m_dataHome("XDG_DATA_HOME", m_data.path().c_str())
    {}

    fs::path homeTrash() const { return m_data.path() / "Trash"; }

    Drive driveC() const { return {u'C', DriveType::Fixed, m_prefix.hostPath("")}; }

    PrefixRecycleBin recycleBin(std::vector<Drive> drives) const
    {
        return PrefixRecycleBin(std::move(drives), TrashEnvironment::fromProcess());
    }

    TestPrefix m_prefix;
    TemporaryFolder m_data;
    TemporaryFolder m_outside; // a user's folder that trashed links point at
    ScopedEnvironment m_dataHome;
};

TEST(TrashEnvironmentTest, HomeTrashFollowsTheDesktopRules)
{
    struct Row
    {
        std::string home;
        std::string dataHome;
        std::string homeTrash;
    };
    const Row rows[] = {
            {"/home/ann", "", "/home/ann/.local/share/Trash"},
            {"/home/ann/", "", "/home/ann/.local/share/Trash"},
            {"/home/ann", "/data/ann", "/data/ann/Trash"},
            {"/home/ann", "/data/ann/", "/data/ann/Trash"},
            {"/home/ann", "relative/data", "/home/ann/.local/share/Trash"},
            {"", "", ""},
            {"relative", "", ""},
    };
    for (const Row &row : rows) {
        TrashEnvironment environment;
        environment.home = row.home;
        environment.dataHome = row.dataHome;
        EXPECT_EQ(environment.homeTrash(), row.homeTrash)
                << "HOME=" << row.home << " XDG_DATA_HOME=" << row.dataHome;
    }
}

TEST(TrashEnvironmentTest, FromProcessReadsTheEnvironment)
{
    const ScopedEnvironment home("HOME", "/home/ann");
    {
        const ScopedEnvironment dataHome("XDG_DATA_HOME", "/data/ann");
        EXPECT_EQ(TrashEnvironment::fromProcess().homeTrash(), "/data/ann/Trash");
    }
    const ScopedEnvironment noDataHome("XDG_DATA_HOME", nullptr);
    const TrashEnvironment environment = TrashEnvironment::fromProcess();
    EXPECT_EQ(environment.homeTrash(), "/home/ann/.local/share/Trash");
    EXPECT_EQ(environment.userId, ::getuid());
}

// One kind of trash content and what a query must make of it.
struct CountingRow
{
    const char *name;
    std::function<void(const fs::path &trash, const fs::path &outside)> build;
    std::uint64_t items;
    std::uint64_t bytes;
};

std::ostream &operator<<(std::ostream &out, const CountingRow &row)
{
    return out << row.name;
}

class RecycleBinCountingTest :
    public PrefixRecycleBinTest,
    public ::testing::WithParamInterface<CountingRow>
{};

TEST_P(RecycleBinCountingTest, QueryCountsItemsAndBytes)
{
    // The user's own folder, reachable through links from the trash, must never be counted.
    writeFile(m_outside.path() / "big.bin", std::string(100, 'o'));
    fs::create_directories(homeTrash() / "files");
    fs::create_directories(homeTrash() / "info");
    GetParam().build(homeTrash(), m_outside.path());

    const auto bin = recycleBin({driveC()}).query(u"C:\\");

    ASSERT_TRUE(bin);
    EXPECT_EQ(bin->size.items, GetParam().items);
    EXPECT_EQ(bin->size.bytes, GetParam().bytes);
}

INSTANTIATE_TEST_SUITE_P(
        Contents, RecycleBinCountingTest,
        ::testing::Values(
                CountingRow{"nothing", [](const fs::path &, const fs::path &) {}, 0, 0},
                CountingRow{"file",
                            [](const fs::path &trash, const fs::path &) {
                                trashFile(trash, "a.txt", "0123456789");
                            },
                            1, 10},
                CountingRow{"renamedOnCollision",
                            [](const fs::path &trash, const fs::path &) {
                                trashFile(trash, "trash me.txt", "ab");
                                trashFile(trash, "trash me.txt-462b3d83", "abcd");
                            },
                            2, 6},
                CountingRow{"emptyFolder",
                            [](const fs::path &trash, const fs::path &) {
                                writeInfo(trash, "empty");
                                fs::create_directory(trash / "files" / "empty");
                            },
                            1, 0},
                CountingRow{"nestedFolderIsOneItemWithItsWholeSize",
                            [](const fs::path &trash, const fs::path &) {
                                writeInfo(trash, "dir");
                                writeFile(trash / "files/dir/x", "abc");
                                writeFile(trash / "files/dir/sub/y", "abcd");
                                writeFile(trash / "files/dir/sub/deeper/z", "abcde");
                            },
                            1, 12},
                CountingRow{"linkToOutsideFolderIsOneEmptyItem",
                            [](const fs::path &trash, const fs::path &outside) {
                                writeInfo(trash, "link");
                                fs::create_directory_symlink(outside, trash / "files" / "link");
                            },
                            1, 0},
                CountingRow{"linkInsideFolderIsNotFollowed",
                            [](const fs::path &trash, const fs::path &outside) {
                                writeInfo(trash, "dir");
                                writeFile(trash / "files/dir/own", "abcdef");
                                fs::create_directory_symlink(outside, trash / "files/dir/home");
                                fs::create_symlink(outside / "big.bin",
                                                   trash / "files/dir/big.bin");
                            },
                            1, 6},
                CountingRow{"dataWithoutInfoIsNoItem",
                            [](const fs::path &trash, const fs::path &) {
                                writeFile(trash / "files" / "orphan", std::string(50, 'x'));
                            },
                            0, 0},
                CountingRow{
                        "infoWithoutDataIsNoItem",
                        [](const fs::path &trash, const fs::path &) { writeInfo(trash, "gone"); },
                        0, 0},
                CountingRow{"infoThatIsAFolderIsNoItem",
                            [](const fs::path &trash, const fs::path &) {
                                fs::create_directories(trash / "info" / "x.trashinfo");
                                writeFile(trash / "files" / "x", "abc");
                            },
                            0, 0},
                CountingRow{"otherFilesInInfoAreNoItems",
                            [](const fs::path &trash, const fs::path &) {
                                writeFile(trash / "info" / ".trashinfo", "");
                                writeFile(trash / "info" / "notes.txt", "");
                                writeFile(trash / "files" / "notes.txt", "abc");
                            },
                            0, 0},
                CountingRow{"largeFileKeepsItsSixtyFourBitSize",
                            [](const fs::path &trash, const fs::path &) {
                                writeInfo(trash, "disk.img");
                                const int fd = ::open((trash / "files" / "disk.img").c_str(),
                                                      O_WRONLY | O_CREAT, 0644);
                                ASSERT_GE(fd, 0);
                                ASSERT_EQ(::ftruncate(fd, 5368709120), 0);
                                ::close(fd);
                            },
                            1, 5368709120},
                CountingRow{"filesFolderThatIsALinkIsNotFollowed",
                            [](const fs::path &trash, const fs::path &outside) {
                                fs::remove(trash / "files");
                                fs::create_directory_symlink(outside, trash / "files");
                                writeInfo(trash, "big.bin");
                            },
                            0, 0}),
        [](const auto &info) { return std::string(info.param.name); });

TEST_F(PrefixRecycleBinTest, DrivesSharingATrashCountItOnce)
{
    trashFile(homeTrash(), "a.txt", "0123456789");
    trashFile(homeTrash(), "b.txt", "01234");
    TemporaryFolder secondDisk;
    const PrefixRecycleBin bin =
            recycleBin({driveC(), {u'D', DriveType::Fixed, secondDisk.path().string()}});

    // Summing over the fixed drives the way a caller does, twice in a row.
    for (int round = 0; round < 2; ++round) {
        std::set<std::string> seen;
        std::uint64_t items = 0;
        std::uint64_t bytes = 0;
        for (const char16_t *root : {u"C:\\", u"D:\\"}) {
            const auto query = bin.query(root);
            ASSERT_TRUE(query);
            if (seen.insert(query->identity).second) {
                items += query->size.items;
                bytes += query->size.bytes;
            }
        }
        EXPECT_EQ(seen.size(), 1u);
        EXPECT_EQ(items, 2u);
        EXPECT_EQ(bytes, 15u);
    }
}

TEST_F(PrefixRecycleBinTest, OnlyFixedDrivesWithAFolderHaveABin)
{
    trashFile(homeTrash(), "a.txt", "0123456789");
    const std::string folder = m_prefix.hostPath("");
    const PrefixRecycleBin bin = recycleBin({
            driveC(),
            {u'A', DriveType::Removable, folder},
            {u'E', DriveType::CdRom, folder},
            {u'F', DriveType::Remote, folder},
            {u'G', DriveType::Fixed, m_prefix.hostPath("missing")},
            {u'H', DriveType::Fixed, ""},
            {u'R', DriveType::RamDisk, folder},
    });
    const std::map<std::u16string, bool> rows = {
            {u"C:\\", true},  {u"c:\\", true},   {u"C:", true},    {u"C:/", true},
            {u"A:\\", false}, {u"E:\\", false},  {u"F:\\", false}, {u"G:\\", false},
            {u"H:\\", false}, {u"R:\\", false},  {u"Q:\\", false}, {u"", false},
            {u"C", false},    {u"C:\\x", false}, {u"1:\\", false}, {u"CC:\\", false},
    };
    for (const auto &[root, hasBin] : rows) {
        const auto query = bin.query(root);
        EXPECT_EQ(query.has_value(), hasBin) << platform::toUtf8(root);
        if (query) {
            EXPECT_EQ(query->size.items, 1u);
        }
    }
}

TEST_F(PrefixRecycleBinTest, WithoutMountTableTheDeviceDecides)
{
    trashFile(homeTrash(), "a.txt", "0123456789");
    TrashEnvironment environment = TrashEnvironment::fromProcess();
    environment.mountTable = (m_data.path() / "no-such-table").string();

    const auto query = PrefixRecycleBin({driveC()}, environment).query(u"C:\\");

    ASSERT_TRUE(query);
    EXPECT_EQ(query->size.items, 1u);
}

// A machine where one folder is made a mount of its own by a mount table written by the test:
// drive C: lies with the home trash on the root mount, drive D: on the other mount. A trashed file
// of a different size in each candidate trash folder shows which folders a query used.
class MountTrashTest : public PrefixRecycleBinTest
{
protected:
    MountTrashTest()
    {
        fs::create_directories(m_volume / "games");
        m_environment = TrashEnvironment::fromProcess();
        m_environment.mountTable = (m_root.path() / "mountinfo").string();
        writeMountTable({m_volume});
    }

    // The given folders become mounts below the root mount. Containers list the root mount after
    // mounts that lie below it, so the table may too.
    void writeMountTable(const std::vector<fs::path> &mounts, bool rootFirst = true) const
    {
        const std::string root = "27 1 254:0 / / rw,relatime - ext4 /dev/vda rw\n";
        std::string table = "21 27 0:20 / /proc rw,relatime - proc proc rw\n";
        if (rootFirst)
            table += root;
        int id = 40;
        for (const fs::path &mount : mounts) {
            std::string escaped;
            for (const char c : mount.string())
                escaped += c == ' ' ? std::string("\\040") : std::string(1, c);
            table += std::to_string(id++) + " 27 8:1 / " + escaped + " rw - ext4 /dev/sdb1 rw\n";
        }
        if (!rootFirst)
            table += root;
        writeFile(m_environment.mountTable, table);
    }

    std::string uid() const { return std::to_string(m_environment.userId); }

    PrefixRecycleBin bin() const
    {
        return PrefixRecycleBin({driveC(), {u'D', DriveType::Fixed, (m_volume / "games").string()}},
                                m_environment);
    }

    TemporaryFolder m_root;
    const fs::path m_volume = m_root.path() / "second disk";
    TrashEnvironment m_environment;
};

TEST_F(MountTrashTest, MountTableDecidesWhichTrashADriveUses)
{
    trashFile(homeTrash(), "home", "1");
    trashFile(m_root.path() / (".Trash-" + uid()), "root", std::string(10, 'r'));
    trashFile(m_volume / (".Trash-" + uid()), "volume", std::string(100, 'v'));
    struct Row
    {
        const char *name;
        std::vector<fs::path> mounts;
        bool rootFirst;
        std::uint64_t bytesOfD;
    };
    const Row rows[] = {
            {"volume mounted", {m_volume}, true, 100},
            {"volume listed before the root mount", {m_volume}, false, 100},
            {"no mount there", {}, true, 1},
            {"only the folder above mounted", {m_root.path()}, true, 10},
            {"deepest mount wins", {m_volume, m_root.path()}, true, 100},
            {"deepest mount wins in any order", {m_root.path(), m_volume}, false, 100},
    };
    for (const Row &row : rows) {
        writeMountTable(row.mounts, row.rootFirst);
        const auto c = bin().query(u"C:\\");
        const auto d = bin().query(u"D:\\");
        ASSERT_TRUE(c && d) << row.name;
        EXPECT_EQ(c->size.bytes, 1u) << row.name;
        EXPECT_EQ(d->size.bytes, row.bytesOfD) << row.name;
        EXPECT_EQ(c->identity == d->identity, row.bytesOfD == 1) << row.name;
    }
}

// One layout of the trash folders at the top of a mount, and how much of it is the user's bin. A
// mount without a trash folder of its own has the home trash as its bin.
struct MountLayoutRow
{
    const char *name;
    std::function<void(const fs::path &top, const std::string &uid, const fs::path &outside)> build;
    bool ownTrash;
    std::uint64_t items; // in the mount's own trash folders
};

std::ostream &operator<<(std::ostream &out, const MountLayoutRow &row)
{
    return out << row.name;
}

class MountLayoutTest : public MountTrashTest, public ::testing::WithParamInterface<MountLayoutRow>
{};

// A `.Trash` folder as the administrator makes it: everyone may write, nobody may remove others'.
void makeSharedTrash(const fs::path &top)
{
    fs::create_directories(top / ".Trash");
    fs::permissions(top / ".Trash", fs::perms::all | fs::perms::sticky_bit);
}

TEST_P(MountLayoutTest, OnlyTheUsersOwnTrashFoldersCount)
{
    trashFile(homeTrash(), "home", "h");
    GetParam().build(m_volume, uid(), m_outside.path());

    const auto query = bin().query(u"D:\\");
    const auto homeBin = bin().query(u"C:\\");

    ASSERT_TRUE(query && homeBin);
    EXPECT_EQ(query->size.items, GetParam().ownTrash ? GetParam().items : 1u);
    EXPECT_EQ(query->identity == homeBin->identity, !GetParam().ownTrash);
    // The home trash goes once, whichever drives have it as their bin.
    const auto emptied = bin().empty();
    EXPECT_TRUE(emptied.complete);
    EXPECT_EQ(emptied.itemsRemoved, 1u + (GetParam().ownTrash ? GetParam().items : 0u));
    EXPECT_FALSE(fs::exists(homeTrash() / "files" / "home"));
}

INSTANTIATE_TEST_SUITE_P(
        Layouts, MountLayoutTest,
        ::testing::Values(
                MountLayoutRow{"none",
                               [](const fs::path &, const std::string &, const fs::path &) {},
                               false, 0},
                MountLayoutRow{"privateTrash",
                               [](const fs::path &top, const std::string &uid, const fs::path &) {
                                   trashFile(top / (".Trash-" + uid), "a", "a");
                               },
                               true, 1},
                MountLayoutRow{"sharedTrash",
                               [](const fs::path &top, const std::string &uid, const fs::path &) {
                                   makeSharedTrash(top);
                                   trashFile(top / ".Trash" / uid, "a", "a");
                               },
                               true, 1},
                MountLayoutRow{"bothTrashes",
                               [](const fs::path &top, const std::string &uid, const fs::path &) {
                                   makeSharedTrash(top);
                                   trashFile(top / ".Trash" / uid, "a", "a");
                                   trashFile(top / (".Trash-" + uid), "a", "a");
                               },
                               true, 2},
                MountLayoutRow{"sharedTrashWithoutStickyBit",
                               [](const fs::path &top, const std::string &uid, const fs::path &) {
                                   trashFile(top / ".Trash" / uid, "a", "a");
                                   fs::permissions(top / ".Trash", fs::perms::all);
                               },
                               false, 0},
                MountLayoutRow{
                        "sharedTrashThatIsALink",
                        [](const fs::path &top, const std::string &uid, const fs::path &outside) {
                            makeSharedTrash(outside);
                            trashFile(outside / ".Trash" / uid, "a", "a");
                            fs::create_directory_symlink(outside / ".Trash", top / ".Trash");
                        },
                        false, 0},
                MountLayoutRow{
                        "userFolderInSharedTrashThatIsALink",
                        [](const fs::path &top, const std::string &uid, const fs::path &outside) {
                            makeSharedTrash(top);
                            trashFile(outside / "mine", "a", "a");
                            fs::create_directory_symlink(outside / "mine", top / ".Trash" / uid);
                        },
                        false, 0},
                MountLayoutRow{
                        "privateTrashThatIsALink",
                        [](const fs::path &top, const std::string &uid, const fs::path &outside) {
                            trashFile(outside / "mine", "a", "a");
                            fs::create_directory_symlink(outside / "mine", top / (".Trash-" + uid));
                        },
                        false, 0}),
        [](const auto &info) { return std::string(info.param.name); });

TEST_F(MountTrashTest, TrashFoldersOfAnotherOwnerAreNotTheUsers)
{
    // The folders carry the name of another user id but belong to the one running the test.
    m_environment.userId += 1;
    trashFile(m_volume / (".Trash-" + uid()), "a", "a");
    makeSharedTrash(m_volume);
    trashFile(m_volume / ".Trash" / uid(), "b", "b");

    const auto query = bin().query(u"D:\\");
    const auto emptied = bin().empty();

    ASSERT_TRUE(query);
    EXPECT_EQ(query->size.items, 0u);
    EXPECT_EQ(emptied.itemsRemoved, 0u);
    EXPECT_TRUE(fs::exists(m_volume / (".Trash-" + uid()) / "files" / "a"));
    EXPECT_TRUE(fs::exists(m_volume / ".Trash" / uid() / "files" / "b"));
}

TEST_F(MountTrashTest, EmptyRemovesEveryItemAndNothingElse)
{
    writeFile(m_outside.path() / "notes.txt", "keep me");
    writeFile(m_outside.path() / "docs/letter.txt", "dear");
    const std::set<std::string> outsideBefore = treeOf(m_outside.path());

    trashFile(homeTrash(), "a.txt", "0123456789");
    writeInfo(homeTrash(), "dir");
    writeFile(homeTrash() / "files/dir/x", "abc");
    writeFile(homeTrash() / "files/dir/sub/y", "abcd");
    fs::create_directory_symlink(m_outside.path(), homeTrash() / "files/dir/sub/home");
    fs::create_symlink(m_outside.path() / "notes.txt", homeTrash() / "files/dir/notes");
    writeInfo(homeTrash(), "home");
    fs::create_directory_symlink(m_outside.path(), homeTrash() / "files/home");
    writeFile(homeTrash() / "files/orphan", "left by a restore");
    writeInfo(homeTrash(), "pending");
    trashFile(m_volume / (".Trash-" + uid()), "v.txt", std::string(100, 'v'));

    const auto emptied = bin().empty();

    EXPECT_TRUE(emptied.complete);
    EXPECT_EQ(emptied.itemsRemoved, 4u);
    EXPECT_EQ(emptied.bytesRemoved, 117u);
    EXPECT_EQ(treeOf(m_outside.path()), outsideBefore);
    EXPECT_EQ(treeOf(homeTrash()),
              (std::set<std::string>{
                      "files/",
                      "files/orphan=left by a restore",
                      "info/",
                      "info/pending.trashinfo=" + readFile(homeTrash() / "info/pending.trashinfo"),
              }));
    EXPECT_EQ(treeOf(m_volume / (".Trash-" + uid())), (std::set<std::string>{"files/", "info/"}));
    EXPECT_EQ(bin().query(u"C:\\")->size.items, 0u);
    EXPECT_EQ(bin().query(u"D:\\")->size.items, 0u);
}

// The size cache before an empty and what must be left of it (nothing: the file is gone).
struct SizeCacheRow
{
    const char *name;
    std::string before;
    std::optional<std::string> after;
};

std::ostream &operator<<(std::ostream &out, const SizeCacheRow &row)
{
    return out << row.name;
}

class SizeCacheTest :
    public PrefixRecycleBinTest,
    public ::testing::WithParamInterface<SizeCacheRow>
{};

TEST_P(SizeCacheTest, EmptyDropsTheLinesOfRemovedFolders)
{
    writeInfo(homeTrash(), "dir");
    writeFile(homeTrash() / "files/dir/x", "abc");
    writeInfo(homeTrash(), "my dir");
    writeFile(homeTrash() / "files/my dir/x", "abc");
    writeFile(homeTrash() / "files/kept/x", "abc"); // no info: no item, stays
    writeFile(homeTrash() / "directorysizes", GetParam().before);

    const auto emptied = recycleBin({driveC()}).empty();

    EXPECT_TRUE(emptied.complete);
    EXPECT_EQ(emptied.itemsRemoved, 2u);
    const fs::path cache = homeTrash() / "directorysizes";
    if (GetParam().after) {
        EXPECT_EQ(readFile(cache), *GetParam().after);
    } else {
        EXPECT_FALSE(fs::exists(fs::symlink_status(cache)));
    }
    EXPECT_FALSE(fs::exists(homeTrash() / ("directorysizes.new-" + std::to_string(::getpid()))));
}

INSTANTIATE_TEST_SUITE_P(
        Caches, SizeCacheTest,
        ::testing::Values(
                SizeCacheRow{"allLinesRemoved", "3 1765439758 dir\n3 1765439759 my%20dir\n",
                             std::nullopt},
                SizeCacheRow{"otherLinesKeptByteForByte",
                             "3 1765439758 dir\n3 1765439760 kept\r\n3 1765439759 my%20dir\n"
                             "# a comment\n\n",
                             "3 1765439760 kept\r\n# a comment\n\n"},
                SizeCacheRow{"lastLineWithoutNewline", "3 1765439760 kept\n3 1765439759 my%20dir",
                             "3 1765439760 kept\n"},
                SizeCacheRow{"unchangedWhenNoLineMatches", "3 1765439760 kept\nbroken line",
                             "3 1765439760 kept\nbroken line"},
                SizeCacheRow{"badEscapesCompareAsWritten", "3 1 my%2 dir\n3 1 dir%zz\n3 1 di%72\n",
                             "3 1 my%2 dir\n3 1 dir%zz\n"}),
        [](const auto &info) { return std::string(info.param.name); });

// Makes the running process act as another user until the object goes, so that permissions
// hold even when the tests run as root.
class ScopedEffectiveUser
{
public:
    ScopedEffectiveUser(uid_t user, gid_t group)
    {
        m_switched = ::setegid(group) == 0 && ::seteuid(user) == 0;
    }
    ~ScopedEffectiveUser()
    {
        if (::seteuid(m_user) != 0 || ::setegid(m_group) != 0)
            std::abort();
    }
    ScopedEffectiveUser(const ScopedEffectiveUser &) = delete;
    ScopedEffectiveUser &operator=(const ScopedEffectiveUser &) = delete;

    bool switched() const { return m_switched; }

private:
    uid_t m_user = ::geteuid();
    gid_t m_group = ::getegid();
    bool m_switched = false;
};

TEST(PrefixRecycleBinFailureTest, FailedEmptyReportsWhatReallyWent)
{
    TemporaryFolder root;
    const fs::path trash = root.path() / "data/Trash";
    const fs::path locked = trash / "files/stuck/locked";
    fs::create_directories(root.path() / "drive");
    trashFile(trash, "gone.txt", "0123456789");
    writeInfo(trash, "stuck");
    writeFile(trash / "files/stuck/a.txt", "abcde");
    writeFile(locked / "b.txt", "abcdefg");

    // The folder "locked" forbids removing what it holds: as root, by running as another user
    // who owns everything else; otherwise by taking away the write permission.
    constexpr uid_t nobody = 65534;
    const bool rootUser = ::geteuid() == 0;
    if (rootUser) {
        fs::permissions(root.path(), fs::perms::owner_all | fs::perms::group_read |
                                             fs::perms::group_exec | fs::perms::others_read |
                                             fs::perms::others_exec);
        ASSERT_EQ(::lchown(root.path().c_str(), nobody, nobody), 0);
        for (const auto &entry : fs::recursive_directory_iterator(root.path()))
            ASSERT_EQ(::lchown(entry.path().c_str(), nobody, nobody), 0);
        ASSERT_EQ(::chown(locked.c_str(), 0, 0), 0);
    } else {
        fs::permissions(locked, fs::perms::owner_read | fs::perms::owner_exec);
    }

    TrashEnvironment environment;
    environment.dataHome = (root.path() / "data").string();
    const PrefixRecycleBin bin({{u'D', DriveType::Fixed, (root.path() / "drive").string()}},
                               environment);
    platform::RecycleBinEmptied emptied;
    std::optional<RecycleBinQuery> after;
    {
        std::optional<ScopedEffectiveUser> user;
        if (rootUser && !user.emplace(nobody, nobody).switched())
            GTEST_SKIP() << "cannot act as another user";
        emptied = bin.empty();
        after = bin.query(u"D:\\");
    }
    fs::permissions(locked, fs::perms::owner_all);

    EXPECT_FALSE(emptied.complete);
    EXPECT_EQ(emptied.itemsRemoved, 1u);
    EXPECT_EQ(emptied.bytesRemoved, 15u);
    ASSERT_TRUE(after);
    EXPECT_EQ(after->size.items, 1u);
    EXPECT_EQ(after->size.bytes, 7u);
    EXPECT_EQ(treeOf(trash),
              (std::set<std::string>{
                      "files/",
                      "files/stuck/",
                      "files/stuck/locked/",
                      "files/stuck/locked/b.txt=abcdefg",
                      "info/",
                      "info/stuck.trashinfo=" + readFile(trash / "info/stuck.trashinfo"),
              }));
}

TEST_F(PrefixRecycleBinTest, OpensOnThePrefixMachine)
{
    // Drive Z: is the host's root; its bin is no business of a test.
    fs::remove(fs::path(m_prefix.path()) / "dosdevices" / "z:");
    m_prefix.install();
    trashFile(homeTrash(), "a.txt", "0123456789");

    const auto bin = platform::openPrefixRecycleBin(platform::Machine::current().fileSystem());
    const auto query = bin->query(u"C:\\");
    const auto emptied = bin->empty();

    ASSERT_TRUE(query);
    EXPECT_EQ(query->size.items, 1u);
    EXPECT_EQ(query->size.bytes, 10u);
    EXPECT_TRUE(emptied.complete);
    EXPECT_EQ(emptied.itemsRemoved, 1u);
    EXPECT_FALSE(fs::exists(homeTrash() / "files" / "a.txt"));
}

} // namespace
