#include <platform/IniFile.h>

#include <platform/FileSystem.h>
#include <platform/Text.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <new>

namespace platform {

namespace {

// Characters that count as blanks around lines, names and values. Control-Z is the old
// end-of-file mark that some editors still leave at the end of text files.
bool isBlank(char16_t unit)
{
    return unit == u' ' || unit == u'\t' || unit == u'\r' || unit == u'\n' || unit == u'\v' ||
           unit == u'\f' || unit == 0x1A;
}

std::u16string_view trimmed(std::u16string_view text)
{
    while (!text.empty() && isBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

// Windows-1252 code points of the bytes 0x80 to 0x9F; the five unassigned bytes map to the C1
// control of the same number, as Windows' own conversion does.
constexpr char16_t windows1252High[32] = {
        0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
        0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
        0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

// Reads one UTF-8 sequence at the start of bytes: its length in bytes, and the code point, or
// nothing when the sequence is broken (overlong forms, encoded surrogates and values above
// U+10FFFF count as broken).
std::size_t readUtf8Sequence(std::string_view bytes, std::optional<char32_t> &codePoint)
{
    const auto lead = static_cast<unsigned char>(bytes[0]);
    codePoint.reset();
    if (lead < 0x80) {
        codePoint = lead;
        return 1;
    }
    std::size_t length = 0;
    char32_t minimum = 0;
    char32_t value = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        minimum = 0x80;
        value = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        minimum = 0x800;
        value = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        minimum = 0x10000;
        value = lead & 0x07;
    } else {
        return 1;
    }
    if (bytes.size() < length)
        return 1;
    for (std::size_t offset = 1; offset < length; ++offset) {
        const auto next = static_cast<unsigned char>(bytes[offset]);
        if ((next & 0xC0) != 0x80)
            return 1;
        value = (value << 6) | (next & 0x3F);
    }
    if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
        return 1;
    codePoint = value;
    return length;
}

bool isValidUtf8(std::string_view bytes)
{
    std::optional<char32_t> codePoint;
    while (!bytes.empty()) {
        bytes.remove_prefix(readUtf8Sequence(bytes, codePoint));
        if (!codePoint)
            return false;
    }
    return true;
}

// Decoded text in one block that was allocated without throwing.
struct DecodedText
{
    std::unique_ptr<char16_t[]> units;
    std::size_t length = 0;
    std::u16string_view view() const { return {units.get(), length}; }
};

bool allocate(DecodedText &text, std::size_t length)
{
    text.length = length;
    if (length == 0)
        return true;
    text.units.reset(new (std::nothrow) char16_t[length]);
    return text.units != nullptr;
}

bool startsWith(std::string_view bytes, std::string_view mark)
{
    return bytes.substr(0, mark.size()) == mark;
}

// Decodes the bytes; false when the memory for the text could not be had.
bool decode(std::string_view bytes, IniFile::Encoding &encoding, DecodedText &text)
{
    if (startsWith(bytes, "\xFF\xFE") || startsWith(bytes, "\xFE\xFF")) {
        const bool littleEndian = bytes[0] == '\xFF';
        encoding = littleEndian ? IniFile::Encoding::Utf16LittleEndian
                                : IniFile::Encoding::Utf16BigEndian;
        bytes.remove_prefix(2);
        // A dangling last byte is no character.
        if (!allocate(text, bytes.size() / 2))
            return false;
        for (std::size_t index = 0; index < text.length; ++index) {
            const auto first = static_cast<unsigned char>(bytes[2 * index]);
            const auto second = static_cast<unsigned char>(bytes[2 * index + 1]);
            text.units[index] = littleEndian ? static_cast<char16_t>(first | (second << 8))
                                             : static_cast<char16_t>((first << 8) | second);
        }
        return true;
    }

    encoding = IniFile::Encoding::Utf8;
    if (startsWith(bytes, "\xEF\xBB\xBF")) {
        encoding = IniFile::Encoding::Utf8WithMark;
        bytes.remove_prefix(3);
    }
    // The mark is taken at its word: broken sequences after it become U+FFFD. Without a mark only
    // text that is UTF-8 throughout is read as UTF-8.
    if (encoding == IniFile::Encoding::Utf8WithMark || isValidUtf8(bytes)) {
        // Never more units than bytes: a four-byte sequence makes two units, a broken byte one.
        if (!allocate(text, bytes.size()))
            return false;
        std::size_t out = 0;
        std::optional<char32_t> codePoint;
        while (!bytes.empty()) {
            bytes.remove_prefix(readUtf8Sequence(bytes, codePoint));
            char32_t value = codePoint.value_or(0xFFFD);
            if (value >= 0x10000) {
                value -= 0x10000;
                text.units[out++] = static_cast<char16_t>(0xD800 + (value >> 10));
                text.units[out++] = static_cast<char16_t>(0xDC00 + (value & 0x3FF));
            } else {
                text.units[out++] = static_cast<char16_t>(value);
            }
        }
        text.length = out;
        return true;
    }

    // Not UTF-8: single-byte text in the Western Windows code page.
    encoding = IniFile::Encoding::Windows1252;
    if (!allocate(text, bytes.size()))
        return false;
    for (std::size_t index = 0; index < bytes.size(); ++index) {
        const auto byte = static_cast<unsigned char>(bytes[index]);
        text.units[index] = byte >= 0x80 && byte <= 0x9F ? windows1252High[byte - 0x80]
                                                         : static_cast<char16_t>(byte);
    }
    return true;
}

} // namespace

IniFile IniFile::fromBytes(std::string_view bytes)
{
    IniFile file;
    DecodedText text;
    if (!decode(bytes, file.m_encoding, text)) {
        file.m_status = LoadStatus::OutOfMemory;
        return file;
    }
    file.parse(text.view());
    return file;
}

IniFile IniFile::load(const std::string &hostPath, std::uint64_t maximumSize)
{
    IniFile file;
    if (hostPath.empty()) {
        file.m_status = LoadStatus::Missing;
        return file;
    }
    std::error_code error;
    const std::filesystem::file_status kind = std::filesystem::status(hostPath, error);
    if (kind.type() == std::filesystem::file_type::not_found) {
        file.m_status = LoadStatus::Missing;
        return file;
    }
    if (error) {
        file.m_status = LoadStatus::Unreadable;
        return file;
    }
    // Devices and pipes could deliver bytes without end; only regular files are read.
    if (kind.type() != std::filesystem::file_type::regular) {
        file.m_status = LoadStatus::NotAFile;
        return file;
    }
    const std::uintmax_t size = std::filesystem::file_size(hostPath, error);
    if (error) {
        file.m_status = LoadStatus::Unreadable;
        return file;
    }
    if (size >= maximumSize || size >= sizeLimit) {
        file.m_status = LoadStatus::TooLarge;
        return file;
    }

    std::ifstream stream(hostPath, std::ios::binary);
    if (!stream) {
        file.m_status = LoadStatus::Unreadable;
        return file;
    }
    const auto byteCount = static_cast<std::size_t>(size);
    std::unique_ptr<char[]> bytes;
    if (byteCount > 0) {
        bytes.reset(new (std::nothrow) char[byteCount]);
        if (!bytes) {
            file.m_status = LoadStatus::OutOfMemory;
            return file;
        }
        // A file that grows meanwhile is read up to its old size; one that shrinks is incomplete.
        stream.read(bytes.get(), static_cast<std::streamsize>(byteCount));
        if (static_cast<std::size_t>(stream.gcount()) != byteCount) {
            file.m_status = LoadStatus::Unreadable;
            return file;
        }
    }
    return fromBytes(std::string_view(bytes.get(), byteCount));
}

IniFile IniFile::load(const FileSystem &fileSystem, std::u16string_view windowsPath,
                      std::uint64_t maximumSize)
{
    return load(fileSystem.hostPath(windowsPath), maximumSize);
}

void IniFile::parse(std::u16string_view text)
{
    m_sections.clear();
    m_sections.push_back(Section{});
    while (!text.empty()) {
        // Lines end at LF; text without any LF left is split at CR instead (old Mac files).
        std::size_t end = text.find(u'\n');
        if (end == std::u16string_view::npos)
            end = text.find(u'\r');
        std::u16string_view line = text.substr(0, end);
        text.remove_prefix(end == std::u16string_view::npos ? text.size() : end + 1);

        line = line.substr(0, line.find(u'\0'));
        line = trimmed(line);
        if (line.empty() || line.front() == u';')
            continue;

        if (line.front() == u'[') {
            const std::size_t close = line.rfind(u']');
            if (close != std::u16string_view::npos && close > 0) {
                m_sections.push_back(
                        Section{std::u16string(trimmed(line.substr(1, close - 1))), {}});
                continue;
            }
        }

        Line entry;
        const std::size_t equals = line.find(u'=');
        if (equals == std::u16string_view::npos) {
            entry.text = line;
        } else {
            const std::u16string_view key = trimmed(line.substr(0, equals));
            const std::u16string_view value = trimmed(line.substr(equals + 1));
            entry.text.reserve(key.size() + 1 + value.size());
            entry.text.append(key).append(1, u'=').append(value);
            entry.equals = key.size();
        }
        m_sections.back().lines.push_back(std::move(entry));
    }
}

const IniFile::Section *IniFile::findSection(std::u16string_view name) const
{
    const auto found = std::find_if(m_sections.begin(), m_sections.end(), [&](const Section &s) {
        return equalsIgnoreCase(s.name, name);
    });
    return found == m_sections.end() ? nullptr : &*found;
}

const IniFile::Line *IniFile::findKey(std::u16string_view section, std::u16string_view key) const
{
    const Section *found = findSection(section);
    if (!found)
        return nullptr;
    for (const Line &line : found->lines) {
        if (line.equals != std::u16string::npos &&
            equalsIgnoreCase(std::u16string_view(line.text).substr(0, line.equals), key))
            return &line;
    }
    return nullptr;
}

std::optional<std::u16string> IniFile::value(std::u16string_view section,
                                             std::u16string_view key) const
{
    const Line *line = findKey(section, key);
    if (!line)
        return std::nullopt;
    std::u16string_view text = std::u16string_view(line->text).substr(line->equals + 1);
    if (text.size() >= 2 && (text.front() == u'"' || text.front() == u'\'') &&
        text.back() == text.front())
        text = text.substr(1, text.size() - 2);
    return std::u16string(text);
}

std::u16string IniFile::string(std::u16string_view section, std::u16string_view key,
                               std::u16string_view defaultValue, std::size_t capacity) const
{
    std::u16string result;
    if (std::optional<std::u16string> found = value(section, key)) {
        result = std::move(*found);
    } else {
        while (!defaultValue.empty() && defaultValue.back() == u' ')
            defaultValue.remove_suffix(1);
        result = defaultValue;
    }
    if (capacity == 0)
        result.clear();
    else if (result.size() > capacity - 1)
        result.resize(capacity - 1);
    return result;
}

std::vector<std::u16string> IniFile::section(std::u16string_view name, std::size_t capacity) const
{
    std::vector<std::u16string> lines;
    const Section *found = findSection(name);
    if (!found)
        return lines;
    // Room for the lines and their terminators, less the list's own final NUL.
    std::size_t room = capacity == unlimited ? unlimited : (capacity == 0 ? 0 : capacity - 1);
    for (const Line &line : found->lines) {
        if (room != unlimited && room < 2)
            break;
        const std::size_t length =
                room == unlimited ? line.text.size() : std::min(line.text.size(), room - 1);
        lines.push_back(line.text.substr(0, length));
        if (room != unlimited)
            room -= length + 1;
        if (length < line.text.size())
            break;
    }
    return lines;
}

std::uint32_t IniFile::integer(std::u16string_view section, std::u16string_view key,
                               std::int32_t defaultValue) const
{
    // Windows reads the text into a buffer of 30 characters first.
    const std::u16string text = string(section, key, u"", 30);
    if (text.empty())
        return static_cast<std::uint32_t>(defaultValue);

    std::u16string_view rest = text;
    while (!rest.empty() && rest.front() <= u' ')
        rest.remove_prefix(1);
    bool negative = false;
    if (!rest.empty() && (rest.front() == u'+' || rest.front() == u'-')) {
        negative = rest.front() == u'-';
        rest.remove_prefix(1);
    }
    std::uint32_t base = 10;
    if (rest.size() >= 2 && rest[0] == u'0' && (rest[1] == u'x' || rest[1] == u'X')) {
        base = 16;
        rest.remove_prefix(2);
    }
    std::uint32_t result = 0;
    for (const char16_t unit : rest) {
        std::uint32_t digit = 0;
        if (unit >= u'0' && unit <= u'9')
            digit = unit - u'0';
        else if (unit >= u'a' && unit <= u'f')
            digit = unit - u'a' + 10;
        else if (unit >= u'A' && unit <= u'F')
            digit = unit - u'A' + 10;
        else
            break;
        if (digit >= base)
            break;
        result = result * base + digit;
    }
    return negative ? 0U - result : result;
}

std::vector<std::u16string> IniFile::sectionNames() const
{
    std::vector<std::u16string> names;
    for (std::size_t index = 1; index < m_sections.size(); ++index)
        names.push_back(m_sections[index].name);
    return names;
}

std::vector<std::u16string> IniFile::keyNames(std::u16string_view section) const
{
    std::vector<std::u16string> names;
    if (const Section *found = findSection(section)) {
        for (const Line &line : found->lines) {
            if (line.equals != std::u16string::npos)
                names.push_back(line.text.substr(0, line.equals));
        }
    }
    return names;
}

bool IniFile::hasSection(std::u16string_view section) const
{
    return findSection(section) != nullptr;
}

} // namespace platform
