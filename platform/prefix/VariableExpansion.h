#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

// Looks a variable up by name; empty when it is not set.
using VariableLookup = std::function<std::optional<std::u16string>(std::u16string_view name)>;

// Replaces every %NAME% whose lookup succeeds by its value, with the rules of
// ExpandEnvironmentStringsW: an unknown reference stays as written and reading goes on after its
// closing "%"; "%%" and a "%" without a partner stay as they are.
std::u16string expandVariables(std::u16string_view text, const VariableLookup &lookup);

} // namespace platform
