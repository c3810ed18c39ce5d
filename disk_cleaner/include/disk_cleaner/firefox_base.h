#pragma once

#include <disk_cleaner/FileList.h>
#include <disk_cleaner/PlugInfo.h>

#include <string>
#include <string_view>
#include <vector>

namespace diskcleaner {

// Where the Firefox items find the browser's data: the first profile of Firefox's profile list.
struct FirefoxProfileLocation
{
    // True once the profile folder is known; without it every Firefox operation does nothing.
    bool located = false;
    // The profile's folder (a Windows path without a trailing "\"): history, cookies, settings.
    std::u16string profileFolder;
    // The profile's folder below the user's local application data, where the disk cache lives;
    // for a profile given by an absolute path, the local Firefox folder itself. Empty when the
    // machine has no local application data folder.
    std::u16string localFolder;
};

// The common part of the Firefox items. The profile location is read once per process, by the
// first Firefox item constructed, from the current machine: a profile created later is not seen.
class firefox_base : public PlugInfo
{
public:
    ~firefox_base() override;

    void Scan() final;
    void Rescan() final;
    void GetFileList(FileList &list) const final;

    // The scan body of the concrete item; Scan() and Rescan() both come here, and the flag makes
    // no difference.
    virtual void DoScan(bool rescan) = 0;

    // The location every Firefox item of the process works on.
    static const FirefoxProfileLocation &ProfileLocation();

    // For tests only, which build a new machine for every case: forgets the location, so that the
    // next Firefox item constructed reads it again from the current machine.
    static void ForgetProfileLocation();

protected:
    firefox_base();

    // Sets the found list and ItemsFound/BytesFound from zero to the files of these exact names
    // directly in the profile folder. A name is resolved as Windows resolves it, so it stands
    // for one file at most, even where the host keeps names that differ only in case; folders,
    // system and offline files do not count.
    void ScanProfileFiles(const std::vector<std::u16string> &names);

    // Deletes the files of these names from the profile folder, those ScanProfileFiles would
    // count, and adds what was really deleted to ItemsCleaned and BytesCleaned. A file that
    // cannot be deleted stays and is traced with the failure text. A SQLite database goes only
    // together with its journal files, never without them: a journal left behind would be
    // replayed into whatever file takes the name next.
    void CleanFile(const std::vector<std::u16string> &names, std::u16string_view failureText);

    // The complete path of a file directly in the profile folder.
    static std::u16string ProfilePath(std::u16string_view name);

    FileList m_foundList;
};

} // namespace diskcleaner
