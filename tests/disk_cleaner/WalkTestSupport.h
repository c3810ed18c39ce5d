#pragma once

#include "TestPrefix.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include <sys/xattr.h>

// Small helpers shared by the folder-walk tests.
namespace walktest {

using namespace std::chrono_literals;

inline constexpr std::chrono::seconds oneDay = 24h;

// The Windows path of a path below drive_c written with '/': "base/a.txt" -> "C:\base\a.txt".
inline std::u16string windowsPath(std::string_view belowDriveC)
{
    std::u16string path = u"C:\\";
    for (char unit : belowDriveC)
        path += unit == '/' ? u'\\' : static_cast<char16_t>(unit);
    return path;
}

// True when something, a dangling link included, stands at that path below drive_c.
inline bool present(const TestPrefix &prefix, std::string_view belowDriveC)
{
    std::error_code error;
    return std::filesystem::symlink_status(prefix.hostPath(belowDriveC), error).type() !=
           std::filesystem::file_type::not_found;
}

// Makes a symbolic link below drive_c pointing at `target` (written as given).
inline void makeLink(const TestPrefix &prefix, std::string_view belowDriveC, std::string target,
                     bool toFolder)
{
    const std::filesystem::path link = prefix.hostPath(belowDriveC);
    std::filesystem::create_directories(link.parent_path());
    if (toFolder)
        std::filesystem::create_directory_symlink(target, link);
    else
        std::filesystem::create_symlink(target, link);
}

// Gives a file Wine's DOS attributes ("0x4" system, "0x1000" offline). False when the file
// system takes no user extended attributes.
inline bool setDosAttributes(const TestPrefix &prefix, std::string_view belowDriveC,
                             std::string_view value)
{
    return ::setxattr(prefix.hostPath(belowDriveC).c_str(), "user.DOSATTRIB", value.data(),
                      value.size(), 0) == 0;
}

inline std::vector<std::u16string> sorted(std::vector<std::u16string> texts)
{
    std::sort(texts.begin(), texts.end());
    return texts;
}

} // namespace walktest
