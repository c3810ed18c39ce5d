#include "VariableExpansion.h"

namespace platform {

std::u16string expandVariables(std::u16string_view text, const VariableLookup &lookup)
{
    std::u16string expanded;
    expanded.reserve(text.size());
    std::size_t position = 0;
    while (position < text.size()) {
        const std::size_t opening = text.find(u'%', position);
        if (opening == std::u16string_view::npos) {
            expanded.append(text.substr(position));
            break;
        }
        expanded.append(text.substr(position, opening - position));
        const std::size_t closing = text.find(u'%', opening + 1);
        if (closing == std::u16string_view::npos) {
            expanded.append(text.substr(opening));
            break;
        }
        const std::u16string_view name = text.substr(opening + 1, closing - opening - 1);
        std::optional<std::u16string> value;
        if (!name.empty())
            value = lookup(name);
        if (value)
            expanded.append(*value);
        else
            expanded.append(text.substr(opening, closing - opening + 1));
        position = closing + 1;
    }
    return expanded;
}

} // namespace platform
