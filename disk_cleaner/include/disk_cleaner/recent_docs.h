#pragma once

#include <disk_cleaner/PlugInfo.h>

namespace diskcleaner {

// The shell's list of recently opened documents: the files in the user's Recent folder and the
// list the shell keeps of them.
class recent_docs final : public PlugInfo
{
public:
    recent_docs();

    // Lists the files of the Recent folder and its subfolders, system files left out.
    void Scan() override;
    void Rescan() override;
    // Clears the list as the shell does; the cleaned totals are the files that really went.
    void Clean() override;
    void GetFileList(FileList &list) const override;

private:
    FileList m_found;
};

} // namespace diskcleaner
