#include <disk_cleaner/PluginRegistry.h>

#include <disk_cleaner/StopRequest.h>
#include <disk_cleaner/Trace.h>

#include <platform/Text.h>

#include <array>
#include <vector>

namespace diskcleaner {

using namespace platform;

namespace {

constexpr const char *enumOperation = "EnumRegKey";
constexpr const char *deleteOperation = "DelRegKey";

// Windows keeps keys at most 512 levels deep. A deeper tree (a store built by hand, or a loop of
// registry links) is not followed further, so the recursion cannot exhaust the stack.
constexpr int maximumDepth = 512;

struct Hive
{
    std::u16string_view name;
    HKEY handle;
};

// In the order a line's hive is compared with them.
const std::array<Hive, 4> hives = {{
        {u"HKEY_CURRENT_USER", HKEY_CURRENT_USER},
        {u"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},
        {u"HKEY_USERS", HKEY_USERS},
        {u"HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},
}};

// True when a key path names at least one key: the registry passes over empty names, so "" and
// "\\" stand for the key they start from.
bool namesAKey(std::u16string_view keyPath)
{
    return keyPath.find_first_not_of(u'\\') != std::u16string_view::npos;
}

// The totals and found list of one EnumRegKey or DelRegKey call, and the path text that grows by
// one name per level and is cut back on the way up.
struct RegistryWalk
{
    std::uint64_t &count;
    std::uint64_t &bytes;
    FileList &found;
    std::u16string path;
};

// Buffer sizes for the names of a key, from its longest names plus the terminator.
struct NameBuffers
{
    std::vector<char16_t> subkey;
    std::vector<char16_t> value;
};

bool nameBuffers(HKEY key, NameBuffers &buffers)
{
    DWORD longestSubkey = 0;
    DWORD longestValueName = 0;
    if (RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, &longestSubkey, nullptr, nullptr,
                         &longestValueName, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
        return false;
    buffers.subkey.assign(std::size_t{longestSubkey} + 1, u'\0');
    buffers.value.assign(std::size_t{longestValueName} + 1, u'\0');
    return true;
}

// The subkey or value name at an index. ERROR_MORE_DATA when the key gained a longer name since
// the buffers were sized: the caller passes over that index.
LSTATUS subkeyAt(HKEY key, DWORD index, std::vector<char16_t> &buffer, std::u16string &name)
{
    DWORD length = static_cast<DWORD>(buffer.size());
    const LSTATUS status =
            RegEnumKeyExW(key, index, buffer.data(), &length, nullptr, nullptr, nullptr, nullptr);
    if (status == ERROR_SUCCESS)
        name.assign(buffer.data(), length);
    return status;
}

LSTATUS valueAt(HKEY key, DWORD index, std::vector<char16_t> &buffer, std::u16string &name)
{
    DWORD length = static_cast<DWORD>(buffer.size());
    const LSTATUS status =
            RegEnumValueW(key, index, buffer.data(), &length, nullptr, nullptr, nullptr, nullptr);
    if (status == ERROR_SUCCESS)
        name.assign(buffer.data(), length);
    return status;
}

// The data size of a value in bytes, when the value exists.
bool valueSize(HKEY key, const std::u16string &name, DWORD &size)
{
    size = 0;
    return RegQueryValueExW(key, name.c_str(), nullptr, nullptr, nullptr, &size) == ERROR_SUCCESS;
}

// Adds the value `name` of the key whose path the walk holds.
void addValue(RegistryWalk &walk, std::u16string_view name, DWORD size)
{
    std::u16string path = walk.path;
    path += u'\\';
    path += name;
    walk.found.push_back(std::move(path));
    ++walk.count;
    walk.bytes += size;
}

void enumerate(HKEY parent, std::u16string_view keyPath,
               std::optional<std::u16string_view> valueName, RegistryWalk &walk, int depth)
{
    const std::size_t start = walk.path.size();
    walk.path += u'\\';
    walk.path += keyPath;
    Trace(u"%hs: Opening key: %s", enumOperation, walk.path);

    HKEY key = nullptr;
    if (StopRequested() || depth > maximumDepth ||
        RegOpenKeyExW(parent, std::u16string(keyPath).c_str(), 0, KEY_READ, &key) !=
                ERROR_SUCCESS) {
        walk.path.resize(start);
        return;
    }
    Trace(u"%hs: RegOpenKeyEx(%s) successful", enumOperation, walk.path);

    if (valueName) {
        const std::u16string name(*valueName);
        Trace(u"%hs: Getting size of value %s\\%s", enumOperation, walk.path, name);
        DWORD size = 0;
        if (valueSize(key, name, size)) {
            Trace(u"%hs: RegQueryValueEx successful, size of %s = %d", enumOperation, name, size);
            addValue(walk, name, size);
        }
        RegCloseKey(key);
        walk.path.resize(start);
        return;
    }

    NameBuffers buffers;
    if (nameBuffers(key, buffers)) {
        std::u16string name;
        for (DWORD index = 0; !StopRequested(); ++index) {
            const LSTATUS status = subkeyAt(key, index, buffers.subkey, name);
            if (status == ERROR_MORE_DATA)
                continue;
            if (status != ERROR_SUCCESS)
                break;
            Trace(u"%hs: enumerating subkey of %s: %s", enumOperation, walk.path, name);
            enumerate(key, name, std::nullopt, walk, depth + 1);
        }
        for (DWORD index = 0; !StopRequested(); ++index) {
            const LSTATUS status = valueAt(key, index, buffers.value, name);
            if (status == ERROR_MORE_DATA)
                continue;
            if (status != ERROR_SUCCESS)
                break;
            Trace(u"%hs: getting size of value %s\\%s", enumOperation, walk.path, name);
            DWORD size = 0;
            if (valueSize(key, name, size))
                addValue(walk, name, size);
        }
    }
    RegCloseKey(key);
    walk.path.resize(start);
}

// True when nothing, neither value nor subkey, is left in a key.
bool isEmpty(HKEY key)
{
    DWORD subkeys = 0;
    DWORD values = 0;
    return RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values,
                            nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS &&
           subkeys == 0 && values == 0;
}

bool remove(HKEY parent, std::u16string_view keyPath, std::optional<std::u16string_view> valueName,
            RegistryWalk &walk, int depth)
{
    const std::size_t start = walk.path.size();
    walk.path += u'\\';
    walk.path += keyPath;
    const std::u16string subkey(keyPath);

    HKEY key = nullptr;
    if (StopRequested() || depth > maximumDepth ||
        RegOpenKeyExW(parent, subkey.c_str(), 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) {
        Trace(u"Failed to open key: %s", walk.path);
        walk.path.resize(start);
        return false;
    }

    if (valueName) {
        const std::u16string name(*valueName);
        DWORD size = 0;
        if (valueSize(key, name, size) && RegDeleteValueW(key, name.c_str()) == ERROR_SUCCESS)
            addValue(walk, name, size);
        RegCloseKey(key);
        walk.path.resize(start);
        return false;
    }

    NameBuffers buffers;
    bool deleted = false;
    if (nameBuffers(key, buffers)) {
        // A deleted entry lets the next one move into its index, so the index only moves on past
        // an entry that stays. The name of the entry just deleted guards against a store that
        // reports a deletion but still lists the entry, which would otherwise loop for ever.
        std::u16string name;
        std::u16string lastDeleted;
        DWORD index = 0;
        while (!StopRequested()) {
            const LSTATUS status = subkeyAt(key, index, buffers.subkey, name);
            if (status == ERROR_MORE_DATA) {
                ++index;
                continue;
            }
            if (status != ERROR_SUCCESS)
                break;
            if (!lastDeleted.empty() && equalsIgnoreCase(name, lastDeleted)) {
                ++index;
                continue;
            }
            if (remove(key, name, std::nullopt, walk, depth + 1))
                lastDeleted = name;
            else
                ++index;
        }

        std::optional<std::u16string> lastDeletedValue;
        index = 0;
        while (!StopRequested()) {
            const LSTATUS status = valueAt(key, index, buffers.value, name);
            if (status == ERROR_MORE_DATA) {
                ++index;
                continue;
            }
            if (status != ERROR_SUCCESS)
                break;
            if (lastDeletedValue && equalsIgnoreCase(name, *lastDeletedValue)) {
                ++index;
                continue;
            }
            DWORD size = 0;
            if (valueSize(key, name, size) && RegDeleteValueW(key, name.c_str()) == ERROR_SUCCESS) {
                addValue(walk, name, size);
                lastDeletedValue = name;
            } else {
                ++index;
            }
        }
        // The key goes only when it is empty now; a stop leaves it as it is.
        const bool empty = !StopRequested() && isEmpty(key);
        RegCloseKey(key);
        deleted = empty && RegDeleteKeyW(parent, subkey.c_str()) == ERROR_SUCCESS;
    } else {
        RegCloseKey(key);
    }
    walk.path.resize(start);
    return deleted;
}

} // namespace

bool CrackRegistryLine(std::u16string_view line, RegistryLine &result)
{
    const std::size_t first = line.find(u'|');
    if (first == std::u16string_view::npos)
        return false;
    const std::u16string_view hiveName = line.substr(0, first);
    const Hive *hive = nullptr;
    for (const Hive &candidate : hives) {
        if (equalsIgnoreCase(hiveName, candidate.name)) {
            hive = &candidate;
            break;
        }
    }
    if (!hive)
        return false;

    const std::u16string_view rest = line.substr(first + 1);
    const std::size_t second = rest.find(u'|');
    const std::u16string_view keyPath = rest.substr(0, second);
    if (!namesAKey(keyPath)) {
        Trace(u"CrackRegistryLine: refusing %s: it names the whole hive", line);
        return false;
    }
    result.hive = hive->handle;
    result.hiveName = hive->name;
    result.keyPath = keyPath;
    if (second == std::u16string_view::npos)
        result.valueName.reset();
    else
        result.valueName = std::u16string(rest.substr(second + 1));
    return true;
}

void EnumRegKey(HKEY key, std::u16string_view keyPath, std::optional<std::u16string_view> valueName,
                std::uint64_t &count, std::uint64_t &bytes, FileList &found,
                std::u16string_view pathStart)
{
    if (!namesAKey(keyPath)) {
        Trace(u"%hs: refusing to list %s without a key path", enumOperation, pathStart);
        return;
    }
    RegistryWalk walk{count, bytes, found, std::u16string(pathStart)};
    enumerate(key, keyPath, valueName, walk, 1);
}

bool DelRegKey(HKEY key, std::u16string_view keyPath, std::optional<std::u16string_view> valueName,
               std::uint64_t &count, std::uint64_t &bytes, FileList &found,
               std::u16string_view pathStart)
{
    if (!namesAKey(keyPath)) {
        Trace(u"%hs: refusing to empty %s without a key path", deleteOperation, pathStart);
        return false;
    }
    RegistryWalk walk{count, bytes, found, u"Deleted: " + std::u16string(pathStart)};
    return remove(key, keyPath, valueName, walk, 1);
}

} // namespace diskcleaner
