// The link table between cleaning-item titles and catalogue entries.

#include <disk_cleaner/TitleLinks.h>

#include <platform/Text.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>

using namespace diskcleaner;

namespace {

TEST(TitleLinks, HoldsOneHundredAndFiveDistinctPairsInTableOrder)
{
    std::set<std::string> titles;
    for (const TitleLink &link : TitleLinks) {
        ASSERT_NE(link.title, nullptr);
        ASSERT_NE(link.displayText, nullptr);
        EXPECT_NE(std::string(link.title), "");
        EXPECT_NE(std::string(link.displayText), "");
        titles.insert(link.title);
    }
    EXPECT_EQ(titles.size(), 105U);
    EXPECT_STREQ(TitleLinks.front().title, "Temporary files");
    EXPECT_STREQ(TitleLinks.front().displayText, "Temporary Files");
    EXPECT_STREQ(TitleLinks[1].title, "Recycle Bin");
    EXPECT_STREQ(TitleLinks[62].title, "Error: No title given");
    EXPECT_STREQ(TitleLinks.back().title, "WordPerfect 7/8/9/10/11");
    EXPECT_STREQ(TitleLinks.back().displayText, "WordPerfect");
}

TEST(TitleLinks, TwentyEightTitlesDifferFromTheirDisplayText)
{
    const auto differing =
            std::count_if(TitleLinks.begin(), TitleLinks.end(), [](const TitleLink &link) {
                return std::string(link.title) != link.displayText;
            });
    EXPECT_EQ(differing, 28);
}

struct LookupCase
{
    const char *title;
    const char *displayText;
};

class TitleLookup : public testing::TestWithParam<LookupCase>
{};

TEST_P(TitleLookup, FindsTheLinkedDisplayText)
{
    EXPECT_STREQ(displayTextForTitle(platform::fromUtf8(GetParam().title)), GetParam().displayText);
}

INSTANTIATE_TEST_SUITE_P(
        Table, TitleLookup,
        testing::Values(LookupCase{"Recycle Bin", "Empty Recycle Bin"},
                        LookupCase{"Windows Memory Dump", "Memory Dumps"},
                        LookupCase{"Run... Most Recently Used list", "Run (in Start Menu)"},
                        LookupCase{"Google Chrome Current and Last Session", "Chrome Last Session"},
                        LookupCase{"aMule Log Files", "eMule Log Files"},
                        LookupCase{"Error: No title given", "Virtual Drive"},
                        LookupCase{"Spybot S&D", "Spybot S&D"},
                        LookupCase{"Winamp Recent & Cache Files", "Winamp Recent & Cache Files"},
                        LookupCase{"Forced WindowsTemp", "Forced WindowsTemp"},
                        // Exact comparison: case and surrounding blanks matter.
                        LookupCase{"recycle bin", ""}, LookupCase{"Recycle Bin ", ""},
                        LookupCase{"Empty Recycle Bin", ""}, LookupCase{"", ""}));

} // namespace
