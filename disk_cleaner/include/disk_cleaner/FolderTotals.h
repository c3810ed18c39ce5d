#pragma once

#include <cstdint>

namespace diskcleaner {

// The result of one folder walk, added up over the whole tree.
struct FolderTotals
{
    // Files listed (scan) or deleted (clean).
    std::uint64_t Count = 0;
    // Their sizes added up, each the complete 64-bit size of the directory listing.
    std::uint64_t Bytes = 0;
};

} // namespace diskcleaner
