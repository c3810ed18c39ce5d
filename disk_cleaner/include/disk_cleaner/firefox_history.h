#pragma once

#include <disk_cleaner/firefox_base.h>

#include <cstdint>
#include <optional>
#include <string_view>

namespace diskcleaner {

// Firefox's browsing history: the visits in the profile's "places.sqlite" and the "History.dat"
// of older versions. Bookmarks and every other table of the database stay.
//
// The database is left untouched, and nothing is counted from it, when it is missing, locked by
// another program (the running browser), damaged, or has no visit table.
class firefox_history final : public firefox_base
{
public:
    firefox_history();

    // Finds "History.dat" (its bytes) and counts the visits: ItemsFound is the number of visits
    // when the database answered, otherwise the number of "History.dat" files.
    void DoScan(bool rescan) override;

    // Deletes "History.dat" and every visit, then compacts the database. ItemsCleaned counts the
    // file and the visits really deleted, BytesCleaned the file's bytes.
    void Clean() override;

    // The number of visits in a places database (a Windows path); empty when it cannot be
    // counted.
    static std::optional<std::uint64_t> CountVisits(std::u16string_view databasePath);

    // Deletes every visit of a places database and compacts it; the number deleted, or empty
    // when nothing was deleted because the database could not be used.
    static std::optional<std::uint64_t> DeleteVisits(std::u16string_view databasePath);
};

} // namespace diskcleaner
