#include "SystemItemsTestSupport.h"

#include <disk_cleaner/recent_docs.h>

#include <platform/Machine.h>
#include <platform/RecentDocuments.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>

using diskcleaner::FileList;
using diskcleaner::recent_docs;
using platform::u16;

namespace {

class RecentDocsTest : public ::testing::Test
{
protected:
    RecentDocsTest()
    {
        m_prefix.install();
        m_folder = platform::Machine::current().recentDocuments().folder().value_or(u"");
        m_belowDriveC = systemitems::belowDriveC(m_folder);
    }

    std::string hostPath(const std::string &name) const
    {
        return m_prefix.hostPath(m_belowDriveC + "/" + name);
    }

    static FileList fileList(const recent_docs &item)
    {
        FileList list;
        item.GetFileList(list);
        std::sort(list.begin(), list.end());
        return list;
    }

    TestPrefix m_prefix;
    std::u16string m_folder;
    std::string m_belowDriveC;
};

TEST_F(RecentDocsTest, CountsEveryDocumentButSystemFiles)
{
    ASSERT_EQ(m_folder.substr(0, 3), u"C:\\");
    m_prefix.writeFile(m_belowDriveC + "/a.txt.lnk", "abc");
    m_prefix.writeFile(m_belowDriveC + "/.dotted.lnk", "abcd");
    m_prefix.writeFile(m_belowDriveC + "/hidden.lnk", "abcde");
    m_prefix.writeFile(m_belowDriveC + "/desktop.ini", "[.ShellClassInfo]");
    m_prefix.writeFile(m_belowDriveC + "/sub/b.lnk", "abcdefg");
    if (!m_prefix.setDosAttributeRecord(m_belowDriveC + "/hidden.lnk", "0x2") ||
        !m_prefix.setDosAttributeRecord(m_belowDriveC + "/desktop.ini", "0x6"))
        GTEST_SKIP() << "the file system keeps no DOS attributes";
    recent_docs item;
    EXPECT_EQ(item.GetTitle(), u"Recent Documents");
    EXPECT_EQ(item.GetDescription(), u"Clears the Recent Documents in the Start menu");

    item.Scan();

    const FileList expected = {
            m_folder + u"\\.dotted.lnk",
            m_folder + u"\\a.txt.lnk",
            m_folder + u"\\hidden.lnk",
            m_folder + u"\\sub\\b.lnk",
    };
    EXPECT_EQ(fileList(item), expected);
    EXPECT_EQ(item.GetItemsFound(), 4u);
    EXPECT_EQ(item.GetBytesFound(), 19u);
    item.Rescan();
    EXPECT_EQ(fileList(item), expected);
    EXPECT_EQ(item.GetItemsFound(), 4u);
}

TEST_F(RecentDocsTest, CleanedTotalsAreTheDocumentsThatWent)
{
    m_prefix.writeFile(m_belowDriveC + "/a.txt.lnk", "abc");
    m_prefix.writeFile(m_belowDriveC + "/.dotted.lnk", "abcd");
    m_prefix.writeFile(m_belowDriveC + "/kept.lnk", "12345");
    m_prefix.makeReadOnly(m_belowDriveC + "/kept.lnk");
    m_prefix.writeFile(m_belowDriveC + "/sub/b.lnk", "abcdefg");
    recent_docs item;
    item.Scan();
    ASSERT_EQ(item.GetItemsFound(), 4u);

    item.Clean();

    // The shell clears the documents directly in the folder; a read-only one stays.
    EXPECT_EQ(item.GetItemsCleaned(), 2u);
    EXPECT_EQ(item.GetBytesCleaned(), 7u);
    EXPECT_FALSE(TestPrefix::exists(hostPath("a.txt.lnk")));
    EXPECT_FALSE(TestPrefix::exists(hostPath(".dotted.lnk")));
    EXPECT_TRUE(TestPrefix::exists(hostPath("kept.lnk")));
    EXPECT_TRUE(TestPrefix::exists(hostPath("sub/b.lnk")));
}

TEST_F(RecentDocsTest, WithoutTheFolderNothingIsFound)
{
    m_prefix.writeFile(m_belowDriveC + "/a.txt.lnk", "abc");
    recent_docs item;
    item.Scan();
    ASSERT_EQ(item.GetItemsFound(), 1u);

    std::filesystem::remove_all(m_prefix.hostPath(m_belowDriveC));
    item.Scan();

    EXPECT_EQ(item.GetItemsFound(), 0u);
    EXPECT_EQ(item.GetBytesFound(), 0u);
    EXPECT_TRUE(fileList(item).empty());
}

} // namespace
