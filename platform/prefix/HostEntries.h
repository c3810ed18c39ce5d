#pragma once

#include <platform/FileSystem.h>

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

// Work on single entries of a host folder that is held open as a file descriptor. Every function
// names the entry relative to that descriptor and never follows a link in the name itself.
namespace platform {

// The host name for a name a caller gave for one entry directly in a folder; empty when the text
// cannot name such an entry ("", ".", "..", a "/", a zero character, a broken surrogate pair).
std::optional<std::string> hostEntryName(std::u16string_view name);

// The entry as a Windows listing shows it; empty when nothing of that name is there. A link is
// described as itself: AttributeReparsePoint, plus AttributeDirectory when it points at a folder,
// size 0. The name "." describes the folder itself.
std::optional<DirectoryEntry> describeEntryAt(int folderFd, const std::string &name);

// The same description without the name, written into `entry` (whose name is left as it is), for
// a listing that already holds the name as a Windows text. False when nothing of that name is
// there.
bool describeEntryAt(int folderFd, const char *name, DirectoryEntry &entry);

// Deletes a file or a link, never a link's target. Folders stay, and so do read-only files,
// as on Windows. True when the entry was removed.
bool deleteFileAt(int folderFd, const std::string &name);

// Deletes a file or a link that a listing of the folder described with `listedAttributes`,
// without reading the entry again: a folder (not a link) or a read-only file stays. The removal is
// still one call relative to the folder that never follows a link and never removes a folder, so
// an entry changed since the listing is at worst removed as it is now (a file made read-only just
// after the listing, which is no different from deleting it just before) or refused (a folder).
bool deleteListedFileAt(int folderFd, const std::string &name, std::uint32_t listedAttributes);

// Removes an empty folder; a link or anything else stays. True when the folder was removed.
bool removeFolderAt(int folderFd, const std::string &name);

// A host time (seconds and nanoseconds since 1970) as a FileTime; 0 before 1601.
FileTime fileTimeFromHostTime(const timespec &time);

} // namespace platform
