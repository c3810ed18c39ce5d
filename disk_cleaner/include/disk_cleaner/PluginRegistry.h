#pragma once

#include <disk_cleaner/FileList.h>

#include <platform/RegistryApi.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The registry entries of plug-in items: reading a [registry] line, and listing or deleting what
// it names through the Win32-shaped registry calls of the current machine.
namespace diskcleaner {

// One [registry] line taken apart: hive "|" key path, optionally "|" value name.
struct RegistryLine
{
    platform::HKEY hive = nullptr;
    // The hive's long name in capitals ("HKEY_CURRENT_USER"), however the line spelled it; the
    // paths in found lists start with it.
    std::u16string hiveName;
    // Below the hive, names joined by "\"; never without a name (see CrackRegistryLine).
    std::u16string keyPath;
    // One value of the key ("" is the default value); none means the whole key.
    std::optional<std::u16string> valueName;
};

// Takes a line apart. False, with `result` unspecified, when the line has no "|", when its hive
// is not one of "HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE", "HKEY_USERS" and "HKEY_CLASSES_ROOT"
// (compared without regard to case, no short forms), or when its key path names no key below the
// hive (empty, or only "\"): such a line would name the whole hive.
bool CrackRegistryLine(std::u16string_view line, RegistryLine &result);

// Lists without changing anything. With a value name: that value of the key, if present. Without
// one: every value of the key and of all its subkeys, subkeys first, each by index. Each value
// found adds its path (pathStart, "\", key path, subkeys, value name, joined by "\") to `found`,
// 1 to `count` and its data size in bytes to `bytes`. Keys are not counted. A key or value that
// cannot be opened or read is passed over. A key path that names no key below `key` lists
// nothing. Stops between two registry reads once a stop is requested (StopRequest.h).
void EnumRegKey(platform::HKEY key, std::u16string_view keyPath,
                std::optional<std::u16string_view> valueName, std::uint64_t &count,
                std::uint64_t &bytes, FileList &found, std::u16string_view pathStart);

// Deletes what EnumRegKey lists. With a value name: that value only; the key stays. Without one:
// every subkey the same way, then every value of the key, then the key itself from `key`,
// provided nothing is left in it. Each value deleted adds "Deleted: " and its path to `found`, 1
// to `count` and its data size to `bytes`; what cannot be deleted stays and is not counted.
// Returns true when the key itself was deleted. A key path that names no key below `key` changes
// nothing, so no call ever empties a hive. Stops between two registry reads once a stop is
// requested, leaving the key in place.
bool DelRegKey(platform::HKEY key, std::u16string_view keyPath,
               std::optional<std::u16string_view> valueName, std::uint64_t &count,
               std::uint64_t &bytes, FileList &found, std::u16string_view pathStart);

} // namespace diskcleaner
