#pragma once

#include <disk_cleaner/FileList.h>

#include <cstdint>
#include <string>

namespace diskcleaner {

// A cleaning item: one thing the disk cleaner can analyse and clean (a folder of temporary files,
// a browser cache, a plug-in definition). The owner calls Scan() before Clean(). An item reports
// no errors: what cannot be read or removed is skipped, and the counters show what was found or
// removed. Items are not thread-safe; only one item works at a time in the process.
class PlugInfo
{
public:
    PlugInfo() = default;
    virtual ~PlugInfo();
    PlugInfo(const PlugInfo &) = delete;
    PlugInfo &operator=(const PlugInfo &) = delete;

    // The counters and texts keep their values from one operation to the next; each concrete
    // Scan() and Clean() decides whether it starts from zero.
    std::uint64_t GetBytesFound() const { return BytesFound; }
    std::uint64_t GetBytesCleaned() const { return BytesCleaned; }
    std::uint64_t GetItemsFound() const { return ItemsFound; }
    std::uint64_t GetItemsCleaned() const { return ItemsCleaned; }
    const std::u16string &GetTitle() const { return Title; }
    const std::u16string &GetDescription() const { return Description; }

    // Removes what the item covers; sets ItemsCleaned and BytesCleaned.
    virtual void Clean() = 0;
    // Does exactly what Scan() does.
    virtual void Rescan() = 0;
    // Finds what the item would remove without changing anything; sets ItemsFound, BytesFound
    // and the found list.
    virtual void Scan() = 0;
    // Appends every entry of the found list to the given list, in order.
    virtual void GetFileList(FileList &list) const = 0;

protected:
    // The item's name; the disk page links the item to its catalogue entry and result row by it.
    std::u16string Title;
    // One sentence on what the item removes.
    std::u16string Description;
    std::uint64_t ItemsFound = 0;
    std::uint64_t BytesFound = 0;
    std::uint64_t ItemsCleaned = 0;
    std::uint64_t BytesCleaned = 0;
    // File name of the program whose data the item cleans ("firefox.exe"); often empty.
    std::u16string Process;
    // Display name of that program ("Firefox"); often empty.
    std::u16string Application;
};

} // namespace diskcleaner
