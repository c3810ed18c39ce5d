#pragma once

#include <memory>
#include <string>

namespace platform {

class Environment;
class FileSystem;
class RecentDocuments;
class RecycleBin;
class Registry;
class ShellFolders;
class UrlCache;

// The computer the program looks at, with Windows semantics. One machine is current at a time;
// the program chooses it once at start, and a test installs one built on a temporary folder.
class Machine
{
public:
    virtual ~Machine() = default;

    // The machine's files, folders and drives.
    virtual const FileSystem &fileSystem() const = 0;

    // The machine's registry. Keys opened from it stay valid while the machine is current.
    virtual Registry &registry() const = 0;

    // The Windows environment of the program, read once when the machine is opened.
    virtual Environment &environment() const = 0;

    // The Windows folder, the system folder and the user's special folders.
    virtual const ShellFolders &shellFolders() const = 0;

    // The shell's list of recently opened documents.
    virtual const RecentDocuments &recentDocuments() const = 0;

    // The recycle bins of the fixed drives.
    virtual const RecycleBin &recycleBin() const = 0;

    // The user's WinINet URL cache: downloaded content, cookies and the history of visits.
    virtual const UrlCache &urlCache() const = 0;

    // The Windows user name of the person using the machine.
    virtual std::u16string userName() const = 0;

    // A short human-readable text naming where the machine lives (for example the prefix folder).
    virtual std::string location() const = 0;

    // The current machine. Only valid after install().
    static Machine &current();

    // True once a machine is installed.
    static bool hasCurrent();

    // Makes a machine the current one, replacing any earlier one. Call while no work runs.
    static void install(std::unique_ptr<Machine> machine);
};

} // namespace platform
