#pragma once

#include "TrashFolder.h"

#include <platform/FileSystem.h>
#include <platform/RecycleBin.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace platform {

// Where the desktop keeps the trash of the user running the program.
struct TrashEnvironment
{
    std::string home;         // HOME
    std::string dataHome;     // XDG_DATA_HOME; ignored unless it is an absolute path
    std::uint32_t userId = 0; // the Unix user whose trash folders count
    std::string mountTable = "/proc/self/mountinfo";

    // The values of the running process.
    static TrashEnvironment fromProcess();

    // The home trash folder: $XDG_DATA_HOME/Trash, else $HOME/.local/share/Trash; empty when
    // neither is known.
    std::string homeTrash() const;
};

// The recycle bins of a Wine prefix. Wine moves deleted files to the desktop's trash, so the bin
// of a fixed drive is a trash of the mount holding the drive's folder: the home trash when that
// is the home trash's mount, otherwise `.Trash/<uid>` and `.Trash-<uid>` at the top of the mount
// when either is there. A mount with neither has its deleted files in the home trash, which is
// then its bin. Drives whose bins are the same trash folders share one bin. The mounts and the
// trash folders are looked up again on every call.
class PrefixRecycleBin final : public RecycleBin
{
public:
    PrefixRecycleBin(std::vector<Drive> drives, TrashEnvironment environment);

    std::optional<RecycleBinQuery> query(std::u16string_view root) const override;
    RecycleBinEmptied empty() const override;

private:
    // One trash folder a bin consists of.
    struct Location
    {
        enum class Kind { Home, Shared, Private } kind;
        std::string path; // the home trash itself, or the top of the mount

        std::string folder(std::uint32_t userId) const;
        TrashFolder open(std::uint32_t userId) const;
    };

    // The trash folders of a fixed drive's bin; empty when the drive has no bin.
    std::optional<std::vector<Location>> locationsOf(const Drive &drive) const;

    std::vector<Drive> m_drives;
    TrashEnvironment m_environment;
};

// The recycle bin of the prefix whose drives the file system shows, for the user running the
// program. It keeps the drives as they are now.
std::unique_ptr<RecycleBin> openPrefixRecycleBin(const FileSystem &fileSystem);

} // namespace platform
