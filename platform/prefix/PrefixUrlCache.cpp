#include "PrefixUrlCache.h"

#include "PrefixFolder.h"

#include <platform/Text.h>

#include <cerrno>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

std::u16string joinWindowsPath(std::u16string_view folder, std::u16string_view name)
{
    std::u16string path(folder);
    while (!path.empty() && (path.back() == u'\\' || path.back() == u'/'))
        path.pop_back();
    path += u'\\';
    path += name;
    return path;
}

// The whole file, or its first largestFileSize() + 1 bytes when it is larger: enough for the
// index to see that such a file cannot be consistent.
std::optional<std::vector<std::uint8_t>> readIndex(int fd)
{
    const std::size_t limit = IndexDatFile::largestFileSize() + 1;
    std::vector<std::uint8_t> bytes;
    struct stat status
    {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode))
        return std::nullopt;
    bytes.resize(std::min<std::size_t>(static_cast<std::size_t>(status.st_size), limit));
    std::size_t done = 0;
    for (;;) {
        if (done == bytes.size()) {
            if (bytes.size() >= limit)
                break;
            // The file grew since fstat; read on to its real end.
            bytes.resize(std::min(bytes.size() + 0x10000, limit));
        }
        const ssize_t count =
                ::pread(fd, bytes.data() + done, bytes.size() - done, static_cast<off_t>(done));
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0)
            return std::nullopt;
        if (count == 0)
            break;
        done += static_cast<std::size_t>(count);
    }
    bytes.resize(done);
    return bytes;
}

bool writeAll(int fd, const IndexDatFile::Write &write)
{
    std::size_t done = 0;
    while (done < write.bytes.size()) {
        const ssize_t count = ::pwrite(fd, write.bytes.data() + done, write.bytes.size() - done,
                                       static_cast<off_t>(write.offset + done));
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            return false;
        done += static_cast<std::size_t>(count);
    }
    return true;
}

bool lockIndex(int fd, int operation)
{
    while (::flock(fd, operation) != 0) {
        if (errno != EINTR)
            return false;
    }
    return true;
}

// The entry of that name in a folder, matched without regard to case as Wine matches it; the
// exact spelling wins when there are several.
std::optional<DirectoryEntry> findEntry(const Folder &folder, const std::u16string &name)
{
    std::optional<DirectoryEntry> found;
    for (DirectoryEntry &entry : folder.list(name)) {
        if (entry.name == name)
            return std::move(entry);
        if (!found && equalsIgnoreCase(entry.name, name))
            found = std::move(entry);
    }
    return found;
}

} // namespace

UrlCacheFolders UrlCacheFolders::inProfile(std::u16string_view profileFolder)
{
    const std::u16string windows =
            joinWindowsPath(profileFolder, u"AppData\\Local\\Microsoft\\Windows");
    return {joinWindowsPath(windows, u"INetCache"), joinWindowsPath(windows, u"INetCookies"),
            joinWindowsPath(windows, u"History")};
}

PrefixUrlCache::PrefixUrlCache(const FileSystem &fileSystem, UrlCacheFolders folders,
                               std::function<bool()> wineRunning)
    : m_fileSystem(fileSystem)
    , m_folders(std::move(folders))
    , m_wineRunning(std::move(wineRunning))
{}

std::u16string PrefixUrlCache::containerFolder(UrlCacheContainer container) const
{
    switch (container) {
    case UrlCacheContainer::Content:
        return joinWindowsPath(m_folders.internetCache, u"Content.IE5");
    case UrlCacheContainer::Cookies: {
        std::u16string folder = m_folders.cookies;
        while (!folder.empty() && (folder.back() == u'\\' || folder.back() == u'/'))
            folder.pop_back();
        return folder;
    }
    case UrlCacheContainer::History:
        return joinWindowsPath(m_folders.history, u"History.IE5");
    }
    return std::u16string();
}

