#include "TestPrefix.h"

#include <platform/Machine.h>
#include <platform/PrefixMachine.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <system_error>

#include <cerrno>

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

std::string unixUserName()
{
    if (const passwd *entry = getpwuid(getuid()))
        return entry->pw_name;
    return "user";
}

} // namespace

TestPrefix::TestPrefix()
    : m_userName(unixUserName())
{
    std::string pattern = (fs::temp_directory_path() / "nimbra-prefix-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("cannot make a temporary folder");
    m_path = pattern;
    fs::create_directories(fs::path(m_path) / "dosdevices");
    fs::create_symlink("../drive_c", fs::path(m_path) / "dosdevices" / "c:");
    fs::create_symlink("/", fs::path(m_path) / "dosdevices" / "z:");
    const std::string folders[] = {"users/" + m_userName + "/Temp",
                                   "users/Public",
                                   "windows/system32",
                                   "windows/temp",
                                   "Program Files",
                                   "Program Files (x86)",
                                   "ProgramData"};
    for (const std::string &folder : folders)
        makeFolder(folder);
}

TestPrefix::~TestPrefix()
{
    std::error_code ignored;
    // remove_all removes links as links and never follows them.
    fs::remove_all(m_path, ignored);
}

std::string TestPrefix::hostPath(std::string_view belowDriveC) const
{
    return (fs::path(m_path) / "drive_c" / belowDriveC).string();
}

void TestPrefix::writeFile(std::string_view belowDriveC, std::string_view content) const
{
    const fs::path file = hostPath(belowDriveC);
    fs::create_directories(file.parent_path());
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    if (!out)
        throw std::runtime_error("cannot write " + file.string());
}

void TestPrefix::writeSparseFile(std::string_view belowDriveC, std::uint64_t size) const
{
    const fs::path file = hostPath(belowDriveC);
    fs::create_directories(file.parent_path());
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0 || ::ftruncate(fd, static_cast<off_t>(size)) != 0)
        throw std::runtime_error("cannot make sparse file " + file.string());
    ::close(fd);
}

void TestPrefix::makeFolder(std::string_view belowDriveC) const
{
    fs::create_directories(hostPath(belowDriveC));
}

void TestPrefix::setAge(std::string_view belowDriveC, std::chrono::seconds age) const
{
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    timespec times[2];
    times[0].tv_sec = now.tv_sec - age.count();
    times[0].tv_nsec = now.tv_nsec;
    times[1] = times[0];
    if (::utimensat(AT_FDCWD, hostPath(belowDriveC).c_str(), times, AT_SYMLINK_NOFOLLOW) != 0)
        throw std::runtime_error("cannot set the time of " + std::string(belowDriveC));
}

void TestPrefix::writeTopFile(std::string_view name, std::string_view content) const
{
    std::ofstream out(fs::path(m_path) / name, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
}

std::string TestPrefix::makeTopFolder(std::string_view name) const
{
    const fs::path folder = fs::path(m_path) / name;
    fs::create_directories(folder);
    return folder.string();
}

void TestPrefix::makeLink(std::string_view belowDriveC, const std::string &target) const
{
    const fs::path link = hostPath(belowDriveC);
    fs::create_directories(link.parent_path());
    fs::create_symlink(target, link);
}

void TestPrefix::linkDrive(char letter, const std::string &target) const
{
    const fs::path link = fs::path(m_path) / "dosdevices" / (std::string(1, letter) + ":");
    std::error_code ignored;
    fs::remove(link, ignored);
    fs::create_symlink(target, link);
}

bool TestPrefix::exists(const std::string &hostPath)
{
    struct stat status
    {};
    return ::lstat(hostPath.c_str(), &status) == 0;
}

void TestPrefix::makeReadOnly(std::string_view belowDriveC) const
{
    if (::chmod(hostPath(belowDriveC).c_str(), 0444) != 0)
        throw std::runtime_error("cannot make read-only: " + std::string(belowDriveC));
}

void TestPrefix::setLastWriteTime(std::string_view belowDriveC, std::int64_t seconds,
                                  long nanoseconds) const
{
    timespec times[2];
    times[0].tv_sec = static_cast<time_t>(seconds);
    times[0].tv_nsec = nanoseconds;
    times[1] = times[0];
    if (::utimensat(AT_FDCWD, hostPath(belowDriveC).c_str(), times, AT_SYMLINK_NOFOLLOW) != 0)
        throw std::runtime_error("cannot set the time of " + std::string(belowDriveC));
}

bool TestPrefix::setDosAttributeRecord(std::string_view belowDriveC, std::string_view record) const
{
    if (::setxattr(hostPath(belowDriveC).c_str(), "user.DOSATTRIB", record.data(), record.size(),
                   0) == 0)
        return true;
    if (errno == ENOTSUP)
        return false;
    throw std::runtime_error("cannot set user.DOSATTRIB on " + std::string(belowDriveC));
}

void TestPrefix::install() const
{
    std::string error;
    auto machine = platform::openPrefixMachine(m_path, &error);
    if (!machine)
        throw std::runtime_error("cannot open the test prefix: " + error);
    platform::Machine::install(std::move(machine));
}
