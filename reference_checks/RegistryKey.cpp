#include "reference_checks/RegistryKey.h"

#include <platform/Machine.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace {

using platform::RegistryStatus;

// The deepest a key can lie below its hive; walks stop there, so a cycle of links in a damaged
// store cannot make them run for ever.
constexpr qsizetype maximumDepth = 512;

struct HiveName
{
    platform::RegistryHive hive;
    QLatin1StringView longName;
    QLatin1StringView shortName;
};

constexpr std::array knownHives = {
        HiveName{platform::RegistryHive::LocalMachine, QLatin1StringView("HKEY_LOCAL_MACHINE"),
                 QLatin1StringView("HKLM")},
        HiveName{platform::RegistryHive::CurrentUser, QLatin1StringView("HKEY_CURRENT_USER"),
                 QLatin1StringView("HKCU")},
        HiveName{platform::RegistryHive::ClassesRoot, QLatin1StringView("HKEY_CLASSES_ROOT"),
                 QLatin1StringView("HKCR")},
        HiveName{platform::RegistryHive::Users, QLatin1StringView("HKEY_USERS"),
                 QLatin1StringView("HKU")},
};

std::u16string wide(const QString &text)
{
    return text.toStdU16String();
}

QString qt(const std::u16string &text)
{
    return QString::fromStdU16String(text);
}

std::vector<std::u16string> subkeyNames(const platform::RegistryKey &key)
{
    std::vector<std::u16string> names;
    std::u16string name;
    for (std::uint32_t index = 0; key.subkeyName(index, name) == RegistryStatus::Success; ++index)
        names.push_back(name);
    return names;
}

std::vector<std::u16string> valueNames(const platform::RegistryKey &key)
{
    std::vector<std::u16string> names;
    std::u16string name;
    for (std::uint32_t index = 0; key.valueAt(index, name, nullptr) == RegistryStatus::Success;
         ++index)
        names.push_back(name);
    return names;
}

bool isGone(RegistryStatus status)
{
    return status == RegistryStatus::Success || status == RegistryStatus::FileNotFound ||
           status == RegistryStatus::KeyDeleted;
}

RegistryStatus deleteTree(platform::RegistryKey &key, qsizetype depth)
{
    RegistryStatus result = RegistryStatus::Success;
    const std::vector<std::u16string> names = subkeyNames(key);
    for (const std::u16string &name : names) {
        if (isWow64ViewName(qt(name)) || depth >= maximumDepth) {
            result = RegistryStatus::AccessDenied;
            continue;
        }
        std::unique_ptr<platform::RegistryKey> subkey;
        const RegistryStatus opened = key.open(name, subkey);
        const RegistryStatus status =
                opened == RegistryStatus::Success ? deleteTree(*subkey, depth + 1) : opened;
        if (!isGone(status))
            result = status;
    }
    const RegistryStatus deleted = key.deleteKey(u"");
    if (isGone(deleted))
        return RegistryStatus::Success;
    // The key stays (a subkey could not go, or it lies behind a link): its values go all the same
    // where they can.
    for (const std::u16string &name : valueNames(key)) {
        const RegistryStatus status = key.deleteValue(name);
        if (!isGone(status) && result == RegistryStatus::Success)
            result = status;
    }
    return result == RegistryStatus::Success ? deleted : result;
}

void collectValues(const platform::RegistryKey &key, const QString &prefix, qsizetype depth,
                   QStringList &names)
{
    for (const std::u16string &name : valueNames(key))
        names.append(prefix + qt(name));
    if (depth >= maximumDepth)
        return;
    for (const std::u16string &name : subkeyNames(key)) {
        const QString subkeyName = qt(name);
        if (isWow64ViewName(subkeyName))
            continue;
        std::unique_ptr<platform::RegistryKey> subkey;
        if (key.open(name, subkey) == RegistryStatus::Success)
            collectValues(*subkey, prefix + subkeyName + QLatin1Char('\\'), depth + 1, names);
    }
}

std::uint32_t littleEndian32(const std::vector<std::uint8_t> &data)
{
    return static_cast<std::uint32_t>(data[0]) | static_cast<std::uint32_t>(data[1]) << 8 |
           static_cast<std::uint32_t>(data[2]) << 16 | static_cast<std::uint32_t>(data[3]) << 24;
}

QStringList multiStrings(const std::vector<std::uint8_t> &data)
{
    QStringList strings;
    QString current;
    for (std::size_t i = 0; i + 1 < data.size(); i += 2) {
        const auto unit = static_cast<char16_t>(data[i] | (data[i + 1] << 8));
        if (unit != u'\0') {
            current.append(QChar(unit));
            continue;
        }
        // An empty string ends the list.
        if (current.isEmpty())
            return strings;
        strings.append(current);
        current.clear();
    }
    if (!current.isEmpty())
        strings.append(current);
    return strings;
}

