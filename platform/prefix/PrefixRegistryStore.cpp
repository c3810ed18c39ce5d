#include "PrefixRegistryStore.h"

#include "UniqueFd.h"

#include <platform/Text.h>

#include <cerrno>
#include <ctime>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

// Links lead to links only this often; more means a cycle.
constexpr int maximumLinkHops = 16;

constexpr std::u16string_view defaultUserSid = u"S-1-5-21-0-0-0-1000";

FileTime currentTime()
{
    timespec now = {};
    clock_gettime(CLOCK_REALTIME, &now);
    return fileTimeUnixEpoch + static_cast<FileTime>(now.tv_sec) * fileTimeTicksPerSecond +
           static_cast<FileTime>(now.tv_nsec) / 100;
}

bool readWholeFile(int fd, std::string &text)
{
    struct stat info = {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode))
        return false;
    text.clear();
    text.reserve(static_cast<std::size_t>(info.st_size) + 1);
    char buffer[65536];
    while (true) {
        const ssize_t count = ::read(fd, buffer, sizeof buffer);
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0)
            return false;
        if (count == 0)
            return true;
        text.append(buffer, static_cast<std::size_t>(count));
    }
}

bool writeAll(int fd, std::string_view text)
{
    while (!text.empty()) {
        const ssize_t count = ::write(fd, text.data(), text.size());
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            return false;
        text.remove_prefix(static_cast<std::size_t>(count));
    }
    return true;
}

} // namespace

bool PrefixRegistryStore::FileStamp::sameFile(const FileStamp &other) const
{
    return exists == other.exists && link == other.link && device == other.device &&
           inode == other.inode && size == other.size && modifiedSeconds == other.modifiedSeconds &&
           modifiedNanoseconds == other.modifiedNanoseconds &&
           changedSeconds == other.changedSeconds && changedNanoseconds == other.changedNanoseconds;
}

PrefixRegistryStore::PrefixRegistryStore(std::string prefixPath, std::string serverRoot)
    : m_prefixPath(std::move(prefixPath))
    , m_serverGuard(m_prefixPath, std::move(serverRoot))
{
    const struct
    {
        const char *name;
        std::u16string branch;
    } files[] = {
            {"system.reg", u"REGISTRY\\Machine"},
            {"user.reg", u"REGISTRY\\User\\" + std::u16string(defaultUserSid)},
            {"userdef.reg", u"REGISTRY\\User\\.Default"},
    };
    for (std::size_t i = 0; i < m_hives.size(); ++i) {
        m_hives[i] = std::make_unique<HiveFile>();
        m_hives[i]->path = m_prefixPath + "/" + files[i].name;
        m_hives[i]->branch = files[i].branch;
    }
}

void PrefixRegistryStore::beginOperation()
{
    ++m_operation;
    // Checking every file now keeps revision() true for the whole operation.
    for (const PrefixHive hive : {PrefixHive::Machine, PrefixHive::User, PrefixHive::DefaultUser})
        file(hive);
}

PrefixRegistryStore::HiveFile &PrefixRegistryStore::hiveFile(PrefixHive hive)
{
    return *m_hives[static_cast<std::size_t>(hive)];
}

WineRegistryFile *PrefixRegistryStore::file(PrefixHive hive)
{
    if (hive == PrefixHive::UsersTop)
        return nullptr;
    HiveFile &hiveFile = this->hiveFile(hive);
    if (hiveFile.checkedInOperation != m_operation) {
        hiveFile.checkedInOperation = m_operation;
        refresh(hiveFile);
    }
    return &hiveFile.file;
}

PrefixRegistryStore::FileStamp PrefixRegistryStore::stampOf(const std::string &path)
{
    FileStamp stamp;
    struct stat info = {};
    if (::lstat(path.c_str(), &info) != 0)
        return stamp;
    stamp.exists = true;
    if (S_ISLNK(info.st_mode)) {
        stamp.link = true;
        if (::stat(path.c_str(), &info) != 0)
            return stamp;
    }
    stamp.regular = S_ISREG(info.st_mode);
    stamp.device = static_cast<unsigned long long>(info.st_dev);
    stamp.inode = static_cast<unsigned long long>(info.st_ino);
    stamp.size = static_cast<long long>(info.st_size);
    stamp.modifiedSeconds = static_cast<long long>(info.st_mtim.tv_sec);
    stamp.modifiedNanoseconds = static_cast<long long>(info.st_mtim.tv_nsec);
    stamp.changedSeconds = static_cast<long long>(info.st_ctim.tv_sec);
    stamp.changedNanoseconds = static_cast<long long>(info.st_ctim.tv_nsec);
    stamp.mode = static_cast<unsigned>(info.st_mode);
    stamp.links = static_cast<unsigned long>(info.st_nlink);
    stamp.owner = static_cast<unsigned>(info.st_uid);
    stamp.group = static_cast<unsigned>(info.st_gid);
    return stamp;
}

