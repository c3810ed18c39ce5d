#include "IndexDatFile.h"

#include <platform/Text.h>
#include <platform/UrlCache.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <limits>
#include <set>

namespace platform {

namespace {

// Header fields.
constexpr std::size_t signatureSize = 28;
constexpr std::size_t fileSizeField = 0x1C;
constexpr std::size_t hashTableField = 0x20;
constexpr std::size_t capacityField = 0x24;
constexpr std::size_t blocksInUseField = 0x28;
constexpr std::size_t normalUsageField = 0x38;
constexpr std::size_t exemptUsageField = 0x40;
constexpr std::size_t directoryCountField = 0x48;
constexpr std::size_t directoriesField = 0x4C;
constexpr std::size_t directoryEntrySize = 12; // files in it, then an 8-character name
constexpr std::size_t directoryNameSize = 8;
constexpr std::size_t maxDirectories = 32;
constexpr std::size_t blockMapField = 0x250;
constexpr std::uint32_t maxCapacity =
        (IndexDatFile::firstBlockOffset - blockMapField) * 8; // blocks the map can describe

// Hash table fields.
constexpr std::size_t nextTableField = 0x08;
constexpr std::size_t slotsField = 0x10;
constexpr std::size_t slotSize = 8;
constexpr std::size_t wineSlots = 448; // Wine's tables have this many, the rest is padding

// Slot keys that mark a slot without an entry: deleted, free (Wine), unused (Windows).
constexpr std::uint32_t deletedSlotKey = 1;
bool isEmptySlot(std::uint32_t key)
{
    return key == deletedSlotKey || key == 3 || key == 0x0BADF00D || key == 0xDEADBEEF;
}

// URL record fields.
constexpr std::size_t sizeField = 0x20;
constexpr std::size_t urlField = 0x34;
constexpr std::size_t directoryField = 0x38;
constexpr std::size_t localNameField = 0x3C;
constexpr std::size_t typeField = 0x40;
constexpr std::size_t fileWriteTimeField = 0x5C;
constexpr std::size_t smallestUrlRecord = 0x68;

constexpr char wineSignature[signatureSize] = "WINE URLCache Ver 0.2012001";
constexpr std::string_view winePrefix = "WINE URLCache Ver ";
constexpr char windowsSignature[signatureSize] = "Client UrlCache MMF Ver 5.2";

// A name that stays inside the folder it is looked up in.
bool isPlainName(std::string_view name)
{
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of("/\\") == std::string_view::npos;
}

void write32(std::vector<std::uint8_t> &bytes, std::size_t offset, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        bytes[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

void write64(std::vector<std::uint8_t> &bytes, std::size_t offset, std::uint64_t value)
{
    for (int i = 0; i < 8; ++i)
        bytes[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

std::uint32_t read32At(const std::vector<std::uint8_t> &bytes, std::size_t offset)
{
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i)
        value = (value << 8) | bytes[offset + i];
    return value;
}

std::uint64_t read64At(const std::vector<std::uint8_t> &bytes, std::size_t offset)
{
    return read32At(bytes, offset) | (std::uint64_t(read32At(bytes, offset + 4)) << 32);
}

void appendCodePoint(std::u16string &text, char32_t codePoint)
{
    if (codePoint < 0x10000) {
        text += static_cast<char16_t>(codePoint);
    } else {
        codePoint -= 0x10000;
        text += static_cast<char16_t>(0xD800 + (codePoint >> 10));
        text += static_cast<char16_t>(0xDC00 + (codePoint & 0x3FF));
    }
}

// Decodes the part of an internationalised host label after "xn--": the characters outside
// ASCII are packed as variable-length numbers behind the last '-'. Empty when the text is not
// a valid encoding.
std::optional<std::u16string> decodePunycode(std::string_view input)
{
    constexpr std::uint32_t base = 36, tmin = 1, tmax = 26, skew = 38, damp = 700;
    constexpr std::uint32_t maxValue = std::numeric_limits<std::uint32_t>::max();

    auto adapt = [](std::uint32_t delta, std::uint32_t points, bool first) {
        delta = first ? delta / damp : delta / 2;
        delta += delta / points;
        std::uint32_t k = 0;
        while (delta > ((base - tmin) * tmax) / 2) {
            delta /= base - tmin;
            k += base;
        }
        return k + (base - tmin + 1) * delta / (delta + skew);
    };
    auto digitOf = [](char c) -> std::optional<std::uint32_t> {
        if (c >= 'a' && c <= 'z')
            return c - 'a';
        if (c >= 'A' && c <= 'Z')
            return c - 'A';
        if (c >= '0' && c <= '9')
            return c - '0' + 26;
        return std::nullopt;
    };

    std::vector<char32_t> output;
    const std::size_t delimiter = input.rfind('-');
    std::size_t position = 0;
    if (delimiter != std::string_view::npos) {
        for (std::size_t i = 0; i < delimiter; ++i) {
            if (static_cast<unsigned char>(input[i]) >= 0x80)
                return std::nullopt;
            output.push_back(static_cast<unsigned char>(input[i]));
        }
        position = delimiter + 1;
    }

    std::uint32_t n = 0x80, i = 0, bias = 72;
    while (position < input.size()) {
        const std::uint32_t oldI = i;
        std::uint32_t weight = 1;
        for (std::uint32_t k = base;; k += base) {
            if (position >= input.size())
                return std::nullopt;
            const std::optional<std::uint32_t> digit = digitOf(input[position++]);
            if (!digit || *digit > (maxValue - i) / weight)
                return std::nullopt;
            i += *digit * weight;
            const std::uint32_t threshold = k <= bias ? tmin : k >= bias + tmax ? tmax : k - bias;
            if (*digit < threshold)
                break;
            if (weight > maxValue / (base - threshold))
                return std::nullopt;
            weight *= base - threshold;
        }
        const auto points = static_cast<std::uint32_t>(output.size() + 1);
        bias = adapt(i - oldI, points, oldI == 0);
        if (i / points > maxValue - n)
            return std::nullopt;
        n += i / points;
        i %= points;
        if (n > 0x10FFFF || (n >= 0xD800 && n <= 0xDFFF))
            return std::nullopt;
        output.insert(output.begin() + i, n);
        ++i;
    }

    std::u16string text;
    for (char32_t codePoint : output)
        appendCodePoint(text, codePoint);
    return text;
}

bool startsWithIgnoringCase(std::string_view text, std::string_view prefix)
{
    if (text.size() < prefix.size())
        return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        const char a = text[i] >= 'A' && text[i] <= 'Z' ? char(text[i] - 'A' + 'a') : text[i];
        if (a != prefix[i])
            return false;
    }
    return true;
}

std::u16string decodeHost(std::string_view host)
{
    std::u16string result;
    std::size_t start = 0;
    for (;;) {
        const std::size_t dot = host.find('.', start);
        const std::string_view label = host.substr(start, dot - start);
        std::optional<std::u16string> decoded;
        if (startsWithIgnoringCase(label, "xn--"))
            decoded = decodePunycode(label.substr(4));
        result += decoded ? *decoded : fromUtf8(label);
        if (dot == std::string_view::npos)
            break;
        result += u'.';
        start = dot + 1;
    }
    return result;
}

} // namespace

IndexDatFile::IndexDatFile(std::vector<std::uint8_t> bytes)
    : m_bytes(std::move(bytes))
{
    readHeader();
    if (m_readable)
        readHashTables();
}

std::size_t IndexDatFile::largestFileSize()
{
    return firstBlockOffset + std::size_t(maxCapacity) * blockSize;
}

std::uint32_t IndexDatFile::read32(std::size_t offset) const
{
    return read32At(m_bytes, offset);
}

std::uint64_t IndexDatFile::read64(std::size_t offset) const
{
    return read64At(m_bytes, offset);
}

void IndexDatFile::fail(std::string problem)
{
    if (m_problem.empty())
        m_problem = std::move(problem);
}

void IndexDatFile::readHeader()
{
    if (m_bytes.size() < firstBlockOffset) {
        fail("the file is shorter than its header");
        return;
    }
    const auto *signature = reinterpret_cast<const char *>(m_bytes.data());
    const bool wine = std::memcmp(signature, wineSignature, signatureSize) == 0;
    const bool windows = std::memcmp(signature, windowsSignature, signatureSize) == 0;
    if (!wine && !windows) {
        fail(std::string_view(signature, winePrefix.size()) == winePrefix
                     ? "the index was written by another version of Wine"
                     : "the file is not a URL cache index");
        return;
    }
    m_readable = true;
    m_wine = wine;

    const std::uint32_t fileSize = read32(fileSizeField);
    if (fileSize != m_bytes.size())
        fail("the header gives a file size of " + std::to_string(fileSize) +
             " bytes, the file has " + std::to_string(m_bytes.size()));

    const std::uint32_t capacity = read32(capacityField);
    if (std::uint64_t(firstBlockOffset) + std::uint64_t(capacity) * blockSize != fileSize)
        fail("the header's block count does not match its file size");
    m_capacity = std::min(capacity, maxCapacity);
    m_recordsEnd = std::min(m_bytes.size(), firstBlockOffset + std::size_t(m_capacity) * blockSize);

    std::uint32_t allocated = 0;
    bool beyondCapacity = false;
    for (std::size_t byte = blockMapField; byte < firstBlockOffset; ++byte) {
        const std::uint32_t firstBlock = std::uint32_t(byte - blockMapField) * 8;
        for (std::uint32_t bit = 0; bit < 8; ++bit) {
            if (!(m_bytes[byte] & (1u << bit)))
                continue;
            if (firstBlock + bit < m_capacity)
                ++allocated;
            else
                beyondCapacity = true;
        }
    }
    if (beyondCapacity)
        fail("the block map has blocks allocated beyond the file's capacity");
    if (allocated != read32(blocksInUseField))
        fail("the header counts " + std::to_string(read32(blocksInUseField)) +
             " blocks in use, the block map " + std::to_string(allocated));

    const std::uint32_t directoryCount = read32(directoryCountField);
    if (directoryCount > maxDirectories)
        fail("the header lists more cache folders than it has room for");
    for (std::size_t i = 0; i < std::min<std::size_t>(directoryCount, maxDirectories); ++i) {
        const auto *name = reinterpret_cast<const char *>(m_bytes.data()) + directoriesField +
                           i * directoryEntrySize + 4;
        const std::string_view text(name, strnlen(name, directoryNameSize));
        if (!isPlainName(text))
            fail("a cache folder has no usable name");
        m_directories.emplace_back(text);
    }
    m_claimed.assign(m_capacity, false);
}

bool IndexDatFile::claim(std::uint32_t offset, std::uint32_t blocks, std::string_view what)
{
    const std::uint64_t end = std::uint64_t(offset) + std::uint64_t(blocks) * blockSize;
    const std::string where = std::string(what) + " at " + std::to_string(offset);
    if (offset < firstBlockOffset || (offset - firstBlockOffset) % blockSize != 0) {
        fail(where + " does not start at a block");
        return false;
    }
    if (blocks == 0 || end > m_recordsEnd) {
        fail(where + " does not fit in the blocks");
        return false;
    }
    const std::uint32_t first = (offset - firstBlockOffset) / blockSize;
    for (std::uint32_t block = first; block < first + blocks; ++block) {
        if (m_claimed[block])
            fail(where + " overlaps another record");
        if (!(m_bytes[blockMapField + block / 8] & (1u << (block % 8))))
            fail(where + " lies in free blocks");
        m_claimed[block] = true;
    }
    return true;
}

void IndexDatFile::readHashTables()
{
    std::set<std::uint32_t> seen;
    for (std::uint32_t table = read32(hashTableField); table != 0;
         table = read32(table + nextTableField)) {
        if (!seen.insert(table).second) {
            fail("the hash tables form a loop");
            return;
        }
        if (std::uint64_t(table) + slotsField > m_recordsEnd ||
            std::memcmp(m_bytes.data() + table, "HASH", 4) != 0) {
            fail("a hash table is missing");
            return;
        }
        const std::uint32_t blocks = read32(table + 4);
        if (!claim(table, blocks, "a hash table"))
            return;
        std::size_t slots = (std::size_t(blocks) * blockSize - slotsField) / slotSize;
        if (m_wine)
            slots = std::min(slots, wineSlots);
        for (std::size_t slot = 0; slot < slots; ++slot) {
            const std::uint32_t slotOffset = table + slotsField + std::uint32_t(slot * slotSize);
            if (!isEmptySlot(read32(slotOffset)))
                readRecord(read32(slotOffset + 4), slotOffset);
        }
    }
}

void IndexDatFile::readRecord(std::uint32_t offset, std::uint32_t slotOffset)
{
    if (offset < firstBlockOffset || std::uint64_t(offset) + 8 > m_recordsEnd) {
        fail("a hash slot points outside the blocks");
        return;
    }
    const std::uint32_t blocks = read32(offset + 4);
    if (!claim(offset, blocks, "a record"))
        return;
    if (std::memcmp(m_bytes.data() + offset, "URL ", 4) != 0)
        return; // redirections and record types of other writers are no entries to report
    const std::size_t length = std::size_t(blocks) * blockSize;
    if (length < smallestUrlRecord) {
        fail("a URL record is too short");
        return;
    }

    // A text inside the record, ending before the record ends.
    auto textAt = [&](std::size_t field) -> std::optional<std::string> {
        const std::uint32_t start = read32(offset + field);
        if (start >= length)
            return std::nullopt;
        const auto *text = reinterpret_cast<const char *>(m_bytes.data()) + offset + start;
        const std::size_t size = strnlen(text, length - start);
        if (size == length - start)
            return std::nullopt;
        return std::string(text, size);
    };

    UrlRecord record;
    record.offset = offset;
    record.slotOffset = slotOffset;
    record.blocks = blocks;
    record.type = read32(offset + typeField);
    record.size = read64(offset + sizeField);
    record.directory = m_bytes[offset + directoryField];
    record.fileWriteTime = read32(offset + fileWriteTimeField);
    const std::optional<std::string> url = textAt(urlField);
    if (!url || url->empty()) {
        fail("a URL record has no URL");
        return;
    }
    record.url = *url;
    if (read32(offset + localNameField) != 0) {
        const std::optional<std::string> name = textAt(localNameField);
        if (!name) {
            fail("a URL record's file name runs past its end");
            record.fileKnown = false;
        } else if (!name->empty()) {
            record.localName = *name;
            const bool folderKnown = record.directory == noDirectory ||
                                     (record.directory < m_directories.size() &&
                                      isPlainName(m_directories[record.directory]));
            if (!isPlainName(*name) || !folderKnown) {
                fail("a URL record names its file in a way that leads nowhere");
                record.fileKnown = false;
            }
        }
    }
    m_records.push_back(std::move(record));
}

std::optional<IndexDatFile::Removal>
IndexDatFile::removal(const std::vector<std::size_t> &recordIndexes) const
{
    if (!isConsistent())
        return std::nullopt;
    std::vector<std::size_t> indexes = recordIndexes;
    std::sort(indexes.begin(), indexes.end());
    indexes.erase(std::unique(indexes.begin(), indexes.end()), indexes.end());
    if (!indexes.empty() && indexes.back() >= m_records.size())
        return std::nullopt;

    Removal removal;
    std::vector<std::uint8_t> header(m_bytes.begin(), m_bytes.begin() + firstBlockOffset);
    std::size_t headerEnd = exemptUsageField + 8;
    for (std::size_t index : indexes) {
        const UrlRecord &record = m_records[index];
        removal.slotWrites.push_back({record.slotOffset, {deletedSlotKey, 0, 0, 0}});

        write32(header, blocksInUseField, read32At(header, blocksInUseField) - record.blocks);
        const std::size_t usageField =
                (record.type & StickyCacheEntry) ? exemptUsageField : normalUsageField;
        const std::uint64_t usage = read64At(header, usageField);
        write64(header, usageField, usage > record.size ? usage - record.size : 0);
        if (record.directory < m_directories.size()) {
            const std::size_t filesField = directoriesField + record.directory * directoryEntrySize;
            if (const std::uint32_t files = read32At(header, filesField))
                write32(header, filesField, files - 1);
            headerEnd = std::max(headerEnd, filesField + 4);
        }
        const std::uint32_t first = (record.offset - firstBlockOffset) / blockSize;
        for (std::uint32_t block = first; block < first + record.blocks; ++block)
            header[blockMapField + block / 8] &= static_cast<std::uint8_t>(~(1u << (block % 8)));
        headerEnd = std::max<std::size_t>(headerEnd,
                                          blockMapField + (first + record.blocks - 1) / 8 + 1);
    }
    removal.headerWrite.offset = blocksInUseField;
    removal.headerWrite.bytes.assign(header.begin() + blocksInUseField, header.begin() + headerEnd);
    return removal;
}

std::vector<std::uint8_t> IndexDatFile::applied(const Removal &removal) const
{
    std::vector<std::uint8_t> bytes = m_bytes;
    auto apply = [&bytes](const Write &write) {
        if (write.offset + write.bytes.size() <= bytes.size())
            std::copy(write.bytes.begin(), write.bytes.end(), bytes.begin() + write.offset);
    };
    for (const Write &write : removal.slotWrites)
        apply(write);
    apply(removal.headerWrite);
    return bytes;
}

std::u16string IndexDatFile::decodeUrl(std::string_view stored)
{
    const std::size_t colon = stored.find(':');
    if (colon == std::string_view::npos)
        return fromUtf8(stored);
    const std::string_view scheme = stored.substr(0, colon);
    const bool web = (scheme.size() == 4 && startsWithIgnoringCase(scheme, "http")) ||
                     (scheme.size() == 5 && startsWithIgnoringCase(scheme, "https"));
    if (!web || stored.substr(colon + 1, 2) != "//")
        return fromUtf8(stored);

    const std::size_t authorityStart = colon + 3;
    const std::size_t authorityEnd =
            std::min(stored.find_first_of("/\\?#", authorityStart), stored.size());
    const std::string_view authority = stored.substr(authorityStart, authorityEnd - authorityStart);
    const std::size_t at = authority.rfind('@');
    const std::size_t hostStart = authorityStart + (at == std::string_view::npos ? 0 : at + 1);
    const std::size_t hostEnd = std::min(stored.find(':', hostStart), authorityEnd);

    return fromUtf8(stored.substr(0, hostStart)) +
           decodeHost(stored.substr(hostStart, hostEnd - hostStart)) +
           fromUtf8(stored.substr(hostEnd));
}

std::optional<std::uint32_t> IndexDatFile::dosDateTime(std::uint64_t fileTime)
{
    using namespace std::chrono;
    constexpr std::int64_t ticksPerSecond = 10000000;
    constexpr std::int64_t secondsBefore1970 = 11644473600;
    const sys_seconds time{seconds(std::int64_t(fileTime / ticksPerSecond) - secondsBefore1970)};
    const sys_days day = floor<days>(time);
    const year_month_day date{day};
    const hh_mm_ss<seconds> clock{time - day};
    const int year = int(date.year());
    if (year < 1980 || year > 2107)
        return std::nullopt;
    const std::uint32_t dosDate =
            std::uint32_t(year - 1980) << 9 | unsigned(date.month()) << 5 | unsigned(date.day());
    const std::uint32_t dosTime = std::uint32_t(clock.hours().count()) << 11 |
                                  std::uint32_t(clock.minutes().count()) << 5 |
                                  std::uint32_t(clock.seconds().count()) / 2;
    return dosDate | dosTime << 16;
}

std::u16string IndexDatFile::decodeName(std::string_view stored)
{
    // Windows-1252 differs from Latin-1 only in 0x80-0x9F; its five unassigned bytes there map to
    // the control characters of the same value, as Windows maps them.
    static constexpr char16_t high[32] = {
            0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
            0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
            0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
    std::u16string text;
    text.reserve(stored.size());
    for (char c : stored) {
        const auto byte = static_cast<unsigned char>(c);
        text += byte >= 0x80 && byte < 0xA0 ? high[byte - 0x80] : char16_t(byte);
    }
    return text;
}

} // namespace platform
