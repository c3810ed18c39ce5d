#pragma once

#include "PrefixRegistryStore.h"

#include <platform/Registry.h>

#include <memory>
#include <string>
#include <vector>

namespace platform {

// An open key of a prefix's registry. A plain key names one key exactly: the file and the path of
// names in it, found when it was opened (links already followed). A merged key is a key of
// HKEY_CLASSES_ROOT: the same path below the user's classes and below the machine's, found anew as
// the files change; it exists while either does, reads the user's part first and deletes from both.
class PrefixRegistryKey final : public RegistryKey
{
public:
    struct Location
    {
        PrefixHive hive = PrefixHive::Machine;
        std::vector<std::u16string> path;
    };

    // A plain key; throughLink tells that a link was followed to reach it.
    static std::unique_ptr<PrefixRegistryKey> plain(std::shared_ptr<PrefixRegistryStore> store,
                                                    Location location, bool throughLink);

    // A key of HKEY_CLASSES_ROOT, at the user's location and the machine's, in that order.
    static std::unique_ptr<PrefixRegistryKey> merged(std::shared_ptr<PrefixRegistryStore> store,
                                                     Location user, Location machine);

    RegistryStatus info(RegistryKeyInfo &info) const override;
    RegistryStatus subkeyName(std::uint32_t index, std::u16string &name) const override;
    RegistryStatus valueAt(std::uint32_t index, std::u16string &name,
                           RegistryValue *value) const override;
    RegistryStatus value(std::u16string_view name, RegistryValue &value) const override;
    RegistryStatus open(std::u16string_view path, std::unique_ptr<RegistryKey> &key) const override;
    RegistryStatus create(std::u16string_view path, std::unique_ptr<RegistryKey> &key) override;
    RegistryStatus setValue(std::u16string_view name, const RegistryValue &value) override;
    RegistryStatus deleteValue(std::u16string_view name) override;
    RegistryStatus deleteKey(std::u16string_view path) override;

private:
    using Place = PrefixRegistryStore::Place;
    using Key = WineRegistryFile::Key;

    // A name in a merged key's view, and the place it comes from.
    struct Entry
    {
        std::u16string name;
        std::size_t place = 0;
    };

    PrefixRegistryKey(std::shared_ptr<PrefixRegistryStore> store, std::vector<Location> locations,
                      bool merged, bool throughLink);

    // Where the key is now, for the current operation; empty when it is gone.
    const std::vector<Place> &places() const;
    const std::vector<Entry> &mergedSubkeys() const;
    const std::vector<Entry> &mergedValues() const;
    std::vector<std::u16string> subkeyNames(const Place &place) const;
    RegistryStatus openLocked(std::u16string_view path, std::unique_ptr<RegistryKey> &key) const;
    RegistryStatus createAt(const Place &start, const std::vector<std::u16string> &names);
    RegistryStatus deleteTarget(const Place &from, const std::vector<std::u16string> &names,
                                Place &target) const;
    static RegistryStatus checkNames(const std::vector<std::u16string> &names);

    std::shared_ptr<PrefixRegistryStore> m_store;
    std::vector<Location> m_locations;
    bool m_merged = false;
    bool m_throughLink = false;

    mutable std::uint64_t m_placesRevision = 0;
    mutable std::vector<Place> m_places;
    mutable std::uint64_t m_subkeysRevision = 0;
    mutable std::vector<Entry> m_subkeys;
    mutable std::uint64_t m_valuesRevision = 0;
    mutable std::vector<Entry> m_values;
};

} // namespace platform
