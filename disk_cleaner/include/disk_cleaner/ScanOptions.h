#pragma once

#include <cstdint>

namespace diskcleaner {

// The options of one folder walk. A record with every field 0 or false processes the files
// directly in one folder, skips system files and has no age limit.
struct ScanOptions
{
    // A file last written fewer whole days ago than this is left alone; 0 means no age limit.
    std::uint32_t MinAgeDays = 0;
    // Also process every subfolder, to any depth.
    bool Recursive = false;
    // Leave the files directly in the base folder alone and process only its subfolders.
    bool SubFolderOnly = false;
    // After a clean, also remove the base folder itself (a scan never removes it).
    bool DelBaseFolder = false;
    // Set by the plug-in option /SF. The folder walk does not consult it: emptied subfolders are
    // removed whatever it says.
    bool FilesOnly = false;
    // Also process files that carry the system attribute.
    bool IncludeSystemFiles = false;
};

} // namespace diskcleaner
