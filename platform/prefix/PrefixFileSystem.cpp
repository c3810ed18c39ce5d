#include "PrefixFileSystem.h"

#include "HostEntries.h"
#include "PrefixFolder.h"
#include "UniqueFd.h"

#include <platform/Text.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <ctime>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#if defined(__linux__)
#include <sys/vfs.h>
#endif

namespace platform {

namespace {

constexpr int driveCount = 26;

bool isSeparator(char16_t unit)
{
    return unit == u'\\' || unit == u'/';
}

int driveIndex(char16_t letter)
{
    if (letter >= u'a' && letter <= u'z')
        return letter - u'a';
    if (letter >= u'A' && letter <= u'Z')
        return letter - u'A';
    return -1;
}

std::string joinHostPath(const std::string &folder, std::string_view name)
{
    std::string path = folder;
    if (path.empty() || path.back() != '/')
        path.push_back('/');
    path.append(name);
    return path;
}

bool isHostFolder(const std::string &path)
{
    struct stat status
    {};
    return ::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

bool hostEntryExists(const std::string &path)
{
    struct stat status
    {};
    return ::lstat(path.c_str(), &status) == 0;
}

std::optional<std::string> readLink(const std::string &path)
{
    std::string target(256, '\0');
    for (;;) {
        const ssize_t length = ::readlink(path.c_str(), target.data(), target.size());
        if (length < 0)
            return std::nullopt;
        if (static_cast<std::size_t>(length) < target.size()) {
            target.resize(static_cast<std::size_t>(length));
            return target;
        }
        target.resize(target.size() * 2);
    }
}

// The first entry of the folder, in listing order, whose name equals the given one without
// regard to case.
std::optional<std::string> findIgnoringCase(const std::string &folder, std::u16string_view name)
{
    DIR *directory = ::opendir(folder.c_str());
    if (!directory)
        return std::nullopt;
    std::optional<std::string> found;
    while (const dirent *item = ::readdir(directory)) {
        const std::string_view candidate = item->d_name;
        if (candidate == "." || candidate == "..")
            continue;
        if (equalsIgnoreCase(fromUtf8(candidate), name)) {
            found = std::string(candidate);
            break;
        }
    }
    ::closedir(directory);
    return found;
}

// A Windows path taken apart: the drive and the components after "." and ".." are resolved
// lexically, before anything is looked up, as Windows does.
struct WindowsPathParts
{
    int drive = -1;
    std::vector<std::u16string_view> components;
};

std::optional<WindowsPathParts> splitWindowsPath(std::u16string_view path)
{
    // "\\?\C:\..." is the same path with normalisation waived; it is normalised here all the same.
    if (path.size() >= 4 && isSeparator(path[0]) && isSeparator(path[1]) && path[2] == u'?' &&
        isSeparator(path[3]))
        path.remove_prefix(4);
    if (path.size() < 2 || path[1] != u':' || driveIndex(path[0]) < 0)
        return std::nullopt;
    WindowsPathParts parts;
    parts.drive = driveIndex(path[0]);
    path.remove_prefix(2);

    std::size_t position = 0;
    while (position < path.size()) {
        std::size_t end = position;
        while (end < path.size() && !isSeparator(path[end]))
            ++end;
        const std::u16string_view component = path.substr(position, end - position);
        position = end + 1;
        if (component.empty() || component == u".")
            continue;
        if (component == u"..") {
            if (!parts.components.empty())
                parts.components.pop_back();
            continue;
        }
        // A zero character would end the host name early and reach another file.
        if (component.find(char16_t(0)) != std::u16string_view::npos)
            return std::nullopt;
        parts.components.push_back(component);
    }
    // Windows drops dots and spaces at the end of a path.
    if (!parts.components.empty()) {
        std::u16string_view &last = parts.components.back();
        const std::size_t keep = last.find_last_not_of(u". ");
        if (keep == std::u16string_view::npos)
            parts.components.pop_back();
        else
            last = last.substr(0, keep + 1);
    }
    return parts;
}

std::vector<std::string_view> splitHostPath(std::string_view path)
{
    std::vector<std::string_view> components;
    std::size_t position = 0;
    while (position < path.size()) {
        std::size_t end = path.find('/', position);
        if (end == std::string_view::npos)
            end = path.size();
        const std::string_view component = path.substr(position, end - position);
        position = end + 1;
        if (component.empty() || component == ".")
            continue;
        if (component == "..") {
            if (!components.empty())
                components.pop_back();
            continue;
        }
        components.push_back(component);
    }
    return components;
}

std::optional<DriveType> driveTypeFromName(std::u16string_view name)
{
    if (equalsIgnoreCase(name, u"hd"))
        return DriveType::Fixed;
    if (equalsIgnoreCase(name, u"floppy"))
        return DriveType::Removable;
    if (equalsIgnoreCase(name, u"cdrom"))
        return DriveType::CdRom;
    if (equalsIgnoreCase(name, u"network"))
        return DriveType::Remote;
    if (equalsIgnoreCase(name, u"ramdisk"))
        return DriveType::RamDisk;
    return std::nullopt;
}

// The type Wine gives a drive from the file system its root lies on.
DriveType driveTypeOfFileSystem(const std::string &root)
{
#if defined(__linux__)
    struct statfs info
    {};
    if (::statfs(root.c_str(), &info) != 0)
        return DriveType::Fixed;
    switch (static_cast<unsigned long>(info.f_type)) {
    case 0x9660:     // ISO 9660
    case 0x15013346: // UDF
        return DriveType::CdRom;
    case 0x6969:     // NFS
    case 0x517B:     // SMB
    case 0xFF534D42: // CIFS
    case 0xFE534D42: // SMB2
        return DriveType::Remote;
    default:
        return DriveType::Fixed;
    }
#else
    (void)root;
    return DriveType::Fixed;
#endif
}

} // namespace

PrefixFileSystem::PrefixFileSystem(std::string_view prefixPath)
    : m_prefixPath(absoluteHostPath(prefixPath))
{}

void PrefixFileSystem::setDriveTypeOverrides(const std::map<char16_t, std::u16string> &overrides)
{
    m_typeOverrides = {};
    for (const auto &[letter, typeName] : overrides) {
        const int index = driveIndex(letter);
        if (index >= 0)
            m_typeOverrides[static_cast<std::size_t>(index)] = driveTypeFromName(typeName);
    }
}

std::string PrefixFileSystem::absoluteHostPath(std::string_view path)
{
    std::string absolute;
    if (path.empty() || path.front() != '/') {
        char buffer[PATH_MAX];
        if (::getcwd(buffer, sizeof buffer))
            absolute = buffer;
        absolute.push_back('/');
    }
    absolute.append(path);
    std::string normal;
    for (const std::string_view component : splitHostPath(absolute)) {
        normal.push_back('/');
        normal.append(component);
    }
    return normal.empty() ? std::string("/") : normal;
}

std::optional<std::string> PrefixFileSystem::driveTarget(int index) const
{
    const std::string devices = m_prefixPath + "/dosdevices";
    const std::string link = devices + "/" + char('a' + index) + ":";
    struct stat status
    {};
    if (::lstat(link.c_str(), &status) != 0) {
        // Wine makes dosdevices with c: and z: when it first runs in a prefix that lacks it;
        // such a prefix gets those two drives here too, without anything being written.
        if (errno == ENOENT && !hostEntryExists(devices)) {
            if (index == 'c' - 'a')
                return m_prefixPath + "/drive_c";
            if (index == 'z' - 'a')
                return std::string("/");
        }
        return std::nullopt;
    }
    if (!S_ISLNK(status.st_mode))
        return link;
    const std::optional<std::string> target = readLink(link);
    if (!target || target->empty())
        return std::string();
    if (target->front() == '/')
        return absoluteHostPath(*target);
    // A relative target counts from the real dosdevices folder, wherever a link to it leads.
    std::string base = devices;
    struct stat devicesStatus
    {};
    if (::lstat(devices.c_str(), &devicesStatus) == 0 && S_ISLNK(devicesStatus.st_mode)) {
        if (char *real = ::realpath(devices.c_str(), nullptr)) {
            base = real;
            std::free(real);
        }
    }
    return absoluteHostPath(base + "/" + *target);
}

std::optional<std::string> PrefixFileSystem::driveRoot(int index) const
{
    std::optional<std::string> target = driveTarget(index);
    if (!target || target->empty() || !isHostFolder(*target))
        return std::nullopt;
    return target;
}

DriveType PrefixFileSystem::typeOfRoot(int index, const std::string &root) const
{
    if (const std::optional<DriveType> &override = m_typeOverrides[static_cast<std::size_t>(index)])
        return *override;
    if (index < 2)
        return DriveType::Removable;
    return driveTypeOfFileSystem(root);
}

std::optional<PrefixFileSystem::ResolvedPath>
PrefixFileSystem::resolve(std::u16string_view windowsPath) const
{
    const std::optional<WindowsPathParts> parts = splitWindowsPath(windowsPath);
    if (!parts)
        return std::nullopt;
    const std::optional<std::string> root = driveRoot(parts->drive);
    if (!root)
        return std::nullopt;

    ResolvedPath resolved{*root, std::string()};
    bool missing = false;
    for (const std::u16string_view component : parts->components) {
        if (!resolved.name.empty())
            resolved.folder = joinHostPath(resolved.folder, resolved.name);
        resolved.name = toUtf8(component);
        // Once a component is missing nothing below it can exist: keep the rest as written.
        if (missing || hostEntryExists(joinHostPath(resolved.folder, resolved.name)))
            continue;
        if (std::optional<std::string> found = findIgnoringCase(resolved.folder, component))
            resolved.name = std::move(*found);
        else
            missing = true;
    }
    return resolved;
}

std::unique_ptr<Folder> PrefixFileSystem::openFolder(std::u16string_view windowsPath) const
{
    const std::string path = hostPath(windowsPath);
    if (path.empty())
        return nullptr;
    return PrefixFolder::open(path);
}

std::optional<DirectoryEntry> PrefixFileSystem::entry(std::u16string_view windowsPath) const
{
    const std::optional<ResolvedPath> resolved = resolve(windowsPath);
    if (!resolved)
        return std::nullopt;
    const UniqueFd folder(::open(resolved->folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folder.isValid())
        return std::nullopt;
    if (!resolved->name.empty())
        return describeEntryAt(folder.get(), resolved->name);
    std::optional<DirectoryEntry> root = describeEntryAt(folder.get(), ".");
    if (root)
        root->name.clear();
    return root;
}

bool PrefixFileSystem::deleteFile(std::u16string_view windowsPath) const
{
    const std::optional<ResolvedPath> resolved = resolve(windowsPath);
    if (!resolved || resolved->name.empty())
        return false;
    const UniqueFd folder(::open(resolved->folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    return folder.isValid() && deleteFileAt(folder.get(), resolved->name);
}

bool PrefixFileSystem::removeDirectory(std::u16string_view windowsPath) const
{
    const std::optional<ResolvedPath> resolved = resolve(windowsPath);
    if (!resolved || resolved->name.empty())
        return false;
    const UniqueFd folder(::open(resolved->folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    return folder.isValid() && removeFolderAt(folder.get(), resolved->name);
}

std::string PrefixFileSystem::hostPath(std::u16string_view windowsPath) const
{
    const std::optional<ResolvedPath> resolved = resolve(windowsPath);
    if (!resolved)
        return std::string();
    if (resolved->name.empty())
        return resolved->folder;
    return joinHostPath(resolved->folder, resolved->name);
}

std::u16string PrefixFileSystem::windowsPath(std::string_view hostPath) const
{
    if (hostPath.empty())
        return std::u16string();
    struct RootIdentity
    {
        dev_t device;
        ino_t inode;
        int index;
    };
    std::vector<RootIdentity> roots;
    for (int index = 0; index < driveCount; ++index) {
        const std::optional<std::string> root = driveRoot(index);
        struct stat status
        {};
        if (root && ::stat(root->c_str(), &status) == 0)
            roots.push_back({status.st_dev, status.st_ino, index});
    }

    // Walk up from the full path; the deepest existing folder that is a drive root wins, and
    // among drives sharing a root the first letter.
    const std::string absolute = absoluteHostPath(hostPath);
    const std::vector<std::string_view> components = splitHostPath(absolute);
    for (std::size_t depth = components.size() + 1; depth-- > 0;) {
        std::string folder = "/";
        for (std::size_t i = 0; i < depth; ++i)
            folder = joinHostPath(folder, components[i]);
        struct stat status
        {};
        if (::stat(folder.c_str(), &status) != 0 || !S_ISDIR(status.st_mode))
            continue;
        for (const RootIdentity &root : roots) {
            if (root.device != status.st_dev || root.inode != status.st_ino)
                continue;
            std::u16string result{char16_t(u'A' + root.index), u':', u'\\'};
            for (std::size_t i = depth; i < components.size(); ++i) {
                if (i > depth)
                    result.push_back(u'\\');
                result += fromUtf8(components[i]);
            }
            return result;
        }
    }
    return std::u16string();
}

std::vector<Drive> PrefixFileSystem::drives() const
{
    std::vector<Drive> result;
    for (int index = 0; index < driveCount; ++index) {
        const std::optional<std::string> target = driveTarget(index);
        if (!target)
            continue;
        Drive drive;
        drive.letter = static_cast<char16_t>(u'A' + index);
        if (!target->empty() && isHostFolder(*target)) {
            drive.type = typeOfRoot(index, *target);
            drive.hostFolder = *target;
        } else {
            drive.type = DriveType::NoRootDirectory;
        }
        result.push_back(std::move(drive));
    }
    return result;
}

DriveType PrefixFileSystem::driveType(char16_t letter) const
{
    const int index = driveIndex(letter);
    if (index < 0)
        return DriveType::NoRootDirectory;
    const std::optional<std::string> root = driveRoot(index);
    if (!root)
        return DriveType::NoRootDirectory;
    return typeOfRoot(index, *root);
}

FileTime PrefixFileSystem::currentTime() const
{
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return fileTimeFromHostTime(now);
}

} // namespace platform
