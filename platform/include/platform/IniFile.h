#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

class FileSystem;

// An INI file read once into memory and then asked the way Windows' profile functions
// (GetPrivateProfileStringW, GetPrivateProfileSectionW, GetPrivateProfileIntW) ask a file:
// - section and key names match without regard to case, and the first match wins: a repeated
//   section is never searched, a repeated key is never found;
// - lines are trimmed of blanks; a line whose first non-blank character is ";" is a comment and
//   invisible; "#" starts an ordinary line; a ";" later in a line belongs to the value;
// - lines before the first section header form a section with the empty name;
// - a header is "[" name "]" (the name trimmed, text after the last "]" ignored); a line that
//   starts with "[" but has no "]" is an ordinary line;
// - a line without "=" is kept for section reads but is no key;
// - a line's text ends at its first NUL character.
// Bytes are decoded as UTF-16LE or UTF-16BE when they start with that byte-order mark, as UTF-8
// after a UTF-8 mark (broken sequences become U+FFFD) or when they are valid UTF-8 throughout, and
// as Windows-1252 otherwise. Any bytes at all are accepted; a file that cannot be read leaves the
// object empty, with status() saying why.
class IniFile final
{
public:
    enum class LoadStatus {
        Loaded,      // read completely (also for an empty file)
        Missing,     // nothing at the path, or the path's drive has no root
        NotAFile,    // a folder or a device, never read
        TooLarge,    // at least as large as the limit given to load(); never read
        Unreadable,  // it exists but could not be read completely
        OutOfMemory, // the memory for its text could not be had
    };

    enum class Encoding { Utf8, Utf8WithMark, Utf16LittleEndian, Utf16BigEndian, Windows1252 };

    // Files of this many bytes and more are always refused: their size does not fit in 32 bits.
    static constexpr std::uint64_t sizeLimit = 0x100000000ULL;

    // "No limit" for the capacity arguments below.
    static constexpr std::size_t unlimited = static_cast<std::size_t>(-1);

    // An empty file: every section is empty and every lookup gives the default.
    IniFile() = default;

    // Parses bytes as they would be stored in a file.
    static IniFile fromBytes(std::string_view bytes);

    // Reads a host file. Only regular files (after following links) smaller than maximumSize
    // bytes are read, and never more bytes than the size they had when reading started.
    static IniFile load(const std::string &hostPath, std::uint64_t maximumSize = sizeLimit);

    // Reads the file a Windows path names on the given file system, as load() does.
    static IniFile load(const FileSystem &fileSystem, std::u16string_view windowsPath,
                        std::uint64_t maximumSize = sizeLimit);

    // How loading went. Objects made by fromBytes() or the default constructor are Loaded.
    LoadStatus status() const { return m_status; }

    // The encoding the bytes were decoded with (Utf8 for an empty or unread file).
    Encoding encoding() const { return m_encoding; }

    // The value of a key, trimmed, with one pair of matching outer quotes (" or ') removed; empty
    // when the key is absent. A present key with an empty value gives an empty text, not nothing.
    std::optional<std::u16string> value(std::u16string_view section, std::u16string_view key) const;

    // GetPrivateProfileStringW: the value as value() gives it, or else the default without its
    // trailing spaces. With a capacity (buffer size in characters, terminator included) the result
    // is cut to capacity - 1 characters; a capacity of 0 gives an empty text.
    std::u16string string(std::u16string_view section, std::u16string_view key,
                          std::u16string_view defaultValue, std::size_t capacity = unlimited) const;

    // GetPrivateProfileSectionW: every line of the first section of that name, in file order,
    // comments and blank lines left out. Key lines are "key=value" with both sides trimmed and
    // quotes kept; other lines are returned whole. With a capacity (buffer size in characters for
    // the NUL-separated list and its final NUL) the list is cut as Windows cuts it: the last line
    // that does not fit entirely is shortened, later lines are left out.
    std::vector<std::u16string> section(std::u16string_view section,
                                        std::size_t capacity = unlimited) const;

    // GetPrivateProfileIntW: the value read as a number (leading blanks, a sign, "0x" for
    // hexadecimal, digits up to the first other character; arithmetic modulo 2^32, so -1 gives
    // 4294967295). The default when the key is absent or its value empty.
    std::uint32_t integer(std::u16string_view section, std::u16string_view key,
                          std::int32_t defaultValue) const;

    // The names of the sections in file order, repeated names as often as they occur; the lines
    // before the first header are not listed.
    std::vector<std::u16string> sectionNames() const;

    // The key names of the first section of that name, in file order, every spelling of a repeated
    // key included; lines without "=" are no keys. Empty when the section is absent.
    std::vector<std::u16string> keyNames(std::u16string_view section) const;

    // True when a section of that name exists (even an empty one).
    bool hasSection(std::u16string_view section) const;

private:
    struct Line
    {
        std::u16string text;                       // trimmed, "=" and what follows included
        std::size_t equals = std::u16string::npos; // position of the first "=", if any
    };
    struct Section
    {
        std::u16string name;
        std::vector<Line> lines;
    };

    const Section *findSection(std::u16string_view name) const;
    const Line *findKey(std::u16string_view section, std::u16string_view key) const;
    void parse(std::u16string_view text);

    std::vector<Section> m_sections; // the first one holds the lines before any header
    LoadStatus m_status = LoadStatus::Loaded;
    Encoding m_encoding = Encoding::Utf8;
};

} // namespace platform