bool PrefixUrlCache::wineRunning() const
{
    return m_wineRunning && m_wineRunning();
}

std::optional<PrefixUrlCache::OpenIndex> PrefixUrlCache::open(UrlCacheContainer container,
                                                              bool forWriting) const
{
    OpenIndex index;
    index.windowsFolder = containerFolder(container);
    if (index.windowsFolder.empty())
        return std::nullopt;
    const std::string hostIndex =
            m_fileSystem.hostPath(joinWindowsPath(index.windowsFolder, u"index.dat"));
    const std::size_t slash = hostIndex.rfind('/');
    if (slash == std::string::npos)
        return std::nullopt;
    const std::string hostFolder = slash == 0 ? "/" : hostIndex.substr(0, slash);
    const std::string name = hostIndex.substr(slash + 1);

    // The way to the container follows links, as Windows paths do; the index itself must be a
    // regular file of its own, never a link or a device that a write could reach through.
    index.folder.reset(::open(hostFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!index.folder.isValid())
        return std::nullopt;
    const int mode = (forWriting ? O_RDWR : O_RDONLY) | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY;
    index.file.reset(::openat(index.folder.get(), name.c_str(), mode | O_CLOEXEC));
    if (!index.file.isValid())
        return std::nullopt;
    struct stat status
    {};
    if (::fstat(index.file.get(), &status) != 0 || !S_ISREG(status.st_mode))
        return std::nullopt;
    return index;
}

std::vector<UrlCacheEntry> PrefixUrlCache::entries(UrlCacheContainer container) const
{
    std::vector<UrlCacheEntry> entries;
    const std::optional<OpenIndex> index = open(container, false);
    if (!index || !lockIndex(index->file.get(), LOCK_SH))
        return entries;
    std::optional<std::vector<std::uint8_t>> bytes = readIndex(index->file.get());
    if (!bytes)
        return entries;
    const IndexDatFile file(std::move(*bytes));
    for (const IndexDatFile::UrlRecord &record : file.urlRecords()) {
        UrlCacheEntry entry;
        entry.type = record.type;
        entry.sourceUrl = IndexDatFile::decodeUrl(record.url);
        entry.size = record.size;
        if (!record.localName.empty() && record.fileKnown) {
            std::u16string folder = index->windowsFolder;
            if (record.directory != IndexDatFile::noDirectory)
                folder = joinWindowsPath(
                        folder, IndexDatFile::decodeName(file.directoryNames()[record.directory]));
            entry.localFile = joinWindowsPath(folder, IndexDatFile::decodeName(record.localName));
        }
        entries.push_back(std::move(entry));
    }
    return entries;
}

bool PrefixUrlCache::deleteCachedFile(const OpenIndex &index, const IndexDatFile &file,
                                      const IndexDatFile::UrlRecord &record) const
{
    if (record.localName.empty())
        return true;
    if (!record.fileKnown)
        return false;
    const int copy = ::fcntl(index.folder.get(), F_DUPFD_CLOEXEC, 0);
    if (copy < 0)
        return false;
    const PrefixFolder container{UniqueFd(copy)};
    const Folder *folder = &container;
    std::unique_ptr<Folder> subfolder;
    if (record.directory != IndexDatFile::noDirectory) {
        const std::optional<DirectoryEntry> entry = findEntry(
                container, IndexDatFile::decodeName(file.directoryNames()[record.directory]));
        if (!entry)
            return true; // the folder is gone, and the file with it
        subfolder = container.openSubfolder(entry->name);
        if (!subfolder)
            return false; // a link or something else that is not a folder of the cache
        folder = subfolder.get();
    }
    const std::optional<DirectoryEntry> entry =
            findEntry(*folder, IndexDatFile::decodeName(record.localName));
    if (!entry)
        return true;
    // As WinINet does, only the file the cache stored goes: a file written since under that name
    // belongs to someone else, and stays while the entry goes.
    if (IndexDatFile::dosDateTime(entry->lastWriteTime) != record.fileWriteTime)
        return true;
    return folder->deleteFile(entry->name);
}

bool PrefixUrlCache::writeRemoval(const OpenIndex &index, const IndexDatFile &file,
                                  const std::vector<std::size_t> &recordIndexes)
{
    const std::optional<IndexDatFile::Removal> removal = file.removal(recordIndexes);
    if (!removal)
        return false;
    // The result must be an index Wine accepts, short of exactly these entries, before any byte of
    // it reaches the disk.
    const IndexDatFile result(file.applied(*removal));
    if (!result.isConsistent() ||
        result.urlRecords().size() + removal->slotWrites.size() != file.urlRecords().size())
        return false;

    const int fd = index.file.get();
    for (const IndexDatFile::Write &write : removal->slotWrites) {
        if (!writeAll(fd, write))
            return false;
    }
    // The slots must be on the disk before the blocks they point at are marked free: in the other
    // order a power cut could leave a slot on blocks that Wine hands out again. The header needs
    // no flush of its own; until it reaches the disk the worst loss is a few allocated blocks.
    if (::fdatasync(fd) != 0)
        return false;
    return writeAll(fd, removal->headerWrite);
}

bool PrefixUrlCache::deleteEntry(UrlCacheContainer container, std::u16string_view sourceUrl) const
{
    const std::optional<OpenIndex> index = open(container, true);
    if (!index || !lockIndex(index->file.get(), LOCK_EX) || wineRunning())
        return false;
    std::optional<std::vector<std::uint8_t>> bytes = readIndex(index->file.get());
    if (!bytes)
        return false;
    const IndexDatFile file(std::move(*bytes));
    if (!file.isConsistent())
        return false;
    const std::vector<IndexDatFile::UrlRecord> &records = file.urlRecords();
    for (std::size_t i = 0; i < records.size(); ++i) {
        // The caller may name the URL as it is listed or as it is stored.
        if (IndexDatFile::decodeUrl(records[i].url) != sourceUrl &&
            fromUtf8(records[i].url) != sourceUrl)
            continue;
        return deleteCachedFile(*index, file, records[i]) && writeRemoval(*index, file, {i});
    }
    return false;
}

UrlCacheCleared PrefixUrlCache::clearHistory() const
{
    UrlCacheCleared cleared;
    const std::optional<OpenIndex> index = open(UrlCacheContainer::History, true);
    if (!index) {
        // No history at all, or one that cannot be changed.
        cleared.complete = entries(UrlCacheContainer::History).empty();
        return cleared;
    }
    std::optional<std::vector<std::uint8_t>> bytes;
    if (lockIndex(index->file.get(), LOCK_EX))
        bytes = readIndex(index->file.get());
    if (!bytes) {
        cleared.complete = false;
        return cleared;
    }
    const IndexDatFile file(std::move(*bytes));
    if (file.urlRecords().empty() && file.isConsistent())
        return cleared;
    if (!file.isConsistent() || wineRunning()) {
        cleared.complete = false;
        return cleared;
    }
    std::vector<std::size_t> removable;
    for (std::size_t i = 0; i < file.urlRecords().size(); ++i) {
        if (deleteCachedFile(*index, file, file.urlRecords()[i]))
            removable.push_back(i);
        else
            cleared.complete = false;
    }
    if (removable.empty())
        return cleared;
    if (writeRemoval(*index, file, removable))
        cleared.entriesRemoved = removable.size();
    else
        cleared.complete = false;
    return cleared;
}

std::unique_ptr<UrlCache> openPrefixUrlCache(const FileSystem &fileSystem, UrlCacheFolders folders,
                                             std::function<bool()> wineRunning)
{
    return std::make_unique<PrefixUrlCache>(fileSystem, std::move(folders), std::move(wineRunning));
}

} // namespace platform