void PrefixRegistryStore::refresh(HiveFile &hive)
{
    if (hive.loaded && stampOf(hive.path).sameFile(hive.stamp))
        return;
    load(hive);
}

void PrefixRegistryStore::load(HiveFile &hive)
{
    hive.loaded = true;
    hive.problem = RegistryReadOnlyReason::None;
    ++m_revision;
    // The stamp is taken before reading: should the file change meanwhile, the next check sees a
    // different stamp and reads it again.
    hive.stamp = stampOf(hive.path);
    if (!hive.stamp.exists) {
        const HiveFile &machine = *m_hives[0];
        const std::string_view arch =
                &machine != &hive && machine.loaded && !machine.file.arch().empty()
                        ? machine.file.arch()
                        : std::string_view("win64");
        hive.file.makeEmpty(hive.branch, arch);
        return;
    }
    std::string text;
    const UniqueFd fd(::open(hive.path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd.isValid() || !readWholeFile(fd.get(), text)) {
        hive.file.load(std::string(), currentTime());
        hive.problem = RegistryReadOnlyReason::DamagedFile;
        return;
    }
    if (!hive.file.load(std::move(text), currentTime())) {
        hive.problem = RegistryReadOnlyReason::DamagedFile;
        return;
    }
    // Replacing a link or a file with several names would cut it off from its other names.
    if (hive.stamp.link || hive.stamp.links > 1 || !hive.stamp.regular)
        hive.problem = RegistryReadOnlyReason::UnsafeFile;
}

std::u16string PrefixRegistryStore::userSid()
{
    const std::u16string branch = file(PrefixHive::User)->rootName();
    const std::vector<std::u16string> names = splitPath(branch);
    if (names.size() == 3 && equalsIgnoreCase(names[0], u"REGISTRY") &&
        equalsIgnoreCase(names[1], u"User"))
        return names[2];
    return std::u16string(defaultUserSid);
}

std::vector<std::u16string> PrefixRegistryStore::splitPath(std::u16string_view path)
{
    std::vector<std::u16string> names;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find(u'\\', start);
        if (end == std::u16string_view::npos)
            end = path.size();
        if (end > start)
            names.emplace_back(path.substr(start, end - start));
        start = end + 1;
    }
    return names;
}

std::vector<std::u16string> PrefixRegistryStore::pathOf(const Key &key)
{
    std::vector<std::u16string> path;
    for (const Key *current = &key; current->parent; current = current->parent)
        path.push_back(current->name);
    return {path.rbegin(), path.rend()};
}

PrefixRegistryStore::Key *PrefixRegistryStore::exactKey(PrefixHive hive,
                                                        std::span<const std::u16string> path)
{
    WineRegistryFile *file = this->file(hive);
    if (!file)
        return nullptr;
    Key *key = &file->root();
    for (const std::u16string &name : path) {
        key = WineRegistryFile::subkey(*key, name);
        if (!key)
            return nullptr;
    }
    return key;
}

bool PrefixRegistryStore::resolveLinkTarget(std::u16string_view target, Place &place,
                                            std::vector<std::u16string> &rest)
{
    std::vector<std::u16string> names = splitPath(target);
    if (names.size() < 2 || !equalsIgnoreCase(names[0], u"Registry"))
        return false;
    if (equalsIgnoreCase(names[1], u"Machine")) {
        place = {PrefixHive::Machine, &file(PrefixHive::Machine)->root(), false};
    } else if (equalsIgnoreCase(names[1], u"User")) {
        place = {PrefixHive::UsersTop, nullptr, false};
    } else {
        return false;
    }
    rest.assign(std::make_move_iterator(names.begin() + 2), std::make_move_iterator(names.end()));
    return true;
}

