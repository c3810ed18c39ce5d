#include "RegistryServerGuard.h"

#include "UniqueFd.h"

#include <cstdio>
#include <string_view>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

// The folder name Debian's Wine keeps in the prefix's "wineserver" file; empty when there is no
// usable one.
std::string privateServerFolderName(const std::string &prefixPath)
{
    const UniqueFd fd(::open((prefixPath + "/wineserver").c_str(),
                             O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    if (!fd.isValid())
        return {};
    char buffer[256];
    const ssize_t count = ::read(fd.get(), buffer, sizeof buffer);
    if (count <= 0)
        return {};
    std::string_view name(buffer, static_cast<std::size_t>(count));
    while (!name.empty() && (name.back() == '\n' || name.back() == '\r' || name.back() == ' '))
        name.remove_suffix(1);
    // Only a plain folder name directly in the server root.
    if (name.empty() || name == "." || name == ".." ||
        name.find_first_of(std::string_view("/\0", 2)) != std::string_view::npos)
        return {};
    return std::string(name);
}

long lockHolder(const std::string &lockPath)
{
    const UniqueFd fd(::open(lockPath.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    if (!fd.isValid())
        return 0;
    struct flock lock = {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    lock.l_start = 0;
    lock.l_len = 1;
    if (::fcntl(fd.get(), F_GETLK, &lock) != 0 || lock.l_type == F_UNLCK)
        return 0;
    // A lock held from another machine may report no process; it still means a server runs.
    return lock.l_pid > 0 ? static_cast<long>(lock.l_pid) : 1;
}

} // namespace

RegistryServerGuard::RegistryServerGuard(std::string prefixPath, std::string serverRoot)
    : m_prefixPath(std::move(prefixPath))
    , m_serverRoot(std::move(serverRoot))
{}

long RegistryServerGuard::runningServer() const
{
    struct stat prefix = {};
    if (::stat(m_prefixPath.c_str(), &prefix) != 0)
        return 0;
    char serverFolder[64];
    std::snprintf(serverFolder, sizeof serverFolder, "/server-%llx-%llx/lock",
                  static_cast<unsigned long long>(prefix.st_dev),
                  static_cast<unsigned long long>(prefix.st_ino));

    std::vector<std::string> bases;
    const std::string privateName = privateServerFolderName(m_prefixPath);
    if (!privateName.empty())
        bases.push_back(m_serverRoot + "/" + privateName);
    bases.push_back(m_serverRoot + "/.wine-" + std::to_string(::getuid()));
    for (const std::string &base : bases) {
        if (const long pid = lockHolder(base + serverFolder))
            return pid;
    }
    return 0;
}

} // namespace platform
