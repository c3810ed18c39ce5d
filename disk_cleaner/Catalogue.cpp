#include <disk_cleaner/Catalogue.h>

#include <disk_cleaner/TitleLinks.h>

#include <platform/Text.h>

#include <algorithm>

// Marks the texts for Qt's translation tools, which find them in the context "DiskWidget" by this
// name; the engine itself links no Qt.
#ifndef QT_TRANSLATE_NOOP
#define QT_TRANSLATE_NOOP(context, text) text
#endif

namespace diskcleaner {

namespace {

constexpr bool on = true;
constexpr bool off = false;

const CatalogueEntry systemEntries[] = {
        {QT_TRANSLATE_NOOP("DiskWidget", "Empty Recycle Bin"), on},
        {QT_TRANSLATE_NOOP("DiskWidget", "Temporary Files"), on},
        {QT_TRANSLATE_NOOP("DiskWidget", "Clipboard"), on},
        {QT_TRANSLATE_NOOP("DiskWidget", "Memory Dumps"), on},
        {QT_TRANSLATE_NOOP("DiskWidget", "Chkdsk File Fragments"), on},
        {QT_TRANSLATE_NOOP("DiskWidget", "Windows Log Files"), on},
        {QT_TRANSLATE_NOOP("DiskWidget", "WinImp History"), off},
        {QT_TRANSLATE_NOOP("DiskWidget", "DNS Cache"), off},
        {QT_TRANSLATE_NOOP("DiskWidget", "Font Cache"), off},
        {QT_TRANSLATE_NOOP("DiskWidget", "Start Menu Shortcuts"), off},
        {QT_TRANSLATE_NOOP("DiskWidget", "Desktop Shortcuts"), off},
};

const CatalogueEntry explorerEntries[] = {
        {QT_TRANSLATE_NOOP("DiskWidget", "Recent Documents"), on},
        {QT_TRANSLATE_NOOP("DiskWidget", "Run (in Start Menu)"), on},
        {QT_TRANSLATE_NOOP("DiskWidget", "Windows Explorer Search History"), on},
        {QT_TRANSLATE_NOOP("DiskWidget", "Windows Recent Destinations"), on},
        {QT_TRANSLATE_NOOP("DiskWidget", "Windows Explorer Find Files List"), on},
        {QT_TRANSLATE_NOOP("DiskWidget", "Windows Explorer Thumbnail Cache"), on},
        {QT_TRANSLATE_NOOP("DiskWidget", "Windows Explorer Find Computer"), on},
        {QT_TRANSLATE_NOOP("DiskWidget", "File Search History"), on},
        {QT_TRANSLATE_NOOP("DiskWidget", "Other Explorer MRUs"), off},
        {QT_TRANSLATE_NOOP("DiskWidget", "Network Passwords"), off},
};

const CatalogueEntry internetExplorerEntries[] = {
        {QT_TRANSLATE_NOOP("DiskWidget", "Internet Explorer Cache"), on},
        {QT_TRANSLATE_NOOP("DiskWidget", "Internet Explorer History"), on},
        {QT_TRANSLATE_NOOP("DiskWidget", "Internet Explorer Cookies"), on},
        {QT_TRANSLATE_NOOP("DiskWidget", "IE Address Bar Typed URLs"), on},
        {QT_TRANSLATE_NOOP("DiskWidget", "Index .dat files"), on},
        {QT_TRANSLATE_NOOP("DiskWidget", "Last Download Location"), off},
        {QT_TRANSLATE_NOOP("DiskWidget", "IE Autocomplete Form History"), off},
        {QT_TRANSLATE_NOOP("DiskWidget", "Saved Passwords"), off},
};

const CatalogueEntry firefoxEntries[] = {
        {QT_TRANSLATE_NOOP("DiskWidget", "Firefox Cache"), on},
        {QT_TRANSLATE_NOOP("DiskWidget", "Firefox History"), on},
        {QT_TRANSLATE_NOOP("DiskWidget", "Firefox Cookies"), on},
        {QT_TRANSLATE_NOOP("DiskWidget", "Download History"), on},
        {QT_TRANSLATE_NOOP("DiskWidget", "Session"), on},
        {QT_TRANSLATE_NOOP("DiskWidget", "Site Prefernces"), off},
        {QT_TRANSLATE_NOOP("DiskWidget", "Saved Form Information"), off},
        {QT_TRANSLATE_NOOP("DiskWidget", "Saved Passwords"), off},
        {QT_TRANSLATE_NOOP("DiskWidget", "Compact Database"), off},
};

const CatalogueEntry chromeEntries[] = {
        {QT_TRANSLATE_NOOP("DiskWidget", "Google Chrome Cache"), on},
        {QT_TRANSLATE_NOOP("DiskWidget", "Google Chrome Cookies"), on},
        {QT_TRANSLATE_NOOP("DiskWidget", "Google Chrome History"), on},
        {QT_TRANSLATE_NOOP("DiskWidget", "Download History"), on},
        {QT_TRANSLATE_NOOP("DiskWidget", "Chrome Last Session"), on},
        {QT_TRANSLATE_NOOP("DiskWidget", "Saved Form Information"), off},
        {QT_TRANSLATE_NOOP("DiskWidget", "Saved Passwords"), off},
        {QT_TRANSLATE_NOOP("DiskWidget", "Compact Databases"), off},
};

const CatalogueEntry operaEntries[] = {
        {QT_TRANSLATE_NOOP("DiskWidget", "Opera Cache"), on},
        {QT_TRANSLATE_NOOP("DiskWidget", "Opera History"), on},
        {QT_TRANSLATE_NOOP("DiskWidget", "Opera Cookies"), on},
        {QT_TRANSLATE_NOOP("DiskWidget", "Opera Download History"), on},
        {QT_TRANSLATE_NOOP("DiskWidget", "Opera Session"), on},
        {QT_TRANSLATE_NOOP("DiskWidget", "Site Preferences"), off},
        {QT_TRANSLATE_NOOP("DiskWidget", "Saved Form Information"), off},
        {QT_TRANSLATE_NOOP("DiskWidget", "Saved Passwords"), off},
        {QT_TRANSLATE_NOOP("DiskWidget", "Compact Databases"), off},
};

const CatalogueEntry dragonEntries[] = {
        {QT_TRANSLATE_NOOP("DiskWidget", "Comodo Dragon Cache"), on},
        {QT_TRANSLATE_NOOP("DiskWidget", "Comodo Dragon Cookies"), on},
        {QT_TRANSLATE_NOOP("DiskWidget", "Comodo Dragon History"), on},
        {QT_TRANSLATE_NOOP("DiskWidget", "Saved Form Information"), off},
        {QT_TRANSLATE_NOOP("DiskWidget", "Saved Passwords"), off},
        {QT_TRANSLATE_NOOP("DiskWidget", "Download History"), off},
};

const CatalogueEntry applicationEntries[] = {
        {QT_TRANSLATE_NOOP("DiskWidget", "Zorvo DVD Ripper"), on},
        {QT_TRANSLATE_NOOP("DiskWidget", "Zorvo Video Converter"), on},
};

const CatalogueEntry advancedEntries[] = {
        {QT_TRANSLATE_NOOP("DiskWidget", "Old Prefetch Data"), off},
        {QT_TRANSLATE_NOOP("DiskWidget", "Menu Order Cache"), off},
        {QT_TRANSLATE_NOOP("DiskWidget", "Tray Notifications Cache"), off},
        {QT_TRANSLATE_NOOP("DiskWidget", "Windows Size/Location Cache"), off},
        {QT_TRANSLATE_NOOP("DiskWidget", "Enviroment Path"), off},
        {QT_TRANSLATE_NOOP("DiskWidget", "User Assist History"), off},
        {QT_TRANSLATE_NOOP("DiskWidget", "IIS Log Files"), off},
        {QT_TRANSLATE_NOOP("DiskWidget", "Hotfix Uninstallers"), off},
        {QT_TRANSLATE_NOOP("DiskWidget", "Custom Files and Folders"), off},
        {QT_TRANSLATE_NOOP("DiskWidget", "Wipe Free Space"), off},
};

} // namespace

const std::array<CatalogueCategory, 9> CatalogueCategories = {
        CatalogueCategory{QT_TRANSLATE_NOOP("DiskWidget", "System"), systemEntries},
        CatalogueCategory{QT_TRANSLATE_NOOP("DiskWidget", "Windows Explorer"), explorerEntries},
        CatalogueCategory{QT_TRANSLATE_NOOP("DiskWidget", "Internet Explorer"),
                          internetExplorerEntries},
        CatalogueCategory{QT_TRANSLATE_NOOP("DiskWidget", "Firefox"), firefoxEntries},
        CatalogueCategory{QT_TRANSLATE_NOOP("DiskWidget", "Google Chrome"), chromeEntries},
        CatalogueCategory{QT_TRANSLATE_NOOP("DiskWidget", "Opera"), operaEntries},
        CatalogueCategory{QT_TRANSLATE_NOOP("DiskWidget", "Comodo Dragon"), dragonEntries},
        CatalogueCategory{QT_TRANSLATE_NOOP("DiskWidget", "Applications"), applicationEntries},
        CatalogueCategory{QT_TRANSLATE_NOOP("DiskWidget", "Advanced"), advancedEntries},
};

std::vector<std::size_t> ApplicationsCompletion(std::span<const std::u16string> entryTexts,
                                                std::span<const std::u16string> displayTexts)
{
    std::vector<std::size_t> added;
    for (std::size_t index = 0; index < displayTexts.size(); ++index) {
        if (std::find(entryTexts.begin(), entryTexts.end(), displayTexts[index]) ==
            entryTexts.end())
            added.push_back(index);
    }
    return added;
}

std::vector<CatalogueSection> CompletedCatalogue()
{
    std::vector<CatalogueSection> catalogue;
    std::vector<std::u16string> entryTexts;
    for (const CatalogueCategory &category : CatalogueCategories) {
        CatalogueSection &section =
                catalogue.emplace_back(CatalogueSection{platform::fromUtf8(category.text), {}});
        for (const CatalogueEntry &entry : category.entries) {
            section.entries.push_back({platform::fromUtf8(entry.text), entry.checkedByDefault});
            entryTexts.push_back(section.entries.back().text);
        }
    }

    std::vector<std::u16string> displayTexts;
    for (const TitleLink &link : TitleLinks)
        displayTexts.push_back(platform::fromUtf8(link.displayText));
    for (const std::size_t index : ApplicationsCompletion(entryTexts, displayTexts))
        catalogue[ApplicationsCategory].entries.push_back({displayTexts[index], true});
    return catalogue;
}

bool IsEntryChecked(std::span<const CatalogueSection> catalogue, std::u16string_view text)
{
    for (const CatalogueSection &section : catalogue) {
        for (const CatalogueChoice &entry : section.entries) {
            if (platform::equalsIgnoreCase(entry.text, text))
                return entry.checked;
        }
    }
    return false;
}

std::u16string LinkedDisplayText(std::u16string_view title)
{
    for (const TitleLink &link : TitleLinks) {
        if (platform::equalsIgnoreCase(platform::fromUtf8(link.title), title))
            return platform::fromUtf8(link.displayText);
    }
    return {};
}

} // namespace diskcleaner
