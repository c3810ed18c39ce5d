#pragma once

#include <platform/FileSystem.h>
#include <platform/RecentDocuments.h>
#include <platform/Registry.h>
#include <platform/ShellFolders.h>

#include <memory>
#include <string>

namespace platform {

// The recent-documents list of a Wine prefix's user: the Recent folder the shell folders name and
// the RecentDocs key of the user's registry.
class PrefixRecentDocuments final : public RecentDocuments
{
public:
    // The shell folders, registry and file system must outlive the object.
    PrefixRecentDocuments(const ShellFolders &shellFolders, const Registry &registry,
                          const FileSystem &fileSystem);

    std::optional<std::u16string> folder() const override;
    RecentDocumentsCleared clear() const override;

private:
    void deleteDocuments(const std::u16string &folder, RecentDocumentsCleared &cleared) const;
    bool emptyList() const;

    const ShellFolders &m_shellFolders;
    const Registry &m_registry;
    const FileSystem &m_fileSystem;
};

// The recent-documents list of the prefix whose shell folders, registry and files are given.
std::unique_ptr<RecentDocuments> openPrefixRecentDocuments(const ShellFolders &shellFolders,
                                                           const Registry &registry,
                                                           const FileSystem &fileSystem);

} // namespace platform
