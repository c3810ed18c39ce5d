#include "WineRegistryText.h"

#include <array>

namespace platform::wineregistry {

namespace {

constexpr std::size_t npos = std::string_view::npos;

// Wine wraps hex data once a line grows past this many characters.
constexpr std::size_t hexWrapColumn = 76;

constexpr std::array<char, 16> hexDigits = {'0', '1', '2', '3', '4', '5', '6', '7',
                                            '8', '9', 'a', 'b', 'c', 'd', 'e', 'f'};

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool isAsciiHexDigit(char16_t unit)
{
    return unit < 0x80 && hexValue(static_cast<char>(unit)) >= 0;
}

bool isSpace(char c)
{
    return c == ' ' || c == '\t';
}

void skipSpaces(std::string_view line, std::size_t &position)
{
    while (position < line.size() && isSpace(line[position]))
        ++position;
}

// The line without one trailing carriage return, as Wine reads lines.
std::string_view withoutCarriageReturn(std::string_view line)
{
    if (!line.empty() && line.back() == '\r')
        line.remove_suffix(1);
    return line;
}

bool endsWithBackslash(std::string_view line)
{
    std::size_t end = line.size();
    while (end > 0 && (isSpace(line[end - 1]) || line[end - 1] == '\r'))
        --end;
    return end > 0 && line[end - 1] == '\\';
}

void appendHex(std::string &out, std::uint64_t number, int minimumDigits)
{
    char digits[16];
    int count = 0;
    do {
        digits[count++] = hexDigits[number & 0xf];
        number >>= 4;
    } while (number != 0);
    while (count < minimumDigits)
        digits[count++] = '0';
    while (count > 0)
        out.push_back(digits[--count]);
}

void appendOctal(std::string &out, unsigned number, int minimumDigits)
{
    char digits[8];
    int count = 0;
    do {
        digits[count++] = static_cast<char>('0' + (number & 7));
        number >>= 3;
    } while (number != 0);
    while (count < minimumDigits)
        digits[count++] = '0';
    while (count > 0)
        out.push_back(digits[--count]);
}

void appendDecimal(std::string &out, std::uint32_t number)
{
    char digits[10];
    int count = 0;
    do {
        digits[count++] = static_cast<char>('0' + number % 10);
        number /= 10;
    } while (number != 0);
    while (count > 0)
        out.push_back(digits[--count]);
}

void appendCodePoint(std::u16string &out, char32_t codePoint)
{
    if (codePoint < 0x10000) {
        out.push_back(static_cast<char16_t>(codePoint));
        return;
    }
    codePoint -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (codePoint >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (codePoint & 0x3FF)));
}

// Decodes one UTF-8 sequence at position and advances past it. A byte that does not start a
// well-formed sequence is skipped on its own and yields nothing, as Wine's loader does.
void decodeUtf8(std::string_view line, std::size_t &position, std::u16string &out)
{
    const auto lead = static_cast<unsigned char>(line[position]);
    std::size_t length = 0;
    char32_t codePoint = 0;
    char32_t smallest = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        codePoint = lead & 0x1F;
        smallest = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        codePoint = lead & 0x0F;
        smallest = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        codePoint = lead & 0x07;
        smallest = 0x10000;
    } else {
        ++position;
        return;
    }
    if (position + length > line.size()) {
        ++position;
        return;
    }
    for (std::size_t i = 1; i < length; ++i) {
        const auto byte = static_cast<unsigned char>(line[position + i]);
        if ((byte & 0xC0) != 0x80) {
            ++position;
            return;
        }
        codePoint = (codePoint << 6) | (byte & 0x3F);
    }
    if (codePoint < smallest || codePoint > 0x10FFFF ||
        (codePoint >= 0xD800 && codePoint <= 0xDFFF)) {
        ++position;
        return;
    }
    appendCodePoint(out, codePoint);
    position += length;
}

void appendUnitsLittleEndian(std::vector<std::uint8_t> &data, std::u16string_view units)
{
    data.reserve(data.size() + units.size() * 2 + 2);
    for (const char16_t unit : units) {
        data.push_back(static_cast<std::uint8_t>(unit & 0xff));
        data.push_back(static_cast<std::uint8_t>(unit >> 8));
    }
}

