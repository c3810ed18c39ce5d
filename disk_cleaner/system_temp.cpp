#include <disk_cleaner/system_temp.h>

#include <disk_cleaner/FolderProcessing.h>

#include <platform/Environment.h>
#include <platform/FileSystem.h>
#include <platform/Machine.h>
#include <platform/ShellFolders.h>
#include <platform/Text.h>

#include <optional>
#include <vector>

namespace diskcleaner {

namespace {

constexpr std::size_t pathBufferSize = 260;
constexpr std::size_t shortestFolder = 4;

bool isSeparator(char16_t unit)
{
    return unit == u'\\' || unit == u'/';
}

bool isDrivePath(std::u16string_view path)
{
    const char16_t letter = path.empty() ? u'\0' : path[0];
    const bool isLetter = (letter >= u'A' && letter <= u'Z') || (letter >= u'a' && letter <= u'z');
    return isLetter && path.size() >= 3 && path[1] == u':' && isSeparator(path[2]);
}

// A drive path as Windows opens it: "\" as separator, "." and ".." resolved, repeated and
// trailing separators dropped ("C:\Windows\Temp\..\" is "C:\Windows"; a drive root is "C:").
std::u16string normalizedPath(std::u16string_view path)
{
    std::vector<std::u16string_view> components;
    std::size_t start = 3;
    while (start <= path.size()) {
        std::size_t end = start;
        while (end < path.size() && !isSeparator(path[end]))
            ++end;
        const std::u16string_view component = path.substr(start, end - start);
        if (component == u"..") {
            if (!components.empty())
                components.pop_back();
        } else if (!component.empty() && component != u".") {
            components.push_back(component);
        }
        start = end + 1;
    }
    std::u16string normalized(path.substr(0, 2));
    for (const std::u16string_view component : components) {
        normalized += u'\\';
        normalized += component;
    }
    return normalized;
}

// Upper-cases the ASCII letters; other characters keep their case, which changes nothing for a
// walk that matches names without regard to case.
std::u16string upperCase(std::u16string text)
{
    for (char16_t &unit : text) {
        if (unit >= u'a' && unit <= u'z')
            unit = static_cast<char16_t>(unit - u'a' + u'A');
    }
    return text;
}

// The value of TMP, else of TEMP; empty when neither is set to a non-empty text.
std::optional<std::u16string> temporaryFolderVariable(const platform::Environment &environment)
{
    for (const std::u16string_view name : {u"TMP", u"TEMP"}) {
        std::optional<std::u16string> value = environment.get(name);
        if (value && !value->empty())
            return value;
    }
    return std::nullopt;
}

} // namespace

system_temp::system_temp(const TempSettings &settings)
    : m_settings(settings)
{
    Title = u"Temporary files";
    Description = u"Removes temporary files from the current user's temporary folder, ";

    const platform::Machine &machine = platform::Machine::current();
    const std::u16string windowsFolder = machine.shellFolders().windowsDirectory();
    const std::u16string systemFolder = machine.shellFolders().systemDirectory();
    if (windowsFolder.empty() || windowsFolder.size() >= pathBufferSize || systemFolder.empty() ||
        systemFolder.size() >= pathBufferSize)
        return;
    const std::optional<std::u16string> value = temporaryFolderVariable(machine.environment());
    if (!value || value->size() < shortestFolder)
        return;
    Description += *value;

    // The folder is compared as Windows would open it, so that no other spelling of the Windows
    // folder, of a place below the system folder or of a drive root gets past the checks: "/" for
    // "\", a trailing "\", "." and "..".
    if (!isDrivePath(*value))
        return;
    const std::u16string folder = normalizedPath(*value);
    if (folder.size() < shortestFolder ||
        platform::equalsIgnoreCase(folder, normalizedPath(windowsFolder)) ||
        platform::foldCase(folder).find(platform::foldCase(normalizedPath(systemFolder))) !=
                std::u16string::npos)
        return;
    m_folder = upperCase(folder) + u'\\';
    m_enabled = true;
}

ScanOptions system_temp::Options() const
{
    ScanOptions options;
    options.MinAgeDays = m_settings.MinAgeDays;
    options.Recursive = m_settings.Recursive;
    options.IncludeSystemFiles = true;
    return options;
}

// In a Wine prefix the folders that are links lead out of the prefix, usually into the user's
// own files on the host, so a temporary folder reached through one is left alone.
bool system_temp::FolderIsReachable() const
{
    const platform::FileSystem &fileSystem = platform::Machine::current().fileSystem();
    for (std::size_t end = m_folder.find(u'\\', 3); end != std::u16string::npos;
         end = m_folder.find(u'\\', end + 1)) {
        const std::optional<platform::DirectoryEntry> entry =
                fileSystem.entry(std::u16string_view(m_folder).substr(0, end));
        if (!entry || !entry->isDirectory() ||
            (entry->attributes & platform::AttributeReparsePoint))
            return false;
    }
    return true;
}

void system_temp::Scan()
{
    if (!m_enabled)
        return;
    m_found.clear();
    FolderTotals totals;
    if (FolderIsReachable())
        totals = ScanFilesInFolder(m_folder, {u"*.*"}, Options(), m_found);
    ItemsFound = totals.Count;
    BytesFound = totals.Bytes;
}

void system_temp::Rescan()
{
    Scan();
}

void system_temp::Clean()
{
    if (!m_enabled)
        return;
    FileList unused;
    FolderTotals totals;
    if (FolderIsReachable())
        totals = CleanFilesInFolder(m_folder, {u"*.*"}, Options(), unused);
    ItemsCleaned = totals.Count;
    BytesCleaned = totals.Bytes;
}

void system_temp::GetFileList(FileList &list) const
{
    list.insert(list.end(), m_found.begin(), m_found.end());
}

} // namespace diskcleaner
