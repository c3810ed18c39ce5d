#include <disk_cleaner/PathMacros.h>

#include <disk_cleaner/Trace.h>

#include <platform/Environment.h>
#include <platform/FileSystem.h>
#include <platform/Machine.h>
#include <platform/ShellFolders.h>

#include <optional>

namespace diskcleaner {

KnownFolderPathQuery gGetKnownFolderPath = &GetKnownFolderPathOfMachine;

namespace {

constexpr const char *expandOperation = "ExpandString";
constexpr const char *locationOperation = "GetFolderLocation";

// Room for a path in the buffers of the Windows calls, terminating zero included.
constexpr std::size_t pathBufferSize = 260;

// What the known-folder query returns for an id it does not know (HRESULT of ERROR_NOT_FOUND).
constexpr std::int32_t folderNotFound = static_cast<std::int32_t>(0x80070490);
constexpr std::int32_t invalidArgument = static_cast<std::int32_t>(0x80070057);

constexpr int noFolder = -1;

bool fitsPathBuffer(std::u16string_view text)
{
    return text.size() < pathBufferSize;
}

// The environment expansion of a text as it comes out of a buffer of 260 units: nothing when the
// result does not fit.
std::optional<std::u16string> expandIntoBuffer(const platform::Environment &environment,
                                               std::u16string_view text)
{
    std::u16string expanded = environment.expand(text);
    if (!fitsPathBuffer(expanded))
        return std::nullopt;
    return expanded;
}

bool isResolved(const std::u16string &expanded)
{
    return expanded.empty() || expanded.front() != u'%';
}

std::u16string asciiLowerCase(std::u16string_view text)
{
    std::u16string lower(text);
    for (char16_t &unit : lower) {
        if (unit >= u'A' && unit <= u'Z')
            unit = static_cast<char16_t>(unit - u'A' + u'a');
    }
    return lower;
}

bool contains(std::u16string_view text, std::u16string_view part)
{
    return text.find(part) != std::u16string_view::npos;
}

// A folder as it comes out of a buffer of 260 units: empty when it does not fit.
std::u16string fittingFolder(std::u16string folder)
{
    return fitsPathBuffer(folder) ? folder : std::u16string();
}

// The special folder that a lower-cased token names by CSIDL number, noFolder if none. The first
// four macros exclude one another; each of the others replaces what was chosen before it.
int specialFolderOf(const std::u16string &lower)
{
    int csidl = noFolder;
    if (contains(lower, u"%appdata%")) {
        Trace(u"found %%appdata%%");
        csidl = platform::csidl::AppData;
    } else if (contains(lower, u"%programfiles%")) {
        Trace(u"found %%programfiles%%");
        csidl = platform::csidl::ProgramFiles;
    } else if (contains(lower, u"%desktop%")) {
        Trace(u"found %%desktop%%");
        csidl = platform::csidl::DesktopDirectory;
    } else if (contains(lower, u"%commonappdata%")) {
        Trace(u"found %%commonappdata%%");
        csidl = platform::csidl::CommonAppData;
    }
    if (contains(lower, u"%commondesktop%")) {
        Trace(u"found %%commondesktop%%");
        csidl = platform::csidl::CommonDesktopDirectory;
    }
    if (contains(lower, u"%commondocs%")) {
        Trace(u"found %%commondocs%%");
        csidl = platform::csidl::CommonDocuments;
    }
    if (contains(lower, u"%commonprogramfiles%")) {
        Trace(u"found %%commonprogramfiles%%");
        csidl = platform::csidl::ProgramFilesCommon;
    }
    if (contains(lower, u"%localappdata%")) {
        Trace(u"found %%localappdata%%");
        csidl = platform::csidl::LocalAppData;
    }
    return csidl;
}

} // namespace

std::int32_t GetKnownFolderPathOfMachine(std::u16string_view folderId, std::uint32_t flags,
                                         const void *token, std::u16string &path)
{
    // Only the current user's folders, as they are now, can be asked for.
    if (flags != 0 || token != nullptr)
        return invalidArgument;
    std::optional<std::u16string> folder =
            platform::Machine::current().shellFolders().knownFolder(folderId);
    if (!folder || folder->empty() || !fitsPathBuffer(*folder))
        return folderNotFound;
    path = std::move(*folder);
    return 0;
}

void ExpandString(std::u16string_view entry, FileList &list)
{
    Trace(u"ExpandString(%s)", entry);
    platform::Environment &environment = platform::Machine::current().environment();
    if (std::optional<std::u16string> expanded = expandIntoBuffer(environment, entry);
        expanded && isResolved(*expanded)) {
        Trace(u"ExpandEnvironmentString(source) = %s", *expanded);
        list.push_back(std::move(*expanded));
        return;
    }

    const std::size_t macroEnd = entry.size() < 2 ? std::u16string_view::npos : entry.find(u'%', 1);
    if (macroEnd == std::u16string_view::npos)
        return;
    const std::u16string_view token = entry.substr(0, macroEnd + 1);
    const std::u16string_view rest = entry.substr(macroEnd + 1);
    Trace(u"%hs: Expand %s", expandOperation, token);

    if (token == u"%drive%") {
        Trace(u"Expanding %%drive%% construct");
        for (const platform::Drive &drive : platform::Machine::current().fileSystem().drives()) {
            if (drive.type != platform::DriveType::Fixed)
                continue;
            const std::u16string root{drive.letter, u':', u'\\'};
            Trace(u"Reported as fixed drive: %s", root);
            list.push_back(root + std::u16string(rest));
        }
        return;
    }

    const std::u16string folder = GetFolderLocation(token);
    Trace(u"%hs: GetFolderLocation returned %s = %s", expandOperation, token, folder);
    if (folder.empty())
        return;
    // Only a token "%name%" names a folder, so the variable is the text between its two signs.
    const std::u16string_view name = token.substr(1, token.size() - 2);
    Trace(u"Adding environment variable: %s", name);
    environment.set(name, folder);
    if (std::optional<std::u16string> expanded = expandIntoBuffer(environment, entry);
        expanded && isResolved(*expanded))
        list.push_back(std::move(*expanded));
}

std::u16string GetFolderLocation(std::u16string_view token)
{
    Trace(u"%hs: find %s", locationOperation, token);
    const std::u16string lower = asciiLowerCase(token);
    const platform::ShellFolders &folders = platform::Machine::current().shellFolders();

    if (contains(lower, u"%windir%")) {
        Trace(u"found %%windir%%");
        std::u16string folder = fittingFolder(folders.windowsDirectory());
        Trace(u"%%windir%% = %s", folder);
        return folder;
    }
    if (contains(lower, u"%sysdir%")) {
        Trace(u"found %%sysdir%%");
        std::u16string folder = fittingFolder(folders.systemDirectory());
        Trace(u"%%sysdir%% = %s", folder);
        return folder;
    }

    if (const int csidl = specialFolderOf(lower); csidl != noFolder) {
        std::optional<std::u16string> folder = folders.folder(csidl);
        if (folder && !folder->empty() && fitsPathBuffer(*folder)) {
            Trace(u"SHGetFolderPath returns: %s", *folder);
            return std::move(*folder);
        }
        Trace(u"SHGetFolderPath != S_OK");
    }

    if (contains(lower, u"%localappdatalow%")) {
        Trace(u"found %%localappdatalow%%");
        std::u16string path;
        if (gGetKnownFolderPath &&
            gGetKnownFolderPath(platform::folderIdLocalAppDataLow, 0, nullptr, path) == 0) {
            Trace(u"gGetKnownFolderPath == S_OK");
            Trace(u"gGetKnownFolderPath returns: %s", path);
            return path;
        }
    }
    return {};
}

} // namespace diskcleaner
