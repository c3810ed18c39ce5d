#pragma once

#include <platform/FileSystem.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// Value types, with the numbers Windows gives them. Stores also hold values of other numbers
// (drivers use types such as 0xffff0007); those are kept and reported as they are.
enum RegistryValueType : std::uint32_t {
    RegNone = 0,
    RegSz = 1,
    RegExpandSz = 2,
    RegBinary = 3,
    RegDword = 4,
    RegDwordBigEndian = 5,
    RegLink = 6,
    RegMultiSz = 7,
    RegResourceList = 8,
    RegFullResourceDescriptor = 9,
    RegResourceRequirementsList = 10,
    RegQword = 11,
};

// Results of registry operations: the Windows error codes the same calls give on Windows.
enum class RegistryStatus : std::int32_t {
    Success = 0,
    FileNotFound = 2,  // no such key or value
    AccessDenied = 5,  // the store is read-only, or the operation is not allowed on this key
    InvalidHandle = 6, // a closed or unknown key handle
    InvalidParameter = 87,
    MoreData = 234,          // a buffer is too small
    NoMoreItems = 259,       // an enumeration index past the end
    RegistryIoFailed = 1016, // the change could not be written; nothing was changed
    KeyDeleted = 1018,       // the open key was deleted meanwhile
};

// The predefined keys a path starts from.
enum class RegistryHive : std::uint8_t {
    ClassesRoot,  // HKEY_CLASSES_ROOT: the user's classes merged over the machine's
    CurrentUser,  // HKEY_CURRENT_USER
    LocalMachine, // HKEY_LOCAL_MACHINE
    Users,        // HKEY_USERS: ".Default" and the current user's SID
};

// One value's type and data, as Windows stores them: string types hold UTF-16 little-endian
// units including the terminating NUL (and, for RegMultiSz, the NUL that ends the list).
struct RegistryValue
{
    std::uint32_t type = RegNone;
    std::vector<std::uint8_t> data;

    bool operator==(const RegistryValue &) const = default;
};

// What RegQueryInfoKeyW reports about a key. Name lengths are in UTF-16 units without a
// terminator; data sizes in bytes.
struct RegistryKeyInfo
{
    std::uint32_t subkeyCount = 0;
    std::uint32_t longestSubkeyName = 0;
    std::uint32_t valueCount = 0;
    std::uint32_t longestValueName = 0;
    std::uint32_t longestValueData = 0;
    FileTime lastWriteTime = 0;
};

// Why the registry cannot be changed.
enum class RegistryReadOnlyReason : std::uint8_t {
    None,          // it can be changed
    ServerRunning, // a Wine server runs for the prefix and owns the registry until it exits
    DamagedFile,   // a registry file is not one the store can read; it is left alone
    UnsafeFile,    // a registry file is a link, has several names or cannot be replaced safely
};

struct RegistryWritability
{
    RegistryReadOnlyReason reason = RegistryReadOnlyReason::None;
    // For the user: the server's process id, or the file concerned. Empty when writable.
    std::string detail;

    bool writable() const { return reason == RegistryReadOnlyReason::None; }
};

// An open key. Names compare without regard to case; paths join names with "\". Keys of one
// store may be used from several threads (the store serialises the calls) and stay usable after
// the Registry object that opened them is gone.
class RegistryKey
{
public:
    virtual ~RegistryKey() = default;

    // Counts, longest names and sizes, and the last-write time.
    virtual RegistryStatus info(RegistryKeyInfo &info) const = 0;

    // The name of the subkey at an index, in Windows' order (alphabetical without regard to case);
    // NoMoreItems past the end.
    virtual RegistryStatus subkeyName(std::uint32_t index, std::u16string &name) const = 0;

    // The name (and, when asked for, type and data) of the value at an index, in the same order;
    // NoMoreItems past the end. The default value has the empty name.
    virtual RegistryStatus valueAt(std::uint32_t index, std::u16string &name,
                                   RegistryValue *value) const = 0;

    // The value of a name ("" for the default value); FileNotFound when there is none.
    virtual RegistryStatus value(std::u16string_view name, RegistryValue &value) const = 0;

    // Opens a key below this one (empty path: this key again). Never creates anything.
    virtual RegistryStatus open(std::u16string_view path,
                                std::unique_ptr<RegistryKey> &key) const = 0;

    // Opens a key below this one, creating the missing keys on the way.
    virtual RegistryStatus create(std::u16string_view path, std::unique_ptr<RegistryKey> &key) = 0;

    // Stores a value, replacing one of the same name. Written to disk when it returns Success.
    virtual RegistryStatus setValue(std::u16string_view name, const RegistryValue &value) = 0;

    // Deletes a value; FileNotFound when there is none.
    virtual RegistryStatus deleteValue(std::u16string_view name) = 0;

    // Deletes the key at a path below this one (empty path: this key) together with its values.
    // AccessDenied while it has subkeys: a key goes after its contents. Keys that are symbolic
    // links, and keys reached through one, are never deleted.
    virtual RegistryStatus deleteKey(std::u16string_view path) = 0;

    // Stores a string value of type RegSz.
    RegistryStatus setString(std::u16string_view name, std::u16string_view text);
};

// The registry of the machine.
class Registry
{
public:
    virtual ~Registry() = default;

    // Opens a key by hive and path (empty path: the hive's top). Never creates anything.
    virtual RegistryStatus open(RegistryHive hive, std::u16string_view path,
                                std::unique_ptr<RegistryKey> &key) const = 0;

    // Opens a key by hive and path, creating the missing keys on the way.
    virtual RegistryStatus create(RegistryHive hive, std::u16string_view path,
                                  std::unique_ptr<RegistryKey> &key) = 0;

    // Whether changes can be made now, and if not, why.
    virtual RegistryWritability writability() const = 0;
};

// A string value: the text's UTF-16 little-endian units and a terminating NUL.
RegistryValue registryString(std::u16string_view text, std::uint32_t type = RegSz);

// The text of a string value, up to its first NUL (RegMultiSz: its first string). Empty for
// values of other types.
std::u16string registryText(const RegistryValue &value);

} // namespace platform
