#pragma once

#include <memory>
#include <string>

namespace platform {

class Machine;

// The Wine prefix to use: WINEPREFIX when set and not empty, otherwise ~/.wine.
std::string defaultPrefixPath();

// Opens a Wine prefix as the machine. Returns null and sets error (when given) to a sentence
// saying what is wrong when the folder is not a usable prefix (it needs a dosdevices folder or a
// drive_c folder). A relative path counts from the current folder; the machine's location() is
// the absolute path.
std::unique_ptr<Machine> openPrefixMachine(const std::string &prefixPath, std::string *error);

} // namespace platform