bool PrefixRegistryStore::resolve(const Place &from, std::span<const std::u16string> path,
                                  Place &place)
{
    Place current = from;
    std::vector<std::u16string> followed; // the rest of the path once a link was followed
    int hops = 0;
    std::size_t index = 0;
    while (index < path.size()) {
        const std::u16string &name = path[index];
        if (current.hive == PrefixHive::UsersTop) {
            if (equalsIgnoreCase(name, u".Default"))
                current.hive = PrefixHive::DefaultUser;
            else if (equalsIgnoreCase(name, userSid()))
                current.hive = PrefixHive::User;
            else
                return false;
            current.key = &file(current.hive)->root();
            ++index;
            continue;
        }
        Key *subkey = WineRegistryFile::subkey(*current.key, name);
        if (!subkey)
            return false;
        if (!subkey->link) {
            current.key = subkey;
            ++index;
            continue;
        }
        if (++hops > maximumLinkHops)
            return false;
        Place target;
        std::vector<std::u16string> rest;
        if (!resolveLinkTarget(file(current.hive)->linkTarget(*subkey), target, rest))
            return false;
        rest.insert(rest.end(), path.begin() + static_cast<std::ptrdiff_t>(index) + 1, path.end());
        followed = std::move(rest);
        path = followed;
        index = 0;
        current = target;
        current.throughLink = true;
    }
    place = current;
    return true;
}

RegistryStatus PrefixRegistryStore::change(
        PrefixHive hive, const std::function<RegistryStatus(WineRegistryFile &, FileTime)> &change)
{
    if (hive == PrefixHive::UsersTop || m_serverGuard.runningServer() != 0)
        return RegistryStatus::AccessDenied;
    file(hive);
    HiveFile &hiveFile = this->hiveFile(hive);
    // Someone else's change found while writing is read, and the change made again on it.
    for (int attempt = 0; attempt < 4; ++attempt) {
        if (hiveFile.problem != RegistryReadOnlyReason::None || hiveFile.file.rejected())
            return RegistryStatus::AccessDenied;
        const RegistryStatus status = change(hiveFile.file, currentTime());
        if (status != RegistryStatus::Success)
            return status;
        const std::string text = hiveFile.file.save();
        ++m_revision;
        const WriteResult result = write(hiveFile, text);
        if (result == WriteResult::Written)
            return RegistryStatus::Success;
        load(hiveFile);
        if (result == WriteResult::Failed)
            return RegistryStatus::RegistryIoFailed;
    }
    return RegistryStatus::RegistryIoFailed;
}

PrefixRegistryStore::WriteResult PrefixRegistryStore::write(HiveFile &hive, const std::string &text)
{
    std::string temporary = hive.path + ".tmp-XXXXXX";
    const UniqueFd fd(::mkostemp(temporary.data(), O_CLOEXEC));
    if (!fd.isValid())
        return WriteResult::Failed;
    const auto fail = [&] {
        ::unlink(temporary.c_str());
        return WriteResult::Failed;
    };
    if (!writeAll(fd.get(), text))
        return fail();
    if (hive.stamp.exists) {
        if (::getuid() == 0) // keep a prefix owned by its user when the root user cleans it
            (void)!::fchown(fd.get(), hive.stamp.owner, hive.stamp.group);
        if (::fchmod(fd.get(), hive.stamp.mode & 07777) != 0)
            return fail();
    } else if (::fchmod(fd.get(), 0644) != 0) {
        return fail();
    }
    if (::fsync(fd.get()) != 0)
        return fail();
    if (!stampOf(hive.path).sameFile(hive.stamp)) {
        ::unlink(temporary.c_str());
        return WriteResult::Conflict;
    }
    if (::rename(temporary.c_str(), hive.path.c_str()) != 0)
        return fail();
    const UniqueFd folder(::open(m_prefixPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.isValid())
        ::fsync(folder.get());
    hive.stamp = stampOf(hive.path);
    return WriteResult::Written;
}

RegistryWritability PrefixRegistryStore::writability()
{
    if (const long server = m_serverGuard.runningServer())
        return {RegistryReadOnlyReason::ServerRunning, std::to_string(server)};
    for (const PrefixHive hive : {PrefixHive::Machine, PrefixHive::User, PrefixHive::DefaultUser}) {
        file(hive);
        const HiveFile &hiveFile = this->hiveFile(hive);
        if (hiveFile.problem != RegistryReadOnlyReason::None)
            return {hiveFile.problem, hiveFile.path};
    }
    return {};
}

} // namespace platform
