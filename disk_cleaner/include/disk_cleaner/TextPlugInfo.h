#pragma once

#include <disk_cleaner/FileList.h>
#include <disk_cleaner/PlugInfo.h>
#include <disk_cleaner/ScanOptions.h>

#include <memory>
#include <string>

namespace diskcleaner {

// A cleaning item described by a plug-in definition file: an INI file whose [Info] section gives
// the item's texts, whose [files] lines name file patterns in folders (through path macros) and
// whose [registry] lines name registry keys and values (PluginRegistry.h). The format is
// described in plug-ins/README.md.
//
// The file belongs to the program, not to the machine being cleaned, so its path is a host path.
// [Info] is read once, at construction; [files] and [registry] at every scan, and [registry]
// again at every clean. A file that is missing, unreadable or of 4 GiB or more makes the scan and
// the clean do nothing; a broken line is passed over. Nothing in one file can affect another
// item.
//
// Recursive [files] entries pass the SafetyNet first: a walk that it refuses is neither scanned
// nor cleaned, and the trace says why.
class TextPlugInfo final : public PlugInfo
{
public:
    // Reads the title, description, process and application from the file at that host path.
    explicit TextPlugInfo(std::u16string pluginFile);

    // Deletes the registry entries the file names (read again now) and the files of the folder
    // list that the last scan built; without an earlier scan only registry entries go. Afterwards
    // the found list holds one "Deleted: " entry per deleted registry value.
    void Clean() override;
    void Rescan() override;
    void Scan() override;
    void GetFileList(FileList &list) const override;

    const std::u16string &pluginFile() const { return m_pluginFile; }
    // The process and application the file names; the application is "Unknown" when the file
    // names a process but no application, and empty when it names no process.
    const std::u16string &process() const { return Process; }
    const std::u16string &application() const { return Application; }

    // The [files] entries of the last scan after expansion, options still attached.
    const FileList &folderList() const { return m_folderList; }

private:
    void DoScan(bool rescan);

    std::u16string m_pluginFile;
    FileList m_folderList;
    FileList m_foundList;
};

// Makes the item of one plug-in file (a host path): the factory that CreateCleaningItems takes.
std::unique_ptr<PlugInfo> CreateTextPlugInfo(const std::u16string &pluginFile);

// Reads the options of a [files] entry and cuts them off: everything from the first "/" on goes.
// Each "/S" (any case) sets Recursive; a letter after it adds FilesOnly ("F"), DelBaseFolder
// ("I") or SubFolderOnly ("O"), in any case. Options combine ("/SO/SI"); a "/" followed by
// another letter sets nothing. The text before the first "/" is left as it is.
ScanOptions GetScanOptions(std::u16string &entry);

} // namespace diskcleaner
