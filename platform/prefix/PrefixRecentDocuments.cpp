#include "PrefixRecentDocuments.h"

#include "PrefixFolder.h"

#include <cerrno>
#include <cstdlib>
#include <vector>

namespace platform {

namespace {

constexpr std::u16string_view recentDocsKey =
        u"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\RecentDocs";

// Deeper keys than this are not looked into; the list never nests more than a level or two.
constexpr int deepestSubkey = 32;

// The canonical host path: every link resolved. Empty when it cannot be resolved; errno says why.
std::optional<std::string> canonicalPath(const std::string &hostPath)
{
    char *resolved = ::realpath(hostPath.c_str(), nullptr);
    if (!resolved)
        return std::nullopt;
    std::string path(resolved);
    std::free(resolved);
    return path;
}

bool isWithin(const std::string &path, const std::string &folder)
{
    if (folder == "/")
        return true;
    return path == folder ||
           (path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 &&
            path[folder.size()] == '/');
}

std::vector<std::u16string> subkeyNames(const RegistryKey &key)
{
    std::vector<std::u16string> names;
    for (std::uint32_t index = 0;; ++index) {
        std::u16string name;
        if (key.subkeyName(index, name) != RegistryStatus::Success)
            break;
        names.push_back(std::move(name));
    }
    return names;
}

// Deletes the key at a path below top with everything in it, deepest keys first. Every deletion
// names its key by a path from top, so a key reached through a link is refused, never deleted.
bool deleteTree(RegistryKey &top, const std::u16string &path, int depth)
{
    bool complete = true;
    std::unique_ptr<RegistryKey> key;
    if (top.open(path, key) != RegistryStatus::Success || !key)
        return false;
    if (depth < deepestSubkey) {
        for (const std::u16string &name : subkeyNames(*key))
            complete = deleteTree(top, path + u"\\" + name, depth + 1) && complete;
    }
    return top.deleteKey(path) == RegistryStatus::Success && complete;
}

} // namespace

PrefixRecentDocuments::PrefixRecentDocuments(const ShellFolders &shellFolders,
                                             const Registry &registry, const FileSystem &fileSystem)
    : m_shellFolders(shellFolders)
    , m_registry(registry)
    , m_fileSystem(fileSystem)
{}

std::optional<std::u16string> PrefixRecentDocuments::folder() const
{
    return m_shellFolders.folder(csidl::Recent);
}

RecentDocumentsCleared PrefixRecentDocuments::clear() const
{
    RecentDocumentsCleared cleared;
    if (const std::optional<std::u16string> recent = folder())
        deleteDocuments(*recent, cleared);
    if (!emptyList())
        cleared.complete = false;
    return cleared;
}

void PrefixRecentDocuments::deleteDocuments(const std::u16string &folder,
                                            RecentDocumentsCleared &cleared) const
{
    // The folder must lie on the drive its path names. A link that leads elsewhere (the way Wine
    // links profile folders into the host's home folder) puts the files out of reach.
    if (folder.size() < 2 || folder[1] != u':') {
        cleared.complete = false;
        return;
    }
    const std::string hostFolder = m_fileSystem.hostPath(folder);
    const std::string hostRoot = m_fileSystem.hostPath(folder.substr(0, 2) + u"\\");
    if (hostFolder.empty() || hostRoot.empty())
        return; // the drive has no root, so there is nothing to delete
    const std::optional<std::string> canonicalFolder = canonicalPath(hostFolder);
    if (!canonicalFolder) {
        // A missing folder holds no documents; anything else keeps them out of reach.
        if (errno != ENOENT && errno != ENOTDIR)
            cleared.complete = false;
        return;
    }
    const std::optional<std::string> canonicalRoot = canonicalPath(hostRoot);
    if (!canonicalRoot || !isWithin(*canonicalFolder, *canonicalRoot)) {
        cleared.complete = false;
        return;
    }
    const std::unique_ptr<PrefixFolder> documents = PrefixFolder::open(*canonicalFolder);
    if (!documents) {
        cleared.complete = false;
        return;
    }
    for (const DirectoryEntry &entry : documents->list(u"*")) {
        if (entry.isDirectory() || (entry.attributes & AttributeSystem))
            continue;
        if (documents->deleteFile(entry.name)) {
            ++cleared.filesRemoved;
            cleared.bytesRemoved += entry.size;
        } else {
            cleared.complete = false;
        }
    }
}

bool PrefixRecentDocuments::emptyList() const
{
    std::unique_ptr<RegistryKey> list;
    const RegistryStatus opened = m_registry.open(RegistryHive::CurrentUser, recentDocsKey, list);
    if (opened == RegistryStatus::FileNotFound)
        return true;
    if (opened != RegistryStatus::Success || !list)
        return false;
    bool complete = true;
    for (const std::u16string &name : subkeyNames(*list))
        complete = deleteTree(*list, name, 1) && complete;
    std::vector<std::u16string> valueNames;
    for (std::uint32_t index = 0;; ++index) {
        std::u16string name;
        if (list->valueAt(index, name, nullptr) != RegistryStatus::Success)
            break;
        valueNames.push_back(std::move(name));
    }
    for (const std::u16string &name : valueNames)
        complete = list->deleteValue(name) == RegistryStatus::Success && complete;
    return complete;
}

std::unique_ptr<RecentDocuments> openPrefixRecentDocuments(const ShellFolders &shellFolders,
                                                           const Registry &registry,
                                                           const FileSystem &fileSystem)
{
    return std::make_unique<PrefixRecentDocuments>(shellFolders, registry, fileSystem);
}

} // namespace platform
