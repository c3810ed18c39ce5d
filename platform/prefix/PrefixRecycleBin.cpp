#include "PrefixRecycleBin.h"

#include "TrashFolder.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <set>
#include <string_view>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

std::string joinPath(const std::string &folder, std::string_view name)
{
    std::string path = folder;
    if (path.empty() || path.back() != '/')
        path += '/';
    path += name;
    return path;
}

std::string parentOf(const std::string &path)
{
    const std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos || slash == 0)
        return "/";
    return path.substr(0, slash);
}

std::optional<std::string> realPath(const std::string &path)
{
    char *resolved = ::realpath(path.c_str(), nullptr);
    if (!resolved)
        return std::nullopt;
    std::string result = resolved;
    std::free(resolved);
    return result;
}

// The real path of the deepest existing folder on the way to a path, so that a trash folder not
// made yet still lies on the mount where it will be made.
std::optional<std::string> realPathOfExisting(std::string path)
{
    for (;;) {
        if (auto resolved = realPath(path))
            return resolved;
        if (path.empty() || path == "/" || path.front() != '/')
            return std::nullopt;
        path = parentOf(path);
    }
}

// True when `path` is `top` or lies below it; both are canonical absolute paths.
bool liesBelow(std::string_view path, std::string_view top)
{
    if (top == "/")
        return true;
    return path.starts_with(top) && (path.size() == top.size() || path[top.size()] == '/');
}

// Undoes the octal escapes (\040 for a space) of a mount point in the mount table.
std::string unescapedMountPoint(std::string_view text)
{
    std::string result;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 3 < text.size()) {
            const std::string_view digits = text.substr(i + 1, 3);
            if (digits.find_first_not_of("01234567") == std::string_view::npos) {
                result += static_cast<char>((digits[0] - '0') * 64 + (digits[1] - '0') * 8 +
                                            (digits[2] - '0'));
                i += 3;
                continue;
            }
        }
        result += text[i];
    }
    return result;
}

// The mount points of a mountinfo table; empty when it cannot be read.
std::optional<std::vector<std::string>> mountPoints(const std::string &mountTable)
{
    std::ifstream table(mountTable);
    if (!table)
        return std::nullopt;
    std::vector<std::string> points;
    std::string line;
    while (std::getline(table, line)) {
        // Fields: mount id, parent id, major:minor, root, mount point, ...
        std::size_t start = 0;
        for (int field = 0; field < 4 && start != std::string::npos; ++field) {
            start = line.find(' ', start);
            if (start != std::string::npos)
                ++start;
        }
        if (start == std::string::npos)
            continue;
        const std::size_t end = line.find(' ', start);
        std::string point = unescapedMountPoint(
                std::string_view(line).substr(start, end == std::string::npos ? end : end - start));
        if (!point.empty() && point.front() == '/')
            points.push_back(std::move(point));
    }
    return points;
}

// The top of the mount holding a canonical path: the deepest mount point above it that lies on
// the same device (a mount hidden by a later one usually does not), or, without a mount table,
// the highest folder above it on the same device.
std::optional<std::string> mountTop(const std::string &path,
                                    const std::optional<std::vector<std::string>> &points)
{
    struct stat status = {};
    if (::stat(path.c_str(), &status) != 0)
        return std::nullopt;
    if (points) {
        std::vector<const std::string *> candidates;
        for (const std::string &point : *points) {
            if (liesBelow(path, point))
                candidates.push_back(&point);
        }
        std::stable_sort(
                candidates.begin(), candidates.end(),
                [](const std::string *a, const std::string *b) { return a->size() > b->size(); });
        for (const std::string *point : candidates) {
            struct stat pointStatus = {};
            if (::stat(point->c_str(), &pointStatus) == 0 && pointStatus.st_dev == status.st_dev)
                return *point;
        }
    }
    std::string top = path;
    while (top != "/") {
        const std::string parent = parentOf(top);
        struct stat parentStatus = {};
        if (::stat(parent.c_str(), &parentStatus) != 0 || parentStatus.st_dev != status.st_dev)
            break;
        top = parent;
    }
    return top;
}

// The drive letter of a root such as "C:\", "c:" or "C:/"; 0 when it is no drive root.
char16_t rootLetter(std::u16string_view root)
{
    if (root.size() < 2 || root.size() > 3 || root[1] != u':')
        return 0;
    if (root.size() == 3 && root[2] != u'\\' && root[2] != u'/')
        return 0;
    const char16_t letter = root[0];
    if (letter >= u'a' && letter <= u'z')
        return static_cast<char16_t>(letter - u'a' + u'A');
    if (letter >= u'A' && letter <= u'Z')
        return letter;
    return 0;
}

std::string homeFromPasswordDatabase()
{
    if (const passwd *entry = ::getpwuid(::getuid()); entry && entry->pw_dir)
        return entry->pw_dir;
    return {};
}

} // namespace

