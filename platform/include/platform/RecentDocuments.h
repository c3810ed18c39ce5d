#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace platform {

// What RecentDocuments::clear() really removed.
struct RecentDocumentsCleared
{
    std::uint64_t filesRemoved = 0;
    std::uint64_t bytesRemoved = 0;
    // False when a document file stays, the list in the registry could not be emptied
    // completely, or the folder was left alone because it leads off its drive.
    bool complete = true;
};

// The shell's list of recently opened documents: the files in the user's Recent folder and the
// list the shell keeps in the registry.
class RecentDocuments
{
public:
    virtual ~RecentDocuments() = default;

    // The Recent folder (CSIDL_RECENT), as ShellFolders reports it; empty when there is none.
    virtual std::optional<std::u16string> folder() const = 0;

    // Clears the list, as SHAddToRecentDocs does when given no document: deletes the files
    // directly in the Recent folder and empties the registry list (its values and subkeys go,
    // the key stays). Subfolders, files with the system attribute (the folder's own desktop.ini)
    // and read-only files stay. Never follows a link: a link to a file is deleted as itself, a
    // link to a folder stays, and a Recent folder that lies, through a link, off the drive its
    // path names is left alone.
    virtual RecentDocumentsCleared clear() const = 0;
};

} // namespace platform
