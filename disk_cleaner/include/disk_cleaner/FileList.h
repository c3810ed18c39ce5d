#pragma once

#include <string>
#include <vector>

namespace diskcleaner {

// An ordered list of wide texts: the things a cleaning item found (complete file paths, cache
// entry addresses, registry value paths), one per entry.
using FileList = std::vector<std::u16string>;

} // namespace diskcleaner
