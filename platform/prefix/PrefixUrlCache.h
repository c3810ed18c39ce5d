#pragma once

#include "IndexDatFile.h"
#include "UniqueFd.h"

#include <platform/FileSystem.h>
#include <platform/UrlCache.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

// The special folders that hold the URL cache of a user.
struct UrlCacheFolders
{
    std::u16string internetCache; // CSIDL_INTERNET_CACHE
    std::u16string cookies;       // CSIDL_COOKIES
    std::u16string history;       // CSIDL_HISTORY

    // Wine's default folders in a profile folder ("C:\users\name").
    static UrlCacheFolders inProfile(std::u16string_view profileFolder);
};

// The URL cache that Wine's WinINet keeps in a prefix: one index file ("index.dat") per
// container, in "<cache>\Content.IE5", "<cookies>" and "<history>\History.IE5", with the cached
// files in subfolders of the content container and beside the cookie index.
//
// Reading works at any time and lists whatever is intact. Changes are made only while no Wine
// program runs: WinINet maps the index into every process that uses it and guards it with a lock
// that lives in the Wine server, so an edit made meanwhile could be overwritten or mix with its
// own. An index that is damaged is never changed: what its bytes mean is then uncertain, and a
// change that left it inconsistent would make Wine wipe the whole container.
//
// Changes are written into the index in place rather than into a copy renamed over it: a removal
// touches a few bytes, so in place costs a few small writes instead of the whole file per entry,
// and the file keeps its inode, owner, mode and links. The hash slots go first and are flushed to
// the disk before the header and block map are written, so an interruption at any point, even a
// power cut, leaves an index that Wine accepts; at worst the blocks of a removed entry stay
// allocated. Our own writers serialise on an
// exclusive flock of the index, which Wine's record locks neither see nor block.
class PrefixUrlCache final : public UrlCache
{
public:
    // wineRunning tells whether a Wine program may be using the cache now; changes fail while it
    // says so. The file system must outlive the cache.
    PrefixUrlCache(const FileSystem &fileSystem, UrlCacheFolders folders,
                   std::function<bool()> wineRunning);

    std::vector<UrlCacheEntry> entries(UrlCacheContainer container) const override;
    bool deleteEntry(UrlCacheContainer container, std::u16string_view sourceUrl) const override;
    UrlCacheCleared clearHistory() const override;

    // The Windows folder of a container, which holds its index.
    std::u16string containerFolder(UrlCacheContainer container) const;

private:
    // An index file held open with the folder that holds it.
    struct OpenIndex
    {
        UniqueFd folder;
        UniqueFd file;
        std::u16string windowsFolder;
    };

    std::optional<OpenIndex> open(UrlCacheContainer container, bool forWriting) const;

    // Deletes the cached file of a record. True when the entry may go: its file is gone now, was
    // never there, or is no longer the one the cache stored (written since, so it stays); false
    // when the cache's own file stays.
    bool deleteCachedFile(const OpenIndex &index, const IndexDatFile &file,
                          const IndexDatFile::UrlRecord &record) const;

    // Removes records from the index on disk; false when any write failed.
    static bool writeRemoval(const OpenIndex &index, const IndexDatFile &file,
                             const std::vector<std::size_t> &recordIndexes);

    bool wineRunning() const;

    const FileSystem &m_fileSystem;
    UrlCacheFolders m_folders;
    std::function<bool()> m_wineRunning;
};

// The URL cache in the given folders of the prefix whose file system this is.
std::unique_ptr<UrlCache> openPrefixUrlCache(const FileSystem &fileSystem, UrlCacheFolders folders,
                                             std::function<bool()> wineRunning);

} // namespace platform
