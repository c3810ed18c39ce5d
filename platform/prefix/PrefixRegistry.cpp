#include "PrefixRegistry.h"

#include "PrefixRegistryKey.h"
#include "PrefixRegistryStore.h"

namespace platform {

PrefixRegistry::PrefixRegistry(std::string prefixPath, std::string serverRoot)
    : m_store(std::make_shared<PrefixRegistryStore>(std::move(prefixPath), std::move(serverRoot)))
{}

PrefixRegistry::~PrefixRegistry() = default;

std::unique_ptr<PrefixRegistryKey> PrefixRegistry::top(RegistryHive hive) const
{
    using Location = PrefixRegistryKey::Location;
    switch (hive) {
    case RegistryHive::ClassesRoot:
        return PrefixRegistryKey::merged(m_store,
                                         Location{PrefixHive::User, {u"Software", u"Classes"}},
                                         Location{PrefixHive::Machine, {u"Software", u"Classes"}});
    case RegistryHive::CurrentUser:
        return PrefixRegistryKey::plain(m_store, Location{PrefixHive::User, {}}, false);
    case RegistryHive::LocalMachine:
        return PrefixRegistryKey::plain(m_store, Location{PrefixHive::Machine, {}}, false);
    case RegistryHive::Users:
        break;
    }
    return PrefixRegistryKey::plain(m_store, Location{PrefixHive::UsersTop, {}}, false);
}

RegistryStatus PrefixRegistry::open(RegistryHive hive, std::u16string_view path,
                                    std::unique_ptr<RegistryKey> &key) const
{
    return top(hive)->open(path, key);
}

RegistryStatus PrefixRegistry::create(RegistryHive hive, std::u16string_view path,
                                      std::unique_ptr<RegistryKey> &key)
{
    return top(hive)->create(path, key);
}

RegistryWritability PrefixRegistry::writability() const
{
    std::lock_guard lock(m_store->mutex());
    m_store->beginOperation();
    return m_store->writability();
}

std::unique_ptr<Registry> openPrefixRegistry(const std::string &prefixPath)
{
    return std::make_unique<PrefixRegistry>(prefixPath);
}

} // namespace platform
