#include <disk_cleaner/firefox_base.h>

#include <disk_cleaner/Trace.h>

#include <platform/FileSystem.h>
#include <platform/IniFile.h>
#include <platform/Machine.h>
#include <platform/ShellFolders.h>

#include <optional>

namespace diskcleaner {

namespace {

constexpr const char *cleanFileOperation = "diskcleaner::firefox_base::CleanFile";

// The profile list keeps its values in buffers of this many characters.
constexpr std::size_t profileValueCapacity = 260;

// The journal files SQLite may keep beside a database, in the order they are removed: the
// journals before the shared-memory index and the database itself.
constexpr std::u16string_view sqliteCompanions[] = {u"-wal", u"-journal", u"-shm"};
constexpr std::u16string_view sqliteSuffix = u".sqlite";

struct ProfileState
{
    bool computed = false;
    FirefoxProfileLocation location;
};

// Written only while the first Firefox item is constructed, on the thread that builds the item
// list, and read by the items afterwards.
ProfileState &profileState()
{
    static ProfileState state;
    return state;
}

void removeTrailingSeparators(std::u16string &path)
{
    while (!path.empty() && (path.back() == u'\\' || path.back() == u'/'))
        path.pop_back();
}

std::u16string specialFolder(const platform::ShellFolders &folders, int csidl)
{
    std::u16string path = folders.folder(csidl).value_or(std::u16string());
    Trace(u"%hs: SHGetPathFromIDList(pidl) = %s", "", path);
    return path;
}

FirefoxProfileLocation locateProfile()
{
    FirefoxProfileLocation location;
    if (!platform::Machine::hasCurrent())
        return location;
    const platform::Machine &machine = platform::Machine::current();
    std::u16string firefoxFolder = specialFolder(machine.shellFolders(), platform::csidl::AppData);
    std::u16string localFolder =
            specialFolder(machine.shellFolders(), platform::csidl::LocalAppData);
    if (firefoxFolder.empty())
        return location;
    removeTrailingSeparators(firefoxFolder);
    firefoxFolder += u"\\Mozilla\\Firefox\\";
    Trace(u"%hs: theFFfolder = %s", "", firefoxFolder);
    if (!localFolder.empty()) {
        removeTrailingSeparators(localFolder);
        localFolder += u"\\Mozilla\\Firefox\\";
        Trace(u"%hs: localcachefolder = %s", "", localFolder);
    }

    // Only the first profile of the list is used.
    const platform::IniFile profiles =
            platform::IniFile::load(machine.fileSystem(), firefoxFolder + u"profiles.ini");
    std::u16string path = profiles.string(u"Profile0", u"Path", u"-1", profileValueCapacity);
    Trace(u"%hs: cachefolder = %s", "", path);
    // An empty path would make the Firefox folder itself, or the root of a drive, the profile.
    if (path == u"-1" || path.empty())
        return location;
    const std::int32_t isRelative =
            static_cast<std::int32_t>(profiles.integer(u"Profile0", u"IsRelative", -1));
    Trace(u"%hs: IsRelative = %d", "", isRelative);
    if (isRelative == -1)
        return location;

    for (char16_t &unit : path) {
        if (unit == u'/')
            unit = u'\\';
    }
    if (isRelative == 1) {
        location.profileFolder = firefoxFolder + path;
        if (!localFolder.empty())
            localFolder += path;
        Trace(u"%hs: IsRelative = %d, theFFfolder = %s", "", isRelative, firefoxFolder);
    } else {
        location.profileFolder = path;
    }
    removeTrailingSeparators(location.profileFolder);
    removeTrailingSeparators(localFolder);
    if (location.profileFolder.empty())
        return location;
    location.localFolder = localFolder;
    location.located = true;
    return location;
}

// Whether a directory entry is a file the profile items handle: what a folder walk with no
// options would take (no folders, no system or offline files).
bool isProfileFile(const platform::DirectoryEntry &entry)
{
    return !(entry.attributes & (platform::AttributeDirectory | platform::AttributeSystem |
                                 platform::AttributeOffline));
}

bool endsWithIgnoringCase(std::u16string_view text, std::u16string_view suffix)
{
    if (text.size() < suffix.size())
        return false;
    for (std::size_t i = 0; i < suffix.size(); ++i) {
        char16_t unit = text[text.size() - suffix.size() + i];
        if (unit >= u'A' && unit <= u'Z')
            unit = static_cast<char16_t>(unit - u'A' + u'a');
        if (unit != suffix[i])
            return false;
    }
    return true;
}

// Removes the journal files of a SQLite database; false when one of them stays.
bool removeSqliteCompanions(const platform::FileSystem &fileSystem, std::u16string_view path)
{
    for (std::u16string_view suffix : sqliteCompanions) {
        std::u16string companion(path);
        companion += suffix;
        if (fileSystem.entry(companion) && !fileSystem.deleteFile(companion))
            return false;
    }
    return true;
}

} // namespace

firefox_base::firefox_base()
{
    ProfileState &state = profileState();
    if (!state.computed) {
        state.location = locateProfile();
        state.computed = true;
    }
}

firefox_base::~firefox_base() = default;

void firefox_base::Scan()
{
    DoScan(false);
}

void firefox_base::Rescan()
{
    DoScan(true);
}

void firefox_base::GetFileList(FileList &list) const
{
    list.insert(list.end(), m_foundList.begin(), m_foundList.end());
}

const FirefoxProfileLocation &firefox_base::ProfileLocation()
{
    return profileState().location;
}

void firefox_base::ForgetProfileLocation()
{
    profileState() = ProfileState();
}

std::u16string firefox_base::ProfilePath(std::u16string_view name)
{
    std::u16string path = ProfileLocation().profileFolder;
    path += u'\\';
    path += name;
    return path;
}

void firefox_base::ScanProfileFiles(const std::vector<std::u16string> &names)
{
    m_foundList.clear();
    ItemsFound = 0;
    BytesFound = 0;
    if (!ProfileLocation().located || !platform::Machine::hasCurrent())
        return;
    const platform::FileSystem &fileSystem = platform::Machine::current().fileSystem();
    for (const std::u16string &name : names) {
        Trace(u"%hs: cleanfolder = %s\\%s", "", ProfileLocation().profileFolder, name);
        const std::optional<platform::DirectoryEntry> entry = fileSystem.entry(ProfilePath(name));
        if (!entry || !isProfileFile(*entry))
            continue;
        // The name as the folder spells it, as a directory listing would give it.
        m_foundList.push_back(ProfilePath(entry->name.empty() ? name : entry->name));
        ++ItemsFound;
        BytesFound += entry->size;
    }
    Trace(u"%hs: ItemsFound = %I64d", "", ItemsFound);
}

void firefox_base::CleanFile(const std::vector<std::u16string> &names,
                             std::u16string_view failureText)
{
    if (!ProfileLocation().located || !platform::Machine::hasCurrent())
        return;
    const platform::FileSystem &fileSystem = platform::Machine::current().fileSystem();
    for (const std::u16string &name : names) {
        const std::u16string path = ProfilePath(name);
        Trace(u"%hs: file to remove is: %s", cleanFileOperation, path);
        const std::optional<platform::DirectoryEntry> entry = fileSystem.entry(path);
        if (!entry || !isProfileFile(*entry))
            continue;
        const bool companionsGone = !endsWithIgnoringCase(name, sqliteSuffix) ||
                                    removeSqliteCompanions(fileSystem, path);
        if (companionsGone && fileSystem.deleteFile(path)) {
            Trace(u"%hs: deleted %s", cleanFileOperation, path);
            // What was deleted, not what the last scan found: the two differ when a file could
            // not be deleted or changed since the scan.
            ++ItemsCleaned;
            BytesCleaned += entry->size;
        } else {
            Trace(u"%s (%s)", failureText, path);
        }
    }
}

} // namespace diskcleaner
