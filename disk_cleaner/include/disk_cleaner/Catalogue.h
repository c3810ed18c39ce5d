#pragma once

#include <array>
#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace diskcleaner {

// One entry of the catalogue: what the user may choose to analyse. The text is the English source
// text (plain ASCII), which the disk page translates in the context "DiskWidget".
struct CatalogueEntry
{
    const char *text;
    bool checkedByDefault;
};

// One category of the catalogue with its fixed entries, in order.
struct CatalogueCategory
{
    const char *text;
    std::span<const CatalogueEntry> entries;
};

// The nine categories in their fixed order. An entry is analysed when a cleaning item's title
// leads to its text through the link table (TitleLinks.h); many entries have no such item and
// add nothing to an analysis. The same text may stand in several categories.
extern const std::array<CatalogueCategory, 9> CatalogueCategories;

// The place of "Applications" in CatalogueCategories, which the completion below extends.
inline constexpr std::size_t ApplicationsCategory = 7;

// The completion of the Applications category: the positions in displayTexts (the link table's
// display texts, in table order) of the texts that equal none of entryTexts, case included, in
// order. These become checked entries at the end of Applications. A text that occurs twice among
// the display texts is taken twice: the completion compares with the catalogue only.
std::vector<std::size_t> ApplicationsCompletion(std::span<const std::u16string> entryTexts,
                                                std::span<const std::u16string> displayTexts);

// An entry as a catalogue shows it: its text and whether it is checked.
struct CatalogueChoice
{
    std::u16string text;
    bool checked = false;
};

struct CatalogueSection
{
    std::u16string text;
    std::vector<CatalogueChoice> entries;
};

// The catalogue in its source texts with every entry in its default state, Applications
// completed from the link table: what the disk page shows at start in English.
std::vector<CatalogueSection> CompletedCatalogue();

// The check state of the first entry, walking the categories and their entries in order, whose
// text equals the given one without regard to case; false when no entry has that text.
bool IsEntryChecked(std::span<const CatalogueSection> catalogue, std::u16string_view text);

// The display text that the link table gives an item's title, the titles compared without regard
// to case; empty when no pair has that title (such an item is never analysed).
std::u16string LinkedDisplayText(std::u16string_view title);

} // namespace diskcleaner
