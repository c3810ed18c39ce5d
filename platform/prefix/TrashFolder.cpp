#include "TrashFolder.h"

#include <cerrno>
#include <string_view>
#include <unordered_set>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

constexpr std::string_view infoSuffix = ".trashinfo";
constexpr const char *sizeCacheName = "directorysizes";

// What opening a folder gave: the folder, nothing there (which is not an error), or a failure.
struct OpenedFolder
{
    UniqueFd folder;
    bool failed = false;
};

// Errors that mean "no folder of ours here": missing, not a folder, or a link where a folder
// should be.
bool meansAbsent(int error)
{
    return error == ENOENT || error == ENOTDIR || error == ELOOP;
}

// Opens the subfolder `name` of `parent` for reading, never through a link.
OpenedFolder openSubfolder(int parent, const char *name)
{
    UniqueFd folder(::openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!folder.isValid())
        return {UniqueFd(), !meansAbsent(errno)};
    return {std::move(folder), false};
}

// The names in an open folder, without "." and ".."; empty when it cannot be read.
std::optional<std::vector<std::string>> listNames(int folder)
{
    const int copy = ::dup(folder);
    if (copy < 0)
        return std::nullopt;
    DIR *stream = ::fdopendir(copy);
    if (!stream) {
        ::close(copy);
        return std::nullopt;
    }
    // The copy shares its position with the original, which may have been listed before.
    ::rewinddir(stream);
    std::vector<std::string> names;
    bool failed = false;
    for (;;) {
        errno = 0;
        const dirent *entry = ::readdir(stream);
        if (!entry) {
            failed = errno != 0;
            break;
        }
        const std::string_view name = entry->d_name;
        if (name != "." && name != "..")
            names.emplace_back(name);
    }
    ::closedir(stream);
    if (failed)
        return std::nullopt;
    return names;
}

// Opens the folder that `status` describes as the entry `name` of `parent`, and only if that
// entry is still the same folder: something may have swapped it for a link since.
UniqueFd openSameFolder(int parent, const std::string &name, const struct stat &status)
{
    UniqueFd folder(
            ::openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat opened = {};
    if (!folder.isValid() || ::fstat(folder.get(), &opened) != 0 ||
        opened.st_dev != status.st_dev || opened.st_ino != status.st_ino)
        return UniqueFd();
    return folder;
}

// The bytes of an entry: a file's size, the sizes of all files below a folder of the same file
// system, zero for links and anything else.
std::uint64_t entryBytes(int parent, const std::string &name, const struct stat &status,
                         dev_t device)
{
    if (S_ISREG(status.st_mode))
        return static_cast<std::uint64_t>(status.st_size);
    if (!S_ISDIR(status.st_mode) || status.st_dev != device)
        return 0;
    const UniqueFd folder = openSameFolder(parent, name, status);
    if (!folder.isValid())
        return 0;
    const auto names = listNames(folder.get());
    if (!names)
        return 0;
    std::uint64_t bytes = 0;
    for (const std::string &child : *names) {
        struct stat childStatus = {};
        if (::fstatat(folder.get(), child.c_str(), &childStatus, AT_SYMLINK_NOFOLLOW) == 0)
            bytes += entryBytes(folder.get(), child, childStatus, device);
    }
    return bytes;
}

struct Removal
{
    std::uint64_t bytes = 0;
    bool complete = true;
};

// Removes the entry `name` of `parent`: a file or a link itself, or a folder with everything
// below it. It never descends through a link or into another file system; what it cannot remove
// stays and makes the removal incomplete.
void removeEntry(int parent, const std::string &name, dev_t device, Removal &removal)
{
    struct stat status = {};
    if (::fstatat(parent, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno != ENOENT)
            removal.complete = false;
        return;
    }
    if (!S_ISDIR(status.st_mode)) {
        if (::unlinkat(parent, name.c_str(), 0) == 0) {
            if (S_ISREG(status.st_mode))
                removal.bytes += static_cast<std::uint64_t>(status.st_size);
        } else if (errno != ENOENT) {
            removal.complete = false;
        }
        return;
    }
    if (status.st_dev != device) {
        removal.complete = false;
        return;
    }
    {
        const UniqueFd folder = openSameFolder(parent, name, status);
        const auto names = folder.isValid() ? listNames(folder.get()) : std::nullopt;
        if (!names) {
            removal.complete = false;
            return;
        }
        for (const std::string &child : *names)
            removeEntry(folder.get(), child, device, removal);
    }
    if (::unlinkat(parent, name.c_str(), AT_REMOVEDIR) != 0 && errno != ENOENT)
        removal.complete = false;
}

// The name of the entry that an info file describes; empty when it is no info file.
std::optional<std::string> describedName(int info, const std::string &infoName)
{
    if (infoName.size() <= infoSuffix.size() || !infoName.ends_with(infoSuffix))
        return std::nullopt;
    struct stat status = {};
    if (::fstatat(info, infoName.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISREG(status.st_mode))
        return std::nullopt;
    return infoName.substr(0, infoName.size() - infoSuffix.size());
}

int hexValue(char digit)
{
    if (digit >= '0' && digit <= '9')
        return digit - '0';
    if (digit >= 'a' && digit <= 'f')
        return digit - 'a' + 10;
    if (digit >= 'A' && digit <= 'F')
        return digit - 'A' + 10;
    return -1;
}

// Undoes %XX escapes; a "%" not followed by two hex digits stays as it is.
std::string percentDecoded(std::string_view text)
{
    std::string decoded;
    decoded.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size()) {
            const int high = hexValue(text[i + 1]);
            const int low = hexValue(text[i + 2]);
            if (high >= 0 && low >= 0) {
                decoded += static_cast<char>(high * 16 + low);
                i += 2;
                continue;
            }
        }
        decoded += text[i];
    }
    return decoded;
}

