#pragma once

#include <disk_cleaner/PlugInfo.h>
#include <disk_cleaner/ScanOptions.h>

#include <cstdint>
#include <string>

namespace diskcleaner {

// How the temporary-files item walks its folder; the fields mean what the ScanOptions fields of
// the same names mean. The disk page uses the defaults.
struct TempSettings
{
    bool Recursive = false;
    std::uint32_t MinAgeDays = 0;
};

// The files in the current user's temporary folder (TMP, else TEMP, of the machine's
// environment). The folder is chosen once, at construction: the item stays disabled, finding and
// cleaning nothing, when the variables are unset, the value is shorter than four characters, is
// the Windows folder, or lies in or below the system folder. System files are included.
class system_temp final : public PlugInfo
{
public:
    explicit system_temp(const TempSettings &settings);

    void Clean() override;
    void Rescan() override;
    void Scan() override;
    void GetFileList(FileList &list) const override;

    // The accepted temporary folder, upper-cased and ending with "\"; empty while disabled.
    const std::u16string &TemporaryFolder() const { return m_folder; }
    bool IsEnabled() const { return m_enabled; }

private:
    ScanOptions Options() const;
    bool FolderIsReachable() const;

    TempSettings m_settings;
    std::u16string m_folder;
    bool m_enabled = false;
    FileList m_found;
};

} // namespace diskcleaner
