#pragma once

#include <disk_cleaner/Trace.h>

#include <platform/Text.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include <stdlib.h>

// Helpers shared by the plug-in item tests.
namespace plugintest {

// The start of a user.reg file as Wine writes it.
inline const std::string header =
        "WINE REGISTRY Version 2\n"
        ";; All keys relative to REGISTRY\\\\User\\\\S-1-5-21-0-0-0-1000\n"
        "\n#arch=win64\n";

// Foo has three values and a subkey with two; Keep and WithDefault (which has a
// default value) stand beside it.
inline const std::string userKeys = "\n[Software\\\\Foo] 1700000000\n"
                                    "\"One\"=\"1\"\n"
                                    "\"Two\"=dword:00000002\n"
                                    "\"Three\"=\"three\"\n"
                                    "\n[Software\\\\Foo\\\\Sub] 1700000000\n"
                                    "\"X\"=\"xx\"\n"
                                    "\"Y\"=hex:01,02,03\n"
                                    "\n[Software\\\\Keep] 1700000000\n"
                                    "\"Stay\"=\"here\"\n"
                                    "\n[Software\\\\WithDefault] 1700000000\n"
                                    "@=\"default text\"\n"
                                    "\"Named\"=\"named\"\n";

// A temporary host folder outside every test prefix, removed again (links as links) when the
// object goes. Plug-in files live in one, since they belong to the program, not to the machine;
// folders that must stay out of a clean's reach live in another.
class HostFolder
{
public:
    HostFolder()
    {
        std::string pattern =
                (std::filesystem::temp_directory_path() / "nimbra-host-XXXXXX").string();
        if (!::mkdtemp(pattern.data()))
            throw std::runtime_error("cannot make a temporary folder");
        m_path = pattern;
    }
    ~HostFolder()
    {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    HostFolder(const HostFolder &) = delete;
    HostFolder &operator=(const HostFolder &) = delete;

    const std::string &path() const { return m_path; }

    // Writes a file below the folder, making its folders, and returns its host path.
    std::string write(std::string_view name, std::string_view content) const
    {
        const std::filesystem::path file = std::filesystem::path(m_path) / name;
        std::filesystem::create_directories(file.parent_path());
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out.write(content.data(), static_cast<std::streamsize>(content.size()));
        if (!out)
            throw std::runtime_error("cannot write " + file.string());
        return file.string();
    }

    bool exists(std::string_view name) const
    {
        std::error_code error;
        return std::filesystem::exists(std::filesystem::path(m_path) / name, error);
    }

    // The Windows path of the folder through drive Z: ("Z:\tmp\nimbra-host-...").
    std::u16string throughDriveZ() const
    {
        std::u16string path = u"Z:" + platform::fromUtf8(m_path);
        std::replace(path.begin(), path.end(), u'/', u'\\');
        return path;
    }

private:
    std::string m_path;
};

// Collects the engine's trace lines while it lives.
class TraceRecorder
{
public:
    TraceRecorder()
    {
        m_previous = diskcleaner::SetTraceSink(
                [this](std::u16string_view line) { m_lines.emplace_back(line); });
    }
    ~TraceRecorder() { diskcleaner::SetTraceSink(std::move(m_previous)); }
    TraceRecorder(const TraceRecorder &) = delete;
    TraceRecorder &operator=(const TraceRecorder &) = delete;

    // True when some line contains every one of the texts.
    bool has(std::initializer_list<std::u16string_view> texts) const
    {
        return std::any_of(m_lines.begin(), m_lines.end(), [&](const std::u16string &line) {
            return std::all_of(texts.begin(), texts.end(), [&](std::u16string_view text) {
                return line.find(text) != std::u16string::npos;
            });
        });
    }

private:
    std::vector<std::u16string> m_lines;
    diskcleaner::TraceSink m_previous;
};

} // namespace plugintest
