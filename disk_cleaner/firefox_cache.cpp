#include <disk_cleaner/firefox_cache.h>

#include <disk_cleaner/FolderProcessing.h>
#include <disk_cleaner/Trace.h>

#include <platform/FileSystem.h>
#include <platform/Machine.h>

#include <algorithm>

namespace diskcleaner {

namespace {

ScanOptions cacheOptions()
{
    ScanOptions options;
    options.Recursive = true;
    return options;
}

const PatternList &cachePatterns()
{
    static const PatternList patterns = {u"*.*"};
    return patterns;
}

} // namespace

firefox_cache::firefox_cache()
{
    Title = u"Firefox Cache";
    Description = u"Clears the Firefox cache";
    Process = u"firefox.exe";
    Application = u"Firefox";
}

std::vector<std::u16string> firefox_cache::CacheFolders()
{
    std::vector<std::u16string> folders;
    const FirefoxProfileLocation &location = ProfileLocation();
    if (!location.located || !platform::Machine::hasCurrent())
        return folders;
    // Firefox renamed its cache folder in 2014; profiles may hold either name, or both.
    std::vector<std::u16string> bases = {location.profileFolder};
    if (!location.localFolder.empty())
        bases.push_back(location.localFolder);
    const platform::FileSystem &fileSystem = platform::Machine::current().fileSystem();
    std::vector<std::string> hostFolders;
    for (const std::u16string &base : bases) {
        for (std::u16string_view name : {u"Cache", u"cache2"}) {
            std::u16string folder = base;
            folder += u'\\';
            folder += name;
            // Walking one folder twice would count its files twice.
            const std::string hostFolder = fileSystem.hostPath(folder);
            if (std::find(hostFolders.begin(), hostFolders.end(), hostFolder) != hostFolders.end())
                continue;
            hostFolders.push_back(hostFolder);
            folder += u'\\';
            folders.push_back(std::move(folder));
        }
    }
    return folders;
}

void firefox_cache::DoScan(bool)
{
    m_foundList.clear();
    ItemsFound = 0;
    BytesFound = 0;
    for (const std::u16string &folder : CacheFolders()) {
        Trace(u"%hs: cleanfolder = %s", "", folder);
        const FolderTotals totals =
                ScanFilesInFolder(folder, cachePatterns(), cacheOptions(), m_foundList);
        ItemsFound += totals.Count;
        BytesFound += totals.Bytes;
    }
}

void firefox_cache::Clean()
{
    ItemsCleaned = 0;
    BytesCleaned = 0;
    const FirefoxProfileLocation &location = ProfileLocation();
    FileList unused;
    for (const std::u16string &folder : CacheFolders()) {
        if (folder.starts_with(location.profileFolder))
            Trace(u"%hs: cachefolder != 0, clean folder %s*.*", "", folder);
        else
            Trace(u"%hs: localcachefolder != 0, clean folder %s*.*", "", folder);
        const FolderTotals totals =
                CleanFilesInFolder(folder, cachePatterns(), cacheOptions(), unused);
        ItemsCleaned += totals.Count;
        BytesCleaned += totals.Bytes;
    }
}

} // namespace diskcleaner
