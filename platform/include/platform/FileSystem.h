#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// File attribute bits, with their Windows values.
enum FileAttribute : std::uint32_t {
    AttributeReadOnly = 0x1,
    AttributeHidden = 0x2,
    AttributeSystem = 0x4,
    AttributeDirectory = 0x10,
    AttributeArchive = 0x20,
    AttributeNormal = 0x80,
    AttributeReparsePoint = 0x400,
    AttributeOffline = 0x1000,
};

// A point in time as Windows keeps it: 100-nanosecond ticks since 1601-01-01 UTC.
using FileTime = std::uint64_t;

// Ticks between 1601-01-01 and 1970-01-01.
inline constexpr FileTime fileTimeUnixEpoch = 116444736000000000ULL;
inline constexpr FileTime fileTimeTicksPerSecond = 10000000ULL;

// One entry of a directory listing, as FindFirstFileW reports it.
struct DirectoryEntry
{
    std::u16string name;
    std::uint32_t attributes = 0;
    std::uint64_t size = 0; // the complete 64-bit size; 0 for folders and links
    FileTime lastWriteTime = 0;

    bool isDirectory() const { return attributes & AttributeDirectory; }
};

// Drive types, with the values GetDriveTypeW returns.
enum class DriveType : std::uint32_t {
    Unknown = 0,
    NoRootDirectory = 1,
    Removable = 2,
    Fixed = 3,
    Remote = 4,
    CdRom = 5,
    RamDisk = 6,
};

// One logical drive of the machine.
struct Drive
{
    char16_t letter = u'C'; // upper case
    DriveType type = DriveType::Unknown;
    std::string hostFolder; // where the drive's root lies on the host; empty when it has none
};

// A folder held open. Every operation names an entry directly inside it and never follows a
// symbolic link in that name, so work done through a Folder cannot leave it, even when something
// replaces one of its subfolders by a link while the work runs.
class Folder
{
public:
    virtual ~Folder() = default;

    // The entries whose names match a Windows wildcard pattern, in listing order, without "." and
    // "..". A link is listed with AttributeReparsePoint (plus AttributeDirectory when it points
    // at a folder) and size 0.
    virtual std::vector<DirectoryEntry> list(std::u16string_view pattern) const = 0;

    // Opens the subfolder of that exact name; null when it is missing, not a folder, or a link.
    virtual std::unique_ptr<Folder> openSubfolder(std::u16string_view name) const = 0;

    // Deletes a file, or a link itself, never its target. A folder or a read-only file stays, as
    // on Windows. False when the entry stays.
    virtual bool deleteFile(std::u16string_view name) const = 0;

    // Deletes a file or link as list() described it, without looking at it again: refused when
    // that entry is a folder (not a link) or read-only. Never follows a link or removes a folder,
    // even when the entry changed since the listing; a file made read-only since then may go.
    // False when the entry stays.
    virtual bool deleteListedFile(const DirectoryEntry &entry) const = 0;

    // Removes the subfolder of that name if it is empty and not a link. False when it stays.
    virtual bool removeSubfolder(std::u16string_view name) const = 0;
};

// The file system of the machine, addressed by Windows paths ("C:\users\me\Temp", either
// separator). Names compare without regard to case.
class FileSystem
{
public:
    virtual ~FileSystem() = default;

    // Opens a folder by its Windows path, following links on the way as Windows does; null when
    // it is missing or not a folder.
    virtual std::unique_ptr<Folder> openFolder(std::u16string_view windowsPath) const = 0;

    // The entry a path names (GetFileAttributesExW); empty when nothing is there. A link is
    // described as itself, as Folder::list shows it; a drive root has an empty name.
    virtual std::optional<DirectoryEntry> entry(std::u16string_view windowsPath) const = 0;

    // Deletes a file or link (DeleteFileW); folders and read-only files stay. False when it stays.
    virtual bool deleteFile(std::u16string_view windowsPath) const = 0;

    // Removes an empty folder (RemoveDirectoryW), never a link. False when it stays.
    virtual bool removeDirectory(std::u16string_view windowsPath) const = 0;

    // The host path of a Windows path: each existing component matched without regard to case,
    // the rest kept as written. Empty when the path's drive has no root.
    virtual std::string hostPath(std::u16string_view windowsPath) const = 0;

    // The Windows path of a host path, through the drive whose root holds it; empty if none does.
    virtual std::u16string windowsPath(std::string_view hostPath) const = 0;

    // The logical drives, in letter order (GetLogicalDrives with GetDriveTypeW). A drive whose
    // root is gone is listed with NoRootDirectory and an empty hostFolder.
    virtual std::vector<Drive> drives() const = 0;

    // The type of one drive letter (GetDriveTypeW); NoRootDirectory when the drive is absent.
    virtual DriveType driveType(char16_t letter) const = 0;

    // The current time in UTC (GetSystemTimeAsFileTime).
    virtual FileTime currentTime() const = 0;
};

} // namespace platform
