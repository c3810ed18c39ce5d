#include <disk_cleaner/recent_docs.h>

#include <disk_cleaner/FolderProcessing.h>

#include <platform/Machine.h>
#include <platform/RecentDocuments.h>

#include <optional>
#include <string>

namespace diskcleaner {

recent_docs::recent_docs()
{
    Title = u"Recent Documents";
    Description = u"Clears the Recent Documents in the Start menu";
}

void recent_docs::Scan()
{
    ItemsFound = 0;
    BytesFound = 0;
    m_found.clear();
    const std::optional<std::u16string> folder =
            platform::Machine::current().recentDocuments().folder();
    if (!folder || folder->empty())
        return;
    ScanOptions options;
    options.Recursive = true;
    const FolderTotals totals = ScanFilesInFolder(*folder, {u"*.*"}, options, m_found);
    ItemsFound = totals.Count;
    BytesFound = totals.Bytes;
}

void recent_docs::Rescan()
{
    Scan();
}

void recent_docs::Clean()
{
    const platform::RecentDocumentsCleared cleared =
            platform::Machine::current().recentDocuments().clear();
    // What really went, not what the scan found: the shell deletes only the files directly in
    // the folder, and a file it cannot delete must not be counted as cleaned.
    ItemsCleaned = cleared.filesRemoved;
    BytesCleaned = cleared.bytesRemoved;
}

void recent_docs::GetFileList(FileList &list) const
{
    list.insert(list.end(), m_found.begin(), m_found.end());
}

} // namespace diskcleaner
