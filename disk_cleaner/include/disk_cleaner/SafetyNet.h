#pragma once

#include <disk_cleaner/ScanOptions.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace diskcleaner {

// Guards the folders that a recursive walk must never start from, whatever a plug-in file asks:
// a drive root, the Windows folder, the system folder, a program files folder, the users folder,
// a user's profile folder, and every folder that contains one of them. A walk inside such a
// folder ("%windir%\Temp", "%localappdata%\Vendor\Cache") is allowed, and so is every walk that
// is not recursive ("%windir%\*.log").
//
// Each folder is judged twice: by its Windows path, with "." and ".." taken out and the dots and
// blanks Windows drops from names removed, and by its host folder resolved through every link,
// which catches a link that leads into a guarded folder. When the machine lives in a host folder
// (a Wine prefix), a recursive walk must also stay inside it: a folder that resolves outside it,
// through a drive such as Z: or a link such as a Desktop that leads into the Unix home, is
// refused.
class SafetyNet final
{
public:
    // The guarded folders of the current machine, gathered now: its Windows and system folders,
    // program files folders, profile folders and users folders (from the special folders, the
    // environment and the registry's list of profiles) and its drive roots. Without a current
    // machine every recursive walk is refused.
    static SafetyNet forCurrentMachine();

    // Why a walk of `folder` with these options must not happen, or nothing when it may. Only
    // recursive walks are ever refused.
    std::optional<std::u16string> refusal(std::u16string_view folder,
                                          const ScanOptions &options) const;

    // The guarded folders as Windows paths, each with what it is ("the Windows folder").
    struct GuardedFolder
    {
        std::u16string path;
        std::u16string what;
    };
    const std::vector<GuardedFolder> &guardedFolders() const { return m_guarded; }

private:
    SafetyNet() = default;

    struct Guard
    {
        GuardedFolder folder;
        std::u16string folded; // the normal Windows path, case folded
        std::string host;      // the host folder resolved through links; empty when unknown
    };

    void guard(std::u16string_view path, std::u16string_view what);
    void guardUsersFolder(std::u16string_view path);
    std::optional<std::u16string> refusalOfRecursiveWalk(std::u16string_view folder) const;

    bool m_hasMachine = false;
    std::vector<Guard> m_guards;
    std::vector<GuardedFolder> m_guarded;
    // Folders whose every direct subfolder is a user's profile, in both forms.
    std::vector<Guard> m_usersFolders;
    // The host folder the machine lives in, resolved; empty when it lives in none.
    std::string m_machineFolder;
};

} // namespace diskcleaner
