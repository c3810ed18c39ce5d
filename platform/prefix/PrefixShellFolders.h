#pragma once

#include "PrefixProfile.h"
#include "VariableExpansion.h"

#include <platform/Environment.h>
#include <platform/Registry.h>
#include <platform/ShellFolders.h>

#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

// The special folders of a Wine prefix's user. A folder's path comes from the User Shell Folders
// key (its value expanded), else from the Shell Folders key, else from Wine's default layout; the
// user's folders from the user's keys, the folders of all users from the machine's. Variables in
// the values resolve first to the ones the profile defines (USERPROFILE, ProgramData, PUBLIC and
// so on), as Wine resolves them whatever the environment says, then through the environment.
// The registry is read again on every call, so changes show at once.
class PrefixShellFolders final : public ShellFolders
{
public:
    // The registry and the environment must outlive the object.
    PrefixShellFolders(const Registry &registry, const Environment &environment,
                       std::u16string userName);

    std::u16string windowsDirectory() const override;
    std::u16string systemDirectory() const override;
    std::optional<std::u16string> folder(int csidl) const override;
    std::optional<std::u16string> knownFolder(std::u16string_view folderId) const override;

    // A special folder of a prefix whose profile is known, with other variables looked up in the
    // given way. Empty for a number the prefix has no folder for.
    static std::optional<std::u16string> folder(int csidl, const Registry &registry,
                                                const PrefixProfile &profile,
                                                const VariableLookup &variables);

private:
    VariableLookup lookupFor(const PrefixProfile &profile) const;

    const Registry &m_registry;
    const Environment &m_environment;
    std::u16string m_userName;
};

// The special folders of the prefix whose registry is given, for that Windows user.
std::unique_ptr<ShellFolders> openPrefixShellFolders(const Registry &registry,
                                                     const Environment &environment,
                                                     std::u16string userName);

} // namespace platform
