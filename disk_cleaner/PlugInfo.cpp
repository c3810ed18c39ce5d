#include <disk_cleaner/PlugInfo.h>

namespace diskcleaner {

PlugInfo::~PlugInfo() = default;

} // namespace diskcleaner
