#pragma once

#include "UniqueFd.h"

#include <platform/RecycleBin.h>

#include <cstdint>
#include <optional>
#include <string>

namespace platform {

// One freedesktop.org trash folder, held open. `files/` holds the deleted entries as they were,
// `info/` one `<name>.trashinfo` per entry, `directorysizes` an optional cache of folder sizes.
// An item is an info file whose entry exists in `files/`; nothing here follows a link below the
// trash folder or descends into another file system.
class TrashFolder final
{
public:
    // The home trash at that path. Links on the way to it are followed: they are the user's own.
    static TrashFolder openHome(const std::string &path);

    // `<top>/.Trash/<uid>` of a mount: used only when `.Trash` is a real folder with the sticky
    // bit, so that no other user can have replaced `<uid>`, and `<uid>` is a real folder owned by
    // that user.
    static TrashFolder openShared(const std::string &top, std::uint32_t userId);

    // `<top>/.Trash-<uid>` of a mount: used only when it is a real folder owned by that user.
    static TrashFolder openPrivate(const std::string &top, std::uint32_t userId);

    // True when a trash folder is here, whether it can be read or not.
    bool exists() const { return m_state != State::Absent; }

    // The items and their bytes; zero when there is no trash folder here; empty when it exists
    // but cannot be read. Sizes below folders that cannot be read are left out.
    std::optional<RecycleBinSize> size() const;

    // Removes every item: its entry in `files/` (a folder with everything below it), then its info
    // file, then its line of `directorysizes`. An info file without an entry and an entry without
    // an info file are no items and stay: the first is what another program writes before it
    // moves a file in, the second what it leaves while it restores one.
    RecycleBinEmptied empty() const;

private:
    enum class State { Absent, Open, Unreadable };

    TrashFolder(State state, UniqueFd folder);

    State m_state = State::Absent;
    UniqueFd m_folder;
};

} // namespace platform
