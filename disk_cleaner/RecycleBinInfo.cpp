#include <disk_cleaner/RecycleBinInfo.h>

#include <disk_cleaner/Trace.h>

#include <platform/FileSystem.h>
#include <platform/Machine.h>
#include <platform/RecycleBin.h>

#include <set>
#include <string>

namespace diskcleaner {

namespace {

constexpr const char *scanOperation = "diskcleaner::RecycleBinInfo::Scan";

} // namespace

RecycleBinInfo::RecycleBinInfo()
{
    Title = u"Recycle Bin";
    Description = u"Empties the Recycle Bin on the desktop";
}

void RecycleBinInfo::Scan()
{
    ItemsFound = 0;
    BytesFound = 0;
    const platform::Machine &machine = platform::Machine::current();
    // Drives on one disk share their bin; it is counted for the first of them only.
    std::set<std::string> countedBins;
    for (const platform::Drive &drive : machine.fileSystem().drives()) {
        if (drive.type != platform::DriveType::Fixed)
            continue;
        const std::u16string root{drive.letter, u':', u'\\'};
        Trace(u"%hs: scanning %s", scanOperation, root);
        const std::optional<platform::RecycleBinQuery> bin = machine.recycleBin().query(root);
        if (!bin || !countedBins.insert(bin->identity).second)
            continue;
        ItemsFound += bin->size.items;
        BytesFound += bin->size.bytes;
    }
}

void RecycleBinInfo::Rescan()
{
    Scan();
}

void RecycleBinInfo::Clean()
{
    const platform::RecycleBinEmptied emptied = platform::Machine::current().recycleBin().empty();
    if (emptied.complete)
        Trace(u"The recycle bin was emptied");
    else
        Trace(u"Error while trying to empty the recycle bin");
    // What really went, not what the scan found: a failed or partial empty must not be counted
    // as cleaned.
    ItemsCleaned = emptied.itemsRemoved;
    BytesCleaned = emptied.bytesRemoved;
}

void RecycleBinInfo::GetFileList(FileList &list) const
{
    list.push_back(u"Recycle bin does not support file listing");
}

} // namespace diskcleaner
