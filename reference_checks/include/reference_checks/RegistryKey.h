#pragma once

#include <platform/Registry.h>

#include <QString>
#include <QStringList>
#include <QVariant>

#include <memory>

// Key paths name registry keys as one text: the hive's long name ("HKEY_LOCAL_MACHINE",
// "HKEY_CURRENT_USER", "HKEY_CLASSES_ROOT", "HKEY_USERS"), then the subkeys, joined with "\".
// Names compare without regard to case. A path that does not begin with a hive name lies under
// HKEY_LOCAL_MACHINE. Only "\" separates names: "/" is an ordinary character of key names (the
// MIME keys are named "text/plain" and the like).

// A key path taken apart: the hive and the names below it (empty names left out).
struct RegistryPath
{
    platform::RegistryHive hive = platform::RegistryHive::LocalMachine;
    QStringList names;

    // The path below the hive, names joined with "\".
    QString subPath() const { return names.join(QLatin1Char('\\')); }

    // The whole path, from the hive's long name down.
    QString text() const;

    bool operator==(const RegistryPath &) const = default;
};

// Whether the short hive names (HKLM, HKCU, HKCR, HKU) are accepted besides the long ones.
enum class HiveNames { LongOnly, LongAndShort };

// Takes a key path apart. A path without a hive name lies under HKEY_LOCAL_MACHINE; with
// HiveNames::LongOnly a leading "HKLM" is therefore the name of a key under it.
RegistryPath parseRegistryPath(const QString &path, HiveNames hiveNames = HiveNames::LongOnly);

// The long name of a hive, "HKEY_LOCAL_MACHINE" and so on.
QString registryHiveName(platform::RegistryHive hive);

// The 32-bit view's key name. Listings leave such keys out and deletions of whole keys never
// enter them (a key named explicitly in a path is opened like any other).
bool isWow64ViewName(const QString &name);

// Deletes a key with everything below it: the subkeys depth first, each after its contents, then
// the key itself with its values. Keys named like the 32-bit view are not entered and links are
// never deleted through (the store refuses); what can go, goes. When the key cannot go, its
// values are deleted all the same. Success when the key is gone.
platform::RegistryStatus deleteRegistryTree(platform::RegistryKey &key);

// One registry key, named by a key path, through the machine's registry store. The object opens
// the key when it is made and never creates it. Reads of a key that is not open give nothing;
// writes are stored at once and report whether they were.
//
// Value names are taken literally (they may contain "\", as file paths do); the default value
// has the empty name and is listed as "" by childKeys() when it is set.
class RegistryKey final
{
public:
    enum Status {
        NoError,     // the key exists and is open
        AccessError, // the key does not exist (any more) or could not be opened
    };

    // Opens a key of the current machine's registry.
    explicit RegistryKey(const QString &path);

    // Opens a key of the given registry, which must outlive the object.
    RegistryKey(const QString &path, platform::Registry &registry);

    ~RegistryKey();
    RegistryKey(const RegistryKey &) = delete;
    RegistryKey &operator=(const RegistryKey &) = delete;

    // The path the key was opened with, from the hive's long name down.
    QString path() const { return m_path.text(); }

    // NoError while the key exists and is open; AccessError when it could not be opened or has
    // been deleted since.
    Status status() const;

    // The names of the direct subkeys, in the registry's order (alphabetical without regard to
    // case), without the 32-bit view's key.
    QStringList childGroups() const;

    // The names of the key's values, in the registry's order; "" for a default value that is set.
    QStringList childKeys() const;

    // The names of all values in and below the key, as paths relative to the key: a value of
    // the key itself by its name, one of a subkey as "Sub\Name" ("Sub\" for the subkey's default
    // value). The 32-bit view's keys are not entered.
    QStringList allKeys() const;

    // A value of the key: a QString for REG_SZ and REG_EXPAND_SZ (not expanded), a QStringList
    // for REG_MULTI_SZ, an int for REG_DWORD (and REG_DWORD_BIG_ENDIAN), a qlonglong for
    // REG_QWORD, the bytes as QByteArray for every other type. defaultValue when there is no
    // such value or the key is not open, so toString() is "" and toInt() 0 for a missing value
    // read with an empty default.
    QVariant value(const QString &name, const QVariant &defaultValue = QVariant()) const;

    // Stores a string value (REG_SZ), replacing one of the same name. True when it was stored.
    bool setValue(const QString &name, const QString &text);

    // True when every write since the last sync() (or since the key was opened) was stored.
    // Writes are stored at once; this only reports.
    bool sync();

    // Deletes the value of that name and the subkey of that name with everything under it. An
    // empty name deletes every value and subkey of the key and the key itself. True when
    // nothing of that name is left (also when there was nothing to delete); false when the key is
    // not open.
    bool remove(const QString &name);

    // The same as remove(""): the key goes with everything in it.
    bool clear();

    // The result of the last operation that failed, for telling why; Success when none did.
    platform::RegistryStatus lastError() const { return m_lastError; }

private:
    void open(platform::Registry &registry);
    bool record(platform::RegistryStatus status);

    RegistryPath m_path;
    std::unique_ptr<platform::RegistryKey> m_key;
    platform::RegistryStatus m_lastError = platform::RegistryStatus::Success;
    bool m_writeFailed = false;
};
