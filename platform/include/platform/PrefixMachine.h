#pragma once

#include <memory>
#include <string>

namespace platform {

class Machine;

// The Wine prefix to use: WINEPREFIX when set and not empty, otherwise ~/.wine.
std::string defaultPrefixPath();

// Opens a Wine prefix as the machine. Returns null and sets error when the folder is not a usable
// prefix (it needs a dosdevices folder or a drive_c folder).
std::unique_ptr<Machine> openPrefixMachine(const std::string &prefixPath, std::string *error);

} // namespace platform