// The folder name a `directorysizes` line is about ("<bytes> <mtime> <escaped name>"); empty
// when the line has another shape.
std::optional<std::string> folderNameOfSizeLine(std::string_view line)
{
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
        line.remove_suffix(1);
    const std::size_t first = line.find(' ');
    if (first == std::string_view::npos)
        return std::nullopt;
    const std::size_t second = line.find(' ', first + 1);
    if (second == std::string_view::npos || second + 1 >= line.size())
        return std::nullopt;
    return percentDecoded(line.substr(second + 1));
}

std::optional<std::string> readAll(int file)
{
    std::string content;
    char buffer[65536];
    for (;;) {
        const ssize_t count = ::read(file, buffer, sizeof buffer);
        if (count < 0) {
            if (errno == EINTR)
                continue;
            return std::nullopt;
        }
        if (count == 0)
            return content;
        content.append(buffer, static_cast<std::size_t>(count));
    }
}

bool writeAll(int file, std::string_view content)
{
    while (!content.empty()) {
        const ssize_t count = ::write(file, content.data(), content.size());
        if (count < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        content.remove_prefix(static_cast<std::size_t>(count));
    }
    return true;
}

// Drops the lines of removed folders from the size cache, leaving every other byte as it was.
// The new content goes to a new file that then replaces the old one, so a reader never sees half
// a file. A cache that cannot be rewritten only keeps lines about names that no longer exist,
// which readers ignore.
void dropDirectorySizes(int trash, const std::unordered_set<std::string> &removedNames)
{
    if (removedNames.empty())
        return;
    const UniqueFd file(::openat(trash, sizeCacheName, O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    struct stat status = {};
    if (!file.isValid() || ::fstat(file.get(), &status) != 0 || !S_ISREG(status.st_mode))
        return;
    const auto content = readAll(file.get());
    if (!content)
        return;

    std::string kept;
    bool dropped = false;
    std::size_t start = 0;
    while (start < content->size()) {
        std::size_t end = content->find('\n', start);
        end = end == std::string::npos ? content->size() : end + 1;
        const std::string_view line = std::string_view(*content).substr(start, end - start);
        const auto name = folderNameOfSizeLine(line);
        if (name && removedNames.contains(*name))
            dropped = true;
        else
            kept += line;
        start = end;
    }
    if (!dropped)
        return;
    if (kept.empty()) {
        ::unlinkat(trash, sizeCacheName, 0);
        return;
    }

    const std::string temporaryName =
            std::string(sizeCacheName) + ".new-" + std::to_string(::getpid());
    const UniqueFd temporary(::openat(trash, temporaryName.c_str(),
                                      O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                                      status.st_mode & 0777));
    if (!temporary.isValid())
        return;
    if (!writeAll(temporary.get(), kept) || ::fsync(temporary.get()) != 0 ||
        ::renameat(trash, temporaryName.c_str(), trash, sizeCacheName) != 0)
        ::unlinkat(trash, temporaryName.c_str(), 0);
}

// The trash folder's two subfolders, or why they are not there.
struct Subfolders
{
    UniqueFd files;
    UniqueFd info;
    bool failed = false;
};

Subfolders openSubfolders(int trash)
{
    OpenedFolder files = openSubfolder(trash, "files");
    OpenedFolder info = openSubfolder(trash, "info");
    return {std::move(files.folder), std::move(info.folder), files.failed || info.failed};
}

} // namespace

TrashFolder::TrashFolder(State state, UniqueFd folder)
    : m_state(state)
    , m_folder(std::move(folder))
{}

TrashFolder TrashFolder::openHome(const std::string &path)
{
    UniqueFd folder(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.isValid())
        return TrashFolder(State::Open, std::move(folder));
    return TrashFolder(meansAbsent(errno) ? State::Absent : State::Unreadable, UniqueFd());
}

TrashFolder TrashFolder::openShared(const std::string &top, std::uint32_t userId)
{
    const UniqueFd topFolder(::open(top.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!topFolder.isValid())
        return TrashFolder(meansAbsent(errno) ? State::Absent : State::Unreadable, UniqueFd());
    const UniqueFd shared(
            ::openat(topFolder.get(), ".Trash", O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat status = {};
    if (!shared.isValid() || ::fstat(shared.get(), &status) != 0 || !S_ISDIR(status.st_mode) ||
        !(status.st_mode & S_ISVTX))
        return TrashFolder(State::Absent, UniqueFd());
    OpenedFolder own = openSubfolder(shared.get(), std::to_string(userId).c_str());
    if (!own.folder.isValid())
        return TrashFolder(own.failed ? State::Unreadable : State::Absent, UniqueFd());
    if (::fstat(own.folder.get(), &status) != 0 || status.st_uid != userId)
        return TrashFolder(State::Absent, UniqueFd());
    return TrashFolder(State::Open, std::move(own.folder));
}

TrashFolder TrashFolder::openPrivate(const std::string &top, std::uint32_t userId)
{
    const UniqueFd topFolder(::open(top.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!topFolder.isValid())
        return TrashFolder(meansAbsent(errno) ? State::Absent : State::Unreadable, UniqueFd());
    const std::string name = ".Trash-" + std::to_string(userId);
    OpenedFolder own = openSubfolder(topFolder.get(), name.c_str());
    if (!own.folder.isValid())
        return TrashFolder(own.failed ? State::Unreadable : State::Absent, UniqueFd());
    struct stat status = {};
    if (::fstat(own.folder.get(), &status) != 0 || status.st_uid != userId)
        return TrashFolder(State::Absent, UniqueFd());
    return TrashFolder(State::Open, std::move(own.folder));
}

std::optional<RecycleBinSize> TrashFolder::size() const
{
    if (m_state == State::Unreadable)
        return std::nullopt;
    RecycleBinSize size;
    if (m_state == State::Absent)
        return size;
    const Subfolders folders = openSubfolders(m_folder.get());
    if (folders.failed)
        return std::nullopt;
    if (!folders.files.isValid() || !folders.info.isValid())
        return size;
    struct stat filesStatus = {};
    const auto infoNames = listNames(folders.info.get());
    if (!infoNames || ::fstat(folders.files.get(), &filesStatus) != 0)
        return std::nullopt;

    for (const std::string &infoName : *infoNames) {
        const auto described = describedName(folders.info.get(), infoName);
        if (!described)
            continue;
        const std::string &name = *described;
        struct stat status = {};
        if (::fstatat(folders.files.get(), name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        ++size.items;
        size.bytes += entryBytes(folders.files.get(), name, status, filesStatus.st_dev);
    }
    return size;
}

RecycleBinEmptied TrashFolder::empty() const
{
    RecycleBinEmptied emptied;
    if (m_state != State::Open) {
        emptied.complete = m_state == State::Absent;
        return emptied;
    }
    const Subfolders folders = openSubfolders(m_folder.get());
    if (folders.failed) {
        emptied.complete = false;
        return emptied;
    }
    if (!folders.files.isValid() || !folders.info.isValid())
        return emptied;
    struct stat filesStatus = {};
    const auto infoNames = listNames(folders.info.get());
    if (!infoNames || ::fstat(folders.files.get(), &filesStatus) != 0) {
        emptied.complete = false;
        return emptied;
    }

    std::unordered_set<std::string> removedNames;
    for (const std::string &infoName : *infoNames) {
        const auto described = describedName(folders.info.get(), infoName);
        if (!described)
            continue;
        const std::string &name = *described;
        struct stat status = {};
        if (::fstatat(folders.files.get(), name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno != ENOENT)
                emptied.complete = false;
            continue;
        }
        Removal removal;
        removeEntry(folders.files.get(), name, filesStatus.st_dev, removal);
        emptied.bytesRemoved += removal.bytes;
        if (!removal.complete) {
            emptied.complete = false;
            continue;
        }
        // The entry is gone, so this is no item any more even if its info file stays behind.
        ++emptied.itemsRemoved;
        removedNames.insert(name);
        if (::unlinkat(folders.info.get(), infoName.c_str(), 0) != 0 && errno != ENOENT)
            emptied.complete = false;
    }
    dropDirectorySizes(m_folder.get(), removedNames);
    return emptied;
}

} // namespace platform