QVariant variantOf(const platform::RegistryValue &value)
{
    const std::vector<std::uint8_t> &data = value.data;
    switch (value.type) {
    case platform::RegSz:
    case platform::RegExpandSz:
        return qt(platform::registryText(value));
    case platform::RegMultiSz:
        return multiStrings(data);
    case platform::RegDword:
        if (data.size() == 4)
            return static_cast<int>(littleEndian32(data));
        break;
    case platform::RegDwordBigEndian:
        if (data.size() == 4) {
            const std::vector<std::uint8_t> swapped(data.rbegin(), data.rend());
            return static_cast<int>(littleEndian32(swapped));
        }
        break;
    case platform::RegQword:
        if (data.size() == 8) {
            std::uint64_t number = 0;
            for (std::size_t i = 0; i < 8; ++i)
                number |= static_cast<std::uint64_t>(data[i]) << (8 * i);
            return static_cast<qlonglong>(number);
        }
        break;
    default:
        break;
    }
    return QByteArray(reinterpret_cast<const char *>(data.data()),
                      static_cast<qsizetype>(data.size()));
}

} // namespace

QString RegistryPath::text() const
{
    QString path = registryHiveName(hive);
    for (const QString &name : names)
        path += QLatin1Char('\\') + name;
    return path;
}

RegistryPath parseRegistryPath(const QString &path, HiveNames hiveNames)
{
    RegistryPath result;
    result.names = path.split(QLatin1Char('\\'), Qt::SkipEmptyParts);
    if (result.names.isEmpty())
        return result;
    const QString &first = result.names.constFirst();
    for (const HiveName &hive : knownHives) {
        if (first.compare(hive.longName, Qt::CaseInsensitive) == 0 ||
            (hiveNames == HiveNames::LongAndShort &&
             first.compare(hive.shortName, Qt::CaseInsensitive) == 0)) {
            result.hive = hive.hive;
            result.names.removeFirst();
            break;
        }
    }
    return result;
}

QString registryHiveName(platform::RegistryHive hive)
{
    for (const HiveName &name : knownHives) {
        if (name.hive == hive)
            return name.longName;
    }
    return {};
}

bool isWow64ViewName(const QString &name)
{
    return name.compare(QLatin1StringView("Wow6432Node"), Qt::CaseInsensitive) == 0;
}

platform::RegistryStatus deleteRegistryTree(platform::RegistryKey &key)
{
    return deleteTree(key, 0);
}

RegistryKey::RegistryKey(const QString &path)
    : m_path(parseRegistryPath(path))
{
    open(platform::Machine::current().registry());
}

RegistryKey::RegistryKey(const QString &path, platform::Registry &registry)
    : m_path(parseRegistryPath(path))
{
    open(registry);
}

RegistryKey::~RegistryKey() = default;

void RegistryKey::open(platform::Registry &registry)
{
    const RegistryStatus status = registry.open(m_path.hive, wide(m_path.subPath()), m_key);
    if (status != RegistryStatus::Success) {
        m_key.reset();
        m_lastError = status;
    }
}

bool RegistryKey::record(platform::RegistryStatus status)
{
    if (status == RegistryStatus::Success)
        return true;
    m_lastError = status;
    m_writeFailed = true;
    return false;
}

RegistryKey::Status RegistryKey::status() const
{
    platform::RegistryKeyInfo info;
    if (m_key && m_key->info(info) == RegistryStatus::Success)
        return NoError;
    return AccessError;
}

QStringList RegistryKey::childGroups() const
{
    QStringList names;
    if (!m_key)
        return names;
    for (const std::u16string &name : subkeyNames(*m_key)) {
        if (!isWow64ViewName(qt(name)))
            names.append(qt(name));
    }
    return names;
}

QStringList RegistryKey::childKeys() const
{
    QStringList names;
    if (!m_key)
        return names;
    for (const std::u16string &name : valueNames(*m_key))
        names.append(qt(name));
    return names;
}

QStringList RegistryKey::allKeys() const
{
    QStringList names;
    if (m_key)
        collectValues(*m_key, QString(), m_path.names.size(), names);
    return names;
}

QVariant RegistryKey::value(const QString &name, const QVariant &defaultValue) const
{
    platform::RegistryValue value;
    if (!m_key || m_key->value(wide(name), value) != RegistryStatus::Success)
        return defaultValue;
    return variantOf(value);
}

bool RegistryKey::setValue(const QString &name, const QString &text)
{
    if (!m_key)
        return record(m_lastError);
    return record(m_key->setString(wide(name), wide(text)));
}

bool RegistryKey::sync()
{
    const bool stored = !m_writeFailed;
    m_writeFailed = false;
    return stored;
}

bool RegistryKey::remove(const QString &name)
{
    if (!m_key)
        return record(m_lastError);
    if (name.isEmpty()) {
        // A hive's top never goes, and neither does everything in it at once.
        if (m_path.names.isEmpty())
            return record(RegistryStatus::AccessDenied);
        return record(deleteRegistryTree(*m_key));
    }
    const RegistryStatus valueDeleted = m_key->deleteValue(wide(name));
    const bool removed = record(isGone(valueDeleted) ? RegistryStatus::Success : valueDeleted);
    // A name with "\" is a value name only: key names cannot hold one.
    if (name.contains(QLatin1Char('\\')))
        return removed;
    std::unique_ptr<platform::RegistryKey> subkey;
    if (m_key->open(wide(name), subkey) != RegistryStatus::Success)
        return removed;
    if (isWow64ViewName(name))
        return record(RegistryStatus::AccessDenied);
    return record(deleteRegistryTree(*subkey)) && removed;
}

bool RegistryKey::clear()
{
    return remove(QString());
}
