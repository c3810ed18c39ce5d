#include "SystemItemsTestSupport.h"

#include <disk_cleaner/RecycleBinInfo.h>

#include <platform/Machine.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;
using diskcleaner::FileList;
using diskcleaner::RecycleBinInfo;
using systemitems::trashFile;
using systemitems::writeHostFile;

namespace {

// A test prefix with fixed drives C: and D:, without the host's root as Z:, whose home trash is a
// temporary XDG_DATA_HOME. The bin reads that variable when the machine opens, so the variable is
// set first.
class RecycleBinInfoTest : public ::testing::Test
{
protected:
    RecycleBinInfoTest()
    {
        fs::remove(fs::path(m_prefix.path()) / "dosdevices" / "z:");
        m_prefix.linkDrive('d', m_prefix.makeTopFolder("disk-d"));
    }

    fs::path homeTrash() const { return m_data.path() / "Trash"; }

    // One file and one folder with two files, 17 bytes; and what is no item: an info file
    // without its data, data without its info file.
    void fillTrash() const
    {
        trashFile(homeTrash(), "a.txt", "0123456789");
        trashFile(homeTrash(), "dir", std::nullopt);
        writeHostFile(homeTrash() / "files/dir/x", "abc");
        writeHostFile(homeTrash() / "files/dir/sub/y", "abcd");
        trashFile(homeTrash(), "gone", std::nullopt);
        writeHostFile(homeTrash() / "files/orphan", "left by a restore");
    }

    TestPrefix m_prefix;
    systemitems::TemporaryFolder m_data;
    systemitems::ScopedHostVariable m_dataHome{"XDG_DATA_HOME", m_data.path().string()};
};

TEST_F(RecycleBinInfoTest, ScanCountsEveryBinOnceAndStartsFromZero)
{
    m_prefix.install();
    fillTrash();
    RecycleBinInfo item;
    EXPECT_EQ(item.GetTitle(), u"Recycle Bin");
    EXPECT_EQ(item.GetDescription(), u"Empties the Recycle Bin on the desktop");

    // C: and D: share the home trash: it counts once, and a second scan does not add to the first.
    for (int round = 0; round < 2; ++round) {
        item.Scan();
        EXPECT_EQ(item.GetItemsFound(), 2u);
        EXPECT_EQ(item.GetBytesFound(), 17u);
    }
    item.Rescan();
    EXPECT_EQ(item.GetItemsFound(), 2u);
    EXPECT_EQ(item.GetBytesFound(), 17u);
}

TEST_F(RecycleBinInfoTest, HasNoFileList)
{
    m_prefix.install();
    fillTrash();
    RecycleBinInfo item;
    item.Scan();

    FileList list;
    item.GetFileList(list);

    EXPECT_EQ(list, FileList{u"Recycle bin does not support file listing"});
}

TEST_F(RecycleBinInfoTest, WithoutAFixedDriveThereIsNoBin)
{
    m_prefix.writeTopFile("system.reg", "WINE REGISTRY Version 2\n"
                                        ";; All keys relative to REGISTRY\\\\Machine\n"
                                        "\n"
                                        "#arch=win64\n"
                                        "\n"
                                        "[Software\\\\Wine\\\\Drives] 1700000000\n"
                                        "\"c:\"=\"cdrom\"\n"
                                        "\"d:\"=\"network\"\n");
    m_prefix.install();
    fillTrash();
    RecycleBinInfo item;

    item.Scan();

    EXPECT_EQ(item.GetItemsFound(), 0u);
    EXPECT_EQ(item.GetBytesFound(), 0u);
}

TEST_F(RecycleBinInfoTest, CleanEmptiesTheBinAndCountsWhatWent)
{
    m_prefix.install();
    fillTrash();
    RecycleBinInfo item;
    item.Scan();

    item.Clean();

    EXPECT_EQ(item.GetItemsCleaned(), 2u);
    EXPECT_EQ(item.GetBytesCleaned(), 17u);
    EXPECT_FALSE(fs::exists(homeTrash() / "files/a.txt"));
    EXPECT_FALSE(fs::exists(homeTrash() / "files/dir"));
    EXPECT_TRUE(fs::exists(homeTrash() / "files/orphan"));
    item.Scan();
    EXPECT_EQ(item.GetItemsFound(), 0u);
}

// Makes the running process act as another user until the object goes, so that permissions hold
// even when the tests run as root.
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

TEST_F(RecycleBinInfoTest, AFailedEmptyCountsOnlyWhatWent)
{
    m_prefix.install();
    trashFile(homeTrash(), "gone.txt", "0123456789");
    trashFile(homeTrash(), "stuck", std::nullopt);
    writeHostFile(homeTrash() / "files/stuck/a.txt", "abcde");
    const fs::path locked = homeTrash() / "files/stuck/locked";
    writeHostFile(locked / "b.txt", "abcdefg");

    // The folder "locked" forbids removing what it holds: as root, by emptying as another user
    // who owns everything else; otherwise by taking away the write permission.
    constexpr uid_t nobody = 65534;
    const bool rootUser = ::geteuid() == 0;
    if (rootUser) {
        const auto open = fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                          fs::perms::others_read | fs::perms::others_exec;
        fs::permissions(m_prefix.path(), open);
        fs::permissions(m_data.path(), open);
        ASSERT_EQ(::lchown(m_data.path().c_str(), nobody, nobody), 0);
        for (const auto &entry : fs::recursive_directory_iterator(m_data.path()))
            ASSERT_EQ(::lchown(entry.path().c_str(), nobody, nobody), 0);
        ASSERT_EQ(::chown(locked.c_str(), 0, 0), 0);
    } else {
        fs::permissions(locked, fs::perms::owner_read | fs::perms::owner_exec);
    }
    RecycleBinInfo item;
    item.Scan();
    ASSERT_EQ(item.GetItemsFound(), 2u);
    ASSERT_EQ(item.GetBytesFound(), 22u);

    {
        std::optional<ScopedEffectiveUser> user;
        if (rootUser && !user.emplace(nobody, nobody).switched())
            GTEST_SKIP() << "cannot act as another user";
        item.Clean();
    }
    fs::permissions(locked, fs::perms::owner_all);

    // "gone.txt" and the part of "stuck" outside "locked" went; the item "stuck" stays.
    EXPECT_EQ(item.GetItemsCleaned(), 1u);
    EXPECT_EQ(item.GetBytesCleaned(), 15u);
    EXPECT_TRUE(fs::exists(locked / "b.txt"));
    item.Scan();
    EXPECT_EQ(item.GetItemsFound(), 1u);
    EXPECT_EQ(item.GetBytesFound(), 7u);
}

} // namespace
