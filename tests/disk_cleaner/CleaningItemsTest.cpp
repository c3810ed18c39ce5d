#include "SystemItemsTestSupport.h"

#include <disk_cleaner/CleaningItems.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using diskcleaner::PlugInfo;
using platform::u16;

namespace {

// Stands for a plug-in item: titled after its definition file.
class DefinitionItem final : public PlugInfo
{
public:
    explicit DefinitionItem(std::u16string file) { Title = std::move(file); }
    void Clean() override {}
    void Rescan() override {}
    void Scan() override {}
    void GetFileList(diskcleaner::FileList &) const override {}
};

std::vector<std::u16string> titles(const std::vector<std::unique_ptr<PlugInfo>> &items)
{
    std::vector<std::u16string> result;
    for (const auto &item : items)
        result.push_back(item->GetTitle());
    return result;
}

class CleaningItemsTest : public ::testing::Test
{
protected:
    CleaningItemsTest()
    {
        m_prefix.install();
        // Definition files and what only looks like one.
        for (const char *name : {"b.dct", "A.DCT", "c.Dct", "Ab.dct", "notes.txt", ".hidden.dct",
                                 "x.dct.bak", "dct", "nodot"})
            systemitems::writeHostFile(m_plugIns.path() / name, "[Plugin]\n");
        fs::create_directories(m_plugIns.path() / "folder.dct");
        fs::create_symlink(m_plugIns.path() / "b.dct", m_plugIns.path() / "linked.dct");
        fs::create_symlink(m_plugIns.path() / "missing", m_plugIns.path() / "dangling.dct");
    }

    std::u16string file(const char *name) const { return u16((m_plugIns.path() / name).string()); }

    TestPrefix m_prefix;
    systemitems::TemporaryFolder m_plugIns;
};

TEST_F(CleaningItemsTest, DefinitionFilesInNameOrderWithoutRegardToCase)
{
    const std::vector<std::u16string> expected = {file("A.DCT"), file("Ab.dct"), file("b.dct"),
                                                  file("c.Dct"), file("linked.dct")};
    EXPECT_EQ(diskcleaner::PlugInDefinitionFiles(m_plugIns.path().string()), expected);
    EXPECT_EQ(diskcleaner::PlugInDefinitionFiles(m_plugIns.path().string() + "/"), expected);
    EXPECT_TRUE(diskcleaner::PlugInDefinitionFiles((m_plugIns.path() / "none").string()).empty());
    EXPECT_TRUE(diskcleaner::PlugInDefinitionFiles((m_plugIns.path() / "b.dct").string()).empty());
}

TEST_F(CleaningItemsTest, BuiltInItemsFirstThenOnePerDefinitionFile)
{
    std::vector<std::u16string> asked;
    const auto items = diskcleaner::CreateCleaningItems(
            m_plugIns.path().string(),
            [&](const std::u16string &definitionFile) -> std::unique_ptr<PlugInfo> {
                asked.push_back(definitionFile);
                // A file the factory makes nothing of is left out.
                if (definitionFile == file("Ab.dct"))
                    return nullptr;
                return std::make_unique<DefinitionItem>(definitionFile);
            });

    EXPECT_EQ(asked, (std::vector<std::u16string>{file("A.DCT"), file("Ab.dct"), file("b.dct"),
                                                  file("c.Dct"), file("linked.dct")}));
    EXPECT_EQ(titles(items),
              (std::vector<std::u16string>{u"Temporary files", u"Recycle Bin", u"Recent Documents",
                                           u"Firefox Cache", u"Firefox Cookies", u"Firefox History",
                                           u"Internet Explorer Cache", u"Internet Explorer History",
                                           u"Internet Explorer Cookies", file("A.DCT"),
                                           file("b.dct"), file("c.Dct"), file("linked.dct")}));
}

TEST_F(CleaningItemsTest, WithoutAFactoryOnlyTheBuiltInItems)
{
    const auto items = diskcleaner::CreateCleaningItems(m_plugIns.path().string(), {});

    ASSERT_EQ(titles(items),
              (std::vector<std::u16string>{u"Temporary files", u"Recycle Bin", u"Recent Documents",
                                           u"Firefox Cache", u"Firefox Cookies", u"Firefox History",
                                           u"Internet Explorer Cache", u"Internet Explorer History",
                                           u"Internet Explorer Cookies"}));
    EXPECT_EQ(items[0]->GetDescription(),
              u"Removes temporary files from the current user's temporary folder, C:\\users\\" +
                      u16(m_prefix.userName()) + u"\\Temp");
    EXPECT_EQ(items[1]->GetDescription(), u"Empties the Recycle Bin on the desktop");
    EXPECT_EQ(items[2]->GetDescription(), u"Clears the Recent Documents in the Start menu");
}

} // namespace
