#pragma once

#include "RegistryServerGuard.h"
#include "WineRegistryFile.h"

#include <platform/Registry.h>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

namespace platform {

// Where a key lies in a prefix: one of the three registry files, or the top of HKEY_USERS, which
// no file holds (its subkeys are the tops of user.reg and userdef.reg).
enum class PrefixHive : std::uint8_t { Machine, User, DefaultUser, UsersTop };

// The registry files of a Wine prefix, shared by the store and its open keys. Each file is read
// when first needed and read again when it changes on disk. A change is written at once: to a
// temporary file in the prefix, flushed and renamed over the file, and only when nobody else
// changed the file since it was read; otherwise the change is made again on the new content.
//
// Callers hold mutex() for each operation and call beginOperation() first.
class PrefixRegistryStore final
{
public:
    using Key = WineRegistryFile::Key;

    // A key found by path: the file it is in and whether a link was followed to reach it. key is
    // null for the top of HKEY_USERS.
    struct Place
    {
        PrefixHive hive = PrefixHive::Machine;
        Key *key = nullptr;
        bool throughLink = false;
    };

    PrefixRegistryStore(std::string prefixPath, std::string serverRoot);

    std::mutex &mutex() { return m_mutex; }

    // Starts an operation: each file is checked for changes on disk and read again if needed.
    void beginOperation();

    // Changes with every change of the tree (a change made here or a file read again). Key
    // pointers and anything derived from them are valid only while it stays the same; within an
    // operation only change() changes it.
    std::uint64_t revision() const { return m_revision; }

    // The file of a hive, current; null for the top of HKEY_USERS.
    WineRegistryFile *file(PrefixHive hive);

    // The current user's SID, the name of user.reg's branch under HKEY_USERS.
    std::u16string userSid();

    // Follows a path from a place, following links on the way as Windows does. False when a
    // name is missing or a link leads nowhere.
    bool resolve(const Place &from, std::span<const std::u16string> path, Place &place);

    // The names from a file's top down to a key.
    static std::vector<std::u16string> pathOf(const Key &key);

    // The key at a path of names in a file, taken exactly as stored (links are not followed).
    Key *exactKey(PrefixHive hive, std::span<const std::u16string> path);

    // Makes a change to one file and writes it. change gets the file and the time of the change;
    // it must find its keys again by path and change nothing when it reports a failure.
    RegistryStatus
    change(PrefixHive hive,
           const std::function<RegistryStatus(WineRegistryFile &, FileTime)> &change);

    RegistryWritability writability();

    // Splits a key path at backslashes, leaving out empty names.
    static std::vector<std::u16string> splitPath(std::u16string_view path);

private:
    struct FileStamp
    {
        bool exists = false;
        bool link = false;
        bool regular = false;
        unsigned long long device = 0;
        unsigned long long inode = 0;
        long long size = 0;
        long long modifiedSeconds = 0;
        long long modifiedNanoseconds = 0;
        long long changedSeconds = 0;
        long long changedNanoseconds = 0;
        unsigned mode = 0;
        unsigned long links = 0;
        unsigned owner = 0;
        unsigned group = 0;

        bool sameFile(const FileStamp &other) const;
    };

    struct HiveFile
    {
        std::string path;
        std::u16string branch; // the name Wine gives the branch, for the header of a new file
        WineRegistryFile file;
        FileStamp stamp;
        bool loaded = false;
        std::uint64_t checkedInOperation = 0;
        RegistryReadOnlyReason problem = RegistryReadOnlyReason::None;
    };

    enum class WriteResult { Written, Conflict, Failed };

    HiveFile &hiveFile(PrefixHive hive);
    void refresh(HiveFile &hive);
    void load(HiveFile &hive);
    WriteResult write(HiveFile &hive, const std::string &text);
    static FileStamp stampOf(const std::string &path);
    bool resolveLinkTarget(std::u16string_view target, Place &place,
                           std::vector<std::u16string> &rest);

    std::mutex m_mutex;
    std::string m_prefixPath;
    RegistryServerGuard m_serverGuard;
    std::array<std::unique_ptr<HiveFile>, 3> m_hives;
    std::uint64_t m_operation = 0;
    std::uint64_t m_revision = 1;
};

} // namespace platform
