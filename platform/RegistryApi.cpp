#include <platform/RegistryApi.h>

#include <platform/Machine.h>

#include <cstring>
#include <mutex>
#include <string>
#include <unordered_set>

namespace platform {

struct RegistryHandle
{
    std::unique_ptr<RegistryKey> key;
    REGSAM access = 0;
};

namespace {

// The handles that are open, so that a closed or made-up handle is refused rather than used.
std::mutex handlesMutex;
std::unordered_set<RegistryHandle *> openHandles;

// The key a handle names for the time of one call.
struct HandleKey
{
    RegistryKey *key = nullptr;
    std::unique_ptr<RegistryKey> top;
    REGSAM access = 0;
    LSTATUS status = ERROR_SUCCESS;
};

bool predefinedHive(HKEY handle, RegistryHive &hive)
{
    if (handle == HKEY_CLASSES_ROOT)
        hive = RegistryHive::ClassesRoot;
    else if (handle == HKEY_CURRENT_USER)
        hive = RegistryHive::CurrentUser;
    else if (handle == HKEY_LOCAL_MACHINE)
        hive = RegistryHive::LocalMachine;
    else if (handle == HKEY_USERS)
        hive = RegistryHive::Users;
    else
        return false;
    return true;
}

LSTATUS toStatus(RegistryStatus status)
{
    return static_cast<LSTATUS>(status);
}

HandleKey lookUp(HKEY handle)
{
    HandleKey result;
    RegistryHive hive;
    if (predefinedHive(handle, hive)) {
        if (!Machine::hasCurrent()) {
            result.status = ERROR_FILE_NOT_FOUND;
            return result;
        }
        result.status = toStatus(Machine::current().registry().open(hive, u"", result.top));
        result.key = result.top.get();
        result.access = KEY_ALL_ACCESS;
        return result;
    }
    std::lock_guard lock(handlesMutex);
    if (!handle || !openHandles.contains(handle)) {
        result.status = ERROR_INVALID_HANDLE;
        return result;
    }
    result.key = handle->key.get();
    result.access = handle->access;
    return result;
}

std::u16string_view textOf(const char16_t *text)
{
    return text ? std::u16string_view(text) : std::u16string_view();
}

// Copies a name with its terminator into a buffer of length characters.
LSTATUS copyName(const std::u16string &name, char16_t *buffer, DWORD *length)
{
    if (name.size() + 1 > *length)
        return ERROR_MORE_DATA;
    std::copy(name.begin(), name.end(), buffer);
    buffer[name.size()] = u'\0';
    *length = static_cast<DWORD>(name.size());
    return ERROR_SUCCESS;
}

LSTATUS copyValue(const RegistryValue &value, DWORD *type, std::uint8_t *data, DWORD *dataSize)
{
    if (type)
        *type = value.type;
    if (!dataSize)
        return ERROR_SUCCESS;
    const auto size = static_cast<DWORD>(value.data.size());
    if (data && size > *dataSize) {
        *dataSize = size;
        return ERROR_MORE_DATA;
    }
    if (data && size > 0)
        std::memcpy(data, value.data.data(), size);
    *dataSize = size;
    return ERROR_SUCCESS;
}

} // namespace

LSTATUS RegOpenKeyExW(HKEY key, const char16_t *subKey, DWORD, REGSAM desired, HKEY *result)
{
    if (!result)
        return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    HandleKey parent = lookUp(key);
    if (parent.status != ERROR_SUCCESS)
        return parent.status;
    auto handle = std::make_unique<RegistryHandle>();
    handle->access = desired;
    const RegistryStatus status = parent.key->open(textOf(subKey), handle->key);
    if (status != RegistryStatus::Success)
        return toStatus(status);
    std::lock_guard lock(handlesMutex);
    *result = handle.release();
    openHandles.insert(*result);
    return ERROR_SUCCESS;
}

LSTATUS RegQueryInfoKeyW(HKEY key, char16_t *className, DWORD *classLength, DWORD *, DWORD *subKeys,
                         DWORD *longestSubKey, DWORD *longestClass, DWORD *values,
                         DWORD *longestValueName, DWORD *longestValueData,
                         DWORD *securityDescriptorSize, FileTime *lastWriteTime)
{
    HandleKey handle = lookUp(key);
    if (handle.status != ERROR_SUCCESS)
        return handle.status;
    RegistryKeyInfo info;
    const RegistryStatus status = handle.key->info(info);
    if (status != RegistryStatus::Success)
        return toStatus(status);
    if (classLength) {
        if (className && *classLength > 0)
            className[0] = u'\0';
        *classLength = 0;
    }
    if (subKeys)
        *subKeys = info.subkeyCount;
    if (longestSubKey)
        *longestSubKey = info.longestSubkeyName;
    if (longestClass)
        *longestClass = 0;
    if (values)
        *values = info.valueCount;
    if (longestValueName)
        *longestValueName = info.longestValueName;
    if (longestValueData)
        *longestValueData = info.longestValueData;
    if (securityDescriptorSize)
        *securityDescriptorSize = 0;
    if (lastWriteTime)
        *lastWriteTime = info.lastWriteTime;
    return ERROR_SUCCESS;
}

LSTATUS RegEnumKeyExW(HKEY key, DWORD index, char16_t *name, DWORD *nameLength, DWORD *,
                      char16_t *className, DWORD *classLength, FileTime *lastWriteTime)
{
    if (!name || !nameLength)
        return ERROR_INVALID_PARAMETER;
    HandleKey handle = lookUp(key);
    if (handle.status != ERROR_SUCCESS)
        return handle.status;
    std::u16string subkey;
    const RegistryStatus status = handle.key->subkeyName(index, subkey);
    if (status != RegistryStatus::Success)
        return toStatus(status);
    if (const LSTATUS copied = copyName(subkey, name, nameLength); copied != ERROR_SUCCESS)
        return copied;
    if (classLength) {
        if (className && *classLength > 0)
            className[0] = u'\0';
        *classLength = 0;
    }
    if (lastWriteTime) {
        *lastWriteTime = 0;
        std::unique_ptr<RegistryKey> opened;
        RegistryKeyInfo info;
        if (handle.key->open(subkey, opened) == RegistryStatus::Success &&
            opened->info(info) == RegistryStatus::Success)
            *lastWriteTime = info.lastWriteTime;
    }
    return ERROR_SUCCESS;
}

LSTATUS RegEnumValueW(HKEY key, DWORD index, char16_t *valueName, DWORD *valueNameLength, DWORD *,
                      DWORD *type, std::uint8_t *data, DWORD *dataSize)
{
    if (!valueName || !valueNameLength || (data && !dataSize))
        return ERROR_INVALID_PARAMETER;
    HandleKey handle = lookUp(key);
    if (handle.status != ERROR_SUCCESS)
        return handle.status;
    std::u16string name;
    RegistryValue value;
    const RegistryStatus status = handle.key->valueAt(index, name, &value);
    if (status != RegistryStatus::Success)
        return toStatus(status);
    if (const LSTATUS copied = copyName(name, valueName, valueNameLength); copied != ERROR_SUCCESS)
        return copied;
    return copyValue(value, type, data, dataSize);
}

LSTATUS RegQueryValueExW(HKEY key, const char16_t *valueName, DWORD *, DWORD *type,
                         std::uint8_t *data, DWORD *dataSize)
{
    if (data && !dataSize)
        return ERROR_INVALID_PARAMETER;
    HandleKey handle = lookUp(key);
    if (handle.status != ERROR_SUCCESS)
        return handle.status;
    RegistryValue value;
    const RegistryStatus status = handle.key->value(textOf(valueName), value);
    if (status != RegistryStatus::Success)
        return toStatus(status);
    return copyValue(value, type, data, dataSize);
}

LSTATUS RegDeleteValueW(HKEY key, const char16_t *valueName)
{
    HandleKey handle = lookUp(key);
    if (handle.status != ERROR_SUCCESS)
        return handle.status;
    if (!(handle.access & KEY_SET_VALUE))
        return ERROR_ACCESS_DENIED;
    return toStatus(handle.key->deleteValue(textOf(valueName)));
}

LSTATUS RegDeleteKeyW(HKEY key, const char16_t *subKey)
{
    if (!subKey)
        return ERROR_INVALID_PARAMETER;
    HandleKey handle = lookUp(key);
    if (handle.status != ERROR_SUCCESS)
        return handle.status;
    return toStatus(handle.key->deleteKey(subKey));
}

LSTATUS RegCloseKey(HKEY key)
{
    RegistryHive hive;
    if (predefinedHive(key, hive))
        return ERROR_SUCCESS;
    std::unique_ptr<RegistryHandle> closing;
    {
        std::lock_guard lock(handlesMutex);
        if (!key || openHandles.erase(key) == 0)
            return ERROR_INVALID_HANDLE;
        closing.reset(key);
    }
    return ERROR_SUCCESS;
}

} // namespace platform
