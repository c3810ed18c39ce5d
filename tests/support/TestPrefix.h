#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

// A small Wine prefix in a fresh temporary folder, removed again (without following links) when
// the object goes. It has dosdevices/c: -> ../drive_c and z: -> /, and the folders of Wine's
// default layout for the current Unix user: C:\users\<user>\Temp, C:\windows\system32,
// C:\windows\temp, C:\Program Files, C:\ProgramData.
class TestPrefix
{
public:
    TestPrefix();
    ~TestPrefix();
    TestPrefix(const TestPrefix &) = delete;
    TestPrefix &operator=(const TestPrefix &) = delete;

    // The prefix folder.
    const std::string &path() const { return m_path; }

    // The Windows user of the prefix (the Unix login name, as Wine uses it).
    const std::string &userName() const { return m_userName; }

    // The host path of a path below drive_c, written with '/' ("users/root/Temp/a.txt").
    std::string hostPath(std::string_view belowDriveC) const;

    // Creates a file below drive_c with the given content, making its folders.
    void writeFile(std::string_view belowDriveC, std::string_view content = "x") const;

    // Creates a sparse file of the given size below drive_c.
    void writeSparseFile(std::string_view belowDriveC, std::uint64_t size) const;

    // Creates a folder below drive_c, with its parents.
    void makeFolder(std::string_view belowDriveC) const;

    // Sets a file's last-write time to the given age before now.
    void setAge(std::string_view belowDriveC, std::chrono::seconds age) const;

    // Writes a file at the top of the prefix (system.reg, user.reg, userdef.reg, ...).
    void writeTopFile(std::string_view name, std::string_view content) const;

    // Creates a folder at the top of the prefix, outside every drive except Z:, and returns its
    // host path. Good as the target of links that must never be followed.
    std::string makeTopFolder(std::string_view name) const;

    // Makes a symbolic link below drive_c pointing at target (a host path, absolute or relative).
    void makeLink(std::string_view belowDriveC, const std::string &target) const;

    // Makes or replaces the link dosdevices/<letter>: with the given target.
    void linkDrive(char letter, const std::string &target) const;

    // True when something (a file, folder or link, even a dangling one) is at that host path.
    static bool exists(const std::string &hostPath);

    // Clears every write permission of a file below drive_c.
    void makeReadOnly(std::string_view belowDriveC) const;

    // Sets a file's last-write time to an exact instant: seconds and nanoseconds since 1970.
    void setLastWriteTime(std::string_view belowDriveC, std::int64_t seconds,
                          long nanoseconds) const;

    // Stores Wine's DOS attribute record (user.DOSATTRIB) on a file below drive_c. False when the
    // host file system keeps no such attributes.
    bool setDosAttributeRecord(std::string_view belowDriveC, std::string_view record) const;

    // Makes this prefix the current machine.
    void install() const;

private:
    std::string m_path;
    std::string m_userName;
};
