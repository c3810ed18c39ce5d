#pragma once

#include <concepts>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>
#include <string_view>
#include <variant>

namespace diskcleaner {

// Receives each finished diagnostic line of the engine.
using TraceSink = std::function<void(std::u16string_view line)>;

// Installs the sink for the engine's diagnostic lines and returns the one it replaces. An empty
// sink discards every line, which is the default: the program keeps no log. Install a sink only
// while no engine work runs.
TraceSink SetTraceSink(TraceSink sink);

// True while a sink listens. Lines are formatted only then.
bool TraceEnabled();

// One value for a trace line: a narrow (UTF-8) text, a wide text or an integer. It only refers to
// texts, so it must not outlive the call it is built for.
class TraceArgument final
{
public:
    TraceArgument(const char *text)
        : m_value(std::string_view(text ? text : ""))
    {}
    TraceArgument(std::string_view text)
        : m_value(text)
    {}
    TraceArgument(const char16_t *text)
        : m_value(std::u16string_view(text ? text : u""))
    {}
    TraceArgument(std::u16string_view text)
        : m_value(text)
    {}
    TraceArgument(const std::u16string &text)
        : m_value(std::u16string_view(text))
    {}
    template<std::signed_integral Integer>
    TraceArgument(Integer number)
        : m_value(static_cast<std::int64_t>(number))
    {}
    template<std::unsigned_integral Integer>
    requires(!std::same_as<Integer, bool>) TraceArgument(Integer number)
        : m_value(static_cast<std::uint64_t>(number))
    {}

    using Value = std::variant<std::string_view, std::u16string_view, std::int64_t, std::uint64_t>;
    const Value &value() const { return m_value; }

private:
    Value m_value;
};

// Formats a line in the engine's printf style: "%hs" takes a narrow text, "%s" a wide one, "%d"
// and "%u" a number, "%x" a number in lower-case hexadecimal, "%%" a percent sign. Numbers are
// cut to 32 bits unless the conversion says "I64" or "ll". A conversion without an argument is
// kept as written, and an argument of the wrong kind is written as what it is, so a bad format
// never breaks the line.
std::u16string FormatTrace(std::u16string_view format,
                           std::initializer_list<TraceArgument> arguments);

// Formats a line and hands it to the sink, if one listens.
void WriteTrace(std::u16string_view format, std::initializer_list<TraceArgument> arguments);

// Writes one trace line. Nothing is formatted, and the arguments are not even converted, while
// no sink listens.
template<typename... Arguments>
void Trace(std::u16string_view format, const Arguments &...arguments)
{
    if (TraceEnabled())
        WriteTrace(format, {TraceArgument(arguments)...});
}

} // namespace diskcleaner
