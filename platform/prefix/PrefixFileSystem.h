#pragma once

#include <platform/FileSystem.h>

#include <array>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace platform {

// The file system of a Wine prefix: drives are the links in dosdevices/, Windows paths resolve
// component by component without regard to case, as Wine resolves them.
class PrefixFileSystem final : public FileSystem
{
public:
    // The prefix folder; a relative path is taken from the current folder.
    explicit PrefixFileSystem(std::string_view prefixPath);

    // The absolute prefix folder, "." and ".." removed.
    const std::string &prefixPath() const { return m_prefixPath; }

    // Drive types set in the prefix's registry (Software\Wine\Drives): drive letter (either case)
    // to "hd", "floppy", "cdrom", "network" or "ramdisk" (any case). Other letters or texts are
    // ignored. Replaces earlier settings; call before the file system is shared between threads.
    void setDriveTypeOverrides(const std::map<char16_t, std::u16string> &overrides);

    std::unique_ptr<Folder> openFolder(std::u16string_view windowsPath) const override;
    std::optional<DirectoryEntry> entry(std::u16string_view windowsPath) const override;
    bool deleteFile(std::u16string_view windowsPath) const override;
    bool removeDirectory(std::u16string_view windowsPath) const override;
    std::string hostPath(std::u16string_view windowsPath) const override;
    std::u16string windowsPath(std::string_view hostPath) const override;
    std::vector<Drive> drives() const override;
    DriveType driveType(char16_t letter) const override;
    FileTime currentTime() const override;

    // A host path made absolute against the current folder, with "." and ".." removed lexically
    // and no doubled or trailing "/".
    static std::string absoluteHostPath(std::string_view path);

private:
    // A Windows path as a host folder and the host name of the last component in it. The name is
    // empty for a drive root, which is then the folder.
    struct ResolvedPath
    {
        std::string folder;
        std::string name;
    };

    std::optional<ResolvedPath> resolve(std::u16string_view windowsPath) const;

    // Where the link of a drive (0 for A) points, absolute; empty when the drive has no link.
    std::optional<std::string> driveTarget(int index) const;

    // The drive's root folder; empty when the drive has no link or the link leads nowhere.
    std::optional<std::string> driveRoot(int index) const;

    DriveType typeOfRoot(int index, const std::string &root) const;

    std::string m_prefixPath;
    std::array<std::optional<DriveType>, 26> m_typeOverrides;
};

} // namespace platform
