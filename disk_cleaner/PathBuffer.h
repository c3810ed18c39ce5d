#pragma once

#include <array>
#include <cstddef>
#include <initializer_list>
#include <string_view>

namespace diskcleaner {

// The path being worked on, in a fixed buffer of 260 UTF-16 units as the Windows file functions
// take it: at most 259 characters and the terminating zero. Every write states where it starts
// and first checks that the whole result fits; a text that would not fit is refused and the
// buffer keeps what it held, so the caller skips that path and nothing is ever written past the
// end.
class PathBuffer final
{
public:
    static constexpr std::size_t capacity = 260;
    static constexpr std::size_t maxLength = capacity - 1;

    // Replaces everything from position `at` on with the parts, one after the other. False, and
    // nothing changed, when `at` lies beyond the current text or the result would not fit.
    bool assign(std::size_t at, std::initializer_list<std::u16string_view> parts)
    {
        if (at > m_length)
            return false;
        std::size_t length = at;
        for (std::u16string_view part : parts) {
            if (part.size() > maxLength - length)
                return false;
            length += part.size();
        }
        std::size_t cursor = at;
        for (std::u16string_view part : parts) {
            part.copy(m_units.data() + cursor, part.size());
            cursor += part.size();
        }
        m_units[length] = u'\0';
        m_length = length;
        return true;
    }

    std::u16string_view text() const { return {m_units.data(), m_length}; }
    std::size_t length() const { return m_length; }

private:
    std::array<char16_t, capacity> m_units{};
    std::size_t m_length = 0;
};

} // namespace diskcleaner
