#include <disk_cleaner/FolderProcessing.h>

#include "PathBuffer.h"

#include <disk_cleaner/StopRequest.h>
#include <disk_cleaner/Trace.h>

#include <platform/FileSystem.h>
#include <platform/Machine.h>
#include <platform/Text.h>

#include <memory>
#include <vector>

namespace diskcleaner {

namespace {

constexpr const char *walkOperation = "ProcessFilesInFolder";
constexpr const char *fileOperation = "ProcessFile";

constexpr std::uint64_t secondsPerDay = 86400;
constexpr std::u16string_view allEntries = u"*.*";

// The path of the current walk. One per process: walks do not run side by side.
PathBuffer &sharedPathBuffer()
{
    static PathBuffer buffer;
    return buffer;
}

// What stays the same over the folders of one walk.
struct Walk
{
    const PatternList &patterns;
    // The options that files and subfolders are handled with (SubFolderOnly cleared).
    const ScanOptions &options;
    FileList &found;
    FolderTotals &totals;
    WalkMode mode;
};

bool isSeparator(char16_t unit)
{
    return unit == u'\\' || unit == u'/';
}

// The base folder as the walk writes its paths: "\" as separator and one at the end.
std::u16string baseFolderText(std::u16string_view folder)
{
    std::u16string text(folder);
    for (char16_t &unit : text) {
        if (unit == u'/')
            unit = u'\\';
    }
    if (!text.empty() && text.back() != u'\\')
        text += u'\\';
    return text;
}

// The folder itself, without the trailing "\" that the walk keeps (a drive root keeps it).
std::u16string_view folderPath(std::u16string_view text)
{
    if (text.size() > 1 && isSeparator(text.back()) && text[text.size() - 2] != u':')
        text.remove_suffix(1);
    return text;
}

std::uint32_t skipMask(const ScanOptions &options)
{
    std::uint32_t mask = platform::AttributeDirectory | platform::AttributeOffline;
    if (!options.IncludeSystemFiles)
        mask |= platform::AttributeSystem;
    return mask;
}

// Walks one open folder whose path, ending in "\", stands in the path buffer. Returns true when a
// file in it or below was too young.
//
// The folder is listed once, and that listing serves every pattern and the subfolder step: each
// listing describes every entry (a status and an attribute read), so listing per pattern would
// multiply the cost of the walk. A file that a pattern already deleted is passed over by the
// later patterns, exactly as a fresh listing would no longer show it.
bool WalkFolder(const platform::Folder &folder, const Walk &walk, bool filesHere)
{
    PathBuffer &path = sharedPathBuffer();
    const std::size_t insertionPoint = path.length();
    bool tooYoung = false;

    std::vector<platform::DirectoryEntry> entries;
    if (filesHere || walk.options.Recursive)
        entries = folder.list(allEntries);
    std::vector<bool> deleted(entries.size(), false);

    if (filesHere) {
        const std::uint32_t mask = skipMask(walk.options);
        for (const std::u16string &pattern : walk.patterns) {
            if (StopRequested())
                return tooYoung;
            if (pattern.empty())
                continue;
            // As with the Windows listing functions, a pattern that does not fit lists nothing.
            if (!path.assign(insertionPoint, {pattern})) {
                Trace(u"%hs: path too long, not listing %s%s", walkOperation,
                      path.text().substr(0, insertionPoint), pattern);
                continue;
            }
            Trace(u"%hs: FindFirstFile(%s)", walkOperation, path.text());
            for (std::size_t index = 0; index < entries.size(); ++index) {
                const platform::DirectoryEntry &entry = entries[index];
                if (deleted[index] || !platform::matchesWildcard(entry.name, pattern))
                    continue;
                if (StopRequested())
                    return tooYoung;
                if (entry.attributes & mask)
                    continue;
                Trace(u"%hs: FindFirstFile() found: %s", walkOperation, entry.name);
                if (!path.assign(insertionPoint, {entry.name})) {
                    Trace(u"%hs: path too long, skipping %s%s", walkOperation,
                          path.text().substr(0, insertionPoint), entry.name);
                    continue;
                }
                switch (ProcessFile(folder, path.text(), walk.found, walk.options, entry,
                                    walk.mode)) {
                case FileResult::Handled:
                    ++walk.totals.Count;
                    walk.totals.Bytes += entry.size;
                    deleted[index] = walk.mode == WalkMode::Delete;
                    break;
                case FileResult::TooYoung:
                    tooYoung = true;
                    break;
                case FileResult::NotDeleted:
                    break;
                }
            }
        }
    }

    if (!walk.options.Recursive)
        return tooYoung;
    if (StopRequested())
        return tooYoung;
    path.assign(insertionPoint, {});
    Trace(u"%hs: Scan for subfolders of %s", walkOperation, path.text());
    if (!path.assign(insertionPoint, {allEntries}))
        return tooYoung;
    for (const platform::DirectoryEntry &entry : entries) {
        if (StopRequested())
            return tooYoung;
        if (!entry.isDirectory() || entry.name == u"." || entry.name == u"..")
            continue;
        if (TraceEnabled() && path.assign(insertionPoint, {allEntries}))
            Trace(u"%hs: FindFirstFile(%s) has subfolder %s", walkOperation, path.text(),
                  entry.name);
        // A link to a folder leads out of the tree: it is neither entered nor removed.
        if (entry.attributes & platform::AttributeReparsePoint) {
            Trace(u"%hs: not entering the link %s", walkOperation, entry.name);
            continue;
        }
        if (!path.assign(insertionPoint, {entry.name, u"\\"})) {
            Trace(u"%hs: path too long, skipping folder %s%s", walkOperation,
                  path.text().substr(0, insertionPoint), entry.name);
            continue;
        }
        // Opened through this folder without following links, so a subfolder swapped for a link
        // since the listing is refused here rather than entered.
        std::unique_ptr<platform::Folder> subfolder = folder.openSubfolder(entry.name);
        if (!subfolder) {
            Trace(u"%hs: cannot open the folder %s", walkOperation, path.text());
            continue;
        }
        const bool subfolderTooYoung = WalkFolder(*subfolder, walk, true);
        subfolder.reset();
        if (subfolderTooYoung)
            tooYoung = true;
        if (StopRequested())
            return tooYoung;
        if (walk.mode != WalkMode::Delete)
            continue;
        path.assign(insertionPoint, {entry.name});
        if (subfolderTooYoung) {
            Trace(u"Not removing folder %s: it contains files that aren't old enough to remove.",
                  path.text());
            continue;
        }
        Trace(u"Removing folder %s", path.text());
        if (!folder.removeSubfolder(entry.name))
            Trace(u"Could not remove folder %s as promised. It is probably not empty", path.text());
    }
    return tooYoung;
}

} // namespace

FolderTotals ScanFilesInFolder(std::u16string_view folder, const PatternList &patterns,
                               const ScanOptions &options, FileList &found)
{
    FolderTotals totals;
    ProcessFilesInFolder(folder, patterns, options, found, totals, WalkMode::Scan);
    return totals;
}

FolderTotals CleanFilesInFolder(std::u16string_view folder, const PatternList &patterns,
                                const ScanOptions &options, FileList &found)
{
    FolderTotals totals;
    ProcessFilesInFolder(folder, patterns, options, found, totals, WalkMode::Delete);
    return totals;
}

bool ProcessFilesInFolder(std::u16string_view baseFolder, const PatternList &patterns,
                          const ScanOptions &options, FileList &found, FolderTotals &totals,
                          WalkMode mode)
{
    Trace(u"%hs setting up %s...", walkOperation, baseFolder);
    totals = {};
    if (!platform::Machine::hasCurrent() || StopRequested())
        return false;
    const std::u16string base = baseFolderText(baseFolder);
    PathBuffer &path = sharedPathBuffer();
    if (base.empty() || !path.assign(0, {base})) {
        Trace(u"%hs: path too long, skipping %s", walkOperation, baseFolder);
        return false;
    }

    // SubFolderOnly applies to the files of the base folder alone.
    ScanOptions ownOptions = options;
    ownOptions.SubFolderOnly = false;
    const Walk walk{patterns, ownOptions, found, totals, mode};

    const platform::FileSystem &fileSystem = platform::Machine::current().fileSystem();
    bool tooYoung = false;
    if (std::unique_ptr<platform::Folder> folder = fileSystem.openFolder(folderPath(base)))
        tooYoung = WalkFolder(*folder, walk, !options.SubFolderOnly);
    else
        Trace(u"%hs: cannot open the folder %s", walkOperation, base);

    if (options.DelBaseFolder && !StopRequested()) {
        const std::u16string_view baseFolderPath = folderPath(base);
        if (mode == WalkMode::Delete) {
            Trace(u"%hs: Trying to delete %s", walkOperation, baseFolderPath);
            if (!fileSystem.removeDirectory(baseFolderPath))
                Trace(u"Unable to remove the base folder %s as requested (option /si)",
                      baseFolderPath);
        } else {
            Trace(u"%hs: Would try to delete %s", walkOperation, baseFolderPath);
        }
    }
    return tooYoung;
}

FileResult ProcessFile(const platform::Folder &folder, std::u16string_view path, FileList &found,
                       const ScanOptions &options, const platform::DirectoryEntry &entry,
                       WalkMode mode)
{
    Trace(u"%hs: processing file %s", fileOperation, path);
    if (options.MinAgeDays > 0) {
        Trace(u"%hs: Checking file age of %s", fileOperation, path);
        const platform::FileTime now = platform::Machine::current().fileSystem().currentTime();
        // Unsigned on purpose: a last-write time after now gives a huge age, so such a file
        // counts as old enough.
        const std::uint64_t ageDays =
                (now - entry.lastWriteTime) / platform::fileTimeTicksPerSecond / secondsPerDay;
        Trace(u"%hs: file age = %I64d days, minimum age = %d", fileOperation, ageDays,
              options.MinAgeDays);
        if (ageDays < options.MinAgeDays) {
            Trace(u"%hs: skipping %s", fileOperation, path);
            return FileResult::TooYoung;
        }
        Trace(u"%hs: adding %s", fileOperation, path);
    }

    if (mode == WalkMode::Scan) {
        found.emplace_back(path);
        return FileResult::Handled;
    }

    Trace(u"%hs: Delete %s", fileOperation, path);
    // The entry comes from the folder's own listing, which already says whether it may go.
    if (folder.deleteListedFile(entry)) {
        Trace(u"%hs: Deleted %s", fileOperation, path);
        return FileResult::Handled;
    }
    Trace(u"Could not delete file: %s", path);
    return FileResult::NotDeleted;
}

} // namespace diskcleaner
