#pragma once

#include "TestPrefix.h"

#include <platform/Text.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include <stdlib.h>

// Helpers shared by the tests of the built-in system items.
namespace systemitems {

// A fresh folder below the temporary folder, removed with everything in it (links as links).
class TemporaryFolder
{
public:
    TemporaryFolder()
    {
        std::string pattern =
                (std::filesystem::temp_directory_path() / "nimbra-items-XXXXXX").string();
        if (!::mkdtemp(pattern.data()))
            throw std::runtime_error("cannot make a temporary folder");
        m_path = pattern;
    }
    ~TemporaryFolder()
    {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    TemporaryFolder(const TemporaryFolder &) = delete;
    TemporaryFolder &operator=(const TemporaryFolder &) = delete;

    const std::filesystem::path &path() const { return m_path; }

private:
    std::filesystem::path m_path;
};

// Sets a host environment variable, or unsets it for an empty value, for the life of the object.
class ScopedHostVariable
{
public:
    ScopedHostVariable(const char *name, std::optional<std::string> value)
        : m_name(name)
    {
        if (const char *old = std::getenv(name))
            m_old = old;
        if (value)
            ::setenv(name, value->c_str(), 1);
        else
            ::unsetenv(name);
    }
    ~ScopedHostVariable()
    {
        if (m_old)
            ::setenv(m_name, m_old->c_str(), 1);
        else
            ::unsetenv(m_name);
    }
    ScopedHostVariable(const ScopedHostVariable &) = delete;
    ScopedHostVariable &operator=(const ScopedHostVariable &) = delete;

private:
    const char *m_name;
    std::optional<std::string> m_old;
};

inline void writeHostFile(const std::filesystem::path &file, std::string_view content)
{
    std::filesystem::create_directories(file.parent_path());
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    if (!out)
        throw std::runtime_error("cannot write " + file.string());
}

// A deleted entry in a freedesktop.org trash folder: its info file and, when given, its data.
inline void trashFile(const std::filesystem::path &trash, const std::string &name,
                      std::optional<std::string_view> content)
{
    writeHostFile(trash / "info" / (name + ".trashinfo"),
                  "[Trash Info]\nPath=/home/ann/" + name + "\nDeletionDate=2026-12-11T07:55:58\n");
    if (content)
        writeHostFile(trash / "files" / name, *content);
}

// The path below drive_c ("users/ann/Temp") of a Windows path on drive C: ("C:\users\ann\Temp").
inline std::string belowDriveC(std::u16string_view windowsPath)
{
    std::string path = platform::toUtf8(windowsPath.substr(3));
    for (char &unit : path) {
        if (unit == '\\')
            unit = '/';
    }
    return path;
}

// ASCII letters upper-cased.
inline std::u16string upper(std::u16string text)
{
    for (char16_t &unit : text) {
        if (unit >= u'a' && unit <= u'z')
            unit = static_cast<char16_t>(unit - u'a' + u'A');
    }
    return text;
}

} // namespace systemitems
