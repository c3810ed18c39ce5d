#pragma once

#include <disk_cleaner/FileList.h>
#include <disk_cleaner/FolderTotals.h>
#include <disk_cleaner/ScanOptions.h>

#include <string>
#include <string_view>
#include <vector>

namespace platform {
class Folder;
struct DirectoryEntry;
} // namespace platform

// The folder walk that most cleaning items come down to: the files of one folder (perhaps with
// its subfolders) that match a list of patterns are listed (scan) or deleted (clean), and their
// number and bytes added up.
//
// The walk works only through open folder handles of the current machine: it opens the base
// folder once and every subfolder through its parent, deletes through the parent, and never
// enters or removes a link to a folder. So nothing outside the base folder's tree is touched,
// even when a subfolder is swapped for a link while the walk runs; a link to a file is deleted as
// a link, its target stays.
//
// Paths are built in one process-wide buffer of 260 UTF-16 units, so only one walk may run at a
// time in the process. A file, folder or pattern whose complete path would not fit (259
// characters at most) is skipped: it is neither listed, deleted, entered nor counted.
//
// Nothing is reported to the caller: what cannot be listed, read or removed is simply not
// counted. Each walk tests the stop request (StopRequest.h) before each file and each folder.
namespace diskcleaner {

// The file-name patterns of one walk, in order, each with the Windows wildcards ("*.*",
// "cookies.txt"). An empty pattern lists nothing; an empty list lists nothing.
using PatternList = std::vector<std::u16string>;

enum class WalkMode {
    Scan,   // list qualifying files, change nothing
    Delete, // delete qualifying files and emptied subfolders
};

// What ProcessFile did with one file.
enum class FileResult {
    NotDeleted = 0, // the file should have gone but could not be deleted
    Handled = 1,    // listed (scan) or deleted (clean)
    TooYoung = 2,   // left alone: last written fewer than MinAgeDays whole days ago
};

// Lists every qualifying file of the folder (a Windows path; a trailing "\" is added when
// missing) into `found`, as a complete Windows path, and returns their number and bytes.
// Nothing on disk changes, even with DelBaseFolder.
FolderTotals ScanFilesInFolder(std::u16string_view folder, const PatternList &patterns,
                               const ScanOptions &options, FileList &found);

// Deletes every qualifying file of the folder, removes the subfolders that the walk emptied and,
// with DelBaseFolder, the base folder. Returns the number and bytes deleted; `found` is not
// touched.
FolderTotals CleanFilesInFolder(std::u16string_view folder, const PatternList &patterns,
                                const ScanOptions &options, FileList &found);

// One walk from its base folder. Sets `totals` from zero. Order of work: the files of a folder,
// pattern by pattern in listing order (a file that matches two patterns is handled once per
// pattern); then, with Recursive, the subfolders depth first, each removed in delete mode right
// after its own walk unless a file in it was too young; the base folder last. SubFolderOnly acts
// on the base folder alone. Returns true when a file, in the base folder or below, was left alone
// because it was too young.
bool ProcessFilesInFolder(std::u16string_view baseFolder, const PatternList &patterns,
                          const ScanOptions &options, FileList &found, FolderTotals &totals,
                          WalkMode mode);

// Handles one listed file: checks its age against MinAgeDays (in whole days, on the clock of the
// current machine; a last-write time in the future counts as old enough), then appends `path` to
// `found` (scan) or deletes the entry through `folder` (delete). `entry` must come from a listing
// of `folder`: whether the file may go (not read-only) is taken from it, not read again.
FileResult ProcessFile(const platform::Folder &folder, std::u16string_view path, FileList &found,
                       const ScanOptions &options, const platform::DirectoryEntry &entry,
                       WalkMode mode);

} // namespace diskcleaner
