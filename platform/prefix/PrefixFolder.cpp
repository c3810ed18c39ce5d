#include "PrefixFolder.h"

#include "HostEntries.h"

#include <platform/Text.h>

#include <dirent.h>
#include <fcntl.h>

namespace platform {

PrefixFolder::PrefixFolder(UniqueFd folder)
    : m_folder(std::move(folder))
{}

std::unique_ptr<PrefixFolder> PrefixFolder::open(const std::string &hostPath)
{
    UniqueFd folder(::open(hostPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folder.isValid())
        return nullptr;
    return std::make_unique<PrefixFolder>(std::move(folder));
}

std::vector<DirectoryEntry> PrefixFolder::list(std::u16string_view pattern) const
{
    std::vector<DirectoryEntry> entries;
    // A fresh open of "." rather than a dup: a duplicate would share the read position with
    // every other listing of this folder, and "." can never be a link.
    UniqueFd reader(::openat(m_folder.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!reader.isValid())
        return entries;
    DIR *directory = ::fdopendir(reader.get());
    if (!directory)
        return entries;
    reader.release(); // closedir closes it
    // "*" and "*.*" take every name, which spares the match for the walks that list everything.
    const bool everyName = pattern == u"*" || pattern == u"*.*";
    while (const dirent *item = ::readdir(directory)) {
        const char *name = item->d_name;
        if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0')))
            continue;
        std::u16string windowsName = fromUtf8(name);
        if (!everyName && !matchesWildcard(windowsName, pattern))
            continue;
        // An entry that went away since readdir saw it is simply not listed.
        DirectoryEntry entry;
        if (!describeEntryAt(m_folder.get(), name, entry))
            continue;
        entry.name = std::move(windowsName);
        entries.push_back(std::move(entry));
    }
    ::closedir(directory);
    return entries;
}

std::unique_ptr<Folder> PrefixFolder::openSubfolder(std::u16string_view name) const
{
    const std::optional<std::string> hostName = hostEntryName(name);
    if (!hostName)
        return nullptr;
    UniqueFd folder(::openat(m_folder.get(), hostName->c_str(),
                             O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!folder.isValid())
        return nullptr;
    return std::make_unique<PrefixFolder>(std::move(folder));
}

bool PrefixFolder::deleteFile(std::u16string_view name) const
{
    const std::optional<std::string> hostName = hostEntryName(name);
    return hostName && deleteFileAt(m_folder.get(), *hostName);
}

bool PrefixFolder::deleteListedFile(const DirectoryEntry &entry) const
{
    const std::optional<std::string> hostName = hostEntryName(entry.name);
    return hostName && deleteListedFileAt(m_folder.get(), *hostName, entry.attributes);
}

bool PrefixFolder::removeSubfolder(std::u16string_view name) const
{
    const std::optional<std::string> hostName = hostEntryName(name);
    return hostName && removeFolderAt(m_folder.get(), *hostName);
}

} // namespace platform
