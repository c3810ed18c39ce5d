#include <platform/Text.h>

#include "CaseFoldingTable.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iterator>

namespace platform {

namespace {

constexpr char16_t replacementCharacter = 0xFFFD;

bool isHighSurrogate(char16_t unit)
{
    return unit >= 0xD800 && unit <= 0xDBFF;
}
bool isLowSurrogate(char16_t unit)
{
    return unit >= 0xDC00 && unit <= 0xDFFF;
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

void appendUtf8(std::string &out, char32_t codePoint)
{
    if (codePoint < 0x80) {
        out.push_back(static_cast<char>(codePoint));
    } else if (codePoint < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (codePoint >> 6)));
        out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    } else if (codePoint < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (codePoint >> 12)));
        out.push_back(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (codePoint >> 18)));
        out.push_back(static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    }
}

// Length in units of the character starting at position: 2 for a surrogate pair, else 1.
std::size_t characterLength(std::u16string_view text, std::size_t position)
{
    if (position + 1 < text.size() && isHighSurrogate(text[position]) &&
        isLowSurrogate(text[position + 1]))
        return 2;
    return 1;
}

// Matches "*" and "?" only; iterative with one remembered star, so the work stays proportional
// to name length times pattern length whatever the number of stars.
bool matchesStarsAndQuestionMarks(std::u16string_view name, std::u16string_view pattern)
{
    constexpr std::size_t none = std::u16string_view::npos;
    std::size_t n = 0;
    std::size_t p = 0;
    std::size_t starPattern = none;
    std::size_t starName = 0;
    while (n < name.size()) {
        if (p < pattern.size()) {
            if (pattern[p] == u'*') {
                starPattern = ++p;
                starName = n;
                continue;
            }
            if (pattern[p] == u'?') {
                n += characterLength(name, n);
                ++p;
                continue;
            }
            if (foldCase(pattern[p]) == foldCase(name[n])) {
                ++n;
                ++p;
                continue;
            }
        }
        if (starPattern == none)
            return false;
        // Let the last star take one more character and retry what follows it.
        starName += characterLength(name, starName);
        n = starName;
        p = starPattern;
    }
    while (p < pattern.size() && pattern[p] == u'*')
        ++p;
    return p == pattern.size();
}

} // namespace

std::u16string fromUtf8(std::string_view utf8)
{
    std::u16string out;
    out.reserve(utf8.size());
    std::size_t i = 0;
    while (i < utf8.size()) {
        const auto lead = static_cast<unsigned char>(utf8[i]);
        if (lead < 0x80) {
            out.push_back(lead);
            ++i;
            continue;
        }
        // The allowed range of the second byte depends on the lead byte, which rules out
        // overlong forms, encoded surrogates and values above U+10FFFF.
        std::size_t length = 0;
        unsigned char secondLow = 0x80;
        unsigned char secondHigh = 0xBF;
        char32_t codePoint = 0;
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
            codePoint = lead & 0x1F;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            codePoint = lead & 0x0F;
            if (lead == 0xE0)
                secondLow = 0xA0;
            else if (lead == 0xED)
                secondHigh = 0x9F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            codePoint = lead & 0x07;
            if (lead == 0xF0)
                secondLow = 0x90;
            else if (lead == 0xF4)
                secondHigh = 0x8F;
        } else {
            out.push_back(replacementCharacter);
            ++i;
            continue;
        }
        // A broken sequence becomes one replacement character; decoding resumes at the first
        // byte that did not fit.
        std::size_t used = 1;
        while (used < length && i + used < utf8.size()) {
            const auto byte = static_cast<unsigned char>(utf8[i + used]);
            const unsigned char low = used == 1 ? secondLow : 0x80;
            const unsigned char high = used == 1 ? secondHigh : 0xBF;
            if (byte < low || byte > high)
                break;
            codePoint = (codePoint << 6) | (byte & 0x3F);
            ++used;
        }
        if (used == length)
            appendCodePoint(out, codePoint);
        else
            out.push_back(replacementCharacter);
        i += used;
    }
    return out;
}

std::string toUtf8(std::u16string_view utf16)
{
    std::string out;
    out.reserve(utf16.size());
    for (std::size_t i = 0; i < utf16.size(); ++i) {
        const char16_t unit = utf16[i];
        if (isHighSurrogate(unit) && i + 1 < utf16.size() && isLowSurrogate(utf16[i + 1])) {
            appendUtf8(out, 0x10000 + ((char32_t(unit) - 0xD800) << 10) + (utf16[i + 1] - 0xDC00));
            ++i;
        } else if (isHighSurrogate(unit) || isLowSurrogate(unit)) {
            appendUtf8(out, replacementCharacter);
        } else {
            appendUtf8(out, unit);
        }
    }
    return out;
}

char16_t foldCase(char16_t unit)
{
    if (unit < 0x80)
        return unit >= u'A' && unit <= u'Z' ? static_cast<char16_t>(unit + 32) : unit;
    const auto after = std::upper_bound(
            std::begin(caseFoldingRanges), std::end(caseFoldingRanges), unit,
            [](char16_t value, const CaseFoldingRange &range) { return value < range.first; });
    if (after == std::begin(caseFoldingRanges))
        return unit;
    const CaseFoldingRange &range = *std::prev(after);
    if (unit > range.last || (unit - range.first) % range.step != 0)
        return unit;
    return static_cast<char16_t>(unit + range.offset);
}

std::u16string foldCase(std::u16string_view text)
{
    std::u16string out(text);
    for (char16_t &unit : out)
        unit = foldCase(unit);
    return out;
}

bool equalsIgnoreCase(std::u16string_view a, std::u16string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i] != b[i] && foldCase(a[i]) != foldCase(b[i]))
            return false;
    }
    return true;
}

int compareIgnoreCase(std::u16string_view a, std::u16string_view b)
{
    const std::size_t common = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < common; ++i) {
        const char16_t left = foldCase(a[i]);
        const char16_t right = foldCase(b[i]);
        if (left != right)
            return left < right ? -1 : 1;
    }
    if (a.size() == b.size())
        return 0;
    return a.size() < b.size() ? -1 : 1;
}

bool matchesWildcard(std::u16string_view name, std::u16string_view pattern)
{
    if (matchesStarsAndQuestionMarks(name, pattern))
        return true;
    // A final ".*" may also match the end of a name without a further dot: "*.*" lists every
    // name and "readme.*" finds "readme".
    if (pattern.size() >= 2 && pattern.substr(pattern.size() - 2) == u".*")
        return matchesStarsAndQuestionMarks(name, pattern.substr(0, pattern.size() - 2));
    // Final dots ask for names without an extension: "*." lists "readme" but not "a.txt".
    if (!pattern.empty() && pattern.back() == u'.') {
        if (name.find(u'.') != std::u16string_view::npos)
            return false;
        const std::size_t end = pattern.find_last_not_of(u'.');
        return end != std::u16string_view::npos &&
               matchesStarsAndQuestionMarks(name, pattern.substr(0, end + 1));
    }
    return false;
}

} // namespace platform
