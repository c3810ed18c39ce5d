#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

// What a recycle bin holds. A deleted folder is one item whose bytes are the sizes of all the
// files below it.
struct RecycleBinSize
{
    std::uint64_t items = 0;
    std::uint64_t bytes = 0;
};

// The bin of one drive, as RecycleBin::query() reports it.
struct RecycleBinQuery
{
    RecycleBinSize size;

    // Equal for drives that share one bin, different for drives that do not. A caller summing
    // over drives adds the size once per identity. Only compare it: its content is the backend's.
    std::string identity;
};

// What RecycleBin::empty() really removed.
struct RecycleBinEmptied
{
    std::uint64_t itemsRemoved = 0;
    std::uint64_t bytesRemoved = 0; // includes the removed part of an item that partly stays
    bool complete = true;           // false when any item, or any part of one, stays
};

// The recycle bins of the machine's fixed drives.
class RecycleBin
{
public:
    virtual ~RecycleBin() = default;

    // The bin of the drive with that root ("C:\", SHQueryRecycleBinW); empty when the drive is
    // missing or not fixed, or its bin cannot be read.
    virtual std::optional<RecycleBinQuery> query(std::u16string_view root) const = 0;

    // Empties the bin of every fixed drive, each shared bin once, without asking or showing
    // anything (SHEmptyRecycleBinW); never follows a link. Reports what went and whether all did.
    virtual RecycleBinEmptied empty() const = 0;
};

} // namespace platform