// Reads comma-separated hex bytes from position to the end of the value, following "\"
// continuations onto the next lines of text. lineEnd is the end of the current line in text.
bool decodeHexBytes(std::string_view text, std::size_t position, std::size_t lineEnd,
                    std::vector<std::uint8_t> &data)
{
    std::string_view line = withoutCarriageReturn(text.substr(0, lineEnd));
    while (true) {
        skipSpaces(line, position);
        if (position == line.size())
            return true;
        if (line[position] == '\\') {
            ++position;
            skipSpaces(line, position);
            if (position != line.size() || lineEnd + 1 >= text.size())
                return false;
            // Continue on the next line, whose leading spaces are skipped.
            position = lineEnd + 1;
            lineEnd = text.find('\n', position);
            if (lineEnd == npos)
                lineEnd = text.size();
            line = withoutCarriageReturn(text.substr(0, lineEnd));
            continue;
        }
        const int high = hexValue(line[position]);
        if (high < 0)
            return false;
        int byte = high;
        ++position;
        if (position < line.size() && hexValue(line[position]) >= 0) {
            byte = byte * 16 + hexValue(line[position]);
            ++position;
        }
        data.push_back(static_cast<std::uint8_t>(byte));
        skipSpaces(line, position);
        if (position == line.size())
            return true;
        if (line[position] == ',')
            ++position;
        else if (line[position] != '\\')
            return false;
    }
}

// Reads hex digits into a 32-bit number; false when there are none or too many.
bool decodeHexNumber(std::string_view line, std::size_t &position, std::uint32_t &number)
{
    std::uint64_t value = 0;
    const std::size_t start = position;
    while (position < line.size() && hexValue(line[position]) >= 0) {
        value = value * 16 + static_cast<std::uint64_t>(hexValue(line[position]));
        if (value > 0xffffffffULL)
            return false;
        ++position;
    }
    number = static_cast<std::uint32_t>(value);
    return position > start;
}

bool startsWith(std::string_view text, std::size_t position, std::string_view prefix)
{
    return text.substr(position, prefix.size()) == prefix;
}

// Skips the name part and the "=" of a value line; npos when they are malformed.
std::size_t dataStart(std::string_view line)
{
    std::size_t position = 0;
    skipSpaces(line, position);
    if (position == line.size())
        return npos;
    if (line[position] == '@')
        ++position;
    else if (line[position] == '"')
        position = skipEscaped(line, position + 1, '"');
    else
        return npos;
    if (position == npos)
        return npos;
    skipSpaces(line, position);
    if (position == line.size() || line[position] != '=')
        return npos;
    ++position;
    skipSpaces(line, position);
    return position;
}

} // namespace

void appendEscaped(std::string &out, std::u16string_view text, Quoting quoting)
{
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t unit = text[i];
        const bool hasNext = i + 1 < text.size();
        const char16_t next = hasNext ? text[i + 1] : u'\0';
        if (unit > 0x7f) {
            // A following hex digit would be read as part of the escape: pad it to its limit.
            out += "\\x";
            appendHex(out, unit, hasNext && isAsciiHexDigit(next) ? 4 : 1);
            continue;
        }
        if (unit < 0x20) {
            char letter = 0;
            switch (unit) {
            case 7:
                letter = 'a';
                break;
            case 8:
                letter = 'b';
                break;
            case 9:
                letter = 't';
                break;
            case 10:
                letter = 'n';
                break;
            case 11:
                letter = 'v';
                break;
            case 12:
                letter = 'f';
                break;
            case 13:
                letter = 'r';
                break;
            case 27:
                letter = 'e';
                break;
            default:
                break;
            }
            out.push_back('\\');
            if (letter != 0)
                out.push_back(letter);
            else
                appendOctal(out, unit, hasNext && next >= u'0' && next <= u'7' ? 3 : 1);
            continue;
        }
        const char c = static_cast<char>(unit);
        if (c == '\\' || (quoting == Quoting::String && c == '"') ||
            (quoting == Quoting::KeyPath && (c == '[' || c == ']')))
            out.push_back('\\');
        out.push_back(c);
    }
}

