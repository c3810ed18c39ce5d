#pragma once

#include <disk_cleaner/PlugInfo.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace diskcleaner {

// Makes the cleaning item of one plug-in definition file, given the file's path; null when it
// cannot.
using PlugInFactory =
        std::function<std::unique_ptr<PlugInfo>(const std::u16string &definitionFile)>;

// The plug-in definition files in a folder (a host path): the files whose suffix, after the last
// ".", is "dct" in any case, hidden files left out, sorted by name without regard to case. Each
// comes as the folder, "/" and the file name. Empty when the folder cannot be listed.
std::vector<std::u16string> PlugInDefinitionFiles(const std::string &folder);

// Every cleaning item, in the order the disk page lists them and the command line shows them:
// the temporary files (with the disk page's settings), the recycle bin, the recent documents,
// the browser items, then one item per plug-in definition file of the folder, made by the
// factory. Without a factory there are no plug-in items; a file the factory makes nothing of is
// left out. Needs the current machine: the temporary-files item chooses its folder here.
std::vector<std::unique_ptr<PlugInfo>> CreateCleaningItems(const std::string &plugInFolder,
                                                           const PlugInFactory &createPlugIn);

} // namespace diskcleaner
