#pragma once

#include <platform/Registry.h>

#include <cstdint>

// The registry calls of the Windows API that plug-in registry items use, with their meaning and
// results, over the registry of the current Machine. Handles and results behave as on Windows;
// the names live in namespace platform and stand for no Windows symbol. Without a current
// machine, calls on the predefined keys fail with ERROR_FILE_NOT_FOUND. A handle keeps working
// when another machine becomes current; it still names its key in the registry it came from.
namespace platform {

struct RegistryHandle;
using HKEY = RegistryHandle *;
using LSTATUS = std::int32_t;
using DWORD = std::uint32_t;
using REGSAM = std::uint32_t;

// The predefined keys, with the values Windows gives their handles.
inline const HKEY HKEY_CLASSES_ROOT = reinterpret_cast<HKEY>(std::uintptr_t{0x80000000});
inline const HKEY HKEY_CURRENT_USER = reinterpret_cast<HKEY>(std::uintptr_t{0x80000001});
inline const HKEY HKEY_LOCAL_MACHINE = reinterpret_cast<HKEY>(std::uintptr_t{0x80000002});
inline const HKEY HKEY_USERS = reinterpret_cast<HKEY>(std::uintptr_t{0x80000003});

inline constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
inline constexpr REGSAM KEY_SET_VALUE = 0x0002;
inline constexpr REGSAM KEY_CREATE_SUB_KEY = 0x0004;
inline constexpr REGSAM KEY_ENUMERATE_SUB_KEYS = 0x0008;
inline constexpr REGSAM KEY_READ = 0x20019;
inline constexpr REGSAM KEY_WRITE = 0x20006;
inline constexpr REGSAM KEY_ALL_ACCESS = 0xF003F;

inline constexpr LSTATUS ERROR_SUCCESS = 0;
inline constexpr LSTATUS ERROR_FILE_NOT_FOUND = 2;
inline constexpr LSTATUS ERROR_ACCESS_DENIED = 5;
inline constexpr LSTATUS ERROR_INVALID_HANDLE = 6;
inline constexpr LSTATUS ERROR_INVALID_PARAMETER = 87;
inline constexpr LSTATUS ERROR_MORE_DATA = 234;
inline constexpr LSTATUS ERROR_NO_MORE_ITEMS = 259;
inline constexpr LSTATUS ERROR_KEY_DELETED = 1018;

// Opens a subkey (null or empty: the key itself again). Writes through the handle need
// KEY_SET_VALUE in desired. *result is null when it fails.
LSTATUS RegOpenKeyExW(HKEY key, const char16_t *subKey, DWORD options, REGSAM desired,
                      HKEY *result);

// Counts and longest lengths: names in characters without the terminator, data in bytes. Any
// pointer may be null; there are no classes or security descriptors (their sizes are 0).
LSTATUS RegQueryInfoKeyW(HKEY key, char16_t *className, DWORD *classLength, DWORD *reserved,
                         DWORD *subKeys, DWORD *longestSubKey, DWORD *longestClass, DWORD *values,
                         DWORD *longestValueName, DWORD *longestValueData,
                         DWORD *securityDescriptorSize, FileTime *lastWriteTime);

// The subkey at an index. nameLength holds the buffer's size in characters with room for the
// terminator and receives the name's length without it; ERROR_MORE_DATA when it does not fit,
// ERROR_NO_MORE_ITEMS past the end.
LSTATUS RegEnumKeyExW(HKEY key, DWORD index, char16_t *name, DWORD *nameLength, DWORD *reserved,
                      char16_t *className, DWORD *classLength, FileTime *lastWriteTime);

// The value at an index: name as for RegEnumKeyExW; type, data and dataSize as for
// RegQueryValueExW.
LSTATUS RegEnumValueW(HKEY key, DWORD index, char16_t *valueName, DWORD *valueNameLength,
                      DWORD *reserved, DWORD *type, std::uint8_t *data, DWORD *dataSize);

// A value by name (null or empty: the default value). Without a data buffer dataSize receives
// the size; with one that is too small, ERROR_MORE_DATA and the size needed.
LSTATUS RegQueryValueExW(HKEY key, const char16_t *valueName, DWORD *reserved, DWORD *type,
                         std::uint8_t *data, DWORD *dataSize);

// Deletes a value (null or empty: the default value).
LSTATUS RegDeleteValueW(HKEY key, const char16_t *valueName);

// Deletes a subkey with its values; ERROR_ACCESS_DENIED while it has subkeys of its own.
LSTATUS RegDeleteKeyW(HKEY key, const char16_t *subKey);

// Closes a handle that RegOpenKeyExW gave; closing a predefined key does nothing.
LSTATUS RegCloseKey(HKEY key);

} // namespace platform
