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

// Removes an empty folder; a link or anything else stays. True when the folder was removed.
bool removeFolderAt(int folderFd, const std::string &name);

// A host time (seconds and nanoseconds since 1970) as a FileTime; 0 before 1601.
FileTime fileTimeFromHostTime(const timespec &time);

} // namespace platform
