#pragma once

#include <disk_cleaner/PlugInfo.h>

namespace diskcleaner {

// The recycle bins of the machine's fixed drives. It keeps no found list: the bins are counted
// and emptied as a whole.
class RecycleBinInfo final : public PlugInfo
{
public:
    RecycleBinInfo();

    // Counts the items and bytes of every fixed drive's bin, a bin that drives share once.
    void Scan() override;
    void Rescan() override;
    // Empties every bin; the cleaned totals are what really went, which after a failure can be
    // less than what the scan found, or more when something was deleted since.
    void Clean() override;
    // Always the one text "Recycle bin does not support file listing".
    void GetFileList(FileList &list) const override;
};

} // namespace diskcleaner
