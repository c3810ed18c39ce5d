#pragma once

#include <string>

namespace platform {

// Finds out whether a Wine server runs for a prefix. While one runs it owns the prefix's registry:
// it read the files when it started, and it writes its own copy back over them while running and
// when it exits, so changes made to the files meanwhile would be lost.
//
// A running server holds a write lock on the first byte of the "lock" file in its server folder,
// "<root>/.wine-<uid>/server-<device>-<inode>/", or with Debian's Wine "<root>/<name>/server-...",
// where the prefix's "wineserver" file holds the name. The guard only looks: taking the lock
// would stop Wine from starting.
class RegistryServerGuard final
{
public:
    // serverRoot is the folder that holds the server folders: "/tmp" for Wine.
    explicit RegistryServerGuard(std::string prefixPath, std::string serverRoot = "/tmp");

    // The process id of the server running for the prefix; 0 when none runs.
    long runningServer() const;

private:
    std::string m_prefixPath;
    std::string m_serverRoot;
};

} // namespace platform
