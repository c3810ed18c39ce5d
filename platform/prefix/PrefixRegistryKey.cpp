#include "PrefixRegistryKey.h"

#include <platform/Text.h>

#include <algorithm>

namespace platform {

namespace {

// Windows' longest names: a key name and a value name, in UTF-16 units.
constexpr std::size_t maximumKeyNameLength = 255;
constexpr std::size_t maximumValueNameLength = 16383;

std::uint32_t count(std::size_t size)
{
    return static_cast<std::uint32_t>(std::min<std::size_t>(size, UINT32_MAX));
}

} // namespace

PrefixRegistryKey::PrefixRegistryKey(std::shared_ptr<PrefixRegistryStore> store,
                                     std::vector<Location> locations, bool merged, bool throughLink)
    : m_store(std::move(store))
    , m_locations(std::move(locations))
    , m_merged(merged)
    , m_throughLink(throughLink)
{}

std::unique_ptr<PrefixRegistryKey>
PrefixRegistryKey::plain(std::shared_ptr<PrefixRegistryStore> store, Location location,
                         bool throughLink)
{
    std::vector<Location> locations;
    locations.push_back(std::move(location));
    return std::unique_ptr<PrefixRegistryKey>(
            new PrefixRegistryKey(std::move(store), std::move(locations), false, throughLink));
}

std::unique_ptr<PrefixRegistryKey>
PrefixRegistryKey::merged(std::shared_ptr<PrefixRegistryStore> store, Location user,
                          Location machine)
{
    std::vector<Location> locations;
    locations.push_back(std::move(user));
    locations.push_back(std::move(machine));
    return std::unique_ptr<PrefixRegistryKey>(
            new PrefixRegistryKey(std::move(store), std::move(locations), true, false));
}

const std::vector<PrefixRegistryKey::Place> &PrefixRegistryKey::places() const
{
    if (m_placesRevision == m_store->revision())
        return m_places;
    m_places.clear();
    for (std::size_t i = 0; i < m_locations.size(); ++i) {
        const Location &location = m_locations[i];
        Place place;
        if (!m_merged) {
            // A plain key names its key exactly; it is gone when that path no longer exists.
            place.hive = location.hive;
            place.throughLink = m_throughLink;
            if (location.hive != PrefixHive::UsersTop) {
                place.key = m_store->exactKey(location.hive, location.path);
                if (!place.key)
                    continue;
            }
        } else {
            const Place top{location.hive, &m_store->file(location.hive)->root(), false};
            if (!m_store->resolve(top, location.path, place))
                continue;
        }
        m_places.push_back(place);
    }
    m_placesRevision = m_store->revision();
    return m_places;
}

std::vector<std::u16string> PrefixRegistryKey::subkeyNames(const Place &place) const
{
    std::vector<std::u16string> names;
    if (place.hive == PrefixHive::UsersTop) {
        names = {u".Default", m_store->userSid()};
        std::sort(names.begin(), names.end(),
                  [](const auto &a, const auto &b) { return compareIgnoreCase(a, b) < 0; });
        return names;
    }
    names.reserve(place.key->subkeys.size());
    for (const auto &subkey : place.key->subkeys)
        names.push_back(subkey->name);
    return names;
}

// The names of both parts in order; where both have a name, the user's spelling stands.
const std::vector<PrefixRegistryKey::Entry> &PrefixRegistryKey::mergedSubkeys() const
{
    const std::vector<Place> &places = this->places();
    if (m_subkeysRevision == m_store->revision())
        return m_subkeys;
    m_subkeys.clear();
    for (std::size_t i = 0; i < places.size(); ++i) {
        for (std::u16string &name : subkeyNames(places[i]))
            m_subkeys.push_back({std::move(name), i});
    }
    std::stable_sort(m_subkeys.begin(), m_subkeys.end(), [](const Entry &a, const Entry &b) {
        return compareIgnoreCase(a.name, b.name) < 0;
    });
    m_subkeys.erase(std::unique(m_subkeys.begin(), m_subkeys.end(),
                                [](const Entry &a, const Entry &b) {
                                    return equalsIgnoreCase(a.name, b.name);
                                }),
                    m_subkeys.end());
    m_subkeysRevision = m_store->revision();
    return m_subkeys;
}

const std::vector<PrefixRegistryKey::Entry> &PrefixRegistryKey::mergedValues() const
{
    const std::vector<Place> &places = this->places();
    if (m_valuesRevision == m_store->revision())
        return m_values;
    m_values.clear();
    for (std::size_t i = 0; i < places.size(); ++i) {
        if (places[i].hive == PrefixHive::UsersTop)
            continue;
        for (const auto &value : m_store->file(places[i].hive)->values(*places[i].key))
            m_values.push_back({value.name, i});
    }
    std::stable_sort(m_values.begin(), m_values.end(), [](const Entry &a, const Entry &b) {
        return compareIgnoreCase(a.name, b.name) < 0;
    });
    m_values.erase(std::unique(m_values.begin(), m_values.end(),
                               [](const Entry &a, const Entry &b) {
                                   return equalsIgnoreCase(a.name, b.name);
                               }),
                   m_values.end());
    m_valuesRevision = m_store->revision();
    return m_values;
}

RegistryStatus PrefixRegistryKey::info(RegistryKeyInfo &info) const
{
    std::lock_guard lock(m_store->mutex());
    m_store->beginOperation();
    const std::vector<Place> &places = this->places();
    if (places.empty())
        return RegistryStatus::KeyDeleted;
    info = RegistryKeyInfo();
    if (!m_merged) {
        const Place &place = places.front();
        if (place.hive == PrefixHive::UsersTop) {
            for (const std::u16string &name : subkeyNames(place)) {
                ++info.subkeyCount;
                info.longestSubkeyName = std::max(info.longestSubkeyName, count(name.size()));
            }
            return RegistryStatus::Success;
        }
        info.subkeyCount = count(place.key->subkeys.size());
        for (const auto &subkey : place.key->subkeys)
            info.longestSubkeyName = std::max(info.longestSubkeyName, count(subkey->name.size()));
        const auto &values = m_store->file(place.hive)->values(*place.key);
        info.valueCount = count(values.size());
        for (const auto &value : values) {
            info.longestValueName = std::max(info.longestValueName, count(value.name.size()));
            info.longestValueData = std::max(info.longestValueData, count(value.value.data.size()));
        }
        info.lastWriteTime = place.key->time;
        return RegistryStatus::Success;
    }
    const std::vector<Entry> &subkeys = mergedSubkeys();
    info.subkeyCount = count(subkeys.size());
    for (const Entry &entry : subkeys)
        info.longestSubkeyName = std::max(info.longestSubkeyName, count(entry.name.size()));
    const std::vector<Entry> &values = mergedValues();
    info.valueCount = count(values.size());
    for (const Entry &entry : values) {
        const Place &place = places[entry.place];
        const auto *value = m_store->file(place.hive)->findValue(*place.key, entry.name);
        info.longestValueName = std::max(info.longestValueName, count(entry.name.size()));
        if (value)
            info.longestValueData =
                    std::max(info.longestValueData, count(value->value.data.size()));
    }
    for (const Place &place : places) {
        if (place.key)
            info.lastWriteTime = std::max(info.lastWriteTime, place.key->time);
    }
    return RegistryStatus::Success;
}

RegistryStatus PrefixRegistryKey::subkeyName(std::uint32_t index, std::u16string &name) const
{
    std::lock_guard lock(m_store->mutex());
    m_store->beginOperation();
    const std::vector<Place> &places = this->places();
    if (places.empty())
        return RegistryStatus::KeyDeleted;
    if (m_merged) {
        const std::vector<Entry> &subkeys = mergedSubkeys();
        if (index >= subkeys.size())
            return RegistryStatus::NoMoreItems;
        name = subkeys[index].name;
        return RegistryStatus::Success;
    }
    const Place &place = places.front();
    if (place.hive == PrefixHive::UsersTop) {
        const std::vector<std::u16string> names = subkeyNames(place);
        if (index >= names.size())
            return RegistryStatus::NoMoreItems;
        name = names[index];
        return RegistryStatus::Success;
    }
    if (index >= place.key->subkeys.size())
        return RegistryStatus::NoMoreItems;
    name = place.key->subkeys[index]->name;
    return RegistryStatus::Success;
}

RegistryStatus PrefixRegistryKey::valueAt(std::uint32_t index, std::u16string &name,
                                          RegistryValue *value) const
{
    std::lock_guard lock(m_store->mutex());
    m_store->beginOperation();
    const std::vector<Place> &places = this->places();
    if (places.empty())
        return RegistryStatus::KeyDeleted;
    const WineRegistryFile::Value *found = nullptr;
    if (m_merged) {
        const std::vector<Entry> &values = mergedValues();
        if (index >= values.size())
            return RegistryStatus::NoMoreItems;
        const Place &place = places[values[index].place];
        found = m_store->file(place.hive)->findValue(*place.key, values[index].name);
    } else {
        const Place &place = places.front();
        if (place.hive == PrefixHive::UsersTop)
            return RegistryStatus::NoMoreItems;
        const auto &values = m_store->file(place.hive)->values(*place.key);
        if (index >= values.size())
            return RegistryStatus::NoMoreItems;
        found = &values[index];
    }
    if (!found)
        return RegistryStatus::NoMoreItems;
    name = found->name;
    if (value)
        *value = found->value;
    return RegistryStatus::Success;
}

RegistryStatus PrefixRegistryKey::value(std::u16string_view name, RegistryValue &value) const
{
    std::lock_guard lock(m_store->mutex());
    m_store->beginOperation();
    const std::vector<Place> &places = this->places();
    if (places.empty())
        return RegistryStatus::KeyDeleted;
    // The user's part comes first in a merged key.
    for (const Place &place : places) {
        if (place.hive == PrefixHive::UsersTop)
            continue;
        if (const auto *found = m_store->file(place.hive)->findValue(*place.key, name)) {
            value = found->value;
            return RegistryStatus::Success;
        }
    }
    return RegistryStatus::FileNotFound;
}

RegistryStatus PrefixRegistryKey::open(std::u16string_view path,
                                       std::unique_ptr<RegistryKey> &key) const
{
    std::lock_guard lock(m_store->mutex());
    m_store->beginOperation();
    return openLocked(path, key);
}

RegistryStatus PrefixRegistryKey::openLocked(std::u16string_view path,
                                             std::unique_ptr<RegistryKey> &key) const
{
    const std::vector<std::u16string> names = PrefixRegistryStore::splitPath(path);
    if (m_merged) {
        std::vector<Location> locations = m_locations;
        for (Location &location : locations)
            location.path.insert(location.path.end(), names.begin(), names.end());
        auto opened = merged(m_store, std::move(locations[0]), std::move(locations[1]));
        if (opened->places().empty())
            return RegistryStatus::FileNotFound;
        key = std::move(opened);
        return RegistryStatus::Success;
    }
    const std::vector<Place> &places = this->places();
    if (places.empty())
        return RegistryStatus::KeyDeleted;
    Place place;
    if (!m_store->resolve(places.front(), names, place))
        return RegistryStatus::FileNotFound;
    Location location{place.hive, {}};
    if (place.key)
        location.path = PrefixRegistryStore::pathOf(*place.key);
    key = plain(m_store, std::move(location), m_throughLink || place.throughLink);
    return RegistryStatus::Success;
}

RegistryStatus PrefixRegistryKey::checkNames(const std::vector<std::u16string> &names)
{
    if (names.size() > WineRegistryFile::maximumDepth)
        return RegistryStatus::InvalidParameter;
    for (const std::u16string &name : names) {
        if (name.size() > maximumKeyNameLength)
            return RegistryStatus::InvalidParameter;
    }
    return RegistryStatus::Success;
}

RegistryStatus PrefixRegistryKey::create(std::u16string_view path,
                                         std::unique_ptr<RegistryKey> &key)
{
    std::lock_guard lock(m_store->mutex());
    m_store->beginOperation();
    const std::vector<std::u16string> names = PrefixRegistryStore::splitPath(path);
    if (const RegistryStatus status = checkNames(names); status != RegistryStatus::Success)
        return status;
    const std::vector<Place> &places = this->places();
    RegistryStatus status = RegistryStatus::Success;
    if (m_merged) {
        // New keys of a merged key go to the machine's part, as on Windows, unless the key exists
        // only in the user's part. When neither part exists yet, the machine's part is made on
        // the way.
        std::unique_ptr<RegistryKey> existing;
        if (openLocked(path, existing) == RegistryStatus::Success) {
            key = std::move(existing);
            return RegistryStatus::Success;
        }
        const Location &machine = m_locations.back();
        const Place machineTop{machine.hive, &m_store->file(machine.hive)->root(), false};
        Place machinePlace;
        if (m_store->resolve(machineTop, machine.path, machinePlace)) {
            status = createAt(machinePlace, names);
        } else {
            std::vector<std::u16string> fromTop = machine.path;
            fromTop.insert(fromTop.end(), names.begin(), names.end());
            status = createAt(machineTop, fromTop);
        }
    } else {
        if (places.empty())
            return RegistryStatus::KeyDeleted;
        status = createAt(places.front(), names);
    }
    if (status != RegistryStatus::Success)
        return status;
    return openLocked(path, key);
}

RegistryStatus PrefixRegistryKey::createAt(const Place &start,
                                           const std::vector<std::u16string> &names)
{
    Place current = start;
    std::size_t existing = 0;
    for (; existing < names.size(); ++existing) {
        Place next;
        if (!m_store->resolve(current, std::span(&names[existing], 1), next))
            break;
        current = next;
    }
    if (existing == names.size())
        return RegistryStatus::Success;
    if (current.hive == PrefixHive::UsersTop)
        return RegistryStatus::AccessDenied;
    // A name that exists but cannot be followed is a link that leads nowhere: nothing is
    // created below it.
    if (WineRegistryFile::subkey(*current.key, names[existing]))
        return RegistryStatus::AccessDenied;
    const PrefixHive hive = current.hive;
    const std::vector<std::u16string> base = PrefixRegistryStore::pathOf(*current.key);
    return m_store->change(hive, [&](WineRegistryFile &file, FileTime now) {
        Key *key = m_store->exactKey(hive, base);
        if (!key)
            return RegistryStatus::KeyDeleted;
        for (std::size_t i = existing; i < names.size(); ++i)
            key = &file.createSubkey(*key, names[i], now);
        return RegistryStatus::Success;
    });
}

RegistryStatus PrefixRegistryKey::setValue(std::u16string_view name, const RegistryValue &value)
{
    if (name.size() > maximumValueNameLength)
        return RegistryStatus::InvalidParameter;
    std::lock_guard lock(m_store->mutex());
    m_store->beginOperation();
    const std::vector<Place> &places = this->places();
    if (places.empty())
        return RegistryStatus::KeyDeleted;
    const Place target = places.front();
    if (target.hive == PrefixHive::UsersTop)
        return RegistryStatus::AccessDenied;
    const std::vector<std::u16string> path = PrefixRegistryStore::pathOf(*target.key);
    return m_store->change(target.hive, [&](WineRegistryFile &file, FileTime now) {
        Key *key = m_store->exactKey(target.hive, path);
        if (!key)
            return RegistryStatus::KeyDeleted;
        file.setValue(*key, name, value, now);
        return RegistryStatus::Success;
    });
}

RegistryStatus PrefixRegistryKey::deleteValue(std::u16string_view name)
{
    std::lock_guard lock(m_store->mutex());
    m_store->beginOperation();
    const std::vector<Place> &places = this->places();
    if (places.empty())
        return RegistryStatus::KeyDeleted;
    struct Target
    {
        PrefixHive hive;
        std::vector<std::u16string> path;
    };
    std::vector<Target> targets;
    for (const Place &place : places) {
        if (place.hive == PrefixHive::UsersTop ||
            !m_store->file(place.hive)->findValue(*place.key, name))
            continue;
        if (place.throughLink)
            return RegistryStatus::AccessDenied;
        targets.push_back({place.hive, PrefixRegistryStore::pathOf(*place.key)});
    }
    if (targets.empty())
        return RegistryStatus::FileNotFound;
    for (const Target &target : targets) {
        const RegistryStatus status =
                m_store->change(target.hive, [&](WineRegistryFile &file, FileTime now) {
                    Key *key = m_store->exactKey(target.hive, target.path);
                    if (!key)
                        return RegistryStatus::KeyDeleted;
                    return file.deleteValue(*key, name, now) ? RegistryStatus::Success
                                                             : RegistryStatus::FileNotFound;
                });
        if (status != RegistryStatus::Success)
            return status;
    }
    return RegistryStatus::Success;
}

RegistryStatus PrefixRegistryKey::deleteTarget(const Place &from,
                                               const std::vector<std::u16string> &names,
                                               Place &target) const
{
    // Nothing is deleted through a link: the link's target belongs elsewhere.
    if (from.throughLink)
        return RegistryStatus::AccessDenied;
    Place current = from;
    for (const std::u16string &name : names) {
        if (current.hive == PrefixHive::UsersTop) {
            Place next;
            if (!m_store->resolve(current, std::span(&name, 1), next))
                return RegistryStatus::FileNotFound;
            current = next;
            continue;
        }
        Key *subkey = WineRegistryFile::subkey(*current.key, name);
        if (!subkey)
            return RegistryStatus::FileNotFound;
        if (subkey->link)
            return RegistryStatus::AccessDenied;
        current.key = subkey;
    }
    if (current.hive == PrefixHive::UsersTop || !current.key->parent ||
        !current.key->subkeys.empty())
        return RegistryStatus::AccessDenied;
    target = current;
    return RegistryStatus::Success;
}

RegistryStatus PrefixRegistryKey::deleteKey(std::u16string_view path)
{
    std::lock_guard lock(m_store->mutex());
    m_store->beginOperation();
    const std::vector<std::u16string> names = PrefixRegistryStore::splitPath(path);
    const std::vector<Place> &places = this->places();
    if (places.empty())
        return RegistryStatus::KeyDeleted;
    struct Target
    {
        PrefixHive hive;
        std::vector<std::u16string> path;
    };
    std::vector<Target> targets;
    for (const Place &place : places) {
        Place target;
        const RegistryStatus status = deleteTarget(place, names, target);
        if (status == RegistryStatus::FileNotFound && m_merged)
            continue;
        if (status != RegistryStatus::Success)
            return status;
        targets.push_back({target.hive, PrefixRegistryStore::pathOf(*target.key)});
    }
    if (targets.empty())
        return RegistryStatus::FileNotFound;
    for (const Target &target : targets) {
        const RegistryStatus status =
                m_store->change(target.hive, [&](WineRegistryFile &file, FileTime now) {
                    Key *key = m_store->exactKey(target.hive, target.path);
                    if (!key)
                        return RegistryStatus::FileNotFound;
                    if (!key->parent || key->link || !key->subkeys.empty())
                        return RegistryStatus::AccessDenied;
                    file.deleteSubkey(*key->parent, *key, now);
                    return RegistryStatus::Success;
                });
        if (status != RegistryStatus::Success)
            return status;
    }
    return RegistryStatus::Success;
}

} // namespace platform
