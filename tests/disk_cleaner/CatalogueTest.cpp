// The catalogue of the disk cleaner: categories, default check states, the Applications
// completion and the lookups the page and the command line share.

#include <disk_cleaner/Catalogue.h>
#include <disk_cleaner/TitleLinks.h>

#include <platform/Text.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

using namespace diskcleaner;
using platform::fromUtf8;

namespace {

std::vector<std::string> checkedTexts(const CatalogueSection &section)
{
    std::vector<std::string> texts;
    for (const CatalogueChoice &entry : section.entries) {
        if (entry.checked)
            texts.push_back(platform::toUtf8(entry.text));
    }
    return texts;
}

std::vector<std::string> textsOf(const CatalogueSection &section)
{
    std::vector<std::string> texts;
    for (const CatalogueChoice &entry : section.entries)
        texts.push_back(platform::toUtf8(entry.text));
    return texts;
}

TEST(Catalogue, NineCategoriesInOrder)
{
    const std::vector<std::string> expected{
            "System", "Windows Explorer", "Internet Explorer", "Firefox", "Google Chrome",
            "Opera",  "Comodo Dragon",    "Applications",      "Advanced"};
    std::vector<std::string> texts;
    for (const CatalogueCategory &category : CatalogueCategories)
        texts.push_back(category.text);
    EXPECT_EQ(texts, expected);
    EXPECT_STREQ(CatalogueCategories[ApplicationsCategory].text, "Applications");
}

struct CategoryCase
{
    const char *category;
    std::vector<std::string> entries;
    std::vector<std::string> checked;
};

class CatalogueDefaults : public testing::TestWithParam<CategoryCase>
{};

// Every fixed category, entry for entry, with the entries that start checked.
TEST_P(CatalogueDefaults, EntriesAndDefaultChecks)
{
    const std::vector<CatalogueSection> catalogue = CompletedCatalogue();
    const auto section = std::find_if(catalogue.begin(), catalogue.end(), [](const auto &s) {
        return s.text == fromUtf8(GetParam().category);
    });
    ASSERT_NE(section, catalogue.end());
    EXPECT_EQ(textsOf(*section), GetParam().entries);
    EXPECT_EQ(checkedTexts(*section), GetParam().checked);
}

INSTANTIATE_TEST_SUITE_P(
        Table, CatalogueDefaults,
        testing::Values(
                CategoryCase{"System",
                             {"Empty Recycle Bin", "Temporary Files", "Clipboard", "Memory Dumps",
                              "Chkdsk File Fragments", "Windows Log Files", "WinImp History",
                              "DNS Cache", "Font Cache", "Start Menu Shortcuts",
                              "Desktop Shortcuts"},
                             {"Empty Recycle Bin", "Temporary Files", "Clipboard", "Memory Dumps",
                              "Chkdsk File Fragments", "Windows Log Files"}},
                CategoryCase{"Windows Explorer",
                             {"Recent Documents", "Run (in Start Menu)",
                              "Windows Explorer Search History", "Windows Recent Destinations",
                              "Windows Explorer Find Files List",
                              "Windows Explorer Thumbnail Cache", "Windows Explorer Find Computer",
                              "File Search History", "Other Explorer MRUs", "Network Passwords"},
                             {"Recent Documents", "Run (in Start Menu)",
                              "Windows Explorer Search History", "Windows Recent Destinations",
                              "Windows Explorer Find Files List",
                              "Windows Explorer Thumbnail Cache", "Windows Explorer Find Computer",
                              "File Search History"}},
                CategoryCase{"Internet Explorer",
                             {"Internet Explorer Cache", "Internet Explorer History",
                              "Internet Explorer Cookies", "IE Address Bar Typed URLs",
                              "Index .dat files", "Last Download Location",
                              "IE Autocomplete Form History", "Saved Passwords"},
                             {"Internet Explorer Cache", "Internet Explorer History",
                              "Internet Explorer Cookies", "IE Address Bar Typed URLs",
                              "Index .dat files"}},
                CategoryCase{"Firefox",
                             {"Firefox Cache", "Firefox History", "Firefox Cookies",
                              "Download History", "Session", "Site Prefernces",
                              "Saved Form Information", "Saved Passwords", "Compact Database"},
                             {"Firefox Cache", "Firefox History", "Firefox Cookies",
                              "Download History", "Session"}},
                CategoryCase{"Google Chrome",
                             {"Google Chrome Cache", "Google Chrome Cookies",
                              "Google Chrome History", "Download History", "Chrome Last Session",
                              "Saved Form Information", "Saved Passwords", "Compact Databases"},
                             {"Google Chrome Cache", "Google Chrome Cookies",
                              "Google Chrome History", "Download History", "Chrome Last Session"}},
                CategoryCase{"Opera",
                             {"Opera Cache", "Opera History", "Opera Cookies",
                              "Opera Download History", "Opera Session", "Site Preferences",
                              "Saved Form Information", "Saved Passwords", "Compact Databases"},
                             {"Opera Cache", "Opera History", "Opera Cookies",
                              "Opera Download History", "Opera Session"}},
                CategoryCase{
                        "Comodo Dragon",
                        {"Comodo Dragon Cache", "Comodo Dragon Cookies", "Comodo Dragon History",
                         "Saved Form Information", "Saved Passwords", "Download History"},
                        {"Comodo Dragon Cache", "Comodo Dragon Cookies", "Comodo Dragon History"}},
                CategoryCase{"Advanced",
                             {"Old Prefetch Data", "Menu Order Cache", "Tray Notifications Cache",
                              "Windows Size/Location Cache", "Enviroment Path",
                              "User Assist History", "IIS Log Files", "Hotfix Uninstallers",
                              "Custom Files and Folders", "Wipe Free Space"},
                             {}}));

TEST(Catalogue, ApplicationsGetEveryLinkedTextNotAlreadyListed)
{
    const std::vector<CatalogueSection> catalogue = CompletedCatalogue();
    const CatalogueSection &applications = catalogue[ApplicationsCategory];

    // Every display text of the table is in the catalogue exactly once, so each item leads
    // somewhere; the two fixed entries come first and nothing is added twice.
    std::vector<std::string> expected{"Zorvo DVD Ripper", "Zorvo Video Converter"};
    for (const TitleLink &link : TitleLinks) {
        const std::u16string text = fromUtf8(link.displayText);
        int places = 0;
        for (const CatalogueSection &section : catalogue) {
            places += static_cast<int>(std::count_if(
                    section.entries.begin(), section.entries.end(),
                    [&](const CatalogueChoice &entry) { return entry.text == text; }));
        }
        EXPECT_EQ(places, 1) << link.displayText;
    }
    const std::vector<std::string> texts = textsOf(applications);
    ASSERT_EQ(texts.size(), 77U);
    EXPECT_EQ(texts[2], "7zip");
    EXPECT_EQ(texts[3], "Ability Office");
    EXPECT_EQ(texts.back(), "WordPerfect");
    EXPECT_NE(std::find(texts.begin(), texts.end(), "Virtual Drive"), texts.end());
    EXPECT_EQ(std::find(texts.begin(), texts.end(), "Windows Log Files"), texts.end());
    EXPECT_EQ(checkedTexts(applications).size(), texts.size());
}

TEST(Catalogue, CompletionComparesCaseAndTakesRepeatsAgain)
{
    const std::vector<std::u16string> entries{u"Temporary Files", u"7zip"};
    const std::vector<std::u16string> links{u"temporary files", u"7zip", u"New", u"Temporary Files",
                                            u"New"};
    EXPECT_EQ(ApplicationsCompletion(entries, links), (std::vector<std::size_t>{0, 2, 4}));
    EXPECT_TRUE(ApplicationsCompletion(entries, {}).empty());
}

TEST(Catalogue, FirstEntryOfATextGivesItsState)
{
    std::vector<CatalogueSection> catalogue = CompletedCatalogue();
    // "Download History" is checked under Firefox and Chrome, unchecked under Comodo Dragon;
    // "Saved Passwords" is unchecked everywhere.
    EXPECT_TRUE(IsEntryChecked(catalogue, u"download history"));
    EXPECT_FALSE(IsEntryChecked(catalogue, u"Saved Passwords"));
    EXPECT_TRUE(IsEntryChecked(catalogue, u"TEMPORARY FILES"));
    EXPECT_FALSE(IsEntryChecked(catalogue, u"Firefox"));
    EXPECT_FALSE(IsEntryChecked(catalogue, u""));

    // A later checked entry of the same text does not count.
    for (CatalogueChoice &entry : catalogue[6].entries) {
        if (entry.text == u"Saved Passwords")
            entry.checked = true;
    }
    EXPECT_FALSE(IsEntryChecked(catalogue, u"Saved Passwords"));
    catalogue[2].entries.back().checked = true;
    EXPECT_TRUE(IsEntryChecked(catalogue, u"Saved Passwords"));
}

TEST(Catalogue, LinkedDisplayTextIgnoresCase)
{
    EXPECT_EQ(LinkedDisplayText(u"Temporary files"), u"Temporary Files");
    EXPECT_EQ(LinkedDisplayText(u"TEMPORARY FILES"), u"Temporary Files");
    EXPECT_EQ(LinkedDisplayText(u"7-zip history"), u"7zip");
    EXPECT_EQ(LinkedDisplayText(u"Error: No title given"), u"Virtual Drive");
    EXPECT_EQ(LinkedDisplayText(u"Temporary files "), u"");
    EXPECT_EQ(LinkedDisplayText(u""), u"");
}

} // namespace
