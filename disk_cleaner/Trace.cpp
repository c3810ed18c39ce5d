#include <disk_cleaner/Trace.h>

#include <platform/Text.h>

#include <atomic>
#include <utility>

namespace diskcleaner {

namespace {

TraceSink &installedSink()
{
    static TraceSink sink;
    return sink;
}

// Mirrors whether a sink is installed, so the test before every line is one load.
std::atomic<bool> sinkListens{false};

std::u16string digits(std::uint64_t value, unsigned base)
{
    std::u16string text;
    do {
        const unsigned digit = static_cast<unsigned>(value % base);
        text.insert(text.begin(),
                    static_cast<char16_t>(digit < 10 ? u'0' + digit : u'a' + (digit - 10)));
        value /= base;
    } while (value != 0);
    return text;
}

// Writes a number the way printf would for the conversion letter and the argument width.
std::u16string formatNumber(std::uint64_t bits, char16_t conversion, bool wide)
{
    if (!wide)
        bits &= 0xffffffffULL;
    if (conversion == u'x')
        return digits(bits, 16);
    if (conversion == u'u')
        return digits(bits, 10);
    const bool negative = wide ? static_cast<std::int64_t>(bits) < 0 : (bits & 0x80000000ULL);
    if (!negative)
        return digits(bits, 10);
    const std::uint64_t magnitude = wide ? ~bits + 1 : (~bits + 1) & 0xffffffffULL;
    std::u16string text = digits(magnitude, 10);
    text.insert(text.begin(), u'-');
    return text;
}

std::u16string formatArgument(const TraceArgument &argument, char16_t conversion, bool wide)
{
    const TraceArgument::Value &value = argument.value();
    if (const auto *narrow = std::get_if<std::string_view>(&value))
        return platform::fromUtf8(*narrow);
    if (const auto *text = std::get_if<std::u16string_view>(&value))
        return std::u16string(*text);
    std::uint64_t bits = 0;
    if (const auto *number = std::get_if<std::int64_t>(&value))
        bits = static_cast<std::uint64_t>(*number);
    else
        bits = std::get<std::uint64_t>(value);
    if (conversion == u's')
        // A number given for a text: write it in full rather than lose it.
        return std::holds_alternative<std::int64_t>(value) ? formatNumber(bits, u'd', true)
                                                           : digits(bits, 10);
    return formatNumber(bits, conversion, wide);
}

} // namespace

TraceSink SetTraceSink(TraceSink sink)
{
    TraceSink previous = std::exchange(installedSink(), std::move(sink));
    sinkListens.store(static_cast<bool>(installedSink()), std::memory_order_relaxed);
    return previous;
}

bool TraceEnabled()
{
    return sinkListens.load(std::memory_order_relaxed);
}

std::u16string FormatTrace(std::u16string_view format,
                           std::initializer_list<TraceArgument> arguments)
{
    std::u16string line;
    line.reserve(format.size() + 64);
    auto nextArgument = arguments.begin();
    std::size_t position = 0;
    while (position < format.size()) {
        const char16_t unit = format[position];
        if (unit != u'%') {
            line += unit;
            ++position;
            continue;
        }
        if (position + 1 < format.size() && format[position + 1] == u'%') {
            line += u'%';
            position += 2;
            continue;
        }
        // A conversion: optional size ("h", "l", "ll", "I64"), then the letter.
        std::size_t cursor = position + 1;
        bool wide = false;
        if (format.substr(cursor, 3) == u"I64") {
            wide = true;
            cursor += 3;
        } else if (format.substr(cursor, 2) == u"ll") {
            wide = true;
            cursor += 2;
        } else if (cursor < format.size() && (format[cursor] == u'h' || format[cursor] == u'l')) {
            ++cursor;
        }
        const char16_t conversion = cursor < format.size() ? format[cursor] : u'\0';
        const bool known = conversion == u's' || conversion == u'd' || conversion == u'i' ||
                           conversion == u'u' || conversion == u'x';
        if (!known || nextArgument == arguments.end()) {
            line += u'%';
            ++position;
            continue;
        }
        line += formatArgument(*nextArgument++, conversion == u'i' ? u'd' : conversion, wide);
        position = cursor + 1;
    }
    return line;
}

void WriteTrace(std::u16string_view format, std::initializer_list<TraceArgument> arguments)
{
    const TraceSink &sink = installedSink();
    if (sink)
        sink(FormatTrace(format, arguments));
}

} // namespace diskcleaner
