#pragma once

#include <platform/Registry.h>

#include <memory>
#include <string>

namespace platform {

class PrefixRegistryKey;
class PrefixRegistryStore;

// The registry of a Wine prefix: system.reg is HKEY_LOCAL_MACHINE, user.reg HKEY_CURRENT_USER and
// HKEY_USERS\<its SID>, userdef.reg HKEY_USERS\.Default, and HKEY_CLASSES_ROOT the user's
// Software\Classes merged over the machine's. Read-only while a Wine server runs for the prefix.
class PrefixRegistry final : public Registry
{
public:
    // serverRoot is where Wine keeps its server folders; tests point it elsewhere.
    explicit PrefixRegistry(std::string prefixPath, std::string serverRoot = "/tmp");
    ~PrefixRegistry() override;

    RegistryStatus open(RegistryHive hive, std::u16string_view path,
                        std::unique_ptr<RegistryKey> &key) const override;
    RegistryStatus create(RegistryHive hive, std::u16string_view path,
                          std::unique_ptr<RegistryKey> &key) override;
    RegistryWritability writability() const override;

private:
    std::unique_ptr<PrefixRegistryKey> top(RegistryHive hive) const;

    std::shared_ptr<PrefixRegistryStore> m_store;
};

// The registry of the Wine prefix in a folder. Files are read when first needed; missing ones
// read as empty hives.
std::unique_ptr<Registry> openPrefixRegistry(const std::string &prefixPath);

} // namespace platform