bool decodeEscaped(std::string_view line, std::size_t &position, char terminator,
                   std::u16string &out)
{
    while (position < line.size()) {
        const char c = line[position];
        if (c == terminator) {
            ++position;
            return true;
        }
        if (static_cast<unsigned char>(c) >= 0x80) {
            decodeUtf8(line, position, out);
            continue;
        }
        if (c != '\\') {
            out.push_back(static_cast<char16_t>(c));
            ++position;
            continue;
        }
        if (++position == line.size())
            return false;
        const char escape = line[position];
        switch (escape) {
        case 'a':
            out.push_back(7);
            ++position;
            continue;
        case 'b':
            out.push_back(8);
            ++position;
            continue;
        case 'e':
            out.push_back(27);
            ++position;
            continue;
        case 'f':
            out.push_back(12);
            ++position;
            continue;
        case 'n':
            out.push_back(10);
            ++position;
            continue;
        case 'r':
            out.push_back(13);
            ++position;
            continue;
        case 't':
            out.push_back(9);
            ++position;
            continue;
        case 'v':
            out.push_back(11);
            ++position;
            continue;
        default:
            break;
        }
        if (escape == 'x') {
            ++position;
            unsigned unit = 0;
            int digits = 0;
            while (digits < 4 && position < line.size() && hexValue(line[position]) >= 0) {
                unit = unit * 16 + static_cast<unsigned>(hexValue(line[position]));
                ++position;
                ++digits;
            }
            out.push_back(digits == 0 ? u'x' : static_cast<char16_t>(unit));
            continue;
        }
        if (escape >= '0' && escape <= '7') {
            unsigned unit = 0;
            int digits = 0;
            while (digits < 3 && position < line.size() && line[position] >= '0' &&
                   line[position] <= '7') {
                unit = unit * 8 + static_cast<unsigned>(line[position] - '0');
                ++position;
                ++digits;
            }
            out.push_back(static_cast<char16_t>(unit));
            continue;
        }
        // Any other escaped character stands for itself; a non-ASCII one is read as UTF-8.
        if (static_cast<unsigned char>(escape) >= 0x80) {
            decodeUtf8(line, position, out);
            continue;
        }
        out.push_back(static_cast<char16_t>(escape));
        ++position;
    }
    return false;
}

std::size_t skipEscaped(std::string_view line, std::size_t position, char terminator)
{
    while (position < line.size()) {
        const char c = line[position];
        if (c == terminator)
            return position + 1;
        position += c == '\\' ? 2 : 1;
    }
    return npos;
}

ValueLine decodeValueLine(std::string_view text, std::u16string &name, RegistryValue &value)
{
    name.clear();
    value.type = RegNone;
    value.data.clear();
    std::size_t lineEnd = text.find('\n');
    if (lineEnd == npos)
        lineEnd = text.size();
    const std::string_view line = withoutCarriageReturn(text.substr(0, lineEnd));

    std::size_t position = 0;
    skipSpaces(line, position);
    if (position == line.size())
        return ValueLine::Malformed;
    if (line[position] == '@') {
        ++position;
    } else if (line[position] == '"') {
        ++position;
        if (!decodeEscaped(line, position, '"', name))
            return ValueLine::Malformed;
    } else {
        return ValueLine::Malformed;
    }
    skipSpaces(line, position);
    if (position == line.size() || line[position] != '=')
        return ValueLine::BadData;
    ++position;
    skipSpaces(line, position);

    struct StringForm
    {
        std::string_view tag;
        std::uint32_t type;
    };
    static constexpr StringForm stringForms[] = {{"\"", RegSz},
                                                 {"str:\"", RegSz},
                                                 {"str(2):\"", RegExpandSz},
                                                 {"str(7):\"", RegMultiSz}};
    for (const StringForm &form : stringForms) {
        if (!startsWith(line, position, form.tag))
            continue;
        position += form.tag.size();
        std::u16string units;
        if (!decodeEscaped(line, position, '"', units))
            return ValueLine::BadData;
        units.push_back(u'\0');
        value.type = form.type;
        appendUnitsLittleEndian(value.data, units);
        return ValueLine::Value;
    }
    if (startsWith(line, position, "hex:")) {
        value.type = RegBinary;
        if (!decodeHexBytes(text, position + 4, lineEnd, value.data))
            return ValueLine::BadData;
        return ValueLine::Value;
    }
    if (startsWith(line, position, "dword:")) {
        position += 6;
        std::uint32_t number = 0;
        if (!decodeHexNumber(line, position, number))
            return ValueLine::BadData;
        skipSpaces(line, position);
        if (position != line.size())
            return ValueLine::BadData;
        value.type = RegDword;
        for (int shift = 0; shift < 32; shift += 8)
            value.data.push_back(static_cast<std::uint8_t>(number >> shift));
        return ValueLine::Value;
    }
    if (startsWith(line, position, "hex(")) {
        position += 4;
        std::uint32_t type = 0;
        if (!decodeHexNumber(line, position, type) || !startsWith(line, position, "):"))
            return ValueLine::BadData;
        value.type = type;
        if (!decodeHexBytes(text, position + 2, lineEnd, value.data))
            return ValueLine::BadData;
        return ValueLine::Value;
    }
    return ValueLine::BadData;
}

