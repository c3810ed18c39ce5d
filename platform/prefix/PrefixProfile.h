#pragma once

#include "VariableExpansion.h"

#include <platform/Registry.h>

#include <optional>
#include <string>
#include <string_view>

namespace platform {

// Fixed places of every Wine prefix.
inline constexpr std::u16string_view prefixSystemDrive = u"C:";
inline constexpr std::u16string_view prefixWindowsFolder = u"C:\\windows";
inline constexpr std::u16string_view prefixSystemFolder = u"C:\\windows\\system32";
inline constexpr std::u16string_view prefixSystemX86Folder = u"C:\\windows\\syswow64";

// Where a prefix keeps its profiles and programs, as Wine works it out each time a program
// starts: from the ProfileList and CurrentVersion keys of the machine, with the values of a fresh
// prefix wherever the registry has none.
struct PrefixProfile
{
    std::u16string userName;
    std::u16string userProfile; // the profiles folder and the user's name: C:\users\<user>
    std::u16string programData;
    std::u16string publicProfile;
    std::u16string programFiles;
    std::u16string programFilesX86; // empty on a 32-bit prefix
    std::u16string commonFiles;
    std::u16string commonFilesX86; // empty on a 32-bit prefix
    // A 64-bit prefix: 32-bit programs have their own program folders and system folder.
    bool hasWow64 = true;

    static PrefixProfile read(const Registry &registry, std::u16string_view userName);

    // The system folder of 32-bit programs: syswow64 on a 64-bit prefix, else system32.
    std::u16string_view systemX86Folder() const;

    // The variables Wine sets from the profile (USERPROFILE, ALLUSERSPROFILE, ProgramData,
    // PUBLIC, SystemDrive, SystemRoot, windir, ProgramFiles, ProgramFiles(x86), ProgramW6432,
    // CommonProgramFiles, CommonProgramFiles(x86), CommonProgramW6432), by name in any case;
    // empty for other names and for the (x86) ones of a 32-bit prefix.
    std::optional<std::u16string> variable(std::u16string_view name) const;
};

// The text of a string value: a REG_SZ as stored, a REG_EXPAND_SZ expanded with the lookup. Empty
// when the key or the value is missing, the value has another type, or its text is empty.
std::optional<std::u16string> readRegistryText(const Registry &registry, RegistryHive hive,
                                               std::u16string_view keyPath,
                                               std::u16string_view valueName,
                                               const VariableLookup &lookup);

// The same for a value of a key already open.
std::optional<std::u16string> readRegistryText(const RegistryKey &key,
                                               std::u16string_view valueName,
                                               const VariableLookup &lookup);

// A folder path without trailing "\", except that a drive root keeps it ("C:\").
std::u16string withoutTrailingSeparator(std::u16string path);

} // namespace platform
