#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// The bytes of one URL cache index ("index.dat"), checked as Wine checks an index it opens, and
// the changes that remove entries from it.
//
// The file is a 16 KiB header (counters, cache subfolder names and a map with one bit per
// 128-byte block) followed by the blocks. Records occupy whole blocks: hash tables, chained
// from the header, whose slots point at URL records. Removing an entry marks its slot deleted,
// clears its blocks in the map and takes it out of the header's counters; the record's bytes stay
// behind in free blocks, as WinINet leaves them.
class IndexDatFile final
{
public:
    static constexpr std::uint32_t blockSize = 0x80;
    static constexpr std::uint32_t firstBlockOffset = 0x4000;
    static constexpr std::uint8_t noDirectory = 0xFE;

    // One entry of the index: a URL record that a live hash slot points at.
    struct UrlRecord
    {
        std::uint32_t offset = 0;     // of the record in the file
        std::uint32_t slotOffset = 0; // of the hash slot that points at it
        std::uint32_t blocks = 0;
        std::uint32_t type = 0;
        std::uint64_t size = 0;
        std::string url;       // as stored: see decodeUrl()
        std::string localName; // of the cached file, in the ANSI code page; empty when none
        std::uint8_t directory = noDirectory; // index into directoryNames(), or noDirectory
        std::uint32_t fileWriteTime =
                0; // of the cached file when it was stored: DOS date | time << 16
        bool fileKnown =
                true; // false when the record names a file in a subfolder that is not there
    };

    // A change to the file: these bytes at that offset.
    struct Write
    {
        std::uint32_t offset = 0;
        std::vector<std::uint8_t> bytes;
    };

    // The writes that remove entries, to be made in this order: the hash slots, then (after they
    // are on disk) the header with its counters and block map. Stopping after any write leaves an
    // index that Wine accepts; at worst the blocks of a removed record stay allocated.
    struct Removal
    {
        std::vector<Write> slotWrites;
        Write headerWrite;
    };

    // Reads an index. Never fails: records that are intact are read even when the rest is not.
    explicit IndexDatFile(std::vector<std::uint8_t> bytes);

    // Files larger than this cannot be consistent: the block map has no room for more blocks.
    static std::size_t largestFileSize();

    // True when the index may be changed: the header agrees with the file and its block map, and
    // every record found is whole, in allocated blocks, apart from every other record.
    bool isConsistent() const { return m_problem.empty(); }

    // The first thing found wrong, for traces; empty when the index is consistent.
    const std::string &problem() const { return m_problem; }

    // The URL records, in the order of the hash tables.
    const std::vector<UrlRecord> &urlRecords() const { return m_records; }

    // The names of the cache subfolders, by index, in the ANSI code page.
    const std::vector<std::string> &directoryNames() const { return m_directories; }

    const std::vector<std::uint8_t> &bytes() const { return m_bytes; }

    // The writes that remove these records (indexes into urlRecords()); empty when the index is
    // not consistent or an index is out of range.
    std::optional<Removal> removal(const std::vector<std::size_t> &recordIndexes) const;

    // The bytes after a removal's writes.
    std::vector<std::uint8_t> applied(const Removal &removal) const;

    // A stored URL as WinINet reports it: the text is UTF-8, and the host of an http or https URL
    // is kept in its ASCII form ("xn--" labels), which is turned back into Unicode.
    static std::u16string decodeUrl(std::string_view stored);

    // A time as the index keeps the last-write times of cached files: the DOS date in the low 16
    // bits, the DOS time in the high 16 bits, of the UTC time to two seconds. Empty outside the
    // years 1980 to 2107, which a DOS date cannot hold.
    static std::optional<std::uint32_t> dosDateTime(std::uint64_t fileTime);

    // A stored file or folder name: WinINet keeps them in the ANSI code page, which Wine takes as
    // Windows-1252 in Western and UTF-8 Unix locales.
    static std::u16string decodeName(std::string_view stored);

private:
    std::uint32_t read32(std::size_t offset) const;
    std::uint64_t read64(std::size_t offset) const;
    void fail(std::string problem);

    void readHeader();
    void readHashTables();
    void readRecord(std::uint32_t offset, std::uint32_t slotOffset);

    // Marks the blocks of a record as taken; false, with a problem noted, when they are not all
    // allocated, are taken already or lie outside the blocks.
    bool claim(std::uint32_t offset, std::uint32_t blocks, std::string_view what);

    std::vector<std::uint8_t> m_bytes;
    std::string m_problem;
    std::vector<UrlRecord> m_records;
    std::vector<std::string> m_directories;
    std::uint32_t m_capacity = 0; // blocks that the map can describe
    std::size_t m_recordsEnd = 0; // end of the blocks that are in the file
    std::vector<bool> m_claimed;  // blocks taken by a record found so far
    bool m_readable = false;      // the header is known and its fields can be trusted to read
    bool m_wine = false;          // written by Wine rather than by Windows
};

} // namespace platform