void appendValueLine(std::string &out, std::u16string_view name, const RegistryValue &value)
{
    const std::size_t lineStart = out.size();
    if (name.empty()) {
        out.push_back('@');
    } else {
        out.push_back('"');
        appendEscaped(out, name, Quoting::String);
        out.push_back('"');
    }
    out.push_back('=');

    const std::vector<std::uint8_t> &data = value.data;
    const bool stringType =
            value.type == RegSz || value.type == RegExpandSz || value.type == RegMultiSz;
    if (stringType && data.size() >= 2 && data.size() % 2 == 0 && data[data.size() - 1] == 0 &&
        data[data.size() - 2] == 0) {
        if (value.type == RegExpandSz)
            out += "str(2):";
        else if (value.type == RegMultiSz)
            out += "str(7):";
        std::u16string units;
        units.reserve(data.size() / 2 - 1);
        for (std::size_t i = 0; i + 2 < data.size(); i += 2)
            units.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));
        out.push_back('"');
        appendEscaped(out, units, Quoting::String);
        out += "\"\n";
        return;
    }
    if (value.type == RegDword && data.size() == 4) {
        out += "dword:";
        const std::uint32_t number = static_cast<std::uint32_t>(data[0]) |
                                     (static_cast<std::uint32_t>(data[1]) << 8) |
                                     (static_cast<std::uint32_t>(data[2]) << 16) |
                                     (static_cast<std::uint32_t>(data[3]) << 24);
        appendHex(out, number, 8);
        out.push_back('\n');
        return;
    }
    if (value.type == RegBinary) {
        out += "hex:";
    } else {
        out += "hex(";
        appendHex(out, value.type, 1);
        out += "):";
    }
    std::size_t column = out.size() - lineStart;
    for (std::size_t i = 0; i < data.size(); ++i) {
        out.push_back(hexDigits[data[i] >> 4]);
        out.push_back(hexDigits[data[i] & 0xf]);
        column += 2;
        if (i + 1 == data.size())
            break;
        out.push_back(',');
        if (++column > hexWrapColumn) {
            out += "\\\n  ";
            column = 2;
        }
    }
    out.push_back('\n');
}

bool valueLineContinues(std::string_view line)
{
    const std::size_t position = dataStart(line);
    return position != npos && startsWith(line, position, "hex") && endsWithBackslash(line);
}

bool continuationLineContinues(std::string_view line)
{
    return endsWithBackslash(line);
}

void appendTimeLine(std::string &out, FileTime time)
{
    out += "#time=";
    appendHex(out, time, 1);
}

std::uint32_t keyLineSeconds(FileTime time)
{
    if (time < fileTimeUnixEpoch)
        return 0;
    return static_cast<std::uint32_t>((time - fileTimeUnixEpoch) / fileTimeTicksPerSecond);
}

void appendKeyLineSeconds(std::string &out, FileTime time)
{
    appendDecimal(out, keyLineSeconds(time));
}

} // namespace platform::wineregistry
