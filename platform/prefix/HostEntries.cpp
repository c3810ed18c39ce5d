#include "HostEntries.h"

#include <platform/Text.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <limits>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#if defined(__linux__)
#include <sys/syscall.h>
#include <sys/xattr.h>
#endif

namespace platform {

namespace {

constexpr std::uint32_t attributesFromDosAttributeRecord =
        AttributeHidden | AttributeSystem | AttributeArchive | AttributeOffline;

bool isBrokenSurrogate(std::u16string_view text, std::size_t &i)
{
    const char16_t unit = text[i];
    if (unit >= 0xD800 && unit <= 0xDBFF) {
        if (i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            ++i;
            return false;
        }
        return true;
    }
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

int hexDigitValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Wine keeps DOS attributes in the user.DOSATTRIB extended attribute as the text "0x" followed
// by hexadecimal digits. Anything that does not start that way, or does not fit 32 bits, adds
// nothing.
std::uint32_t parseDosAttributeRecord(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    if (text.size() < 3 || text[0] != '0' || (text[1] != 'x' && text[1] != 'X'))
        return 0;
    text.remove_prefix(2);
    std::uint64_t value = 0;
    std::size_t digits = 0;
    for (const char c : text) {
        const int digit = hexDigitValue(c);
        if (digit < 0)
            break;
        value = value * 16 + static_cast<std::uint64_t>(digit);
        if (value > std::numeric_limits<std::uint32_t>::max())
            return 0;
        ++digits;
    }
    if (digits == 0)
        return 0;
    return static_cast<std::uint32_t>(value) & attributesFromDosAttributeRecord;
}

#if defined(__linux__)

#if defined(SYS_getxattrat)
constexpr long getxattratCall = SYS_getxattrat;
#elif !defined(__alpha__)
constexpr long getxattratCall = 464; // one number on every architecture but Alpha
#else
constexpr long getxattratCall = -1;
#endif

// The argument block of getxattrat, as the kernel defines it.
struct ExtendedAttributeArguments
{
    std::uint64_t value;
    std::uint32_t size;
    std::uint32_t flags;
};

// Set once getxattrat turned out to be unusable here (a kernel before 6.13, or a sandbox that
// refuses unknown calls); every later read then takes the /proc way straight away.
std::atomic<bool> getxattratUnusable{getxattratCall < 0};

// Reads one extended attribute of an entry of the folder, never of a link's target. Returns the
// length, or -1 when it cannot be read (missing, or a link, or no support).
ssize_t readAttributeAt(int folderFd, const char *name, const char *attribute, char *value,
                        std::size_t size)
{
    if (!getxattratUnusable.load(std::memory_order_relaxed)) {
        ExtendedAttributeArguments arguments{reinterpret_cast<std::uintptr_t>(value),
                                             static_cast<std::uint32_t>(size), 0};
        const long length = ::syscall(getxattratCall, folderFd, name, AT_SYMLINK_NOFOLLOW,
                                      attribute, &arguments, sizeof arguments);
        // Reading a user attribute never fails with EPERM on its own: that answer comes from a
        // filter that does not know the call.
        if (length >= 0 || (errno != ENOSYS && errno != EPERM))
            return length;
        getxattratUnusable.store(true, std::memory_order_relaxed);
    }
    // Without getxattrat, the descriptor's /proc entry names the open folder itself, so a
    // renamed or replaced path cannot redirect the read. Resolving it costs far more, though.
    std::string path = "/proc/self/fd/";
    path += std::to_string(folderFd);
    path += '/';
    path += name;
    return ::lgetxattr(path.c_str(), attribute, value, size);
}

#endif

std::uint32_t dosAttributesAt(int folderFd, const char *name)
{
#if defined(__linux__)
    char value[256];
    const ssize_t length = readAttributeAt(folderFd, name, "user.DOSATTRIB", value, sizeof value);
    if (length <= 0)
        return 0;
    return parseDosAttributeRecord(std::string_view(value, static_cast<std::size_t>(length)));
#else
    (void)folderFd;
    (void)name;
    return 0;
#endif
}

} // namespace

std::optional<std::string> hostEntryName(std::u16string_view name)
{
    if (name.empty() || name == u"." || name == u"..")
        return std::nullopt;
    for (std::size_t i = 0; i < name.size(); ++i) {
        if (name[i] == u'/' || name[i] == 0 || isBrokenSurrogate(name, i))
            return std::nullopt;
    }
    return toUtf8(name);
}

std::optional<DirectoryEntry> describeEntryAt(int folderFd, const std::string &name)
{
    DirectoryEntry entry;
    if (!describeEntryAt(folderFd, name.c_str(), entry))
        return std::nullopt;
    entry.name = fromUtf8(name);
    return entry;
}

bool describeEntryAt(int folderFd, const char *name, DirectoryEntry &entry)
{
    struct stat status
    {};
    if (::fstatat(folderFd, name, &status, AT_SYMLINK_NOFOLLOW) != 0)
        return false;

    entry.attributes = 0;
    entry.size = 0;
    entry.lastWriteTime = fileTimeFromHostTime(status.st_mtim);
    if (S_ISLNK(status.st_mode)) {
        entry.attributes = AttributeReparsePoint;
        struct stat target
        {};
        if (::fstatat(folderFd, name, &target, 0) == 0 && S_ISDIR(target.st_mode))
            entry.attributes |= AttributeDirectory;
    } else {
        if (S_ISDIR(status.st_mode))
            entry.attributes |= AttributeDirectory;
        else
            entry.size = static_cast<std::uint64_t>(status.st_size);
        if (!(status.st_mode & S_IWUSR))
            entry.attributes |= AttributeReadOnly;
        if (S_ISDIR(status.st_mode) || S_ISREG(status.st_mode))
            entry.attributes |= dosAttributesAt(folderFd, name);
    }
    if (name[0] == '.' && name[1] != '\0')
        entry.attributes |= AttributeHidden;
    if (entry.attributes == 0)
        entry.attributes = AttributeNormal;
    return true;
}

bool deleteFileAt(int folderFd, const std::string &name)
{
    struct stat status
    {};
    if (::fstatat(folderFd, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0)
        return false;
    if (S_ISDIR(status.st_mode))
        return false;
    if (!S_ISLNK(status.st_mode) && !(status.st_mode & S_IWUSR))
        return false;
    // Without AT_REMOVEDIR the call refuses a folder, even one that replaced the file just now.
    return ::unlinkat(folderFd, name.c_str(), 0) == 0;
}

bool deleteListedFileAt(int folderFd, const std::string &name, std::uint32_t listedAttributes)
{
    if (!(listedAttributes & AttributeReparsePoint) &&
        (listedAttributes & (AttributeDirectory | AttributeReadOnly)))
        return false;
    return ::unlinkat(folderFd, name.c_str(), 0) == 0;
}

bool removeFolderAt(int folderFd, const std::string &name)
{
    // With AT_REMOVEDIR a link is refused (ENOTDIR) and is never taken for its target.
    return ::unlinkat(folderFd, name.c_str(), AT_REMOVEDIR) == 0;
}

FileTime fileTimeFromHostTime(const timespec &time)
{
    constexpr std::int64_t secondsBefore1970 = fileTimeUnixEpoch / fileTimeTicksPerSecond;
    constexpr std::int64_t ticks = fileTimeTicksPerSecond;
    const std::int64_t seconds = static_cast<std::int64_t>(time.tv_sec);
    if (seconds < -secondsBefore1970)
        return 0;
    const auto sinceFileTimeEpoch = static_cast<std::uint64_t>(seconds + secondsBefore1970);
    if (sinceFileTimeEpoch > (std::numeric_limits<std::uint64_t>::max() - ticks) / ticks)
        return std::numeric_limits<FileTime>::max();
    return sinceFileTimeEpoch * ticks + static_cast<std::uint64_t>(time.tv_nsec / 100);
}

} // namespace platform
