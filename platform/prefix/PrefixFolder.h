#pragma once

#include "UniqueFd.h"

#include <platform/FileSystem.h>

namespace platform {

// A host folder held open by its descriptor. Names are single entries relative to it, so a
// rename or a link swapped in above it cannot move the work elsewhere.
class PrefixFolder final : public Folder
{
public:
    explicit PrefixFolder(UniqueFd folder);

    // Opens a host folder by path, following links in the path. Null when it is not a folder.
    static std::unique_ptr<PrefixFolder> open(const std::string &hostPath);

    std::vector<DirectoryEntry> list(std::u16string_view pattern) const override;
    std::unique_ptr<Folder> openSubfolder(std::u16string_view name) const override;
    bool deleteFile(std::u16string_view name) const override;
    bool deleteListedFile(const DirectoryEntry &entry) const override;
    bool removeSubfolder(std::u16string_view name) const override;

private:
    UniqueFd m_folder;
};

} // namespace platform
