#pragma once

#include <platform/Registry.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// The text forms of Wine's registry files: escaped names and strings, value lines, key lines.
// Decoding accepts everything Wine's loader accepts; encoding writes exactly what Wine writes, so
// a decoded and re-encoded Wine line comes back byte for byte.
namespace platform::wineregistry {

// Where an escaped text stands: key paths escape "[" and "]", names and string data escape '"'.
enum class Quoting { KeyPath, String };

// Appends the escaped form of a text (backslash, quotes or brackets, control characters in C or
// octal form, units above 0x7f as \x hex), without surrounding quotes or brackets.
void appendEscaped(std::string &out, std::u16string_view text, Quoting quoting);

// Decodes an escaped text that starts at position (just after its opening quote or bracket) and
// ends at the first unescaped terminator ('"' or ']'). On success position is just after the
// terminator. False when the line ends first.
bool decodeEscaped(std::string_view line, std::size_t &position, char terminator,
                   std::u16string &out);

// The position just after the terminator of an escaped text starting at position, without
// decoding it; npos when the line ends first.
std::size_t skipEscaped(std::string_view line, std::size_t position, char terminator);

// The outcome of reading a value line.
enum class ValueLine {
    Value,     // name and data read
    BadData,   // the name was read, the data is malformed or of an unknown form
    Malformed, // not even the name could be read
};

// Reads one value line: the name part ("@" or a quoted name), "=", and the data in any of Wine's
// forms. A hex value may continue over further lines, each previous one ending in "\"; the text
// holds all of them, with their line ends.
ValueLine decodeValueLine(std::string_view text, std::u16string &name, RegistryValue &value);

// Appends a value line as Wine writes it, ending in "\n": the string forms for well-terminated
// string types, dword for four-byte dwords, hex otherwise, wrapped as Wine wraps it.
void appendValueLine(std::string &out, std::u16string_view name, const RegistryValue &value);

// Whether a value line (starting at its name) continues on the next line: a hex value whose line
// ends in a backslash.
bool valueLineContinues(std::string_view line);

// Whether a continuation line of a hex value continues once more.
bool continuationLineContinues(std::string_view line);

// Appends "#time=" and the time in Wine's form: lowercase hex, no leading zeros; no line end.
void appendTimeLine(std::string &out, FileTime time);

// The key-line form of a time: whole seconds since 1970.
std::uint32_t keyLineSeconds(FileTime time);

// Appends the key-line form of a time in decimal.
void appendKeyLineSeconds(std::string &out, FileTime time);

} // namespace platform::wineregistry
