#pragma once

#include <array>
#include <string_view>

namespace diskcleaner {

// One pair of the link table: the Title of a cleaning item and the catalogue entry it leads to.
// Both texts are UTF-8 (plain ASCII in fact); the display text is the English source text that
// the disk page translates in the context "DiskWidgetPage".
struct TitleLink
{
    const char *title;
    const char *displayText;
};

// The link table, in its fixed order. The order decides where the page appends catalogue entries
// of its own, so it is part of the table.
extern const std::array<TitleLink, 105> TitleLinks;

// The display text linked to an item's Title (compared exactly, case included); an empty text,
// never null, when the table has no such title.
const char *displayTextForTitle(std::u16string_view title);

} // namespace diskcleaner
