#include <platform/Registry.h>

namespace platform {

RegistryStatus RegistryKey::setString(std::u16string_view name, std::u16string_view text)
{
    return setValue(name, registryString(text));
}

RegistryValue registryString(std::u16string_view text, std::uint32_t type)
{
    RegistryValue value;
    value.type = type;
    value.data.reserve(text.size() * 2 + 2);
    for (const char16_t unit : text) {
        value.data.push_back(static_cast<std::uint8_t>(unit & 0xff));
        value.data.push_back(static_cast<std::uint8_t>(unit >> 8));
    }
    value.data.push_back(0);
    value.data.push_back(0);
    return value;
}

std::u16string registryText(const RegistryValue &value)
{
    if (value.type != RegSz && value.type != RegExpandSz && value.type != RegMultiSz)
        return {};
    std::u16string text;
    for (std::size_t i = 0; i + 1 < value.data.size(); i += 2) {
        const auto unit = static_cast<char16_t>(value.data[i] | (value.data[i + 1] << 8));
        if (unit == u'\0')
            break;
        text.push_back(unit);
    }
    return text;
}

} // namespace platform
