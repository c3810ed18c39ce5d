#pragma once

#include <string>
#include <string_view>

// Text helpers of the platform layer. Windows texts are UTF-16 (std::u16string); host file names
// and paths are UTF-8 (std::string).
namespace platform {

// Converts UTF-8 to UTF-16; invalid bytes become U+FFFD.
std::u16string fromUtf8(std::string_view utf8);

// Converts UTF-16 to UTF-8; unpaired surrogates become U+FFFD.
std::string toUtf8(std::u16string_view utf16);

// Converts a plain ASCII literal or any narrow UTF-8 text to UTF-16 (shorthand for fromUtf8).
inline std::u16string u16(std::string_view utf8)
{
    return fromUtf8(utf8);
}

// Unicode simple case folding of one UTF-16 unit (BMP), as Windows compares names.
char16_t foldCase(char16_t unit);

// Folds a whole text, unit by unit.
std::u16string foldCase(std::u16string_view text);

// True when two names are equal without regard to case.
bool equalsIgnoreCase(std::u16string_view a, std::u16string_view b);

// Compares without regard to case: negative, zero or positive, ordinal on the folded units.
int compareIgnoreCase(std::u16string_view a, std::u16string_view b);

// Matches a file name against a Windows wildcard pattern without regard to case: "*" matches any
// run of characters, "?" one character, "*.*" every name (with or without a dot), and a pattern
// ending in "." also matches names that have no extension.
bool matchesWildcard(std::u16string_view name, std::u16string_view pattern);

} // namespace platform