TrashEnvironment TrashEnvironment::fromProcess()
{
    TrashEnvironment environment;
    const char *home = std::getenv("HOME");
    environment.home = home && *home ? std::string(home) : homeFromPasswordDatabase();
    if (const char *dataHome = std::getenv("XDG_DATA_HOME"))
        environment.dataHome = dataHome;
    environment.userId = ::getuid();
    return environment;
}

std::string TrashEnvironment::homeTrash() const
{
    // A relative XDG_DATA_HOME is invalid and must be ignored, like an empty one.
    if (!dataHome.empty() && dataHome.front() == '/')
        return joinPath(dataHome, "Trash");
    if (!home.empty() && home.front() == '/')
        return joinPath(home, ".local/share/Trash");
    return {};
}

PrefixRecycleBin::PrefixRecycleBin(std::vector<Drive> drives, TrashEnvironment environment)
    : m_drives(std::move(drives))
    , m_environment(std::move(environment))
{}

std::optional<std::vector<PrefixRecycleBin::Location>>
PrefixRecycleBin::locationsOf(const Drive &drive) const
{
    if (drive.type != DriveType::Fixed || drive.hostFolder.empty())
        return std::nullopt;
    const auto folder = realPath(drive.hostFolder);
    if (!folder)
        return std::nullopt;
    const auto points = mountPoints(m_environment.mountTable);
    const auto top = mountTop(*folder, points);
    if (!top)
        return std::nullopt;
    const std::string homeTrash = m_environment.homeTrash();
    const std::vector<Location> home{{Location::Kind::Home, homeTrash}};
    if (!homeTrash.empty()) {
        const auto homeFolder = realPathOfExisting(homeTrash);
        if (homeFolder && mountTop(*homeFolder, points) == top)
            return home;
    }
    std::vector<Location> mountTrash{{Location::Kind::Shared, *top},
                                     {Location::Kind::Private, *top}};
    // Wine moves what a program deletes on any drive into the home trash, so a mount without a
    // trash folder of its own has its deleted files there.
    const bool mountHasTrash =
            std::any_of(mountTrash.begin(), mountTrash.end(), [&](const Location &location) {
                return location.open(m_environment.userId).exists();
            });
    if (!mountHasTrash && !homeTrash.empty())
        return home;
    return mountTrash;
}

std::string PrefixRecycleBin::Location::folder(std::uint32_t userId) const
{
    switch (kind) {
    case Kind::Home:
        return path;
    case Kind::Shared:
        return joinPath(path, ".Trash/" + std::to_string(userId));
    case Kind::Private:
        break;
    }
    return joinPath(path, ".Trash-" + std::to_string(userId));
}

TrashFolder PrefixRecycleBin::Location::open(std::uint32_t userId) const
{
    switch (kind) {
    case Kind::Home:
        return TrashFolder::openHome(path);
    case Kind::Shared:
        return TrashFolder::openShared(path, userId);
    case Kind::Private:
        break;
    }
    return TrashFolder::openPrivate(path, userId);
}

std::optional<RecycleBinQuery> PrefixRecycleBin::query(std::u16string_view root) const
{
    const char16_t letter = rootLetter(root);
    const auto drive = std::find_if(m_drives.begin(), m_drives.end(), [&](const Drive &candidate) {
        return candidate.letter == letter;
    });
    if (letter == 0 || drive == m_drives.end())
        return std::nullopt;
    const auto locations = locationsOf(*drive);
    if (!locations)
        return std::nullopt;
    RecycleBinQuery result;
    for (const Location &location : *locations) {
        const auto size = location.open(m_environment.userId).size();
        if (!size)
            return std::nullopt;
        result.size.items += size->items;
        result.size.bytes += size->bytes;
        if (!result.identity.empty())
            result.identity += '\n';
        result.identity += location.folder(m_environment.userId);
    }
    return result;
}

RecycleBinEmptied PrefixRecycleBin::empty() const
{
    // Drives on one mount share their trash folders; each is emptied once.
    std::set<std::string> emptiedFolders;
    RecycleBinEmptied result;
    for (const Drive &drive : m_drives) {
        const auto locations = locationsOf(drive);
        if (!locations)
            continue;
        for (const Location &location : *locations) {
            if (!emptiedFolders.insert(location.folder(m_environment.userId)).second)
                continue;
            const RecycleBinEmptied emptied = location.open(m_environment.userId).empty();
            result.itemsRemoved += emptied.itemsRemoved;
            result.bytesRemoved += emptied.bytesRemoved;
            result.complete = result.complete && emptied.complete;
        }
    }
    return result;
}

std::unique_ptr<RecycleBin> openPrefixRecycleBin(const FileSystem &fileSystem)
{
    return std::make_unique<PrefixRecycleBin>(fileSystem.drives(), TrashEnvironment::fromProcess());
}

} // namespace platform
