#include "PrefixProfile.h"

#include <platform/Text.h>

#include <array>
#include <memory>
#include <utility>

namespace platform {

namespace {

constexpr std::u16string_view profileListKey =
        u"Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";
constexpr std::u16string_view currentVersionKey = u"Software\\Microsoft\\Windows\\CurrentVersion";

// ProfileList values are written with %SystemDrive% and %SystemRoot% on Windows; nothing else is
// known while the profile itself is being read.
std::optional<std::u16string> systemVariable(std::u16string_view name)
{
    if (equalsIgnoreCase(name, u"SystemDrive"))
        return std::u16string(prefixSystemDrive);
    if (equalsIgnoreCase(name, u"SystemRoot") || equalsIgnoreCase(name, u"windir"))
        return std::u16string(prefixWindowsFolder);
    return std::nullopt;
}

std::u16string folderOr(std::optional<std::u16string> text, std::u16string_view fallback)
{
    return withoutTrailingSeparator(text ? std::move(*text) : std::u16string(fallback));
}

bool hasValue(const RegistryKey &key, std::u16string_view name)
{
    RegistryValue value;
    return key.value(name, value) == RegistryStatus::Success;
}

} // namespace

std::optional<std::u16string> readRegistryText(const RegistryKey &key,
                                               std::u16string_view valueName,
                                               const VariableLookup &lookup)
{
    RegistryValue value;
    if (key.value(valueName, value) != RegistryStatus::Success)
        return std::nullopt;
    if (value.type != RegSz && value.type != RegExpandSz)
        return std::nullopt;
    std::u16string text = registryText(value);
    if (value.type == RegExpandSz)
        text = expandVariables(text, lookup);
    if (text.empty())
        return std::nullopt;
    return text;
}

std::optional<std::u16string> readRegistryText(const Registry &registry, RegistryHive hive,
                                               std::u16string_view keyPath,
                                               std::u16string_view valueName,
                                               const VariableLookup &lookup)
{
    std::unique_ptr<RegistryKey> key;
    if (registry.open(hive, keyPath, key) != RegistryStatus::Success || !key)
        return std::nullopt;
    return readRegistryText(*key, valueName, lookup);
}

std::u16string withoutTrailingSeparator(std::u16string path)
{
    while (!path.empty() && path.back() == u'\\') {
        if (path.size() == 3 && path[1] == u':')
            break;
        path.pop_back();
    }
    return path;
}

PrefixProfile PrefixProfile::read(const Registry &registry, std::u16string_view userName)
{
    PrefixProfile profile;
    profile.userName = std::u16string(userName);

    auto machineText = [&](std::u16string_view key, std::u16string_view name) {
        return readRegistryText(registry, RegistryHive::LocalMachine, key, name, systemVariable);
    };
    // Wine places the user's profile in the profiles folder under the user's name; the path
    // recorded for the user's SID does not count.
    profile.userProfile =
            folderOr(machineText(profileListKey, u"ProfilesDirectory"), u"C:\\users") + u"\\" +
            profile.userName;
    profile.programData = folderOr(machineText(profileListKey, u"ProgramData"), u"C:\\ProgramData");
    profile.publicProfile = folderOr(machineText(profileListKey, u"Public"), u"C:\\users\\Public");

    // A 32-bit prefix has a CurrentVersion key without the (x86) folders; an empty registry
    // stands for a fresh prefix of Wine's usual kind, which is 64-bit.
    std::unique_ptr<RegistryKey> currentVersion;
    if (registry.open(RegistryHive::LocalMachine, currentVersionKey, currentVersion) ==
                RegistryStatus::Success &&
        currentVersion && hasValue(*currentVersion, u"ProgramFilesDir") &&
        !hasValue(*currentVersion, u"ProgramFilesDir (x86)"))
        profile.hasWow64 = false;

    profile.programFiles =
            folderOr(machineText(currentVersionKey, u"ProgramFilesDir"), u"C:\\Program Files");
    profile.commonFiles = folderOr(machineText(currentVersionKey, u"CommonFilesDir"),
                                   u"C:\\Program Files\\Common Files");
    if (profile.hasWow64) {
        profile.programFilesX86 = folderOr(machineText(currentVersionKey, u"ProgramFilesDir (x86)"),
                                           u"C:\\Program Files (x86)");
        profile.commonFilesX86 = folderOr(machineText(currentVersionKey, u"CommonFilesDir (x86)"),
                                          u"C:\\Program Files (x86)\\Common Files");
    }
    return profile;
}

std::u16string_view PrefixProfile::systemX86Folder() const
{
    return hasWow64 ? prefixSystemX86Folder : prefixSystemFolder;
}

std::optional<std::u16string> PrefixProfile::variable(std::u16string_view name) const
{
    struct ProfileVariable
    {
        std::u16string_view name;
        const std::u16string *value;
        bool onlyWithWow64;
    };
    const std::array<ProfileVariable, 10> fromProfile{{
            {u"USERPROFILE", &userProfile, false},
            {u"ALLUSERSPROFILE", &programData, false},
            {u"ProgramData", &programData, false},
            {u"PUBLIC", &publicProfile, false},
            {u"ProgramFiles", &programFiles, false},
            {u"CommonProgramFiles", &commonFiles, false},
            {u"ProgramW6432", &programFiles, true},
            {u"CommonProgramW6432", &commonFiles, true},
            {u"ProgramFiles(x86)", &programFilesX86, true},
            {u"CommonProgramFiles(x86)", &commonFilesX86, true},
    }};
    for (const ProfileVariable &entry : fromProfile) {
        if (!equalsIgnoreCase(name, entry.name))
            continue;
        if (entry.onlyWithWow64 && !hasWow64)
            return std::nullopt;
        return *entry.value;
    }
    return systemVariable(name);
}

} // namespace platform
